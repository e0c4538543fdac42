#include "notifier.h"

#include "desktopnotice.h"
#include "settingsstore.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");
} // namespace

Notifier::Notifier(SettingsStore &settings, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_settings(settings), m_bus(std::move(bus))
{}

QString Notifier::title(NoticeKind kind)
{
    return noticeTitle(kind);
}

bool Notifier::enabled(NoticeKind kind) const
{
    return m_settings.getBool(kSettings, noticeSettingKey(kind), true);
}

void Notifier::notify(NoticeKind kind, const QString &body)
{
    if (!enabled(kind))
        return;
    if (m_settings.getBool(kSettings, QStringLiteral("NotifySound"), false))
        playSound();
    const QString summary = QStringLiteral("Snipewell：") + title(kind);
    sendDesktopNotice(m_bus, kind, body, this, [this, summary, kind, body](bool taken) {
        if (taken) {
            emit shown(kind, body);
            return;
        }
        ++m_fallbacks;
        if (m_tray && m_tray->isVisible())
            m_tray->showMessage(summary, body);
    });
}

void Notifier::playSound()
{
    // The desktop's own sound when it has the player; the bell otherwise.
    const QString player = QStandardPaths::findExecutable(QStringLiteral("canberra-gtk-play"));
    if (player.isEmpty() ||
        !QProcess::startDetached(player, {QStringLiteral("-i"), QStringLiteral("message")}))
        QApplication::beep();
}

SleepInhibitor::SleepInhibitor(QDBusConnection systemBus, QObject *parent)
    : QObject(parent), m_bus(std::move(systemBus))
{}

void SleepInhibitor::update(bool wanted, const QString &why)
{
    m_wanted = wanted;
    if (!wanted) {
        m_fd = QDBusUnixFileDescriptor(); // closing our copy lets go
        return;
    }
    if (m_fd.isValid() || m_asking || !m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Snipewell") << why
         << QStringLiteral("block");
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (reply.isError() || !m_wanted)
            return; // no login manager, or no longer needed: nothing held
        m_fd = reply.value();
    });
}

} // namespace sw
