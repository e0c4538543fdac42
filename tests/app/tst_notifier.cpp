#include "notifier.h"
#include "settingsstore.h"
#include "tempdir.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

using namespace sw;

// A notification service and a login manager of our own, on a private bus: what the
// program hands the desktop, as the desktop would receive it.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList summaries, bodies;
public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        summaries << summary;
        bodies << body;
        return uint(summaries.size());
    }
};

class FakeLogin : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList whats;
    int readEnd = -1;
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &, const QString &,
                                    const QString &)
    {
        whats << what;
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        readEnd = fds[0];
        QDBusUnixFileDescriptor out(fds[1]);
        ::close(fds[1]);
        return out;
    }
};

class tst_Notifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void eachKindReachesTheDesktopUnlessTurnedOff_data();
    void eachKindReachesTheDesktopUnlessTurnedOff();
    void noServiceBreaksNothing();
    void sleepIsHeldWhileABidIsDue();

private:
    QProcess m_bus;
    QString m_address;
};

void tst_Notifier::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        QSKIP("dbus-daemon is not installed");
    m_bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
    QVERIFY(m_bus.waitForReadyRead(10000));
    m_address = QString::fromLatin1(m_bus.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
}

void tst_Notifier::cleanupTestCase()
{
    m_bus.kill();
    m_bus.waitForFinished();
}

void tst_Notifier::eachKindReachesTheDesktopUnlessTurnedOff_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("off");
    QTest::newRow("placed") << int(NoticeKind::BidPlaced) << "Snipewell：入札しました" << false;
    QTest::newRow("outbid") << int(NoticeKind::Outbid) << "Snipewell：他の入札者に抜かれました"
                            << false;
    QTest::newRow("won") << int(NoticeKind::Won) << "Snipewell：落札しました" << false;
    QTest::newRow("lost") << int(NoticeKind::Lost) << "Snipewell：落札できませんでした" << false;
    QTest::newRow("failed") << int(NoticeKind::Failed) << "Snipewell：入札できませんでした"
                            << false;
    QTest::newRow("login") << int(NoticeKind::LoginNeeded) << "Snipewell：ログインが必要です"
                           << false;
    QTest::newRow("clock") << int(NoticeKind::ClockOff) << "Snipewell：パソコンの時計がずれています"
                           << false;
    QTest::newRow("won, turned off") << int(NoticeKind::Won) << "" << true;
}

void tst_Notifier::eachKindReachesTheDesktopUnlessTurnedOff()
{
    QFETCH(int, kind);
    QFETCH(QString, summary);
    QFETCH(bool, off);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("s") + tag);
    FakeNotifications fake;
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    if (off)
        settings.save(QStringLiteral("Settings"), noticeSettingKey(NoticeKind(kind)),
                      QStringLiteral("0"));
    Notifier n(settings, QDBusConnection::connectToBus(m_address, QStringLiteral("c") + tag));
    n.notify(NoticeKind(kind), QStringLiteral("x1 テスト商品\n落札しました：5,000円"));
    if (off) {
        QTest::qWait(300);
        QVERIFY(fake.summaries.isEmpty());
    } else {
        QTRY_COMPARE(fake.summaries, QStringList{summary});
        QCOMPARE(fake.bodies, QStringList{QStringLiteral("x1 テスト商品\n落札しました：5,000円")});
        QCOMPARE(n.fallbacks(), 0);
    }
    service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("s") + tag);
}

void tst_Notifier::noServiceBreaksNothing()
{
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    // A bus with nobody listening, and no bus at all.
    Notifier onBus(settings, QDBusConnection::connectToBus(m_address, QStringLiteral("lonely")));
    onBus.notify(NoticeKind::Won, QStringLiteral("x1"));
    QTRY_COMPARE(onBus.fallbacks(), 1);
    Notifier noBus(settings, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"),
                                                           QStringLiteral("none")));
    noBus.notify(NoticeKind::Failed, QStringLiteral("x1"));
    QCOMPARE(noBus.fallbacks(), 1);
}

void tst_Notifier::sleepIsHeldWhileABidIsDue()
{
    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("login"));
    FakeLogin fake;
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/login1"), &fake,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.login1")));
    SleepInhibitor inhibitor(QDBusConnection::connectToBus(m_address, QStringLiteral("me")));
    inhibitor.update(true, QStringLiteral("入札予定があります"));
    inhibitor.update(true, QStringLiteral("入札予定があります")); // asked once only
    QTRY_VERIFY(inhibitor.holding());
    QCOMPARE(fake.whats, QStringList{QStringLiteral("sleep:idle")});
    inhibitor.update(false, {});
    QVERIFY(!inhibitor.holding());
    // Let go: the login manager's end of the pipe sees it closed.
    char c;
    QCOMPARE(::read(fake.readEnd, &c, 1), ssize_t(0));
    ::close(fake.readEnd);
}

QTEST_MAIN(tst_Notifier)
#include "tst_notifier.moc"
