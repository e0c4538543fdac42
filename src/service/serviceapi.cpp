#include "serviceapi.h"

#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "armedbids.h"
#include "autobid.h"
#include "bidhost.h"
#include "clock.h"
#include "cookiejar.h"
#include "database.h"
#include "itemcapture.h"
#include "itemjson.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "serviceapi_page.h"
#include "servicelogin.h"
#include "settingsstore.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrlQuery>

#include <cmath>

namespace sw {

namespace {
const QByteArray kSessionCookie = "sw_session";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 421:
        return "Misdirected Request";
    case 429:
        return "Too Many Requests";
    case 502:
        return "Bad Gateway";
    default:
        return "Status";
    }
}

QString cookieValue(const QHttpServerRequest &request, const QByteArray &name)
{
    for (const QByteArray &part : request.value("Cookie").split(';')) {
        const QByteArray kv = part.trimmed();
        const qsizetype eq = kv.indexOf('=');
        if (eq > 0 && kv.left(eq) == name)
            return QString::fromLatin1(kv.mid(eq + 1));
    }
    return {};
}

} // namespace

ServiceApi::ServiceApi(BidHost &host, ServiceGate &gate, ServiceLogin *login, bool tls,
                       QObject *parent)
    : QAbstractHttpServer(parent), m_host(host), m_gate(gate), m_login(login), m_tls(tls)
{
    AppContext &ctx = host.context();
    m_fetcher = new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this);
    configureFetcher(*m_fetcher, ctx.settings, false, ctx.prompter);
}

ServiceApi::~ServiceApi() = default;

quint16 ServiceApi::listenGuarded(const QHostAddress &address, quint16 port,
                                  const std::optional<QSslConfiguration> &tls,
                                  ConnectionLimits limits)
{
    limits.maxBody = kMaxBody;
    ActivityLog &log = m_host.context().log;
    m_guard = new ConnectionGuard(
        limits, tls.has_value(),
        [this](const QByteArray &host) { return m_gate.hostAllowed(host); },
        [&log](const QString &line) { log.LOGTodb(line); }, this);
    return m_guard->listen(*this, address, port, tls);
}

ServiceApi::Answer ServiceApi::json(int status, const QJsonValue &value)
{
    Answer a;
    a.status = status;
    a.body = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                             : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    return a;
}

ServiceApi::Answer ServiceApi::error(int status, const QString &why)
{
    return json(status, QJsonObject{{QStringLiteral("error"), why}});
}

void ServiceApi::send(QTcpSocket *socket, const Answer &a)
{
    if (!socket)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(a.status) + ' ' + reasonPhrase(a.status) +
                     "\r\nContent-Type: " + a.type +
                     "\r\nContent-Length: " + QByteArray::number(a.body.size()) +
                     "\r\nConnection: close"
                     "\r\nCache-Control: no-store"
                     "\r\nX-Content-Type-Options: nosniff"
                     "\r\nX-Frame-Options: DENY"
                     "\r\nReferrer-Policy: no-referrer\r\n";
    for (const QByteArray &h : a.headers)
        out += h + "\r\n";
    out += "\r\n" + a.body;
    socket->write(out);
    // One request a connection: the guard looks at each head before its body is read.
    socket->disconnectFromHost();
}

void ServiceApi::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    send(socket, error(404, QStringLiteral("そのページはありません。")));
}

