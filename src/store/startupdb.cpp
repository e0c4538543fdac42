#include "startupdb.h"

#include "database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sw {
namespace {

const QString kMissing = QStringLiteral("データベースがありませんので実行できません。");
const QString kLocked =
    QStringLiteral("データベースがロックされています。開いている場合は閉じてください。");

DbStartResult refuse(DbStartResult::Code code, const QString &message)
{
    return {code, message, {}};
}

// Another process holding the file with flock() or an SQLite lock both count as "open
// elsewhere". The SQLite attempt also rolls back a journal left by a crash, so no stale
// journal can follow the file through the rename.
DbStartResult lockTest(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return refuse(DbStartResult::Locked,
                      kLocked + QStringLiteral("\n") + QString::fromLocal8Bit(strerror(errno)));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return refuse(DbStartResult::Locked, kLocked);
    }
    DbStartResult result;
    {
        ItemDatabase db(path);
        QSqlDatabase c = db.connection();
        // A reader that looks in for a moment (a backup, a query tool) is waited for, as
        // the program's own connections wait for one; a holder that keeps it is not.
        c.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
        if (!db.open()) {
            result = refuse(DbStartResult::Locked, kLocked + QStringLiteral("\n") + db.lastError());
        } else {
            QSqlQuery q(c);
            if (!q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
                const QString code = q.lastError().nativeErrorCode();
                if (code == QLatin1String("5") || code == QLatin1String("6")) {
                    result = refuse(DbStartResult::Locked, kLocked);
                } else {
                    result = refuse(DbStartResult::NotADatabase,
                                    QStringLiteral("データベースが壊れているか、Snipewellの"
                                                   "データベースではありません：") +
                                        path + QStringLiteral("\n") + q.lastError().text());
                }
            } else {
                q.exec(QStringLiteral("ROLLBACK"));
                const QString problem = db.schemaProblem();
                if (!problem.isEmpty())
                    result =
                        refuse(DbStartResult::SchemaProblem, problem + QStringLiteral("\n") + path);
            }
        }
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return result;
}

bool removeWithJournal(const QString &path)
{
    bool ok = true;
    for (const QString &f : QStringList{path, path + QStringLiteral("-journal")}) {
        if (QFileInfo::exists(f) && !QFile::remove(f))
            ok = false;
    }
    return ok;
}

} // namespace

DbStartResult checkDatabaseFile(const QString &path)
{
    if (!QFileInfo::exists(path))
        return refuse(DbStartResult::Missing, kMissing);
    return lockTest(path);
}

namespace {

// A folder a program has run in: it holds the lock, the cookies or the service's token.
// (Settings alone do not tell: they are often written by hand before the first start.)
bool folderWasUsed(const AppPaths &paths)
{
    for (const QString &name : {QStringLiteral("snipewell.lock"), QStringLiteral("cookies.txt"),
                                QStringLiteral("service.token")}) {
        if (QFileInfo::exists(paths.dataDir + QLatin1Char('/') + name))
            return true;
    }
    return false;
}

} // namespace

QString lostDatabaseText(const QString &dataDir)
{
    return QStringLiteral("データベース（db2k.mdb）もその控え（new.mdb）も見つからないので、空の"
                          "データベースを作りました。これまでの商品ﾘｽﾄはありません：") +
           dataDir;
}

DbStartResult createDataFolderIfNew(const AppPaths &paths)
{
    const QFileInfo dir(paths.dataDir);
    bool used = false;
    if (dir.exists()) {
        // A folder made by hand (or holding only the settings, the cookies or the service's
        // token) is a first start too; a lost database with its backup beside it is restored
        // from the backup instead.
        if (QFileInfo::exists(paths.database()) || QFileInfo::exists(paths.backup()))
            return {};
        used = folderWasUsed(paths);
    } else if (!QDir().mkpath(dir.absolutePath()) || !QDir().mkdir(paths.dataDir)) {
        if (QFileInfo(paths.dataDir).isDir())
            return {}; // made by a program started at the same moment
        return refuse(DbStartResult::CreateFailed,
                      QStringLiteral("データフォルダーを作成できません：") + paths.dataDir);
    }
    QString error;
    {
        ItemDatabase db(paths.database());
        if (!db.open() || !db.createSchema())
            error = db.lastError();
    }
    if (!error.isEmpty()) {
        removeWithJournal(paths.database());
        QDir().rmdir(paths.dataDir); // only when it is empty
        return refuse(DbStartResult::CreateFailed,
                      QStringLiteral("データベースを作成できません：") + paths.database() +
                          QStringLiteral("\n") + error);
    }
    DbStartResult out;
    if (used)
        out.note = lostDatabaseText(paths.dataDir); // the user is told, not only given a list
    return out;
}

