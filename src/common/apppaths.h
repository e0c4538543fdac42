#pragma once

#include <QString>

namespace sw {

// Where the program keeps its files. $SNIPEWELL_HOME, when set, holds everything;
// otherwise the data lives in the per-user data folder and the settings in the per-user
// configuration folder.
struct AppPaths
{
    QString dataDir;      // db2k.mdb, new.mdb, the lock file, cookies
    QString settingsFile; // snipewell.ini

    QString database() const { return dataDir + QStringLiteral("/db2k.mdb"); }
    QString backup() const { return dataDir + QStringLiteral("/new.mdb"); }
    QString lockFile() const { return dataDir + QStringLiteral("/snipewell.lock"); }

    static AppPaths fromEnvironment();
};

} // namespace sw
