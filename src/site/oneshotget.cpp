#include "oneshotget.h"

#include <QSslSocket>
#include <QTimer>

namespace sw {

namespace {
constexpr qsizetype kMaxHeaders = 64 * 1024;
constexpr qsizetype kMaxBody = 16 * 1024 * 1024;

bool isHttps(const QUrl &u)
{
    return u.scheme() == QLatin1String("https");
}

// The chunked body decoded; nullopt while it is not complete.
std::optional<QByteArray> unchunk(const QByteArray &in)
{
    QByteArray out;
    qsizetype at = 0;
    for (;;) {
        const qsizetype eol = in.indexOf("\r\n", at);
        if (eol < 0)
            return std::nullopt;
        bool ok = false;
        const qint64 size = in.mid(at, eol - at).split(';').first().trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0)
            return std::nullopt;
        at = eol + 2;
        if (size == 0)
            return out;
        if (in.size() < at + size + 2)
            return std::nullopt;
        out += in.mid(at, size);
        at += size + 2;
    }
}
} // namespace

OneShotGet::OneShotGet(QUrl target, QNetworkProxy proxy, QByteArray cookieHeader, int timeoutMs,
                       QObject *parent)
    : QObject(parent), m_target(std::move(target)), m_proxy(std::move(proxy)),
      m_cookies(std::move(cookieHeader)), m_socket(new QSslSocket(this)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(timeoutMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        finish(QStringLiteral("timeout"));
    });
    connect(m_socket, &QSslSocket::connected, this, &OneShotGet::connected);
    connect(m_socket, &QSslSocket::encrypted, this, &OneShotGet::connectionMade);
    connect(m_socket, &QSslSocket::readyRead, this, &OneShotGet::readable);
    connect(m_socket, &QSslSocket::disconnected, this, [this] {
        readable();
        if (m_state == State::Body && !m_chunked && m_length < 0)
            finish(); // the answer ends with the connection
        else if (m_state != State::Done)
            finish(m_socket->errorString().isEmpty() ? QStringLiteral("connection closed")
                                                     : m_socket->errorString());
    });
    connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            return; // said by `disconnected`
        finish(m_socket->errorString());
    });
}

void OneShotGet::start()
{
    m_timer->start();
    // An HTTP proxy is spoken to by hand below; a SOCKS one by the socket itself.
    m_socket->setProxy(m_proxy.type() == QNetworkProxy::Socks5Proxy
                           ? m_proxy
                           : QNetworkProxy(QNetworkProxy::NoProxy));
    const bool viaProxy = m_proxy.type() == QNetworkProxy::HttpProxy;
    if (viaProxy) {
        m_socket->connectToHost(m_proxy.hostName(), m_proxy.port());
    } else if (isHttps(m_target)) {
        m_socket->connectToHostEncrypted(m_target.host(), quint16(m_target.port(443)));
    } else {
        m_socket->connectToHost(m_target.host(), quint16(m_target.port(80)));
    }
}

