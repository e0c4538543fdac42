#include "settingsstore.h"
#include "tempdir.h"

#include <QFile>
#include <QTest>

using sw::SettingsStore;

using namespace Qt::StringLiterals;

struct KeysIgnoreCaseRow
{
    QString writeSection, writeKey, readSection, readKey;
};

class tst_SettingsStore : public QObject
{
    Q_OBJECT
private slots:
    void keysIgnoreCase_data()
    {
        QTest::addColumn<KeysIgnoreCaseRow>("row");
        using R = KeysIgnoreCaseRow;
        QTest::newRow("BefSec read as Befsec")
            << R{u"Settings"_s, u"BefSec"_s, u"Settings"_s, u"Befsec"_s};
        QTest::newRow("section case differs")
            << R{u"SETTINGS"_s, u"ntp"_s, u"settings"_s, u"NTP"_s};
        QTest::newRow("key with blanks")
            << R{u"Options"_s, u"Show Tips at Startup"_s, u"options"_s, u"show tips at startup"_s};
    }

    void keysIgnoreCase()
    {
        QFETCH(KeysIgnoreCaseRow, row);
        const auto &[writeSection, writeKey, readSection, readKey] = row;
        TempHome home;
        const QString ini = home.path(u"snipewell.ini"_s);
        {
            SettingsStore s(ini);
            QVERIFY(s.save(writeSection, writeKey, u"first"_s));
            // A second write in the other spelling replaces the same value.
            QVERIFY(s.save(readSection, readKey, u"60"_s));
            QCOMPARE(s.get(readSection, readKey, u"x"_s), u"60"_s);
            QCOMPARE(s.get(writeSection, writeKey, u"x"_s), u"60"_s);
        }
        SettingsStore again(ini);
        QCOMPARE(again.get(readSection, readKey, u"x"_s), u"60"_s);
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QCOMPARE(text.count("60"), 1); // one key, not two spellings side by side
    }

    void valuesSurviveARestart()
    {
        TempHome home;
        const QString ini = home.path(u"sub/dir/snipewell.ini"_s);
        const QString keyword = u"（黄色　青色）　シャツ　－ジャンク"_s;
        {
            SettingsStore s(ini);
            QVERIFY(s.save(u"Serch"_s, u"text"_s, keyword));
            QVERIFY(s.save(u"Settings"_s, u"CAT4"_s, u"本=a;b"_s));
            QVERIFY(s.save(u"Settings"_s, u"empty"_s, QString()));
        }
        SettingsStore s(ini);
        QCOMPARE(s.get(u"serch"_s, u"TEXT"_s, QString()), keyword);
        QCOMPARE(s.get(u"Settings"_s, u"cat4"_s, QString()), u"本=a;b"_s);
        QCOMPARE(s.get(u"Settings"_s, u"empty"_s, u"d"_s), QString());
    }

    void conversions()
    {
        // As a switch (default false) and as a number (default 7): -1 is true, words are not.
        const QList<std::tuple<QString, bool, int>> cases{
            {u"0"_s, false, 0},     {u"1"_s, true, 1},    {u"-1"_s, true, -1},
            {u" 30 "_s, false, 30}, {u"abc"_s, false, 7}, {QString(), false, 7},
            {u"True"_s, true, 7}};
        TempHome home;
        SettingsStore s(home.path(u"snipewell.ini"_s));
        for (const auto &[stored, asBool, asInt] : cases) {
            s.save(u"Settings"_s, u"v"_s, stored);
            QCOMPARE(s.getBool(u"Settings"_s, u"v"_s, false), asBool);
            QCOMPARE(s.getInt(u"Settings"_s, u"v"_s, 7), asInt);
        }
    }

    void unreadableFileIsNeverOverwritten()
    {
        TempHome home;
        // A folder where the file should be is as unreadable as a settings file gets for root.
        const QString ini = home.path(u"snipewell.ini"_s);
        QVERIFY(QDir().mkdir(ini));
        QFile inside(ini + u"/keep"_s);
        QVERIFY(inside.open(QIODevice::WriteOnly));
        inside.write("user data");
        inside.close();

        SettingsStore s(ini);
        QVERIFY(!s.error().isEmpty());
        QVERIFY(s.error().contains(ini));
        QCOMPARE(s.get(u"Settings"_s, u"Befsec"_s, u"30"_s), u"30"_s);
        // Writes are kept for this run but reported as not saved.
        QVERIFY(!s.save(u"Settings"_s, u"Befsec"_s, u"10"_s));
        QCOMPARE(s.get(u"settings"_s, u"BEFSEC"_s, u"30"_s), u"10"_s);
        QVERIFY(QFileInfo(ini).isDir());
        QVERIFY(QFile::exists(ini + u"/keep"_s));
    }
};

QTEST_GUILESS_MAIN(tst_SettingsStore)
#include "tst_settingsstore.moc"
