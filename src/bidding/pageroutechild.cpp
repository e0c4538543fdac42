#include "pageroutechild.h"

#include "activitylog.h"
#include "siteclock.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QTimer>

namespace sw {

namespace {
// A prepare opens a page and makes the preview; a press waits for the answer.
constexpr int kAskTimeoutMs = 90000;
QString cannotStartText()
{
    return QStringLiteral("入札画面の部品（ブラウザ）を起動できません");
}
} // namespace

// Resumes once the child's reply for the key came (or the child went away).
class PageRouteChild::Reply
{
public:
    explicit Reply(std::shared_ptr<Waiter> w) : m_w(std::move(w)) {}
    bool await_ready() const noexcept { return m_w->done; }
    void await_suspend(std::coroutine_handle<> h) { m_w->handle = h; }
    QJsonObject await_resume() const { return m_w->reply; }

private:
    std::shared_ptr<Waiter> m_w;
};

PageRouteChild::PageRouteChild(QString program, ActivityLog &log, QObject *parent)
    : PageRoute(parent), m_program(std::move(program)), m_log(log), m_idle(new QTimer(this))
{
    m_idle->setInterval(5000);
    connect(m_idle, &QTimer::timeout, this, &PageRouteChild::idleCheck);
}

PageRouteChild::~PageRouteChild()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->closeWriteChannel(); // the child ends when its orders end
        if (!m_process->waitForFinished(3000))
            m_process->kill();
    }
}

bool PageRouteChild::running() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool PageRouteChild::ensureRunning()
{
    if (running())
        return true;
    if (m_program.isEmpty())
        return false;
    delete m_process;
    m_process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &PageRouteChild::read);
    // The engine's own chatter is nobody's business: what matters comes as events.
    connect(m_process, &QProcess::readyReadStandardError, m_process,
            [p = m_process] { p->readAllStandardError(); });
    connect(m_process, &QProcess::finished, this, &PageRouteChild::ended);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            ended();
    });
    // Started without waiting here: a bid's timer may be due while the engine starts. Orders
    // sent meanwhile wait in the process's input; a child that cannot start ends the wait
    // of each.
    connect(m_process, &QProcess::started, this, [this] {
        m_started = true;
        m_idle->start();
        emit childStarted();
    });
    m_started = false;
    m_process->start(m_program, {QStringLiteral("--bid-pages")});
    return running();
}

void PageRouteChild::send(const QJsonObject &order)
{
    if (running())
        m_process->write(QJsonDocument(order).toJson(QJsonDocument::Compact) + '\n');
}

void PageRouteChild::read()
{
    while (m_process && m_process->canReadLine()) {
        const QJsonObject ev = QJsonDocument::fromJson(m_process->readLine().trimmed()).object();
        const QString kind = ev.value(QStringLiteral("ev")).toString();
        if (kind == QLatin1String("ready"))
            continue;
        const QString key =
            kind + QLatin1Char(':') + QString::number(ev.value(QStringLiteral("id")).toInt());
        const auto it = m_waiting.find(key);
        if (it == m_waiting.end())
            continue;
        const std::shared_ptr<Waiter> w = it->second;
        m_waiting.erase(it);
        w->reply = ev;
        w->done = true;
        if (w->handle)
            std::exchange(w->handle, {}).resume();
    }
}

void PageRouteChild::ended()
{
    if (!m_process)
        return;
    m_log.LOGTodb(QStringLiteral("入札画面の部品（ブラウザ）が終了しました"));
    m_process->deleteLater();
    m_process = nullptr;
    m_open.clear();
    m_idle->stop();
    // Everything it held is lost: each bid reads the item again.
    QJsonObject lost{{QStringLiteral("lost"), true}};
    if (!m_started)
        lost.insert(QStringLiteral("why"), cannotStartText());
    const auto waiting = std::exchange(m_waiting, {});
    for (const auto &[key, w] : waiting) {
        w->reply = lost;
        w->done = true;
        if (w->handle)
            std::exchange(w->handle, {}).resume();
    }
    emit childEnded();
}

void PageRouteChild::idleCheck()
{
    if (!running() || !m_waiting.empty() || !m_open.empty())
        return;
    const qint64 now = siteClock().monoMs();
    if (now < m_warmUntil || now - m_lastOrder < m_idleMs)
        return;
    send(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("quit")}});
    m_process->closeWriteChannel();
}

