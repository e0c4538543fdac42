#include "road.h"
#include "tempdir.h"

#include <QFile>
#include <QNetworkProxy>
#include <QProcess>
#include <QStatusBar>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

using namespace sw;

// The whole road, nobody at the keyboard but the test: log in through the browser, take
// the watch list, set the limits in the bid windows, and let the scheduler bid.
class tst_RoadE2E : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void demoScenarioFromLoginToWinners();
    void restartLosesNothing();
    void realPagesAndFaultsUnattended();
};

namespace {

// One site for the whole suite: the browser engine reads the proxy once, when it starts.
sim::SimSite *g_site = nullptr;

void newDay(sim::Scenario s)
{
    g_site->setScenario(std::move(s));
    QWebEngineProfile::defaultProfile()->cookieStore()->deleteAllCookies();
}

sim::Bidder member(const QStringList &watchlist)
{
    return {QString::fromLatin1(Road::kMember), QString::fromLatin1(Road::kPassword), watchlist};
}

// A plain item: nobody else bids, it ends `endsIn` seconds from now.
sim::Item plainItem(const QString &id, int endsIn, int server = 3)
{
    sim::Item it;
    it.id = id;
    it.server = server;
    it.title = QStringLiteral("テスト商品 ") + id;
    it.seller = QStringLiteral("seller");
    it.startPrice = it.price = 1000;
    it.autoExtend = false;
    const QDateTime now = QDateTime::currentDateTime();
    it.end =
        QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()))
            .addSecs(endsIn);
    return it;
}

// How late each item's first confirmation reached the site after its bid time, in ms.
QHash<QString, qint64> lateness(const sim::SimSite &site, qint64 since,
                                const QHash<QString, QDateTime> &ends, int befSec)
{
    QHash<QString, qint64> late;
    const QHash<QString, qint64> at = confirmations(site, since);
    for (auto it = at.cbegin(); it != at.cend(); ++it) {
        if (ends.contains(it.key()))
            late.insert(it.key(), it.value() - ends[it.key()].addSecs(-befSec).toMSecsSinceEpoch());
    }
    return late;
}

QString dump(Road &road)
{
    QString out = QStringLiteral("log:\n") + road.logLines().join(QLatin1Char('\n'));
    out += QStringLiteral("\nsite:");
    for (const sim::RequestRecord &r : road.site.requests()) {
        if (r.path.startsWith(QLatin1String("/jp/")) &&
            !r.path.startsWith(QLatin1String("/jp/auction")))
            out += QLatin1Char('\n') + QString::number(r.atMs % 100000) + QLatin1Char(' ') +
                   r.host + r.path + QLatin1Char('?') + r.query + QStringLiteral(" -> ") +
                   QString::number(r.status) + QLatin1Char(' ') + r.fault;
    }
    return out;
}

} // namespace

void tst_RoadE2E::initTestCase()
{
    g_site = new sim::SimSite(sim::Scenario{}, this);
    QVERIFY(g_site->listenOn() != 0);
    // The built-in browser and the windows that keep the default connection.
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), g_site->port()));
}

