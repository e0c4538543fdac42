#include "bulkrefresh.h"
#include "pagefetcher.h"
#include "simitems.h"
#include "simsite.h"
#include "siteclock.h"
#include "testapp.h"
#include "watchlistimport.h"

#include "itemrecord.h"

#include <QNetworkCookie>
#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

sim::Item simItem(int n, const QDateTime &end, qint32 price = 1200)
{
    sim::Item it;
    it.id = u"x"_s + QString::number(n);
    it.server = 1 + n % 7;
    it.title = u"商品"_s + QString::number(n);
    it.startPrice = 100;
    it.price = price;
    it.bids = 1;
    it.highBidder = u"rival"_s;
    it.end = end;
    it.autoExtend = false;
    return it;
}

struct Runs : TestApp
{
    sim::SimSite site;
    PageFetcher fetcher{&cookies, log, prompter};
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    bool stop = false;
    int logins = 0;
    QStringList reports;
    QList<int> reloaded;

    explicit Runs(sim::Scenario s) : site(std::move(s))
    {
        if (site.listenOn() == 0)
            qFatal("cannot set up");
        fetcher.applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(site.port()));
        fetcher.setTimeoutMs(2000);
        values.ownId = u"snipe_taro"_s;
    }
    void logIn(const QString &bidder)
    {
        QNetworkCookie c(sim::SimSite::sessionCookieName().toLatin1(),
                         site.createSession(bidder).toLatin1());
        c.setDomain(u".yahoo.co.jp"_s); // the login host and the auction hosts
        cookies.insertCookie(c);
    }
    WatchListResult importNow(std::function<bool()> stopAfter = {})
    {
        std::optional<WatchListResult> r;
        const WatchListContext run{fetcher,
                                   parser,
                                   hosts,
                                   alive,
                                   stopAfter ? stopAfter : [this] { return stop; },
                                   [this] { ++logins; },
                                   [this](const QString &line) { log.LOGTodb(line); }};
        ImportWatchList(run).then([&r](WatchListResult x) { r = x; });
        if (!QTest::qWaitFor([&] { return r.has_value(); }, 20000))
            qFatal("the import did not finish");
        return *r;
    }
    BulkRefreshResult refreshNow()
    {
        std::optional<BulkRefreshResult> r;
        BulkRefresh({fetcher,
                     db,
                     log,
                     hosts,
                     values.ownId,
                     alive,
                     [this] { return stop; },
                     [this](const QString &t) { reports << t; },
                     {},
                     [this](int id) { reloaded << id; }})
            .then([&r](BulkRefreshResult x) { r = x; });
        if (!QTest::qWaitFor([&] { return r.has_value(); }, 30000))
            qFatal("the refresh did not finish");
        return *r;
    }
    // Stores the item as an earlier read of its page would have.
    int store(const sim::Item &it, qint32 storedPrice, int status = 0)
    {
        sim::Item earlier = it;
        earlier.price = storedPrice;
        earlier.highBidder = u"rival"_s;
        return storeAsRead(db, earlier, 0, 0, status);
    }
    QStringList storedIds()
    {
        QStringList ids;
        const QList<ItemRecord> rows = db.listItems({}, QDateTime::currentDateTime()).value();
        for (const ItemRecord &r : rows)
            ids << r.itemid;
        return ids;
    }
};

sim::Scenario watchScenario(bool today = false)
{
    sim::Scenario s;
    s.today = today;
    s.watchPageSize = 2; // today's list over two pages
    s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {u"x3"_s, u"x1"_s, u"x2"_s}};
    for (int n = 1; n <= 3; ++n)
        s.items << simItem(n, wholeSecond(3600000 * n));
    return s;
}

} // namespace

// The item list's long runs against the simulated site: the watch-list import and the
// bulk refresh.
class tst_ItemRuns : public QObject
{
    Q_OBJECT
private slots:
    void watchListImportsInOrderWithoutDuplicates_data()
    {
        QTest::addColumn<bool>("today");
        QTest::newRow("classic list") << false;
        QTest::newRow("today's list, page by page") << true;
    }

