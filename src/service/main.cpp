#include "activitylog.h"
#include "apppaths.h"
#include "appvalues.h"
#include "bidhost.h"
#include "categories.h"
#include "clockreport.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "itemparser.h"
#include "noticesender.h"
#include "pageroutechild.h"
#include "passwordstore.h"
#include "prompter.h"
#include "proxyconfig.h"
#include "serviceapi.h"
#include "servicelogin.h"
#include "servicesecurity.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "startup.h"
#include "termination.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

#include <cstdio>

using namespace sw;

namespace {

// No boxes without a display: what a window would show goes to the log and standard error.
class LogPrompter : public Prompter
{
public:
    ActivityLog *log = nullptr;
    void message(const QString &text) override
    {
        std::fprintf(stderr, "snipewell-service: %s\n", qPrintable(text));
        if (log)
            log->LOGTodb(text);
    }
    std::optional<QString> input(const QString &, const QString &) override { return std::nullopt; }
    bool question(const QString &, bool) override { return false; }
    int choose(const QString &, const QStringList &, int, int escape) override { return escape; }
    void beep() override {}
};

int refuse(const QString &text)
{
    std::fprintf(stderr, "snipewell-service: %s\n", qPrintable(text));
    return 1;
}

QString tokenFile(const AppPaths &paths)
{
    return paths.dataDir + QStringLiteral("/service.token");
}

} // namespace

