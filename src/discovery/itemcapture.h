#pragma once

#include "appcontext.h"
#include "sitehosts.h"

#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace sw {

class PageFetcher;

// What the user typed as an item: an item page's address (today's canonical
// https://auctions.yahoo.co.jp/jp/auction/…, page.<domain> or an older page<N> one), or an
// auction id alone (read at the canonical address). nullopt for anything else.
std::optional<ItemAddress> itemFromUserText(const QString &text, const SiteHosts &hosts);

// Reads the item's page from the address the program builds for it and stores the item, as
// 取込 in the browser does. Returns the message for the user; inserted tells whether a new
// item came into the list.
QCoro::Task<QString> captureItem(AppContext &ctx, PageFetcher &fetcher, ItemAddress where,
                                 bool *inserted);

QString notAnItemPageText();
// An ended auction is not taken into the list.
QString endedItemRefusedText();

} // namespace sw
