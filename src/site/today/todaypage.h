#pragma once

#include "itemreading.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace sw {

class SiteHosts;

// Today's item page: the item from the __NEXT_DATA__ block
// (props.pageProps.initialState.item.detail.item), what it lacks from the older pageData
// line. The visible markup is never read: its class names change with every release.
ItemPage readTodayItemPage(const QString &url, const QString &html, const QDateTime &now,
                           const SiteHosts &hosts);

// What a refresh takes from today's page. ownId: the page says the reader won (isWinner),
// and the reader is this member. nullopt when the page does not read as an item.
std::optional<ItemState> todayItemState(const QString &html, const QString &ownId,
                                        const QDateTime &now, qint64 endedAfterMs,
                                        const SiteHosts &hosts);

// Whether a page of today's site says its reader is logged in: nullopt when it says nothing.
std::optional<bool> todayLoginState(const QString &html);

} // namespace sw
