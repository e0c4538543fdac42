#pragma once

#include "appcontext.h"
#include "sitehosts.h"

#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace sw {

class PageFetcher;

// What the user typed as an item: an item page's address, or an auction id alone (any of the
// site's page hosts shows any item; the first is used). nullopt for anything else.
std::optional<ItemAddress> itemFromUserText(const QString &text);

// Reads the item's page from the address the program builds for it and stores the item, as
// 取込 in the browser does. Returns the message for the user; inserted tells whether a new
// item came into the list.
QCoro::Task<QString> captureItem(AppContext &ctx, PageFetcher &fetcher, ItemAddress where,
                                 bool *inserted);

QString notAnItemPageText();

} // namespace sw
