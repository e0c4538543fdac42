#include "guardedserver.h"

#include <QAbstractHttpServer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace sw {

namespace {

QByteArray refusal(int status, const QByteArray &reason, const QString &why)
{
    const QByteArray body = "{\"error\":\"" + why.toUtf8() + "\"}";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
           QByteArray::number(body.size()) +
           "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body;
}

// The server hands each new connection to the guard before the HTTP server sees it.
template <class Base> class Guarded : public Base
{
public:
    Guarded(ConnectionGuard *guard, QObject *parent) : Base(parent), m_guard(guard) {}
    QTcpSocket *nextPendingConnection() override
    {
        while (QTcpSocket *s = Base::nextPendingConnection()) {
            if (m_guard->admit(s))
                return s;
        }
        return nullptr;
    }

private:
    ConnectionGuard *m_guard;
};

QElapsedTimer &monotonic()
{
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t;
}

} // namespace

ConnectionGuard::ConnectionGuard(ConnectionLimits limits, bool tls,
                                 std::function<bool(const QByteArray &)> hostAllowed,
                                 std::function<void(const QString &)> log, QObject *parent)
    : QObject(parent), m_limits(limits), m_tls(tls), m_hostAllowed(std::move(hostAllowed)),
      m_log(std::move(log))
{}

quint16 ConnectionGuard::listen(QAbstractHttpServer &server, const QHostAddress &address,
                                quint16 port, const std::optional<QSslConfiguration> &tls)
{
    QTcpServer *tcp = nullptr;
    if (tls) {
        auto *ssl = new Guarded<QSslServer>(this, &server);
        ssl->setSslConfiguration(*tls);
        tcp = ssl;
    } else {
        tcp = new Guarded<QTcpServer>(this, &server);
    }
    tcp->setMaxPendingConnections(m_limits.maxConnections);
    if (!tcp->listen(address, port)) {
        delete tcp;
        return 0;
    }
    server.bind(tcp);
    return tcp->serverPort();
}

std::optional<QByteArray> ConnectionGuard::judgeHead(const QByteArray &bytes) const
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0) {
        if (bytes.size() > m_limits.maxHead)
            return refusal(431, "Request Header Fields Too Large",
                           QStringLiteral("要求のヘッダーが長すぎます。"));
        return std::nullopt;
    }
    if (end > m_limits.maxHead)
        return refusal(431, "Request Header Fields Too Large",
                       QStringLiteral("要求のヘッダーが長すぎます。"));
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    QByteArray host;
    std::optional<qint64> length;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "host") {
            host = value;
        } else if (name == "content-length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            length = ok && n >= 0 ? n : std::numeric_limits<qint64>::max();
        } else if (name == "transfer-encoding") {
            chunked = true;
        }
    }
    if (m_hostAllowed && !m_hostAllowed(host))
        return refusal(421, "Misdirected Request",
                       QStringLiteral("このホスト名では受け付けません。"));
    if (chunked)
        return refusal(411, "Length Required",
                       QStringLiteral("データの長さ（Content-Length）を付けて送ってください。"));
    if (length && *length > m_limits.maxBody)
        return refusal(413, "Payload Too Large", QStringLiteral("送られたデータが大きすぎます。"));
    return QByteArray();
}

void ConnectionGuard::refuse(QTcpSocket *socket, const QByteArray &reply)
{
    socket->setProperty("sw_refused", true);
    socket->readAll(); // nothing of it reaches the HTTP server
    socket->write(reply);
    // A client still sending its body reads the answer only once it has sent it: what
    // comes is thrown away as it comes (never kept), and the connection closes when the
    // client stops sending, after 3 s, or after 8 MiB at the most.
    auto *quiet = new QTimer(socket);
    quiet->setSingleShot(true);
    connect(quiet, &QTimer::timeout, socket, [socket] { socket->disconnectFromHost(); });
    QTimer::singleShot(3000, socket, [socket] { socket->disconnectFromHost(); });
    socket->setProperty("sw_quiet", QVariant::fromValue<QObject *>(quiet));
    quiet->start(300);
}

bool ConnectionGuard::admit(QTcpSocket *socket)
{
    const auto drop = [socket] {
        socket->abort();
        socket->deleteLater();
        return false;
    };
    if (!m_tls && !socket->peerAddress().isLoopback()) {
        if (m_log)
            m_log(QStringLiteral("入札サービス：このコンピューターの外からの暗号化されていない接続"
                                 "を断りました（") +
                  socket->peerAddress().toString() + QStringLiteral("）"));
        return drop();
    }
    if (m_open >= m_limits.maxConnections) {
        const qint64 now = monotonic().elapsed();
        if (m_log && (m_lastFullLogMs < 0 || now - m_lastFullLogMs > 60'000)) {
            m_lastFullLogMs = now;
            m_log(QStringLiteral(
                      "入札サービス：同時に開いている接続が多すぎるので、新しい接続を断って"
                      "います（上限") +
                  QString::number(m_limits.maxConnections) + QStringLiteral("）"));
        }
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(
            refusal(503, "Service Unavailable",
                    QStringLiteral("接続が多すぎます。しばらくしてからもう一度どうぞ。")));
        socket->disconnectFromHost();
        return false;
    }
    ++m_open;
    QPointer<ConnectionGuard> self(this);
    auto counted = std::make_shared<bool>(true);
    auto release = [self, counted] {
        if (*counted && self) {
            *counted = false;
            --self->m_open;
        }
    };
    connect(socket, &QTcpSocket::disconnected, this, release);
    connect(socket, &QObject::destroyed, this, release);

    auto *head = new QTimer(socket);
    head->setSingleShot(true);
    auto *idle = new QTimer(socket);
    idle->setSingleShot(true);
    const auto late = [socket] { socket->abort(); };
    connect(head, &QTimer::timeout, socket, late);
    connect(idle, &QTimer::timeout, socket, late);
    head->start(m_limits.headMs);
    idle->start(m_limits.idleMs);
    auto headSeen = std::make_shared<bool>(false);
    auto judge = [this, socket, head, idle, headSeen]() -> bool {
        idle->start(m_limits.idleMs);
        if (socket->property("sw_refused").toBool()) {
            // Refused: whatever still comes is thrown away before the HTTP server sees it.
            const qint64 drained =
                socket->property("sw_drained").toLongLong() + socket->readAll().size();
            socket->setProperty("sw_drained", drained);
            if (drained > 8 * 1024 * 1024)
                socket->abort();
            else if (auto *quiet =
                         qobject_cast<QTimer *>(socket->property("sw_quiet").value<QObject *>()))
                quiet->start(300);
            return false;
        }
        if (*headSeen)
            return true;
        const std::optional<QByteArray> verdict = judgeHead(socket->peek(m_limits.maxHead + 4));
        if (!verdict)
            return true; // not all of the head yet
        *headSeen = true;
        head->stop();
        if (verdict->isEmpty())
            return true;
        refuse(socket, *verdict);
        return false;
    };
    connect(socket, &QTcpSocket::readyRead, this, judge);
    connect(socket, &QTcpSocket::bytesWritten, idle,
            [idle, this] { idle->start(m_limits.idleMs); });
    if (socket->bytesAvailable() > 0 && !judge()) {
        // Answered; the HTTP server never sees it.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        return false;
    }
    return true;
}

} // namespace sw
