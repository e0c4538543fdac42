#include "credentials.h"
#include "database.h"
#include "settingsstore.h"
#include "simsettings.h"
#include "simsite.h"
#include "startupdb.h"
#include "tempdir.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <csignal>

using namespace sw;

// snipewell-service as the user runs it: a process of its own on a data folder, reached
// over HTTP; stopped with SIGTERM, killed outright, started again.
class tst_ServiceProcess : public QObject
{
    Q_OBJECT
private slots:
    void urlPrintsTheAddressWithTheToken();
    void refusesTheNetworkWithoutTls();
    void killedAndStartedAgainItStillBids();
    void theDesktopProgramSaysTheServiceHoldsTheFolder();
    void logsInWithoutADisplay();
    void todaysRoadInTheService();
};

namespace {

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

struct Folder
{
    TempHome home;
    AppPaths paths{home.path(QStringLiteral("data")),
                   home.path(QStringLiteral("data/snipewell.ini"))};
    quint16 port = freePort();

    Folder()
    {
        if (!createDataFolderIfNew(paths).ok())
            qFatal("cannot make the data folder");
        SettingsStore settings(paths.settingsFile);
        settings.save(QStringLiteral("Service"), QStringLiteral("Listen"),
                      QStringLiteral("127.0.0.1:") + QString::number(port));
        settings.save(QStringLiteral("Settings"), QStringLiteral("Keyring"), QStringLiteral("0"));
    }
    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("SNIPEWELL_HOME"), paths.dataDir);
        return e;
    }
    QString token() const
    {
        QFile f(paths.dataDir + QStringLiteral("/service.token"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).trimmed() : QString();
    }
    QStringList log()
    {
        ItemDatabase db(paths.database());
        db.open();
        QStringList out;
        for (const LogEntry &e : db.logEntries().value_or(QList<LogEntry>{}))
            out.prepend(e.Memo);
        return out;
    }
};

std::unique_ptr<QProcess> startService(const Folder &f)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(f.env());
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    p->start(QStringLiteral(SERVICE_BIN));
    p->waitForStarted();
    return p;
}

QJsonObject call(const Folder &f, const QByteArray &method, const QString &path,
                 const QByteArray &body = {})
{
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest r(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(f.port) + path));
    r.setRawHeader("Authorization", "Bearer " + f.token().toLatin1());
    r.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = nam.sendCustomRequest(r, method, body);
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
        return {};
    const QJsonObject o = QJsonDocument::fromJson(reply->readAll()).object();
    reply->deleteLater();
    return o;
}

// GET /api/status until the service answers.
bool answers(const Folder &f, int timeoutMs = 15000)
{
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    return QTest::qWaitFor(
        [&] {
            QNetworkRequest r(QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(f.port) +
                                   QStringLiteral("/api/status")));
            r.setRawHeader("Authorization", "Bearer " + f.token().toLatin1());
            QNetworkReply *reply = nam.get(r);
            const bool ok =
                QTest::qWaitFor([reply] { return reply->isFinished(); }, 2000) &&
                reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
            reply->deleteLater();
            return ok;
        },
        timeoutMs);
}

} // namespace

void tst_ServiceProcess::urlPrintsTheAddressWithTheToken()
{
    Folder f;
    QProcess p;
    p.setProcessEnvironment(f.env());
    p.start(QStringLiteral(SERVICE_BIN), {QStringLiteral("--url")});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    const QString line = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    QCOMPARE(line, QStringLiteral("http://127.0.0.1:") + QString::number(f.port) +
                       QStringLiteral("/?token=") + f.token());
    QCOMPARE(f.token().size(), 64); // 256 bits
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    QVERIFY(
        !(QFileInfo(f.paths.dataDir + QStringLiteral("/service.token")).permissions() & others));
}

void tst_ServiceProcess::refusesTheNetworkWithoutTls()
{
    Folder f;
    SettingsStore(f.paths.settingsFile)
        .save(QStringLiteral("Service"), QStringLiteral("Listen"),
              QStringLiteral("0.0.0.0:") + QString::number(f.port));
    QProcess p;
    p.setProcessEnvironment(f.env());
    p.start(QStringLiteral(SERVICE_BIN));
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("TLS が必要です")),
             "the refusal names TLS");
    QTcpServer probe; // nothing listens there
    QVERIFY(probe.listen(QHostAddress::Any, f.port));
}

