#include "activitylog.h"
#include "cookiejar.h"
#include "database.h"
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
#include <QTimer>

using namespace sw;

namespace {

sim::Scenario scenario(bool halfWidth = false)
{
    sim::Scenario s;
    s.halfWidthLabels = halfWidth;
    sim::Item it;
    it.id = QStringLiteral("x1");
    it.server = 3;
    it.title = QStringLiteral("ガンダム ﾌﾟﾗﾓﾃﾞﾙ");
    it.price = 1200;
    it.end = QDateTime::currentDateTime().addSecs(3600);
    s.items << it;
    return s;
}

const QString kItemUrl = QStringLiteral("http://page3.auctions.yahoo.co.jp/jp/auction/x1");

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
    ItemDatabase db{home.path(QStringLiteral("db2k.mdb"))};
    ActivityLog log{db};
    ScriptedPrompter prompter;
    PersistentCookieJar jar{home.path(QStringLiteral("cookies.txt"))};
    sim::SimSite site;
    PageFetcher fetcher{&jar, log, prompter};
    SiteHosts hosts;
    explicit Net(sim::Scenario s = scenario()) : site(std::move(s))
    {
        if (!db.open() || !db.createSchema() || site.listenOn() == 0)
            qFatal("cannot set up");
        fetcher.applyProxySetting(QStringLiteral("HTTP=127.0.0.1:") + QString::number(site.port()));
        hosts.scheme = QStringLiteral("http"); // the proxy is on loopback
        fetcher.setSiteHosts(&hosts);
    }
    QStringList logLines()
    {
        QStringList out;
        const QList<LogEntry> entries = db.logEntries().value();
        for (const LogEntry &e : entries)
            out << e.Memo;
        return out;
    }
};

} // namespace

class tst_Fetcher : public QObject
{
    Q_OBJECT
private slots:
    void pageIsDecodedWithKanaFolded();
    void faultsLogExactlyOneText_data();
    void faultsLogExactlyOneText();
    void latencyWithinTheTimeOutIsFine();
    void passwordNeverReachesTheLog();
    void passwordGoesOnlyToTheSite_data();
    void passwordGoesOnlyToTheSite();
    void httpsReachesTheSiteThroughItsProxy();
    void closingTheWindowMidFetchIsHarmless();
    void proxySetting_data();
    void proxySetting();
    void cookiesAreSharedAndSurviveARestart();
};

void tst_Fetcher::pageIsDecodedWithKanaFolded()
{
    Net n(scenario(true));
    const FetchResult r = fetchNow(n.fetcher, kItemUrl);
    QVERIFY(r.ok);
    QVERIFY(r.text.contains(QStringLiteral("Yahoo!オークション - ガンダム プラモデル")));
    QVERIFY(r.text.contains(QStringLiteral("<TD><b>1,200円</b>")));
    QVERIFY(!r.text.contains(QLatin1Char('\r')));
    const FetchResult crlf = fetchNow(n.fetcher, kItemUrl, true);
    QVERIFY(crlf.text.contains(QStringLiteral("\r\n")));
    QCOMPARE(crlf.text.count(QLatin1Char('\n')), crlf.text.count(QStringLiteral("\r\n")));
    QVERIFY(n.logLines().isEmpty());
    QCOMPARE(n.prompter.beeps, 0);
    QCOMPARE(n.site.requests().size(), 2);
    QCOMPARE(n.site.requests().first().host, QStringLiteral("page3.auctions.yahoo.co.jp"));
}

void tst_Fetcher::faultsLogExactlyOneText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("one-byte body") << int(sim::Fault::OneByte) << FetchTexts::tooShort();
    QTest::newRow("stall past the time-out") << int(sim::Fault::Stall) << FetchTexts::timeout();
    QTest::newRow("dropped connection")
        << int(sim::Fault::Drop)
        << QStringLiteral("ｴﾗｰ番号  2:page3.auctions.yahoo.co.jp でｴﾗｰが発生しました。\r");
    QTest::newRow("HTTP 500")
        << int(sim::Fault::Http500)
        << QStringLiteral("ｴﾗｰ番号  401:page3.auctions.yahoo.co.jp でｴﾗｰが発生しました。\r");
}

void tst_Fetcher::faultsLogExactlyOneText()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    Net n;
    n.fetcher.setTimeoutMs(300);
    sim::Fault f;
    f.kind = sim::Fault::Kind(kind);
    f.host = QStringLiteral("page3.*");
    n.site.addFault(f);
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

