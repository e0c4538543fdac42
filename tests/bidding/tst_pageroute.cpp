#include "pagefetcher.h"
#include "pageroute.h"
#include "pageroutechild.h"
#include "simsettings.h"
#include "simsite.h"
#include "testapp.h"

#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct Suite : TestApp
{
    sim::SimSite site{sim::Scenario{}};
    std::unique_ptr<PageRouteChild> route;
    PageFetcher fetcher{&cookies, log, prompter};

    Suite()
    {
        if (site.listenOn() == 0)
            qFatal("cannot set up");
        reachSimulatedSite(settings, site.port());
        values.ownId = u"snipe_taro"_s;
        // The child reads the data folder's settings and cookies.
        qputenv("SNIPEWELL_HOME", home.path(QString()).toLocal8Bit());
        fetcher.setSiteHosts(&hosts);
        fetcher.applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(site.port()));
        fetcher.setTimeoutMs(5000);
        route = std::make_unique<PageRouteChild>(QStringLiteral(SNIPEWELL_BIN), log);
    }
    // A day of the site: the item, the member logged in (or not).
    void play(const sim::Item &item, const QString &variant = u"a"_s, bool loggedIn = true)
    {
        sim::Scenario s;
        s.today = true;
        s.pageVariant = variant;
        s.showSeconds = true;
        s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {}}
                  << sim::Bidder{u"rival"_s, u"r"_s, {}};
        s.items << item;
        site.setScenario(s);
        for (const QNetworkCookie &c : cookies.cookies())
            cookies.deleteCookie(c);
        if (loggedIn) {
            QNetworkCookie c(sim::SimSite::sessionCookieName().toLatin1(),
                             site.createSession(u"snipe_taro"_s).toLatin1());
            c.setDomain(u".yahoo.co.jp"_s);
            c.setPath(u"/"_s);
            cookies.insertCookie(c);
        }
        route->cookiesChanged();
    }
};

Suite *g = nullptr;

sim::Item item(qint32 price, int bids, const QString &rival = QString(), qint32 rivalMax = 0)
{
    sim::Item it;
    it.id = u"t1"_s;
    it.title = u"今のページの商品"_s;
    it.seller = u"seller"_s;
    it.startPrice = 1000;
    it.price = price;
    it.bids = bids;
    it.highBidder = rival;
    if (!rival.isEmpty())
        it.maxBids.insert(rival, rivalMax);
    it.autoExtend = false;
    it.end = QDateTime::currentDateTime().addSecs(120);
    return it;
}

struct Run
{
    BidResult result;
    QStringList shown;
};

Run bid(qint64 amount, qint64 max, std::function<std::optional<LiveLimits>()> limits = {},
        int quantity = 1, int secondsToBid = 2)
{
    Run run;
    auto alive = std::make_shared<int>(0);
    BidRequest req;
    req.itemid = u"t1"_s;
    req.amount = amount;
    req.max = max;
    req.quantity = quantity;
    req.userId = u"snipe_taro"_s;
    req.bidTime = QDateTime::currentDateTime().addSecs(secondsToBid);
    req.end = QDateTime::currentDateTime().addSecs(110);
    BidContext ctx{
        g->fetcher, g->hosts, g->log, alive, [&run](const QString &a) { run.shown << a; },
        nullptr,    {},       limits};
    std::optional<BidResult> r;
    PlacePageBid(ctx, req, g->route.get()).then([&r](BidResult x) { r = x; });
    if (!QTest::qWaitFor([&r] { return r.has_value(); }, 90000))
        qFatal("the bid did not end");
    run.result = *r;
    return run;
}

QList<qint32> amountsTheSiteSaw()
{
    QList<qint32> out;
    for (const sim::SimSite::BidRecord &b : g->site.bids()) {
        if (b.bidder == "snipe_taro"_L1)
            out << b.amount;
    }
    return out;
}

} // namespace

struct PageOutcomeRow
{
    sim::Item it;
    QString variant;
    bool loggedIn;
    int amount, max;
    BidResult::Outcome outcome;
    QList<qint32> siteSaw; // our bids as the site recorded them
};

