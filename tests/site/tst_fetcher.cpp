#include "activitylog.h"
#include "cookiejar.h"
#include "database.h"
#include "loglines.h"
#include "pagefetcher.h"
#include "proxyconfig.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "simsite.h"
#include "simtls.h"
#include "sitehosts.h"
#include "tempdir.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

sim::Scenario scenario(bool halfWidth = false)
{
    sim::Scenario s;
    s.halfWidthLabels = halfWidth;
    sim::Item it;
    it.id = u"x1"_s;
    it.server = 3;
    it.title = u"ガンダム ﾌﾟﾗﾓﾃﾞﾙ"_s;
    it.price = 1200;
    it.end = QDateTime::currentDateTime().addSecs(3600);
    s.items << it;
    return s;
}

const QString kItemUrl = u"http://page3.auctions.yahoo.co.jp/jp/auction/x1"_s;

// A running fetch, driven to its end by the event loop.
FetchResult fetchNow(PageFetcher &f, const QString &url, bool newlines = false)
{
    std::optional<FetchResult> result;
    f.FetchPage(url, newlines).then([&result](FetchResult r) { result = r; });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 15000))
        qFatal("the fetch never finished");
    return *result;
}

struct Net
{
    TempHome home;
    ItemDatabase db{home.path(u"db2k.mdb"_s)};
    ActivityLog log{db};
    ScriptedPrompter prompter;
    PersistentCookieJar jar{home.path(u"cookies.txt"_s)};
    sim::SimSite site;
    PageFetcher fetcher{&jar, log, prompter};
    SiteHosts hosts;
    explicit Net(sim::Scenario s = scenario()) : site(std::move(s))
    {
        if (!db.open() || !db.createSchema() || site.listenOn() == 0)
            qFatal("cannot set up");
        fetcher.applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(site.port()));
        hosts.scheme = u"http"_s; // the proxy is on loopback
        fetcher.setSiteHosts(&hosts);
    }
    QStringList logLines() { return ::logLines(db); }
};

} // namespace

class tst_Fetcher : public QObject
{
    Q_OBJECT
private slots:
    void pageIsDecodedWithKanaFolded()
    {
        Net n(scenario(true));
        n.fetcher.setTimeoutMs(2000);
        n.site.addFault({.ms = 200}); // a slow site within the time-out is no fault
        const FetchResult r = fetchNow(n.fetcher, kItemUrl);
        QVERIFY(r.ok);
        QVERIFY(r.text.contains(u"Yahoo!オークション - ガンダム プラモデル"_s));
        QVERIFY(r.text.contains(u"<TD><b>1,200円</b>"_s));
        QVERIFY(!r.text.contains(QLatin1Char('\r')));
        const FetchResult crlf = fetchNow(n.fetcher, kItemUrl, true);
        QVERIFY(crlf.text.contains(u"\r\n"_s));
        QCOMPARE(crlf.text.count(QLatin1Char('\n')), crlf.text.count(u"\r\n"_s));
        QVERIFY(n.logLines().isEmpty());
        QCOMPARE(n.prompter.beeps, 0);
        QCOMPARE(n.site.requests().size(), 2);
        QCOMPARE(n.site.requests().first().host, u"page3.auctions.yahoo.co.jp"_s);
    }