void tst_Fetcher::latencyWithinTheTimeOutIsFine()
{
    Net n;
    n.fetcher.setTimeoutMs(2000);
    sim::Fault f;
    f.kind = sim::Fault::Latency;
    f.ms = 200;
    n.site.addFault(f);
    QElapsedTimer t;
    t.start();
    QVERIFY(fetchNow(n.fetcher, kItemUrl).ok);
    QVERIFY(t.elapsed() >= 190);
    QVERIFY(n.logLines().isEmpty());
}

void tst_Fetcher::passwordNeverReachesTheLog()
{
    Net n;
    sim::Fault f;
    f.kind = sim::Fault::Http500;
    n.site.addFault(f);
    const FetchResult r = fetchNow(
        n.fetcher, QStringLiteral("http://page3.auctions.yahoo.co.jp/jp/show/bid_preview?ItemID=x1"
                                  "&login=taro&passwd=%73%65%63%72%65%74&Bid=100"));
    QVERIFY(!r.ok);
    const QString line = n.logLines().value(0);
    QVERIFY(!line.isEmpty());
    QVERIFY2(!line.contains(QStringLiteral("%73%65")) && !line.contains(QStringLiteral("secret")),
             qPrintable(line));
    QVERIFY(n.site.requests().first().query.contains(QStringLiteral("passwd=****")));
}

void tst_Fetcher::passwordGoesOnlyToTheSite_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("hostsKnown");
    QTest::addColumn<QString>("proxy"); // "loopback": the simulated site is the proxy
    QTest::addColumn<QString>("said");  // empty: it goes out
    const QString query = QStringLiteral("/jp/show/bid_preview?ItemID=x1&login=taro&passwd=%73%65");
    auto elsewhere = [](const char *host) -> QString {
        return QStringLiteral("パスワードを含む要求をサイト以外のホスト（") +
               QString::fromLatin1(host) + QStringLiteral("）には送りません");
    };
    const QString site = QStringLiteral("http://page3.auctions.yahoo.co.jp");
    QTest::newRow("an item host of the site, the connection on loopback")
        << site + query << true << "loopback"
        << "";
    QTest::newRow("another host") << QStringLiteral("http://evil.example") + query << true
                                  << "loopback" << elsewhere("evil.example");
    QTest::newRow("the site's name as user info")
        << QStringLiteral("http://page3.auctions.yahoo.co.jp@127.0.0.1") + query << true
        << "loopback" << elsewhere("127.0.0.1");
    QTest::newRow("a look-alike host")
        << QStringLiteral("http://page3.auctions.yahoo.co.jp.evil.example") + query << true
        << "loopback" << elsewhere("page3.auctions.yahoo.co.jp.evil.example");
    QTest::newRow("another scheme than the configured one")
        << QStringLiteral("https://page3.auctions.yahoo.co.jp") + query << true << "loopback"
        << elsewhere("page3.auctions.yahoo.co.jp");
    QTest::newRow("a fetcher that knows no site hosts")
        << site + query << false << "loopback" << elsewhere("page3.auctions.yahoo.co.jp");
    // Plain http is readable by anyone on the way: only a connection that stays on this
    // machine may carry the password.
    QTest::newRow("plain http through a proxy elsewhere")
        << site + query << true << "HTTP=192.0.2.1:3128"
        << PageFetcher::plainPasswordRefusedText(QStringLiteral("page3.auctions.yahoo.co.jp"));
    QTest::newRow("plain http straight to the site")
        << site + query << true << ""
        << PageFetcher::plainPasswordRefusedText(QStringLiteral("page3.auctions.yahoo.co.jp"));
}

void tst_Fetcher::passwordGoesOnlyToTheSite()
{
    QFETCH(QString, url);
    QFETCH(bool, hostsKnown);
    QFETCH(QString, proxy);
    QFETCH(QString, said);
    Net n;
    if (!hostsKnown)
        n.fetcher.setSiteHosts(nullptr);
    if (proxy != QLatin1String("loopback"))
        QVERIFY(n.fetcher.applyProxySetting(proxy));
    fetchNow(n.fetcher, url);
    if (said.isEmpty()) {
        QCOMPARE(n.site.requests().size(), 1);
        return;
    }
    QVERIFY(n.site.requests().isEmpty());
    QCOMPARE(n.logLines(), QStringList{said});
}

