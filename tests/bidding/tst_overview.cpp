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

#include <QHash>
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
    // Auctions ending together, one for each way a bid can end; and one only watched.
    const QDateTime end = wholeSecond(9000);
    struct Row
    {
        sim::Item it;
        qint64 max;
        QString state;   // 状態 after the end
        QString verdict; // how the verdict starts
        QList<NoticeKind> told;
        QList<NoticeKind> notTold;
    };
    QList<Row> rows;
    rows << Row{item(end, QStringLiteral("x1")),
                5000,
                QStringLiteral("落札"),
                QStringLiteral("落札しました："),
                {NoticeKind::BidPlaced, NoticeKind::Won},
                {}};
    sim::Item lose = item(end, QStringLiteral("x2")); // taken, then beaten at once
    lose.maxBids.insert(QStringLiteral("rival"), 20000);
    rows << Row{lose,
                5000,
                QStringLiteral("落札できませんでした"),
                QStringLiteral("落札できませんでした：より高い入札がありました（最終価格"),
                {NoticeKind::Outbid, NoticeKind::Lost},
                {}};
    sim::Item reserve = item(end, QStringLiteral("x3"));
    reserve.reserve = 9000;
    rows << Row{reserve,
                5000,
                QStringLiteral("落札できませんでした"),
                QStringLiteral("落札できませんでした：最低落札価格に届きませんでした"),
                {NoticeKind::Lost},
                {}};
    sim::Item outright = item(end, QStringLiteral("x5")); // bought at its buy-it-now price
    outright.buyNow = 3100;
    rows << Row{outright,
                5000,
                QStringLiteral("落札"),
                QStringLiteral("落札しました："),
                {NoticeKind::Won},
                {NoticeKind::BidPlaced}};
    // A rival's higher proxy bid lands just before ours: "too low" up to the maximum.
    sim::Item atMax = item(end, QStringLiteral("x6"));
    atMax.price = 4800;
    atMax.maxBids.insert(QStringLiteral("rival"), 4850);
    atMax.rivals << sim::RivalBid{QStringLiteral("rival2"), 20000, -1, 5.8};
    rows << Row{atMax,
                5000,
                QStringLiteral("落札できませんでした"),
                QStringLiteral("落札できませんでした：より高い入札がありました（最終価格"),
                {NoticeKind::Lost},
                {}};
    sim::Item over = item(end, QStringLiteral("x7")); // already beyond the maximum: never armed
    over.price = 6000;
    over.maxBids.insert(QStringLiteral("rival"), 6000);
    rows << Row{over,
                5000,
                QStringLiteral("落札できませんでした"),
                QStringLiteral("入札しませんでした：設定価格が低すぎます"),
                {NoticeKind::Lost},
                {}};
    sim::Item watched = item(end.addSecs(3600), QStringLiteral("x4"));
    QList<sim::Item> items{watched};
    for (const Row &r : rows)
        items << r.it;
    BidFixture f(scenarioWith(items));
    BidHost host(f.ctx);
    BidWindows windows(f.ctx, host, nullptr, nullptr);
    ArmedBids &bids = windows.armedBids();
    QList<std::pair<NoticeKind, QString>> notices;
    connect(&bids, &ArmedBids::notice, &bids, [&notices](NoticeKind k, const QString &t) {
        notices << std::pair{k, t};
    });
    QHash<QString, int> id;
    for (const Row &r : rows) {
        id[r.it.id] = f.store(r.it, r.max, 1);
        bids.acquire(id[r.it.id]);
    }
    id[watched.id] = f.store(watched, 0, 0);
    bids.acquire(id[watched.id]);
    frmOverview view(bids);
    view.show();
    auto cell = [&view](int id, int column) {
        const int row = int(view.rowIds().indexOf(id));
        return row < 0 ? QStringLiteral("(no row)") : view.grid()->item(row, column)->text();
    };
    // Before the bids: the armed items, by end, planned; the watched one is not there.
    const int x1 = id.value(QStringLiteral("x1"));
    QVERIFY(view.rowIds().contains(x1) && !view.rowIds().contains(id.value(QStringLiteral("x4"))));
    QCOMPARE(cell(x1, 6), QStringLiteral("予定"));
    QCOMPARE(cell(x1, 1), inSiteZone(end).toString(QStringLiteral("MM/dd HH:mm:ss")));
    QVERIFY2(cell(x1, 2).startsWith(QStringLiteral("残り 00:00:0")), qPrintable(cell(x1, 2)));
    QCOMPARE(cell(x1, 3), QStringLiteral("5,000円"));
    QCOMPARE(cell(x1, 5), QStringLiteral("他の人（rival）"));
    saveScreenshot(&view, "overview-before");

    // Every armed item has its verdict within seconds of the end, whatever its last answer.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(rows.begin(), rows.end(),
                    [&](const Row &r) { return !bids.find(id[r.it.id])->verdict().isEmpty(); }),
        25000);
    view.refresh();
    saveScreenshot(&view, "overview-after");
    frmMain list(f.ctx, windows);
    const QStringList log = f.logLines();
    auto told = [&notices](NoticeKind k, const QString &item) {
        return std::count_if(notices.begin(), notices.end(), [&](const auto &n) {
            return n.first == k && n.second.startsWith(item + QLatin1Char(' '));
        });
    };
    for (const Row &r : rows) {
        const int x = id[r.it.id];
        const QString verdict = bids.find(x)->verdict();
        const QString what = r.it.id + QStringLiteral("：") + verdict;
        QVERIFY2(verdict.startsWith(r.verdict), qPrintable(what));
        QVERIFY2(cell(x, 6) == r.state, qPrintable(what + QStringLiteral(" / ") + cell(x, 6)));
        QCOMPARE(cell(x, 2), QStringLiteral("終了"));
        QCOMPARE(cell(x, 7), verdict);
        // Once in the log, with the item's name; and told as a notice.
        QVERIFY2(std::count_if(log.begin(), log.end(),
                               [&](const QString &l) {
                                   return l == QStringLiteral("最終結果：") + r.it.id +
                                                   QStringLiteral("：") + r.it.title +
                                                   QStringLiteral("：") + verdict;
                               }) == 1,
                 qPrintable(what));
        for (const NoticeKind k : r.told)
            QVERIFY2(told(k, r.it.id) == 1, qPrintable(what + QString::number(int(k))));
        for (const NoticeKind k : r.notTold)
            QVERIFY2(told(k, r.it.id) == 0, qPrintable(what + QString::number(int(k))));
        // The item list's 状態 says the same, and the verdict is kept for a restart.
        for (int i = 0; i < list.model()->rowCount(); ++i) {
            if (list.model()->row(i).id == x)
                QVERIFY2(list.model()->index(i, 9).data().toString() == r.state,
                         qPrintable(what + QStringLiteral(" / ") +
                                    list.model()->index(i, 9).data().toString()));
        }
        QCOMPARE(f.db.itemById(x)->Verdict, verdict);
    }
    QCOMPARE(cell(x1, 5), QStringLiteral("あなた"));

    // A double click opens the item's bid window.
    const int x2 = id.value(QStringLiteral("x2"));
    QSignalSpy open(&view, &frmOverview::openRequested);
    emit view.grid()->cellDoubleClicked(int(view.rowIds().indexOf(x2)), 0);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first().first().toInt(), x2);
    // Cleared by the user: gone from the overview, from the store, and the bids let go.
    bids.dismissFinished();
    host.tick();
    QVERIFY(bids.all().size() <= 1); // the watched item's, at most
    QVERIFY(f.db.itemById(x2)->Verdict.isEmpty());
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
