#include "database.h"
#include "siteclock.h"
#include "startupdb.h"
#include "tempdir.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

AppPaths pathsIn(const QString &dir)
{
    return {dir, dir + u"/snipewell.ini"_s};
}

void addItem(const QString &dbPath, const QString &itemid)
{
    ItemDatabase db(dbPath);
    QVERIFY(db.open());
    ItemRecord p;
    p.itemid = itemid;
    p.Itemname = itemid;
    p.enddate = QDateTime::currentDateTime().addDays(1);
    QVERIFY(db.upsertItem(p) == ItemDatabase::Upsert::Inserted);
    QVERIFY(db.appendLog(u"log "_s + itemid));
}

int countItems(const QString &dbPath)
{
    ItemDatabase db(dbPath);
    if (!db.open())
        return -1;
    const auto rows = db.listItems({}, QDateTime::currentDateTime());
    return rows ? int(rows->size()) : -1;
}

// A file of another program's database kind, with NUL bytes inside.
const char kNotOurs[] = "Standard Jet DB\0\0\0 not this program's";

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class tst_StartupDb : public QObject
{
    Q_OBJECT
private slots:
    void firstRunCreatesFolderAndSchema_data()
    {
        QTest::addColumn<QString>("leftThere"); // what the folder holds before the start
        QTest::addColumn<bool>("told");
        QTest::newRow("no folder") << QString() << false;
        QTest::newRow("settings written by hand") << u"snipewell.ini"_s << false;
        // A folder a program ran in whose database and backup are gone: an empty list, said.
        QTest::newRow("cookies of a login") << u"cookies.txt"_s << true;
        QTest::newRow("the service's token") << u"service.token"_s << true;
    }

    void firstRunCreatesFolderAndSchema()
    {
        QFETCH(QString, leftThere);
        QFETCH(bool, told);
        TempHome home;
        const AppPaths p = pathsIn(home.path(u"a/b/snipewell"_s));
        if (!leftThere.isEmpty()) {
            QVERIFY(QDir().mkpath(p.dataDir));
            writeFile(p.dataDir + QLatin1Char('/') + leftThere, "x=1\n");
        }
        const DbStartResult r = createDataFolderIfNew(p);
        QVERIFY(r.ok());
        QCOMPARE(r.note, told ? lostDatabaseText(p.dataDir) : QString());
        QVERIFY(QFile::exists(p.database()));
        QVERIFY(backupAndCompact(p).ok());
        // With a database there, nothing is made anew: its rows stay.
        addItem(p.database(), u"x1"_s);
        QVERIFY(createDataFolderIfNew(p).ok() && createDataFolderIfNew(p).note.isEmpty());
        ItemDatabase db(p.database());
        QVERIFY(db.open());
        QCOMPARE(db.schemaProblem(), QString());
        QVERIFY(db.itemByItemid(u"x1"_s).has_value());
    }

    void backupHoldsPreviousStateAndCompactedCopyTheSameRows()
    {
        TempHome home;
        const AppPaths p = pathsIn(home.path(u"data"_s));
        QVERIFY(createDataFolderIfNew(p).ok());
        writeFile(p.backup(), "stale backup"); // replaced, and its journal with it
        writeFile(p.backup() + u"-journal"_s, "stale journal");
        QVERIFY(backupAndCompact(p).ok());
        QVERIFY(!QFile::exists(p.backup() + u"-journal"_s));
        QCOMPARE(countItems(p.backup()), 0);
        addItem(p.database(), u"x1"_s);
        addItem(p.database(), u"x2"_s);
        QVERIFY(backupAndCompact(p).ok());
        QCOMPARE(countItems(p.backup()), 2);
        QCOMPARE(countItems(p.database()), 2);
        ItemDatabase db(p.database());
        QVERIFY(db.open());
        QCOMPARE(db.logEntries()->size(), 2);
        QCOMPARE(db.schemaProblem(), QString());
    }

    void missingDatabaseIsRefused()
    {
        TempHome home;
        const AppPaths p = pathsIn(home.path());
        writeFile(p.backup(), "data left by a failed compaction");
        const DbStartResult r = backupAndCompact(p);
        QCOMPARE(r.code, DbStartResult::Missing);
        QCOMPARE(r.message, u"データベースがありませんので実行できません。"_s);
        QVERIFY(QFile::exists(p.backup())); // the protected backup is untouched
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("dropTable");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("not sqlite")
            << QByteArray::fromRawData(kNotOurs, sizeof kNotOurs - 1) << QString()
            << int(DbStartResult::NotADatabase) << u"データベースではありません"_s;
        QTest::newRow("empty file")
            << QByteArray() << QString() << int(DbStartResult::SchemaProblem) << u"tblYo"_s;
        QTest::newRow("lacks tblLog")
            << QByteArray() << u"tblLog"_s << int(DbStartResult::SchemaProblem) << u"tblLog"_s;
        QTest::newRow("lacks tblycat")
            << QByteArray() << u"tblycat"_s << int(DbStartResult::SchemaProblem) << u"tblycat"_s;
    }

    void refusals()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, dropTable);
        QFETCH(int, code);
        QFETCH(QString, mentions);
        TempHome home;
        const AppPaths p = pathsIn(home.path());
        if (dropTable.isEmpty()) {
            writeFile(p.database(), content);
        } else {
            ItemDatabase db(p.database());
            QVERIFY(db.open() && db.createSchema());
            QSqlQuery(db.connection()).exec(u"DROP TABLE "_s + dropTable);
        }
        QFile original(p.database());
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray before = original.readAll();
        original.close();

        const DbStartResult r = backupAndCompact(p);
        QCOMPARE(int(r.code), code);
        QVERIFY2(r.message.contains(mentions), qPrintable(r.message));
        // Nothing renamed, nothing overwritten.
        QVERIFY(!QFile::exists(p.backup()));
        QVERIFY(original.open(QIODevice::ReadOnly));
        QCOMPARE(original.readAll(), before);
    }

    void onlyAHeldDatabaseIsRefused_data()
    {
        QTest::addColumn<bool>("bySqlite");
        QTest::addColumn<bool>("forAMoment");
        QTest::newRow("flock by another program") << false << false;
        QTest::newRow("open transaction in another connection") << true << false;
        QTest::newRow("a reader looking in for a moment starts") << true << true;
    }

    void onlyAHeldDatabaseIsRefused()
    {
        QFETCH(bool, bySqlite);
        QFETCH(bool, forAMoment);
        TempHome home;
        const AppPaths p = pathsIn(home.path(u"data"_s));
        QVERIFY(createDataFolderIfNew(p).ok());
        writeFile(p.backup(), "stale");
        if (forAMoment) {
            // Another program reads for 300 ms while the start looks at the file.
            std::promise<void> reading;
            std::thread reader([path = p.database(), &reading] {
                {
                    QSqlDatabase c = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"reader"_s);
                    c.setDatabaseName(path);
                    c.open();
                    QSqlQuery q(c);
                    q.exec(u"BEGIN"_s);
                    q.exec(u"SELECT count(*) FROM tblYo"_s);
                    q.next();
                    reading.set_value();
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    q.finish();
                    q.exec(u"COMMIT"_s);
                    c.close();
                }
                QSqlDatabase::removeDatabase(u"reader"_s);
            });
            reading.get_future().wait();
            const DbStartResult r = backupAndCompact(p);
            reader.join();
            QVERIFY2(r.ok(), qPrintable(r.message));
            return;
        }

        int fd = -1;
        ItemDatabase holder(p.database());
        QSqlQuery hold;
        if (bySqlite) {
            QVERIFY(holder.open());
            hold = QSqlQuery(holder.connection());
            QVERIFY(hold.exec(u"BEGIN EXCLUSIVE"_s));
        } else {
            fd = ::open(QFile::encodeName(p.database()).constData(), O_RDWR);
            QVERIFY(fd >= 0);
            QCOMPARE(::flock(fd, LOCK_EX), 0);
        }
        const DbStartResult r = backupAndCompact(p);
        QCOMPARE(r.code, DbStartResult::Locked);
        QCOMPARE(r.message,
                 u"データベースがロックされています。開いている場合は閉じてください。"_s);
        QVERIFY(QFile::exists(p.database()));
        if (fd >= 0)
            ::close(fd);
        else
            hold.exec(u"ROLLBACK"_s);
        QVERIFY(backupAndCompact(p).ok());
    }

    void failedCompactionLeavesDataInBackup()
    {
        TempHome home;
        const AppPaths p = pathsIn(home.path(u"data"_s));
        QVERIFY(createDataFolderIfNew(p).ok());
        addItem(p.database(), u"keep"_s);
        // Something in the way of the compacted file makes the compaction fail.
        QVERIFY(QDir().mkpath(p.database() + u".compacting/blocker"_s));
        const DbStartResult r = backupAndCompact(p);
        QCOMPARE(r.code, DbStartResult::CompactFailed);
        QVERIFY(r.message.contains(p.backup()));
        // The database is still there and whole, and so is the backup.
        QCOMPARE(countItems(p.database()), 1);
        QCOMPARE(countItems(p.backup()), 1);
        QVERIFY(QDir(p.database() + u".compacting"_s).removeRecursively());
        QVERIFY(backupAndCompact(p).ok());
        QCOMPARE(countItems(p.database()), 1);
    }

    void dataFolderOfTheLastVersionKeepsWorking()
    {
        // db2k.mdb as version 1.8.1 left it on a machine in Los Angeles on 6 December 2026 at
        // 10:00 there: an item read off a page that said "12月 7日 6時 34分" (Japan time, as the
        // site writes), limits set, one log line stamped with the machine's local time.
        TempHome home;
        const AppPaths paths = pathsIn(home.path(u"data"_s));
        QVERIFY(QDir().mkpath(paths.dataDir));
        QVERIFY(
            QFile::copy(QStringLiteral(FIXTURES_DIR "/db2k-los-angeles.mdb"), paths.database()));
        QFile::setPermissions(paths.database(), QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(backupAndCompact(paths).ok());
        ItemDatabase db(paths.database());
        QVERIFY(db.open());
        // The log's times are converted once, from the zone the file was written in.
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "America/Los_Angeles");
        tzset();
        const bool upgraded = db.upgradeStoredTimes();
        qputenv("TZ", zone);
        tzset();
        QVERIFY2(upgraded, qPrintable(db.lastError()));
        QVERIFY(db.upgradeStoredTimes()); // and only once

        const QDateTime endJapan(QDate(2026, 12, 7), QTime(6, 34), siteZone());
        const ItemRecord it = *db.itemByItemid(u"x777"_s);
        QCOMPARE(it.enddate.toMSecsSinceEpoch(), endJapan.toMSecsSinceEpoch());
        QCOMPARE(it.ItemYen, 4000);
        QCOMPARE(it.cat, u"2"_s);
        QCOMPARE(it.Numkai, 1);
        // Still running three and a half hours before that end; over a minute after it.
        QCOMPARE(db.biddingCandidates(endJapan.addSecs(-12600))->size(), 1);
        QCOMPARE(db.biddingCandidates(endJapan.addSecs(60))->size(), 0);
        const QList<LogEntry> log = *db.logEntries();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log.first().tDate,
                 QDateTime(QDate(2026, 12, 7), QTime(3, 0), siteZone())); // 10:00 in Los Angeles
        QCOMPARE(log.first().Memo, u"入札準備開始：x777"_s);
    }

    void onlyTheBackupLeftIsRestored()
    {
        TempHome home;
        const AppPaths p = pathsIn(home.path(u"data"_s));
        QVERIFY(createDataFolderIfNew(p).ok());
        addItem(p.database(), u"keep"_s);
        QVERIFY(backupAndCompact(p).ok());
        QVERIFY(QFile::remove(p.database())); // lost, by whatever means
        const DbStartResult r = backupAndCompact(p);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(r.note, u"データベースがなかったので、前回の状態（new.mdb）から戻しました"_s);
        QCOMPARE(countItems(p.database()), 1);
        QCOMPARE(countItems(p.backup()), 1);
    }
};

QTEST_GUILESS_MAIN(tst_StartupDb)
#include "tst_startupdb.moc"
