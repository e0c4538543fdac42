#include "searchimport.h"

#include "sitehosts.h"

#include "clock.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "searchquery.h"
#include "today/todaylists.h"

namespace sw {

namespace {
constexpr int kRowsPerPage = 100;
constexpr int kTodayRows = 50;
constexpr int kListingLimit = 100;

// The third `">` of a row: where its title begins. -1 when the row has fewer.
qsizetype titleStart(const QString &row)
{
    const QString mark = QStringLiteral("\">");
    qsizetype from = 0;
    qsizetype at = -1;
    for (int n = 0; n < 3; ++n) {
        at = row.indexOf(mark, from);
        if (at < 0)
            return -1;
        from = at + 2;
    }
    return at + 2;
}

// One more row looked at, and shown; true when the user asked to stop (the result then says
// how the run ended).
bool countedAndStopped(const SearchRun &run, SearchResult &result, const QString &total)
{
    ++result.examined;
    run.showExamined(QString::number(result.examined) + QLatin1Char('/') + total);
    if (!run.stopRequested || !run.stopRequested())
        return false;
    result.message = run.kind == SearchRun::Listing ? SearchTexts::escaped() : SearchTexts::done();
    return true;
}
} // namespace

namespace {

// Today's result pages: 50 rows a page, the rows' own data stored as they are.
QCoro::Task<SearchResult> todaySearch(PageFetcher &fetcher, ItemPageParser &parser,
                                      const SearchRun &run, FetchResult page)
{
    SearchResult result;
    auto gone = [&run] { return run.alive.expired(); };
    auto stopped = [&run] { return run.stopRequested && run.stopRequested(); };
    SearchPage rows = readSearchPage(page.text);
    for (const QString &problem : std::as_const(rows.problems)) {
        if (run.report)
            run.report(QStringLiteral("検索結果の行を読めませんでした：") + problem);
    }
    if (!rows.hits) {
        result.message = rows.rows.isEmpty() ? SearchTexts::done()
                                             : SearchTexts::badHitCount(QStringLiteral("-"));
        co_return result;
    }
    const qint64 hits = *rows.hits;
    const QString total = QString::number(hits);
    result.pages = int(qMin<qint64>((hits + kTodayRows - 1) / kTodayRows, 1000));
    for (int k = 1; k <= result.pages; ++k) {
        run.showPage(k);
        if (k > 1) {
            co_await preciseSleep(0);
            if (gone())
                co_return result;
            if (stopped()) {
                result.message =
                    run.kind == SearchRun::Listing ? SearchTexts::escaped() : SearchTexts::done();
                co_return result;
            }
            page = co_await fetcher.FetchPage(run.todayUrl(1 + (k - 1) * kTodayRows), false);
            if (gone())
                co_return result;
            if (!page.ok) {
                result.message = SearchTexts::network();
                co_return result;
            }
            rows = readSearchPage(page.text);
            if (rows.rows.isEmpty())
                break; // fewer rows than the count said
        }
        for (const SearchRow &row : std::as_const(rows.rows)) {
            co_await preciseSleep(0);
            if (gone())
                co_return result;
            if (countedAndStopped(run, result, total))
                co_return result;
            run.addTitle(row.title);
            ItemRecord item;
            item.itemid = row.itemid;
            item.Itemname = row.title;
            item.ItemYenNow = row.price;
            item.ItemYenKibou = row.buyNow;
            item.ItemYenStart = row.startPrice;
            item.enddate = row.end;
            item.fin = row.end <= sw::now();
            // Whether the auction extends is on its page only: read it when it matters.
            int stored = NothingStored;
            if (run.noAutoExtension) {
                if (!ItemPageParser::passesFilters(item, run.minPrice, run.maxPrice, false,
                                                   run.buyPriceDiffers))
                    continue;
                const QString url = run.hosts->itemPage(QString(), row.itemid);
                const FetchResult itemPage = co_await fetcher.FetchPage(url, false);
                if (gone())
                    co_return result;
                if (!itemPage.ok) {
                    result.message = SearchTexts::network();
                    co_return result;
                }
                stored = parser.ParseItemPage(url, itemPage.text, run.minPrice, run.maxPrice,
                                              run.noAutoExtension, run.buyPriceDiffers);
            } else {
                stored = parser.StoreListing(item, run.minPrice, run.maxPrice, run.buyPriceDiffers);
            }
            if (stored != NothingStored) {
                ++result.imported;
                run.showImported(result.imported);
                if (run.kind == SearchRun::Listing && result.imported > kListingLimit) {
                    result.message = SearchTexts::limit();
                    co_return result;
                }
            } else if (parser.storeFailed()) {
                ++result.storeFailures;
                if (run.report)
                    run.report(parser.storeFailureText(row.itemid));
            }
        }
    }
    result.message = SearchTexts::done();
    co_return result;
}

} // namespace

QCoro::Task<SearchResult> RunSearch(PageFetcher &fetcher, ItemPageParser &parser, SearchRun run)
{
    SearchResult result;
    auto gone = [&run] { return run.alive.expired(); };
    auto stopped = [&run] { return run.stopRequested && run.stopRequested(); };

    // Today's address first; the classic one where the site does not know it.
    if (run.todayUrl && run.hosts) {
        const FetchResult today = co_await fetcher.FetchPage(run.todayUrl(1), false, 0, true);
        if (gone())
            co_return result;
        if (today.ok)
            co_return co_await todaySearch(fetcher, parser, run, today);
        if (today.status != 404) {
            result.message = SearchTexts::network();
            co_return result;
        }
    }
    FetchResult page = co_await fetcher.FetchPage(run.pageUrl(1), false);
    if (gone())
        co_return result;
    if (!page.ok) {
        result.message = SearchTexts::network();
        co_return result;
    }
    int cursor = 1;
    const QString total =
        GetBetween(page.text, cursor, QStringLiteral("合計："), QStringLiteral("点）"));
    if (total.isEmpty()) {
        result.message = SearchTexts::done();
        co_return result;
    }
    const std::optional<qint32> hits = parseSiteNumber(total);
    if (!hits || *hits < 0) {
        result.message = SearchTexts::badHitCount(total);
        co_return result;
    }
    result.pages = resultPageCount(*hits);

    for (int k = 1; k <= result.pages; ++k) {
        run.showPage(k);
        co_await preciseSleep(0);
        if (gone())
            co_return result;
        if (stopped()) {
            result.message = SearchTexts::done();
            co_return result;
        }
        cursor = 1;
        for (int rows = 0; rows < kRowsPerPage; ++rows) {
            co_await preciseSleep(0);
            if (gone())
                co_return result;
            if (countedAndStopped(run, result, total))
                co_return result;
            const QString row =
                GetBetween(page.text, cursor, QStringLiteral("<td align=center><IMG SRC="),
                           QStringLiteral("</a>"));
            if (row.isEmpty())
                break;
            int c = 1;
            const QString url =
                GetBetween(row, c, QStringLiteral("<a href=\""), QStringLiteral("\">"));
            if (url.isEmpty())
                break;
            const qsizetype at = titleStart(row);
            if (at < 0)
                continue;
            // The row's link names the item; the address read is built from the site's hosts.
            const std::optional<ItemAddress> where =
                run.hosts ? SiteHosts::parseItemPageUrl(url, *run.hosts)
                          : SiteHosts::parseItemPageUrl(url);
            const QString itemUrl = where && run.hosts
                                        ? run.hosts->itemPage(where->serverid, where->itemid)
                                        : QString();
            if (itemUrl.isEmpty()) {
                run.addTitle(row.mid(at) +
                             QStringLiteral("（商品ページのアドレスではないので取り込みません）"));
                if (run.report)
                    run.report(QStringLiteral("検索結果の商品のアドレスが正しくないので取り込み"
                                              "ません：") +
                               url);
                continue;
            }
            run.addTitle(row.mid(at));
            const FetchResult item = co_await fetcher.FetchPage(itemUrl, false);
            if (gone())
                co_return result;
            if (!item.ok) {
                result.message = SearchTexts::network();
                co_return result;
            }
            if (parser.ParseItemPage(itemUrl, item.text, run.minPrice, run.maxPrice,
                                     run.noAutoExtension, run.buyPriceDiffers) != NothingStored) {
                ++result.imported;
                run.showImported(result.imported);
                if (run.kind == SearchRun::Listing && result.imported > kListingLimit) {
                    result.message = SearchTexts::limit();
                    co_return result;
                }
            } else if (parser.storeFailed()) {
                ++result.storeFailures;
                if (run.report)
                    run.report(parser.storeFailureText(where->itemid));
            }
        }
        if (k < result.pages) {
            page = co_await fetcher.FetchPage(run.pageUrl(k + 1), false);
            if (gone())
                co_return result;
            if (!page.ok) {
                result.message = SearchTexts::network();
                co_return result;
            }
        }
    }
    result.message = SearchTexts::done();
    co_return result;
}

} // namespace sw
