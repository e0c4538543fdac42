#pragma once

#include "pageroute.h"

#include <QJsonObject>
#include <QString>

#include <coroutine>
#include <map>
#include <memory>

class QProcess;
class QTimer;

namespace sw {

class ActivityLog;

// The page route through a child process: the program itself started as `snipewell
// --bid-pages` on the offscreen platform, which holds the browser engine and the item
// pages. Parent and child talk over the child's standard input and output, a channel only
// they can use, one JSON object a line. The child is started when a bid needs it and ends
// half a minute after the last one, so the engine's memory is spent only around the bids. A
// child that dies is started again for the next order; what it held is reported lost and
// read again by the bid, never taken as sent.
class PageRouteChild : public PageRoute
{
    Q_OBJECT
public:
    // program: the desktop program (the service finds it beside itself).
    PageRouteChild(QString program, ActivityLog &log, QObject *parent = nullptr);
    ~PageRouteChild() override;

    QCoro::Task<PagePrepared> prepare(int handle, QString url, qint64 amount, int quantity,
                                      bool confirm) override;
    QCoro::Task<PageAnswer> press(int handle, qint64 amount) override;
    void close(int handle) override;
    void cookiesChanged() override;
    void keepWarmUntil(qint64 monoMs) override;

    bool running() const;
    // How long the child stays after its last order (tests and benchmarks shorten it).
    void setIdleMs(int ms) { m_idleMs = ms; }
    static constexpr int kIdleMs = 30000;

signals:
    void childStarted();
    void childEnded();

private:
    struct Waiter
    {
        std::coroutine_handle<> handle;
        QJsonObject reply;
        bool done = false;
    };
    class Reply;
    bool ensureRunning();
    void send(const QJsonObject &order);
    void read();
    void ended();
    void idleCheck();
    QCoro::Task<QJsonObject> ask(QString key, QJsonObject order);

    QString m_program;
    ActivityLog &m_log;
    QProcess *m_process = nullptr;
    bool m_started = false; // the child's process is up (not only asked to start)
    QTimer *m_idle;
    int m_idleMs = kIdleMs;
    qint64 m_warmUntil = 0;
    qint64 m_lastOrder = 0;                               // monotonic ms of the last order or reply
    std::map<QString, std::shared_ptr<Waiter>> m_waiting; // "prepared:7", "answer:7"
    std::map<int, bool> m_open;                           // handles the child holds
};

} // namespace sw
