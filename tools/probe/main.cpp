// snipewell-probe URL: reads one item page through the program's own fetcher, proxy
// settings and cookie jar, and prints what the item parse finds, without storing it.
#include "activitylog.h"
#include "apppaths.h"
#include "clock.h"
#include "cookiejar.h"
#include "database.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

using namespace sw;

namespace {

class ConsolePrompter : public Prompter
{
public:
    void message(const QString &text) override
    {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    std::optional<QString> input(const QString &, const QString &) override { return std::nullopt; }
    bool question(const QString &, bool defaultYes) override { return defaultYes; }
    int choose(const QString &, const QStringList &, int, int escape) override { return escape; }
    void beep() override {}
};

QJsonObject toJson(const ItemPage &page)
{
    const ItemRecord &it = page.item;
    QJsonArray missing;
    for (const QString &m : page.missing)
        missing << m;
    return {{QStringLiteral("Itemname"), it.Itemname},
            {QStringLiteral("itemid"), it.itemid},
            {QStringLiteral("Serverid"), it.Serverid},
            {QStringLiteral("ItemYenNow"), it.ItemYenNow},
            {QStringLiteral("SaikougakuShaid"), it.SaikougakuShaid},
            {QStringLiteral("enddate"), ItemDatabase::toDbTime(it.enddate)},
            {QStringLiteral("ShuppinShaID"), it.ShuppinShaID},
            {QStringLiteral("ItemYenKibou"), it.ItemYenKibou},
            {QStringLiteral("NumUri"), it.NumUri},
            {QStringLiteral("NumNyuusatu"), it.NumNyuusatu},
            {QStringLiteral("ItemYenStart"), it.ItemYenStart},
            {QStringLiteral("ItemYenUnit"), it.ItemYenUnit},
            {QStringLiteral("Flagsaitei"), it.Flagsaitei},
            {QStringLiteral("Flagjidouencho"), it.Flagjidouencho},
            {QStringLiteral("Fin"), it.fin},
            {QStringLiteral("missing"), missing}};
}

QCoro::Task<int> probe(PageFetcher &fetcher, QString url)
{
    const FetchResult page = co_await fetcher.FetchPage(url, false);
    if (!page.ok)
        co_return 3;
    const ItemPage item = readItemPage(url, page.text, sw::now());
    QJsonObject out = toJson(item);
    if (!item.ok())
        out.insert(QStringLiteral("error"), item.failure);
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
    co_return item.ok() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args[1] == QLatin1String("--help") || args[1] == QLatin1String("-h")) {
        std::fprintf(stderr,
                     "usage: snipewell-probe URL\n"
                     "Reads the item page at URL as Snipewell would and prints the fields it\n"
                     "finds as JSON. Exit status: 0 an item page, 1 not an item page, 3 the\n"
                     "page could not be fetched.\n"
                     "Connection: the Proxy setting when set, else the system's http_proxy.\n");
        return args.size() == 2 ? 0 : 2;
    }
    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);
    applySystemProxy();
    PersistentCookieJar jar(paths.dataDir + QStringLiteral("/cookies.txt"));

    // Fetch failures are reported here rather than in the program's log.
    ItemDatabase logDb(QStringLiteral(":memory:"));
    logDb.open();
    logDb.createSchema();
    ActivityLog log(logDb);
    QObject::connect(&log, &ActivityLog::appended, [&logDb] {
        const auto entries = logDb.logEntries();
        if (entries && !entries->isEmpty())
            std::fprintf(stderr, "snipewell-probe: %s\n",
                         entries->first().Memo.toLocal8Bit().constData());
    });
    ConsolePrompter prompter;
    PageFetcher fetcher(&jar, log, prompter);
    const bool proxySet =
        !settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()).isEmpty();
    configureFetcher(fetcher, settings, proxySet, prompter);
    const SiteHosts hosts(settings); // a password in the address goes to these only
    fetcher.setSiteHosts(&hosts);

    int rc = 0;
    probe(fetcher, args[1]).then([&rc](int result) {
        rc = result;
        QCoreApplication::exit(result);
    });
    app.exec();
    return rc;
}
