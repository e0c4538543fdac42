#pragma once

#include "itemrecord.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace sw {

// Which of the site's two kinds of page answered: the classic EUC-JP tables, or today's
// UTF-8 pages with their data in script blocks. The page itself tells, never a setting.
enum class SiteGeneration
{
    Classic = 0,
    Today = 1,
};

// One value read from a page, and where it stood: for the probe, which tells a member
// field by field what today's site still gives.
struct ReadField
{
    QString name;  // the program's name for it ("price", "endTime", …)
    QString block; // "__NEXT_DATA__", "pageData", the classic table's label
    QString value;
};

// Everything the full parse reads from one item page, whichever kind it is.
struct ItemPage
{
    ItemRecord item;     // the columns the parse writes; cat "0"
    QStringList missing; // labels or data fields not found on the page
    QString failure;     // why the page does not count as an item page (empty if it does)
    SiteGeneration generation = SiteGeneration::Classic;
    QList<ReadField> fields;
    // What today's pages add. Today's page names nobody as the highest bidder: only the
    // page of an auction without bids (nobody) or the winner's own page says who leads.
    bool leaderKnown = true;
    std::optional<bool> loggedIn; // the page's data says whether its reader is logged in
    bool winnerIsViewer = false;  // the page tells its reader that they won (isWinner)
    bool hasWinner = false;       // the auction ended with a winner (hasWinner)
    qint64 winPrice = 0;
    bool cancelled = false;  // the seller cancelled the auction
    bool endedShown = false; // the page's own status says the auction is over
    bool shouldSms = false;  // the site wants the member to confirm by SMS first
    bool ok() const { return failure.isEmpty(); }
};

// What a refresh reads: what changes while an auction runs.
struct ItemState
{
    bool finished = false;
    qint64 price = 0;
    QString bidder; // "-" nobody; empty when the page does not say who leads
    qint64 bids = 0;
    QDateTime end;
    SiteGeneration generation = SiteGeneration::Classic;
    bool leaderKnown = true;
    // Whether the member leads (or, once over, won): nullopt where the page does not say.
    std::optional<bool> ours;
    bool hasWinner = false;
    bool cancelled = false;
    std::optional<bool> loggedIn;
    // Today's page only: the rest of the item as it stands (quantity, prices, extension).
    std::optional<ItemRecord> item;
};

// The highest bidder as the user's lists show it: the ID, "-" for nobody, "不明" where the
// site did not say.
QString leaderText(const QString &bidder);
// Whether two of the site's member IDs are the same member: the site does not tell
// upper and lower case apart.
bool sameMember(const QString &a, const QString &b);

} // namespace sw