void tst_RoadE2E::cleanupTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void tst_RoadE2E::demoScenarioFromLoginToWinners()
{
    // The shipped demo, its clock running at three times the speed.
    QFile file(QStringLiteral(DEMO_SCENARIO));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime start =
        QDateTime(now.date(), QTime(now.time().hour(), now.time().minute(), now.time().second()));
    QString why;
    std::optional<sim::Scenario> s = sim::Scenario::fromJson(file.readAll(), start, &why);
    QVERIFY2(s, qPrintable(why));
    constexpr double kPace = 0.3;
    QHash<QString, QDateTime> ends;
    for (sim::Item &it : s->items) {
        it.end = start.addMSecs(qint64(start.msecsTo(it.end) * kPace));
        for (sim::RivalBid &r : it.rivals) {
            r.at = r.at < 0 ? r.at : r.at * kPace;
            r.beforeEnd = r.beforeEnd < 0 ? r.beforeEnd : r.beforeEnd * kPace;
        }
        ends.insert(it.id, it.end);
    }
    newDay(*s);
    const qint64 since = QDateTime::currentMSecsSinceEpoch();

    TempHome home;
    constexpr int kBefSec = 10;
    Road road(*g_site, home.path(QStringLiteral("data")), kBefSec);
    QVERIFY2(road.logIn(), "the login did not complete");
    QVERIFY(road.importWatchList(8));
    QCOMPARE(road.item(QStringLiteral("d1004"))->ItemYenKibou, 3000);

    // Above the rivals; below the reserve; above the buy-it-now price; below a rival; alone.
    QVERIFY(road.setLimits(QStringLiteral("d1001"), 5000, 1));
    QVERIFY(road.setLimits(QStringLiteral("d1003"), 8000, 1));
    QVERIFY(road.setLimits(QStringLiteral("d1004"), 3500, 1));
    QVERIFY(road.setLimits(QStringLiteral("d1005"), 10000, 1));
    QVERIFY(road.setLimits(QStringLiteral("d1006"), 1500, 1));
    QVERIFY2(QDateTime::currentDateTime() < ends[QStringLiteral("d1001")].addSecs(-kBefSec - 3),
             "setting up took too long for the first bid");

    const QStringList bidOn = {QStringLiteral("d1001"), QStringLiteral("d1003"),
                               QStringLiteral("d1004"), QStringLiteral("d1005"),
                               QStringLiteral("d1006")};
    const bool allEnded = QTest::qWaitFor(
        [&] {
            for (const QString &id : bidOn) {
                if (!road.item(id)->fin)
                    return false;
            }
            return true;
        },
        150000);
    if (!allEnded)
        qWarning("%s", qPrintable(dump(road)));
    QVERIFY(allEnded);

    const QHash<QString, qint64> late = lateness(*g_site, since, ends, kBefSec);
    for (const QString &id : bidOn) {
        QVERIFY2(late.contains(id), qPrintable(id + QStringLiteral(" was not confirmed")));
        qInfo("%s: confirmation %lld ms after its bid time", qPrintable(id), late[id]);
        QVERIFY2(late[id] >= -300 && late[id] <= 100, qPrintable(id));
    }
    QCOMPARE(confirmations(*g_site, since).size(), bidOn.size()); // nothing else was bid on

    struct Expected
    {
        const char *id;
        const char *winner;
        int status;
    };
    for (const Expected &e :
         {Expected{"d1001", "demo_taro", Won}, Expected{"d1003", "", Watching},
          Expected{"d1004", "demo_taro", Won}, Expected{"d1005", "rival_jiro", Watching},
          Expected{"d1006", "demo_taro", Won}}) {
        const ItemRecord r = *road.item(QString::fromLatin1(e.id));
        QVERIFY2(r.fin, e.id);
        if (e.status == Won)
            QCOMPARE(r.SaikougakuShaid, QString::fromLatin1(e.winner));
        else
            QVERIFY2(r.SaikougakuShaid != QLatin1String("demo_taro"), e.id);
        QCOMPARE(r.status, e.status);
    }
    QCOMPARE(road.item(QStringLiteral("d1001"))->ItemYenNow, 4300); // rival's 4,200 + one unit

    const QStringList log = road.logLines();
    for (const QString &line :
         {QStringLiteral("入札準備開始：d1001"), QStringLiteral("入札開始：d1001：5000"),
          QStringLiteral("入札結果：d1001：5000：成功 "),
          QStringLiteral("入札開始：d1004：3000"), // the buy-it-now price, not the maximum
          QStringLiteral("入札結果：d1004：3000：あなたが落札しました。"),
          QStringLiteral("入札結果：d1003：8000：最低落札価格よりも低い金額 "),
          QStringLiteral("入札開始：d1005：10000"), QStringLiteral("入札開始：d1006：1500")}) {
        if (!log.contains(line))
            qWarning("%s", qPrintable(dump(road)));
        QVERIFY2(log.contains(line), qPrintable(line));
    }
    for (const QString &line : log)
        QVERIFY2(!line.contains(QStringLiteral("d1002")) && !line.contains(QStringLiteral("d1007")),
                 qPrintable(line));
}