namespace {

// For the crash tests: SNIPEWELL_CRASH_AT names a step at which the program is killed, as a
// power cut would stop it.
void crashPoint(const char *step)
{
    static const QByteArray at = qgetenv("SNIPEWELL_CRASH_AT");
    if (!at.isEmpty() && at == step)
        ::raise(SIGKILL);
}

bool syncPath(const QString &path, bool directory)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), (directory ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Replaces `to` by `from` in one step, and makes the change last through a power cut.
QString replaceWith(const QString &from, const QString &to, const QString &folder)
{
    if (!syncPath(from, false))
        return QString::fromLocal8Bit(strerror(errno));
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return QString::fromLocal8Bit(strerror(errno));
    syncPath(folder, true);
    return {};
}

// A compacted copy of `source` written to `target` (which must not exist).
QString compactInto(const QString &source, const QString &target)
{
    QString error;
    ItemDatabase db(source);
    if (!db.open())
        return db.lastError();
    QSqlQuery q(db.connection());
    QString quoted = target;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    if (!q.exec(QStringLiteral("VACUUM INTO '") + quoted + QLatin1Char('\'')))
        error = q.lastError().text();
    return error;
}

} // namespace

DbStartResult backupAndCompact(const AppPaths &paths)
{
    // At no moment of this is there no usable db2k.mdb: the backup is a second name for the
    // same file (or a copy), and every file is replaced by renaming a complete one over it.
    const QString db = paths.database();
    const QString backup = paths.backup();
    const QString linking = backup + QStringLiteral(".writing");
    const QString temp = db + QStringLiteral(".compacting");
    removeWithJournal(linking); // left by a start that was cut short
    removeWithJournal(temp);

    DbStartResult result;
    if (!QFileInfo::exists(db) && QFileInfo::exists(backup) && checkDatabaseFile(backup).ok()) {
        // Only the previous state is there (the database was lost after a crash, say).
        const QString restoring = db + QStringLiteral(".restoring");
        removeWithJournal(restoring);
        QString error = compactInto(backup, restoring);
        crashPoint("restored");
        if (error.isEmpty())
            error = replaceWith(restoring, db, paths.dataDir);
        if (!error.isEmpty()) {
            removeWithJournal(restoring);
            return refuse(DbStartResult::CompactFailed,
                          QStringLiteral("前回の状態（new.mdb）から戻せませんでした：") + error);
        }
        result.note = QStringLiteral("データベースがなかったので、前回の状態（new.mdb）から戻し"
                                     "ました");
    }
    DbStartResult check = checkDatabaseFile(db);
    if (!check.ok())
        return check;

    // The backup: new.mdb becomes what db2k.mdb is now.
    QString error;
    if (::link(QFile::encodeName(db).constData(), QFile::encodeName(linking).constData()) != 0) {
        // A file system without hard links: a copy, then.
        error = compactInto(db, linking);
    }
    crashPoint("backup-written");
    if (error.isEmpty())
        error = replaceWith(linking, backup, paths.dataDir);
    if (!error.isEmpty()) {
        removeWithJournal(linking);
        return refuse(DbStartResult::RenameFailed,
                      QStringLiteral("バックアップ（new.mdb）を作れません（") + error +
                          QStringLiteral("）。データフォルダーに書き込めるか確認してください：") +
                          paths.dataDir);
    }
    crashPoint("backup-done");

    // A full disk: the compacted copy would not fit. db2k.mdb stays as it is and the
    // program starts all the same (bids are due), saying why.
    const QStorageInfo disk(paths.dataDir);
    const qint64 need = QFileInfo(backup).size() * 2 + (qint64(1) << 20);
    if (disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < need) {
        result.note = QStringLiteral("ディスクの空きが足りないので、起動時のデータベースの最適化を"
                                     "しませんでした（空き") +
                      QString::number(disk.bytesAvailable() / 1024) +
                      QStringLiteral("KB）。空きを作ってください：") + paths.dataDir;
        return result;
    }

    // The compacted copy, moved in place only when complete.
    error = compactInto(backup, temp);
    crashPoint("compacted");
    if (error.isEmpty())
        error = replaceWith(temp, db, paths.dataDir);
    if (!error.isEmpty()) {
        removeWithJournal(temp);
        return refuse(DbStartResult::CompactFailed,
                      QStringLiteral("データベースの最適化に失敗しました。データは ") + backup +
                          QStringLiteral(" に残っています。\n") + error);
    }
    crashPoint("compact-done");
    return result;
}

} // namespace sw
