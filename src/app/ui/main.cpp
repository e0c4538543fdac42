#include "activitylog.h"
#include "apppaths.h"
#include "appvalues.h"
#include "bidhost.h"
#include "bidpages.h"
#include "bidwindows.h"
#include "browserwindow.h"
#include "categories.h"
#include "clock.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "demo.h"
#include "handover.h"
#include "itemparser.h"
#include "mdiform1.h"
#include "pageroutechild.h"
#include "passwordstore.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "startup.h"
#include "startupdb.h"
#include "stdinlines.h"
#include "termination.h"
#include "widgetprompter.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QLoggingCategory>
#include <QNetworkProxy>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace sw;

namespace {

// One line of the login's report to the service: a JSON object, flushed at once.
void report(const QJsonObject &o)
{
    std::fprintf(stdout, "%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// `snipewell --login-only`: the service's login on a machine without a display. The site's
// login is followed in the browser engine (as ログインする does), the session's cookies go to
// the data folder's cookie file, and the program ends: 0 logged in, 1 the site refused what
// was typed, 2 the site could not be reached, 3 the program could not run, 4 nobody answered
// the site's question in time. With --stdin the ID and password come from the service (one
// JSON line, {"id", "password"}) and are never stored here; the site's questions (a code sent
// by SMS) go out as JSON lines on standard output, and the member's answers come back on
// standard input ({"answer"}). It takes no instance lock (the service holds it) and leaves
// the database as it is.
int runLoginOnly(WidgetPrompter &prompter, bool fromStdin)
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
    if (fromStdin) {
        // Byte by byte: what follows the line (the answers) is read by StdinLines later.
        QByteArray line;
        char c = 0;
        while (::read(0, &c, 1) == 1 && c != '\n' && line.size() < 4096)
            line += c;
        const QJsonObject given = QJsonDocument::fromJson(line).object();
        ctx.values.ownId = given.value(QStringLiteral("id")).toString().trimmed();
        ctx.values.password = given.value(QStringLiteral("password")).toString();
        ctx.values.encodedPassword = encodePassword(ctx.values.password);
    }
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
    int result = 4;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QApplication::exit(4); });
    deadline.start(90000);
    QObject::connect(&browser, &BrowserWindow::loggedIn, &browser, [&result] {
        result = 0;
        report({{QStringLiteral("event"), QStringLiteral("loggedIn")}});
        // A moment for the last cookies to reach the file.
        QTimer::singleShot(500, [] { QApplication::exit(0); });
    });
    QObject::connect(&browser, &BrowserWindow::siteReached, &browser, [&result](bool reached) {
        if (!reached && result != 0) {
            result = 2;
            QApplication::exit(2);
        }
    });
    QObject::connect(&browser, &BrowserWindow::loginFailed, &browser, [&result](const QString &w) {
        result = 1;
        report({{QStringLiteral("event"), QStringLiteral("failed")}, {QStringLiteral("why"), w}});
        QApplication::exit(1);
    });
    QObject::connect(&browser, &BrowserWindow::loginProgress, &browser, [](const QString &text) {
        if (!text.isEmpty())
            report({{QStringLiteral("event"), QStringLiteral("progress")},
                    {QStringLiteral("text"), text}});
    });
    QObject::connect(&browser, &BrowserWindow::loginQuestion, &browser,
                     [&deadline, fromStdin](const QString &kind, const QString &text) {
                         report({{QStringLiteral("event"), QStringLiteral("question")},
                                 {QStringLiteral("kind"), kind},
                                 {QStringLiteral("text"), text}});
                         // A member reads the message and types the code: time for that.
                         deadline.start(fromStdin ? 300000 : 90000);
                     });
    // The member's answers, one JSON line each (the service going away leaves the deadline).
    std::unique_ptr<StdinLines> answers;
    if (fromStdin) {
        answers = std::make_unique<StdinLines>();
        QObject::connect(answers.get(), &StdinLines::line, &browser,
                         [&browser](const QByteArray &l) {
                             const QJsonObject o = QJsonDocument::fromJson(l).object();
                             if (o.contains(QStringLiteral("answer")))
                                 browser.answerLoginQuestion(
                                     o.value(QStringLiteral("answer")).toString().trimmed());
                         });
    }
    browser.Login();
    const int code = QApplication::exec();
    log.flush();
    return result == 0 ? 0 : code;
}

// `snipewell --bid-pages`: the page route's child (see bidpages.h), on the offscreen platform.
// It shares the data folder's cookies and touches nothing else there.
int runBidPagesOnly(WidgetPrompter &prompter)
{
    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);
    ProgramCore core(paths, settings, prompter);
    if (const QString proxy =
            settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString());
        !proxy.isEmpty()) {
        const ProxyChoice choice = parseProxySetting(proxy);
        if (choice.kind == ProxyChoice::Named)
            QNetworkProxy::setApplicationProxy(choice.proxy);
    }
    QString why;
    const int code = runBidPagesFromModule(core.ctx, &why);
    if (code == 3)
        std::fprintf(stderr, "snipewell: %s\n", qPrintable(why));
    return code;
}

struct Options
{
    bool demo = false;
    bool classic = false;
    bool loginOnly = false;
    bool credentialsOnStdin = false;
    bool bidPages = false;
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
    const QCommandLineOption classic(
        QStringLiteral("classic"),
        QStringLiteral("With --demo: the simulated site serves the site's classic pages "
                       "instead of today's."));
    parser.addOption(classic);
    const QCommandLineOption loginOnly(
        QStringLiteral("login-only"),
        QStringLiteral("Log in to the site with the stored ID and password, keep the session's "
                       "cookies in the data folder and exit (the service runs this; no window)."));
    parser.addOption(loginOnly);
    QCommandLineOption fromStdin(
        QStringLiteral("stdin"),
        QStringLiteral("With --login-only: take the ID and password from standard input (the "
                       "service's), and the answers to the site's questions."));
    fromStdin.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(fromStdin);
    QCommandLineOption bidPages(
        QStringLiteral("bid-pages"),
        QStringLiteral("Bid through the site's own item pages for the program that started this "
                       "one (no window; orders on standard input)."));
    bidPages.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(bidPages);
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
    return {parser.isSet(demo), parser.isSet(classic), parser.isSet(loginOnly),
            parser.isSet(fromStdin), parser.isSet(bidPages)};
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
    if (options.bidPages) {
        // One renderer for the site's pages, however many items are on their way.
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --process-per-site");
    }
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
        return runLoginOnly(prompter, options.credentialsOnStdin);
    if (options.bidPages)
        return runBidPagesOnly(prompter);

    std::unique_ptr<DemoSite> demo;
    if (options.demo) {
        QString why;
        demo = DemoSite::start(&why, options.classic);
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
    if (!started.warning.isEmpty())
        prompter.message(started.warning);
    AppContext &ctx = core.ctx;
    // The bids' owner comes first and goes last; the windows only look at it. Bids on today's
    // site go through the item pages in a child of this program, which holds the browser
    // engine only around the bids.
    BidHost host(ctx);
    host.setPageRoute(new PageRouteChild(QCoreApplication::applicationFilePath(), ctx.log));
    // Items handed over to the service take their verdicts from it.
    ServiceVerdicts serviceVerdicts(host);
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
