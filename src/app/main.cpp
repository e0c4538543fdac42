#include "activitylog.h"
#include "apppaths.h"
#include "appvalues.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "categories.h"
#include "clock.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "demo.h"
#include "itemparser.h"
#include "mdiform1.h"
#include "passwordstore.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "startup.h"
#include "startupdb.h"
#include "widgetprompter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLockFile>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace sw;

namespace {

struct Options
{
    bool demo = false;
};

void describe()
{
    QCoreApplication::setApplicationName(QStringLiteral("snipewell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SNIPEWELL_VERSION));
}

// --help and --version are answered before any window system is needed, so they work in
// a plain terminal; an unknown option ends here with status 1.
Options parseOptions(int argc, char *argv[])
{
    QCoreApplication core(argc, argv);
    describe();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Snipewell — Yahoo! JAPAN オークションの自動入札ソフト。\n"
                       "商品ごとに上限価格と数量を決めておくと、終了の数秒前に自動で入札します。\n"
                       "\n"
                       "Data folder: $SNIPEWELL_HOME, else ~/.local/share/snipewell\n"
                       "Settings:    $SNIPEWELL_HOME/snipewell.ini, else "
                       "~/.config/snipewell/snipewell.ini"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Run against a simulated auction site on this computer, with a data "
                       "folder of its own (デモ). Nothing reaches the real site."));
    parser.addOption(demo);
    // The window system's own options (-platform offscreen, -style, …) are for QApplication.
    for (const char *name : {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                             "stylesheet", "geometry", "qwindowgeometry", "qwindowtitle",
                             "qwindowicon", "display", "title", "name", "session", "fontengine"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char *name : {"reverse", "nograb", "dograb", "widgetcount"}) {
        QCommandLineOption qtFlag(QString::fromLatin1(name));
        qtFlag.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtFlag);
    }
    parser.process(core);
    return {parser.isSet(demo)};
}

} // namespace

int main(int argc, char *argv[])
{
    // The built-in browser's engine refuses to start as root unless its sandbox is off.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine describes its graphics set-up at every start; users need not read that.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    const Options options = parseOptions(argc, argv);
    keepNewFilesPrivate(); // settings, cookies and databases: nobody else's to read
    keepSecretsOutOfCrashDumps();

    QApplication app(argc, argv);
    describe();
    QApplication::setApplicationDisplayName(QStringLiteral("Snipewell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/snipewell.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("snipewell"));

    WidgetPrompter prompter;
    // Every refusal is shown in its box and also printed, and the process fails.
    auto refuse = [&prompter](const QString &text, bool beep) {
        std::fprintf(stderr, "snipewell: %s\n", text.toLocal8Bit().constData());
        if (beep)
            prompter.beep();
        if (WidgetPrompter::interactive())
            prompter.message(text);
        return 1;
    };

    std::unique_ptr<DemoSite> demo;
    if (options.demo) {
        QString why;
        demo = DemoSite::start(&why);
        if (!demo)
            return refuse(why, false);
        // Every part of the program, the built-in browser included, talks to the simulated
        // site, and keeps its files in the demo's own folder.
        qputenv("SNIPEWELL_HOME", demo->paths().dataDir.toLocal8Bit());
        qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(demo->port()));
        MDIForm1::setTitleNote(QStringLiteral("[デモ]"));
        std::fprintf(stderr, "snipewell: デモ: 模擬サイト 127.0.0.1:%u, データフォルダー %s\n",
                     unsigned(demo->port()), qPrintable(demo->paths().dataDir));
    }

    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);

    startClockProgram(settings);

    if (const DbStartResult made = createDataFolderIfNew(paths); !made.ok())
        return refuse(made.message, false);
    if (demo) // the demo member, and the simulated site as the proxy
        demo->prepareSettings(settings);

    QLockFile instanceLock(paths.lockFile());
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) {
        if (instanceLock.error() == QLockFile::LockFailedError) {
            return refuse(
                secondInstanceText(QFileInfo(QApplication::applicationFilePath()).fileName()),
                true);
        }
        return refuse(QStringLiteral("データフォルダーに書き込めません：") + paths.dataDir, false);
    }

    // The activity log is kept short before the backup and the compaction copy the file, so
    // that a start stays quick however long the program has run.
    int trimmed = 0;
    if (checkDatabaseFile(paths.database()).ok()) {
        ItemDatabase before(paths.database());
        if (before.open())
            trimmed = before.trimLog(
                sw::now(),
                settings.getInt(QStringLiteral("Settings"), QStringLiteral("LogDays"), 90),
                settings.getInt(QStringLiteral("Settings"), QStringLiteral("LogRows"), 20000));
    }
    const DbStartResult started = backupAndCompact(paths);
    if (!started.ok())
        return refuse(started.message, false);

    ItemDatabase db(paths.database());
    if (!db.open())
        return refuse(db.lastError(), false);

    AppValues values;
    loadCredentials(settings, values);
    const LoadedPassword password = loadPassword(settings);
    values.password = password.password;
    values.encodedPassword = encodePassword(values.password);

    ActivityLog log(db);
    if (!db.upgradeStoredTimes())
        log.LOGTodb(db.lastError());
    if (!started.note.isEmpty())
        log.LOGTodb(started.note);
    if (trimmed > 0)
        log.LOGTodb(QStringLiteral("古いログを") + QString::number(trimmed) +
                    QStringLiteral("件削除しました（設定 LogDays・LogRows の範囲だけ残します）"));
    if (!password.note.isEmpty())
        log.LOGTodb(password.note);
    for (const QString &opened : paths.makePrivate())
        log.LOGTodb(QStringLiteral("他のユーザーも読めたので、本人だけが読めるようにしました：") +
                    opened);
    CategoryNames categories(settings);
    applySystemProxy();
    SiteHosts hosts(settings);
    PersistentCookieJar cookies(paths.dataDir + QStringLiteral("/cookies.txt"));
    ItemPageParser parser(db);
    AppContext ctx{settings, values, db, log, prompter, categories, hosts, cookies, parser};
    // The bids' owner comes first and goes last; the windows only look at it.
    BidHost host(ctx);
    MDIForm1 frame(ctx, &host);
    prompter.setParent(&frame);
    QObject::connect(
        &frame, &MDIForm1::endProgram, &app, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    frame.show();
    if (!settings.error().isEmpty()) {
        prompter.message(settings.error() +
                         QStringLiteral("\n既定の設定で起動します。設定の変更は保存されません。"));
    }
    if (demo) {
        // The site of the demo exists only inside the program: its pages open in the
        // built-in browser, never in the system's browser (which would ask the real site).
        frame.bidWindows()->setPageOpener(
            [&frame](const QString &url) { frame.showPage(url, QStringLiteral("-")); });
    }
    frame.load();
    // For measurements: a file written once the frame is loaded and its first events ran.
    if (const QString ready = qEnvironmentVariable("SNIPEWELL_READY_FILE"); !ready.isEmpty()) {
        QTimer::singleShot(0, &frame, [ready] {
            QFile f(ready);
            if (f.open(QIODevice::WriteOnly))
                f.write("ready\n");
        });
    }
    return app.exec();
}
