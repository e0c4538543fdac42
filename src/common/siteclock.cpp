#include "siteclock.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

namespace sw {

namespace {
constexpr int kJapanOffsetSecs = 9 * 3600;
constexpr std::size_t kMaxSamples = 64;
constexpr qint64 kSampleLifeMs = 30 * 60 * 1000; // the machine's clock drifts a little
constexpr std::size_t kRecentAnswers = 16;
constexpr qint64 kPreciseSlackMs = 100;
// A sample that disagrees with the estimate takes over once this many more agree with it.
constexpr std::size_t kConfirmations = 2;
constexpr qint64 kAsideLifeMs = 10 * 60 * 1000;
// What the estimate may be off by once its samples aged out: 200 ppm of the time since, and
// this much besides.
constexpr qint64 kDriftSlackMs = 500;

void keepRecent(std::deque<qint64> &d, qint64 v)
{
    d.push_back(qMax<qint64>(0, v));
    while (d.size() > kRecentAnswers)
        d.pop_front();
}

qint64 systemWallMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Counts on through a suspend, unlike the plain monotonic clock, and never jumps.
qint64 systemMonoMs()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
} // namespace

QTimeZone siteZone()
{
    // A fixed offset: Japan keeps no daylight saving, and this needs no zone database.
    static const QTimeZone zone(kJapanOffsetSecs);
    return zone;
}

QDateTime inSiteZone(const QDateTime &t)
{
    return t.isValid() ? t.toTimeZone(siteZone()) : t;
}

QDateTime siteTimeFromMs(qint64 msSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch, siteZone());
}

QString siteZoneNote(const QDateTime &at)
{
    return at.toLocalTime().offsetFromUtc() == kJapanOffsetSecs ? QString()
                                                                : QStringLiteral("（日本時間）");
}

QString siteTimeText(const QDateTime &t)
{
    if (!t.isValid())
        return QStringLiteral("-");
    return inSiteZone(t).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) + siteZoneNote(t);
}

SiteClock::SiteClock() : m_wall(systemWallMs), m_mono(systemMonoMs)
{
    m_wallMinusMono = m_wall() - m_mono();
}

SiteClock::~SiteClock() = default;

void SiteClock::setSources(Source wallMs, Source monoMs)
{
    m_wall = wallMs ? std::move(wallMs) : Source(systemWallMs);
    m_mono = monoMs ? std::move(monoMs) : Source(systemMonoMs);
    reset();
}

void SiteClock::reset()
{
    m_samples.clear();
    m_aside.clear();
    m_roundTrips.clear();
    m_pageRoundTrips.clear();
    m_answerTimes.clear();
    m_have = false;
    m_lo = m_hi = 0;
    m_dateWarned = false;
    m_wallMinusMono = m_wall() - m_mono();
}

qint64 SiteClock::nowMs() const
{
    if (!m_have)
        return m_wall();
    return m_mono() + (m_lo + m_hi) / 2;
}

std::optional<qint64> SiteClock::offsetMs() const
{
    if (!m_have)
        return std::nullopt;
    return nowMs() - m_wall();
}

qint64 SiteClock::roundTripMs() const
{
    if (m_roundTrips.empty())
        return 0;
    return *std::min_element(m_roundTrips.begin(), m_roundTrips.end());
}

qint64 SiteClock::pageRoundTripMs() const
{
    if (m_pageRoundTrips.empty())
        return 0;
    return *std::min_element(m_pageRoundTrips.begin(), m_pageRoundTrips.end());
}

qint64 SiteClock::slowAnswerMs() const
{
    if (m_answerTimes.empty())
        return 0;
    std::vector<qint64> sorted(m_answerTimes.begin(), m_answerTimes.end());
    std::sort(sorted.begin(), sorted.end());
    // The 90th percentile: with a handful of answers the slowest, with many the one
    // below a lone outlier.
    const std::size_t at = (sorted.size() * 9 + 9) / 10 - 1;
    return sorted[qMin(at, sorted.size() - 1)];
}

qint64 SiteClock::sendAheadMs() const
{
    // With the offset taken from the middle of its interval, half the interval is what a
    // request needs to arrive on time: the two errors of an unevenly fast network cancel.
    // A confirmation is a page of the item's host, though, and a front server may answer
    // the clock's small requests at once while every page takes its time: the request
    // leaves at least half such a page's round trip early.
    const qint64 half = m_have ? (m_hi - m_lo) / 2 : roundTripMs() / 2;
    return std::clamp<qint64>(qMax(half, pageRoundTripMs() / 2), 0, kMaxSendAheadMs);
}

bool SiteClock::tellsSiteTime(const QString &host, int status, bool hasAge) const
{
    if (hasAge || status < 200 || status >= 400)
        return false;
    return !m_isSiteHost || m_isSiteHost(host);
}

bool SiteClock::precise() const
{
    return m_have && m_hi - m_lo <= roundTripMs() + kPreciseSlackMs;
}

void SiteClock::addAnswerTime(qint64 ms)
{
    keepRecent(m_answerTimes, ms);
}

void SiteClock::addPageRoundTrip(qint64 ms)
{
    keepRecent(m_pageRoundTrips, ms);
}

