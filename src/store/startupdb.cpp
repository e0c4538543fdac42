#include "startupdb.h"

#include "database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <cerrno>
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
    return {code, message};
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
        c.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
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

DbStartResult createDataFolderIfNew(const AppPaths &paths)
{
    const QFileInfo dir(paths.dataDir);
    if (dir.exists())
        return {};
    const QString cannot = QStringLiteral("データフォルダーを作成できません：") + paths.dataDir;
    if (!QDir().mkpath(dir.absolutePath()) || !QDir().mkdir(paths.dataDir)) {
        if (QFileInfo(paths.dataDir).isDir())
            return {}; // made by a program started at the same moment
        return refuse(DbStartResult::CreateFailed, cannot);
    }
    QString error;
    {
        ItemDatabase db(paths.database());
        if (!db.open() || !db.createSchema())
            error = db.lastError();
    }
    if (!error.isEmpty()) {
        removeWithJournal(paths.database());
        QDir().rmdir(paths.dataDir);
        return refuse(DbStartResult::CreateFailed,
                      QStringLiteral("データベースを作成できません：") + paths.database() +
                          QStringLiteral("\n") + error);
    }
    return {};
}

DbStartResult backupAndCompact(const AppPaths &paths)
{
    const QString db = paths.database();
    const QString backup = paths.backup();
    DbStartResult check = checkDatabaseFile(db);
    if (!check.ok())
        return check;

    if (!removeWithJournal(backup)) {
        return refuse(DbStartResult::RenameFailed,
                      QStringLiteral("前回のバックアップを削除できません：") + backup);
    }
    if (::rename(QFile::encodeName(db).constData(), QFile::encodeName(backup).constData()) != 0) {
        return refuse(DbStartResult::RenameFailed,
                      QStringLiteral("データベースの名前を変更できません（") +
                          QString::fromLocal8Bit(strerror(errno)) +
                          QStringLiteral("）。データフォルダーに書き込めるか確認してください：") +
                          paths.dataDir);
    }

    // Compact into a temporary file first and move it in place only when complete, so
    // a half-written db2k.mdb can never make the next start throw new.mdb away.
    const QString temp = db + QStringLiteral(".compacting");
    removeWithJournal(temp);
    QString error;
    {
        ItemDatabase source(backup);
        if (!source.open()) {
            error = source.lastError();
        } else {
            QSqlQuery q(source.connection());
            QString quoted = temp;
            quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
            if (!q.exec(QStringLiteral("VACUUM INTO '") + quoted + QLatin1Char('\'')))
                error = q.lastError().text();
        }
    }
    if (error.isEmpty() &&
        ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(db).constData()) != 0)
        error = QString::fromLocal8Bit(strerror(errno));
    if (!error.isEmpty()) {
        removeWithJournal(temp);
        return refuse(DbStartResult::CompactFailed,
                      QStringLiteral("データベースの最適化に失敗しました。データは ") + backup +
                          QStringLiteral(" に残っています。\n") + error);
    }
    return {};
}

} // namespace sw
