#pragma once

#include "simscenario.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace sim {

// Today's pages, in UTF-8: the item page of a script application with its data in the
// __NEXT_DATA__ block and the older "var pageData" line, and its own bid script; the
// two-step login; the member's lists; search results and category listings whose rows carry
// their data in data-auction-* attributes.

// What the page knows of its reader.
struct Viewer
{
    QString id;    // empty when logged out
    QString crumb; // the per-login token the page's own actions carry
    bool shouldSms = false;
};

QString todayItemPage(const Scenario &s, const Item &item, const Viewer &viewer,
                      const QDateTime &now);
// The item as the data block holds it (tests and the fuzz driver bend it).
QJsonObject todayItemJson(const Scenario &s, const Item &item, const Viewer &viewer,
                          const QDateTime &now);
// A page of today's site that holds only the login state in its data (the top page).
QString todayTopPage(const Scenario &s, const Viewer &viewer);
// A member list page ("ウォッチリスト", "入札中", "落札分"): one row per item, linking
// to its page (some absolutely, some from the site's root), and a link to the next page.
QString todayListPage(const Scenario &s, const QString &heading, const QList<const Item *> &rows,
                      const QString &nextPageUrl);
// Search results and category listings: the hit count in the current tab, one li.Product
// row per item.
QString todayResultPage(const Scenario &s, const QString &heading, int total, int buyNowTotal,
                        const QList<const Item *> &rows);
// The login, in two steps: the ID, then the password (or the code sent by SMS).
QString todayLoginIdPage(const Scenario &s, const QString &done, const QString &error);
QString todayLoginPasswordPage(const Scenario &s, const QString &id, const QString &done,
                               const QString &error);
QString todayLoginCodePage(const Scenario &s, const QString &id, const QString &done,
                           const QString &error);
QString todaySellerPage(const Item &item);
QString todayNotFoundPage();

// The answers of the page's own bid requests, in the wording of the page variant.
QString todayAnswerText(const QString &variant, BidOutcome outcome, const Item &item);

// The addresses the page's own script sends its preview and its bid to.
QString todayPreviewPath(const QString &variant);
QString todayPlacePath(const QString &variant);

QByteArray toUtf8Page(const QString &html);

} // namespace sim
