#include "apppaths.h"

#include <QDir>
#include <QStandardPaths>

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

} // namespace sw