void OneShotGet::connected()
{
    const bool viaProxy = m_proxy.type() == QNetworkProxy::HttpProxy;
    if (viaProxy && isHttps(m_target)) {
        const QByteArray authority =
            m_target.host().toUtf8() + ':' + QByteArray::number(m_target.port(443));
        m_state = State::Tunnel;
        m_socket->write("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
        return;
    }
    if (!isHttps(m_target))
        connectionMade(); // https goes on `encrypted`
}

void OneShotGet::connectionMade()
{
    if (!m_hold) {
        sendRequest();
        return;
    }
    // Held: no time-out while it waits for its moment; a connection the other side closes
    // meanwhile ends it (and the request goes on a new one).
    m_timer->stop();
    m_ready = true;
    m_state = State::Request;
}

bool OneShotGet::heldFor(const QUrl &target) const
{
    return m_hold && !m_finished && target.scheme() == m_target.scheme() &&
           target.host() == m_target.host() && target.port() == m_target.port();
}

bool OneShotGet::readyFor(const QUrl &target) const
{
    return m_ready && heldFor(target) && m_socket->state() == QAbstractSocket::ConnectedState;
}

void OneShotGet::send(QUrl target, QByteArray cookieHeader, int timeoutMs)
{
    m_target = std::move(target);
    m_cookies = std::move(cookieHeader);
    m_hold = false;
    m_ready = false;
    m_timer->setInterval(timeoutMs);
    m_timer->start();
    sendRequest();
}

void OneShotGet::sendRequest()
{
    const bool viaProxy = m_proxy.type() == QNetworkProxy::HttpProxy;
    const QByteArray path = m_target.path(QUrl::FullyEncoded).toUtf8().isEmpty()
                                ? QByteArray("/")
                                : m_target.path(QUrl::FullyEncoded).toUtf8();
    const QByteArray query =
        m_target.hasQuery() ? '?' + m_target.query(QUrl::FullyEncoded).toUtf8() : QByteArray();
    // Plain http through a proxy asks for the whole address; everything else for the path.
    const QByteArray target =
        viaProxy && !isHttps(m_target)
            ? m_target.toString(QUrl::FullyEncoded | QUrl::RemoveFragment).toUtf8()
            : path + query;
    QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + m_target.host().toUtf8();
    if (m_target.port() > 0)
        request += ':' + QByteArray::number(m_target.port());
    request += "\r\nAccept: */*\r\nConnection: close\r\n";
    if (!m_cookies.isEmpty())
        request += "Cookie: " + m_cookies + "\r\n";
    request += "\r\n";
    m_state = State::Headers;
    m_socket->write(request);
}

void OneShotGet::readable()
{
    if (m_state == State::Done)
        return;
    m_buffer += m_socket->readAll();
    if (m_state == State::Tunnel) {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray line = m_buffer.left(m_buffer.indexOf("\r\n"));
        m_buffer.clear();
        if (line.split(' ').value(1) != "200") {
            finish(QStringLiteral("proxy refused the tunnel: ") + QString::fromLatin1(line));
            return;
        }
        m_state = State::Request;
        m_socket->setPeerVerifyName(m_target.host());
        m_socket->startClientEncryption();
        return;
    }
    if (m_state == State::Headers) {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > kMaxHeaders)
                finish(QStringLiteral("headers too long"));
            return;
        }
        parseHeaders(end);
    }
    if (m_state == State::Body) {
        m_body = m_buffer;
        if (m_body.size() > kMaxBody) {
            finish(QStringLiteral("answer too long"));
            return;
        }
        if (bodyComplete())
            finish();
    }
}

void OneShotGet::parseHeaders(qsizetype end)
{
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + 4);
    const QList<QByteArray> status = lines.value(0).trimmed().split(' ');
    m_status = status.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray l = lines[i].trimmed();
        const qsizetype colon = l.indexOf(':');
        if (colon <= 0)
            continue;
        m_headers.append({l.left(colon).trimmed().toLower(), l.mid(colon + 1).trimmed()});
    }
    m_chunked = header("transfer-encoding").toLower().contains("chunked");
    bool ok = false;
    const qint64 length = header("content-length").toLongLong(&ok);
    m_length = ok && !m_chunked ? length : -1;
    m_state = State::Body;
}

bool OneShotGet::bodyComplete()
{
    if (m_chunked) {
        if (const std::optional<QByteArray> b = unchunk(m_buffer)) {
            m_body = *b;
            return true;
        }
        return false;
    }
    if (m_status == 204 || m_status == 304 || (m_status >= 100 && m_status < 200))
        return true;
    return m_length >= 0 && m_body.size() >= m_length;
}

QByteArray OneShotGet::header(const QByteArray &name) const
{
    for (const auto &[k, v] : m_headers) {
        if (k == name)
            return v;
    }
    return {};
}

QList<QByteArray> OneShotGet::headers(const QByteArray &name) const
{
    QList<QByteArray> out;
    for (const auto &[k, v] : m_headers) {
        if (k == name)
            out << v;
    }
    return out;
}

void OneShotGet::finish(const QString &error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_state = State::Done;
    m_error = error;
    m_timer->stop();
    m_socket->abort();
    emit done();
}

} // namespace sw
