#pragma once

#include "bidexchange.h"
#include "notice.h"

#include <QSet>
#include <QString>

#include <optional>

namespace sw {

// What the site did with one item's bids so far, and what follows for the next one. A
// value with pure transitions: the exchange's answers, the readings of the item's page and
// the user's saves go in; whether to bid again, and why not, comes out. ArmedBid does the
// talking to the site and the store around it.
struct BidHistory
{
    QSet<qint64> answered;             // amounts the site received: never sent again
    bool leading = false;              // accepted, and no reading has shown us outbid since
    bool wonOutright = false;          // the site's answer said won (buy-it-now), told already
    std::optional<qint64> acceptedMax; // the maximum of the accepted bid
    std::optional<qint64> refusedMax;  // refused (reserve, or too low at the maximum)
    bool belowReserve = false;         // the refusal was the reserve price
    QString blocked;                   // another item of the category is won: why no bid
    bool lastFailed = false;           // the last bid could not be placed
    QString notArrived;                // the last bid never reached the site: why
    QString cancelled;                 // the user stopped the last bid on its way: why

    // What an event means for the user.
    struct Told
    {
        QString lastResult;               // the line the overview shows; empty: unchanged
        std::optional<NoticeKind> notice; // a notification, if any
        int holdSecs = 0;                 // no new bid this long
    };

    // The exchange came back. maxSent: the maximum it was sent under.
    Told onAnswer(const BidResult &r, qint64 maxSent);
    // A reading of the item's page succeeded. ours: the page says who leads (nullopt: it does
    // not, as today's pages do not; then only a price above the maximum we lead with shows
    // us outbid, which under the site's proxy bidding it always does).
    Told onReading(std::optional<bool> ours, bool finished, qint64 price);

    // Why no bid goes out now for this maximum and next amount, or nullopt.
    std::optional<QString> whyNot(qint64 max, std::optional<qint64> next) const;

    bool anythingSent() const { return !answered.isEmpty(); }
};

} // namespace sw
