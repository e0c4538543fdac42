#include "appvalues.h"
#include "credentials.h"
#include "frmlogin.h"
#include "passwordstore.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "tempdir.h"

#include <qt6keychain/keychain.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {
bool keyringExpected()
{
    return qEnvironmentVariableIntValue("SNIPEWELL_TEST_KEYRING") == 1;
}

QString storedScrambled(const SettingsStore &s)
{
    return s.get(u"Settings"_s, u"ypass"_s, QString());
}

// The credentials dialog on a settings file of its own: the member types an ID and a
// password and confirms with OK.
struct Dialog
{
    TempHome home;
    SettingsStore settings{home.path(u"snipewell.ini"_s)};
    AppValues values;
    ScriptedPrompter prompter;
    frmLogin dialog{settings, values, prompter};
    void typeAndConfirm()
    {
        dialog.show();
        QTest::keyClicks(dialog.findChild<QLineEdit *>(u"txtUser_0"_s), u"snipe_taro"_s);
        QTest::keyClicks(dialog.findChild<QLineEdit *>(u"txtUser_1"_s), u"hana5678"_s);
        QTest::mouseClick(dialog.findChild<QPushButton *>(u"cmdOK"_s), Qt::LeftButton);
    }
};

// Runs a job on the program's keyring entry, as another program would; false if the
// keyring never answers.
bool runOnTheEntry(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    job.setKey(u"yahoo-japan:snipe_taro"_s);
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, [&done] { done = true; });
    job.start();
    return QTest::qWaitFor([&done] { return done; }, 5000);
}

// What the keyring itself holds for the program.
QString inKeyring()
{
    QKeychain::ReadPasswordJob job(u"snipewell"_s);
    if (!runOnTheEntry(job))
        return u"(no answer)"_s;
    return job.error() == QKeychain::NoError ? job.textData() : QString();
}

void clearKeyring()
{
    QKeychain::DeletePasswordJob job(u"snipewell"_s);
    runOnTheEntry(job);
}

// The settings file as an earlier version left it: the ID, and the password scrambled.
void storeInFile(SettingsStore &s, const QString &password)
{
    s.save(u"Settings"_s, u"yuser"_s, u"snipe_taro"_s);
    s.save(u"Settings"_s, u"ypass"_s, Scramble(password));
}

// A Secret Service that takes every call and answers none, as a keyring waiting on a
// prompt nobody sees does; or answers every call with an error after a delay.
class SilentKeyring : public QDBusVirtualObject
{
public:
    explicit SilentKeyring(int answerAfterMs = -1) : m_delay(answerAfterMs) {}
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        if (m_delay >= 0) {
            message.setDelayedReply(true);
            QTimer::singleShot(m_delay, this, [this, message, bus] {
                ++answered;
                bus.send(message.createErrorReply(QDBusError::AccessDenied, u"locked"_s));
            });
        }
        return true;
    }
    QString introspect(const QString &) const override { return {}; }
    // As the desktop's Secret Service, on the test's own session bus.
    bool serveOnTheSessionBus()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerService(u"org.freedesktop.secrets"_s) &&
               bus.registerVirtualObject(u"/"_s, this, QDBusConnection::SubPath);
    }
    int answered = 0;

private:
    int m_delay;
};
} // namespace