void tst_ServiceProcess::killedAndStartedAgainItStillBids()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime end =
        QDateTime::fromMSecsSinceEpoch((now.toMSecsSinceEpoch() + 30000) / 1000 * 1000);
    sim::Scenario s;
    s.showSeconds = true;
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}}
              << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    for (const auto &[id, at] : {std::pair{QStringLiteral("x1"), end},
                                 std::pair{QStringLiteral("x2"), end.addSecs(3600)}}) {
        sim::Item it;
        it.id = id;
        it.server = 3;
        it.title = QStringLiteral("商品 ") + id;
        it.price = 3000;
        it.bids = 1;
        it.highBidder = QStringLiteral("rival");
        it.maxBids.insert(it.highBidder, 3000);
        it.end = at;
        it.autoExtend = false;
        s.items << it;
    }
    sim::SimSite site(s);
    QVERIFY(site.listenOn() != 0);
    Folder f;
    {
        SettingsStore settings(f.paths.settingsFile);
        settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"),
                      QStringLiteral("snipe_taro"));
        settings.save(QStringLiteral("Settings"), QStringLiteral("ypass"),
                      Scramble(QStringLiteral("taro1234")));
        settings.save(QStringLiteral("Settings"), QStringLiteral("BefSec"), QStringLiteral("5"));
        reachSimulatedSite(settings, site.port());
        ItemDatabase db(f.paths.database());
        QVERIFY(db.open());
        for (const sim::Item &it : s.items) {
            ItemRecord r;
            r.itemid = it.id;
            r.Itemname = it.title;
            r.Serverid = QStringLiteral("3");
            r.ItemYenNow = it.price;
            r.SaikougakuShaid = it.highBidder;
            r.enddate = it.end;
            r.NumUri = 1;
            r.NumNyuusatu = 1;
            r.ItemYenUnit = 100;
            db.upsertItem(r);
            db.saveUserColumns(db.itemByItemid(it.id)->id, 5000, QStringLiteral("0"), 1, 0);
        }
    }
    auto service = startService(f);
    QVERIFY(answers(f));
    // A crash, a power cut: nothing is said, and the next start picks the bids up again.
    QTest::qWait(3000);
    ::kill(pid_t(service->processId()), SIGKILL);
    QVERIFY(service->waitForFinished(5000));
    service = startService(f);
    QVERIFY(answers(f));
    QTRY_VERIFY_WITH_TIMEOUT(!site.requestsTo(QStringLiteral("/jp/config/placebid")).isEmpty(),
                             40000);
    const qint64 late = site.requestsTo(QStringLiteral("/jp/config/placebid")).first().atMs -
                        end.addSecs(-5).toMSecsSinceEpoch();
    QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    QTRY_VERIFY_WITH_TIMEOUT(
        f.log().contains(QStringLiteral("最終結果：x1：商品 x1：落札しました：3,100円")), 20000);
    // systemctl stop: the bid still to come is said to be abandoned.
    ::kill(pid_t(service->processId()), SIGTERM);
    QVERIFY(service->waitForFinished(10000));
    QCOMPARE(service->exitCode(), 0);
    const QStringList log = f.log();
    QVERIFY2(log.contains(QStringLiteral("入札中止（入札サービスを終了しました）：x2（商品 x2）")),
             qPrintable(log.join(u'\n')));
    QVERIFY(log.contains(QStringLiteral("入札サービスを終了しました")));
}

void tst_ServiceProcess::theDesktopProgramSaysTheServiceHoldsTheFolder()
{
    Folder f;
    auto service = startService(f);
    QVERIFY(answers(f));
    QProcess desktop;
    QProcessEnvironment env = f.env();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    desktop.setProcessEnvironment(env);
    desktop.start(QStringLiteral(SNIPEWELL_BIN));
    QVERIFY(desktop.waitForFinished(20000));
    QCOMPARE(desktop.exitCode(), 1);
    const QString said = QString::fromUtf8(desktop.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("入札サービス（snipewell-service）")) &&
                 said.contains(QStringLiteral("127.0.0.1:") + QString::number(f.port)),
             qPrintable(said));
    ::kill(pid_t(service->processId()), SIGTERM);
    QVERIFY(service->waitForFinished(10000));
}

