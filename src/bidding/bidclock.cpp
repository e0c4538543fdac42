#include "bidclock.h"

#include "clock.h"
#include "siteclock.h"

#include <QTimer>

#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace sw {

namespace {
constexpr qint64 kTimerSliceMs = 250;   // a wait looks at the site's clock again this often
constexpr qint64 kQuietBeforeMs = 3000; // no heavy work this long before a bid's moment
constexpr qint64 kQuietAfterMs = 1000;

} // namespace

// One timer for every bid waiting for its moment. Bids due at the same moment are sent
// one after the other in a single pass, with nothing else running in between, rather than
// each on a timer of its own that other work could slip in front of.
//
// A waiter names the moment its request is to reach the site; it leaves that much earlier
// as the site's answers take to arrive, worked out again at every look, so a better
// estimate of the site's clock that comes in during the wait is used. The timer never
// sleeps long, so a suspend or a wrong timer cannot carry a bid past its moment.
class BidTiming::Waiters
{
public:
    explicit Waiters(const BidTiming &timing) : m_timing(timing)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
    }

    void wait(qint64 at, qint64 ahead, std::coroutine_handle<> h, std::weak_ptr<int> alive)
    {
        m_waiting.emplace(at, Waiter{h, std::move(alive), ahead});
        schedule();
    }

    void releaseClosed()
    {
        std::vector<std::coroutine_handle<>> closed;
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            if (it->second.alive.expired()) {
                closed.push_back(it->second.handle);
                it = m_waiting.erase(it);
            } else {
                ++it;
            }
        }
        for (std::coroutine_handle<> h : closed)
            h.resume();
        schedule();
    }

private:
    void schedule()
    {
        if (m_waiting.empty())
            return;
        qint64 first = std::numeric_limits<qint64>::max();
        for (const auto &[at, w] : m_waiting)
            first = qMin(first, m_timing.leaveAt(at, w.ahead));
        const qint64 ms = first - sw::nowMs();
        m_timer.start(int(qBound(qint64(0), ms, kTimerSliceMs)));
    }

    void fire()
    {
        const qint64 now = sw::nowMs();
        // In the order of their moments: bids due at the same moment leave one after the
        // other in this one pass.
        std::vector<std::coroutine_handle<>> due;
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            if (m_timing.leaveAt(it->first, it->second.ahead) <= now) {
                due.push_back(it->second.handle);
                it = m_waiting.erase(it);
            } else {
                ++it;
            }
        }
        for (std::coroutine_handle<> h : due)
            h.resume();
        schedule();
    }

    struct Waiter
    {
        std::coroutine_handle<> handle;
        std::weak_ptr<int> alive;
        qint64 ahead = -1;
    };
    const BidTiming &m_timing;
    std::multimap<qint64, Waiter> m_waiting;
    QTimer m_timer;
};

namespace {
BidTiming *g_current = nullptr;
} // namespace

BidTiming::BidTiming()
    : m_own(std::make_unique<SiteClock>()), m_clock(m_own.get()),
      m_waiters(std::make_unique<Waiters>(*this)), m_previousClock(useSiteClock(m_clock)),
      m_previous(std::exchange(g_current, this)), m_installed(true)
{}

BidTiming::BidTiming(SiteClock &standby)
    : m_clock(&standby), m_waiters(std::make_unique<Waiters>(*this))
{}

BidTiming::~BidTiming()
{
    if (!m_installed)
        return;
    if (g_current == this) {
        g_current = m_previous;
        useSiteClock(m_previousClock);
        return;
    }
    // A later owner still lives: it takes over what this one replaced.
    for (BidTiming *t = g_current; t; t = t->m_previous) {
        if (t->m_previous == this) {
            t->m_previous = m_previous;
            t->m_previousClock = m_previousClock;
            break;
        }
    }
}

BidTiming &BidTiming::current()
{
    if (g_current)
        return *g_current;
    // No owner: the standby clock, and a timer of its own; made once and kept.
    static BidTiming *standby = new BidTiming(siteClock());
    return *standby;
}

qint64 BidTiming::leaveAt(qint64 at, qint64 aheadMs) const
{
    return at - (aheadMs >= 0 ? aheadMs : m_clock->sendAheadMs());
}

void BidTiming::releaseClosed()
{
    m_waiters->releaseClosed();
}

void BidTiming::plan(const void *owner, qint64 atSiteMs)
{
    m_planned[owner] = atSiteMs;
}

void BidTiming::unplan(const void *owner)
{
    m_planned.erase(owner);
}

bool BidTiming::imminent(qint64 nowSiteMs, const void *except) const
{
    for (const auto &[owner, at] : m_planned) {
        if (owner != except && at - kQuietBeforeMs <= nowSiteMs && nowSiteMs <= at + kQuietAfterMs)
            return true;
    }
    return false;
}

bool UntilBidTime::await_ready() const noexcept
{
    return sw::nowMs() >= timing->leaveAt(at, aheadMs);
}

void UntilBidTime::await_suspend(std::coroutine_handle<> h)
{
    timing->m_waiters->wait(at, aheadMs, h, *alive);
}

qint64 RequestPacer::reserve()
{
    // The site counts requests as they arrive, and the way there takes more or less time
    // from one request to the next: the window is kept a little wider than a second.
    const qint64 window = 1000 + kArrivalSpreadMs;
    const qint64 now = siteClock().monoMs();
    while (!m_slots.empty() && now - m_slots.front() >= window)
        m_slots.pop_front();
    qint64 at = now;
    if (int(m_slots.size()) >= kPerSecond)
        at = m_slots[m_slots.size() - kPerSecond] + window;
    m_slots.push_back(at);
    return at - now;
}

} // namespace sw
