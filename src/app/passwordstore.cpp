#include "passwordstore.h"

#include "credentials.h"
#include "settingsstore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace sw {

namespace {
const QString kService = QStringLiteral("snipewell");
const QString kSettings = QStringLiteral("Settings");
const QString kPlace = QStringLiteral("PasswordIn");

// One entry per site ID: the password belongs to the ID it was typed for.
QString keyFor(const SettingsStore &settings)
{
    return QStringLiteral("yahoo-japan:") +
           settings.get(kSettings, QStringLiteral("yuser"), QString());
}

// Keyring=0 keeps the password in the file (the demo, which must not touch the user's
// keyring).
bool keyringWanted(const SettingsStore &settings)
{
    return settings.getBool(kSettings, QStringLiteral("Keyring"), true);
}

void remember(SettingsStore &settings, PasswordPlace place)
{
    settings.save(kSettings, kPlace,
                  place == PasswordPlace::Keyring ? QStringLiteral("keyring")
                                                  : QStringLiteral("file"));
}

// A job goes only once it has finished: the keyring's library calls it back when it
// answers, however late (a keyring unlocked by the user after our wait).
void release(QKeychain::Job *job, bool finished)
{
    if (finished)
        job->deleteLater();
    else
        QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
}

// Runs a keyring job to its end. Only at start-up, before any window or timer exists.
bool finish(QKeychain::Job *job, int timeoutMs)
{
    QEventLoop loop;
    bool done = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!done)
        loop.exec();
    return done;
}

bool writeKeyring(const QString &key, const QString &password, int timeoutMs, QString *why)
{
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setAutoDelete(false);
    job->setKey(key);
    job->setTextData(password);
    const bool done = finish(job, timeoutMs);
    const bool ok = done && job->error() == QKeychain::NoError;
    if (!ok && why)
        *why = done ? job->errorString() : QStringLiteral("キーリングが応答しません");
    release(job, done);
    return ok;
}
} // namespace

QString passwordPlaceText(PasswordPlace place)
{
    return place == PasswordPlace::Keyring
               ? QStringLiteral("パスワードの保存先：デスクトップのキーリング")
               : QStringLiteral("パスワードの保存先：設定ファイル（キーリングが見つからないため、"
                                "読めない形に変えて保存しています）");
}

PasswordPlace passwordPlace(const SettingsStore &settings)
{
    return settings.get(kSettings, kPlace, QString()) == QLatin1String("keyring")
               ? PasswordPlace::Keyring
               : PasswordPlace::SettingsFile;
}

LoadedPassword loadPassword(SettingsStore &settings, int timeoutMs)
{
    LoadedPassword out;
    const QString stored = settings.get(kSettings, QStringLiteral("ypass"), QString());
    if (!keyringWanted(settings)) {
        out.password = Unscramble(stored);
        remember(settings, out.place);
        return out;
    }
    auto *job = new QKeychain::ReadPasswordJob(kService);
    job->setAutoDelete(false);
    job->setKey(keyFor(settings));
    const bool done = finish(job, timeoutMs);
    const QKeychain::Error error = done ? job->error() : QKeychain::OtherError;
    const QString keyring = job->textData();
    release(job, done);
    const bool haveKeyring = error == QKeychain::NoError || error == QKeychain::EntryNotFound;
    if (!haveKeyring) {
        out.password = Unscramble(stored);
        out.place = PasswordPlace::SettingsFile;
        remember(settings, out.place);
        return out;
    }
    if (stored.isEmpty()) {
        out.password = keyring;
        out.place = PasswordPlace::Keyring;
        remember(settings, out.place);
        return out;
    }
    // A password in the file is the newest (an older version wrote it, or the keyring was
    // away at the last save): it goes into the keyring, and out of the file.
    out.password = Unscramble(stored);
    QString refused;
    if (writeKeyring(keyFor(settings), out.password, timeoutMs, &refused) &&
        settings.save(kSettings, QStringLiteral("ypass"), QString())) {
        out.place = PasswordPlace::Keyring;
        out.note =
            QStringLiteral("パスワードを設定ファイルからデスクトップのキーリングに移しました");
    } else {
        out.place = PasswordPlace::SettingsFile;
        out.note = QStringLiteral("パスワードをキーリングに移せませんでした（") + refused +
                   QStringLiteral("）。設定ファイルに残しています");
    }
    remember(settings, out.place);
    return out;
}

QString passwordFallbackText(const QString &why)
{
    return QStringLiteral("パスワードをキーリングに保存できませんでした（") + why +
           QStringLiteral("）。設定ファイルに読めない形に変えて保存しました｡");
}

void savePassword(SettingsStore &settings, const QString &password, QObject *context,
                  std::function<void(PasswordPlace, const QString &)> done, int timeoutMs)
{
    // In the file first, so that it is kept somewhere whatever the keyring does; out of
    // the file again once the keyring has it.
    settings.save(kSettings, QStringLiteral("ypass"), Scramble(password));
    remember(settings, PasswordPlace::SettingsFile);
    if (!keyringWanted(settings)) {
        if (done)
            done(PasswordPlace::SettingsFile, QString());
        return;
    }
    // Told once: where the password is when the keyring answers, or the file when it does
    // not answer in time (a keyring that answers later still takes it).
    auto tell =
        std::make_shared<std::function<void(PasswordPlace, const QString &)>>(std::move(done));
    // The job itself runs to its end whatever happens to the asker: the keyring's library
    // still holds it until it answers.
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setKey(keyFor(settings));
    job->setTextData(password);
    const QPointer<QObject> asker(context);
    QTimer::singleShot(timeoutMs, job, [tell, asker] {
        if (!asker)
            return;
        if (const auto f = std::exchange(*tell, {}))
            f(PasswordPlace::SettingsFile, QStringLiteral("キーリングが応答しません"));
    });
    QObject::connect(
        job, &QKeychain::Job::finished, job, [&settings, tell, asker](QKeychain::Job *j) {
            if (!asker)
                return; // the settings may be gone with it; the next start moves the password
            QString why;
            PasswordPlace place = PasswordPlace::SettingsFile;
            if (j->error() == QKeychain::NoError &&
                settings.save(kSettings, QStringLiteral("ypass"), QString())) {
                place = PasswordPlace::Keyring;
                remember(settings, place);
            } else {
                why = j->errorString();
            }
            if (const auto f = std::exchange(*tell, {}))
                f(place, why);
        });
    job->start();
}

} // namespace sw
