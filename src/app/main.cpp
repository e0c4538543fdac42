#include "activitylog.h"
#include "apppaths.h"
#include "appvalues.h"
#include "categories.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "itemparser.h"
#include "mdiform1.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "startup.h"
#include "startupdb.h"
#include "widgetprompter.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLockFile>

#include <cstdio>
#include <unistd.h>

using namespace sw;

int main(int argc, char *argv[])
{
    // The built-in browser's engine refuses to start as root unless its sandbox is off.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("snipewell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Snipewell"));
    QApplication::setApplicationVersion(QStringLiteral(SNIPEWELL_VERSION));
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

    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);

    startClockProgram(settings);

    if (const DbStartResult made = createDataFolderIfNew(paths); !made.ok())
        return refuse(made.message, false);

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

    if (const DbStartResult db = backupAndCompact(paths); !db.ok())
        return refuse(db.message, false);

    ItemDatabase db(paths.database());
    if (!db.open())
        return refuse(db.lastError(), false);

    AppValues values;
    loadCredentials(settings, values);

    ActivityLog log(db);
    CategoryNames categories(settings);
    applySystemProxy();
    SiteHosts hosts(settings);
    PersistentCookieJar cookies(paths.dataDir + QStringLiteral("/cookies.txt"));
    ItemPageParser parser(db);
    AppContext ctx{settings, values, db, log, prompter, categories, hosts, cookies, parser};
    MDIForm1 frame(ctx);
    prompter.setParent(&frame);
    QObject::connect(
        &frame, &MDIForm1::endProgram, &app, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    frame.show();
    if (!settings.error().isEmpty()) {
        prompter.message(settings.error() +
                         QStringLiteral("\n既定の設定で起動します。設定の変更は保存されません。"));
    }
    frame.load();
    return app.exec();
}