// A bid on today's site through the item page's own controls, in a real browser engine
// (the program's own child, offscreen) against the simulated site of today, for each way
// it can end.
class tst_PageRoute : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { g = new Suite; }

    void cleanupTestCase()
    {
        delete g;
        g = nullptr;
    }

    void outcomes_data()
    {
        QTest::addColumn<PageOutcomeRow>("row");
        using R = PageOutcomeRow;
        using O = BidResult;
        const sim::Item plain = item(3000, 2, u"rival"_s, 3000);
        const sim::Item rivalHigher = item(3000, 2, u"rival"_s, 9000);
        QTest::newRow("wins: the highest bidder")
            << R{plain, u"a"_s, true, 5000, 5000, O::Accepted, {5000}};
        QTest::newRow("outbid at once at the maximum: not raised beyond it")
            << R{rivalHigher, u"a"_s, true, 5000, 5000, O::Refused, {5000}};
        QTest::newRow("too low for the page's preview: raised to what the site takes")
            << R{item(3300, 4, u"rival"_s, 3300), u"a"_s, true, 3000, 4000, O::Accepted, {3400}};
        sim::Item reserve = plain;
        reserve.reserve = 9000;
        QTest::newRow("below the reserve")
            << R{reserve, u"a"_s, true, 8000, 8000, O::BelowReserve, {8000}};
        sim::Item ended = plain;
        ended.cancelled = true;
        QTest::newRow("ended before the send") << R{ended, u"a"_s, true, 5000, 5000, O::Ended, {}};
        QTest::newRow("a logged-out page: the login is asked for")
            << R{plain, u"a"_s, false, 5000, 5000, O::LoginNeeded, {}};
        QTest::newRow("other markup, other requests, unknown words: still bid, the data tells")
            << R{plain, u"b"_s, true, 5000, 5000, O::Accepted, {5000}};
        QTest::newRow("other markup, outbid: the data tells that too")
            << R{rivalHigher, u"b"_s, true, 5000, 5000, O::Refused, {5000}};
    }

    void outcomes()
    {
        QFETCH(PageOutcomeRow, row);
        const auto &[it, variant, loggedIn, amount, max, outcome, siteSaw] = row;
        g->play(it, variant, loggedIn);
        const Run run = bid(amount, max);
        QCOMPARE(int(run.result.outcome), int(outcome));
        QCOMPARE(amountsTheSiteSaw(), siteSaw);
        // Each amount went once: one final request a token.
        QCOMPARE(int(g->site.confirmations().size()), int(siteSaw.size()));
    }

    void theUsersLastWordAtTheConfirmation_data()
    {
        QTest::addColumn<int>("quantity"); // -1: the item was deleted
        QTest::addColumn<int>("max");      // what the user saved while the form waited
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QList<qint32>>("siteSaw");
        QTest::newRow("deleted") << -1 << 5000 << int(BidResult::Cancelled) << QList<qint32>{};
        QTest::newRow("quantity 0") << 0 << 5000 << int(BidResult::Cancelled) << QList<qint32>{};
        QTest::newRow("a lower maximum: that amount, made anew")
            << 1 << 4500 << int(BidResult::Accepted) << QList<qint32>{4500};
        QTest::newRow("a maximum too low to bid")
            << 1 << 3000 << int(BidResult::Cancelled) << QList<qint32>{};
    }

    void theUsersLastWordAtTheConfirmation()
    {
        QFETCH(int, quantity);
        QFETCH(int, max);
        QFETCH(int, outcome);
        QFETCH(QList<qint32>, siteSaw);
        g->play(item(3000, 2, u"rival"_s, 3000));
        const Run run = bid(5000, 5000, [&]() -> std::optional<LiveLimits> {
            if (quantity < 0)
                return std::nullopt;
            return LiveLimits{true, quantity, max, 3100};
        });
        QCOMPARE(int(run.result.outcome), outcome);
        QCOMPARE(amountsTheSiteSaw(), siteSaw);
    }

    void dryRunFindsWhatIsMissing_data()
    {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QString>("kind");
        QTest::newRow("every control there") << "a" << true << "";
        QTest::newRow("every control there, other markup") << "b" << true << "";
        QTest::newRow("the site changed the amount's label") << "changed" << true << "missing";
        QTest::newRow("logged out") << "a" << false << "login";
    }

    void dryRunFindsWhatIsMissing()
    {
        QFETCH(QString, variant);
        QFETCH(bool, loggedIn);
        QFETCH(QString, kind);
        g->play(item(3000, 2, u"rival"_s, 3000), variant, loggedIn);
        const qsizetype before = g->site.requests().size();
        const int handle = g->route->newHandle();
        std::optional<PagePrepared> p;
        g->route->prepare(handle, g->hosts.itemPage(QString(), u"t1"_s), 0, 1, false)
            .then([&p](PagePrepared x) { p = x; });
        QTRY_VERIFY_WITH_TIMEOUT(p.has_value(), 60000);
        g->route->close(handle);
        QCOMPARE(p->ok, kind.isEmpty());
        QCOMPARE(p->kind, kind);
        // A dry run presses nothing: the site saw the page only, no preview and no bid.
        QVERIFY(g->site.bids().isEmpty());
        for (const sim::RequestRecord &r : g->site.requests().mid(before))
            QVERIFY2(r.method == "GET"_L1, qPrintable(r.path));
    }

    void aChildThatCannotStartIsSaidAtOnce()
    {
        // The engine's program is gone (a half-done upgrade): the bid is told why within
        // moments, and starting it never held up the caller.
        PageRouteChild route(g->home.path(u"no-such-program"_s), g->log);
        QElapsedTimer asked;
        asked.start();
        std::optional<PagePrepared> p;
        route.prepare(route.newHandle(), g->hosts.itemPage(QString(), u"t1"_s), 0, 1, false)
            .then([&p](PagePrepared x) { p = x; });
        QVERIFY2(asked.elapsed() < 100, qPrintable(QString::number(asked.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(p.has_value(), 5000);
        QVERIFY(!p->ok);
        QCOMPARE(p->kind, u"crashed"_s);
        QCOMPARE(p->why, u"入札画面の部品（ブラウザ）を起動できません"_s);
        QVERIFY(!route.running());
    }
};

QTEST_MAIN(tst_PageRoute)
#include "tst_pageroute.moc"