    void faultsLogExactlyOneText_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("one-byte body") << int(sim::Fault::OneByte) << FetchTexts::tooShort();
        QTest::newRow("stall past the time-out") << int(sim::Fault::Stall) << FetchTexts::timeout();
        QTest::newRow("dropped connection")
            << int(sim::Fault::Drop)
            << u"ｴﾗｰ番号  2:page3.auctions.yahoo.co.jp でｴﾗｰが発生しました。\r"_s;
        QTest::newRow("HTTP 500")
            << int(sim::Fault::Http500)
            << u"ｴﾗｰ番号  401:page3.auctions.yahoo.co.jp でｴﾗｰが発生しました。\r"_s;
    }

    void faultsLogExactlyOneText()
    {
        QFETCH(int, kind);
        QFETCH(QString, text);
        Net n;
        n.fetcher.setTimeoutMs(300);
        n.site.addFault({.host = u"page3.*"_s, .kind = sim::Fault::Kind(kind)});
        const FetchResult r = fetchNow(n.fetcher, kItemUrl);
        QVERIFY(!r.ok);
        QVERIFY(r.text.isEmpty());
        const QStringList lines = n.logLines();
        QCOMPARE(lines.size(), 1);
        if (text.endsWith(QLatin1Char('\r')))
            QVERIFY2(lines.first().startsWith(text), qPrintable(lines.first()));
        else
            QCOMPARE(lines.first(), text);
        QCOMPARE(n.prompter.beeps, 1);
        QVERIFY(n.prompter.messages.isEmpty()); // nothing but the beep
    }

    void passwordNeverReachesTheLog()
    {
        Net n;
        n.site.addFault({.kind = sim::Fault::Http500});
        const FetchResult r = fetchNow(
            n.fetcher,
            QStringLiteral("http://page3.auctions.yahoo.co.jp/jp/show/bid_preview?ItemID=x1"
                           "&login=taro&passwd=%73%65%63%72%65%74&Bid=100"));
        QVERIFY(!r.ok);
        const QString line = n.logLines().value(0);
        QVERIFY(!line.isEmpty());
        QVERIFY2(!line.contains(u"%73%65"_s) && !line.contains(u"secret"_s), qPrintable(line));
        QVERIFY(n.site.requests().first().query.contains(u"passwd=****"_s));
    }

    void passwordGoesOnlyToTheSite_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("hostsKnown");
        QTest::addColumn<QString>("proxy"); // "loopback": the simulated site is the proxy
        QTest::addColumn<QString>("said");  // empty: it goes out
        const QString query = u"/jp/show/bid_preview?ItemID=x1&login=taro&passwd=%73%65"_s;
        auto elsewhere = [](const char *host) -> QString {
            return u"パスワードを含む要求をサイト以外のホスト（"_s + QString::fromLatin1(host) +
                   u"）には送りません"_s;
        };
        const QString site = u"http://page3.auctions.yahoo.co.jp"_s;
        QTest::newRow("an item host of the site, the connection on loopback")
            << site + query << true << "loopback"
            << "";
        QTest::newRow("another host")
            << u"http://evil.example"_s + query << true << "loopback" << elsewhere("evil.example");
        QTest::newRow("the site's name as user info")
            << u"http://page3.auctions.yahoo.co.jp@127.0.0.1"_s + query << true << "loopback"
            << elsewhere("127.0.0.1");
        QTest::newRow("a look-alike host")
            << u"http://page3.auctions.yahoo.co.jp.evil.example"_s + query << true << "loopback"
            << elsewhere("page3.auctions.yahoo.co.jp.evil.example");
        QTest::newRow("another scheme than the configured one")
            << u"https://page3.auctions.yahoo.co.jp"_s + query << true << "loopback"
            << elsewhere("page3.auctions.yahoo.co.jp");
        QTest::newRow("a fetcher that knows no site hosts")
            << site + query << false << "loopback" << elsewhere("page3.auctions.yahoo.co.jp");
        // Plain http is readable by anyone on the way: only a connection that stays on this
        // machine may carry the password.
        QTest::newRow("plain http through a proxy elsewhere")
            << site + query << true << "HTTP=192.0.2.1:3128"
            << PageFetcher::plainPasswordRefusedText(u"page3.auctions.yahoo.co.jp"_s);
        QTest::newRow("plain http straight to the site")
            << site + query << true << ""
            << PageFetcher::plainPasswordRefusedText(u"page3.auctions.yahoo.co.jp"_s);
    }

    void passwordGoesOnlyToTheSite()
    {
        QFETCH(QString, url);
        QFETCH(bool, hostsKnown);
        QFETCH(QString, proxy);
        QFETCH(QString, said);
        Net n;
        if (!hostsKnown)
            n.fetcher.setSiteHosts(nullptr);
        if (proxy != "loopback"_L1)
            QVERIFY(n.fetcher.applyProxySetting(proxy));
        fetchNow(n.fetcher, url);
        if (said.isEmpty()) {
            QCOMPARE(n.site.requests().size(), 1);
            return;
        }
        QVERIFY(n.site.requests().isEmpty());
        QCOMPARE(n.logLines(), QStringList{said});
    }

    void httpsReachesTheSiteThroughItsProxy()
    {
        Net n;
        serveTls(n.site);
        n.hosts.scheme = u"https"_s;
        const QString today = u"https://page.auctions.yahoo.co.jp/jp/auction/x1"_s;
        // A certificate nobody vouches for: nothing is read from it, and the log says why.
        QVERIFY(!fetchNow(n.fetcher, today).ok);
        QVERIFY(n.site.requests().isEmpty());
        QCOMPARE(n.logLines().size(), 1);
        QVERIFY(n.logLines().first().contains(u"SSL"_s));

        trustTestAuthority(); // as a fetcher made afterwards sees it
        PageFetcher fetcher(&n.jar, n.log, n.prompter);
        fetcher.applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(n.site.port()));
        fetcher.setSiteHosts(&n.hosts);
        const FetchResult page = fetchNow(fetcher, today);
        QVERIFY2(page.ok, qPrintable(n.logLines().join(QLatin1Char('\n'))));
        QVERIFY(page.text.contains(u"ガンダム"_s));
        // The password goes out inside the tunnel; the site saw it on today's host.
        QVERIFY(fetchNow(fetcher, QStringLiteral("https://page.auctions.yahoo.co.jp/jp/show/"
                                                 "bid_preview?ItemID=x1&login=taro&passwd=%73%65"))
                    .ok);
        QCOMPARE(n.site.requests().size(), 2);
        QCOMPARE(n.site.requests().last().host, u"page.auctions.yahoo.co.jp"_s);
        QVERIFY(n.site.tunnelsEncrypted() >= 1);
        QCOMPARE(n.logLines().size(), 1);
    }

    void closingTheWindowMidFetchIsHarmless()
    {
        Net n;
        n.site.addFault({.kind = sim::Fault::Stall});
        auto *fetcher = new PageFetcher(&n.jar, n.log, n.prompter);
        fetcher->applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(n.site.port()));
        std::optional<FetchResult> result;
        fetcher->FetchPage(kItemUrl, false).then([&result](FetchResult r) { result = r; });
        QTRY_COMPARE(n.site.requests().size(), 1);
        delete fetcher;
        QTRY_VERIFY(result.has_value());
        QVERIFY(!result->ok);
        QVERIFY(n.logLines().isEmpty());
        QCOMPARE(n.prompter.beeps, 0);
        // The other window's fetcher, on the same cookie jar, goes on working.
        n.site.clearFaults();
        QVERIFY(fetchNow(n.fetcher, kItemUrl).ok);
    }

    void proxySetting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<ProxyChoice>("choice");
        const ProxyChoice bad{ProxyChoice::Invalid, {}};
        QTest::newRow("named") << "HTTP=proxy.example.jp:8080"
                               << ProxyChoice{
                                      ProxyChoice::Named,
                                      {QNetworkProxy::HttpProxy, u"proxy.example.jp"_s, 8080}};
        QTest::newRow("empty is direct") << "" << ProxyChoice{ProxyChoice::Direct, {}};
        QTest::newRow("lower-case prefix") << "http=proxy:8080" << bad;
        QTest::newRow("no port") << "HTTP=proxy" << bad;
        QTest::newRow("port not a number") << "HTTP=proxy:80a" << bad;
        QTest::newRow("something else") << "SOCKS=proxy:1080" << bad;
    }

    void proxySetting()
    {
        QFETCH(QString, value);
        QFETCH(ProxyChoice, choice);
        const auto kind = choice.kind;
        const ProxyChoice c = parseProxySetting(value);
        QCOMPARE(int(c.kind), int(kind));
        if (c.kind == ProxyChoice::Named)
            QVERIFY(c.proxy.hostName() == choice.proxy.hostName() && c.proxy.port() == 8080);
        // A window that applies a bad value says so and keeps its default connection.
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        settings.save(u"Settings"_s, u"Proxy"_s, value);
        ItemDatabase db(u":memory:"_s);
        ActivityLog log(db);
        ScriptedPrompter prompter;
        PageFetcher f(nullptr, log, prompter);
        configureFetcher(f, settings, true, prompter);
        QCOMPARE(prompter.messages.size(), kind == ProxyChoice::Invalid ? 1 : 0);
        if (kind == ProxyChoice::Invalid)
            QVERIFY(
                prompter.messages.first().startsWith(u"プロキシの設定が不正です。\n例：HTTP="_s));
    }

    void cookiesAreSharedAndSurviveARestart()
    {
        TempHome home;
        const QString file = home.path(u"cookies.txt"_s);
        const QUrl site(u"http://user.auctions.yahoo.co.jp/"_s);
        {
            PersistentCookieJar jar(file);
            QNetworkCookie session("SWSESSION", "abc123");
            QNetworkCookie expired("OLD", "x");
            expired.setExpirationDate(QDateTime::currentDateTime().addDays(-1));
            QNetworkCookie lasting("Y", "v=1");
            lasting.setExpirationDate(QDateTime::currentDateTime().addDays(30));
            jar.setCookiesFromUrl({session, expired, lasting}, site);
            ItemDatabase db(u":memory:"_s);
            ActivityLog log(db);
            ScriptedPrompter prompter;
            PageFetcher a(&jar, log, prompter), b(&jar, log, prompter);
            // Both fetchers see the one jar, and it outlives them.
        }
        PersistentCookieJar again(file);
        QStringList names;
        for (const QNetworkCookie &c : again.cookiesForUrl(site))
            names << QString::fromLatin1(c.name());
        names.sort();
        QCOMPARE(names, (QStringList{u"SWSESSION"_s, u"Y"_s}));
    }
};

QTEST_GUILESS_MAIN(tst_Fetcher)
#include "tst_fetcher.moc"
