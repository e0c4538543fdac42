#include "apppaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace sw {

AppPaths AppPaths::fromEnvironment()
{
    AppPaths p;
    const QString home = qEnvironmentVariable("SNIPEWELL_HOME");
    if (!home.isEmpty()) {
        const QString dir = QDir(home).absolutePath();
        p.dataDir = dir;
        p.settingsFile = dir + QStringLiteral("/snipewell.ini");
        return p;
    }
    p.dataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                QStringLiteral("/snipewell");
    p.settingsFile = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                     QStringLiteral("/snipewell/snipewell.ini");
    return p;
}

namespace {
// Takes away what group and others may do; true when there was something to take.
bool tighten(const QString &path, mode_t mode)
{
    struct stat st
    {};
    const QByteArray name = QFile::encodeName(path);
    if (::lstat(name.constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return false;
    if ((st.st_mode & 077) == 0)
        return false;
    return ::chmod(name.constData(), mode) == 0;
}
} // namespace

QStringList AppPaths::makePrivate() const
{
    QStringList changed;
    auto dir = [&changed](const QString &d) {
        if (QFileInfo(d).isDir() && tighten(d, 0700))
            changed << d;
    };
    auto file = [&changed](const QString &f) {
        if (QFileInfo(f).isFile() && tighten(f, 0600))
            changed << f;
    };
    dir(dataDir);
    dir(QFileInfo(settingsFile).absolutePath());
    file(settingsFile);
    const QDir data(dataDir);
    for (const QString &name :
         data.entryList({QStringLiteral("*.mdb*"), QStringLiteral("cookies.txt*"),
                         QStringLiteral("*.lock"), QStringLiteral("*.ini")},
                        QDir::Files | QDir::Hidden))
        file(data.filePath(name));
    return changed;
}

void keepNewFilesPrivate()
{
    ::umask(077);
}

void keepSecretsOutOfCrashDumps()
{
    // The site password is in this process's memory: no core file, and no other process
    // of the user's attaching to read it.
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

} // namespace sw
