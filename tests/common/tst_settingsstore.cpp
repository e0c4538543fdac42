#include "settingsstore.h"
#include "tempdir.h"

#include <QFile>
#include <QTest>

using sw::SettingsStore;

class tst_SettingsStore : public QObject
{
    Q_OBJECT
private slots:
    void keysIgnoreCase_data();
    void keysIgnoreCase();
    void valuesSurviveARestart();
    void conversions_data();
    void conversions();
    void unreadableFileIsNeverOverwritten();
};

void tst_SettingsStore::keysIgnoreCase_data()
{
    QTest::addColumn<QString>("writeSection");
    QTest::addColumn<QString>("writeKey");
    QTest::addColumn<QString>("readSection");
    QTest::addColumn<QString>("readKey");
    QTest::newRow("BefSec read as Befsec") << "Settings"
                                           << "BefSec"
                                           << "Settings"
                                           << "Befsec";
    QTest::newRow("section case differs") << "SETTINGS"
                                          << "ntp"
                                          << "settings"
                                          << "NTP";
    QTest::newRow("key with blanks") << "Options"
                                     << "Show Tips at Startup"
                                     << "options"
                                     << "show tips at startup";
}

void tst_SettingsStore::keysIgnoreCase()
{
    QFETCH(QString, writeSection);
    QFETCH(QString, writeKey);
    QFETCH(QString, readSection);
    QFETCH(QString, readKey);
    TempHome home;
    const QString ini = home.path(QStringLiteral("snipewell.ini"));
    {
        SettingsStore s(ini);
        QVERIFY(s.save(writeSection, writeKey, QStringLiteral("first")));
        // A second write in the other spelling replaces the same value.
        QVERIFY(s.save(readSection, readKey, QStringLiteral("60")));
        QCOMPARE(s.get(readSection, readKey, QStringLiteral("x")), QStringLiteral("60"));
        QCOMPARE(s.get(writeSection, writeKey, QStringLiteral("x")), QStringLiteral("60"));
    }
    SettingsStore again(ini);
    QCOMPARE(again.get(readSection, readKey, QStringLiteral("x")), QStringLiteral("60"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QCOMPARE(text.count("60"), 1); // one key, not two spellings side by side
}

void tst_SettingsStore::valuesSurviveARestart()
{
    TempHome home;
    const QString ini = home.path(QStringLiteral("sub/dir/snipewell.ini"));
    const QString keyword = QStringLiteral("（黄色　青色）　シャツ　－ジャンク");
    {
        SettingsStore s(ini);
        QVERIFY(s.save(QStringLiteral("Serch"), QStringLiteral("text"), keyword));
        QVERIFY(
            s.save(QStringLiteral("Settings"), QStringLiteral("CAT4"), QStringLiteral("本=a;b")));
        QVERIFY(s.save(QStringLiteral("Settings"), QStringLiteral("empty"), QString()));
    }
    SettingsStore s(ini);
    QCOMPARE(s.get(QStringLiteral("serch"), QStringLiteral("TEXT"), QString()), keyword);
    QCOMPARE(s.get(QStringLiteral("Settings"), QStringLiteral("cat4"), QString()),
             QStringLiteral("本=a;b"));
    QCOMPARE(s.get(QStringLiteral("Settings"), QStringLiteral("empty"), QStringLiteral("d")),
             QString());
}

void tst_SettingsStore::conversions_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("asBool"); // with default false
    QTest::addColumn<int>("asInt");   // with default 7
    QTest::newRow("zero") << "0" << false << 0;
    QTest::newRow("one") << "1" << true << 1;
    QTest::newRow("minus one is true") << "-1" << true << -1;
    QTest::newRow("blanks around") << " 30 " << false << 30;
    QTest::newRow("not a number") << "abc" << false << 7;
    QTest::newRow("empty") << "" << false << 7;
    QTest::newRow("True word") << "True" << true << 7;
}

void tst_SettingsStore::conversions()
{
    QFETCH(QString, stored);
    QFETCH(bool, asBool);
    QFETCH(int, asInt);
    TempHome home;
    SettingsStore s(home.path(QStringLiteral("snipewell.ini")));
    s.save(QStringLiteral("Settings"), QStringLiteral("v"), stored);
    QCOMPARE(s.getBool(QStringLiteral("Settings"), QStringLiteral("v"), false), asBool);
    QCOMPARE(s.getInt(QStringLiteral("Settings"), QStringLiteral("v"), 7), asInt);
}

void tst_SettingsStore::unreadableFileIsNeverOverwritten()
{
    TempHome home;
    // A folder where the file should be is as unreadable as a settings file gets for root.
    const QString ini = home.path(QStringLiteral("snipewell.ini"));
    QVERIFY(QDir().mkdir(ini));
    QFile inside(ini + QStringLiteral("/keep"));
    QVERIFY(inside.open(QIODevice::WriteOnly));
    inside.write("user data");
    inside.close();

    SettingsStore s(ini);
    QVERIFY(!s.error().isEmpty());
    QVERIFY(s.error().contains(ini));
    QCOMPARE(s.get(QStringLiteral("Settings"), QStringLiteral("Befsec"), QStringLiteral("30")),
             QStringLiteral("30"));
    // Writes are kept for this run but reported as not saved.
    QVERIFY(!s.save(QStringLiteral("Settings"), QStringLiteral("Befsec"), QStringLiteral("10")));
    QCOMPARE(s.get(QStringLiteral("settings"), QStringLiteral("BEFSEC"), QStringLiteral("30")),
             QStringLiteral("10"));
    QVERIFY(QFileInfo(ini).isDir());
    QVERIFY(QFile::exists(ini + QStringLiteral("/keep")));
}

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_settingsstore.moc"
