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

using namespace Qt::StringLiterals;
using namespace sw;

// What the user sees of the bids to come and of their ends: the overview's rows, the final
// verdicts and the notices, after real auctions on the simulated site.
class tst_Overview : public QObject
{
    Q_OBJECT
private slots:
    void timeLeft()
    {
        const QDateTime now(QDate(2026, 12, 7), QTime(23, 59, 50), siteZone());
        const QList<std::pair<qint64, QString>> cases{{7, u"残り 00:00:07"_s},
                                                      {3 * 3600 + 62, u"残り 03:01:02"_s},
                                                      {86400 + 3600, u"残り 1日 01:00:00"_s},
                                                      {0, u"終了"_s},
                                                      {-30, u"終了"_s}}; // never negative
        for (const auto &[secs, text] : cases)
            QCOMPARE(timeLeftText(now, now.addSecs(secs)), text);
    }

    void windowPlaces_data()
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

    void windowPlaces()
    {
        QFETCH(QRect, frame);
        QFETCH(int, index);
        const QRect screen(0, 0, 1280, 1024);
        const QSize size(420, 380);
        const QRect at(windowPlace(frame, screen, size, index), size);
        QVERIFY2(screen.contains(at), qPrintable(u"%1,%2"_s.arg(at.x()).arg(at.y())));
        if (frame.intersected(screen).width() >= size.width())
            QVERIFY(frame.intersects(at));
    }

