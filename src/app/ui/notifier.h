#pragma once

#include "notice.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

namespace sw {

class SettingsStore;

// Tells the user what happened to the bids without a box: a desktop notification through
// the freedesktop notification service on the session bus, the tray icon's balloon when no
// such service answers, and a sound when the user wants one. Every kind can be turned off
// (Settings/Notify<kind>=0). Nothing here waits for the desktop: with no service, nothing
// breaks and nothing is held up.
class Notifier : public QObject
{
    Q_OBJECT
public:
    Notifier(SettingsStore &settings, QDBusConnection bus, QObject *parent = nullptr);

    void setTray(QSystemTrayIcon *tray) { m_tray = tray; }
    void notify(NoticeKind kind, const QString &body);
    static QString title(NoticeKind kind);
    bool enabled(NoticeKind kind) const;
    // How many notifications the service refused or never answered (the tray took them).
    int fallbacks() const { return m_fallbacks; }

signals:
    void shown(sw::NoticeKind kind, const QString &body); // handed to the desktop

private:
    void playSound();

    SettingsStore &m_settings;
    QDBusConnection m_bus;
    QPointer<QSystemTrayIcon> m_tray;
    int m_fallbacks = 0;
};

// Asks the login manager not to let the machine sleep while a bid is due, and lets go
// afterwards. Without a login manager on the bus it does nothing.
class SleepInhibitor : public QObject
{
    Q_OBJECT
public:
    explicit SleepInhibitor(QDBusConnection systemBus, QObject *parent = nullptr);
    // wanted: a bid is due within the next minutes.
    void update(bool wanted, const QString &why);
    bool holding() const { return m_fd.isValid(); }

private:
    QDBusConnection m_bus;
    QDBusUnixFileDescriptor m_fd;
    bool m_asking = false;
    bool m_wanted = false;
};

} // namespace sw
