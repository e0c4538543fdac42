#pragma once

#include "bidexchange.h"

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <deque>

namespace sw {

// What came of opening an item page's bid form (see PageRoute::prepare).
struct PagePrepared
{
    bool ok = false;
    // Why not: "missing" (a control is not there: the site changed), "login", "sms", "ended",
    // "refused" (the page's preview refused the amount; its words in `said`), "timeout",
    // "load", "crashed" (the browser engine went away), "closed".
    QString kind;
    QString why;   // in the program's words
    QString said;  // the page's own words
    QString shown; // the confirmation step as the page shows it
    qint64 ms = 0;
};

// What came of pressing the final 「入札する」.
struct PageAnswer
{
    bool pressed = false;  // pressed once; false: not pressed at all (why says why)
    QString text;          // what the page showed in the form afterwards
    bool timedOut = false; // nothing readable came
    bool lost = false;     // the engine went away after the press: not known
    qint64 ms = 0;         // from the press to the answer
    qint64 aheadMs = -1;   // from the press to the request reaching the site, when known
    QString why;
};

// The route of a bid on today's site: the item page's own controls, driven in the browser
// engine without a window (the engine lives in a child process of the program; see
// PageRouteChild). The owner of the bids knows only this interface and links no engine.
class PageRoute : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~PageRoute() override;

    int newHandle() { return ++m_lastHandle; }
    // Opens the page and the bid form and finds every control. With confirm, the amount is
    // typed, 「確認する」 pressed and the confirmation step held for press(); without, it is
    // the dry run that only looks.
    virtual QCoro::Task<PagePrepared> prepare(int handle, QString url, qint64 amount, int quantity,
                                              bool confirm) = 0;
    virtual QCoro::Task<PageAnswer> press(int handle, qint64 amount) = 0;
    virtual void close(int handle) = 0;
    // The program's login changed (a new session's cookies are in the data folder).
    virtual void cookiesChanged() {}
    // A bid is near: the engine is kept (or made) ready until then.
    virtual void keepWarmUntil(qint64 monoMs) { Q_UNUSED(monoMs); }

    // Learnt from the route's own round trips: how long before its moment the final press
    // must happen to reach the site then (half the time from the press to the answer), and
    // how long before the bid time a bid starts (opening the page and making the preview).
    qint64 sendAheadMs() const;
    qint64 prepareLeadMs() const;
    // A press's figures: its answer after `ms`, its request at the site after `aheadMs`
    // (-1: not known; half the answer's time stands in).
    void noteAnswer(qint64 ms, qint64 aheadMs = -1);
    void notePrepared(qint64 ms);

    static constexpr qint64 kMinLeadMs = 20000;
    static constexpr qint64 kMaxLeadMs = 120000;

private:
    int m_lastHandle = 0;
    std::deque<qint64> m_answers;
    std::deque<qint64> m_prepares;
};

// The exchange on today's site: the form prepared with the amount some time before the
// bid time, the final press at the moment that reaches the site at the bid time with what
// the user last said, the page's answer read (its words, classic or today's), and the
// outcome confirmed from the item's data (and the member's bidding-now list) whatever the
// answer said; "too low" raises by one unit while time is left. The final 「入札する」 is
// pressed once per amount: a page that does not answer is read again, never pressed again
// blind.
QCoro::Task<BidResult> PlacePageBid(BidContext ctx, BidRequest req, PageRoute *route);

// What the page's answer says, in its words: classic phrases, and today's likely ones.
enum class PageAnswerKind
{
    Unknown,
    Accepted, // the highest bidder now
    Won,      // bought outright
    TooLow,   // too low, or another bidder's higher maximum
    BelowReserve,
    Ended,
    Login,
};
PageAnswerKind classifyPageAnswer(const QString &text);

} // namespace sw
