#include "activitylog.h"
#include "apppaths.h"
#include "appvalues.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "browserwindow.h"
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
#include "termination.h"
#include "widgetprompter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLockFile>
#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace sw;

namespace {

// `snipewell --login-only`: the service's login on a machine without a display. The site's
// login form is filled in the browser engine (as ログインする does), the session's cookies go
// to the data folder's cookie file, and the program ends: 0 logged in, 1 the site did not
// greet the ID, 2 the site could not be reached. It takes no instance lock (the service
// holds it) and leaves the database as it is.
int runLoginOnly(WidgetPrompter &prompter)
{
    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);
    ProgramCore core(paths, settings, prompter);
    QString why;
    if (!core.open(&why)) {
        std::fprintf(stderr, "snipewell: %s\n", qPrintable(why));
        return 3;
    }
    ActivityLog &log = core.log;
    AppContext &ctx = core.ctx;
    if (const QString proxy =
            settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString());
        !proxy.isEmpty()) {
        const ProxyChoice choice = parseProxySetting(proxy);
        if (choice.kind == ProxyChoice::Named)
            QNetworkProxy::setApplicationProxy(choice.proxy);
    }
    const std::unique_ptr<BrowserWindow> window(createBrowserWindow(ctx, &why));
    if (!window) {
        log.LOGTodb(why);
        log.flush();
        std::fprintf(stderr, "snipewell: %s\n", qPrintable(why));
        return 3;
    }
    BrowserWindow &browser = *window;
    browser.resize(1000, 800);
    browser.show();
    int result = 1;
    QObject::connect(&browser, &BrowserWindow::loggedIn, &browser, [&result] {
        result = 0;
        // A moment for the last cookies to reach the file.
        QTimer::singleShot(500, [] { QApplication::exit(0); });
    });
    QObject::connect(&browser, &BrowserWindow::siteReached, &browser, [&result](bool reached) {
        if (!reached && result != 0) {
            result = 2;
            QApplication::exit(2);
        }
    });
    QTimer::singleShot(90000, [] { QApplication::exit(1); });
    browser.Login();
    const int code = QApplication::exec();
    log.flush();
    return result == 0 ? 0 : code;
}

struct Options
{
    bool demo = false;
    bool loginOnly = false;
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
    const QCommandLineOption loginOnly(
        QStringLiteral("login-only"),
        QStringLiteral("Log in to the site with the stored ID and password, keep the session's "
                       "cookies in the data folder and exit (the service runs this; no window)."));
    parser.addOption(loginOnly);
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
    return {parser.isSet(demo), parser.isSet(loginOnly)};
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
    WidgetPrompter::loadQtJapanese(app);
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

    if (options.loginOnly)
        return runLoginOnly(prompter);

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

    if (demo) { // the demo member, and the simulated site as the proxy
        if (const DbStartResult made = createDataFolderIfNew(paths); !made.ok())
            return refuse(made.message, false);
        demo->prepareSettings(settings);
    }
    QLockFile instanceLock(paths.lockFile());
    const FolderStart started = startDataFolder(paths, settings, instanceLock);
    if (!started.refusal.isEmpty())
        return refuse(heldByText(started, settings), started.beep);

    ProgramCore core(paths, settings, prompter);
    QString why;
    if (!core.open(&why))
        return refuse(why, false);
    logStartNotes(core.log, core.db, paths,
                  core.passwordNote.isEmpty() ? started.notes
                                              : started.notes + QStringList{core.passwordNote});
    AppContext &ctx = core.ctx;
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
    // A logout or a shutdown asks no question: the bids still to go out are said to be
    // given up, and the program ends as it does from its menu (the demo's folder goes too).
    onTermination(&frame, [&frame] {
        frame.endWithoutAsking(
            QStringLiteral("ログアウトかシステムの終了でプログラムが終了しました"));
    });
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
