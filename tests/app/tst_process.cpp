#include "database.h"
#include "loglines.h"
#include "tempdir.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace sw;

// The program as a user starts it: a real process with its own data folder.
class tst_Process : public QObject
{
    Q_OBJECT
private slots:
    void firstAndSecondStart()
    {
        TempHome t;
        const QString home = t.path(u"fresh"_s);
        {
            QProcess p;
            configure(p, home);
            p.start();
            QVERIFY(waitUntilRunning(home));
            QTest::qWait(300);
            QCOMPARE(p.state(), QProcess::Running);
            p.terminate();
            QVERIFY(p.waitForFinished(5000));
        }
        {
            ItemDatabase db(home + u"/db2k.mdb"_s);
            QVERIFY(db.open());
            QCOMPARE(db.schemaProblem(), QString());
            ItemRecord item;
            item.itemid = u"x1"_s;
            item.Itemname = u"腕時計"_s;
            item.enddate = QDateTime::currentDateTime().addDays(1);
            QVERIFY(db.upsertItem(item) == ItemDatabase::Upsert::Inserted);
            db.saveUserColumns(db.itemByItemid(item.itemid)->id, 5000, u"0"_s, 1, 0);
        }
        QFile::remove(home + u"/new.mdb"_s);
        QProcess p;
        configure(p, home);
        p.start();
        QVERIFY(waitUntilRunning(home));
        QTest::qWait(500);
        // A logout's SIGTERM: the program ends cleanly and says which bid it gave up.
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        for (const char *file : {"/new.mdb", "/db2k.mdb"}) {
            ItemDatabase db(home + QString::fromLatin1(file));
            QVERIFY(db.open());
            QVERIFY(db.itemByItemid(u"x1"_s).has_value());
        }
        ItemDatabase db(home + u"/db2k.mdb"_s);
        QVERIFY(db.open());
        const QStringList log = logLines(db);
        QVERIFY2(
            log.contains(QStringLiteral(
                "入札中止（ログアウトかシステムの終了でプログラムが終了しました）：x1（腕時計）")),
            qPrintable(log.join(u'\n')));
    }

    void aDatabaseThatIsNotOneIsRefused()
    {
        // Said on stderr, the start refused, and nothing made of it.
        TempHome t;
        const QString home = t.path();
        QFile f(home + u"/db2k.mdb"_s);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        QProcess p;
        configure(p, home);
        p.start();
        QVERIFY(p.waitForFinished(20000));
        QVERIFY(p.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(u"データベースではありません"_s), qPrintable(err));
        QVERIFY(!QFile::exists(home + u"/new.mdb"_s));
    }

