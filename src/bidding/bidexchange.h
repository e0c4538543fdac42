#pragma once

#include <QDateTime>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace sw {

class ActivityLog;
class PageFetcher;
class SiteHosts;

struct BidRequest
{
    QString serverid;
    QString itemid;
    qint32 amount = 0; // the first amount (次回価格)
    QDateTime bidTime; // the confirmation is not submitted before this
    QString quantity;  // 入札数量
    QString maxText;   // 上限価格 as typed
    qint32 unit = 0;   // 入札単位
    QString userId;
    QString encodedPassword;
};

struct BidResult
{
    bool success = false;              // the site reports us as highest bidder or winner
    bool abandoned = false;            // the window closed during the exchange
    qint32 lastAmount = 0;             // the amount submitted last
    std::optional<QString> dialogText; // new text for the result window
    bool showDialog = false;
};

// The windows a bid exchange belongs to: its fetcher, and a token that expires when the
// window closes. Nothing of a closed window is touched after that.
struct BidContext
{
    PageFetcher &fetcher;
    const SiteHosts &hosts;
    ActivityLog &log;
    std::weak_ptr<int> alive;
    std::function<void(const QString &)> showNextPrice; // the raised amount, as shown
};

// The exchange with the site that places one bid: preview, wait for the bid time on a
// precise timer (every other window keeps running meanwhile), confirmation, and while
// the site answers "too low" a resubmission one bid unit higher, up to the maximum.
QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req);

// Ends, as abandoned, the bids whose window has closed while they waited for their bid
// time. Windows call it as they close.
void releaseClosedBids();

} // namespace sw
