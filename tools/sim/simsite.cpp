#include "simsite.h"

#include <QSslSocket>
#include <QTcpServer>

#include "simpages.h"
#include "simrequest.h"
#include "todaypages.h"

#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkCookie>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>

namespace sim {

namespace {

// "*" any text (slashes included), "?" one character.
bool wildcardMatch(const QString &pattern, const QString &text)
{
    QString re;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('*'))
            re += QStringLiteral(".*");
        else if (c == QLatin1Char('?'))
            re += QLatin1Char('.');
        else
            re += QRegularExpression::escape(QString(c));
    }
    return QRegularExpression(QStringLiteral("\\A") + re + QStringLiteral("\\z"))
        .match(text)
        .hasMatch();
}

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

SimSite::SimSite(Scenario scenario, QObject *parent)
    : QAbstractHttpServer(parent), m_scenario(std::move(scenario))
{
    scheduleRivals();
}

void SimSite::setScenario(Scenario scenario)
{
    m_scenario = std::move(scenario);
    m_sessions.clear();
    m_tokens.clear();
    m_previews.clear();
    m_bids.clear();
    m_confirmations.clear();
    ++m_generation;
    scheduleRivals();
}

void SimSite::scheduleRivals()
{
    const QDateTime now = m_scenario.now();
    const int generation = m_generation;
    for (const Item &item : std::as_const(m_scenario.items)) {
        // The seller ends the auction early (with a bidder: the highest one wins at once),
        // or cancels it.
        const QString itemId = item.id;
        if (item.endEarlyAt >= 0) {
            const QDateTime at = m_scenario.start.addMSecs(qint64(item.endEarlyAt * 1000));
            QTimer::singleShot(qMax<qint64>(0, now.msecsTo(at)), Qt::PreciseTimer, this,
                               [this, itemId, generation] {
                                   Item *it = m_scenario.item(itemId);
                                   if (generation == m_generation && it && it->bids > 0 &&
                                       !it->ended(m_scenario.now()))
                                       it->end = m_scenario.now();
                               });
        }
        if (item.cancelAt >= 0) {
            const QDateTime at = m_scenario.start.addMSecs(qint64(item.cancelAt * 1000));
            QTimer::singleShot(qMax<qint64>(0, now.msecsTo(at)), Qt::PreciseTimer, this,
                               [this, itemId, generation] {
                                   if (Item *it = m_scenario.item(itemId);
                                       generation == m_generation && it)
                                       it->cancelled = true;
                               });
        }
        for (const RivalBid &r : item.rivals) {
            const QDateTime at = r.at >= 0 ? m_scenario.start.addMSecs(qint64(r.at * 1000))
                                           : item.end.addMSecs(-qint64(r.beforeEnd * 1000));
            const QString id = item.id;
            QTimer::singleShot(qMax<qint64>(0, now.msecsTo(at)), Qt::PreciseTimer, this,
                               [this, id, r, generation] {
                                   if (generation != m_generation)
                                       return;
                                   if (Item *it = m_scenario.item(id))
                                       recordBid(*it, r.bidder, r.max);
                               });
        }
    }
}

BidOutcome SimSite::recordBid(Item &item, const QString &bidder, qint32 amount, int quantity)
{
    const QDateTime now = m_scenario.now();
    const BidOutcome outcome = item.bid(bidder, amount, now, quantity);
    m_bids << BidRecord{now.toMSecsSinceEpoch(), item.id, bidder, amount, outcome, quantity};
    return outcome;
}

QString SimSite::issueToken(const QString &bidder, const QString &itemId)
{
    const QString token = QString::number(QRandomGenerator::global()->generate64(), 16);
    m_tokens.insert(token, {bidder, itemId});
    return token;
}

SimSite::~SimSite() = default;