// Where the site password is kept. The suite runs twice: with a keyring of its own on a
// private D-Bus session (SNIPEWELL_TEST_KEYRING=1), and with no D-Bus session at all.
class tst_Passwords : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        if (keyringExpected())
            clearKeyring();
    }

    void savedWhereTheDesktopKeepsIt()
    {
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        settings.save(u"Settings"_s, u"yuser"_s, u"snipe_taro"_s);
        std::optional<PasswordPlace> place;
        savePassword(settings, u"tar'o%12\"34"_s, this,
                     [&place](PasswordPlace p, const QString &) { place = p; });
        QTRY_VERIFY_WITH_TIMEOUT(place.has_value(), 10000);
        const PasswordPlace expected =
            keyringExpected() ? PasswordPlace::Keyring : PasswordPlace::SettingsFile;
        QCOMPARE(*place, expected);
        QCOMPARE(passwordPlace(settings), expected);
        if (keyringExpected()) {
            QCOMPARE(storedScrambled(settings), QString()); // not in the file at all
            QCOMPARE(inKeyring(), u"tar'o%12\"34"_s);
        } else {
            QCOMPARE(Unscramble(storedScrambled(settings)), u"tar'o%12\"34"_s);
        }
        // Read back at the next start.
        SettingsStore again(home.path(u"snipewell.ini"_s));
        const LoadedPassword loaded = loadPassword(again);
        QCOMPARE(loaded.password, u"tar'o%12\"34"_s);
        QCOMPARE(loaded.place, expected);
        QCOMPARE(loaded.note, QString());
    }

    void scrambledPasswordMovesIntoTheKeyringOnce()
    {
        // The settings file as an earlier version left it.
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        storeInFile(settings, u"old5678"_s);
        const LoadedPassword first = loadPassword(settings);
        QCOMPARE(first.password, u"old5678"_s);
        if (keyringExpected()) {
            QCOMPARE(first.place, PasswordPlace::Keyring);
            QCOMPARE(first.note,
                     u"パスワードを設定ファイルからデスクトップのキーリングに移しました"_s);
            QCOMPARE(storedScrambled(settings), QString());
            QCOMPARE(inKeyring(), u"old5678"_s);
        } else {
            QCOMPARE(first.place, PasswordPlace::SettingsFile);
            QCOMPARE(Unscramble(storedScrambled(settings)), u"old5678"_s);
        }
        const LoadedPassword second = loadPassword(settings);
        QCOMPARE(second.password, u"old5678"_s);
        QCOMPARE(second.note, QString()); // moved once only
    }

    void dialogSaysWhereThePasswordWent()
    {
        // Typed and confirmed with OK: with a keyring it goes there silently; without one
        // (no Secret Service, or none that answers) the user is told it is in the file.
        Dialog d;
        auto &[home, settings, values, prompter, dialog] = d;
        d.typeAndConfirm();
        QTRY_VERIFY_WITH_TIMEOUT(passwordPlace(settings) == PasswordPlace::Keyring ||
                                     !prompter.messages.isEmpty(),
                                 10000);
        if (keyringExpected()) {
            QVERIFY(prompter.messages.isEmpty());
            QCOMPARE(inKeyring(), u"hana5678"_s);
        } else {
            QCOMPARE(prompter.messages.size(), 1);
            QVERIFY2(prompter.messages.first().startsWith(
                         u"パスワードをキーリングに保存できませんでした（"_s),
                     qPrintable(prompter.messages.first()));
            QCOMPARE(Unscramble(storedScrambled(settings)), u"hana5678"_s);
        }
        dialog.show(); // and the dialog says the same next time
        const QString place = dialog.findChild<QLabel *>(u"lblPasswordPlace"_s)->text();
        QCOMPARE(place, passwordPlaceText(passwordPlace(settings)));
        QVERIFY(place.contains(keyringExpected() ? u"キーリング"_s : u"設定ファイル"_s));
        QCOMPARE(dialog.findChild<QLineEdit *>(u"txtUser_1"_s)->echoMode(), QLineEdit::Password);
    }

    void aKeyringThatNeverAnswers()
    {
        if (qEnvironmentVariableIntValue("SNIPEWELL_TEST_SILENT_KEYRING") != 1)
            QSKIP("needs a session bus of its own (tst_passwords_silent_keyring)");
        SilentKeyring keyring;
        QVERIFY(keyring.serveOnTheSessionBus());
        Dialog d;
        auto &[home, settings, values, prompter, dialog] = d;
        QElapsedTimer waited;
        waited.start();
        d.typeAndConfirm();
        // Told within the keyring's time, and the program answered all along.
        QTRY_COMPARE_WITH_TIMEOUT(prompter.messages.size(), 1, 15000);
        QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
        QCOMPARE(prompter.messages.first(), passwordFallbackText(u"キーリングが応答しません"_s));
        QCOMPARE(Unscramble(storedScrambled(settings)), u"hana5678"_s);
        QCOMPARE(passwordPlace(settings), PasswordPlace::SettingsFile);
    }

    void aKeyringThatAnswersLate()
    {
        // The keyring answers after our wait, as one does when the user unlocks it a while
        // after the start: the start went on with the file, and the late answer harms nothing.
        if (qEnvironmentVariableIntValue("SNIPEWELL_TEST_SILENT_KEYRING") != 1)
            QSKIP("needs a session bus of its own (tst_passwords_silent_keyring)");
        SilentKeyring keyring(1500);
        QVERIFY(keyring.serveOnTheSessionBus());
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        storeInFile(settings, u"demo1234"_s);
        const LoadedPassword loaded = loadPassword(settings, 300);
        QCOMPARE(loaded.password, u"demo1234"_s);
        QCOMPARE(loaded.place, PasswordPlace::SettingsFile);
        QTest::qWait(4000); // every late answer arrives
        QVERIFY(keyring.answered > 0);
        QCOMPARE(Unscramble(storedScrambled(settings)), u"demo1234"_s);
    }

    void anAnswerAfterTheAskerIsGoneIsDropped()
    {
        // The credentials dialog asked and was gone before the keyring answered: nothing is told
        // to a window that no longer exists, and the password stays in the file.
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        bool told = false;
        {
            QObject dialog;
            savePassword(
                settings, u"demo5678"_s, &dialog,
                [&told](PasswordPlace, const QString &) { told = true; }, 200);
        }
        QTest::qWait(500);
        QVERIFY(!told);
        QCOMPARE(Unscramble(storedScrambled(settings)), u"demo5678"_s);
    }

    void keyringCanBeTurnedOff()
    {
        // As the demo does: its member's password never goes near the user's keyring.
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        settings.save(u"Settings"_s, u"Keyring"_s, u"0"_s);
        storeInFile(settings, u"demo1234"_s);
        const LoadedPassword loaded = loadPassword(settings);
        QCOMPARE(loaded.password, u"demo1234"_s);
        QCOMPARE(loaded.place, PasswordPlace::SettingsFile);
        std::optional<PasswordPlace> place;
        savePassword(settings, u"demo5678"_s, this,
                     [&place](PasswordPlace p, const QString &) { place = p; });
        QTRY_VERIFY(place.has_value());
        QCOMPARE(*place, PasswordPlace::SettingsFile);
        QCOMPARE(Unscramble(storedScrambled(settings)), u"demo5678"_s);
        if (keyringExpected())
            QCOMPARE(inKeyring(), QString());
    }
};

QTEST_MAIN(tst_Passwords)
#include "tst_passwords.moc"
