#pragma once

#include "itemreading.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace sw {

class SiteHosts;

// What the classic page says of the auction's state, read outside its title and the
// seller's description: the win notice the site shows the logged-in winner, and whether it
// shows the auction ended (the winner's label, or the site's ended notice).
struct PageStatus
{
    bool wonNotice = false;
    bool endedShown = false;
};
PageStatus readPageStatus(const QString &html);
// The page without its title and without the seller's description.
QString pageStatusPart(const QString &html);

// The classic item page: EUC-JP tables read by their fixed labels.
ItemPage readClassicItemPage(const QString &url, const QString &html, const QDateTime &now,
                             const SiteHosts &hosts);
// The classic short parse used by refreshes; nullopt when the page holds no current price or
// a present value does not read as a number or a date.
std::optional<ItemState> classicItemState(const QString &html, const QString &ownId,
                                          const QDateTime &now, qint64 endedAfterMs);

} // namespace sw
