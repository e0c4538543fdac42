#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QUrl>

#include <utility>

class QSslSocket;
class QTimer;

namespace sw {

// One GET over a connection of its own, sent exactly once. The HTTP layer of Qt sends a
// request again, silently, when its connection drops before an answer (up to three more
// times); a bid's confirmation must never go twice unseen, so it goes this way: a dropped
// connection is an answer nobody knows, for the bid to read the item's page about. Through
// an HTTP proxy as the program's other requests go (a tunnel for https), with the cookies
// given, and "Connection: close".
class OneShotGet : public QObject
{
    Q_OBJECT
public:
    OneShotGet(QUrl target, QNetworkProxy proxy, QByteArray cookieHeader, int timeoutMs,
               QObject *parent = nullptr);
    void start();
    // Connects (the proxy's tunnel and TLS included) but holds the request: the connection is
    // made ahead, so that at the moment only the request itself has to travel.
    void hold() { m_hold = true; }
    // Held and connected to the host, port and scheme of `target`.
    bool readyFor(const QUrl &target) const;
    // Still connecting or held for the host, port and scheme of `target`.
    bool heldFor(const QUrl &target) const;
    // Sends the held request now, to `target` (same host) with these cookies.
    void send(QUrl target, QByteArray cookieHeader, int timeoutMs);

    bool finished() const { return m_finished; }
    bool answered() const { return m_status > 0; } // a status line came
    bool timedOut() const { return m_timedOut; }
    QString error() const { return m_error; }
    int status() const { return m_status; }
    QByteArray header(const QByteArray &name) const; // the first of that name
    QList<QByteArray> headers(const QByteArray &name) const;
    QByteArray body() const { return m_body; }

signals:
    void done();

private:
    enum class State
    {
        Connecting,
        Tunnel,
        Request,
        Headers,
        Body,
        Done,
    };
    void connected();
    void readable();
    void sendRequest();
    void connectionMade(); // connected (and encrypted): the request goes, or waits if held
    void parseHeaders(qsizetype end);
    bool bodyComplete();
    void finish(const QString &error = QString());

    QUrl m_target;
    QNetworkProxy m_proxy;
    QByteArray m_cookies;
    QSslSocket *m_socket;
    QTimer *m_timer;
    State m_state = State::Connecting;
    QByteArray m_buffer;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    qint64 m_length = -1; // Content-Length, -1: until the connection closes
    bool m_chunked = false;
    int m_status = 0;
    bool m_timedOut = false;
    bool m_finished = false;
    bool m_hold = false;
    bool m_ready = false;
    QString m_error;
};

} // namespace sw
