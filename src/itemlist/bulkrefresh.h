#pragma once

#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace sw {

class ActivityLog;
class ItemDatabase;
class PageFetcher;
class SiteHosts;

struct ItemState;

struct BulkRefreshContext
{
    PageFetcher &fetcher;
    ItemDatabase &db;
    ActivityLog &log;
    const SiteHosts &hosts;
    QString ownId;
    std::weak_ptr<int> alive;                    // expires when the list window closes
    std::function<bool()> stopRequested;         // StopFlag
    std::function<void(const QString &)> report; // the change report for the 情報 window
    // What a reading means for the item is its owner's to decide (an armed bid gives its
    // verdict); false when the store refused it.
    std::function<bool(int id, const ItemState &state)> record;
    std::function<void(int id)> reload; // show the item's open bid window again
};

struct BulkRefreshResult
{
    int fetched = 0; // item pages read
    int changed = 0; // records rewritten
    enum End
    {
        Done,
        Stopped,
        DayLimit,
        FetchFailed,
        DatabaseError,
        Closed
    } end = Done;
};

// Brings the unfinished items up to date from their pages, most urgent first: at most 100
// items, and after the tenth it stops at the first item ending more than a day later.
// Yields once per item; a failed fetch or a database error ends the run, keeping what was
// already written.
QCoro::Task<BulkRefreshResult> BulkRefresh(BulkRefreshContext ctx);

// The item list's caption for the time left: "終了まであと" + whole days, hours, minutes or
// seconds of real time, "終了" once the end has passed.
QString timeLeftCaption(const QDateTime &now, const QDateTime &end);

// "データが更新されました。" and what changed, as the 情報 window shows it.
QString changeReport(const QString &itemName, const QDateTime &end, const QString &bidder,
                     qint64 oldPrice, qint64 newPrice);

} // namespace sw