void tst_RoadE2E::restartLosesNothing()
{
    sim::Scenario s;
    s.showSeconds = true; // these auctions end at any second
    s.bidders << member({QStringLiteral("r1"), QStringLiteral("r2")});
    s.items << plainItem(QStringLiteral("r1"), 25) << plainItem(QStringLiteral("r2"), 60);
    const QDateTime endR2 = s.items[1].end;
    newDay(s);
    const qint64 since = QDateTime::currentMSecsSinceEpoch();
    TempHome home;
    const QString data = home.path(QStringLiteral("data"));
    constexpr int kBefSec = 5;
    {
        Road road(*g_site, data, kBefSec);
        QVERIFY(road.logIn());
        QVERIFY(road.importWatchList(2));
        QVERIFY(road.setLimits(QStringLiteral("r1"), 3000, 1, 2));
        QVERIFY(road.setLimits(QStringLiteral("r2"), 4000, 1, 3));
        QVERIFY(QTest::qWaitFor([&] { return road.item(QStringLiteral("r1"))->fin; }, 60000));
        // The program ends in the middle of the day.
    }
    const qsizetype loginsBefore = g_site->requestsTo(QStringLiteral("/config/login")).size();

    // Started again as a program of its own, on the same data folder.
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SNIPEWELL_HOME"), data);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("http_proxy"),
               QStringLiteral("http://127.0.0.1:") + QString::number(g_site->port()));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(SNIPEWELL_BIN));
    QVERIFY(app.waitForStarted());
    auto r2Ended = [&data] {
        ItemDatabase db(data + QStringLiteral("/db2k.mdb"));
        return db.open() && db.itemByItemid(QStringLiteral("r2")) &&
               db.itemByItemid(QStringLiteral("r2"))->fin;
    };
    const bool ended = QTest::qWaitFor(r2Ended, 90000);
    const bool running = app.state() == QProcess::Running;
    app.terminate();
    app.waitForFinished(10000);
    QVERIFY(ended);
    QVERIFY(running);

    // The next bid went out on time, with the login of before the restart.
    const QHash<QString, qint64> at = confirmations(*g_site, since);
    QVERIFY(at.contains(QStringLiteral("r2")));
    const qint64 late = at[QStringLiteral("r2")] - endR2.addSecs(-kBefSec).toMSecsSinceEpoch();
    qInfo("r2 after the restart: confirmation %lld ms after its bid time", late);
    QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    QCOMPARE(g_site->requestsTo(QStringLiteral("/config/login")).size(), loginsBefore);

    ItemDatabase db(data + QStringLiteral("/db2k.mdb"));
    QVERIFY(db.open());
    const ItemRecord r1 = *db.itemByItemid(QStringLiteral("r1"));
    const ItemRecord r2 = *db.itemByItemid(QStringLiteral("r2"));
    QCOMPARE(r1.ItemYen, 3000);
    QCOMPARE(r1.cat, QStringLiteral("2"));
    QCOMPARE(r1.status, int(Won));
    QCOMPARE(r2.ItemYen, 4000);
    QCOMPARE(r2.cat, QStringLiteral("3"));
    QCOMPARE(r2.status, int(Won));
    QStringList log;
    for (const LogEntry &e : db.logEntries().value_or(QList<LogEntry>{}))
        log << e.Memo;
    QVERIFY(log.contains(QStringLiteral("入札結果：r1：3000：成功 ")));
    QVERIFY(log.contains(QStringLiteral("入札結果：r2：4000：成功 ")));
    QFile cookies(data + QStringLiteral("/cookies.txt"));
    QVERIFY(cookies.open(QIODevice::ReadOnly));
    QVERIFY(cookies.readAll().contains(sim::SimSite::sessionCookieName().toLatin1()));
}