    void watchListImportsInOrderWithoutDuplicates()
    {
        QFETCH(bool, today);
        Runs r(watchScenario(today));
        r.logIn(u"snipe_taro"_s);
        WatchListResult first = r.importNow();
        QCOMPARE(first.end, WatchListResult::Done);
        QCOMPARE(first.entries, 3);
        QStringList order;
        for (const sim::RequestRecord &req : r.site.requestsTo(u"/jp/auction/"_s))
            order << req.path.section(QLatin1Char('/'), -1);
        QCOMPARE(order, (QStringList{u"x3"_s, u"x1"_s, u"x2"_s}));
        // Today's items are read at their canonical address; classic ones on their host.
        QCOMPARE(r.db.itemByItemid(u"x3"_s)->Serverid, today ? QString() : u"4"_s);
        QCOMPARE(r.db.itemByItemid(u"x3"_s)->SiteGen, today ? int(TodayPage) : 0);
        QCOMPARE(r.db.itemByItemid(u"x1"_s)->cat, u"0"_s);

        r.site.scenario().item(u"x1"_s)->price = 2000;
        const WatchListResult second = r.importNow();
        QCOMPARE(second.stored, 3);
        QCOMPARE(r.storedIds().size(), 3);
        QCOMPARE(r.db.itemByItemid(u"x1"_s)->ItemYenNow, 2000);
    }

    void expiredLoginImportsNothing_data() { watchListImportsInOrderWithoutDuplicates_data(); }

    void expiredLoginImportsNothing()
    {
        QFETCH(bool, today);
        Runs r(watchScenario(today));
        r.logIn(u"snipe_taro"_s);
        r.site.expireSessions();
        const WatchListResult result = r.importNow();
        QCOMPARE(result.end, WatchListResult::LoginNeeded);
        QCOMPARE(r.logins, 1);
        QVERIFY(r.storedIds().isEmpty());
        QVERIFY(r.site.requestsTo(u"/jp/auction/"_s).isEmpty());
    }

