// The entry point of libsnipewell-browser: the program loads this module only when the
// browser is first needed, so the browser engine costs nothing until then.
#include "browsercookies.h"
#include "cookiejar.h"
#include "frmbrowser.h"

#include <QWebEngineProfile>

extern "C" Q_DECL_EXPORT sw::BrowserWindow *snipewell_create_browser(sw::AppContext &ctx)
{
    // One login for the browser and every fetcher: the engine's cookies and the program's
    // jar are kept the same from the browser's first page on, for as long as the jar lives.
    if (!ctx.cookies.findChild<sw::BrowserCookies *>(QString(), Qt::FindDirectChildrenOnly))
        new sw::BrowserCookies(ctx.cookies, QWebEngineProfile::defaultProfile()->cookieStore(),
                               &ctx.cookies);
    return new sw::frmBrowser(ctx);
}