void SiteClock::addAnswer(qint64 sentMono, qint64 headersMono, const QByteArray &dateHeader)
{
    if (headersMono < sentMono)
        return;
    m_roundTrips.push_back(headersMono - sentMono);
    while (m_roundTrips.size() > kRecentAnswers)
        m_roundTrips.pop_front();

    const std::optional<qint64> date = parseHttpDate(dateHeader);
    if (!date) {
        if (!m_dateWarned) {
            m_dateWarned = true;
            emit dateUnreadable(QString::fromLatin1(dateHeader));
        }
        return;
    }
    // The site's clock read `date` (whole seconds) at some moment between the two.
    const Sample s{*date - headersMono, *date + 1000 - sentMono, headersMono};
    std::erase_if(m_samples,
                  [&](const Sample &old) { return headersMono - old.atMono > kSampleLifeMs; });
    std::erase_if(m_aside,
                  [&](const Sample &old) { return headersMono - old.atMono > kAsideLifeMs; });
    // With every sample aged out, the last estimate still stands, widened by how far this
    // machine's clock may have drifted since: one stale answer after a quiet half hour cannot
    // move the site's clock either.
    const qint64 drift =
        m_samples.empty() && m_have ? (headersMono - m_lastAtMono) / 5000 + kDriftSlackMs : 0;
    if (m_have && (s.hi <= m_lo - drift || m_hi + drift <= s.lo)) {
        // It contradicts the estimate: a cache's old answer, or the site's clock was set
        // anew. Kept aside; it takes over only when further answers agree with it.
        std::erase_if(m_aside, [&](const Sample &old) { return old.hi <= s.lo || s.hi <= old.lo; });
        m_aside.push_back(s);
        qint64 lo = m_aside.front().lo, hi = m_aside.front().hi;
        for (const Sample &a : m_aside) {
            lo = qMax(lo, a.lo);
            hi = qMin(hi, a.hi);
        }
        if (m_aside.size() < kConfirmations + 1 || lo >= hi)
            return;
        m_samples.assign(m_aside.begin(), m_aside.end());
        m_aside.clear();
        m_lastAtMono = headersMono;
        recompute();
        return;
    }
    m_samples.push_back(s);
    while (m_samples.size() > kMaxSamples)
        m_samples.pop_front();
    m_lastAtMono = headersMono;
    recompute();
}

void SiteClock::recompute()
{
    const bool had = m_have;
    const qint64 lo = m_lo, hi = m_hi;
    m_have = !m_samples.empty();
    if (!m_have)
        return;
    m_lo = m_samples.front().lo;
    m_hi = m_samples.front().hi;
    for (const Sample &s : m_samples) {
        m_lo = qMax(m_lo, s.lo);
        m_hi = qMin(m_hi, s.hi);
    }
    if (!had || lo != m_lo || hi != m_hi)
        emit offsetChanged();
}

qint64 SiteClock::checkWallJump()
{
    const qint64 d = m_wall() - m_mono();
    const qint64 jump = d - m_wallMinusMono;
    m_wallMinusMono = d;
    return std::abs(jump) >= 1000 ? jump : 0;
}

std::optional<qint64> SiteClock::parseHttpDate(const QByteArray &value)
{
    // IMF-fixdate, which every current server sends: "Sun, 06 Dec 2026 12:00:00 GMT";
    // other RFC 2822 forms ("+0000") are read too.
    const QString t = QString::fromLatin1(value).trimmed();
    if (t.isEmpty())
        return std::nullopt;
    // Read as UTC from the start: a parse in the machine's zone fails for the hour a
    // daylight-saving change skips there.
    static const QRegularExpression fixdate(QStringLiteral(
        "\\A[A-Za-z]{3}, (\\d{2}) ([A-Za-z]{3}) (\\d{4}) (\\d{2}):(\\d{2}):(\\d{2}) GMT\\z"));
    if (const QRegularExpressionMatch m = fixdate.match(t); m.hasMatch()) {
        static const QStringList months = {
            QStringLiteral("Jan"), QStringLiteral("Feb"), QStringLiteral("Mar"),
            QStringLiteral("Apr"), QStringLiteral("May"), QStringLiteral("Jun"),
            QStringLiteral("Jul"), QStringLiteral("Aug"), QStringLiteral("Sep"),
            QStringLiteral("Oct"), QStringLiteral("Nov"), QStringLiteral("Dec")};
        const int month = int(months.indexOf(m.captured(2))) + 1;
        const QDate day(m.captured(3).toInt(), month, m.captured(1).toInt());
        const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
        if (month < 1 || !day.isValid() || !time.isValid())
            return std::nullopt;
        return QDateTime(day, time, QTimeZone::utc()).toMSecsSinceEpoch();
    }
    const QDateTime d = QDateTime::fromString(t, Qt::RFC2822Date);
    if (d.isValid())
        return d.toMSecsSinceEpoch();
    return std::nullopt;
}

namespace {
SiteClock *g_inUse = nullptr;
}

SiteClock &siteClock()
{
    if (g_inUse)
        return *g_inUse;
    static SiteClock standby;
    return standby;
}

SiteClock *useSiteClock(SiteClock *clock)
{
    return std::exchange(g_inUse, clock);
}

} // namespace sw
