#pragma once

#include <QString>

namespace sw {

// The values the bidding code reads from memory instead of the settings store.
// app/ owns the one instance and hands it to every window that needs it.
struct AppValues
{
    QString ownId;           // the user's site ID (setting yuser)
    QString password;        // plain site password
    QString encodedPassword; // "%XX" per character, for query strings
    int befSec = 30;         // seconds before the end at which the bid is placed
    bool mnlNyusatu = false; // bid one unit above the price on extending auctions
    bool catOn = false;      // only one win per user category
    bool aboutOpen = false;  // the about window is open: no credentials dialog from the scheduler
    int refreshIntervalSec = 60;
    // Asks the watch-list import and the bulk refresh to stop before their next item.
    bool StopFlag = false;
};

} // namespace sw
