#pragma once

#include "guardedserver.h"
#include "servicesecurity.h"

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

class QTcpSocket;

namespace sw {

class BidHost;
class PageFetcher;
class ServiceLogin;

// The service's HTTP face: a JSON API and one page for the browser, both behind the access
// token (Bearer for the API; the page takes the token once and keeps a session cookie, and
// every change it asks for carries the session's CSRF token). Every answer is in the
// program's words; none carries the password or the token.
class ServiceApi : public QAbstractHttpServer
{
    Q_OBJECT
public:
    ServiceApi(BidHost &host, ServiceGate &gate, ServiceLogin *login, bool tls,
               QObject *parent = nullptr);
    ~ServiceApi() override;

    // Listens with the connection guard in front (TLS when `tls` is given); the port, 0 when
    // it cannot.
    quint16 listenGuarded(const QHostAddress &address, quint16 port,
                          const std::optional<QSslConfiguration> &tls,
                          ConnectionLimits limits = {});
    const ConnectionGuard *guard() const { return m_guard; }

    // What GET /api/status tells, also for tests.
    QJsonObject status() const;

    static constexpr qsizetype kMaxBody = 64 * 1024;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        QByteArray type = "application/json; charset=utf-8";
        QList<QByteArray> headers;
    };
    static Answer json(int status, const QJsonValue &value);
    static Answer error(int status, const QString &why);
    void send(QTcpSocket *socket, const Answer &a);

    // The routes, once the request is let in. nullopt: answered later (the socket is kept).
    std::optional<Answer> route(const QHttpServerRequest &request, QTcpSocket *socket,
                                const QString &csrf);
    Answer items() const;
    Answer itemLog(const QString &itemid) const;
    Answer changeItem(const QString &itemid, const QByteArray &body);
    Answer deleteItem(const QString &itemid);
    Answer page(const QString &csrf) const;
    Answer tokenForm(const QString &why) const;
    QCoro::Task<> addItem(QByteArray body, QPointer<QTcpSocket> socket);
    std::optional<int> idOf(const QString &itemid) const;

    BidHost &m_host;
    ServiceGate &m_gate;
    ServiceLogin *m_login;
    bool m_tls;
    PageFetcher *m_fetcher;
    ConnectionGuard *m_guard = nullptr;
};

} // namespace sw