// Takes every connection of the site. Plain ones go to the HTTP server as they come. With
// TLS on, a connection that opens with CONNECT gets "200" and a TLS handshake, and what it
// carries afterwards goes to the HTTP server decrypted; the host it names is the Host header.
class SimSite::Listener : public QTcpServer
{
public:
    explicit Listener(SimSite &site) : QTcpServer(&site), m_site(site) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_site.m_certificate.isNull()) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        connect(socket, &QSslSocket::readyRead, this, [this, socket] { opening(socket); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void opening(QSslSocket *socket)
    {
        if (socket->property("sw_handed").toBool())
            return;
        const QByteArray head = socket->peek(8);
        if (!head.startsWith("CONNECT ")) {
            if (head.size() < 8 && QByteArrayLiteral("CONNECT ").startsWith(head))
                return; // not enough to tell yet
            handOver(socket);
            return;
        }
        const QByteArray seen = socket->peek(8192);
        const qsizetype end = seen.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        socket->read(end + 4);
        socket->setProperty("sw_handed", true);
        ++m_site.m_tunnelsOpened;
        socket->write("HTTP/1.1 200 Connection established\r\n\r\n");
        socket->setLocalCertificate(m_site.m_certificate);
        socket->setPrivateKey(m_site.m_key);
        connect(socket, &QSslSocket::encrypted, this, [this, socket] {
            ++m_site.m_tunnelsEncrypted;
            handOver(socket);
        });
        socket->startServerEncryption();
    }
    void handOver(QSslSocket *socket)
    {
        socket->setProperty("sw_handed", true);
        disconnect(socket, &QSslSocket::readyRead, this, nullptr);
        addPendingConnection(socket);
        emit newConnection();
        // What came already is read once the server listens to the socket.
        if (socket->bytesAvailable() > 0)
            QMetaObject::invokeMethod(
                socket, [socket] { emit socket->readyRead(); }, Qt::QueuedConnection);
    }
    SimSite &m_site;
};

quint16 SimSite::listenOn(const QHostAddress &address, quint16 port)
{
    auto *listener = new Listener(*this);
    if (!listener->listen(address, port)) {
        delete listener;
        return 0;
    }
    bind(listener);
    m_port = listener->serverPort();
    return m_port;
}

void SimSite::enableTls(const QSslCertificate &certificate, const QSslKey &key)
{
    m_certificate = certificate;
    m_key = key;
}

bool SimSite::setLogFile(const QString &path)
{
    m_logFile.setFileName(path);
    return m_logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

QList<RequestRecord> SimSite::requestsTo(const QString &pathPrefix) const
{
    QList<RequestRecord> out;
    for (const RequestRecord &r : m_requests) {
        if (r.path.startsWith(pathPrefix))
            out << r;
    }
    return out;
}

QString SimSite::createSession(const QString &bidderId)
{
    const QString value = QString::number(QRandomGenerator::global()->generate64(), 16);
    m_sessions.insert(value, bidderId);
    m_crumbs.insert(value, QString::number(QRandomGenerator::global()->generate64(), 36));
    return value;
}

QString SimSite::maskQuery(const QString &query)
{
    static const QRegularExpression re(QStringLiteral("((?:^|&)(?:passwd|password|pass)=)[^&]*"),
                                       QRegularExpression::CaseInsensitiveOption);
    QString q = query;
    return q.replace(re, QStringLiteral("\\1****"));
}

QString SimSite::viewerOf(const QHttpServerRequest &request) const
{
    return m_sessions.value(sessionOf(request));
}

QString SimSite::sessionOf(const QHttpServerRequest &request) const
{
    for (const auto &[name, value] : request.headers()) {
        if (name.compare("Cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray &part : value.split(';')) {
            const QByteArray kv = part.trimmed();
            const qsizetype eq = kv.indexOf('=');
            if (eq > 0 && kv.left(eq) == sessionCookieName().toLatin1() &&
                m_sessions.contains(QString::fromLatin1(kv.mid(eq + 1))))
                return QString::fromLatin1(kv.mid(eq + 1));
        }
    }
    return {};
}

Fault *SimSite::matchFault(const QString &host, const QString &path, bool noCache)
{
    for (Fault &f : m_scenario.faults) {
        if (f.count == 0 || (noCache && f.kind == Fault::Stale))
            continue;
        if (wildcardMatch(f.host, host) && wildcardMatch(f.path, path)) {
            if (f.count > 0)
                --f.count;
            return &f;
        }
    }
    return nullptr;
}

QString SimSite::cookieDomain() const
{
    const QString login = m_scenario.loginHost;
    const qsizetype dot = login.indexOf(QLatin1Char('.'));
    return dot < 0 ? login : login.mid(dot);
}

QByteArray SimSite::httpDate(const QDateTime &t)
{
    return QLocale::c()
        .toString(t.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"))
        .toLatin1();
}

void SimSite::write(QTcpSocket *socket, const Response &r, bool headOnly)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reason(r.status) + "\r\n";
    if (!r.date.isEmpty())
        out += "Date: " + r.date + "\r\n";
    out += "Content-Type: " + r.type + "\r\n";
    out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    for (const QByteArray &h : r.extraHeaders)
        out += h + "\r\n";
    out += "\r\n";
    if (!headOnly)
        out += r.body;
    socket->write(out);
}

int SimSite::maxPerSecond(const QString &itemId) const
{
    int most = 0;
    for (const RequestRecord &r : m_requests) {
        if (r.item == itemId)
            most = qMax(most, r.perSecond);
    }
    return most;
}

void SimSite::log(const RequestRecord &entry)
{
    RequestRecord r = entry;
    if (!r.item.isEmpty()) {
        // Requests for the same item in the second up to this one, this one included.
        r.perSecond = 1;
        for (auto it = m_requests.crbegin(); it != m_requests.crend(); ++it) {
            if (r.atMs - it->atMs >= 1000)
                break;
            if (it->item == r.item)
                ++r.perSecond;
        }
    }
    m_requests << r;
    if (!m_logFile.isOpen())
        return;
    QJsonObject o{{QStringLiteral("t"), double(r.atMs)}, {QStringLiteral("method"), r.method},
                  {QStringLiteral("host"), r.host},      {QStringLiteral("path"), r.path},
                  {QStringLiteral("query"), r.query},    {QStringLiteral("status"), r.status}};
    if (!r.item.isEmpty()) {
        o.insert(QStringLiteral("item"), r.item);
        o.insert(QStringLiteral("perSecond"), r.perSecond);
    }
    if (!r.fault.isEmpty())
        o.insert(QStringLiteral("fault"), r.fault);
    m_logFile.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    m_logFile.flush();
}

bool SimSite::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    Incoming in;
    const QUrl url = request.url();
    in.url = url;
    in.host = url.host();
    if (in.host.isEmpty() || in.host == QLatin1String("127.0.0.1") ||
        in.host == QLatin1String("localhost")) {
        // A direct request names the site in its Host header.
        const QByteArray h = request.value("Host");
        in.host = QString::fromLatin1(h.left(h.indexOf(':') < 0 ? h.size() : h.indexOf(':')));
    }
    in.post = request.method() == QHttpServerRequest::Method::Post;
    in.head = request.method() == QHttpServerRequest::Method::Head;
    in.body = request.body();
    in.session = sessionOf(request);
    in.viewer = m_sessions.value(in.session);
    // A cache in front forwards what asks it not to answer from its store.
    const bool noCache = request.value("Cache-Control").contains("no-cache") ||
                         request.value("Pragma").contains("no-cache");
    Fault *fault = matchFault(in.host, url.path(), noCache);
    const std::optional<Fault> f = fault ? std::optional<Fault>(*fault) : std::nullopt;
    QPointer<QTcpSocket> sock(socket);
    if (f && f->kind == Fault::Latency && f->inMs > 0) {
        // On its way: the site sees the request (and its clock reads) only later.
        QTimer::singleShot(f->inMs, Qt::PreciseTimer, this, [this, in, f, sock] {
            if (sock)
                answer(in, f, sock);
        });
        return true;
    }
    answer(in, f, socket);
    return true;
}

void SimSite::answer(const Incoming &in, const std::optional<Fault> &fault, QTcpSocket *socket)
{
    RequestRecord rec;
    const QDateTime now = m_scenario.now();
    rec.atMs = now.toMSecsSinceEpoch();
    rec.host = in.host;
    rec.path = in.url.path();
    rec.query = maskQuery(in.url.query(QUrl::FullyEncoded));
    rec.item = QUrlQuery(in.url).queryItemValue(QStringLiteral("ItemID"));
    if (rec.item.isEmpty() && rec.path.startsWith(QLatin1String("/jp/auction/")))
        rec.item = rec.path.mid(int(qstrlen("/jp/auction/")));
    rec.method = in.post   ? QStringLiteral("POST")
                 : in.head ? QStringLiteral("HEAD")
                           : QStringLiteral("GET");
    const QUrlQuery query(in.post ? QString::fromLatin1(in.body) : in.url.query());
    if (in.post)
        rec.query = maskQuery(QString::fromLatin1(in.body));
    // A request refused before the site looks at it changes nothing there: a bid sent
    // this way is not recorded.
    const bool refusedFirst = fault && fault->beforeProcessing && fault->kind != Fault::Latency &&
                              fault->kind != Fault::Stale;
    Response response;
    if (!refusedFirst && m_scenario.today) {
        const std::optional<Response> page = routeToday(in, rec.path, QUrlQuery(in.url));
        response = page ? *page : Response(404, toUtf8Page(todayNotFoundPage()));
        if (!page)
            response.type = "text/html; charset=UTF-8";
        if (rec.item.isEmpty() && in.post) { // the page's own bid requests name it in their body
            const QUrlQuery form = bodyForm(in.body);
            rec.item = form.hasQueryItem(QStringLiteral("aid"))
                           ? form.queryItemValue(QStringLiteral("aid"))
                           : form.queryItemValue(QStringLiteral("auctionId"));
        }
    } else if (!refusedFirst) {
        const std::optional<Response> page =
            routePages(rec.host, rec.path, query, in.viewer, in.post);
        response = page ? *page : route(rec.host, rec.path, QUrlQuery(in.url), in.viewer);
    }
    response.date = httpDate(now); // when the answer was made, as a server stamps it
    QPointer<QTcpSocket> sock(socket);
    if (!fault) {
        rec.status = response.status;
        log(rec);
        write(socket, response, in.head);
        return;
    }
    rec.fault = Fault::name(fault->kind);
    switch (fault->kind) {
    case Fault::Latency:
        rec.status = response.status;
        log(rec);
        QTimer::singleShot(fault->ms, Qt::PreciseTimer, this, [this, sock, response, in] {
            if (sock)
                write(sock, response, in.head);
        });
        break;
    case Fault::OneByte: {
        rec.status = 200;
        log(rec);
        Response shortAnswer(200, QByteArray("x"));
        shortAnswer.date = response.date;
        write(socket, shortAnswer, in.head);
        break;
    }
    case Fault::Drop:
        log(rec);
        socket->abort();
        break;
    case Fault::Stall:
        log(rec); // never answered; the client gives up
        break;
    case Fault::Http500:
    case Fault::Http503: {
        const bool server = fault->kind == Fault::Http500;
        rec.status = server ? 500 : 503;
        log(rec);
        Response error(
            rec.status,
            toEucJp(server ? QStringLiteral("<HTML><BODY>サーバーエラー</BODY></HTML>")
                           : QStringLiteral("<HTML><BODY>Service Unavailable</BODY></HTML>")));
        error.date = response.date;
        write(socket, error, in.head);
        break;
    }
    case Fault::Stale: {
        // A cache in front of the host: the answer it kept, stamped when it was made.
        rec.status = response.status;
        log(rec);
        Response kept = response;
        kept.date = httpDate(now.addMSecs(-fault->ms));
        kept.extraHeaders << "Age: " + QByteArray::number(fault->ms / 1000);
        write(socket, kept, in.head);
        break;
    }
    case Fault::LoginPage:
    case Fault::ErrorPage: {
        rec.status = 200;
        log(rec);
        Response instead(
            200, toEucJp(fault->kind == Fault::LoginPage ? loginPage(m_scenario) : busyPage()));
        instead.date = response.date;
        write(socket, instead, in.head);
        break;
    }
    }
}

void SimSite::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    Response r(404, toEucJp(notFoundPage()));
    r.date = httpDate(m_scenario.now());
    write(socket, r, false);
}

} // namespace sim