void tst_ServiceProcess::logsInWithoutADisplay()
{
    sim::Scenario s;
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}};
    sim::SimSite site(s);
    QVERIFY(site.listenOn() != 0);
    Folder f;
    SettingsStore settings(f.paths.settingsFile);
    reachSimulatedSite(settings, site.port());
    auto service = startService(f);
    QVERIFY(answers(f));
    QTRY_COMPARE_WITH_TIMEOUT(
        call(f, "GET", QStringLiteral("/api/status")).value(QStringLiteral("loggedIn")).toVariant(),
        QVariant(false), 10000);
    // The page's login form: the desktop program logs in offscreen, and exits.
    const QJsonObject started = call(f, "POST", QStringLiteral("/api/login"),
                                     R"({"id": "snipe_taro", "password": "taro1234"})");
    QCOMPARE(started.value(QStringLiteral("login")).toString(), QStringLiteral("ログイン中…"));
    QTRY_COMPARE_WITH_TIMEOUT(
        call(f, "GET", QStringLiteral("/api/status")).value(QStringLiteral("loggedIn")).toVariant(),
        QVariant(true), 90000);
    const QStringList log = f.log();
    QVERIFY2(log.contains(QStringLiteral("入札サービス：ログインしました（snipe_taro）")),
             qPrintable(log.join(u'\n')));
    QVERIFY(!log.join(u'\n').contains(QStringLiteral("taro1234"))); // never the password
    QFile cookies(f.paths.dataDir + QStringLiteral("/cookies.txt"));
    QVERIFY(cookies.open(QIODevice::ReadOnly));
    QVERIFY(cookies.readAll().contains(sim::SimSite::sessionCookieName().toLatin1()));
    ::kill(pid_t(service->processId()), SIGTERM);
    QVERIFY(service->waitForFinished(10000));
}

void tst_ServiceProcess::todaysRoadInTheService()
{
    // Today's site: a member without a password, and an item read at its canonical address.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime end =
        QDateTime::fromMSecsSinceEpoch((now.toMSecsSinceEpoch() + 50000) / 1000 * 1000);
    sim::Scenario s;
    s.today = true;
    s.showSeconds = true;
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}}
              << sim::Bidder{QStringLiteral("sms_hanako"), QString(), {}, QStringLiteral("246810")}
              << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    sim::Item it;
    it.id = QStringLiteral("t1");
    it.title = QStringLiteral("今の商品");
    it.price = 3000;
    it.bids = 1;
    it.highBidder = QStringLiteral("rival");
    it.maxBids.insert(it.highBidder, 3000);
    it.end = end;
    it.autoExtend = false;
    s.items << it;
    sim::SimSite site(s);
    QVERIFY(site.listenOn() != 0);
    Folder f;
    {
        SettingsStore settings(f.paths.settingsFile);
        reachSimulatedSite(settings, site.port());
        settings.save(QStringLiteral("Settings"), QStringLiteral("BefSec"), QStringLiteral("5"));
        settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"),
                      QStringLiteral("old_id"));
    }
    auto service = startService(f);
    QVERIFY(answers(f));
    auto stored = [&f] {
        return SettingsStore(f.paths.settingsFile)
            .get(QStringLiteral("Settings"), QStringLiteral("yuser"), QString());
    };
    // A typo: said within seconds in the site's words; what was stored stays.
    call(f, "POST", QStringLiteral("/api/login"),
         R"({"id": "snipe_taro", "password": "typo1234"})");
    QTRY_VERIFY_WITH_TIMEOUT(
        call(f, "GET", QStringLiteral("/api/status"))
            .value(QStringLiteral("login"))
            .toString()
            .startsWith(QStringLiteral("ログインできませんでした：パスワード")),
        20000);
    QCOMPARE(stored(), QStringLiteral("old_id"));
    // No password: the site asks for the code sent by SMS, the page passes the answer on.
    call(f, "POST", QStringLiteral("/api/login"), R"({"id": "sms_hanako", "password": ""})");
    QTRY_VERIFY_WITH_TIMEOUT(!call(f, "GET", QStringLiteral("/api/status"))
                                  .value(QStringLiteral("loginQuestion"))
                                  .isNull(),
                             30000);
    QCOMPARE(stored(), QStringLiteral("old_id"));
    call(f, "POST", QStringLiteral("/api/login/answer"), R"({"answer": "246810"})");
    QTRY_COMPARE_WITH_TIMEOUT(
        call(f, "GET", QStringLiteral("/api/status")).value(QStringLiteral("loggedIn")).toVariant(),
        QVariant(true), 30000);
    QCOMPARE(stored(), QStringLiteral("sms_hanako"));

    // Handed over by its address: bid through the item page, on time, and won.
    const QJsonObject added =
        call(f, "POST", QStringLiteral("/api/items"),
             R"({"item": "https://auctions.yahoo.co.jp/jp/auction/t1", "max": 5000})");
    QCOMPARE(added.value(QStringLiteral("itemid")).toString(), QStringLiteral("t1"));
    QTRY_VERIFY_WITH_TIMEOUT(!site.confirmations().isEmpty(), 60000);
    const qint64 late = site.confirmations().first().atMs - end.addSecs(-5).toMSecsSinceEpoch();
    QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    QCOMPARE(site.confirmations().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(
        f.log().contains(QStringLiteral("最終結果：t1：今の商品：落札しました：3,100円")), 30000);
    ::kill(pid_t(service->processId()), SIGTERM);
    QVERIFY(service->waitForFinished(10000));
}

QTEST_GUILESS_MAIN(tst_ServiceProcess)
#include "tst_service_process.moc"
