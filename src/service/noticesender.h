#pragma once

#include "notice.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <QString>

class QNetworkAccessManager;

namespace sw {

class ActivityLog;
class SettingsStore;

// The service's notices, wherever the user is: the desktop's notification service when the
// service runs in a desktop session, and an HTTP POST to [Service] NotifyUrl (the text as
// the body, the title in a header: what ntfy-style push servers take). A notice that cannot
// be delivered is logged once and never sent again.
class NoticeSender : public QObject
{
    Q_OBJECT
public:
    NoticeSender(SettingsStore &settings, ActivityLog &log, QDBusConnection bus,
                 QObject *parent = nullptr);

    void notify(NoticeKind kind, const QString &body);
    int posted() const { return m_posted; }
    // Calls `done` once the posts under way have finished, or after `ms` at the latest (the
    // service is ending), from the event loop; never waits inside the call.
    void whenSent(int ms, std::function<void()> done);

signals:
    void allSent();

private:
    void post(NoticeKind kind, const QString &body);

    SettingsStore &m_settings;
    ActivityLog &m_log;
    QDBusConnection m_bus;
    QNetworkAccessManager *m_nam;
    int m_posted = 0;
    int m_inFlight = 0;
    std::function<void()> m_whenSent;
};

} // namespace sw
