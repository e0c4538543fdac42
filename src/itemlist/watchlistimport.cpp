#include "watchlistimport.h"

#include <QRegularExpression>

#include "itemparser.h"
#include "pagefetcher.h"
#include "sitehosts.h"

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

QCoro::Task<WatchListResult> ImportWatchList(WatchListContext ctx)
{
    WatchListResult result;
    const FetchResult list = co_await ctx.fetcher.FetchPage(ctx.hosts.watchList(), false);
    if (ctx.alive.expired()) {
        result.end = WatchListResult::Closed;
        co_return result;
    }
    if (!list.ok) {
        result.end = WatchListResult::ListFetchFailed;
        co_return result;
    }
    int cursor = 1;
    const QString title =
        GetBetween(list.text, cursor, QStringLiteral("<title>"), QStringLiteral("</title>"));
    if (title.contains(QStringLiteral("ログイン"))) {
        if (ctx.browserLogin)
            ctx.browserLogin();
        result.end = WatchListResult::LoginNeeded;
        co_return result;
    }

    const QString entryEnd = QStringLiteral("登録\"></a></td>");
    // The entry's link names the item's page host: today's "page.<domain>" or an older
    // "page3.<domain>", over either scheme.
    static const QRegularExpression pageHost(QStringLiteral("https?://page([0-9]{0,4})\\."));
    cursor = 1;
    for (;;) {
        co_await preciseSleep(0); // let Escape and the window close reach us
        if (ctx.alive.expired()) {
            result.end = WatchListResult::Closed;
            co_return result;
        }
        if (ctx.stopRequested && ctx.stopRequested()) {
            result.end = WatchListResult::Stopped;
            co_return result;
        }
        const QString entry =
            GetBetween(list.text, cursor, QStringLiteral("name=aidlist value"), entryEnd);
        if (entry.isEmpty())
            break;
        int c = 1;
        const QString id = GetBetween(entry, c, QStringLiteral("="), QStringLiteral(">"));
        const QString server = pageHost.match(entry).captured(1);
        const QString url = ctx.hosts.itemPage(server, id);
        if (url.isEmpty()) { // not the site's form of id and server: never asked for
            if (ctx.report)
                ctx.report(QStringLiteral("ウォッチリストの商品のアドレスが正しくないので取り込み"
                                          "ません：") +
                           id + QStringLiteral("（") + server + QStringLiteral("）"));
            continue;
        }
        const FetchResult page = co_await ctx.fetcher.FetchPage(url, false);
        if (ctx.alive.expired()) {
            result.end = WatchListResult::Closed;
            co_return result;
        }
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
                ctx.report(ctx.parser.storeFailureText(id));
        }
    }
    co_return result;
}

} // namespace sw
