#include "bidfixture.h"
#include "bidhost.h"
#include "clock.h"
#include "siteclock.h"

#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct Host : BidFixture
{
    BidHost host{ctx};
    using BidFixture::BidFixture;
};

} // namespace

struct MissedRow
{
    QString winner;
    bool earlierBid;
    QString verdict;
};

struct EditsReachTheBidOnItsWayRow
{
    QString edit, sent, log;
};

// The one owner of the armed bids, driven as the windows and the service drive it: the
// user's edits reach a bid on its way, a start after a night away tells what happened, and
// neither a wrong machine clock nor a cache in front of the site loses a bid.
class tst_BidHost : public QObject
{
    Q_OBJECT
private slots:
    void init() { siteClock().reset(); }

    void cleanup() { siteClock().setSources({}, {}); }

    void editsReachTheBidOnItsWay_data()
    {
        QTest::addColumn<EditsReachTheBidOnItsWayRow>("row");
        using R = EditsReachTheBidOnItsWayRow;
        QTest::newRow("deleted in the list")
            << R{u"delete"_s, QString(),
                 u"入札中止：x1 テスト商品 x1：商品ﾘｽﾄから削除されたので入札しません"_s};
        QTest::newRow("quantity 0 saved")
            << R{u"quantity0"_s, QString(), u"入札中止：x1：5000：入札数量が０に変更されました"_s};
        QTest::newRow("a lower maximum saved")
            << R{u"max4000"_s, u"4000"_s, u"入札開始：x1：4000"_s};
        QTest::newRow("a category already won, set from the list")
            << R{u"category"_s, QString(),
                 u"入札中止：x1：5000：同じカテゴリの「w1」を落札したので入札しません"_s};
        // Said abandoned, so abandoned: nothing goes out while the program winds down.
        QTest::newRow("the program ends (the service stopped)") << R{
            u"end"_s, QString(), u"入札中止（入札サービスを終了しました）：x1（テスト商品 x1）"_s};
    }

    void editsReachTheBidOnItsWay()
    {
        QFETCH(EditsReachTheBidOnItsWayRow, row);
        const auto &[edit, sent, log] = row;
        const QDateTime end = wholeSecond(10000);
        Host f(scenarioWith(item(end)));
        f.values.catOn = true;
        const int id = f.store(item(end), 5000, 1);
        // An item of category 3 the user won yesterday.
        f.addItem(u"w1"_s, QDateTime::currentDateTime().addDays(-1), 0, 0, u"3"_s, f.values.ownId);

        f.host.tick(); // the scheduler takes the item up
        QVERIFY(f.host.bids().find(id));
        QTRY_VERIFY_WITH_TIMEOUT(!f.previews().isEmpty(), 10000);
        QVERIFY(f.confirmations().isEmpty());
        // The user acts in the list or the bid window while the preview is in hand.
        QString error;
        BidLimits l = f.host.bids().find(id)->limits();
        if (edit == "delete"_L1) {
            QVERIFY(f.host.deleteItem(id, &error));
            QVERIFY(!f.db.itemById(id));
        } else if (edit == "quantity0"_L1) {
            l.quantity = 0;
            QVERIFY(f.host.saveLimits(id, l, &error));
        } else if (edit == "max4000"_L1) {
            l.max = 4000;
            QVERIFY(f.host.saveLimits(id, l, &error));
        } else if (edit == "end"_L1) {
            f.host.abandonPending(u"入札サービスを終了しました"_s);
        } else {
            QVERIFY(f.host.setCategory(id, u"3"_s, &error));
        }
        waitPast(end, 0);
        QCOMPARE(f.amountsSent(), sent.isEmpty() ? QStringList() : QStringList{sent});
        QVERIFY2(f.logLines().contains(log), qPrintable(f.logText()));
    }

    void bidsMissedWhileAwayAreToldAtStart_data()
    {
        // Who won, whether the log of the run before has its bid, and the verdict.
        QTest::addColumn<MissedRow>("row");
        QTest::newRow("not running, nothing sent") << MissedRow{
            u"rival"_s, false, u"入札しませんでした：プログラムが動いていませんでした"_s};
        QTest::newRow("the bid of the run before won")
            << MissedRow{u"snipe_taro"_s, true, u"落札しました：3,000円"_s};
        QTest::newRow("the bid of the run before lost")
            << MissedRow{u"rival"_s, true,
                         u"落札できませんでした：より高い入札がありました（最終価格3,000円）"_s};
    }

