#pragma once

#include "activitylog.h"
#include "appcontext.h"
#include "apppaths.h"
#include "appvalues.h"
#include "categories.h"
#include "cookiejar.h"
#include "database.h"
#include "itemparser.h"
#include "sitehosts.h"

#include <QString>
#include <QStringList>

class QLockFile;

namespace sw {

class Prompter;
class SettingsStore;

// The clock-correction program named by the setting ntp: started detached when the value
// is at least 4 characters and names an existing file, never waited for. Returns whether
// it was started.
bool startClockProgram(const SettingsStore &settings);

// The refusal shown when another instance holds the data folder.
QString secondInstanceText(const QString &executableName);

// The name the lock file gives its holder: the desktop program and the service share a
// data folder's lock, and each says which of them holds it.
QString desktopProgramName();
QString serviceProgramName();

// What the program can do with the data folder it was given.
struct FolderStart
{
    QString refusal;   // why it cannot start (shown, printed, exit 1); empty: it can
    bool beep = false; // another instance holds the folder
    QString heldBy;    // that instance's program name, when known
    QStringList notes; // for the activity log, once it exists
    QString warning;   // for the user at once, too (the list's data is gone)
};

// The steps every entry point takes before its bids' owner exists, in this order: the data
// folder (a first start creates it with an empty database), the instance lock (held by
// `lock` for the program's life), the log kept short, the start-up backup and compaction.
FolderStart startDataFolder(const AppPaths &paths, const SettingsStore &settings, QLockFile &lock);
// What the service's lock holder is told: where its page is.
QString heldByText(const FolderStart &start, const SettingsStore &settings);

// After the database is open: stored times brought up to date, and the start's notes and
// files made private again, in the log.
void logStartNotes(ActivityLog &log, ItemDatabase &db, const AppPaths &paths,
                   const QStringList &notes);

// The long-lived objects every entry point (the desktop program, its login-only run, the
// service) builds over a data folder, in this order: the database (opened), the values held
// in memory with the credentials (the password from where the desktop keeps it), the log,
// the category names, the site's hosts, the shared cookies, the parser, and the context
// that hands them on.
struct ProgramCore
{
    ProgramCore(const AppPaths &paths, SettingsStore &settings, Prompter &prompter);
    // False, and why, when the database does not open.
    bool open(QString *error);

    AppValues values;
    ItemDatabase db;
    ActivityLog log;
    CategoryNames categories;
    SiteHosts hosts;
    PersistentCookieJar cookies;
    ItemPageParser parser;
    AppContext ctx;
    QString passwordNote; // where the password came from, for the log

private:
    SettingsStore &m_settings;
};

} // namespace sw
