// snipewell-probe ADDRESS [--cookies] [--save FILE]: reads one item page through the
// program's own fetcher and proxy settings, and prints, field by field, what the item parse
// finds, from which of the page's blocks, and what it could not find, without storing
// anything. With --cookies the member's cookies from the data folder go along (as when
// Snipewell itself reads the page); --save writes the page with the crumb, the cookies and
// the member's ID replaced, ready to become a test fixture.
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

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

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
    QJsonArray fields;
    for (const ReadField &f : page.fields)
        fields << QJsonObject{{QStringLiteral("name"), f.name},
                              {QStringLiteral("block"), f.block},
                              {QStringLiteral("value"), f.value}};
    QJsonObject o{{QStringLiteral("page"), page.generation == SiteGeneration::Today
                                               ? QStringLiteral("today")
                                               : QStringLiteral("classic")},
                  {QStringLiteral("Itemname"), it.Itemname},
                  {QStringLiteral("itemid"), it.itemid},
                  {QStringLiteral("Serverid"), it.Serverid},
                  {QStringLiteral("ItemYenNow"), it.ItemYenNow},
                  {QStringLiteral("SaikougakuShaid"), it.SaikougakuShaid},
                  {QStringLiteral("leader"),
                   page.leaderKnown ? leaderText(it.SaikougakuShaid) : QStringLiteral("不明")},
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
                  {QStringLiteral("missing"), missing},
                  {QStringLiteral("fields"), fields}};
    if (page.generation == SiteGeneration::Today) {
        o.insert(QStringLiteral("taxinPrice"), it.ItemYenTaxin);
        o.insert(QStringLiteral("earlyEnd"), it.EarlyEnd);
        o.insert(QStringLiteral("categoryPath"), it.CatPath);
        o.insert(QStringLiteral("cancelled"), page.cancelled);
        o.insert(QStringLiteral("isWinner"), page.winnerIsViewer);
        o.insert(QStringLiteral("hasWinner"), page.hasWinner);
        o.insert(QStringLiteral("loggedIn"),
                 page.loggedIn ? QJsonValue(*page.loggedIn) : QJsonValue(QJsonValue::Null));
    }
    return o;
}

// The page without what is the member's own: the crumb (a key to the member's session),
// the cookies' values and the member's ID.
QString redacted(QString html, const QList<QNetworkCookie> &cookies, const QString &ownId)
{
    static const QRegularExpression crumb(
        QStringLiteral("((?:\"|')?_?crumb(?:\"|')?\\s*[:=]\\s*(?:\"|'))[^\"']*"));
    html.replace(crumb, QStringLiteral("\\1REDACTED"));
    for (const QNetworkCookie &c : cookies) {
        const QString v = QString::fromLatin1(c.value());
        if (v.size() >= 6)
            html.replace(v, QStringLiteral("REDACTED"));
    }
    if (ownId.size() >= 3)
        html.replace(ownId, QStringLiteral("MEMBER_ID"), Qt::CaseInsensitive);
    return html;
}

QCoro::Task<int> probe(PageFetcher &fetcher, const SiteHosts &hosts, QString url, QString save,
                       const PersistentCookieJar *cookies, QString ownId)
{
    // The address as given; an auction id alone is read at today's canonical address.
    const QString address =
        SiteHosts::isItemId(url.trimmed()) ? hosts.itemPage(QString(), url.trimmed()) : url;
    const FetchResult page = co_await fetcher.FetchPage(address, false);
    if (!page.ok)
        co_return 3;
    const ItemPage item = readItemPage(address, page.text, sw::now(), hosts);
    QJsonObject out = toJson(item);
    if (!item.ok())
        out.insert(QStringLiteral("error"), item.failure);
    if (!save.isEmpty()) {
        QSaveFile f(save);
        const QString text =
            redacted(page.text, cookies ? cookies->cookies() : QList<QNetworkCookie>{}, ownId);
        if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit()) {
            std::fprintf(stderr, "snipewell-probe: %s を書けません\n", qPrintable(save));
            co_return 4;
        }
        out.insert(QStringLiteral("saved"), save);
    }
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Indented).constData());
    co_return item.ok() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("snipewell-probe"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the item page at ADDRESS (an item page's address or an auction id) as Snipewell\n"
        "would and prints, as JSON, what it finds: each field with the block it came from\n"
        "(today's __NEXT_DATA__ or pageData, or the classic page), and what it could not find.\n"
        "Exit status: 0 an item page, 1 not an item page, 3 the page could not be fetched.\n"
        "Connection: the Proxy setting when set, else the system's http_proxy."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("the item page"));
    const QCommandLineOption cookies(
        QStringLiteral("cookies"),
        QStringLiteral(
            "Send the member's cookies from the data folder (read the page logged in)."));
    const QCommandLineOption save(
        QStringLiteral("save"),
        QStringLiteral("Write the page to FILE with the crumb, cookies and member ID replaced."),
        QStringLiteral("FILE"));
    parser.addOptions({cookies, save});
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "usage: snipewell-probe ADDRESS [--cookies] [--save FILE]\n");
        return 2;
    }
    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile);
    applySystemProxy();
    // The member's cookies only when asked: otherwise an empty jar that goes nowhere.
    QTemporaryDir scratch;
    const bool withCookies = parser.isSet(cookies);
    PersistentCookieJar jar(withCookies ? paths.dataDir + QStringLiteral("/cookies.txt")
                                        : scratch.filePath(QStringLiteral("cookies.txt")));

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
    const SiteHosts hosts(settings);
    fetcher.setSiteHosts(&hosts);

    int rc = 0;
    probe(fetcher, hosts, parser.positionalArguments().first(), parser.value(save),
          withCookies ? &jar : nullptr,
          settings.get(QStringLiteral("Settings"), QStringLiteral("yuser"), QString()))
        .then([&rc](int result) {
            rc = result;
            QCoreApplication::exit(result);
        });
    app.exec();
    return rc;
}
