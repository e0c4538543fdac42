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

using namespace sw;

// Where the site password is kept. The suite runs twice: with a keyring of its own on a
// private D-Bus session (SNIPEWELL_TEST_KEYRING=1), and with no D-Bus session at all.
class tst_Passwords : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void savedWhereTheDesktopKeepsIt();
    void scrambledPasswordMovesIntoTheKeyringOnce();
    void dialogSaysWhereItIsKept();
    void dialogSaysWhereThePasswordWent();
    void aKeyringThatNeverAnswers();
    void aKeyringThatAnswersLate();
    void anAnswerAfterTheAskerIsGoneIsDropped();
    void keyringCanBeTurnedOff();
};

namespace {
bool keyringExpected()
{
    return qEnvironmentVariableIntValue("SNIPEWELL_TEST_KEYRING") == 1;
}

QString storedScrambled(const SettingsStore &s)
{
    return s.get(QStringLiteral("Settings"), QStringLiteral("ypass"), QString());
}

// What the keyring itself holds for the program, read as another program would.
QString inKeyring()
{
    QKeychain::ReadPasswordJob job(QStringLiteral("snipewell"));
    job.setAutoDelete(false);
    job.setKey(QStringLiteral("yahoo-japan:snipe_taro"));
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, [&done] { done = true; });
    job.start();
    if (!QTest::qWaitFor([&done] { return done; }, 5000))
        return QStringLiteral("(no answer)");
    return job.error() == QKeychain::NoError ? job.textData() : QString();
}

void clearKeyring()
{
    QKeychain::DeletePasswordJob job(QStringLiteral("snipewell"));
    job.setAutoDelete(false);
    job.setKey(QStringLiteral("yahoo-japan:snipe_taro"));
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, [&done] { done = true; });
    job.start();
    (void)QTest::qWaitFor([&done] { return done; }, 5000);
}

// The settings file as an earlier version left it: the ID, and the password scrambled.
void storeInFile(SettingsStore &s, const QString &password)
{
    s.save(QStringLiteral("Settings"), QStringLiteral("yuser"), QStringLiteral("snipe_taro"));
    s.save(QStringLiteral("Settings"), QStringLiteral("ypass"), Scramble(password));
}
} // namespace

void tst_Passwords::init()
{
    if (keyringExpected())
        clearKeyring();
}

void tst_Passwords::savedWhereTheDesktopKeepsIt()
{
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"),
                  QStringLiteral("snipe_taro"));
    std::optional<PasswordPlace> place;
    savePassword(settings, QStringLiteral("tar'o%12\"34"), this,
                 [&place](PasswordPlace p, const QString &) { place = p; });
    QTRY_VERIFY_WITH_TIMEOUT(place.has_value(), 10000);
    const PasswordPlace expected =
        keyringExpected() ? PasswordPlace::Keyring : PasswordPlace::SettingsFile;
    QCOMPARE(*place, expected);
    QCOMPARE(passwordPlace(settings), expected);
    if (keyringExpected()) {
        QCOMPARE(storedScrambled(settings), QString()); // not in the file at all
        QCOMPARE(inKeyring(), QStringLiteral("tar'o%12\"34"));
    } else {
        QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("tar'o%12\"34"));
    }
    // Read back at the next start.
    SettingsStore again(home.path(QStringLiteral("snipewell.ini")));
    const LoadedPassword loaded = loadPassword(again);
    QCOMPARE(loaded.password, QStringLiteral("tar'o%12\"34"));
    QCOMPARE(loaded.place, expected);
    QCOMPARE(loaded.note, QString());
}

void tst_Passwords::scrambledPasswordMovesIntoTheKeyringOnce()
{
    // The settings file as an earlier version left it.
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    storeInFile(settings, QStringLiteral("old5678"));
    const LoadedPassword first = loadPassword(settings);
    QCOMPARE(first.password, QStringLiteral("old5678"));
    if (keyringExpected()) {
        QCOMPARE(first.place, PasswordPlace::Keyring);
        QCOMPARE(
            first.note,
            QStringLiteral("パスワードを設定ファイルからデスクトップのキーリングに移しました"));
        QCOMPARE(storedScrambled(settings), QString());
        QCOMPARE(inKeyring(), QStringLiteral("old5678"));
    } else {
        QCOMPARE(first.place, PasswordPlace::SettingsFile);
        QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("old5678"));
    }
    const LoadedPassword second = loadPassword(settings);
    QCOMPARE(second.password, QStringLiteral("old5678"));
    QCOMPARE(second.note, QString()); // moved once only
}

void tst_Passwords::dialogSaysWhereItIsKept()
{
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    settings.save(QStringLiteral("Settings"), QStringLiteral("ypass"),
                  Scramble(QStringLiteral("taro1234")));
    AppValues values;
    values.password = loadPassword(settings).password;
    ScriptedPrompter prompter;
    frmLogin dialog(settings, values, prompter);
    dialog.show();
    const QString text = dialog.findChild<QLabel *>(QStringLiteral("lblPasswordPlace"))->text();
    QCOMPARE(text, passwordPlaceText(keyringExpected() ? PasswordPlace::Keyring
                                                       : PasswordPlace::SettingsFile));
    QVERIFY(text.contains(keyringExpected() ? QStringLiteral("キーリング")
                                            : QStringLiteral("設定ファイル")));
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("txtUser_1"))->text(),
             QStringLiteral("taro1234"));
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("txtUser_1"))->echoMode(),
             QLineEdit::Password);
}

