#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimeZone>

#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace sw {

// The site writes its times in Japan time (no daylight saving), whatever zone this machine
// is in. Every time the program keeps is an absolute instant; calendar questions (which
// day, which hour) are asked in this zone.
QTimeZone siteZone();
// The same instant, shown in Japan time.
QDateTime inSiteZone(const QDateTime &t);
QDateTime siteTimeFromMs(qint64 msSinceEpoch);
// "yyyy/MM/dd hh:mm:ss" in Japan time, the way the site's pages show the time; on a
// machine in another zone followed by "（日本時間）", so nobody reads it as local time.
QString siteTimeText(const QDateTime &t);
// "（日本時間）" on a machine whose clock is in another zone (at that moment), else empty: for
// headers and lines that show times of the site.
QString siteZoneNote(const QDateTime &at = QDateTime::currentDateTime());

// The site's clock as this machine can know it. The site's answers carry a Date header
// (whole seconds); each answer tells that the site's clock read that second at some moment
// between sending the request and receiving the answer. The samples are kept as intervals
// of the offset between the site's clock and this machine's monotonic clock, and their
// intersection narrows the offset as answers arrive at different moments of a second.
//
// Waits for a bid run on the monotonic clock against this estimate, so a jump of the
// machine's wall clock (a time-sync step, a resume from suspend) neither loses nor moves a
// bid. Until the site has answered once, the wall clock stands in for the site's.
class SiteClock : public QObject
{
    Q_OBJECT
public:
    using Source = std::function<qint64()>;

    SiteClock();
    ~SiteClock() override;

    // The site's time now, milliseconds since the epoch.
    qint64 nowMs() const;
    QDateTime now() const { return siteTimeFromMs(nowMs()); }
    // The machine's clocks (replaceable by tests).
    qint64 monoMs() const { return m_mono(); }
    qint64 wallMs() const { return m_wall(); }
    void setSources(Source wallMs, Source monoMs);

    // One answer: when the request left, when its headers came back (monotonic ms), and
    // the Date header as sent. An empty or unreadable header keeps the last estimate. A
    // sample that disagrees with the estimate is kept aside and takes over only when
    // further samples confirm it: one answer from a cache cannot move the site's clock.
    void addAnswer(qint64 sentMono, qint64 headersMono, const QByteArray &dateHeader);
    // Whether an answer may tell the site's time at all: from one of the site's own hosts,
    // with a 2xx or 3xx status, and not served from a cache (no Age header).
    bool tellsSiteTime(const QString &host, int status, bool hasAge) const;
    // Which hosts are the site's (the program's settings); without it every host counts.
    void setSiteHosts(std::function<bool(const QString &host)> isSiteHost)
    {
        m_isSiteHost = std::move(isSiteHost);
    }
    // How long a page of an item's host took, from the request to its last byte (a try
    // that timed out counts with the time it was given).
    void addAnswerTime(qint64 ms);
    // How long a page of an item's host took from the request to its headers: the kind of
    // round trip a confirmation makes.
    void addPageRoundTrip(qint64 ms);

    bool measured() const { return m_have; }
    // Site minus wall clock, ms; nullopt until the site has answered with a readable Date.
    std::optional<qint64> offsetMs() const;
    // Width of the interval the site's clock is known to be in, ms (0 until measured).
    qint64 uncertaintyMs() const { return m_have ? m_hi - m_lo : 0; }
    // How long before a moment a request must leave to reach the site at that moment:
    // half the round trip, bounded.
    qint64 sendAheadMs() const;
    // The shortest round trip seen lately, ms (0 until a request came back).
    qint64 roundTripMs() const;
    // The shortest round trip of an item host's page lately, ms (0 until one came back).
    qint64 pageRoundTripMs() const;
    // A slow whole-page answer of the items' hosts lately (a high percentile, so that one
    // odd answer does not stretch every bid), ms; 0 until one came back.
    qint64 slowAnswerMs() const;
    // Samples kept aside because they disagree with the estimate (tests).
    int samplesAside() const { return int(m_aside.size()); }
    // The estimate is as narrow as the network lets it be.
    bool precise() const;
    // The interval of site minus monotonic ms the site's clock is known to be in.
    std::optional<std::pair<qint64, qint64>> bounds() const
    {
        if (!m_have)
            return std::nullopt;
        return std::make_pair(m_lo, m_hi);
    }

    // Checks whether the wall clock jumped against the monotonic one since the last call;
    // returns the jump in ms (0 when it did not).
    qint64 checkWallJump();

    // Forgets every sample (tests, or a new site).
    void reset();

    // Parses an HTTP date ("Sun, 06 Dec 2026 12:00:00 GMT"); nullopt when it does not read.
    static std::optional<qint64> parseHttpDate(const QByteArray &value);

    static constexpr qint64 kMaxSendAheadMs = 1500;

signals:
    // The estimate changed (first measurement, or a narrower one).
    void offsetChanged();
    // An answer came without a readable Date header.
    void dateUnreadable(const QString &value);

private:
    struct Sample
    {
        qint64 lo; // site minus monotonic, ms: at least this
        qint64 hi; // and less than this
        qint64 atMono;
    };
    void recompute();

    Source m_wall;
    Source m_mono;
    std::function<bool(const QString &)> m_isSiteHost;
    std::deque<Sample> m_samples;
    std::deque<Sample> m_aside; // disagree with m_samples; take over once confirmed
    std::deque<qint64> m_roundTrips;
    std::deque<qint64> m_pageRoundTrips;
    std::deque<qint64> m_answerTimes;
    bool m_have = false;
    qint64 m_lo = 0;
    qint64 m_hi = 0;
    qint64 m_wallMinusMono = 0; // for jump detection
    qint64 m_lastAtMono = 0;    // when the last sample that counted came
    bool m_dateWarned = false;
};

// The site clock of the program: the one the owner of armed bids holds, or a standby one
// while there is no owner (tools, and the moments before it is made). Every page answer
// feeds it, every "now" reads it.
SiteClock &siteClock();
// Makes `clock` the program's (nullptr: the standby one again); returns the one it replaces.
// The owner of armed bids does this with its own clock for as long as it lives.
SiteClock *useSiteClock(SiteClock *clock);

} // namespace sw
