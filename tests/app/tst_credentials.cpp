#include "appvalues.h"
#include "credentials.h"
#include "settingsstore.h"
#include "startup.h"
#include "tempdir.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

class tst_Credentials : public QObject
{
    Q_OBJECT
private slots:
    void roundTripInEverySecond_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("four characters") << "abcd";
        QTest::newRow("run of four") << "paaaass";
        QTest::newRow("all one character") << "zzzzzzzz";
        QTest::newRow("two runs, first longest kept") << "xxxyyyyzzz";
        QTest::newRow("starts with digits") << "1234abc";
        QTest::newRow("digits only") << "90210";
        QTest::newRow("percent signs") << "a%b%%c%";
        QTest::newRow("percent run") << "%%%%%";
        QTest::newRow("looks like a marker") << "%a05%x%1";
        QTest::newRow("symbols") << "P@ss w0rd!#&";
        QTest::newRow("99 characters") << QString(99, QLatin1Char('q')).replace(10, 5, u"12345"_s);
        QTest::newRow("99 mixed") << u"abcdefghij"_s.repeated(9) + u"123456789"_s;
        QTest::newRow("non-ASCII") << "パスワードabc";
    }

    void roundTripInEverySecond()
    {
        QFETCH(QString, password);
        for (int sec = 0; sec < 60; ++sec) {
            const QString stored = Scramble(password, sec);
            QCOMPARE(Unscramble(stored), password);
        }
    }

    void storedTextHidesThePassword()
    {
        const QString stored = Scramble(u"secretword"_s, 0);
        QVERIFY(!stored.contains(u"secret"_s));
        QVERIFY(!stored.contains(u"word"_s));
        QCOMPARE(Unscramble(QString()), QString());
    }

    void damagedStoredTextIsRejected_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("plain text") << "hello";
        QTest::newRow("too short") << "ab";
        QTest::newRow("wrong length digits") << Scramble(u"abcdefgh"_s, 1).append(QLatin1Char('x'));
    }

    void damagedStoredTextIsRejected()
    {
        QFETCH(QString, stored);
        QVERIFY(!UnscrambleChecked(stored));
        QCOMPARE(Unscramble(stored), QString());
    }

    void encodedPassword_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("encoded");
        QTest::newRow("letters") << "abC"
                                 << "%61%62%43";
        QTest::newRow("symbols") << "a b%"
                                 << "%61%20%62%25";
        QTest::newRow("upper-case hex") << "~?"
                                        << "%7E%3F";
        QTest::newRow("non-ASCII as UTF-8") << "é"
                                            << "%C3%A9";
    }

    void encodedPassword()
    {
        QFETCH(QString, plain);
        QFETCH(QString, encoded);
        QCOMPARE(encodePassword(plain), encoded);
    }

    void credentialsLoadedAtStart()
    {
        TempHome home;
        SettingsStore s(home.path(u"snipewell.ini"_s));
        s.save(u"Settings"_s, u"yuser"_s, u"bidder01"_s);
        s.save(u"Settings"_s, u"ypass"_s, Scramble(u"pa%ss"_s, 7));
        AppValues v;
        loadCredentials(s, v);
        QCOMPARE(v.ownId, u"bidder01"_s);
        QCOMPARE(v.password, u"pa%ss"_s);
        QCOMPARE(v.encodedPassword, u"%70%61%25%73%73"_s);
    }

    void clockProgram_data()
    {
        QTest::addColumn<QString>("ntp");
        QTest::addColumn<bool>("started");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("three characters") << "/bi" << false;
        QTest::newRow("no such file") << "/nonexistent/kloksync" << false;
        QTest::newRow("a folder") << "@HOME@" << false;
        QTest::newRow("existing program") << "@SCRIPT@" << true;
    }

    void clockProgram()
    {
        QFETCH(QString, ntp);
        QFETCH(bool, started);
        TempHome home;
        const QString script = home.path(u"clock.sh"_s);
        const QString marker = home.path(u"ran"_s);
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ntp.replace(u"@SCRIPT@"_s, script).replace(u"@HOME@"_s, home.path());

        SettingsStore s(home.path(u"snipewell.ini"_s));
        s.save(u"Settings"_s, u"ntp"_s, ntp);
        QCOMPARE(startClockProgram(s), started);
        if (started)
            QTRY_VERIFY(QFile::exists(marker));
        else
            QVERIFY(!QFile::exists(marker));
    }
};

QTEST_GUILESS_MAIN(tst_Credentials)
#include "tst_credentials.moc"