    void rowsAndVerdictsAfterTheEnd()
    {
        // Auctions ending together, one for each way a bid can end; and one only watched.
        const QDateTime end = wholeSecond(9000);
        struct Row
        {
            sim::Item it;
            QString state;   // 状態 after the end
            QString verdict; // how the verdict starts
            QList<NoticeKind> told, notTold;
        };
        using K = NoticeKind;
        const QString won = u"落札"_s, lost = u"落札できませんでした"_s;
        const QString outbid = lost + u"：より高い入札がありました（最終価格"_s;
        QList<Row> rows;
        rows << Row{item(end, u"x1"_s), won, u"落札しました："_s, {K::BidPlaced, K::Won}, {}};
        sim::Item lose = item(end, u"x2"_s); // taken, then beaten at once
        lose.maxBids.insert(u"rival"_s, 20000);
        rows << Row{lose, lost, outbid, {K::Outbid, K::Lost}, {}};
        sim::Item reserve = item(end, u"x3"_s);
        reserve.reserve = 9000;
        rows << Row{reserve, lost, lost + u"：最低落札価格に届きませんでした"_s, {K::Lost}, {}};
        sim::Item outright = item(end, u"x5"_s); // bought at its buy-it-now price
        outright.buyNow = 3100;
        rows << Row{outright, won, u"落札しました："_s, {K::Won}, {K::BidPlaced}};
        // A rival's higher proxy bid lands just before ours: "too low" up to the maximum.
        sim::Item atMax = item(end, u"x6"_s);
        atMax.price = 4800;
        atMax.maxBids.insert(u"rival"_s, 4850);
        atMax.rivals << sim::RivalBid{u"rival2"_s, 20000, -1, 5.8};
        rows << Row{atMax, lost, outbid, {K::Lost}, {}};
        sim::Item over = item(end, u"x7"_s); // already beyond the maximum: never armed
        over.price = 6000;
        over.maxBids.insert(u"rival"_s, 6000);
        rows << Row{over, lost, u"入札しませんでした：設定価格が低すぎます"_s, {K::Lost}, {}};
        sim::Item watched = item(end.addSecs(3600), u"x4"_s);
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
            id[r.it.id] = f.store(r.it, 5000, 1); // every maximum 5,000円
            bids.acquire(id[r.it.id]);
        }
        id[watched.id] = f.store(watched, 0, 0);
        bids.acquire(id[watched.id]);
        frmOverview view(bids);
        view.show();
        auto cell = [&view](int id, int column) {
            const int row = int(view.rowIds().indexOf(id));
            return row < 0 ? u"(no row)"_s : view.grid()->item(row, column)->text();
        };
        // Before the bids: the armed items, by end, planned; the watched one is not there.
        const int x1 = id.value(u"x1"_s);
        QVERIFY(view.rowIds().contains(x1) && !view.rowIds().contains(id.value(u"x4"_s)));
        QCOMPARE(cell(x1, 6), u"予定"_s);
        QCOMPARE(cell(x1, 1), inSiteZone(end).toString(u"MM/dd HH:mm:ss"_s));
        QVERIFY2(cell(x1, 2).startsWith(u"残り 00:00:0"_s), qPrintable(cell(x1, 2)));
        QCOMPARE(cell(x1, 3), u"5,000円"_s);
        QCOMPARE(cell(x1, 5), u"他の人（rival）"_s);
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
            const QString what = r.it.id + u"："_s + verdict;
            QVERIFY2(verdict.startsWith(r.verdict), qPrintable(what));
            QVERIFY2(cell(x, 6) == r.state, qPrintable(what + u" / "_s + cell(x, 6)));
            QCOMPARE(cell(x, 2), u"終了"_s);
            QCOMPARE(cell(x, 7), verdict);
            // Once in the log, with the item's name; and told as a notice.
            QVERIFY2(std::count_if(log.begin(), log.end(),
                                   [&](const QString &l) {
                                       return l == u"最終結果："_s + r.it.id + u"："_s +
                                                       r.it.title + u"："_s + verdict;
                                   }) == 1,
                     qPrintable(what));
            for (const NoticeKind k : r.told)
                QVERIFY2(told(k, r.it.id) == 1, qPrintable(what + QString::number(int(k))));
            for (const NoticeKind k : r.notTold)
                QVERIFY2(told(k, r.it.id) == 0, qPrintable(what + QString::number(int(k))));
            // The item list's 状態 says the same, and the verdict is kept for a restart.
            for (int i = 0; i < list.model()->rowCount(); ++i) {
                if (list.model()->row(i).id == x)
                    QVERIFY2(
                        list.model()->index(i, 9).data().toString() == r.state,
                        qPrintable(what + u" / "_s + list.model()->index(i, 9).data().toString()));
            }
            QCOMPARE(f.db.itemById(x)->Verdict, verdict);
        }
        QCOMPARE(cell(x1, 5), u"あなた"_s);

        // A double click opens the item's bid window.
        const int x2 = id.value(u"x2"_s);
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

    void siteUnreachablePastTheEnd()
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
        QVERIFY(b->fetcher().applyProxySetting(u"HTTP=127.0.0.1:"_s + deadPort));
        frmOverview view(bids);
        view.show();
        auto *site = view.findChild<QLabel *>(u"lblSite"_s);
        // A reading (the window's own, or this one when the window is busy) finds no site.
        QTRY_VERIFY((b->refresh(false), b->siteUnreachable()));
        view.refresh();
        QCOMPARE(site->text(), u"ヤフオク!に接続できません。接続を確認してください｡"_s);
        QVERIFY(site->isVisible());
        QCOMPARE(view.grid()->item(0, 6)->text(), u"エラー"_s);

        // Past the end the user is told the result is not known, and why; never silence.
        QTRY_COMPARE_WITH_TIMEOUT(
            b->verdict(), u"結果不明：ヤフオク!に接続できません。入札はしていません"_s, 40000);
        view.refresh();
        QCOMPARE(view.grid()->item(0, 7)->text(), b->verdict());
        QCOMPARE(failures.count(u"x1 テスト商品 x1\n"_s + b->verdict()), 1);
        QVERIFY(f.logText().contains(u"最終結果：x1"_s));

        // The network is back: the next reading gives the real verdict and the warning goes.
        QVERIFY(
            b->fetcher().applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(f.site.port())));
        b->refresh(false);
        QTRY_VERIFY_WITH_TIMEOUT(b->finished(), 10000);
        QVERIFY2(b->verdict().startsWith(u"入札しませんでした："_s), qPrintable(b->verdict()));
        view.refresh();
        QVERIFY(!site->isVisible());
        QCOMPARE(view.grid()->item(0, 6)->text(), u"落札できませんでした"_s);
    }
};

QTEST_MAIN(tst_Overview)
#include "tst_overview.moc"
