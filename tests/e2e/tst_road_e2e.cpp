#include "loglines.h"
#include "road.h"
#include "simitems.h"
#include "tempdir.h"

#include <QFile>
#include <QNetworkProxy>
#include <QProcess>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;
using namespace sw;

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
    it.title = u"テスト商品 "_s + id;
    it.seller = u"seller"_s;
    it.startPrice = it.price = 1000;
    it.autoExtend = false;
    it.end = wholeSecond(1000 * endsIn);
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
    QString out = u"log:\n"_s + road.logLines().join(QLatin1Char('\n'));
    out += u"\nsite:"_s;
    for (const sim::RequestRecord &r : road.site.requests()) {
        if (r.path.startsWith("/jp/"_L1) && !r.path.startsWith("/jp/auction"_L1))
            out += QLatin1Char('\n') + QString::number(r.atMs % 100000) + QLatin1Char(' ') +
                   r.host + r.path + QLatin1Char('?') + r.query + u" -> "_s +
                   QString::number(r.status) + QLatin1Char(' ') + r.fault;
    }
    return out;
}

} // namespace

// The whole road, nobody at the keyboard but the test: log in through the browser, take
// the watch list, set the limits in the bid windows, and let the scheduler bid.
class tst_RoadE2E : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        g_site = new sim::SimSite(sim::Scenario{}, this);
        QVERIFY(g_site->listenOn() != 0);
        // The built-in browser and the windows that keep the default connection.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, g_site->port()));
    }

    void cleanupTestCase() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }

    void demoScenarioFromLoginToWinners()
    {
        // The shipped demo, its clock running at three times the speed.
        QFile file(QStringLiteral(DEMO_SCENARIO));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QDateTime start = wholeSecond(0);
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
        Road road(*g_site, home.path(u"data"_s), kBefSec);
        QVERIFY2(road.logIn(), "the login did not complete");
        QVERIFY(road.importWatchList(8));
        QCOMPARE(road.item(u"d1004"_s)->ItemYenKibou, 3000);

        // Above the rivals; below the reserve; above the buy-it-now price; below a rival; alone.
        QVERIFY(road.setLimits(u"d1001"_s, 5000, 1));
        QVERIFY(road.setLimits(u"d1003"_s, 8000, 1));
        QVERIFY(road.setLimits(u"d1004"_s, 3500, 1));
        QVERIFY(road.setLimits(u"d1005"_s, 10000, 1));
        QVERIFY(road.setLimits(u"d1006"_s, 1500, 1));
        QVERIFY2(QDateTime::currentDateTime() < ends[u"d1001"_s].addSecs(-kBefSec - 3),
                 "setting up took too long for the first bid");

        const QStringList bidOn = {u"d1001"_s, u"d1003"_s, u"d1004"_s, u"d1005"_s, u"d1006"_s};
        const bool allEnded = QTest::qWaitFor(
            [&] {
                return std::all_of(bidOn.begin(), bidOn.end(),
                                   [&](const QString &id) { return road.item(id)->fin; });
            },
            150000);
        if (!allEnded)
            qWarning("%s", qPrintable(dump(road)));
        QVERIFY(allEnded);

        const QHash<QString, qint64> late = lateness(*g_site, since, ends, kBefSec);
        for (const QString &id : bidOn) {
            QVERIFY2(late.contains(id), qPrintable(id + u" was not confirmed"_s));
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
                QVERIFY2(r.SaikougakuShaid != "demo_taro"_L1, e.id);
            QCOMPARE(r.status, e.status);
        }
        QCOMPARE(road.item(u"d1001"_s)->ItemYenNow, 4300); // rival's 4,200 + one unit

        const QStringList log = road.logLines();
        for (const QString &line :
             {u"入札準備開始：d1001"_s, u"入札開始：d1001：5000"_s,
              u"入札結果：d1001：5000：成功 "_s,
              u"入札開始：d1004：3000"_s, // the buy-it-now price, not the maximum
              u"入札結果：d1004：3000：あなたが落札しました。"_s,
              u"入札結果：d1003：8000：最低落札価格よりも低い金額 "_s, u"入札開始：d1005：10000"_s,
              u"入札開始：d1006：1500"_s}) {
            if (!log.contains(line))
                qWarning("%s", qPrintable(dump(road)));
            QVERIFY2(log.contains(line), qPrintable(line));
        }
        for (const QString &line : log)
            QVERIFY2(!line.contains(u"d1002"_s) && !line.contains(u"d1007"_s), qPrintable(line));
    }

    void restartLosesNothing()
    {
        sim::Scenario s;
        s.showSeconds = true; // these auctions end at any second
        s.bidders << member({u"r1"_s, u"r2"_s});
        s.items << plainItem(u"r1"_s, 25) << plainItem(u"r2"_s, 60);
        const QDateTime endR2 = s.items[1].end;
        newDay(s);
        const qint64 since = QDateTime::currentMSecsSinceEpoch();
        TempHome home;
        const QString data = home.path(u"data"_s);
        constexpr int kBefSec = 5;
        {
            Road road(*g_site, data, kBefSec);
            QVERIFY(road.logIn());
            QVERIFY(road.importWatchList(2));
            QVERIFY(road.setLimits(u"r1"_s, 3000, 1, 2));
            QVERIFY(road.setLimits(u"r2"_s, 4000, 1, 3));
            QVERIFY(QTest::qWaitFor([&] { return road.item(u"r1"_s)->fin; }, 60000));
            // The program ends in the middle of the day.
        }
        const qsizetype loginsBefore = g_site->requestsTo(u"/config/login"_s).size();

        // Started again as a program of its own, on the same data folder.
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SNIPEWELL_HOME"_s, data);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"http_proxy"_s, u"http://127.0.0.1:"_s + QString::number(g_site->port()));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(SNIPEWELL_BIN));
        QVERIFY(app.waitForStarted());
        auto r2Ended = [&data] {
            ItemDatabase db(data + u"/db2k.mdb"_s);
            return db.open() && db.itemByItemid(u"r2"_s) && db.itemByItemid(u"r2"_s)->fin;
        };
        const bool ended = QTest::qWaitFor(r2Ended, 90000);
        const bool running = app.state() == QProcess::Running;
        app.terminate();
        app.waitForFinished(10000);
        QVERIFY(ended);
        QVERIFY(running);

        // The next bid went out on time, with the login of before the restart.
        const QHash<QString, qint64> at = confirmations(*g_site, since);
        QVERIFY(at.contains(u"r2"_s));
        const qint64 late = at[u"r2"_s] - endR2.addSecs(-kBefSec).toMSecsSinceEpoch();
        qInfo("r2 after the restart: confirmation %lld ms after its bid time", late);
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
        QCOMPARE(g_site->requestsTo(u"/config/login"_s).size(), loginsBefore);

        ItemDatabase db(data + u"/db2k.mdb"_s);
        QVERIFY(db.open());
        for (const auto &[id, max, cat] :
             {std::tuple{u"r1"_s, 3000, u"2"_s}, std::tuple{u"r2"_s, 4000, u"3"_s}}) {
            const ItemRecord r = *db.itemByItemid(id);
            QVERIFY(r.ItemYen == max && r.cat == cat && r.status == int(Won));
        }
        const QStringList log = logLines(db);
        QVERIFY(log.contains(u"入札結果：r1：3000：成功 "_s));
        QVERIFY(log.contains(u"入札結果：r2：4000：成功 "_s));
        QFile cookies(data + u"/cookies.txt"_s);
        QVERIFY(cookies.open(QIODevice::ReadOnly));
        QVERIFY(cookies.readAll().contains(sim::SimSite::sessionCookieName().toLatin1()));
    }
};

QTEST_MAIN(tst_RoadE2E)
#include "tst_road_e2e.moc"
