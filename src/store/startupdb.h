#pragma once

#include "apppaths.h"

#include <QString>

namespace sw {

// The database steps of a program start, each with the refusal text the user sees.
struct DbStartResult
{
    enum Code
    {
        Ok,
        Missing,       // no db2k.mdb in an existing data folder
        Locked,        // another process holds db2k.mdb
        NotADatabase,  // db2k.mdb is not an SQLite database
        SchemaProblem, // a table or column is missing
        RenameFailed,  // the backup rename did not work
        CompactFailed, // the compaction failed; the data is in new.mdb
        CreateFailed,  // the first-run folder or database could not be made
    };
    Code code = Ok;
    QString message;
    QString note; // for the activity log (a database restored from new.mdb)
    bool ok() const { return code == Ok; }
};

// First run: makes the data folder and an empty db2k.mdb with the schema. Does nothing
// when the folder is already there. On failure nothing half-made is left behind, so the
// next start tries again.
// What a folder that was in use is told when its database and the backup are both gone.
QString lostDatabaseText(const QString &dataDir);
DbStartResult createDataFolderIfNew(const AppPaths &paths);

// Presence check, lock test, backup to new.mdb and compaction into a fresh db2k.mdb. There
// is never a moment without a usable db2k.mdb, so a crash at any point leaves a folder the
// next start takes; a folder with only new.mdb (db2k.mdb lost) is restored from it.
DbStartResult backupAndCompact(const AppPaths &paths);

// The lock test alone: is db2k.mdb free, an SQLite database and complete?
DbStartResult checkDatabaseFile(const QString &path);

} // namespace sw