void tst_Passwords::dialogSaysWhereThePasswordWent()
{
    // Typed and confirmed with OK: with a keyring it goes there silently; without one
    // (no Secret Service, or none that answers) the user is told it is in the file.
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    AppValues values;
    ScriptedPrompter prompter;
    frmLogin dialog(settings, values, prompter);
    dialog.show();
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtUser_0")),
                     QStringLiteral("snipe_taro"));
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtUser_1")),
                     QStringLiteral("hana5678"));
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        passwordPlace(settings) == PasswordPlace::Keyring || !prompter.messages.isEmpty(), 10000);
    if (keyringExpected()) {
        QVERIFY(prompter.messages.isEmpty());
        QCOMPARE(inKeyring(), QStringLiteral("hana5678"));
    } else {
        QCOMPARE(prompter.messages.size(), 1);
        QVERIFY2(prompter.messages.first().startsWith(
                     QStringLiteral("パスワードをキーリングに保存できませんでした（")),
                 qPrintable(prompter.messages.first()));
        QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("hana5678"));
    }
    dialog.show(); // and the dialog says the same next time
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lblPasswordPlace"))->text(),
             passwordPlaceText(passwordPlace(settings)));
}

namespace {
// A Secret Service that takes every call and answers none, as a keyring waiting on a
// prompt nobody sees does.
// A Secret Service that never answers, or answers every call with an error after a delay.
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
                bus.send(
                    message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("locked")));
            });
        }
        return true;
    }
    QString introspect(const QString &) const override { return {}; }
    // As the desktop's Secret Service, on the test's own session bus.
    bool serveOnTheSessionBus()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        return bus.registerService(QStringLiteral("org.freedesktop.secrets")) &&
               bus.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath);
    }
    int answered = 0;

private:
    int m_delay;
};
} // namespace

void tst_Passwords::aKeyringThatNeverAnswers()
{
    if (qEnvironmentVariableIntValue("SNIPEWELL_TEST_SILENT_KEYRING") != 1)
        QSKIP("needs a session bus of its own (tst_passwords_silent_keyring)");
    SilentKeyring keyring;
    QVERIFY(keyring.serveOnTheSessionBus());
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    AppValues values;
    ScriptedPrompter prompter;
    frmLogin dialog(settings, values, prompter);
    dialog.show();
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtUser_0")),
                     QStringLiteral("snipe_taro"));
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("txtUser_1")),
                     QStringLiteral("hana5678"));
    QElapsedTimer waited;
    waited.start();
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
    // Told within the keyring's time, and the program answered all along.
    QTRY_COMPARE_WITH_TIMEOUT(prompter.messages.size(), 1, 15000);
    QVERIFY2(waited.elapsed() < 10000, qPrintable(QString::number(waited.elapsed())));
    QCOMPARE(prompter.messages.first(),
             passwordFallbackText(QStringLiteral("キーリングが応答しません")));
    QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("hana5678"));
    QCOMPARE(passwordPlace(settings), PasswordPlace::SettingsFile);
}

void tst_Passwords::aKeyringThatAnswersLate()
{
    // The keyring answers after our wait, as one does when the user unlocks it a while
    // after the start: the start went on with the file, and the late answer harms nothing.
    if (qEnvironmentVariableIntValue("SNIPEWELL_TEST_SILENT_KEYRING") != 1)
        QSKIP("needs a session bus of its own (tst_passwords_silent_keyring)");
    SilentKeyring keyring(1500);
    QVERIFY(keyring.serveOnTheSessionBus());
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    storeInFile(settings, QStringLiteral("demo1234"));
    const LoadedPassword loaded = loadPassword(settings, 300);
    QCOMPARE(loaded.password, QStringLiteral("demo1234"));
    QCOMPARE(loaded.place, PasswordPlace::SettingsFile);
    QTest::qWait(4000); // every late answer arrives
    QVERIFY(keyring.answered > 0);
    QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("demo1234"));
}

void tst_Passwords::keyringCanBeTurnedOff()
{
    // As the demo does: its member's password never goes near the user's keyring.
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    settings.save(QStringLiteral("Settings"), QStringLiteral("Keyring"), QStringLiteral("0"));
    storeInFile(settings, QStringLiteral("demo1234"));
    const LoadedPassword loaded = loadPassword(settings);
    QCOMPARE(loaded.password, QStringLiteral("demo1234"));
    QCOMPARE(loaded.place, PasswordPlace::SettingsFile);
    std::optional<PasswordPlace> place;
    savePassword(settings, QStringLiteral("demo5678"), this,
                 [&place](PasswordPlace p, const QString &) { place = p; });
    QTRY_VERIFY(place.has_value());
    QCOMPARE(*place, PasswordPlace::SettingsFile);
    QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("demo5678"));
    if (keyringExpected())
        QCOMPARE(inKeyring(), QString());
}

void tst_Passwords::anAnswerAfterTheAskerIsGoneIsDropped()
{
    // The credentials dialog asked and was gone before the keyring answered: nothing is told
    // to a window that no longer exists, and the password stays in the file.
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    bool told = false;
    {
        QObject dialog;
        savePassword(
            settings, QStringLiteral("demo5678"), &dialog,
            [&told](PasswordPlace, const QString &) { told = true; }, 200);
    }
    QTest::qWait(500);
    QVERIFY(!told);
    QCOMPARE(Unscramble(storedScrambled(settings)), QStringLiteral("demo5678"));
}

QTEST_MAIN(tst_Passwords)
#include "tst_passwords.moc"
