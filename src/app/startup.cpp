#include "startup.h"

#include "activitylog.h"
#include "clock.h"
#include "credentials.h"
#include "database.h"
#include "passwordstore.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "startupdb.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>

namespace sw {

bool startClockProgram(const SettingsStore &settings)
{
    // On Linux the system keeps its own clock, so nothing is configured by default.
    const QString ntp = settings.get(QStringLiteral("Settings"), QStringLiteral("ntp"), QString());
    if (ntp.size() < 4 || !QFileInfo(ntp).isFile())
        return false;
    return QProcess::startDetached(ntp, {});
}

QString secondInstanceText(const QString &executableName)
{
    return executableName +
           QStringLiteral("はまだ残っています。タスクマネージャーを使って終了してください。");
}

QString desktopProgramName()
{
    return QStringLiteral("snipewell");
}

QString serviceProgramName()
{
    return QStringLiteral("snipewell-service");
}

FolderStart startDataFolder(const AppPaths &paths, const SettingsStore &settings, QLockFile &lock)
{
    FolderStart out;
    const DbStartResult made = createDataFolderIfNew(paths);
    if (!made.ok()) {
        out.refusal = made.message;
        return out;
    }
    if (!made.note.isEmpty()) {
        out.notes << made.note;
        out.warning = made.note;
    }
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        if (lock.error() == QLockFile::LockFailedError) {
            qint64 pid = 0;
            QString host;
            QString app;
            lock.getLockInfo(&pid, &host, &app);
            out.heldBy = app;
            out.beep = true;
            out.refusal =
                secondInstanceText(app.isEmpty() ? QCoreApplication::applicationName() : app);
            if (app == serviceProgramName() && app != QCoreApplication::applicationName())
                out.refusal = QStringLiteral("入札サービス（snipewell-service）がこのデータフォルダ"
                                             "ーで動いています（プロセス ") +
                              QString::number(pid) +
                              QStringLiteral("）。入札はサービスが行います。");
            else if (app == desktopProgramName() && app != QCoreApplication::applicationName())
                out.refusal = QStringLiteral("デスクトップ版のSnipewellがこのデータフォルダーで動い"
                                             "ています（プロセス ") +
                              QString::number(pid) +
                              QStringLiteral("）。終了してから入札サービスを起動してください。");
            return out;
        }
        out.refusal = QStringLiteral("データフォルダーに書き込めません：") + paths.dataDir;
        return out;
    }
    // The activity log is kept short before the backup and the compaction copy the file, so
    // that a start stays quick however long the program has run.
    if (checkDatabaseFile(paths.database()).ok()) {
        ItemDatabase before(paths.database());
        const int trimmed =
            before.open()
                ? before.trimLog(
                      sw::now(),
                      settings.getInt(QStringLiteral("Settings"), QStringLiteral("LogDays"), 90),
                      settings.getInt(QStringLiteral("Settings"), QStringLiteral("LogRows"), 20000))
                : 0;
        if (trimmed > 0)
            out.notes << QStringLiteral("古いログを") + QString::number(trimmed) +
                             QStringLiteral(
                                 "件削除しました（設定 LogDays・LogRows の範囲だけ残します）");
    }
    const DbStartResult started = backupAndCompact(paths);
    if (!started.ok()) {
        lock.unlock();
        out.refusal = started.message;
        return out;
    }
    if (!started.note.isEmpty())
        out.notes << started.note;
    return out;
}

QString heldByText(const FolderStart &start, const SettingsStore &settings)
{
    if (start.heldBy != serviceProgramName())
        return start.refusal;
    const QString listen = settings.get(QStringLiteral("Service"), QStringLiteral("Listen"),
                                        QStringLiteral("127.0.0.1:8750"));
    return start.refusal + QStringLiteral("\n入札サービスの画面：http(s)://") + listen +
           QStringLiteral("/（アクセス用のアドレスは snipewell-service --url で表示されます）");
}

void logStartNotes(ActivityLog &log, ItemDatabase &db, const AppPaths &paths,
                   const QStringList &notes)
{
    if (!db.upgradeStoredTimes())
        log.LOGTodb(db.lastError());

    for (const QString &note : notes)
        log.LOGTodb(note);
    for (const QString &opened : paths.makePrivate())
        log.LOGTodb(QStringLiteral("他のユーザーも読めたので、本人だけが読めるようにしました：") +
                    opened);
}

ProgramCore::ProgramCore(const AppPaths &paths, SettingsStore &settings, Prompter &prompter)
    : db(paths.database()), log(db), categories(settings), hosts(settings),
      cookies(paths.dataDir + QStringLiteral("/cookies.txt")),
      parser(db), ctx{settings, values, db, log, prompter, categories, hosts, cookies, parser},
      m_settings(settings)
{
    parser.setHosts(&hosts);
}

bool ProgramCore::open(QString *error)
{
    // A file of an earlier version gets the columns added since, before anything reads it.
    if (!db.open() || !db.addMissingColumns()) {
        if (error)
            *error = db.lastError();
        return false;
    }
    loadCredentials(m_settings, values);
    const LoadedPassword password = loadPassword(m_settings);
    values.password = password.password;
    values.encodedPassword = encodePassword(values.password);
    passwordNote = password.note;
    applySystemProxy();
    return true;
}

} // namespace sw
