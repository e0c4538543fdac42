#pragma once

#include "bidclock.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace sw {

class ActivityLog;
class PageFetcher;
class SiteClock;
class SiteHosts;

struct BidRequest
{
    QString serverid;
    QString itemid;
    qint64 amount = 0; // the first amount (次回価格)
    QDateTime bidTime; // the confirmation reaches the site at this moment (site time)
    QDateTime end;     // the auction's end: nothing is sent for the bid after it
    int quantity = 1;  // 入札数量
    qint64 max = 0;    // 上限価格
    qint64 unit = 0;   // 入札単位 (0: the site's increment)
    QString userId;
    QString encodedPassword;
    QSet<qint64> alreadySent; // amounts the site answered for this item before: never again
};

// The user's word on the item as it stands at this moment.
struct LiveLimits
{
    bool armed = false;
    int quantity = 0;
    qint64 max = 0;
    qint64 lowest = 0; // the lowest amount the site takes now
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
        Unknown,      // an answer the program does not know, and the page does not say
        LoginNeeded,  // the site answered with its login page
        Blocked,      // one win per category: another item of the category is won
        NotArrived,   // the confirmation got no answer and the item's page does not show it
        Cancelled,    // the user cancelled, lowered or deleted while it was on its way
    };
    Outcome outcome = NotSent;
    bool success = false;              // Accepted or Won
    bool abandoned = false;            // the item went away during the exchange
    bool sent = false;                 // a confirmation went to the site
    qint64 lastAmount = 0;             // the amount submitted last
    QList<qint64> submitted;           // every amount sent, in order
    QList<qint64> answered;            // the amounts the site is known to have received
    QString why;                       // NotSent, Blocked, NotArrived, Cancelled: in words
    std::optional<QString> dialogText; // new text for the result window
    bool showDialog = false;
};

// The amounts a bid may still send, raised one unit at a time from `from` up to the maximum,
// leaving out what the site answered before.
struct AmountLadder
{
    qint64 unit; // 0: the site's increment for the amount being raised from
    const QSet<qint64> &sent;
    std::optional<qint64> next(qint64 from, qint64 max) const;
};

// What a bid exchange belongs to: the item's fetcher, and a token that expires when the
// item goes away. Nothing of it is touched after that.
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
    // Asked right before each confirmation leaves: the user's word now; nullopt when the
    // item was deleted.
    std::function<std::optional<LiveLimits>()> limitsNow;
    // The owner's clock and bid timer (nullptr: the program's).
    BidTiming *timing = nullptr;
    BidTiming &timingNow() const { return timing ? *timing : BidTiming::current(); }
};

// The exchange with the site that places one bid: the preview (asked for early enough to
// be in hand however slowly the site answers; a second one races a preview that stalls),
// a wait on the site's clock, the confirmation sent so that it reaches the site at the
// bid time with the limits the user last saved, and while the site answers "too low" a
// resubmission one bid unit higher, up to the maximum. A confirmation that gets no answer
// is checked on the item's page and sent once more while there is time.
QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req);

// How long a preview may go unanswered before a second one is asked for.
qint64 previewStallMs(const SiteClock &clock);
// How long before the bid time the preview is asked for: a stalled preview and the one
// that races it still come back before the confirmation has to leave; 2 to 60 seconds.
qint64 previewLeadMs(const SiteClock &clock);

} // namespace sw
