#include "desktopnotice.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace sw {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

void sendDesktopNotice(QDBusConnection bus, NoticeKind kind, const QString &body, QObject *context,
                       std::function<void(bool shown)> done)
{
    if (!bus.isConnected()) {
        if (done)
            done(false);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const bool urgent = kind == NoticeKind::Failed || kind == NoticeKind::LoginNeeded;
    QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue<uchar>(urgent ? 2 : 1)},
                      {QStringLiteral("desktop-entry"), QStringLiteral("snipewell")}};
    call << QStringLiteral("Snipewell") << uint(0) << QStringLiteral("snipewell")
         << QString(QStringLiteral("Snipewell：") + noticeTitle(kind)) << body << QStringList()
         << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         if (done)
                             done(!watcher->isError());
                     });
}

} // namespace sw