bool ServiceApi::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    AppContext &ctx = m_host.context();
    const qint64 now = siteClock().monoMs();
    const QString peer = socket->peerAddress().toString();
    // A name that points here but is not ours: another site's page trying its luck.
    if (!m_gate.hostAllowed(request.value("Host"))) {
        send(socket, error(421, QStringLiteral("このホスト名では受け付けません。")));
        return true;
    }
    if (request.body().size() > kMaxBody) {
        send(socket, error(413, QStringLiteral("送られたデータが大きすぎます。")));
        return true;
    }
    // A right token always passes; only a wrong one that was presented counts toward the
    // wait, and only then is the wait applied (a missing or stale cookie is no guess).
    const auto refusedForNow = [&]() -> bool {
        const qint64 wait = m_gate.waitFor(peer, now);
        if (wait <= 0)
            return false;
        Answer a =
            error(429, QStringLiteral("アクセストークンの間違いが続いたので、しばらく受け付け"
                                      "ません。"));
        a.headers << "Retry-After: " + QByteArray::number((wait + 999) / 1000);
        send(socket, a);
        return true;
    };
    auto wrongToken = [&] {
        if (m_gate.failed(peer, now))
            ctx.log.LOGTodb(
                QStringLiteral("入札サービス：アクセストークンの間違いが続いています（") + peer +
                QStringLiteral("）。しばらく受け付けません"));
    };
    const QString path = request.url().path();
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const QByteArray authorization = request.value("Authorization");
    QString csrf;
    bool in = false;
    if (authorization.startsWith("Bearer ")) {
        in = m_gate.tokenMatches(QString::fromLatin1(authorization.mid(7).trimmed()));
        if (!in) {
            if (refusedForNow())
                return true;
            wrongToken();
            send(socket, error(401, QStringLiteral("アクセストークンが違います。")));
            return true;
        }
    } else if (const auto s = m_gate.session(cookieValue(request, kSessionCookie), now)) {
        // The page: every change it asks for carries its session's CSRF token.
        if (!get && !sameSecret(QString::fromLatin1(request.value("X-CSRF-Token")), s->csrf)) {
            send(socket,
                 error(403, QStringLiteral("この操作は入札サービスの画面からしか行えません。")));
            return true;
        }
        in = true;
        csrf = s->csrf;
    } else if (path == QLatin1String("/") || path == QLatin1String("/session")) {
        // The page takes the token once: from its address, or from its form.
        const QString given = get ? QUrlQuery(request.url()).queryItemValue(QStringLiteral("token"))
                                  : QUrlQuery(QString::fromLatin1(request.body()))
                                        .queryItemValue(QStringLiteral("token"));
        if (given.isEmpty()) {
            send(socket, tokenForm(QString()));
            return true;
        }
        if (!m_gate.tokenMatches(given)) {
            if (refusedForNow())
                return true;
            wrongToken();
            Answer a = tokenForm(QStringLiteral("アクセストークンが違います。"));
            a.status = 401;
            send(socket, a);
            return true;
        }
        m_gate.succeeded(peer);
        const ServiceGate::Session s = m_gate.openSession(now);
        Answer a;
        a.status = 303;
        a.type = "text/plain; charset=utf-8";
        a.headers << "Location: /"
                  << "Set-Cookie: " + kSessionCookie + '=' + s.id.toLatin1() +
                         "; Path=/; HttpOnly; SameSite=Strict" + (m_tls ? "; Secure" : "");
        send(socket, a);
        return true;
    }
    if (!in) {
        send(socket, error(401, QStringLiteral("アクセストークンが必要です。")));
        return true;
    }
    m_gate.succeeded(peer);
    if (const std::optional<Answer> a = route(request, socket, csrf))
        send(socket, *a);
    return true;
}

