#include "credentials.h"
#include "database.h"
#include "loglines.h"
#include "settingsstore.h"
#include "simitems.h"
#include "simsettings.h"
#include "simsite.h"
#include "startupdb.h"
#include "tempdir.h"

#include <QFile>
#include <QNetworkCookie>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

constexpr int kBefSec = 5;

sim::Item simItem(const QString &id, const QDateTime &end, qint32 rivalMax)
{
    sim::Item it = item(end, id);
    it.price = 5000;
    it.bids = 3;
    it.highBidder = u"rival_hanako"_s;
    it.maxBids = {{it.highBidder, 6000}};
    // The rival raises its maximum twenty seconds before the end.
    it.rivals << sim::RivalBid{u"rival_jiro"_s, rivalMax, -1, 20};
    return it;
}

} // namespace

// Nobody at the keyboard: the program, started against the simulated site, bids on its
// own in the last seconds and records who won.
class tst_BiddingE2E : public QObject
{
    Q_OBJECT
private slots:
    void bidsUnattendedAndRecordsTheWinner_data()
    {
        // How wrong the machine's clock is, as faketime(1) makes it for the program alone.
        QTest::addColumn<QString>("clock");
        QTest::addColumn<QString>("told"); // what the log says of the clock
        QTest::newRow("machine clock right") << QString() << QString();
        // Said as soon as it is known, to the tenth of a second the first answers allow.
        QTest::newRow("machine clock 3 s slow")
            << u"-3s"_s << u"^サイトの時計との差：\\+(2\\.[89]|3\\.[01])秒"_s;
        QTest::newRow("machine clock 4 s fast")
            << u"+4s"_s << u"^サイトの時計との差：-(3\\.[89]|4\\.[01])秒"_s;
    }

    void bidsUnattendedAndRecordsTheWinner()
    {
        QFETCH(QString, clock);
        QFETCH(QString, told);
        TempHome home;
        const QDateTime endWin = wholeSecond(35000), endLose = endWin.addSecs(5);

        sim::Scenario s;

        s.showSeconds = true; // these auctions end at any second
        s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {}}
                  << sim::Bidder{u"rival_hanako"_s, u"x"_s, {}}
                  << sim::Bidder{u"rival_jiro"_s, u"y"_s, {}};
        s.items << simItem(u"x1"_s, endWin, 15000) << simItem(u"x2"_s, endLose, 15000);
        sim::SimSite site(s);
        QVERIFY(site.listenOn() != 0);

