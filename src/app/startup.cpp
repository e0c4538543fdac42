#include "startup.h"

#include "settingsstore.h"

#include <QFileInfo>
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

} // namespace sw
