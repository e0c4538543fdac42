#include "clock.h"
#include "siteclock.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {
// A machine whose wall clock and monotonic clock the test moves by hand.
struct FakeMachine
{
    qint64 wall = 1796540000000; // 2026-12-06, an ordinary moment
    qint64 mono = 5000000;
    void advance(qint64 ms)
    {
        wall += ms;
        mono += ms;
    }
    FakeMachine()
    {
        siteClock().setSources([this] { return wall; }, [this] { return mono; });
    }
    FakeMachine(const FakeMachine &) = delete;
    // `count` answers of a site `offsetMs` ahead, 10 ms each way, one every `everyMs`.
    void answers(int count, qint64 offsetMs, qint64 everyMs);
};

QByteArray httpDate(qint64 ms)
{
    return QLocale::c()
        .toString(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()),
                  u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s)
        .toLatin1();
}

// One request to a site whose clock runs `offsetMs` ahead of the machine, `upMs` on the
// way there and `downMs` on the way back.
void answer(FakeMachine &m, qint64 offsetMs, qint64 upMs, qint64 downMs)
{
    const qint64 sent = m.mono;
    m.advance(upMs);
    const qint64 siteNow = m.wall + offsetMs;
    const QByteArray date = httpDate(siteNow / 1000 * 1000);
    m.advance(downMs);
    siteClock().addAnswer(sent, m.mono, date);
}

void FakeMachine::answers(int count, qint64 offsetMs, qint64 everyMs)
{
    for (int i = 0; i < count; ++i) {
        answer(*this, offsetMs, 10, 10);
        advance(everyMs);
    }
}
} // namespace

struct OffsetRow
{
    qint64 offsetMs, upMs, downMs, maxErrorMs;
};

// The site's clock as the program knows it: read off the Date of the site's answers, kept
// on the machine's monotonic clock, so that neither the machine's zone nor its wrong or
// jumping wall clock moves a bid.
class tst_SiteClock : public QObject
{
    Q_OBJECT
private slots:
    void init() { siteClock().reset(); }

    void cleanup() { siteClock().setSources({}, {}); }

    void httpDates()
    {
        const qint64 t =
            QDateTime(QDate(2026, 12, 6), QTime(12, 0, 5), QTimeZone::utc()).toMSecsSinceEpoch();
        // -1: does not read. The hour a daylight-saving change skips in California is an
        // ordinary hour in UTC.
        const QList<std::pair<QByteArray, qint64>> cases{
            {"Sun, 06 Dec 2026 12:00:05 GMT", t},
            {"Sun, 06 Dec 2026 21:00:05 +0900", t},
            {"  Sun, 06 Dec 2026 12:00:05 GMT ", t},
            {QByteArray(), -1},
            {"yesterday", -1},
            {"Sun, 32 Dec 2026 12:00:05 GMT", -1},
            {"Sun, 08 Mar 2026 02:30:00 GMT",
             QDateTime(QDate(2026, 3, 8), QTime(2, 30), QTimeZone::utc()).toMSecsSinceEpoch()}};
        for (const auto &[header, ms] : cases)
            QCOMPARE(SiteClock::parseHttpDate(header).value_or(-1), ms);
    }

    void samplesNarrowTheOffset_data()
    {
        // The site ahead of the machine, the way there and back, and how far the arrival
        // moment may be off after the samples.
        QTest::addColumn<OffsetRow>("row");
        QTest::newRow("same clocks, fast network") << OffsetRow{0, 5, 5, 40};
        QTest::newRow("machine 3.2 s slow") << OffsetRow{3200, 20, 20, 60};
        QTest::newRow("machine 3 s fast") << OffsetRow{-3000, 20, 20, 60};
        QTest::newRow("a second each way") << OffsetRow{1500, 1000, 1000, 80};
        QTest::newRow("slow one way only") << OffsetRow{700, 50, 900, 80};
    }

    void samplesNarrowTheOffset()
    {
        QFETCH(OffsetRow, row);
        const auto [offsetMs, upMs, downMs, maxErrorMs] = row;
        FakeMachine m;
        QVERIFY(!siteClock().measured());
        QCOMPARE(siteClock().nowMs(), m.wall); // nothing known: the wall clock stands in
        // Answers that arrive at different moments of a second, as pages read over a minute do.
        for (int i = 0; i < 40; ++i) {
            answer(m, offsetMs, upMs, downMs);
            m.advance(137 + (i * 211) % 1000);
        }
        QVERIFY(siteClock().measured());
        // A request leaving sendAheadMs before a moment (by the estimate) reaches the site
        // when the site's clock shows that moment, however the delay splits between the ways.
        const qint64 target = siteClock().nowMs() + 10000;
        const qint64 leaveAtSite = target - siteClock().sendAheadMs();
        const qint64 leaveWall = m.wall + (leaveAtSite - siteClock().nowMs());
        const qint64 arrivesAtSite = leaveWall + upMs + offsetMs;
        QVERIFY2(std::abs(arrivesAtSite - target) <= maxErrorMs,
                 qPrintable(QString::number(arrivesAtSite - target)));
        QVERIFY(siteClock().uncertaintyMs() <= upMs + downMs + 2 * maxErrorMs);
        QVERIFY(std::abs(*siteClock().offsetMs() - offsetMs) <= (upMs + downMs) / 2 + maxErrorMs);
    }