void tst_RoadE2E::realPagesAndFaultsUnattended()
{
    // Pages as the real site writes them, and the faults it has, in one unattended evening.
    sim::Scenario s;
    s.showSeconds = true; // these auctions end at any second
    const QStringList ids = {QStringLiteral("w1"), QStringLiteral("w2"), QStringLiteral("w3"),
                             QStringLiteral("w4"), QStringLiteral("w5"), QStringLiteral("w6"),
                             QStringLiteral("w7")};
    s.bidders << member(ids);
    s.bidders << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    const int endsIn[] = {25, 28, 31, 34, 37, 40, 47};
    for (int i = 0; i < ids.size(); ++i)
        s.items << plainItem(ids[i], endsIn[i], 1 + i);
    sim::Item &talk = s.items[0]; // a seller who talks of winning and ending
    talk.title = QStringLiteral("前回落札しました品の同型");
    talk.description = QStringLiteral("前回は3000円で落札しました。最高額入札者：多数　終了間近");
    sim::Item &noUnit = s.items[1]; // no unit on the page, a rival above our maximum
    noUnit.showUnit = false;
    noUnit.highBidder = QStringLiteral("rival");
    noUnit.maxBids.insert(noUnit.highBidder, 9000);
    noUnit.bids = 1;
    s.items[2].reserve = 8000;                                // a reserve above our maximum
    s.items[5].title = QStringLiteral("同じカテゴリ 一つ目"); // w6 and w7: one win is enough
    s.items[6].title = QStringLiteral("同じカテゴリ 二つ目");
    newDay(s);
    sim::Fault login; // w5's preview is answered with the login page
    login.host = QStringLiteral("page5.*");
    login.path = QStringLiteral("/jp/show/bid_preview");
    login.kind = sim::Fault::LoginPage;
    g_site->addFault(login);
    QHash<QString, QDateTime> ends;
    for (const sim::Item &it : s.items)
        ends.insert(it.id, it.end);
    const qint64 since = g_site->scenario().now().toMSecsSinceEpoch();
    TempHome home;
    constexpr int kBefSec = 5;
    Road road(*g_site, home.path(QStringLiteral("data")), kBefSec, true);
    QVERIFY(road.logIn());
    QVERIFY(road.importWatchList(ids.size()));
    for (int i = 0; i < ids.size(); ++i)
        QVERIFY(road.setLimits(ids[i], 5000, 1, i >= 5 ? 1 : 0));
    bool busyPageAdded = false;
    QVERIFY(QTest::qWaitFor(
        [&] {
            // After w4's bid is accepted its page turns into the site's busy page.
            if (!busyPageAdded && confirmations(*g_site, since).contains(QStringLiteral("w4"))) {
                sim::Fault busy;
                busy.host = QStringLiteral("page4.*");
                busy.path = QStringLiteral("/jp/auction/*");
                busy.kind = sim::Fault::ErrorPage;
                g_site->addFault(busy);
                busyPageAdded = true;
            }
            return g_site->scenario().now() > ends[QStringLiteral("w7")].addSecs(4);
        },
        120000));

    auto confirmationsOf = [&](const QString &id) {
        int n = 0;
        for (const sim::RequestRecord &r :
             g_site->requestsTo(QStringLiteral("/jp/config/placebid")))
            n += r.item == id && r.atMs >= since ? 1 : 0;
        return n;
    };
    const QString why = dump(road);
    QCOMPARE(confirmationsOf(QStringLiteral("w1")), 1);
    QCOMPARE(road.item(QStringLiteral("w1"))->status, int(Won)); // the words did not stop it
    QCOMPARE(confirmationsOf(QStringLiteral("w2")), 1);          // refused at the maximum: once
    QCOMPARE(confirmationsOf(QStringLiteral("w3")), 1);          // below the reserve: once
    QCOMPARE(confirmationsOf(QStringLiteral("w4")), 1);          // accepted, then unreadable: once
    QCOMPARE(confirmationsOf(QStringLiteral("w5")), 0);          // the login page: not sent
    QVERIFY2(road.frame->login() && road.frame->login()->isVisible(), qPrintable(why));
    QCOMPARE(confirmationsOf(QStringLiteral("w6")), 1);
    QCOMPARE(road.item(QStringLiteral("w6"))->status, int(Won));
    QCOMPARE(confirmationsOf(QStringLiteral("w7")), 0); // its category is won already
    const QHash<QString, qint64> late = lateness(*g_site, since, ends, kBefSec);
    for (const QString &id : {QStringLiteral("w1"), QStringLiteral("w6")})
        QVERIFY2(late[id] >= -300 && late[id] <= 100, qPrintable(id));
    for (const QString &id : ids) {
        QVERIFY2(g_site->maxPerSecond(id) <= 4, qPrintable(id + QLatin1Char('\n') + why));
        for (const sim::RequestRecord &r : g_site->requests()) {
            if (r.item == id && r.atMs >= since && !r.path.startsWith(QLatin1String("/jp/auction")))
                QVERIFY2(r.atMs < ends[id].toMSecsSinceEpoch(), qPrintable(id + r.path));
        }
    }
    const QStringList log = road.logLines();
    // w6's result cannot be read before w7's bid would start: only w6 bids, and w7 says so
    // from the moment it is armed, not at its last second.
    QVERIFY2(log.contains(QStringLiteral("入札しません：w7 同じカテゴリ 二つ目：同じカテゴリの"
                                         "「同じカテゴリ 一つ目」と終了時刻が近いので入札しません"
                                         "（先に終わる方だけ入札します）")),
             qPrintable(why));
    QVERIFY(std::any_of(log.cbegin(), log.cend(), [](const QString &l) {
        return l.startsWith(QStringLiteral("入札できませんでした：w5：5000：ログインが必要です"));
    }));
}

QTEST_MAIN(tst_RoadE2E)
#include "tst_road_e2e.moc"
