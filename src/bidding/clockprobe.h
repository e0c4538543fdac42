#pragma once

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <deque>
#include <memory>

namespace sw {

class PageFetcher;
class SiteClock;

// Asks the site for its time when a bid is near and the site's clock is not yet known
// closely enough. The Date of an answer has whole seconds only; a few HEAD requests timed
// to reach the site at different moments of one second tell on which side of each moment
// the second turned, and so narrow the estimate to about the network's round trip.
class ClockProbe : public QObject
{
    Q_OBJECT
public:
    ClockProbe(PageFetcher &fetcher, SiteClock &clock, QObject *parent = nullptr);

    // A bid is near; `url` is a page on the host it goes to. Cheap to call every second.
    void want(const QString &url);

    int probesSent() const { return m_sent; }

    static constexpr int kPerBurst = 4;
    static constexpr int kMaxBurstsPerMinute = 5;

private:
    QCoro::Task<> burst(QString url);

    PageFetcher &m_fetcher;
    SiteClock &m_clock;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    bool m_running = false;
    std::deque<qint64> m_bursts; // when the last bursts began (monotonic ms)
    int m_sent = 0;
};

} // namespace sw
