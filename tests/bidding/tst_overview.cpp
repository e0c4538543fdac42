#include "bidfixture.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "frmmain.h"
#include "frmoverview.h"
#include "frmsw.h"
#include "itemlistmodel.h"
#include "pagefetcher.h"
#include "screenshot.h"
#include "siteclock.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpServer>
#include <QTest>

using namespace sw;

// What the user sees of the bids to come and of their ends: the overview's rows, the final
// verdicts and the notices, after real auctions on the simulated site.
class tst_Overview : public QObject
{
    Q_OBJECT
private slots:
    void timeLeft_data();
    void timeLeft();
    void windowPlaces_data();
    void windowPlaces();
    void rowsAndVerdictsAfterTheEnd();
    void siteUnreachablePastTheEnd();
};

void tst_Overview::timeLeft_data()
{
    QTest::addColumn<qint64>("secs");
    QTest::addColumn<QString>("text");
    QTest::newRow("seconds") << qint64(7) << "残り 00:00:07";
    QTest::newRow("hours") << qint64(3 * 3600 + 62) << "残り 03:01:02";
    QTest::newRow("days") << qint64(86400 + 3600) << "残り 1日 01:00:00";
    QTest::newRow("at the end") << qint64(0) << "終了";
    QTest::newRow("past, never negative") << qint64(-30) << "終了";
}

void tst_Overview::timeLeft()
{
    QFETCH(qint64, secs);
    QFETCH(QString, text);
    const QDateTime now(QDate(2026, 12, 7), QTime(23, 59, 50), siteZone());
    QCOMPARE(timeLeftText(now, now.addSecs(secs)), text);
}

void tst_Overview::windowPlaces_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<int>("index");
    const QRect screen(0, 0, 1280, 1024);
    QTest::newRow("inside the frame") << QRect(100, 100, 1000, 700) << 0;
    QTest::newRow("cascaded") << QRect(100, 100, 1000, 700) << 5;
    QTest::newRow("frame half off the right edge") << QRect(900, 100, 1000, 700) << 1;
    QTest::newRow("frame off the screen") << QRect(3000, 2000, 800, 600) << 0;
    QTest::newRow("frame smaller than the window") << QRect(0, 0, 200, 150) << 30;
}

void tst_Overview::windowPlaces()
{
    QFETCH(QRect, frame);
    QFETCH(int, index);
    const QRect screen(0, 0, 1280, 1024);
    const QSize size(420, 380);
    const QRect at(windowPlace(frame, screen, size, index), size);
    QVERIFY2(screen.contains(at), qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
    if (frame.intersected(screen).width() >= size.width())
        QVERIFY(frame.intersects(at));
}

void tst_Overview::rowsAndVerdictsAfterTheEnd()
{
    // Three auctions ending together: one we win, one a rival outbids, one whose reserve our
    // maximum does not reach; and a fourth that is only watched.
    const QDateTime end = wholeSecond(9000);
    sim::Item win = item(end, QStringLiteral("x1"));
    sim::Item lose = item(end, QStringLiteral("x2"));
    lose.maxBids.insert(QStringLiteral("rival"), 20000);
    sim::Item reserve = item(end, QStringLiteral("x3"));
    reserve.reserve = 9000;
    sim::Item watched = item(end.addSecs(3600), QStringLiteral("x4"));
    sim::Item outright = item(end, QStringLiteral("x5")); // bought at its buy-it-now price
    outright.buyNow = 3100;
    BidFixture f(scenarioWith({win, lose, reserve, watched, outright}));
    BidHost host(f.ctx);
    BidWindows windows(f.ctx, host, nullptr, nullptr);
    ArmedBids &bids = windows.armedBids();
    QList<std::pair<NoticeKind, QString>> notices;
    connect(&bids, &ArmedBids::notice, &bids, [&notices](NoticeKind k, const QString &t) {
        notices << std::pair{k, t};
    });
    const int x1 = f.store(win, 5000, 1);
    const int x2 = f.store(lose, 5000, 1);
    const int x3 = f.store(reserve, 5000, 1);
    bids.acquire(x1);
    bids.acquire(x2);
    bids.acquire(x3);
    bids.acquire(f.store(watched, 0, 0));
    const int x5 = f.store(outright, 5000, 1);
    bids.acquire(x5);
    frmOverview view(bids);
    view.show();
    auto cell = [&view](int id, int column) {
        const int row = int(view.rowIds().indexOf(id));
        return row < 0 ? QStringLiteral("(no row)") : view.grid()->item(row, column)->text();
    };
    // Before the bids: the three armed items, by end, planned; the watched one is not there.
    QCOMPARE(view.rowIds().size(), 4);
    QCOMPARE(cell(x1, 6), QStringLiteral("予定"));
    QCOMPARE(cell(x1, 1), inSiteZone(end).toString(QStringLiteral("MM/dd HH:mm:ss")));
    QVERIFY2(cell(x1, 2).startsWith(QStringLiteral("残り 00:00:0")), qPrintable(cell(x1, 2)));
    QCOMPARE(cell(x1, 3), QStringLiteral("5,000円"));
    QCOMPARE(cell(x1, 5), QStringLiteral("他の人（rival）"));
    saveScreenshot(&view, "overview-before");

    // After the end and the reading that follows it.
    QTRY_VERIFY_WITH_TIMEOUT(bids.find(x1)->finished() && bids.find(x2)->finished() &&
                                 bids.find(x3)->finished() && bids.find(x5)->finished(),
                             25000);
    view.refresh();
    QCOMPARE(cell(x1, 6), QStringLiteral("落札"));
    QCOMPARE(cell(x1, 2), QStringLiteral("終了"));
    QCOMPARE(cell(x1, 5), QStringLiteral("あなた"));
    QVERIFY2(bids.find(x1)->verdict().startsWith(QStringLiteral("落札しました：")),
             qPrintable(bids.find(x1)->verdict()));
    QCOMPARE(cell(x2, 6), QStringLiteral("落札できませんでした"));
    QVERIFY2(bids.find(x2)->verdict().startsWith(
                 QStringLiteral("落札できませんでした：より高い入札がありました（最終価格")),
             qPrintable(bids.find(x2)->verdict()));
    QCOMPARE(cell(x3, 6), QStringLiteral("落札できませんでした"));
    QCOMPARE(bids.find(x3)->verdict(),
             QStringLiteral("落札できませんでした：最低落札価格に届きませんでした"));
    QCOMPARE(cell(x3, 7), bids.find(x3)->verdict());
    saveScreenshot(&view, "overview-after");
    // The item list's 状態 says the same of each.
    frmMain list(f.ctx, windows);
    int compared = 0;
    for (int r = 0; r < list.model()->rowCount(); ++r) {
        const ItemRecord &row = list.model()->row(r);
        if (row.id != x1 && row.id != x2 && row.id != x3)
            continue;
        QCOMPARE(list.model()->index(r, 9).data().toString(), cell(row.id, 6));
        ++compared;
    }
    QCOMPARE(compared, 3);

    // Each verdict is in the log once, with the item's name, and was told as a notice.
    const QStringList log = f.logLines();
    for (const char *name : {"x1", "x2", "x3"}) {
        const QString id = QString::fromLatin1(name);
        QCOMPARE(std::count_if(log.begin(), log.end(),
                               [&id](const QString &l) {
                                   return l.startsWith(QStringLiteral("最終結果：") + id) &&
                                          l.contains(QStringLiteral("テスト商品"));
                               }),
                 1);
    }
    auto told = [&notices](NoticeKind k, const QString &id) {
        return std::count_if(notices.begin(), notices.end(), [&](const auto &n) {
            return n.first == k && n.second.startsWith(id + QLatin1Char(' '));
        });
    };
    QCOMPARE(told(NoticeKind::BidPlaced, QStringLiteral("x1")), 1);
    QCOMPARE(told(NoticeKind::Won, QStringLiteral("x1")), 1);
    QCOMPARE(told(NoticeKind::Outbid, QStringLiteral("x2")), 1); // it arrived, and was beaten
    QCOMPARE(told(NoticeKind::Lost, QStringLiteral("x2")), 1);
    QCOMPARE(told(NoticeKind::Lost, QStringLiteral("x3")), 1);
    QCOMPARE(told(NoticeKind::Won, QStringLiteral("x5")), 1); // the answer said so; not again
    QCOMPARE(told(NoticeKind::BidPlaced, QStringLiteral("x5")), 0);

    // A double click opens the item's bid window.
    QSignalSpy open(&view, &frmOverview::openRequested);
    emit view.grid()->cellDoubleClicked(int(view.rowIds().indexOf(x2)), 0);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first().first().toInt(), x2);
}

