#pragma once

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace sw {

// What the user is told when the import could not read the list, or stopped at an item
// whose page could not be read.
QString watchListUnreadText();
QString watchListStoppedText(int stored);

class ItemPageParser;
class PageFetcher;
class SiteHosts;

struct WatchListContext
{
    PageFetcher &fetcher;
    ItemPageParser &parser;
    const SiteHosts &hosts;
    std::weak_ptr<int> alive;                    // expires when the list window closes
    std::function<bool()> stopRequested;         // StopFlag
    std::function<void()> browserLogin;          // the site wants a login first
    std::function<void(const QString &)> report; // a line for the activity log
};

struct WatchListResult
{
    int entries = 0;       // items on the watch list that were read
    int stored = 0;        // of those, inserted or updated
    int storeFailures = 0; // read, but the store refused them
    enum End
    {
        Done,
        LoginNeeded,
        ListFetchFailed,
        ItemFetchFailed,
        Stopped,
        Closed
    } end = Done;
};

// Takes every item of the user's watch list on the site into the item table, in page
// order, without price or option conditions. A login page instead of the list starts the
// browser's login and imports nothing.
QCoro::Task<WatchListResult> ImportWatchList(WatchListContext ctx);

} // namespace sw
