#include "credentials.h"
#include "database.h"
#include "loglines.h"
#include "settingsstore.h"
#include "simitems.h"
#include "simsettings.h"
#include "simsite.h"
#include "startupdb.h"
#include "tempdir.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace sw;

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
    AppPaths paths{home.path(u"data"_s), home.path(u"data/snipewell.ini"_s)};
    quint16 port = freePort();

    Folder()
    {
        if (!createDataFolderIfNew(paths).ok())
            qFatal("cannot make the data folder");
        SettingsStore settings(paths.settingsFile);
        settings.save(u"Service"_s, u"Listen"_s, u"127.0.0.1:"_s + QString::number(port));
        settings.save(u"Settings"_s, u"Keyring"_s, u"0"_s);
    }
    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(u"SNIPEWELL_HOME"_s, paths.dataDir);
        return e;
    }
    QString token() const
    {
        QFile f(paths.dataDir + u"/service.token"_s);
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).trimmed() : QString();
    }
    QStringList log()
    {
        ItemDatabase db(paths.database());
        db.open();
        return logLines(db);
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
    QNetworkRequest r(QUrl(u"http://127.0.0.1:"_s + QString::number(f.port) + path));
    r.setRawHeader("Authorization", "Bearer " + f.token().toLatin1());
    r.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
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
            QNetworkRequest r(
                QUrl(u"http://127.0.0.1:"_s + QString::number(f.port) + u"/api/status"_s));
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

// snipewell-service as the user runs it: a process of its own on a data folder, reached
// over HTTP; stopped with SIGTERM, killed outright, started again.
class tst_ServiceProcess : public QObject
{
    Q_OBJECT
private slots:
    void urlPrintsTheAddressWithTheToken()
    {
        Folder f;
        QProcess p;
        p.setProcessEnvironment(f.env());
        p.start(QStringLiteral(SERVICE_BIN), {u"--url"_s});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QString line = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        QCOMPARE(line,
                 u"http://127.0.0.1:"_s + QString::number(f.port) + u"/?token="_s + f.token());
        QCOMPARE(f.token().size(), 64); // 256 bits
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
        QVERIFY(!(QFileInfo(f.paths.dataDir + u"/service.token"_s).permissions() & others));
    }

    void refusesTheNetworkWithoutTls()
    {
        Folder f;
        SettingsStore(f.paths.settingsFile)
            .save(u"Service"_s, u"Listen"_s, u"0.0.0.0:"_s + QString::number(f.port));
        QProcess p;
        p.setProcessEnvironment(f.env());
        p.start(QStringLiteral(SERVICE_BIN));
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains(u"TLS が必要です"_s),
                 "the refusal names TLS");
        QTcpServer probe; // nothing listens there
        QVERIFY(probe.listen(QHostAddress::Any, f.port));
    }

    void killedAndStartedAgainItStillBids()
    {
        const QDateTime end = wholeSecond(30000);
        sim::Scenario s = scenarioWith({item(end), item(end.addSecs(3600), u"x2"_s)});
        sim::SimSite site(s);
        QVERIFY(site.listenOn() != 0);
        Folder f;
        {
            SettingsStore settings(f.paths.settingsFile);
            settings.save(u"Settings"_s, u"yuser"_s, u"snipe_taro"_s);
            settings.save(u"Settings"_s, u"ypass"_s, Scramble(u"taro1234"_s));
            settings.save(u"Settings"_s, u"BefSec"_s, u"5"_s);
            reachSimulatedSite(settings, site.port());
            ItemDatabase db(f.paths.database());
            QVERIFY(db.open());
            for (const sim::Item &it : s.items)
                storeAsRead(db, it, 5000, 1);
        }
        auto service = startService(f);
        QVERIFY(answers(f));
        // A crash, a power cut: nothing is said, and the next start picks the bids up again.
        QTest::qWait(3000);
        ::kill(pid_t(service->processId()), SIGKILL);
        QVERIFY(service->waitForFinished(5000));
        service = startService(f);
        QVERIFY(answers(f));
        QTRY_VERIFY_WITH_TIMEOUT(!site.requestsTo(u"/jp/config/placebid"_s).isEmpty(), 40000);
        const qint64 late = site.requestsTo(u"/jp/config/placebid"_s).first().atMs -
                            end.addSecs(-5).toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
        QTRY_VERIFY_WITH_TIMEOUT(
            f.log().contains(u"最終結果：x1：テスト商品 x1：落札しました：3,100円"_s), 20000);
        // systemctl stop: the bid still to come is said to be abandoned.
        ::kill(pid_t(service->processId()), SIGTERM);
        QVERIFY(service->waitForFinished(10000));
        QCOMPARE(service->exitCode(), 0);
        const QStringList log = f.log();
        QVERIFY2(log.contains(u"入札中止（入札サービスを終了しました）：x2（テスト商品 x2）"_s),
                 qPrintable(log.join(u'\n')));
        QVERIFY(log.contains(u"入札サービスを終了しました"_s));
    }

    void theDesktopProgramSaysTheServiceHoldsTheFolder()
    {
        Folder f;
        auto service = startService(f);
        QVERIFY(answers(f));
        QProcess desktop;
        QProcessEnvironment env = f.env();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        desktop.setProcessEnvironment(env);
        desktop.start(QStringLiteral(SNIPEWELL_BIN));
        QVERIFY(desktop.waitForFinished(20000));
        QCOMPARE(desktop.exitCode(), 1);
        const QString said = QString::fromUtf8(desktop.readAllStandardError());
        QVERIFY2(said.contains(u"入札サービス（snipewell-service）"_s) &&
                     said.contains(u"127.0.0.1:"_s + QString::number(f.port)),
                 qPrintable(said));
        ::kill(pid_t(service->processId()), SIGTERM);
        QVERIFY(service->waitForFinished(10000));
    }

    void todaysRoadInTheService();
};