std::optional<ServiceApi::Answer> ServiceApi::route(const QHttpServerRequest &request,
                                                    QTcpSocket *socket, const QString &csrf)
{
    using M = QHttpServerRequest::Method;
    const M method = request.method();
    const QString path = request.url().path();
    static const QRegularExpression one(
        QStringLiteral("\\A/api/items/([A-Za-z0-9]{1,32})(/log)?\\z"));
    if (path == QLatin1String("/") && method == M::Get)
        return page(csrf);
    if (path == QLatin1String("/api/status") && method == M::Get)
        return json(200, status());
    if (path == QLatin1String("/api/items")) {
        if (method == M::Get)
            return items();
        if (method == M::Post) {
            addItem(request.body(), QPointer<QTcpSocket>(socket));
            return std::nullopt;
        }
        return error(405, QStringLiteral("その操作はできません。"));
    }
    if (path == QLatin1String("/api/overview/clear") && method == M::Post) {
        m_host.bids().dismissFinished();
        return items();
    }
    const bool loginStart = path == QLatin1String("/api/login");
    if ((loginStart || path == QLatin1String("/api/login/answer")) && method == M::Post) {
        // The page's login form, and its answer to the site's question (an SMS code).
        if (!m_login)
            return error(409, QStringLiteral("この入札サービスはログインできません。"));
        QString why;
        const std::optional<QJsonObject> o = jsonObjectOf(request.body(), &why);
        if (!o)
            return error(400, why);
        if (loginStart && !m_login->start(o->value(QStringLiteral("id")).toString(),
                                          o->value(QStringLiteral("password")).toString(), &why))
            return error(400, why);
        if (!loginStart && !m_login->answer(o->value(QStringLiteral("answer")).toString(), &why))
            return error(409, why);
        return json(202, QJsonObject{{QStringLiteral("login"), m_login->stateText()}});
    }
    const QRegularExpressionMatch m = one.match(path);
    if (!m.hasMatch())
        return error(404, QStringLiteral("そのページはありません。"));
    const QString itemid = m.captured(1);
    if (!m.captured(2).isEmpty())
        return method == M::Get ? itemLog(itemid)
                                : error(405, QStringLiteral("その操作はできません。"));
    if (method == M::Patch)
        return changeItem(itemid, request.body());
    if (method == M::Delete)
        return deleteItem(itemid);
    if (method == M::Get) {
        const std::optional<int> id = idOf(itemid);
        if (!id)
            return error(404, QStringLiteral("その商品はありません：") + itemid);
        const std::optional<ItemRecord> r = m_host.context().db.itemById(*id);
        return json(200, itemJson(*r, m_host.bids().find(*id)));
    }
    return error(405, QStringLiteral("その操作はできません。"));
}

QJsonObject ServiceApi::status() const
{
    AppContext &ctx = m_host.context();
    const SiteClock &clock = siteClock();
    QJsonObject next;
    const QList<ItemRecord> pending = m_host.pendingBids();
    if (!pending.isEmpty()) {
        const ItemRecord &r = pending.first();
        next = QJsonObject{
            {QStringLiteral("itemid"), r.itemid},
            {QStringLiteral("name"), r.Itemname},
            {QStringLiteral("bidTime"), isoSiteTime(r.enddate.addSecs(-ctx.values.befSec))}};
    }
    return QJsonObject{
        {QStringLiteral("version"), QStringLiteral(SNIPEWELL_VERSION)},
        {QStringLiteral("clockOffsetMs"),
         clock.offsetMs() ? QJsonValue(double(*clock.offsetMs())) : QJsonValue()},
        {QStringLiteral("clockText"),
         clock.offsetMs() ? QStringLiteral("サイトの時計との差：") +
                                QString::number(double(*clock.offsetMs()) / 1000.0, 'f', 1) +
                                QStringLiteral("秒")
                          : QStringLiteral("サイトの時計との差：未測定")},
        {QStringLiteral("userId"), ctx.values.ownId},
        {QStringLiteral("loggedIn"),
         m_login && m_login->state() == ServiceLogin::State::LoggedIn    ? QJsonValue(true)
         : m_login && m_login->state() == ServiceLogin::State::LoggedOut ? QJsonValue(false)
                                                                         : QJsonValue()},
        {QStringLiteral("login"), m_login ? m_login->stateText() : QString()},
        {QStringLiteral("loginQuestion"),
         m_login && m_login->state() == ServiceLogin::State::Asking
             ? QJsonValue(QJsonObject{{QStringLiteral("kind"), m_login->questionKind()},
                                      {QStringLiteral("text"), m_login->question()}})
             : QJsonValue()},
        {QStringLiteral("pending"), int(pending.size())},
        {QStringLiteral("nextBid"), next.isEmpty() ? QJsonValue() : QJsonValue(next)},
    };
}

ServiceApi::Answer ServiceApi::page(const QString &csrf) const
{
    Answer a;
    a.type = "text/html; charset=utf-8";
    a.body = servicePageHtml(csrf);
    a.headers << "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
                 "style-src 'unsafe-inline'; connect-src 'self'; form-action 'self'; "
                 "frame-ancestors 'none'; base-uri 'none'";
    return a;
}

ServiceApi::Answer ServiceApi::tokenForm(const QString &why) const
{
    Answer a;
    a.type = "text/html; charset=utf-8";
    a.body = serviceTokenFormHtml(why);
    a.headers << "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; "
                 "form-action 'self'; frame-ancestors 'none'";
    return a;
}

} // namespace sw