        const AppPaths paths{home.path(u"data"_s), home.path(u"data/snipewell.ini"_s)};
        QVERIFY(createDataFolderIfNew(paths).ok());
        {
            ItemDatabase db(paths.database());
            QVERIFY(db.open());
            for (const auto &[it, max] :
                 {std::pair{s.items[0], 20000}, std::pair{s.items[1], 10000}})
                storeAsRead(db, it, max, 1);
            SettingsStore settings(paths.settingsFile);
            settings.save(u"Settings"_s, u"yuser"_s, u"snipe_taro"_s);
            settings.save(u"Settings"_s, u"ypass"_s, Scramble(u"taro1234"_s));
            settings.save(u"Settings"_s, u"BefSec"_s, QString::number(kBefSec));
            reachSimulatedSite(settings, site.port());
            // Logged in on an earlier day: the browser's start page is the member's own page,
            // not the login page that would hold every bid back.
            QNetworkCookie session(sim::SimSite::sessionCookieName().toLatin1(),
                                   site.createSession(u"snipe_taro"_s).toLatin1());
            session.setDomain(u".yahoo.co.jp"_s);
            session.setPath(u"/"_s);
            QFile cookies(paths.dataDir + u"/cookies.txt"_s);
            QVERIFY(cookies.open(QIODevice::WriteOnly));
            cookies.write(session.toRawForm() + '\n');
        }

        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SNIPEWELL_HOME"_s, paths.dataDir);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        // The built-in browser keeps the default connection: the site through http_proxy.
        env.insert(u"http_proxy"_s, u"http://127.0.0.1:"_s + QString::number(site.port()));
        if (!clock.isEmpty()) {
            // libfaketime in the program's own process (the faketime command would stand
            // between the test and the program and keep it from ending).
            const QString lib = u"/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"_s;
            QVERIFY2(QFile::exists(lib),
                     "libfaketime is missing: scripts/install-deps.sh installs it");
            env.insert(u"LD_PRELOAD"_s, lib);
            env.insert(u"FAKETIME"_s, clock);
        }
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(SNIPEWELL_BIN));
        QVERIFY(app.waitForStarted());

        auto finished = [&paths] {
            ItemDatabase db(paths.database());
            if (!db.open())
                return false;
            const auto a = db.itemByItemid(u"x1"_s);
            const auto b = db.itemByItemid(u"x2"_s);
            return a && b && a->fin && b->fin;
        };
        const bool done = QTest::qWaitFor(finished, 90000);
        const bool stillRunning = app.state() == QProcess::Running;
        app.terminate();
        if (!done) { // what the program and the site saw, for the failure report
            ItemDatabase db(paths.database());
            db.open();
            for (const LogEntry &e : db.logEntries().value_or(QList<LogEntry>{}))
                qWarning("log: %s", qPrintable(e.Memo));
            for (const sim::RequestRecord &r : site.requests())
                qWarning("site: %s %s?%s -> %d", qPrintable(r.host), qPrintable(r.path),
                         qPrintable(r.query), r.status);
        }
        QVERIFY(done);
        QVERIFY2(stillRunning, "the program ended on its own");
        app.waitForFinished(5000);

        // The confirmations reached the site at end - Befsec (300 ms early to 100 ms late).
        QList<qint64> confirmations;
        for (const sim::RequestRecord &r : site.requestsTo(u"/jp/config/placebid"_s)) {
            if (r.query.startsWith(u"Partial=1&ItemID="_s))
                confirmations << r.atMs;
        }
        QCOMPARE(confirmations.size(), 2);
        const qint64 lateWin = confirmations[0] - endWin.addSecs(-kBefSec).toMSecsSinceEpoch();
        const qint64 lateLose = confirmations[1] - endLose.addSecs(-kBefSec).toMSecsSinceEpoch();
        qInfo("confirmations arrived %lld ms and %lld ms after their bid times", lateWin, lateLose);
        QVERIFY2(lateWin >= -300 && lateWin <= 100, qPrintable(QString::number(lateWin)));
        QVERIFY2(lateLose >= -300 && lateLose <= 100, qPrintable(QString::number(lateLose)));

        ItemDatabase db(paths.database());
        QVERIFY(db.open());
        const ItemRecord won = *db.itemByItemid(u"x1"_s);
        QCOMPARE(won.SaikougakuShaid, u"snipe_taro"_s);
        QCOMPARE(won.status, 1);
        const ItemRecord lost = *db.itemByItemid(u"x2"_s);
        QCOMPARE(lost.SaikougakuShaid, u"rival_jiro"_s);
        QCOMPARE(lost.status, 0);

        const QStringList log = logLines(db);
        for (const QString &line : {u"入札準備開始：x1"_s, u"入札準備開始：x2"_s,
                                    u"入札開始：x1：20000"_s, u"入札結果：x1：20000：成功 "_s,
                                    u"入札開始：x2：10000"_s, u"入札結果：x2：10000：低い金額"_s}) {
            QVERIFY2(log.contains(line),
                     qPrintable(line + u" not in\n"_s + log.join(QLatin1Char('\n'))));
        }
        const bool toldOfTheClock = std::any_of(log.cbegin(), log.cend(), [](const QString &l) {
            return l.startsWith(u"サイトの時計との差："_s);
        });
        QCOMPARE(toldOfTheClock, !told.isEmpty());
        if (!told.isEmpty())
            QVERIFY2(std::any_of(log.cbegin(), log.cend(),
                                 [&told](const QString &l) {
                                     return QRegularExpression(told).match(l).hasMatch();
                                 }),
                     qPrintable(log.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(tst_BiddingE2E)
#include "tst_bidding_e2e.moc"
