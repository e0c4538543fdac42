#pragma once

#include <QString>
#include <QStringList>

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

    // The session, the password and the items are the user's alone: the folders 0700 and
    // every file of the program in them 0600. Returns what had been readable by others.
    QStringList makePrivate() const;
};

// From here on, every file and folder the program makes is the user's alone.
void keepNewFilesPrivate();
// No core dump and no attaching: the site password lives in this process's memory.
void keepSecretsOutOfCrashDumps();

} // namespace sw