void tst_Fetcher::httpsReachesTheSiteThroughItsProxy()
{
    Net n;
    serveTls(n.site);
    n.hosts.scheme = QStringLiteral("https");
    const QString today = QStringLiteral("https://page.auctions.yahoo.co.jp/jp/auction/x1");
    // A certificate nobody vouches for: nothing is read from it, and the log says why.
    QVERIFY(!fetchNow(n.fetcher, today).ok);
    QVERIFY(n.site.requests().isEmpty());
    QCOMPARE(n.logLines().size(), 1);
    QVERIFY(n.logLines().first().contains(QStringLiteral("SSL")));

    trustTestAuthority(); // as a fetcher made afterwards sees it
    PageFetcher fetcher(&n.jar, n.log, n.prompter);
    fetcher.applyProxySetting(QStringLiteral("HTTP=127.0.0.1:") + QString::number(n.site.port()));
    fetcher.setSiteHosts(&n.hosts);
    const FetchResult page = fetchNow(fetcher, today);
    QVERIFY2(page.ok, qPrintable(n.logLines().join(QLatin1Char('\n'))));
    QVERIFY(page.text.contains(QStringLiteral("ガンダム")));
    // The password goes out inside the tunnel; the site saw it on today's host.
    QVERIFY(fetchNow(fetcher, QStringLiteral("https://page.auctions.yahoo.co.jp/jp/show/"
                                             "bid_preview?ItemID=x1&login=taro&passwd=%73%65"))
                .ok);
    QCOMPARE(n.site.requests().size(), 2);
    QCOMPARE(n.site.requests().last().host, QStringLiteral("page.auctions.yahoo.co.jp"));
    QVERIFY(n.site.tunnelsEncrypted() >= 1);
    QCOMPARE(n.logLines().size(), 1);
}

void tst_Fetcher::closingTheWindowMidFetchIsHarmless()
{
    Net n;
    sim::Fault f;
    f.kind = sim::Fault::Stall;
    n.site.addFault(f);
    auto *fetcher = new PageFetcher(&n.jar, n.log, n.prompter);
    fetcher->applyProxySetting(QStringLiteral("HTTP=127.0.0.1:") + QString::number(n.site.port()));
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

void tst_Fetcher::proxySetting_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("named") << "HTTP=proxy.example.jp:8080" << int(ProxyChoice::Named)
                           << "proxy.example.jp" << 8080;
    QTest::newRow("empty is direct") << "" << int(ProxyChoice::Direct) << "" << 0;
    QTest::newRow("lower-case prefix") << "http=proxy:8080" << int(ProxyChoice::Invalid) << "" << 0;
    QTest::newRow("no port") << "HTTP=proxy" << int(ProxyChoice::Invalid) << "" << 0;
    QTest::newRow("port not a number") << "HTTP=proxy:80a" << int(ProxyChoice::Invalid) << "" << 0;
    QTest::newRow("something else") << "SOCKS=proxy:1080" << int(ProxyChoice::Invalid) << "" << 0;
}

void tst_Fetcher::proxySetting()
{
    QFETCH(QString, value);
    QFETCH(int, kind);
    QFETCH(QString, host);
    QFETCH(int, port);
    const ProxyChoice c = parseProxySetting(value);
    QCOMPARE(int(c.kind), kind);
    if (c.kind == ProxyChoice::Named) {
        QCOMPARE(c.proxy.hostName(), host);
        QCOMPARE(int(c.proxy.port()), port);
    }
    // A window that applies a bad value says so and keeps its default connection.
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    settings.save(QStringLiteral("Settings"), QStringLiteral("Proxy"), value);
    ItemDatabase db(QStringLiteral(":memory:"));
    ActivityLog log(db);
    ScriptedPrompter prompter;
    PageFetcher f(nullptr, log, prompter);
    configureFetcher(f, settings, true, prompter);
    QCOMPARE(prompter.messages.size(), kind == ProxyChoice::Invalid ? 1 : 0);
    if (kind == ProxyChoice::Invalid)
        QVERIFY(prompter.messages.first().startsWith(
            QStringLiteral("プロキシの設定が不正です。\n例：HTTP=")));
}

void tst_Fetcher::cookiesAreSharedAndSurviveARestart()
{
    TempHome home;
    const QString file = home.path(QStringLiteral("cookies.txt"));
    const QUrl site(QStringLiteral("http://user.auctions.yahoo.co.jp/"));
    {
        PersistentCookieJar jar(file);
        QNetworkCookie session("SWSESSION", "abc123");
        QNetworkCookie expired("OLD", "x");
        expired.setExpirationDate(QDateTime::currentDateTime().addDays(-1));
        QNetworkCookie lasting("Y", "v=1");
        lasting.setExpirationDate(QDateTime::currentDateTime().addDays(30));
        jar.setCookiesFromUrl({session, expired, lasting}, site);
        ItemDatabase db(QStringLiteral(":memory:"));
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
    QCOMPARE(names, (QStringList{QStringLiteral("SWSESSION"), QStringLiteral("Y")}));
}

QTEST_GUILESS_MAIN(tst_Fetcher)
#include "tst_fetcher.moc"
