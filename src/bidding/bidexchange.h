#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <QCoro/QCoroTask>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace sw {

class ActivityLog;
class PageFetcher;
class SiteClock;
class SiteHosts;

// At most a few requests a second for one item, whatever goes wrong.
class RequestPacer
{
public:
    // How long the next request has to wait (ms); the slot is taken.
    qint64 reserve();
    static constexpr int kPerSecond = 4;

private:
    std::deque<qint64> m_slots; // monotonic ms of the last requests
};

struct BidRequest
{
    QString serverid;
    QString itemid;
    qint32 amount = 0; // the first amount (次回価格)
    QDateTime bidTime; // the confirmation reaches the site at this moment (site time)
    QDateTime end;     // the auction's end: nothing is sent for the bid after it
    QString quantity;  // 入札数量
    QString maxText;   // 上限価格 as typed
    qint32 unit = 0;   // 入札単位
    QString userId;
    QString encodedPassword;
    QSet<qint32> alreadySent; // amounts this item's bids sent before: never again
};

struct BidResult
{
    enum Outcome
    {
        NotSent,      // no confirmation left (why is in the log)
        Accepted,     // the site reports us as the highest bidder
        Won,          // bought outright
        Refused,      // too low, and nothing higher up to the maximum left to send
        BelowReserve, // below the reserve price
        Ended,        // the site says the auction is over
        Unknown,      // an answer the program does not know
        LoginNeeded,  // the site answered with its login page
        Blocked,      // one win per category: another item of the category is won
        NoAnswer,     // the confirmation went out and nothing readable came back
    };
    Outcome outcome = NotSent;
    bool success = false;              // Accepted or Won
    bool abandoned = false;            // the window closed during the exchange
    bool sent = false;                 // a confirmation went to the site
    qint32 lastAmount = 0;             // the amount submitted last
    QList<qint32> submitted;           // every amount sent, in order
    QString why;                       // for NotSent and Blocked: the reason, in words
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
    RequestPacer *pacer = nullptr;                      // the item's, owned with the token above
    // Asked just before the preview and before the confirmation: a reason not to bid
    // (another item of the category won), or nullopt.
    std::function<std::optional<QString>()> mayBid;
};

// The exchange with the site that places one bid: the preview (asked for early enough to
// be in hand however slowly the site answers, and asked again while it fails), a wait on
// the site's clock, the confirmation sent so that it reaches the site at the bid time,
// and while the site answers "too low" a resubmission one bid unit higher, up to the
// maximum. Every other window keeps running meanwhile.
QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req);

// How long before the bid time the preview is asked for: room for a slow answer and one
// more try, derived from how long the site has been taking; between 2 and 60 seconds.
qint64 previewLeadMs(const SiteClock &clock);

// Ends, as abandoned, the bids whose window has closed while they waited for their bid
// time. Windows call it as they close.
void releaseClosedBids();

// The moments bids are to reach the site, by the window that will send them. Work that can
// take tens of milliseconds (opening windows, periodic refreshes, writing the log,
// re-reading the item list) waits while one of them is near.
void planBid(const void *owner, qint64 atSiteMs);
void unplanBid(const void *owner);
bool bidsImminent(qint64 nowSiteMs, const void *except = nullptr);

} // namespace sw