    void secondInstanceIsRefused()
    {
        TempHome t;
        const QString home = t.path(u"data"_s);
        QProcess first;
        configure(first, home);
        first.start();
        QVERIFY(waitUntilRunning(home));
        QProcess second;
        configure(second, home);
        second.start();
        QVERIFY(second.waitForFinished(20000));
        QVERIFY(second.exitCode() != 0);
        const QString err = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral(
                     "snipewellはまだ残っています。タスクマネージャーを使って終了してください。")),
                 qPrintable(err));
        QCOMPARE(first.state(), QProcess::Running);
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
    }

    void killedAtAnyStepOfTheStartUp_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("databaseLost"); // db2k.mdb gone before the start (only new.mdb)
        for (const char *step : {"backup-written", "backup-done", "compacted", "compact-done"})
            QTest::newRow(step) << QString::fromLatin1(step) << false;
        QTest::newRow("restoring the lost database") << u"restored"_s << true;
    }

    void killedAtAnyStepOfTheStartUp()
    {
        QFETCH(QString, step);
        QFETCH(bool, databaseLost);
        TempHome t;
        const QString home = t.path(u"data"_s);
        QString err;
        QVERIFY2(startsAndRuns(home, &err), qPrintable(err));
        {
            ItemDatabase db(home + u"/db2k.mdb"_s);
            QVERIFY(db.open());
            ItemRecord item;
            item.itemid = u"x1"_s;
            item.enddate = QDateTime::currentDateTime().addDays(1);
            QVERIFY(db.upsertItem(item) == ItemDatabase::Upsert::Inserted);
            QVERIFY(db.saveUserColumns(db.itemByItemid(u"x1"_s)->id, 5000, u"2"_s, 1, 0));
        }
        if (databaseLost) {
            QVERIFY(startsAndRuns(home, &err)); // new.mdb now holds x1
            QVERIFY(QFile::remove(home + u"/db2k.mdb"_s));
        }
        // A power cut at that step of the start-up.
        QProcess killed;
        configure(killed, home);
        QProcessEnvironment env = killed.processEnvironment();
        env.insert(u"SNIPEWELL_CRASH_AT"_s, step);
        killed.setProcessEnvironment(env);
        killed.start();
        QVERIFY(killed.waitForFinished(20000));
        QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
        // The next start goes on as if nothing had happened, and nothing is lost.
        QVERIFY2(startsAndRuns(home, &err), qPrintable(err));
        ItemDatabase db(home + u"/db2k.mdb"_s);
        QVERIFY(db.open());
        const std::optional<ItemRecord> kept = db.itemByItemid(u"x1"_s);
        QVERIFY(kept);
        QCOMPARE(kept->ItemYen, 5000);
        QCOMPARE(kept->cat, u"2"_s);
        if (databaseLost) {
            const QStringList log = logLines(db);
            QVERIFY2(
                log.contains(QStringLiteral("データベースがなかったので、前回の状態（new.mdb）から"
                                            "戻しました")),
                qPrintable(log.join(QLatin1Char('\n'))));
        }
    }

    void filesAreTheUsersAlone()
    {
        TempHome t;
        const QString home = t.path(u"data"_s);
        QString err;
        QVERIFY2(startsAndRuns(home, &err), qPrintable(err));
        auto mode = [](const QString &path) {
            struct stat st
            {};
            return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777)
                                                                         : -1;
        };
        QCOMPARE(mode(home), 0700);
        for (const char *f : {"/db2k.mdb", "/new.mdb", "/snipewell.ini"})
            QVERIFY2(mode(home + QString::fromLatin1(f)) == 0600, f);
        // Ended by SIGTERM, as a logout does: cleanly, leaving no lock behind.
        QVERIFY(!QFile::exists(home + u"/snipewell.lock"_s));
        // A folder an earlier version left open to everyone is closed at the next start.
        ::chmod(QFile::encodeName(home).constData(), 0755);
        ::chmod(QFile::encodeName(home + u"/db2k.mdb"_s).constData(), 0644);
        QFile cookies(home + u"/cookies.txt"_s);
        QVERIFY(cookies.open(QIODevice::WriteOnly));
        cookies.close();
        ::chmod(QFile::encodeName(cookies.fileName()).constData(), 0644);
        QVERIFY2(startsAndRuns(home, &err), qPrintable(err));
        QCOMPARE(mode(home), 0700);
        QCOMPARE(mode(home + u"/db2k.mdb"_s), 0600);
        QCOMPARE(mode(home + u"/new.mdb"_s), 0600);
        QCOMPARE(mode(cookies.fileName()), 0600);
        ItemDatabase db(home + u"/db2k.mdb"_s);
        QVERIFY(db.open());
        const QStringList log = logLines(db);
        QVERIFY2(log.contains(u"他のユーザーも読めたので、本人だけが読めるようにしました："_s +
                              cookies.fileName()),
                 qPrintable(log.join(QLatin1Char('\n'))));
    }

private:
    void configure(QProcess &p, const QString &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"SNIPEWELL_HOME"_s, home);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        p.setProcessEnvironment(env);
        p.setProgram(QStringLiteral(SNIPEWELL_BIN));
    }

    // Starts the program, waits until its frame is up, ends it; false if it never got there.
    bool startsAndRuns(const QString &home, QString *err)
    {
        QProcess p;
        configure(p, home);
        const QString ready = home + u".ready"_s;
        QFile::remove(ready);
        QProcessEnvironment env = p.processEnvironment();
        env.insert(u"SNIPEWELL_READY_FILE"_s, ready);
        p.setProcessEnvironment(env);
        p.start();
        const bool up = QTest::qWaitFor(
            [&] { return QFile::exists(ready) || p.state() == QProcess::NotRunning; }, 30000);
        const bool ran = up && QFile::exists(ready);
        p.terminate();
        p.waitForFinished(5000);
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return ran;
    }

    bool waitUntilRunning(const QString &home)
    {
        // Running means: the backup is made and the compacted database is in place.
        for (int i = 0; i < 200; ++i) {
            if (QFile::exists(home + u"/new.mdb"_s) && QFile::exists(home + u"/db2k.mdb"_s) &&
                !QFile::exists(home + u"/db2k.mdb.compacting"_s))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
};

QTEST_GUILESS_MAIN(tst_Process)
#include "tst_process.moc"
