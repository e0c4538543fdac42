#include "browserwindow.h"

#include "bidpages.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>

namespace sw {

BrowserWindow::~BrowserWindow() = default;

namespace {

// The browser engine, loaded later, shares OpenGL contexts with the program's windows: Qt has
// to know before the application object is made.
void shareGlContexts()
{
    if (!QCoreApplication::instance()) // not again when the module itself is loaded
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
Q_CONSTRUCTOR_FUNCTION(shareGlContexts)

using Factory = BrowserWindow *(*)(AppContext &);
using BidPagesRunner = int (*)(AppContext &);

// Next to an installed program first, then where the build tree made it.
QStringList modulePlaces()
{
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/" SW_BROWSER_MODULE_REL),
            QStringLiteral(SW_BROWSER_MODULE_BUILT)};
}

// A function of the browser module; nullptr, and why, when the module does not load.
void *moduleFunction(const char *name, QString *why)
{
    QString errors;
    for (const QString &place : modulePlaces()) {
        if (!QFileInfo::exists(place))
            continue;
        QLibrary module(place);
        // The module stays loaded for the rest of the run: its windows and the browser
        // engine live in it.
        module.setLoadHints(QLibrary::PreventUnloadHint);
        if (void *f = reinterpret_cast<void *>(module.resolve(name)))
            return f;
        errors += module.errorString() + QLatin1Char(' ');
    }
    if (why)
        *why = QStringLiteral("内蔵ブラウザを読み込めませんでした（") +
               (errors.isEmpty() ? QStringLiteral("libsnipewell-browser.soがありません")
                                 : errors.trimmed()) +
               QStringLiteral("）");
    return nullptr;
}

} // namespace

BrowserWindow *createBrowserWindow(AppContext &ctx, QString *why)
{
    static Factory factory = nullptr;
    if (!factory)
        factory = reinterpret_cast<Factory>(moduleFunction("snipewell_create_browser", why));
    return factory ? factory(ctx) : nullptr;
}

int runBidPagesFromModule(AppContext &ctx, QString *why)
{
    const auto run =
        reinterpret_cast<BidPagesRunner>(moduleFunction("snipewell_run_bid_pages", why));
    return run ? run(ctx) : 3;
}

} // namespace sw
