#include "notifier.h"
#include "settingsstore.h"
#include "tempdir.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
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

struct NoticeRow
{
    NoticeKind kind;
    QString summary;
};

class tst_Notifier : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed");
        m_bus.start(daemon, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_address = QString::fromLatin1(m_bus.readLine()).trimmed();
        QVERIFY(!m_address.isEmpty());
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void eachKindReachesTheDesktopUnlessTurnedOff_data()
    {
        QTest::addColumn<NoticeRow>("row");
        using K = NoticeKind;
        QTest::newRow("placed") << NoticeRow{K::BidPlaced, u"入札しました"_s};
        QTest::newRow("outbid") << NoticeRow{K::Outbid, u"他の入札者に抜かれました"_s};
        QTest::newRow("won") << NoticeRow{K::Won, u"落札しました"_s};
        QTest::newRow("lost") << NoticeRow{K::Lost, u"落札できませんでした"_s};
        QTest::newRow("failed") << NoticeRow{K::Failed, u"入札できませんでした"_s};
        QTest::newRow("login") << NoticeRow{K::LoginNeeded, u"ログインが必要です"_s};
        QTest::newRow("clock") << NoticeRow{K::ClockOff, u"パソコンの時計がずれています"_s};
        QTest::newRow("won, turned off") << NoticeRow{K::Won, QString()};
    }

    void eachKindReachesTheDesktopUnlessTurnedOff()
    {
        QFETCH(NoticeRow, row);
        const NoticeKind kind = row.kind;
        const QString summary = u"Snipewell："_s + row.summary;
        const bool off = row.summary.isEmpty(); // turned off in the settings
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        QDBusConnection service = QDBusConnection::connectToBus(m_address, u"s"_s + tag);
        FakeNotifications fake;
        QVERIFY(service.registerObject(u"/org/freedesktop/Notifications"_s, &fake,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(u"org.freedesktop.Notifications"_s));
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        if (off)
            settings.save(u"Settings"_s, noticeSettingKey(kind), u"0"_s);
        Notifier n(settings, QDBusConnection::connectToBus(m_address, u"c"_s + tag));
        n.notify(kind, u"x1 テスト商品\n落札しました：5,000円"_s);
        if (off) {
            QTest::qWait(300);
            QVERIFY(fake.summaries.isEmpty());
        } else {
            QTRY_COMPARE(fake.summaries, QStringList{summary});
            QCOMPARE(fake.bodies, QStringList{u"x1 テスト商品\n落札しました：5,000円"_s});
            QCOMPARE(n.fallbacks(), 0);
        }
        service.unregisterService(u"org.freedesktop.Notifications"_s);
        QDBusConnection::disconnectFromBus(u"s"_s + tag);
    }

    void noServiceBreaksNothing()
    {
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        // A bus with nobody listening, and no bus at all.
        Notifier onBus(settings, QDBusConnection::connectToBus(m_address, u"lonely"_s));
        onBus.notify(NoticeKind::Won, u"x1"_s);
        QTRY_COMPARE(onBus.fallbacks(), 1);
        Notifier noBus(settings,
                       QDBusConnection::connectToBus(u"unix:path=/nonexistent"_s, u"none"_s));
        noBus.notify(NoticeKind::Failed, u"x1"_s);
        QCOMPARE(noBus.fallbacks(), 1);
    }

    void sleepIsHeldWhileABidIsDue()
    {
        QDBusConnection service = QDBusConnection::connectToBus(m_address, u"login"_s);
        FakeLogin fake;
        QVERIFY(service.registerObject(u"/org/freedesktop/login1"_s, &fake,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(u"org.freedesktop.login1"_s));
        SleepInhibitor inhibitor(QDBusConnection::connectToBus(m_address, u"me"_s));
        inhibitor.update(true, u"入札予定があります"_s);
        inhibitor.update(true, u"入札予定があります"_s); // asked once only
        QTRY_VERIFY(inhibitor.holding());
        QCOMPARE(fake.whats, QStringList{u"sleep:idle"_s});
        inhibitor.update(false, {});
        QVERIFY(!inhibitor.holding());
        // Let go: the login manager's end of the pipe sees it closed.
        char c;
        QCOMPARE(::read(fake.readEnd, &c, 1), ssize_t(0));
        ::close(fake.readEnd);
    }

private:
    QProcess m_bus;
    QString m_address;
};

QTEST_MAIN(tst_Notifier)
#include "tst_notifier.moc"