    void bidsMissedWhileAwayAreToldAtStart()
    {
        QFETCH(MissedRow, row);
        const auto &[winner, earlierBid, verdict] = row;
        // Armed, then the program was not running (the laptop slept) through the end.
        const QDateTime end = wholeSecond(-60000);
        sim::Item it = item(end);
        it.highBidder = winner;
        it.maxBids.clear();
        it.maxBids.insert(winner, 3000);
        Host f(scenarioWith(it));
        const int id = f.store(item(end), 5000, 1);
        if (earlierBid)
            f.log.LOGTodb(u"入札開始：x1：5000"_s);
        QSignalSpy notices(&f.host, &BidHost::notice);
        f.host.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            f.host.bids().find(id) && !f.host.bids().find(id)->verdict().isEmpty(), 15000);
        const ArmedBid *b = f.host.bids().find(id);
        QCOMPARE(b->verdict(), verdict);
        QVERIFY2(f.logLines().contains(u"最終結果：x1：テスト商品 x1："_s + verdict),
                 qPrintable(f.logText()));
        QVERIFY(!notices.isEmpty());
        QVERIFY(f.db.itemById(id)->fin);
        QCOMPARE(b->state(),
                 winner == f.values.ownId ? ArmedBid::State::Won : ArmedBid::State::Lost);
        QVERIFY(f.confirmations().isEmpty() && f.previews().isEmpty());
    }

    void wrongMachineClockNeverSkipsABid()
    {
        // This machine's clock runs a minute fast: by it, the auction ended 40 s ago. The
        // program starts 20 s before the real end and asks the site first.
        const QDateTime end = wholeSecond(20000);
        Host f(scenarioWith(item(end)));
        siteClock().setSources([] { return QDateTime::currentMSecsSinceEpoch() + 60000; }, {});
        const int id = f.store(item(end), 5000, 1);
        f.host.start();
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 25000);
        const qint64 late = f.confirmations().first().atMs - end.addSecs(-5).toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late) + f.logText()));
        QTRY_VERIFY(f.host.bids().find(id)->leading());
    }

    void aCacheInFrontOfTheSiteDoesNotMoveTheBid()
    {
        // A caching proxy answers the host's top page (what the clock asks for) and now and
        // then an item page with a copy two minutes old.
        const QDateTime end = wholeSecond(14000);
        sim::Scenario s = scenarioWith(item(end));
        s.faults << sim::Fault{.path = u"/"_s, .kind = sim::Fault::Stale, .ms = 120000}
                 << sim::Fault{.path = u"/jp/auction/*"_s,
                               .kind = sim::Fault::Stale,
                               .ms = 120000,
                               .count = 2};
        Host f(s);
        const int id = f.store(item(end), 5000, 1);
        f.host.start();
        f.host.tick();
        QVERIFY(f.host.bids().find(id));
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 20000);
        const qint64 late = f.confirmations().first().atMs - end.addSecs(-5).toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late) + f.logText()));
        QVERIFY(std::abs(siteClock().offsetMs().value_or(0)) < 1000);
    }

    void aChangedProxyReachesArmedBids()
    {
        // Armed while the Proxy setting names a proxy that is gone; the user puts the right one
        // in 設定 and the bid, already armed, goes out through it on time.
        const QDateTime end = wholeSecond(25000);
        Host f(scenarioWith(item(end)));
        f.settings.save(u"Settings"_s, u"Proxy"_s, u"HTTP=127.0.0.1:9"_s);
        const int id = f.store(item(end), 5000, 1);
        f.host.start();
        f.host.tick();
        QVERIFY(f.host.bids().find(id)); // armed, its connection set up the dead proxy's way
        reachSimulatedSite(f.settings, f.site.port());
        f.host.applyConnectionSettings();
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 30000);
        const qint64 late = f.confirmations().first().atMs - end.addSecs(-5).toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late) + f.logText()));
    }
};

QTEST_GUILESS_MAIN(tst_BidHost)
#include "tst_bidhost.moc"
