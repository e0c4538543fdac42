#include "database.h"
#include "tempdir.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace sw;

// The program as a user starts it: a real process with its own data folder.
class tst_Process : public QObject
{
    Q_OBJECT
private slots:
    void firstAndSecondStart();
    void refusals_data();
    void refusals();
    void secondInstanceIsRefused();

private:
    static void configure(QProcess &p, const QString &home);
    static bool waitUntilRunning(const QString &home);
};

void tst_Process::configure(QProcess &p, const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SNIPEWELL_HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setProgram(QStringLiteral(SNIPEWELL_BIN));
}

bool tst_Process::waitUntilRunning(const QString &home)
{
    // Running means: the backup is made and the compacted database is in place.
    for (int i = 0; i < 200; ++i) {
        if (QFile::exists(home + QStringLiteral("/new.mdb")) &&
            QFile::exists(home + QStringLiteral("/db2k.mdb")) &&
            !QFile::exists(home + QStringLiteral("/db2k.mdb.compacting")))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void tst_Process::firstAndSecondStart()
{
    TempHome t;
    const QString home = t.path(QStringLiteral("fresh"));
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
        ItemDatabase db(home + QStringLiteral("/db2k.mdb"));
        QVERIFY(db.open());
        QCOMPARE(db.schemaProblem(), QString());
        ItemRecord item;
        item.itemid = QStringLiteral("x1");
        item.enddate = QDateTime::currentDateTime().addDays(1);
        QVERIFY(db.upsertItem(item) == ItemDatabase::Upsert::Inserted);
    }
    QFile::remove(home + QStringLiteral("/new.mdb"));
    QProcess p;
    configure(p, home);
    p.start();
    QVERIFY(waitUntilRunning(home));
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
    for (const char *file : {"/new.mdb", "/db2k.mdb"}) {
        ItemDatabase db(home + QString::fromLatin1(file));
        QVERIFY(db.open());
        QVERIFY(db.itemByItemid(QStringLiteral("x1")).has_value());
    }
}

void tst_Process::refusals_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("text");
    QTest::newRow("database missing") << "missing"
                                      << "データベースがありませんので実行できません。";
    QTest::newRow("database held")
        << "held"
        << "データベースがロックされています。開いている場合は閉じてください。";
    QTest::newRow("not a database") << "garbage"
                                    << "データベースではありません";
}

void tst_Process::refusals()
{
    QFETCH(QString, setup);
    QFETCH(QString, text);
    TempHome t;
    const QString home = t.path();
    const QString dbPath = home + QStringLiteral("/db2k.mdb");
    int fd = -1;
    if (setup == QLatin1String("held") || setup == QLatin1String("garbage")) {
        if (setup == QLatin1String("held")) {
            ItemDatabase db(dbPath);
            QVERIFY(db.open() && db.createSchema());
        } else {
            QFile f(dbPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(4096, 'x'));
        }
        fd = ::open(QFile::encodeName(dbPath).constData(), O_RDWR);
        if (setup == QLatin1String("held"))
            QCOMPARE(::flock(fd, LOCK_EX), 0);
    }
    QProcess p;
    configure(p, home);
    p.start();
    QVERIFY(p.waitForFinished(20000));
    if (fd >= 0)
        ::close(fd);
    QVERIFY(p.exitCode() != 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(text), qPrintable(err));
    QVERIFY(!QFile::exists(home + QStringLiteral("/new.mdb")));
}

void tst_Process::secondInstanceIsRefused()
{
    TempHome t;
    const QString home = t.path(QStringLiteral("data"));
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

QTEST_GUILESS_MAIN(tst_Process)
#include "tst_process.moc"
