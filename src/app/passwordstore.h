#pragma once

#include <QString>

#include <functional>

class QObject;

namespace sw {

class SettingsStore;

// Where the site password is kept: the desktop's keyring (the Secret Service), one entry
// per site ID, when there is one; else the settings file, scrambled, as before. The
// setting Keyring=0 keeps it in the file.
enum class PasswordPlace
{
    Keyring,
    SettingsFile
};

struct LoadedPassword
{
    QString password;
    PasswordPlace place = PasswordPlace::SettingsFile;
    QString note; // for the activity log: a move into the keyring, or why there is none
};

// At start-up, before any window: reads the password. A scrambled one in the settings file
// is moved into the keyring (and taken out of the file) once there is a keyring. Waits at
// most timeoutMs for the keyring.
LoadedPassword loadPassword(SettingsStore &settings, int timeoutMs = 3000);

// Saves the password where it belongs; `done` is called once, with where it went and, when
// the keyring refused or did not answer within timeoutMs, why (the password then stands
// scrambled in the settings file). The keyring's answer is waited for only while `context`
// lives (the dialog or service that asked, and the settings with it; never null): a later answer is
// dropped and the password stays in the file.
void savePassword(SettingsStore &settings, const QString &password, QObject *context,
                  std::function<void(PasswordPlace, const QString &why)> done = {},
                  int timeoutMs = 5000);
// What the user is told when the password went to the settings file instead of the keyring.
QString passwordFallbackText(const QString &why);

// Where the password was kept last, as the credentials dialog tells the user.
PasswordPlace passwordPlace(const SettingsStore &settings);
QString passwordPlaceText(PasswordPlace place);

} // namespace sw