void PageRouteChild::keepWarmUntil(qint64 monoMs)
{
    m_warmUntil = qMax(m_warmUntil, monoMs);
    // Started ahead of the bids, so the engine's start costs them nothing.
    if (ensureRunning())
        m_lastOrder = qMax(m_lastOrder, siteClock().monoMs());
}

QCoro::Task<QJsonObject> PageRouteChild::ask(QString key, QJsonObject order)
{
    if (!ensureRunning())
        co_return QJsonObject{{QStringLiteral("lost"), true},
                              {QStringLiteral("why"), cannotStartText()}};
    m_lastOrder = siteClock().monoMs();
    auto w = std::make_shared<Waiter>();
    m_waiting[key] = w;
    send(order);
    // A child that hangs is ended: what it held is read again.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [this] {
        if (m_process)
            m_process->kill();
    });
    guard.start(kAskTimeoutMs);
    const QJsonObject reply = co_await Reply(w);
    m_lastOrder = siteClock().monoMs();
    co_return reply;
}

QCoro::Task<PagePrepared> PageRouteChild::prepare(int handle, QString url, qint64 amount,
                                                  int quantity, bool confirm)
{
    m_open[handle] = true;
    // Made before the wait: g++ 12 cannot keep an initializer list across a co_await.
    QJsonObject order;
    order.insert(QStringLiteral("cmd"), QStringLiteral("prepare"));
    order.insert(QStringLiteral("id"), handle);
    order.insert(QStringLiteral("url"), url);
    order.insert(QStringLiteral("amount"), double(amount));
    order.insert(QStringLiteral("quantity"), quantity);
    order.insert(QStringLiteral("confirm"), confirm);
    const QJsonObject r =
        co_await ask(QStringLiteral("prepared:") + QString::number(handle), order);
    PagePrepared p;
    if (r.value(QStringLiteral("lost")).toBool()) {
        p.kind = QStringLiteral("crashed");
        p.why = r.value(QStringLiteral("why")).toString();
        if (p.why.isEmpty())
            p.why = QStringLiteral("入札画面の部品（ブラウザ）が途中で終了しました");
        co_return p;
    }
    p.ok = r.value(QStringLiteral("ok")).toBool();
    p.kind = r.value(QStringLiteral("kind")).toString();
    p.why = r.value(QStringLiteral("why")).toString();
    p.said = r.value(QStringLiteral("said")).toString();
    p.shown = r.value(QStringLiteral("shown")).toString();
    p.ms = qint64(r.value(QStringLiteral("ms")).toDouble());
    co_return p;
}

QCoro::Task<PageAnswer> PageRouteChild::press(int handle, qint64 amount)
{
    QJsonObject order;
    order.insert(QStringLiteral("cmd"), QStringLiteral("press"));
    order.insert(QStringLiteral("id"), handle);
    order.insert(QStringLiteral("amount"), double(amount));
    QElapsedTimer exchange;
    exchange.start();
    const QJsonObject r = co_await ask(QStringLiteral("answer:") + QString::number(handle), order);
    PageAnswer a;
    if (r.value(QStringLiteral("lost")).toBool()) {
        // Pressed or not, nobody can say: the bid reads the item again.
        a.lost = true;
        a.why = QStringLiteral("入札画面の部品（ブラウザ）が途中で終了しました");
        co_return a;
    }
    a.pressed = r.value(QStringLiteral("pressed")).toBool();
    a.text = r.value(QStringLiteral("text")).toString();
    a.timedOut = r.value(QStringLiteral("timedOut")).toBool();
    a.why = r.value(QStringLiteral("why")).toString();
    a.ms = qint64(r.value(QStringLiteral("ms")).toDouble());
    // The child's figure counts from its press; the order took half the channel's round trip
    // (the whole exchange less the child's part) to reach it.
    const qint64 childAhead = qint64(r.value(QStringLiteral("aheadMs")).toDouble(-1));
    if (childAhead >= 0)
        a.aheadMs = childAhead + qMax<qint64>(0, (exchange.elapsed() - a.ms) / 2);
    co_return a;
}

void PageRouteChild::close(int handle)
{
    m_open.erase(handle);
    send(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("close")},
                     {QStringLiteral("id"), handle}});
}

void PageRouteChild::cookiesChanged()
{
    send(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("cookies")}});
}

} // namespace sw
