#pragma once

#include "settingsstore.h"

#include <QString>

using namespace Qt::StringLiterals;

// The settings that take the program to a simulated site on this machine: the site as its
// proxy, and plain http, which may carry the password only because the connection stays on
// loopback.
inline void reachSimulatedSite(sw::SettingsStore &settings, quint16 port)
{
    settings.save(u"Settings"_s, u"Proxy"_s, u"HTTP=127.0.0.1:"_s + QString::number(port));
    settings.save(u"Site"_s, u"Scheme"_s, u"http"_s);
}
