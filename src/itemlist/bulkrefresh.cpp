#include "bulkrefresh.h"

#include "activitylog.h"
#include "autobid.h"
#include "bidhost.h"
#include "clock.h"
#include "database.h"
#include "itemparser.h"
#include "memberpages.h"
#include "pagefetcher.h"
#include "siteclock.h"
#include "sitehosts.h"

namespace sw {

namespace {
constexpr int kMaxItems = 100;
constexpr int kDayRuleFrom = 10;
const QString CRLF = QStringLiteral("\r\n");
} // namespace

QString changeReport(const QString &itemName, const QDateTime &end, const QString &bidder,
                     qint64 oldPrice, qint64 newPrice)
{
    QString r = QStringLiteral("データが更新されました。") + CRLF + itemName + CRLF +
                inSiteZone(end).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) + CRLF + bidder +
                CRLF;
    if (oldPrice != newPrice)
        r += formatYen(oldPrice) + QStringLiteral("->") + formatYen(newPrice) + CRLF;
    else
        r += formatYen(newPrice) + CRLF;
    return r;
}

QString timeLeftCaption(const QDateTime &nowAt, const QDateTime &endAt)
{
    // Real time between two moments: clock faces and calendar days do not count.
    const qint64 secs = nowAt.secsTo(endAt);
    if (secs <= 0)
        return QStringLiteral("終了"); // never a negative time left
    const QString prefix = QStringLiteral("終了まであと");
    if (secs >= 86400)
        return prefix + QString::number(secs / 86400) + QStringLiteral("日");
    if (secs >= 3600)
        return prefix + QString::number(secs / 3600) + QStringLiteral("時間");
    if (secs >= 60)
        return prefix + QString::number(secs / 60) + QStringLiteral("分");
    return prefix + QString::number(secs) + QStringLiteral("秒");
}

QCoro::Task<BulkRefreshResult> BulkRefresh(BulkRefreshContext ctx)
{
    BulkRefreshResult result;
    const std::optional<QList<ItemRecord>> rows = ctx.db.openItems();
    if (!rows) {
        ctx.log.LOGTodb(QStringLiteral("商品ﾘｽﾄの更新を中止しました：") + ctx.db.lastError());
        result.end = BulkRefreshResult::DatabaseError;
        co_return result;
    }
    int n = 0;
    for (const ItemRecord &row : *rows) {
        if (++n > kMaxItems)
            break;
        co_await preciseSleep(0); // let Escape and the window close reach us
        if (ctx.alive.expired()) {
            result.end = BulkRefreshResult::Closed;
            co_return result;
        }
        if (ctx.stopRequested && ctx.stopRequested()) {
            result.end = BulkRefreshResult::Stopped;
            co_return result;
        }
        const QString url = ctx.hosts.itemPage(row.Serverid, row.itemid);
        if (url.isEmpty()) { // a stored row that does not name an item of the site's form
            ctx.log.LOGTodb(QStringLiteral("商品IDかサーバー番号が正しくないので読みません：") +
                            row.itemid + QStringLiteral("（") + row.Itemname +
                            QStringLiteral("）"));
            continue;
        }
        const FetchResult page = co_await ctx.fetcher.FetchPage(url, false);
        if (ctx.alive.expired()) {
            result.end = BulkRefreshResult::Closed;
            co_return result;
        }
        if (!page.ok) {
            result.end = BulkRefreshResult::FetchFailed;
            co_return result;
        }
        ++result.fetched;
        const QDateTime now = sw::now();
        std::optional<ItemState> s = ParseItemStatus(page.text, ctx.ownId, now, 0, ctx.hosts);
        if (!s)
            continue; // a page that does not read (the item is gone, say) is skipped
        co_await resolveWinner(ctx.fetcher, ctx.hosts, row.itemid, ctx.ownId, &*s);
        if (ctx.alive.expired()) {
            result.end = BulkRefreshResult::Closed;
            co_return result;
        }
        if (s->finished && !s->ours)
            continue; // who won is not known yet: the next run (or the item's bid) tells
        if (n > kDayRuleFrom && now.date().daysTo(inSiteZone(s->end).date()) > 1) {
            result.end = BulkRefreshResult::DayLimit;
            co_return result;
        }
        if (row.fin == s->finished && row.ItemYenNow == s->price &&
            row.SaikougakuShaid == s->bidder && row.enddate == s->end && !s->item)
            continue;
        if (ctx.report)
            ctx.report(changeReport(row.Itemname, s->end, leaderText(s->bidder), row.ItemYenNow,
                                    s->price));
        const bool stored = ctx.record ? ctx.record(row.id, *s) : recordReading(ctx.db, row, *s);
        if (!stored) {
            ctx.log.LOGTodb(QStringLiteral("商品ﾘｽﾄの更新を中止しました：") + ctx.db.lastError());
            result.end = BulkRefreshResult::DatabaseError;
            co_return result;
        }
        ++result.changed;
        if (ctx.reload)
            ctx.reload(row.id);
    }
    co_return result;
}

} // namespace sw
