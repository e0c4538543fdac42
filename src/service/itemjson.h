#pragma once

#include "itemrecord.h"

#include <QJsonObject>
#include <QString>

#include <optional>

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

// What a request to the API says of an item.
constexpr int kMaxItemQuantity = 99;
// A JSON number that is a whole number within [lo, hi] (or a text that reads as one, full-width
// digits included); nullopt for anything else (a fraction, 1e300, NaN) before any cast.
std::optional<qint64> wholeIn(const QJsonValue &v, qint64 lo, qint64 hi);
// A maximum in yen (1 to 999,999,999), a quantity (0 to 99), a category key (one digit).
std::optional<qint64> yenOf(const QJsonValue &v);
std::optional<int> quantityOf(const QJsonValue &v);
std::optional<QString> categoryOf(const QJsonValue &v);
QString tooMuchText();
// A change refused because another client changed the item's bid since it was read.
QString changedElsewhereText(const ItemRecord &r);
// The body as a JSON object; nullopt, and why, when it is not one.
std::optional<QJsonObject> jsonObjectOf(const QByteArray &body, QString *why);

} // namespace sw
