#pragma once

#include "notice.h"

#include <QDBusConnection>
#include <QString>

#include <functional>

class QObject;

namespace sw {

// One notice to the desktop's notification service (freedesktop, on the session bus),
// without waiting: `done` learns whether the service took it. No widgets.
void sendDesktopNotice(QDBusConnection bus, NoticeKind kind, const QString &body, QObject *context,
                       std::function<void(bool shown)> done);

} // namespace sw
