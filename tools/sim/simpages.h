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

// The item page as `viewer` (a bidder id, or empty when logged out) sees it at `now`.
QString itemPage(const Scenario &s, const Item &item, const QString &viewer, const QDateTime &now);
QString notFoundPage();

// The bid pages. `action` is the absolute address the forms submit to.
QString bidPreviewPage(const Item &item, qint32 amount, const QString &action,
                       const QString &token);
QString bidPreviewEndedPage(const Item &item);
QString loginFailedPage();
// The site's login page, shown instead of member pages when nobody is logged in.
QString loginPage();
// The watch list of a logged-in bidder.
QString watchListPage(const Scenario &s, const Bidder &bidder);
QString bidAnswerPage(BidOutcome outcome, const Item &item, qint32 amount, const QString &action,
                      const QString &token);

} // namespace sim
