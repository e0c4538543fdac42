#pragma once

#include "itemrecord.h"

#include <QJsonObject>
#include <QString>

namespace sw {

class ArmedBid;

// One item as the service's API tells it: the columns the user set, what the site shows,
// where its bid stands (planned, sent, leading, won, lost, error), the last thing that
// happened and, once over, the verdict. `bid` may be null (not taken up yet).
// What the user last set of the item's bid, as a word: a change made on what another
// client has changed since is refused, not silently lost.
QString limitsVersion(const ItemRecord &it);
QJsonObject itemJson(const ItemRecord &item, const ArmedBid *bid);
// The API's name of a bid's state.
QString stateName(const ItemRecord &item, const ArmedBid *bid);
// A time of the site as ISO 8601 with its offset (Japan time, +09:00); empty when unknown.
QString isoSiteTime(const QDateTime &t);

} // namespace sw
