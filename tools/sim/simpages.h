#pragma once

#include "simscenario.h"

#include <QByteArray>
#include <QString>

namespace sim {

// Pages as the site writes them, in EUC-JP.
QByteArray toEucJp(const QString &text);
// Full-width katakana written half width (ガ as ｶﾞ), as some of the site's pages do.
QString toHalfWidthKatakana(const QString &text);
QString yen(qint64 amount); // 12,500
QString itemAddress(const Scenario &s, int server, const QString &id);

// The item page as `viewer` (a bidder id, or empty when logged out) sees it at `now`.
QString itemPage(const Scenario &s, const Item &item, const QString &viewer, const QDateTime &now);
QString notFoundPage();

// The bid pages. `action` is the absolute address the forms submit to.
QString bidPreviewPage(const Item &item, qint32 amount, const QString &action,
                       const QString &token);
QString bidPreviewEndedPage(const Item &item);
QString loginFailedPage();
// What the site shows when it is too busy to answer properly (status 200).
QString busyPage();
// The site's login page, shown instead of member pages when nobody is logged in. Its form
// posts to the login host: ID, password, "stay logged in", then the button.
QString loginPage(const Scenario &s);
// What a right password leads to: a page whose title greets the bidder.
QString welcomePage(const Bidder &bidder);
// The bidder's own page on the user host.
QString statusPage(const Bidder &bidder);
// The site's top page.
QString topPage(const Scenario &s);

// A page of search results or of a category listing: the hit count "（合計：N点）" and one
// row per item of `shown`.
QString resultPage(const Scenario &s, const QString &heading, int total,
                   const QList<const Item *> &shown);
// A category's own page (what the item pages' category trail links to).
QString categoryPage(const Scenario &s, const Category &category);
// The search options page: its first <SELECT> lists the categories.
QString searchOptionsPage(const QList<Category> &categories);
// The watch list of a logged-in bidder.
QString watchListPage(const Scenario &s, const Bidder &bidder);
QString bidAnswerPage(BidOutcome outcome, const Item &item, qint32 amount, const QString &action,
                      const QString &token);

} // namespace sim
