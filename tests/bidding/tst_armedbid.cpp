#include "bidfixture.h"
#include "clock.h"
#include "siteclock.h"

#include <QSignalSpy>
#include <QSqlQuery>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct Bids : BidFixture
{
    ArmedBids bids{ctx};
    using BidFixture::BidFixture;
    ArmedBid *open(int id) { return bids.acquire(id); }
};

void noBidRequestAfter(Bids &f, const QDateTime &end, const QString &itemId = u"x1"_s)
{
    for (const sim::RequestRecord &r : f.site.requests()) {
        if (r.item == itemId && r.path != "/jp/auction/"_L1 + itemId)
            QVERIFY2(r.atMs < end.toMSecsSinceEpoch(),
                     qPrintable(r.path + QLatin1Char('?') + r.query));
    }
}

} // namespace

struct AgainRow
{
    int reserve, rivalMax, pageFault;
    bool login;
};

struct RefreshRecordsRow
{
    int storedStatus, price;
    QString bidder;
    bool ended, written;
    int status;
    bool wonLine;
};

struct DamagedRowIsLeftAloneRow
{
    QString column, value, report, caption;
};

// One item's bid, its decisions and its readings of the item's page, against the simulated
// site, with no window at all.
class tst_ArmedBid : public QObject
{
    Q_OBJECT
private slots:
    void armsAndBidsAtTheBidTime()
    {
        const QDateTime end = wholeSecond(8000);
        Bids f(scenarioWith(item(end)));
        ArmedBid *b = f.open(f.store(item(end), 5000, 1));
        QVERIFY(b->armed());
        QCOMPARE(b->nextAmountText(), u"5000"_s);
        QCOMPARE(b->bidTime(), end.addSecs(-5));
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 10000);
        const qint64 late = f.confirmations().first().atMs - b->bidTime().toMSecsSinceEpoch();
        QVERIFY2(late >= -1000 && late <= 100, qPrintable(QString::number(late)));
        QTRY_VERIFY(b->leading());
        for (const QString &line :
             {u"入札準備その２"_s, u"入札開始：x1：5000"_s, u"入札結果：x1：5000：成功 "_s})
            QVERIFY2(f.logLines().contains(line), qPrintable(f.logText()));
    }

    void refreshRecords_data()
    {
        QTest::addColumn<RefreshRecordsRow>("row");
        using R = RefreshRecordsRow;
        QTest::newRow("same page: nothing written")
            << R{0, 3000, u"rival"_s, false, false, 0, false};
        QTest::newRow("price moved: recorded") << R{0, 3500, u"rival"_s, false, true, 0, false};
        QTest::newRow("won: status 落札") << R{0, 3500, u"snipe_taro"_s, true, true, 1, true};
        QTest::newRow("won, status 連絡 kept") << R{2, 3500, u"snipe_taro"_s, true, true, 2, false};
        QTest::newRow("lost: back to 様子見") << R{3, 3500, u"rival"_s, true, true, 0, false};
    }

    void refreshRecords()
    {
        QFETCH(RefreshRecordsRow, row);
        const auto &[storedStatus, price, bidder, ended, written, status, wonLine] = row;
        const QDateTime end = wholeSecond(3600 * 1000);
        Bids f(scenarioWith(item(end)));
        const int id = f.store(item(end), 5000, 1, storedStatus);
        ArmedBid *b = f.open(id);
        QSignalSpy changed(b, &ArmedBid::itemsChanged);
        QSignalSpy result(b, &ArmedBid::result);
        sim::Item &onSite = *f.site.scenario().item(u"x1"_s);
        onSite.price = price;
        onSite.highBidder = bidder;
        if (ended)
            onSite.end = QDateTime::currentDateTime().addSecs(-5);
        b->refresh(true);
        QTRY_COMPARE(b->busy(), int(ArmedBid::Idle));
        const ItemRecord r = *f.db.itemById(id);
        QCOMPARE(changed.size(), written ? 1 : 0);
        QCOMPARE(r.ItemYenNow, written ? price : 3000);
        QVERIFY(r.ItemYen == 5000 && r.Numkai == 1); // the user's columns stay
        QCOMPARE(r.status, written ? status : storedStatus);
        QCOMPARE(r.fin, written && ended);
        QCOMPARE(b->finished(), written && ended);
        QCOMPARE(f.logLines().contains(u"入札結果：x1：3500：あなたが落札しました。"_s), wonLine);
        QCOMPARE(result.size(), wonLine ? 1 : 0);
        if (wonLine)
            QCOMPARE(result.first().first().toString(),
                     u"入札結果：x1\r\n3500円で落札しました。"_s);
    }

    void userRefreshWhileBusyIsTold()
    {
        const QDateTime end = wholeSecond(3600 * 1000);
        sim::Scenario s = scenarioWith(item(end));
        s.faults << sim::Fault{.ms = 800};
        Bids f(s);
        ArmedBid *b = f.open(f.store(item(end), 5000, 1));
        b->refresh(true);
        QCOMPARE(b->busy(), int(ArmedBid::Refreshing));
        b->refresh(false); // from the timer: skipped without a box
        QVERIFY(f.prompter.messages.isEmpty());
        b->refresh(true); // from the user: told so
        QCOMPARE(f.prompter.messages, QStringList{u"処理中です"_s});
        QTRY_COMPARE(b->busy(), int(ArmedBid::Idle));
    }

    void slowSiteStillBidsOnTime_data()
    {
        QTest::addColumn<int>("oneWayMs");         // every request, both ways
        QTest::addColumn<int>("itemPageMs");       // item pages answer this much later still
        QTest::addColumn<bool>("refreshOnItsWay"); // the user asks for the price just before
        QTest::newRow("a second each way") << 1000 << 0 << false;
        QTest::newRow("slow item page on its way at the bid") << 0 << 4000 << true;
    }

    void slowSiteStillBidsOnTime()
    {
        QFETCH(int, oneWayMs);
        QFETCH(int, itemPageMs);
        QFETCH(bool, refreshOnItsWay);
        siteClock().reset();
        const QDateTime end = wholeSecond(oneWayMs > 0 ? 26000 : 13000);
        sim::Scenario s = scenarioWith(item(end));
        if (oneWayMs > 0)
            s.faults << sim::Fault{.ms = oneWayMs, .inMs = oneWayMs};
        if (itemPageMs > 0)
            s.faults.prepend(sim::Fault{.path = u"/jp/auction/*"_s, .ms = itemPageMs});
        Bids f(s);
        ArmedBid *b = f.open(f.store(item(end), 5000, 1));
        const QDateTime bidTime = end.addSecs(-5);
        if (refreshOnItsWay) {
            // 現在の価格をゲット a moment before the bid starts: the page takes 4 s to come.
            const qint64 before = previewLeadMs(siteClock()) + 500;
            QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime().msecsTo(bidTime) < before, 15000);
            b->refresh(true);
            QCOMPARE(b->busy(), int(ArmedBid::Refreshing));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 30000);
        const qint64 late = f.confirmations().first().atMs - bidTime.toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100,
                 qPrintable(QString::number(late) + QLatin1Char('\n') + f.logText()));
        QCOMPARE(f.previews().size(), 1);
    }

    void bidsAgainOnlyForAReason_data()
    {
        // The reserve, the rival's maximum, a fault on the item page after the first bid (-1
        // none), and whether the program is told to log in.
        QTest::addColumn<AgainRow>("row");
        QTest::newRow("accepted, then the item page is a busy page")
            << AgainRow{0, 3000, sim::Fault::ErrorPage, false};
        QTest::newRow("accepted, then the item page is the login page")
            << AgainRow{0, 3000, sim::Fault::LoginPage, true};
        QTest::newRow("refused below the reserve") << AgainRow{8000, 3000, -1, false};
        QTest::newRow("too low at the maximum: a rival's maximum is higher")
            << AgainRow{0, 9000, -1, false};
    }

    void bidsAgainOnlyForAReason()
    {
        QFETCH(AgainRow, row);
        const auto &[reserve, rivalMax, pageFault, login] = row;
        const QDateTime end = wholeSecond(8000);
        sim::Item it = item(end);
        it.reserve = reserve;
        it.maxBids.insert(it.highBidder, rivalMax);
        Bids f(scenarioWith(it));
        QSignalSpy loginNeeded(&f.bids, &ArmedBids::loginNeeded);
        ArmedBid *b = f.open(f.store(it, 5000, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 10000);
        if (pageFault >= 0)
            f.site.addFault({.path = u"/jp/auction/*"_s, .kind = sim::Fault::Kind(pageFault)});
        waitPast(end);
        // One confirmation, one preview: the password went to the site once.
        QCOMPARE(f.amountsSent(), QStringList{u"5000"_s});
        QCOMPARE(f.previews().size(), 1);
        QVERIFY2(f.site.maxPerSecond(u"x1"_s) <= RequestPacer::kPerSecond,
                 qPrintable(QString::number(f.site.maxPerSecond(u"x1"_s))));
        noBidRequestAfter(f, end);
        QCOMPARE(loginNeeded.isEmpty(), !login);
        QVERIFY(!b->statusMessage().isEmpty());
    }

    void raisedMaximumBidsAgain()
    {
        const QDateTime end = wholeSecond(9000);
        sim::Item it = item(end);
        it.reserve = 8000;
        Bids f(scenarioWith(it));
        const int id = f.store(it, 5000, 1);
        ArmedBid *b = f.open(id);
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 10000);
        QTRY_COMPARE(b->busy(), int(ArmedBid::Idle));
        QVERIFY2(b->statusMessage().contains(u"最低落札価格"_s), qPrintable(b->statusMessage()));
        // The user raises the maximum above the reserve and saves: the next tick bids again.
        BidLimits l = b->limits();
        l.max = 9000;
        QString error;
        QVERIFY(b->saveLimits(l, &error));
        QTRY_COMPARE_WITH_TIMEOUT(f.amountsSent(), (QStringList{u"5000"_s, u"9000"_s}), 5000);
        QTRY_VERIFY(b->leading());
        QCOMPARE(f.db.itemById(id)->ItemYen, 9000);
    }

    void pageWithoutUnitRaisesByTheSiteIncrement()
    {
        const QDateTime end = wholeSecond(8000);
        sim::Item it = item(end);
        it.showUnit = false;  // no "単位：" on the page
        it.autoExtend = true; // bid one unit above the price...
        it.extensionSecs = 0;
        it.maxBids.insert(it.highBidder, 3450); // ...against a rival bidding by proxy up to 3,450
        Bids f(scenarioWith(it));
        f.values.mnlNyusatu = true;
        ArmedBid *b = f.open(f.store(it, 4000, 1));
        QCOMPARE(b->nextAmountText(), u"3100"_s); // 3,000 + the site's 100
        QTRY_VERIFY_WITH_TIMEOUT(b->leading(), 12000);
        QCOMPARE(f.amountsSent(),
                 (QStringList{u"3100"_s, u"3200"_s, u"3300"_s, u"3400"_s, u"3500"_s}));
        QVERIFY(f.site.maxPerSecond(u"x1"_s) <= RequestPacer::kPerSecond);
    }

    void countsOnlyWhatReachedTheSite_data()
    {
        QTest::addColumn<int>("fault"); // on the confirmation
        QTest::addColumn<bool>("before");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("confirmations"); // as the site saw them, at least
        QTest::addColumn<QString>("verdict");
        // The site took the bid and answered with its busy page: the page read at once says
        // we lead; nothing more goes out.
        QTest::newRow("busy page after the site took it")
            << int(sim::Fault::ErrorPage) << false << 1 << 1 << "落札しました：3,000円";
        // A front server refused it unseen once: it is sent again, in time, and wins.
        QTest::newRow("503 before the site saw it, once")
            << int(sim::Fault::Http503) << true << 1 << 2 << "落札しました：3,000円";
        // Refused unseen every time: the verdict says it never arrived, not "outbid".
        QTest::newRow("503 before the site saw it, every time")
            << int(sim::Fault::Http503) << true << -1 << 2
            << "入札が届きませんでした：入札に応答がなく、商品ページにも入札がありません";
    }

    void countsOnlyWhatReachedTheSite()
    {
        QFETCH(int, fault);
        QFETCH(bool, before);
        QFETCH(int, count);
        QFETCH(int, confirmations);
        QFETCH(QString, verdict);
        const QDateTime end = wholeSecond(9000);
        sim::Item it = item(end);
        it.bids = 0;
        it.highBidder.clear();
        it.maxBids.clear();
        Bids f(scenarioWith(it));
        f.site.addFault({.path = u"/jp/config/placebid"_s,
                         .kind = sim::Fault::Kind(fault),
                         .count = count,
                         .beforeProcessing = before});
        ArmedBid *b = f.open(f.store(it, 5000, 1));
        waitPast(end, 4000);
        QTRY_COMPARE_WITH_TIMEOUT(b->verdict(), verdict, 10000);
        // Sent again while there is time (never twice the same second), but never after the end.
        QVERIFY(f.confirmations().size() >= confirmations);
        if (count > 0)
            QCOMPARE(f.confirmations().size(), confirmations);
        for (const sim::RequestRecord &r : f.confirmations())
            QVERIFY(r.atMs < end.toMSecsSinceEpoch());
        QVERIFY(f.site.maxPerSecond(u"x1"_s) <= RequestPacer::kPerSecond);
    }

    void loginPageInsteadOfThePreview()
    {
        const QDateTime end = wholeSecond(8000);
        sim::Item other = item(end.addSecs(1), u"x2"_s);
        other.server = 4;
        Bids f(scenarioWith({item(end), other}));
        f.site.addFault({.host = u"page3.*"_s,
                         .path = u"/jp/show/bid_preview"_s,
                         .kind = sim::Fault::LoginPage});
        QSignalSpy loginNeeded(&f.bids, &ArmedBids::loginNeeded);
        f.open(f.store(item(end), 5000, 1));
        f.open(f.store(other, 5000, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!loginNeeded.isEmpty(), 10000);
        QVERIFY2(f.logText().contains(u"入札できませんでした：x1：5000：ログインが必要です"_s),
                 qPrintable(f.logText()));
        QVERIFY(!f.logText().contains(u"入札準備２：x1"_s));
        // The next item's bid is on time.
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations(u"x2"_s).isEmpty(), 10000);
        const qint64 late =
            f.confirmations(u"x2"_s).first().atMs - other.end.addSecs(-5).toMSecsSinceEpoch();
        QVERIFY2(late >= -1000 && late <= 100, qPrintable(QString::number(late)));
        waitPast(end, 0);
        QCOMPARE(f.previews().size(), 1); // asked once, not again and again with the password
        QVERIFY(f.confirmations().isEmpty());
    }

    void oneWinPerCategoryAtTheBid_data()
    {
        QTest::addColumn<int>("apartSecs"); // between the two ends of category 1
        QTest::addColumn<bool>("showSeconds");
        QTest::addColumn<QString>("why");     // why the second is not bid on
        QTest::addColumn<bool>("toldAtOnce"); // said before the first auction ends
        // The first's result comes in time: the second waits for it and stops once it is won.
        QTest::newRow("20 s apart: waits for the result")
            << 20 << true << "同じカテゴリの「テスト商品 x1」を落札したので入札しません" << false;
        // The first's result cannot be known before the second's bid: only the first bids,
        // and the second says so from the start.
        QTest::newRow("3 s apart: only the first bids")
            << 3 << true
            << "同じカテゴリの「テスト商品 "
               "x1」と終了時刻が近いので入札しません（先に終わる方だけ入札"
               "します）"
            << true;
        QTest::newRow("the same second: the first by its id")
            << 0 << true
            << "同じカテゴリの「テスト商品 "
               "x1」と終了時刻が近いので入札しません（先に終わる方だけ入札"
               "します）"
            << true;
    }

    void oneWinPerCategoryAtTheBid()
    {
        QFETCH(int, apartSecs);
        QFETCH(bool, showSeconds);
        QFETCH(QString, why);
        QFETCH(bool, toldAtOnce);
        // An item of category 2 ending with the second is bid on all the same.
        const QDateTime end = wholeSecond(9000);
        const sim::Item first = item(end, u"x1"_s);
        const sim::Item second = item(end.addSecs(apartSecs), u"x2"_s);
        const sim::Item elsewhere = item(end.addSecs(apartSecs), u"x3"_s);
        sim::Scenario s = scenarioWith({first, second, elsewhere});
        s.showSeconds = showSeconds;
        Bids f(s);
        f.values.catOn = true;
        f.open(f.store(first, 5000, 1, 0, u"1"_s));
        ArmedBid *b2 = f.open(f.store(second, 5000, 1, 0, u"1"_s));
        f.open(f.store(elsewhere, 5000, 1, 0, u"2"_s));
        if (toldAtOnce) {
            QCOMPARE(b2->statusMessage(), why);
            QCOMPARE(b2->lastResult(), why);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations(u"x3"_s).isEmpty(), 30000);
        QCOMPARE(f.confirmations(u"x1"_s).size(), 1);
        QVERIFY(f.confirmations(u"x2"_s).isEmpty());
        QVERIFY2(f.logText().contains(why), qPrintable(f.logText()));
        QCOMPARE(b2->statusMessage(), why);
    }

    void followsAnAutomaticExtension()
    {
        const QDateTime end = wholeSecond(9000);
        sim::Item it = item(end);
        it.autoExtend = true;
        it.extensionSecs = 12;
        // Our bid five seconds before the end moves it 12 s on; then a rival bids up to 3,450.
        it.rivals << sim::RivalBid{u"rival2"_s, 3450, -1, 2};
        sim::Scenario s = scenarioWith(it);
        s.bidders << sim::Bidder{u"rival2"_s, u"r2"_s, {}};
        Bids f(s);
        f.values.mnlNyusatu = true;
        ArmedBid *b = f.open(f.store(it, 6000, 1));
        QTRY_VERIFY_WITH_TIMEOUT(f.confirmations().size() == 1 && b->leading(), 12000);
        // After the first end the window reads the new end, and bids at the new bid time.
        QTRY_VERIFY_WITH_TIMEOUT(b->endTime() > end, 8000);
        const QDateTime newEnd = f.site.scenario().item(u"x1"_s)->end;
        QCOMPARE(b->endTime(), newEnd);
        QCOMPARE(b->bidTime(), newEnd.addSecs(-5));
        QTRY_VERIFY2_WITH_TIMEOUT(f.confirmations().size() >= 2, qPrintable(f.logText()), 20000);
        const qint64 late = f.confirmations().at(1).atMs - newEnd.addSecs(-5).toMSecsSinceEpoch();
        QVERIFY2(late >= -1000 && late <= 100, qPrintable(QString::number(late) + f.logText()));
        QTRY_VERIFY_WITH_TIMEOUT(b->leading(), 5000);
        QCOMPARE(f.amountsSent().first(), u"3100"_s);
    }

    void damagedRowIsLeftAlone_data()
    {
        QTest::addColumn<DamagedRowIsLeftAloneRow>("row");
        using R = DamagedRowIsLeftAloneRow;
        QTest::newRow("an end that is no time")
            << R{u"enddate"_s, u"12月がくる"_s, u"終了日時が読めないので自動入札しません"_s,
                 u"入札（終了日時不明）"_s};
        QTest::newRow("a server number with a path in it") << R{
            u"Serverid"_s, u"3/../../x?"_s,
            u"商品IDかサーバー番号が正しくないので自動入札しません"_s, u"入札（商品IDが不正）"_s};
        QTest::newRow("an id with more query in it") << R{
            u"itemid"_s, u"a&Bid=1&passwd=zz"_s,
            u"商品IDかサーバー番号が正しくないので自動入札しません"_s, u"入札（商品IDが不正）"_s};
    }

    void damagedRowIsLeftAlone()
    {
        QFETCH(DamagedRowIsLeftAloneRow, row);
        const auto &[column, value, report, caption] = row;
        const QDateTime end = wholeSecond(8000);
        Bids f(scenarioWith(item(end)));
        const int id = f.store(item(end), 5000, 1);
        QSqlQuery q(f.db.connection());
        q.prepare(u"UPDATE tblYo SET "_s + column + u" = ? WHERE id = ?"_s);
        q.addBindValue(value);
        q.addBindValue(id);
        QVERIFY(q.exec());
        ArmedBid *b = f.open(id);
        QVERIFY(!b->armed());
        b->refresh(true);
        QTest::qWait(3000);
        QVERIFY(f.site.requests().isEmpty()); // nothing asked, every second or otherwise
        const QString name = u"（テスト商品 x1）"_s;
        QCOMPARE(f.logLines().count(report + u"："_s + b->item().itemid + name), 1);
        QCOMPARE(b->caption(), caption);
    }

    void programEndAbandonsAWaitingBid()
    {
        const QDateTime end = wholeSecond(10000);
        auto f = std::make_unique<Bids>(scenarioWith(item(end)));
        ArmedBid *b = f->open(f->store(item(end), 5000, 1));
        QTRY_VERIFY_WITH_TIMEOUT(b->busy() == ArmedBid::Bidding, 10000);
        QTRY_COMPARE(f->previews().size(), 1);
        delete b; // the program ends (or its window closes) while the bid waits for its moment
        // Ended at once, not at the bid time.
        QTRY_VERIFY_WITH_TIMEOUT(f->logText().contains(u"入札中止：x1"_s), 1000);
        QVERIFY(f->confirmations().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_ArmedBid)
#include "tst_armedbid.moc"
