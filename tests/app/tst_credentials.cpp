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
    void scrambledPasswordsComeBackInEverySecond()
    {
        // Runs, digits, percent signs and what looks like the format's own markers.
        const QStringList passwords{u"abcd"_s,
                                    u"paaaass"_s,
                                    u"zzzzzzzz"_s,
                                    u"xxxyyyyzzz"_s,
                                    u"1234abc"_s,
                                    u"90210"_s,
                                    u"a%b%%c%"_s,
                                    u"%%%%%"_s,
                                    u"%a05%x%1"_s,
                                    u"P@ss w0rd!#&"_s,
                                    u"パスワードabc"_s,
                                    QString(99, QLatin1Char('q')).replace(10, 5, u"12345"_s),
                                    u"abcdefghij"_s.repeated(9) + u"123456789"_s};
        for (const QString &password : passwords) {
            for (int sec = 0; sec < 60; ++sec)
                QCOMPARE(Unscramble(Scramble(password, sec)), password);
        }
        const QString stored = Scramble(u"secretword"_s, 0);
        QVERIFY(!stored.contains(u"secret"_s) && !stored.contains(u"word"_s));
        QCOMPARE(Unscramble(QString()), QString());
    }

    void damagedStoredTextIsRejected()
    {
        for (const QString &stored :
             {u"hello"_s, u"ab"_s, Scramble(u"abcdefgh"_s, 1).append(QLatin1Char('x'))}) {
            QVERIFY(!UnscrambleChecked(stored));
            QCOMPARE(Unscramble(stored), QString());
        }
    }

    void encodedPassword()
    {
        // Every byte as upper-case hex, non-ASCII as UTF-8.
        QCOMPARE(encodePassword(u"abC"_s), u"%61%62%43"_s);
        QCOMPARE(encodePassword(u"a b%~?"_s), u"%61%20%62%25%7E%3F"_s);
        QCOMPARE(encodePassword(u"é"_s), u"%C3%A9"_s);
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
