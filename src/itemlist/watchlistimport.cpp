#include "watchlistimport.h"

#include <QRegularExpression>

#include "itemparser.h"
#include "pagefetcher.h"
#include "sitehosts.h"
#include "today/todaylists.h"

#include <QSet>

namespace sw {

QString watchListUnreadText()
{
    return QStringLiteral("ウォッチリストを読み込めませんでした。ヤフオク!に接続できません。"
                          "接続を確認してください｡");
}

QString watchListStoppedText(int stored)
{
    return QStringLiteral("商品ページを読み込めなかったので、ウォッチリストの取り込みを途中でやめま"
                          "した（") +
           QString::number(stored) + QStringLiteral("件取り込み済み）。接続を確認してください｡");
}

namespace {

constexpr int kMaxListPages = 100;

// The classic watch list: one page of "aidlist" entries, each naming its item and the
// number of the item's page host.
QList<ItemAddress> classicEntries(const QString &page, WatchListContext &ctx)
{
    QList<ItemAddress> out;
    const QString entryEnd = QStringLiteral("登録\"></a></td>");
    // The entry's link names the item's page host: "page.<domain>" or "page3.<domain>",
    // over either scheme.
    static const QRegularExpression pageHost(QStringLiteral("https?://page([0-9]{0,4})\\."));
    int cursor = 1;
    for (;;) {
        const QString entry =
            GetBetween(page, cursor, QStringLiteral("name=aidlist value"), entryEnd);
        if (entry.isEmpty())
            break;
        int c = 1;
        const QString id = GetBetween(entry, c, QStringLiteral("="), QStringLiteral(">"));
        const QString server = pageHost.match(entry).captured(1);
        if (ctx.hosts.itemPage(server, id).isEmpty()) { // not the site's form: never asked for
            if (ctx.report)
                ctx.report(QStringLiteral("ウォッチリストの商品のアドレスが正しくないので取り込み"
                                          "ません：") +
                           id + QStringLiteral("（") + server + QStringLiteral("）"));
            continue;
        }
        out << ItemAddress{server, id};
    }
    return out;
}

} // namespace

QCoro::Task<WatchListResult> ImportWatchList(WatchListContext ctx)
{
    WatchListResult result;
    auto closed = [&] {
        result.end = WatchListResult::Closed;
        return result;
    };
    // Today's watch list first, page by page; the classic one where the site does not know
    // today's address.
    FetchResult list =
        co_await ctx.fetcher.FetchPage(ctx.hosts.watchList(1), false, 0, /*notFoundIsAnswer=*/true);
    if (ctx.alive.expired())
        co_return closed();
    const bool classic = list.status == 404;
    if (classic)
        list = co_await ctx.fetcher.FetchPage(ctx.hosts.classicWatchList(), false);
    if (ctx.alive.expired())
        co_return closed();
    if (!list.ok) {
        result.end = WatchListResult::ListFetchFailed;
        co_return result;
    }
    int cursor = 1;
    const QString title =
        GetBetween(list.text, cursor, QStringLiteral("<title>"), QStringLiteral("</title>"));
    if (title.contains(QStringLiteral("ログイン")) ||
        looksLikeLoginPage(list.text, list.finalUrl, &ctx.hosts)) {
        if (ctx.browserLogin)
            ctx.browserLogin();
        result.end = WatchListResult::LoginNeeded;
        co_return result;
    }

    QList<ItemAddress> entries;
    if (classic) {
        entries = classicEntries(list.text, ctx);
    } else {
        // How a row is marked up is not known: every link to an item page is an entry. The
        // pages go on while each brings items not seen yet.
        QSet<QString> seen;
        for (int page = 1; page <= kMaxListPages; ++page) {
            if (page > 1) {
                co_await preciseSleep(0);
                if (ctx.alive.expired())
                    co_return closed();
                if (ctx.stopRequested && ctx.stopRequested()) {
                    result.end = WatchListResult::Stopped;
                    co_return result;
                }
                list = co_await ctx.fetcher.FetchPage(ctx.hosts.watchList(page), false);
                if (ctx.alive.expired())
                    co_return closed();
                if (!list.ok) {
                    result.end = WatchListResult::ListFetchFailed;
                    co_return result;
                }
            }
            int added = 0;
            for (const ItemAddress &a : itemLinks(list.text, list.finalUrl, ctx.hosts)) {
                if (seen.contains(a.itemid))
                    continue;
                seen.insert(a.itemid);
                entries << a;
                ++added;
            }
            if (added == 0)
                break;
        }
    }

    for (const ItemAddress &entry : std::as_const(entries)) {
        co_await preciseSleep(0); // let Escape and the window close reach us
        if (ctx.alive.expired())
            co_return closed();
        if (ctx.stopRequested && ctx.stopRequested()) {
            result.end = WatchListResult::Stopped;
            co_return result;
        }
        const QString url = ctx.hosts.itemPage(entry.serverid, entry.itemid);
        const FetchResult page = co_await ctx.fetcher.FetchPage(url, false);
        if (ctx.alive.expired())
            co_return closed();
        if (!page.ok) {
            result.end = WatchListResult::ItemFetchFailed;
            co_return result;
        }
        ++result.entries;
        if (ctx.parser.ParseItemPage(url, page.text, 0, 0, false, false) != NothingStored) {
            ++result.stored;
        } else if (ctx.parser.storeFailed()) {
            // Said, and the next item is tried: the fault may be this row's alone.
            ++result.storeFailures;
            if (ctx.report)
                ctx.report(ctx.parser.storeFailureText(entry.itemid));
        }
    }
    co_return result;
}

} // namespace sw
