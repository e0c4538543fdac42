#pragma once

#include "settingsstore.h"

#include <QString>

// The settings that take the program to a simulated site on this machine: the site as its
// proxy, and plain http, which may carry the password only because the connection stays on
// loopback.
inline void reachSimulatedSite(sw::SettingsStore &settings, quint16 port)
{
    settings.save(QStringLiteral("Settings"), QStringLiteral("Proxy"),
                  QStringLiteral("HTTP=127.0.0.1:") + QString::number(port));
    settings.save(QStringLiteral("Site"), QStringLiteral("Scheme"), QStringLiteral("http"));
}