void tst_ServiceProcess::todaysRoadInTheService()
{
    // Today's site: a member without a password, and an item read at its canonical address.
    const QDateTime end = wholeSecond(50000);
    sim::Item it = item(end, u"t1"_s);
    it.title = u"今の商品"_s;
    sim::Scenario s = scenarioWith(it);
    s.today = true;
    s.bidders << sim::Bidder{u"sms_hanako"_s, QString(), {}, u"246810"_s};
    sim::SimSite site(s);
    QVERIFY(site.listenOn() != 0);
    Folder f;
    {
        SettingsStore settings(f.paths.settingsFile);
        reachSimulatedSite(settings, site.port());
        settings.save(u"Settings"_s, u"BefSec"_s, u"5"_s);
        settings.save(u"Settings"_s, u"yuser"_s, u"old_id"_s);
    }
    auto service = startService(f);
    QVERIFY(answers(f));
    auto stored = [&f] {
        return SettingsStore(f.paths.settingsFile).get(u"Settings"_s, u"yuser"_s, QString());
    };
    // A typo: said within seconds in the site's words; what was stored stays.
    call(f, "POST", u"/api/login"_s, R"({"id": "snipe_taro", "password": "typo1234"})");
    QTRY_VERIFY_WITH_TIMEOUT(call(f, "GET", u"/api/status"_s)
                                 .value(u"login"_s)
                                 .toString()
                                 .startsWith(u"ログインできませんでした：パスワード"_s),
                             20000);
    QCOMPARE(stored(), u"old_id"_s);
    // No password: the site asks for the code sent by SMS, the page passes the answer on.
    call(f, "POST", u"/api/login"_s, R"({"id": "sms_hanako", "password": ""})");
    QTRY_VERIFY_WITH_TIMEOUT(!call(f, "GET", u"/api/status"_s).value(u"loginQuestion"_s).isNull(),
                             30000);
    QCOMPARE(stored(), u"old_id"_s);
    call(f, "POST", u"/api/login/answer"_s, R"({"answer": "246810"})");
    QTRY_COMPARE_WITH_TIMEOUT(call(f, "GET", u"/api/status"_s).value(u"loggedIn"_s).toVariant(),
                              QVariant(true), 30000);
    QCOMPARE(stored(), u"sms_hanako"_s);
    const QStringList log = f.log();
    QVERIFY2(log.contains(u"入札サービス：ログインしました（sms_hanako）"_s),
             qPrintable(log.join(u'\n')));
    QVERIFY(!log.join(u'\n').contains(u"typo1234"_s)); // never a password
    QFile cookies(f.paths.dataDir + u"/cookies.txt"_s);
    QVERIFY(cookies.open(QIODevice::ReadOnly));
    QVERIFY(cookies.readAll().contains(sim::SimSite::sessionCookieName().toLatin1()));

    // Handed over by its address: bid through the item page, on time, and won.
    const QJsonObject added =
        call(f, "POST", u"/api/items"_s,
             R"({"item": "https://auctions.yahoo.co.jp/jp/auction/t1", "max": 5000})");
    QCOMPARE(added.value(u"itemid"_s).toString(), u"t1"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!site.confirmations().isEmpty(), 60000);
    const qint64 late = site.confirmations().first().atMs - end.addSecs(-5).toMSecsSinceEpoch();
    QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    QCOMPARE(site.confirmations().size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(f.log().contains(u"最終結果：t1：今の商品：落札しました：3,100円"_s),
                             30000);
    ::kill(pid_t(service->processId()), SIGTERM);
    QVERIFY(service->waitForFinished(10000));
}

QTEST_GUILESS_MAIN(tst_ServiceProcess)
#include "tst_service_process.moc"
