#include "clockprobe.h"

#include "pagefetcher.h"
#include "siteclock.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace sw {

namespace {
constexpr qint64 kBurstSpacingMs = 500;
constexpr qint64 kMinuteMs = 60000;
} // namespace

ClockProbe::ClockProbe(PageFetcher &fetcher, SiteClock &clock, QObject *parent)
    : QObject(parent), m_fetcher(fetcher), m_clock(clock)
{}

void ClockProbe::want(const QString &url)
{
    SiteClock &clock = m_clock;
    if (m_running || clock.precise())
        return;
    const qint64 mono = clock.monoMs();
    while (!m_bursts.empty() && mono - m_bursts.front() > kMinuteMs)
        m_bursts.pop_front();
    if (!m_bursts.empty() && mono - m_bursts.back() < kBurstSpacingMs)
        return;
    if (int(m_bursts.size()) >= kMaxBurstsPerMinute)
        return;
    m_bursts.push_back(mono);
    burst(url);
}

QCoro::Task<> ClockProbe::burst(QString url)
{
    m_running = true;
    SiteClock &clock = m_clock;
    const auto bounds = clock.bounds();
    const qint64 halfTrip = clock.roundTripMs() / 2;
    std::vector<qint64> sendAt; // monotonic ms
    if (!bounds) {
        sendAt.push_back(clock.monoMs()); // anything that answers gives a first reading
    } else {
        // Taking the two ways as equally long, the offset lies in the interval less half
        // a round trip at either end. Thresholds spread over what is left: for each, the
        // moment (monotonic) at which the site's second turns if the offset were exactly
        // that threshold. Each answer tells on which side of its threshold the offset is.
        const auto [lo, hi] = *bounds;
        const qint64 from = qMin(lo + halfTrip, (lo + hi) / 2);
        const qint64 to = qMax(hi - halfTrip, (lo + hi) / 2);
        const qint64 earliest = clock.monoMs() + 30 + halfTrip;
        for (int i = 1; i <= kPerBurst; ++i) {
            const qint64 x = from + (to - from) * i / (kPerBurst + 1);
            const qint64 boundary = ((earliest + x) / 1000 + 1) * 1000;
            sendAt.push_back(boundary - x - halfTrip);
        }
        std::sort(sendAt.begin(), sendAt.end());
    }
    const std::weak_ptr<int> alive = m_alive;
    for (const qint64 at : sendAt) {
        const qint64 wait = at - clock.monoMs();
        if (wait > 0)
            co_await preciseSleep(int(wait));
        if (alive.expired())
            co_return;
        ++m_sent;
        m_fetcher.probe(url); // its answer goes to the site clock by itself
    }
    // The answers need their round trip before the next burst can aim better.
    co_await preciseSleep(int(qMin<qint64>(clock.roundTripMs() * 2 + 200, 5000)));
    if (!alive.expired())
        m_running = false;
}

} // namespace sw