void tst_Overview::siteUnreachablePastTheEnd()
{
    // The network goes away before the bid and is still away after the end.
    const QDateTime end = wholeSecond(8000);
    sim::Item it = item(end);
    BidFixture f(scenarioWith(it));
    BidHost host(f.ctx);
    BidWindows windows(f.ctx, host, nullptr, nullptr);
    ArmedBids &bids = windows.armedBids();
    QStringList failures;
    connect(&bids, &ArmedBids::notice, &bids, [&failures](NoticeKind k, const QString &t) {
        if (k == NoticeKind::Failed)
            failures << t;
    });
    const int x1 = f.store(it, 5000, 1);
    bids.acquire(x1);
    ArmedBid *b = bids.find(x1);
    QVERIFY(b && b->armed());
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString deadPort = QString::number(closed.serverPort());
    closed.close();
    QVERIFY(b->fetcher().applyProxySetting(QStringLiteral("HTTP=127.0.0.1:") + deadPort));
    frmOverview view(bids);
    view.show();
    auto *site = view.findChild<QLabel *>(QStringLiteral("lblSite"));
    // A reading (the window's own, or this one when the window is busy) finds no site.
    QTRY_VERIFY((b->refresh(false), b->siteUnreachable()));
    view.refresh();
    QCOMPARE(site->text(), QStringLiteral("ヤフオク!に接続できません。接続を確認してください｡"));
    QVERIFY(site->isVisible());
    QCOMPARE(view.grid()->item(0, 6)->text(), QStringLiteral("エラー"));

    // Past the end the user is told the result is not known, and why; never silence.
    QTRY_COMPARE_WITH_TIMEOUT(
        b->verdict(), QStringLiteral("結果不明：ヤフオク!に接続できません。入札はしていません"),
        40000);
    view.refresh();
    QCOMPARE(view.grid()->item(0, 7)->text(), b->verdict());
    QCOMPARE(failures.count(QStringLiteral("x1 テスト商品 x1\n") + b->verdict()), 1);
    QVERIFY(f.logText().contains(QStringLiteral("最終結果：x1")));

    // The network is back: the next reading gives the real verdict and the warning goes.
    QVERIFY(b->fetcher().applyProxySetting(QStringLiteral("HTTP=127.0.0.1:") +
                                           QString::number(f.site.port())));
    b->refresh(false);
    QTRY_VERIFY_WITH_TIMEOUT(b->finished(), 10000);
    QVERIFY2(b->verdict().startsWith(QStringLiteral("入札しませんでした：")),
             qPrintable(b->verdict()));
    view.refresh();
    QVERIFY(!site->isVisible());
    QCOMPARE(view.grid()->item(0, 6)->text(), QStringLiteral("落札できませんでした"));
}

QTEST_MAIN(tst_Overview)
#include "tst_overview.moc"