    void unreadableDateKeepsTheEstimate()
    {
        FakeMachine m;
        m.answers(10, 2000, 330);
        const std::optional<qint64> before = siteClock().offsetMs();
        QSignalSpy unreadable(&siteClock(), &SiteClock::dateUnreadable);
        for (const QByteArray &bad : {QByteArray(), QByteArray("garbage"), QByteArray("0")})
            siteClock().addAnswer(m.mono - 20, m.mono, bad);
        QCOMPARE(siteClock().offsetMs(), before);
        QCOMPARE(unreadable.count(), 1); // said once, not at every answer
    }

    void siteClockSetAnewWins()
    {
        FakeMachine m;
        m.answers(10, 0, 310);
        // The site's clock is stepped 5 s on: the new answers contradict the old ones.
        m.answers(10, 5000, 290);
        QVERIFY(std::abs(*siteClock().offsetMs() - 5000) < 600);
    }

    void oneOddAnswerDoesNotMoveIt_data()
    {
        QTest::addColumn<qint64>("quietMs"); // no answer this long before the odd ones
        QTest::addColumn<qint64>("staleMs"); // how old the cache's answers are
        QTest::newRow("right away") << qint64(0) << qint64(-120000);
        QTest::newRow("after 31 quiet minutes, when every sample aged out")
            << qint64(31 * 60 * 1000) << qint64(-59600);
    }

    void oneOddAnswerDoesNotMoveIt()
    {
        QFETCH(qint64, quietMs);
        QFETCH(qint64, staleMs);
        FakeMachine m;
        m.answers(10, 0, 310);
        const qint64 before = *siteClock().offsetMs();
        m.advance(quietMs);
        // A cache serves a page made long ago, and then one more stale answer.
        answer(m, staleMs, 10, 10);
        m.advance(300);
        answer(m, 0, 10, 10);
        m.advance(300);
        answer(m, staleMs, 10, 10);
        QVERIFY2(std::abs(*siteClock().offsetMs() - before) < 600,
                 qPrintable(QString::number(*siteClock().offsetMs() - before)));
        QCOMPARE(siteClock().samplesAside(), 2);
    }

    void whichAnswersTellTheTime()
    {
        // The site's own answers, redirects too; never a cache's, an error's or another host's.
        const QString page = u"page3.auctions.yahoo.co.jp"_s;
        const QList<std::tuple<QString, int, bool, bool>> cases{
            {page, 200, false, true},  {u"user.auctions.yahoo.co.jp"_s, 302, false, true},
            {page, 200, true, false},  {page, 503, false, false},
            {page, 404, false, false}, {u"cdn.example.com"_s, 200, false, false}};
        siteClock().setSiteHosts([](const QString &h) { return h.endsWith(".yahoo.co.jp"_L1); });
        for (const auto &[host, status, age, tells] : cases)
            QCOMPARE(siteClock().tellsSiteTime(host, status, age), tells);
        siteClock().setSiteHosts({});
    }

    void oneSlowPageDoesNotStretchEveryBid()
    {
        for (int i = 0; i < 15; ++i)
            siteClock().addAnswerTime(200);
        siteClock().addAnswerTime(30000); // one search page, say
        QCOMPARE(siteClock().slowAnswerMs(), 200);
        siteClock().addAnswerTime(30000); // twice is a slow site
        QCOMPARE(siteClock().slowAnswerMs(), 30000);
    }

    void wallClockJumpsDoNotMoveTheSiteTime()
    {
        FakeMachine m;
        m.answers(20, 0, 173);
        const qint64 site = siteClock().nowMs();
        QCOMPARE(siteClock().checkWallJump(), 0);
        m.wall -= 30000; // a time-sync step backwards
        QCOMPARE(siteClock().nowMs(), site);
        QCOMPARE(siteClock().checkWallJump(), -30000);
        m.mono += 3600000; // a night in suspend: the boot-time clock counts it, the wall too
        m.wall += 3600000;
        QCOMPARE(siteClock().nowMs(), site + 3600000);
        QCOMPARE(siteClock().checkWallJump(), 0);
    }

    void japanTimeWhateverTheZone()
    {
        // The suite runs in another zone; Japan time is still nine hours ahead of UTC.
        const QDateTime utc(QDate(2026, 12, 6), QTime(15, 30), QTimeZone::utc());
        const QDateTime jst = inSiteZone(utc);
        QCOMPARE(jst.date(), QDate(2026, 12, 7));
        QCOMPARE(jst.time(), QTime(0, 30));
        QCOMPARE(jst.toMSecsSinceEpoch(), utc.toMSecsSinceEpoch());
        // Summer in California changes nothing.
        const QDateTime july(QDate(2026, 7, 1), QTime(12, 0), siteZone());
        QCOMPARE(july.toUTC().time(), QTime(3, 0));
        setClock([] { return QDateTime(QDate(2026, 12, 6), QTime(15, 30), QTimeZone::utc()); });
        QCOMPARE(sw::now().time(), QTime(0, 30));
        setClock({});
    }
};

QTEST_GUILESS_MAIN(tst_SiteClock)
#include "tst_siteclock.moc"