int main(int argc, char *argv[])
{
    keepNewFilesPrivate();
    keepSecretsOutOfCrashDumps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(serviceProgramName());
    QCoreApplication::setApplicationVersion(QStringLiteral(SNIPEWELL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Snipewell 入札サービス — 画面なしで入札を続け、ブラウザから操作します。\n"
        "Data folder: $SNIPEWELL_HOME, else ~/.local/share/snipewell\n"
        "Settings:    [Service] Listen, TlsCertificate, TlsKey, HostNames, NotifyUrl"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption url(QStringLiteral("url"),
                                 QStringLiteral("Print the page's address with the access token."));
    parser.addOption(url);
    parser.process(app);

    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);
    const QString section = QStringLiteral("Service");
    QString why;
    const std::optional<ListenAddress> listen = parseListen(
        settings.get(section, QStringLiteral("Listen"),
                     QStringLiteral("127.0.0.1:") + QString::number(kDefaultServicePort)),
        &why);
    if (!listen)
        return refuse(why);
    const QString certFile = settings.get(section, QStringLiteral("TlsCertificate"), QString());
    const QString keyFile = settings.get(section, QStringLiteral("TlsKey"), QString());
    const bool tls = !certFile.isEmpty() && !keyFile.isEmpty();
    const QString scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    const QString address = scheme + QStringLiteral("://") +
                            (listen->address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QLatin1Char('[') + listen->hostText + QLatin1Char(']')
                                 : listen->hostText) +
                            QLatin1Char(':') + QString::number(listen->port) + QLatin1Char('/');

    QDir().mkpath(paths.dataDir);
    const QString token = loadOrMakeToken(tokenFile(paths), &why);
    if (token.isEmpty())
        return refuse(why);
    if (parser.isSet(url)) {
        std::printf("%s?token=%s\n", qPrintable(address), qPrintable(token));
        return 0;
    }
    // Anything that listens beyond this machine is encrypted first.
    if (!listen->loopback() && !tls)
        return refuse(
            QStringLiteral("Listen がこのコンピューターの外から届くアドレス（") + listen->hostText +
            QStringLiteral("）のときは TLS が必要です。[Service] TlsCertificate と TlsKey "
                           "を設定してください。"));
    QSslCertificate certificate;
    QSslKey key;
    if (tls) {
        QFile c(certFile), k(keyFile);
        if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly))
            return refuse(QStringLiteral("TLS の証明書か鍵を読めません：") + certFile +
                          QStringLiteral("、") + keyFile);
        certificate = QSslCertificate(&c, QSsl::Pem);
        key = QSslKey(&k, QSsl::Rsa, QSsl::Pem);
        if (key.isNull()) {
            k.seek(0);
            key = QSslKey(&k, QSsl::Ec, QSsl::Pem);
        }
        if (certificate.isNull() || key.isNull())
            return refuse(QStringLiteral("TLS の証明書か鍵の形が正しくありません（PEM で置いてくだ"
                                         "さい）：") +
                          certFile + QStringLiteral("、") + keyFile);
    }

    QLockFile lock(paths.lockFile());
    const FolderStart started = startDataFolder(paths, settings, lock);
    if (!started.refusal.isEmpty())
        return refuse(started.refusal);
    LogPrompter prompter;
    ProgramCore core(paths, settings, prompter);
    if (!core.open(&why))
        return refuse(why);
    ActivityLog &log = core.log;
    prompter.log = &log;
    if (!started.warning.isEmpty())
        std::fprintf(stderr, "snipewell-service: %s\n", qPrintable(started.warning));
    logStartNotes(log, core.db, paths,
                  core.passwordNote.isEmpty() ? started.notes
                                              : started.notes + QStringList{core.passwordNote});
    AppContext &ctx = core.ctx;

    BidHost host(ctx);
    host.loadSettings();
    // Today's site is bid on through its item pages by the desktop program in a child
    // process: the service itself holds no browser engine.
    host.setPageRoute(new PageRouteChild(ServiceLogin::desktopProgram(), log));
    ClockReport clock(log);
    const QDBusConnection bus = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")
                                    ? QDBusConnection::sessionBus()
                                    : QDBusConnection(QStringLiteral("none"));
    NoticeSender notices(settings, log, bus);
    QObject::connect(&host, &BidHost::notice, &notices, &NoticeSender::notify);
    QObject::connect(&clock, &ClockReport::farOff, &notices, [&notices](const QString &text) {
        notices.notify(NoticeKind::ClockOff, text);
    });
    ServiceLogin login(ctx);
    QObject::connect(&host, &BidHost::loginNeeded, &login, [&login] { login.check(); });

    QStringList names{listen->hostText + QLatin1Char(':') + QString::number(listen->port)};
    if (listen->loopback())
        names << QStringLiteral("localhost:") + QString::number(listen->port)
              << QStringLiteral("127.0.0.1:") + QString::number(listen->port)
              << QStringLiteral("[::1]:") + QString::number(listen->port);
    for (const QString &n : settings.get(section, QStringLiteral("HostNames"), QString())
                                .split(QLatin1Char(','), Qt::SkipEmptyParts))
        names << n.trimmed() + QLatin1Char(':') + QString::number(listen->port);
    ServiceGate gate(token, names);
    ServiceApi api(host, gate, &login, tls);
    std::optional<QSslConfiguration> ssl;
    if (tls) {
        QSslConfiguration c = QSslConfiguration::defaultConfiguration();
        c.setLocalCertificate(certificate);
        c.setPrivateKey(key);
        c.setProtocol(QSsl::SecureProtocols);
        ssl = c;
    }
    if (api.listenGuarded(listen->address, listen->port, ssl) == 0)
        return refuse(QStringLiteral("ポートを開けません（ほかのプログラムが使っていないか確認して"
                                     "ください）：") +
                      listen->hostText + QLatin1Char(':') + QString::number(listen->port));

    // SIGTERM (systemctl stop) and SIGINT end the service cleanly: every bid still to go out
    // is said to be abandoned. A kill -9 says nothing; the next start picks every bid up.
    onTermination(&app, [&] {
        // Bids still to come are lost with the service: the user hears it, not only the log.
        const QList<ItemRecord> pending = host.pendingBids();
        host.abandonPending(QStringLiteral("入札サービスを終了しました"));
        auto finish = [&log] {
            log.LOGTodb(QStringLiteral("入札サービスを終了しました"));
            log.flush();
            QCoreApplication::quit();
        };
        if (!pending.isEmpty()) {
            QStringList names;
            for (const ItemRecord &r : pending.mid(0, 5))
                names << r.itemid + QStringLiteral(" ") + r.Itemname;
            notices.notify(NoticeKind::Failed,
                           QStringLiteral("入札サービスを終了したので、入札予定の") +
                               QString::number(pending.size()) +
                               QStringLiteral("件は入札しません：\n") + names.join(u'\n'));
            notices.whenSent(3000, finish); // the notice gets its moment to leave
            return;
        }
        finish();
    });

    log.LOGTodb(QStringLiteral("入札サービスを開始しました：") + address);
    std::fprintf(stderr, "snipewell-service: %s で待っています（アクセス用のアドレスは --url）\n",
                 qPrintable(address));
    host.start();
    login.check();
    return app.exec();
}