    void itemsThatCannotBeStoredAreSaidAndTheRestImported()
    {
        Runs r(watchScenario());
        r.logIn(u"snipe_taro"_s);
        // The disk refuses new rows for one item: the others are still imported.
        QSqlQuery q(r.db.connection());
        QVERIFY(q.exec(
            QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON tblYo WHEN "
                           "NEW.itemid = 'x1' BEGIN SELECT RAISE(ABORT, 'disk full'); END")));
        const WatchListResult result = r.importNow();
        QCOMPARE(result.end, WatchListResult::Done);
        QCOMPARE(result.stored, 2);
        QCOMPARE(result.storeFailures, 1);
        QCOMPARE(r.storedIds().size(), 2);
        const QStringList log = logLines(r.db);
        QVERIFY2(std::any_of(log.begin(), log.end(),
                             [](const QString &l) {
                                 return l.startsWith(u"商品を保存できませんでした（x1）："_s) &&
                                        l.contains(u"disk full"_s);
                             }),
                 qPrintable(log.join(QLatin1Char('\n'))));
        QCOMPARE(ItemPageParser::storeFailuresText(1),
                 u"1件の商品を保存できませんでした。理由はログに書いてあります。"_s);
    }

    void stopEndsTheImportAfterTheCurrentItem()
    {
        Runs r(watchScenario());
        r.logIn(u"snipe_taro"_s);
        // Escape is pressed while the first item is being read.
        const WatchListResult result = r.importNow([&r] { return !r.storedIds().isEmpty(); });
        QCOMPARE(result.end, WatchListResult::Stopped);
        QCOMPARE(r.storedIds(), QStringList{u"x3"_s});
    }

    void bulkRefreshStopsAtTheDayLimit()
    {
        sim::Scenario s;
        for (int n = 1; n <= 30; ++n)
            s.items << simItem(n,
                               n <= 12 ? wholeSecond(1000 * (600 + 60 * n))
                                       : wholeSecond(1000 * (7 * 24 * 3600 + n)),
                               1500);
        Runs r(s);
        for (const sim::Item &it : s.items)
            r.store(it, 1200);
        const BulkRefreshResult result = r.refreshNow();
        QCOMPARE(result.end, BulkRefreshResult::DayLimit);
        QCOMPARE(result.fetched, 13);
        QCOMPARE(result.changed, 12);
        QCOMPARE(r.db.itemByItemid(u"x12"_s)->ItemYenNow, 1500);
        QCOMPARE(r.db.itemByItemid(u"x13"_s)->ItemYenNow, 1200);
    }

    void bulkRefreshEndsAtAFetchFailure()
    {
        sim::Scenario s;
        for (int n = 1; n <= 5; ++n)
            s.items << simItem(n, wholeSecond(600000 * n), 1500);
        Runs r(s);
        for (const sim::Item &it : s.items)
            r.store(it, 1200);
        r.site.addFault({.path = u"/jp/auction/x3"_s, .kind = sim::Fault::Drop});
        const BulkRefreshResult result = r.refreshNow();
        QCOMPARE(result.end, BulkRefreshResult::FetchFailed);
        QCOMPARE(r.db.itemByItemid(u"x2"_s)->ItemYenNow, 1500);
        QCOMPARE(r.db.itemByItemid(u"x3"_s)->ItemYenNow, 1200);
        QCOMPARE(r.db.itemByItemid(u"x4"_s)->ItemYenNow, 1200);
        QVERIFY(logLines(r.db).last().startsWith(u"ｴﾗｰ番号"_s));
    }

    void bulkRefreshReportsAndSetsWonStatus_data()
    {
        QTest::addColumn<int>("storedStatus");
        QTest::addColumn<int>("status");
        QTest::newRow("won, watching becomes 落札") << 0 << 1;
        QTest::newRow("won, 連絡 stays") << 2 << 2;
    }

    void bulkRefreshReportsAndSetsWonStatus()
    {
        QFETCH(int, storedStatus);
        QFETCH(int, status);
        sim::Item it = simItem(1, wholeSecond(-30000), 1500);
        it.highBidder = u"snipe_taro"_s;
        sim::Scenario s;
        s.items << it;
        Runs r(s);
        const int id = r.store(it, 1200, storedStatus);
        QCOMPARE(r.refreshNow().changed, 1);
        const ItemRecord rec = *r.db.itemById(id);
        QCOMPARE(rec.status, status);
        QVERIFY(rec.fin);
        QCOMPARE(rec.SaikougakuShaid, u"snipe_taro"_s);
        QCOMPARE(r.reloaded, QList<int>{id});
        QVERIFY(r.reports.first().endsWith(u"1,200->1,500\r\n"_s));
    }

    void bulkRefreshOfTodaysPages_data()
    {
        QTest::addColumn<QString>("winner");
        QTest::addColumn<bool>("won");
        QTest::addColumn<QString>("stored"); // who leads, as stored
        QTest::newRow("won: the page and the won list say so")
            << "snipe_taro" << true << "snipe_taro";
        QTest::newRow("another won: not on the won list") << "rival" << false << "";
        QTest::newRow("nobody bid") << "" << false << "-";
    }

    void bulkRefreshOfTodaysPages()
    {
        QFETCH(QString, winner);
        QFETCH(bool, won);
        QFETCH(QString, stored);
        sim::Item it = simItem(1, wholeSecond(-30000), 1500);
        it.highBidder = winner;
        it.bids = winner.isEmpty() ? 0 : 3;
        it.quantity = 3;
        sim::Item running = simItem(2, wholeSecond(3600000), 2000);
        running.autoExtend = true;
        sim::Scenario s;
        s.today = true;
        s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {}};
        s.items << it << running;
        Runs r(s);
        r.logIn(u"snipe_taro"_s);
        const int id = r.store(it, 1200);
        const int other = r.store(running, 1800);
        r.refreshNow();
        const ItemRecord rec = *r.db.itemById(id);
        QVERIFY(rec.fin);
        QCOMPARE(rec.status, won ? int(Won) : int(Watching));
        QCOMPARE(rec.SaikougakuShaid, stored);
        QCOMPARE(rec.NumUri, 3); // today's page gives the whole item
        // A running auction of today's site: who leads is not known, and nothing says otherwise.
        const ItemRecord runningRec = *r.db.itemById(other);
        QCOMPARE(runningRec.ItemYenNow, 2000);
        QCOMPARE(runningRec.SaikougakuShaid, QString());
        QVERIFY(runningRec.Flagjidouencho);
    }

    void changeReports()
    {
        // The old and the new price, and the report's last line: the move, or the price alone.
        const QList<std::tuple<int, int, QString>> cases{
            {1200, 1500, u"1,200->1,500"_s}, {1500, 1500, u"1,500"_s}, {0, 0, u"0"_s}};
        const QDateTime end(QDate(2026, 12, 6), QTime(21, 0), sw::siteZone());
        for (const auto &[oldPrice, newPrice, lastLine] : cases)
            QCOMPARE(changeReport(u"品名"_s, end, u"rival"_s, oldPrice, newPrice),
                     u"データが更新されました。\r\n品名\r\n2026/12/06 21:00:00\r\nrival\r\n"_s +
                         lastLine + u"\r\n"_s);
    }
};

QTEST_GUILESS_MAIN(tst_ItemRuns)
#include "tst_itemruns.moc"
