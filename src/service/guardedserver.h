#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QAbstractHttpServer;
class QSslConfiguration;
class QTcpServer;
class QTcpSocket;

namespace sw {

// What a connection may cost before the service reads a byte of its body.
struct ConnectionLimits
{
    qsizetype maxHead = 16 * 1024; // request line and headers
    qsizetype maxBody = 64 * 1024; // Content-Length
    int headMs = 10'000;           // from the connection to the end of the headers
    int idleMs = 30'000;           // nothing sent either way
    int maxConnections = 32;       // open at once
};

// Looks at every connection before the HTTP server does: refuses a peer from beyond this
// machine when there is no TLS, one connection too many, a request whose headers run too
// long or too slow, a body announced too large (or not announced), and a Host that is not
// the service's — all before the body is read. Each connection carries one request (the
// service's answers close it), so only the first head needs looking at.
class ConnectionGuard : public QObject
{
    Q_OBJECT
public:
    ConnectionGuard(ConnectionLimits limits, bool tls,
                    std::function<bool(const QByteArray &)> hostAllowed,
                    std::function<void(const QString &)> log, QObject *parent = nullptr);

    // Starts listening with the guard in front of `server`; the port, 0 when it cannot.
    quint16 listen(QAbstractHttpServer &server, const QHostAddress &address, quint16 port,
                   const std::optional<QSslConfiguration> &tls);

    // False, and the socket answered and closed, when the connection is not let in.
    bool admit(QTcpSocket *socket);
    int openConnections() const { return m_open; }

private:
    // nullopt while the head is not complete; else the refusal (empty: let in).
    std::optional<QByteArray> judgeHead(const QByteArray &bytes) const;
    void refuse(QTcpSocket *socket, const QByteArray &answer);

    ConnectionLimits m_limits;
    bool m_tls;
    std::function<bool(const QByteArray &)> m_hostAllowed;
    std::function<void(const QString &)> m_log;
    int m_open = 0;
    qint64 m_lastFullLogMs = -1;
};

} // namespace sw
