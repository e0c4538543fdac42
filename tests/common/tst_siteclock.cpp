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
    void install()
    {
        siteClock().setSources([this] { return wall; }, [this] { return mono; });
    }
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
} // namespace

// The site's clock as the program knows it: read off the Date of the site's answers, kept
// on the machine's monotonic clock, so that neither the machine's zone nor its wrong or
// jumping wall clock moves a bid.
class tst_SiteClock : public QObject
{
    Q_OBJECT
private slots:
    void init() { siteClock().reset(); }

    void cleanup() { siteClock().setSources({}, {}); }

    void httpDates_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("ms"); // -1: does not read
        const qint64 t =
            QDateTime(QDate(2026, 12, 6), QTime(12, 0, 5), QTimeZone::utc()).toMSecsSinceEpoch();
        QTest::newRow("the usual form") << QByteArray("Sun, 06 Dec 2026 12:00:05 GMT") << t;
        QTest::newRow("with an offset") << QByteArray("Sun, 06 Dec 2026 21:00:05 +0900") << t;
        QTest::newRow("blanks around") << QByteArray("  Sun, 06 Dec 2026 12:00:05 GMT ") << t;
        QTest::newRow("missing") << QByteArray() << qint64(-1);
        QTest::newRow("not a date") << QByteArray("yesterday") << qint64(-1);
        QTest::newRow("impossible day")
            << QByteArray("Sun, 32 Dec 2026 12:00:05 GMT") << qint64(-1);
        // The hour a daylight-saving change skips in California is an ordinary hour in UTC.
        QTest::newRow("during California's spring-forward hour")
            << QByteArray("Sun, 08 Mar 2026 02:30:00 GMT")
            << QDateTime(QDate(2026, 3, 8), QTime(2, 30), QTimeZone::utc()).toMSecsSinceEpoch();
    }

    void httpDates()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, ms);
        const std::optional<qint64> got = SiteClock::parseHttpDate(header);
        QCOMPARE(got.value_or(-1), ms);
    }

    void samplesNarrowTheOffset_data()
    {
        QTest::addColumn<qint64>("offsetMs"); // site ahead of the machine
        QTest::addColumn<qint64>("upMs");
        QTest::addColumn<qint64>("downMs");
        QTest::addColumn<qint64>("maxErrorMs"); // of the arrival moment, after the samples
        QTest::newRow("same clocks, fast network")
            << qint64(0) << qint64(5) << qint64(5) << qint64(40);
        QTest::newRow("machine 3.2 s slow")
            << qint64(3200) << qint64(20) << qint64(20) << qint64(60);
        QTest::newRow("machine 3 s fast")
            << qint64(-3000) << qint64(20) << qint64(20) << qint64(60);
        QTest::newRow("a second each way")
            << qint64(1500) << qint64(1000) << qint64(1000) << qint64(80);
        QTest::newRow("slow one way only")
            << qint64(700) << qint64(50) << qint64(900) << qint64(80);
    }

    void samplesNarrowTheOffset()
    {
        QFETCH(qint64, offsetMs);
        QFETCH(qint64, upMs);
        QFETCH(qint64, downMs);
        QFETCH(qint64, maxErrorMs);
        FakeMachine m;
        m.install();
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
        m.install();
        for (int i = 0; i < 10; ++i) {
            answer(m, 2000, 10, 10);
            m.advance(330);
        }
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
        m.install();
        for (int i = 0; i < 10; ++i) {
            answer(m, 0, 10, 10);
            m.advance(310);
        }
        // The site's clock is stepped 5 s on: the new answers contradict the old ones.
        for (int i = 0; i < 10; ++i) {
            answer(m, 5000, 10, 10);
            m.advance(290);
        }
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
        m.install();
        for (int i = 0; i < 10; ++i) {
            answer(m, 0, 10, 10);
            m.advance(310);
        }
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

    void whichAnswersTellTheTime_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("age");
        QTest::addColumn<bool>("tells");
        QTest::newRow("an item page") << "page3.auctions.yahoo.co.jp" << 200 << false << true;
        QTest::newRow("a redirect") << "user.auctions.yahoo.co.jp" << 302 << false << true;
        QTest::newRow("from a cache") << "page3.auctions.yahoo.co.jp" << 200 << true << false;
        QTest::newRow("a server error") << "page3.auctions.yahoo.co.jp" << 503 << false << false;
        QTest::newRow("not found") << "page3.auctions.yahoo.co.jp" << 404 << false << false;
        QTest::newRow("another host") << "cdn.example.com" << 200 << false << false;
    }

    void whichAnswersTellTheTime()
    {
        QFETCH(QString, host);
        QFETCH(int, status);
        QFETCH(bool, age);
        QFETCH(bool, tells);
        siteClock().setSiteHosts([](const QString &h) { return h.endsWith(".yahoo.co.jp"_L1); });
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
        m.install();
        for (int i = 0; i < 20; ++i) {
            answer(m, 0, 10, 10);
            m.advance(173);
        }
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
