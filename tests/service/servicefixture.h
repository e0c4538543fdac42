#pragma once

// The service's API over a fresh data folder and the simulated site, listening on a free
// loopback port, and a client that calls it. Header-only: suites that link the service and
// simulator libraries.
#include "../bidding/bidfixture.h"
#include "bidhost.h"
#include "serviceapi.h"
#include "servicesecurity.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

using namespace sw;

const QString kToken = u"0123456789abcdef0123456789abcdef0123456789abcdef"_s;

struct Answer
{
    int status = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
    QJsonArray array() const { return QJsonDocument::fromJson(body).array(); }
};

struct Service : BidFixture
{
    BidHost host{ctx};
    ServiceGate gate;
    ServiceApi api;
    quint16 port = 0;
    QNetworkAccessManager client;

    explicit Service(sim::Scenario s, ConnectionLimits limits = {})
        : BidFixture(std::move(s)), gate(kToken, {}), api(host, gate, nullptr, false)
    {
        port = api.listenGuarded(QHostAddress::LocalHost, 0, std::nullopt, limits);
        gate = ServiceGate(kToken, {u"127.0.0.1:"_s + QString::number(port),
                                    u"localhost:"_s + QString::number(port)});
        client.setProxy(QNetworkProxy::NoProxy);
        client.setCookieJar(new QNetworkCookieJar(&client));
    }
    QString base() const { return u"http://127.0.0.1:"_s + QString::number(port); }
    Answer call(const QByteArray &method, const QString &path, const QByteArray &body = {},
                const QList<std::pair<QByteArray, QByteArray>> &headers = {
                    {"Authorization", "Bearer " + kToken.toLatin1()}})
    {
        QNetworkRequest r(QUrl(base() + path));
        r.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::ManualRedirectPolicy);
        for (const auto &[k, v] : headers)
            r.setRawHeader(k, v);
        if (!body.isEmpty())
            r.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
        QNetworkReply *reply = client.sendCustomRequest(r, method, body);
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000))
            qWarning("no answer from the service");
        Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                 reply->readAll(), reply->rawHeaderPairs()};
        reply->deleteLater();
        return a;
    }
    int storedItems()
    {
        return int(
            db.listItems({}, QDateTime::currentDateTime()).value_or(QList<ItemRecord>{}).size());
    }
};

// What the service answers a raw request (only its status line and body), or "" when it
// closes without a word; the request is written as it is, body or not.
inline QByteArray rawAnswer(quint16 port, const QByteArray &request, int waitMs = 5000)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(3000))
        return "not connected";
    s.write(request);
    QByteArray got;
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired() && s.state() == QAbstractSocket::ConnectedState) {
        QTest::qWait(20);
        got += s.readAll();
    }
    return got + s.readAll();
}

inline QByteArray header(const Answer &a, const QByteArray &name)
{
    for (const auto &[k, v] : a.headers) {
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    }
    return {};
}
