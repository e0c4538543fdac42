#pragma once

#include <QtGlobal>

#include <coroutine>
#include <deque>
#include <map>
#include <memory>

namespace sw {

class SiteClock;

// At most a few requests a second for one item, whatever goes wrong.
class RequestPacer
{
public:
    // How long the next request has to wait (ms); the slot is taken.
    qint64 reserve();
    static constexpr int kPerSecond = 4;
    // How much later one request may arrive than the next one does, relative to leaving.
    static constexpr int kArrivalSpreadMs = 150;

private:
    std::deque<qint64> m_slots; // monotonic ms of the last requests
};

// The timing of the owner of armed bids: the site's clock as the site's answers tell it, the
// one timer every bid waiting for its moment shares, and the moments bids are planned for.
// The owner holds it; while it lives it is the program's (`current()`), so every page answer
// feeds its clock and every bid waits on its timer.
class BidTiming
{
public:
    BidTiming();
    ~BidTiming();
    BidTiming(const BidTiming &) = delete;
    BidTiming &operator=(const BidTiming &) = delete;

    // The owner's that lives, else a standby one (an exchange run on its own, in tests).
    static BidTiming &current();

    SiteClock &clock() const { return *m_clock; }
    // When the request of a bid due at `at` (site ms) leaves: aheadMs before, or (-1) as
    // early as the site's clock says a request needs.
    qint64 leaveAt(qint64 at, qint64 aheadMs = -1) const;
    // Ends, as abandoned, the bids whose item went away while they waited for their bid time.
    void releaseClosed();

    // The moments bids are to reach the site, by the item that will send them. Work that can
    // take tens of milliseconds (opening windows, periodic refreshes, writing the log,
    // re-reading the item list) waits while one of them is near.
    void plan(const void *owner, qint64 atSiteMs);
    void unplan(const void *owner);
    bool imminent(qint64 nowSiteMs, const void *except = nullptr) const;

private:
    friend struct UntilBidTime;
    class Waiters;
    explicit BidTiming(SiteClock &standby);
    std::unique_ptr<SiteClock> m_own;
    SiteClock *m_clock;
    std::unique_ptr<Waiters> m_waiters;
    std::map<const void *, qint64> m_planned;
    SiteClock *m_previousClock = nullptr;
    BidTiming *m_previous = nullptr;
    bool m_installed = false;
};

// Resumes the awaiting exchange once the request of a bid due at `at` (site ms) has to
// leave to reach the site at that moment, or earlier once its item has gone. Every bid
// due at the same moment leaves in one pass of one timer.
// Trivially copyable on purpose: g++ 12 may destroy a temporary awaiter with owning
// members twice.
struct UntilBidTime
{
    BidTiming *timing;
    qint64 at;
    const std::weak_ptr<int> *alive; // the exchange's own token, which outlives the wait
    qint64 aheadMs = -1; // how early it leaves; -1: half the site's round trip (the clock's)
    bool await_ready() const noexcept;
    void await_suspend(std::coroutine_handle<> h);
    void await_resume() const noexcept {}
};

} // namespace sw
