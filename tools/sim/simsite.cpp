#include "simsite.h"

#include <QSslSocket>
#include <QTcpServer>

#include "simpages.h"
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

// A request body as key/value pairs: a JSON object (today's page script) or a form.
QUrlQuery bodyForm(const QByteArray &body)
{
    QUrlQuery q;
    const QJsonDocument d = QJsonDocument::fromJson(body);
    if (d.isObject()) {
        const QJsonObject o = d.object();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QJsonValue v = it.value();
            q.addQueryItem(it.key(), v.isDouble() ? QString::number(v.toDouble(), 'f', 0)
                                                  : v.toVariant().toString());
        }
        return q;
    }
    // Form values come percent-encoded, '+' for a blank.
    QByteArray b = body;
    b.replace('+', ' ');
    for (const QByteArray &pair : b.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq <= 0)
            continue;
        q.addQueryItem(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(eq))),
                       QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(eq + 1))));
    }
    return q;
}

QString field(const QUrlQuery &q, const char *key)
{
    return q.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

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

SimSite::Response SimSite::route(const QString &host, const QString &path, const QUrlQuery &query,
                                 const QString &viewer)
{
    const QDateTime now = m_scenario.now();
    static const QRegularExpression pageHost(QStringLiteral("^page(\\d*)\\.(.+)$"));
    const QRegularExpressionMatch m = pageHost.match(host);
    // Item pages: on their page host, or at the canonical address on the main host.
    if (((m.hasMatch() && m.captured(2) == m_scenario.domain) || host == m_scenario.mainHost) &&
        path.startsWith(QLatin1String("/jp/auction/"))) {
        const QString id = path.mid(int(qstrlen("/jp/auction/")));
        Item *item = m_scenario.item(id);
        if (!item) // the site answers an unknown item with an ordinary page
            return {200, toEucJp(notFoundPage()), {}};
        return {200, toEucJp(itemPage(m_scenario, *item, viewer, now)), {}};
    }
    if (m.hasMatch() && m.captured(2) == m_scenario.domain && path == QLatin1String("/"))
        return {200, toEucJp(QStringLiteral("<HTML><BODY>ヤフオク!</BODY></HTML>")), {}};
    if (m.hasMatch() && m.captured(2) == m_scenario.domain) {
        auto value = [&query](const char *key) {
            return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
        };
        const QString action = m_scenario.scheme + QStringLiteral("://") + host +
                               QStringLiteral("/jp/config/placebid");
        Item *item = m_scenario.item(value("ItemID"));
        if (path == QLatin1String("/jp/show/bid_preview")) {
            const Bidder *bidder = m_scenario.bidder(value("login"));
            if (!bidder || bidder->password != value("passwd"))
                return {200, toEucJp(loginFailedPage()), {}};
            if (!item)
                return {200, toEucJp(notFoundPage()), {}};
            if (item->ended(now))
                return {200, toEucJp(bidPreviewEndedPage(*item)), {}};
            return {200,
                    toEucJp(bidPreviewPage(*item, value("Bid").toInt(), action,
                                           issueToken(bidder->id, item->id))),
                    {}};
        }
        if (path == QLatin1String("/jp/config/placebid")) {
            const Token token = m_tokens.take(value("a"));
            const qint32 amount = value("Bid").toInt();
            const int quantity = qMax(1, value("Quantity").toInt());
            m_confirmations << Confirmation{
                now.toMSecsSinceEpoch(),         value("ItemID"), value("a"), amount, quantity,
                item && token.itemId == item->id};
            if (!item || token.itemId != item->id)
                return {200, toEucJp(loginFailedPage()), {}};
            const BidOutcome outcome = recordBid(*item, token.bidder, amount, quantity);
            return {200,
                    toEucJp(bidAnswerPage(outcome, *item, amount, action,
                                          issueToken(token.bidder, item->id))),
                    {}};
        }
    }
    if (host == m_scenario.userHost && path == QLatin1String("/jp/show/mystatus") &&
        query.queryItemValue(QStringLiteral("select")) == QLatin1String("watchlist")) {
        const Bidder *bidder = m_scenario.bidder(viewer);
        if (!bidder) // no session, or an expired one
            return {200, toEucJp(loginPage(m_scenario)), {}};
        return {200, toEucJp(watchListPage(m_scenario, *bidder)), {}};
    }
    return {404, toEucJp(notFoundPage()), {}};
}

QList<Category> SimSite::categories() const
{
    QList<Category> out;
    QSet<qint64> seen;
    for (const Item &it : m_scenario.items) {
        for (const Category &c : it.trail) {
            if (!seen.contains(c.id)) {
                seen.insert(c.id);
                out << c;
            }
        }
    }
    return out;
}

QString SimSite::cookieDomain() const
{
    const QString login = m_scenario.loginHost;
    const qsizetype dot = login.indexOf(QLatin1Char('.'));
    return dot < 0 ? login : login.mid(dot);
}

namespace {
// The site's keyword rules, roughly: every word must be in the title, "（a　b）" wants
// one of a and b, a word after "－" must not be there.
bool keywordMatches(const QString &title, const QString &keyword)
{
    QString k = keyword;
    k.replace(QChar(0x3000), QLatin1Char(' '));
    const QStringList words = k.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList group;
    bool inGroup = false;
    for (QString w : words) {
        const bool opens = w.startsWith(QStringLiteral("（")) || w.startsWith(QLatin1Char('('));
        const bool closes = w.endsWith(QStringLiteral("）")) || w.endsWith(QLatin1Char(')'));
        if (opens)
            w.remove(0, 1);
        if (closes)
            w.chop(1);
        if (opens || inGroup) {
            group << w;
            inGroup = !closes;
            if (!inGroup) {
                bool any = false;
                for (const QString &g : group)
                    any = any || (!g.isEmpty() && title.contains(g));
                if (!any)
                    return false;
                group.clear();
            }
            continue;
        }
        if (w.startsWith(QStringLiteral("－")) || w.startsWith(QLatin1Char('-'))) {
            if (w.size() > 1 && title.contains(w.mid(1)))
                return false;
            continue;
        }
        if (!title.contains(w))
            return false;
    }
    return true;
}

bool inCategory(const Item &it, qint64 id)
{
    for (const Category &c : it.trail) {
        if (c.id == id)
            return true;
    }
    return false;
}

constexpr int kPerPage = 50;

QList<const Item *> pageOf(const QList<const Item *> &all, int index)
{
    return index < 0 ? QList<const Item *>{} : all.mid(qsizetype(index) * kPerPage, kPerPage);
}
} // namespace

std::optional<SimSite::Response> SimSite::routePages(const QString &host, const QString &path,
                                                     const QUrlQuery &query, const QString &viewer,
                                                     bool post)
{
    const Scenario &s = m_scenario;
    const QDateTime now = s.now();
    auto value = [&query](const char *key) {
        return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
    };
    if (host == s.loginHost && path == QLatin1String("/config/login")) {
        const Bidder *bidder = m_scenario.bidder(value("login"));
        if (!post || !bidder || bidder->password != value("passwd"))
            return Response{200, toEucJp(loginPage(s)), {}};
        const QString session = createSession(bidder->id);
        return Response{200,
                        toEucJp(welcomePage(*bidder)),
                        {"Set-Cookie: " + sessionCookieName().toLatin1() + '=' +
                         session.toLatin1() + "; Domain=" + cookieDomain().toLatin1() +
                         "; Path=/"}};
    }
    if (host == s.userHost && path == QLatin1String("/jp/show/mystatus") &&
        !query.hasQueryItem(QStringLiteral("select"))) {
        const Bidder *bidder = m_scenario.bidder(viewer);
        if (!bidder)
            return Response{200, toEucJp(loginPage(s)), {}};
        return Response{200, toEucJp(statusPage(*bidder)), {}};
    }
    if (host == s.mainHost && path == QLatin1String("/jp/show/searchoptions"))
        return Response{200, toEucJp(searchOptionsPage(categories())), {}};
    if (host == s.mainHost && path == QLatin1String("/"))
        return Response{200, toEucJp(topPage(s)), {}};
    if (host == s.searchHost && path == QLatin1String("/search/auc")) {
        // The keyword arrives as percent-encoded EUC-JP bytes.
        QStringDecoder euc("EUC-JP");
        const QString keyword = euc.decode(QByteArray::fromPercentEncoding(
            query.queryItemValue(QStringLiteral("p"), QUrl::FullyEncoded).toLatin1()));
        const qint64 cat = value("which_cat").toLongLong();
        const qint32 minPrice = value("aucminprice").toInt();
        const qint32 maxPrice = value("aucmaxprice").toInt();
        QList<const Item *> hits;
        for (const Item &it : s.items) {
            if (it.ended(now) || !keywordMatches(it.title, keyword))
                continue;
            if (cat != 0 && !inCategory(it, cat))
                continue;
            if (it.price < minPrice || (maxPrice > 0 && it.price > maxPrice))
                continue;
            hits << &it;
        }
        const int page = query.hasQueryItem(QStringLiteral("apg")) ? value("apg").toInt() : 0;
        return Response{200,
                        toEucJp(resultPage(s, keyword + QStringLiteral("の検索結果"),
                                           int(hits.size()), pageOf(hits, page))),
                        {}};
    }
    static const QRegularExpression listing(QStringLiteral("^/jp/(\\d+)-category(-leaf)?\\.html$"));
    const QRegularExpressionMatch m = listing.match(path);
    if (host == s.listHost && m.hasMatch()) {
        const qint64 id = m.captured(1).toLongLong();
        std::optional<Category> category;
        for (const Category &c : categories()) {
            if (c.id == id)
                category = c;
        }
        if (!category)
            return Response{404, toEucJp(notFoundPage()), {}};
        if (m.captured(2).isEmpty())
            return Response{200, toEucJp(categoryPage(s, *category)), {}};
        QList<const Item *> items;
        for (const Item &it : s.items) {
            if (!it.ended(now) && inCategory(it, id))
                items << &it;
        }
        const int page = value("apg").toInt();
        return Response{
            200,
            toEucJp(resultPage(s, category->name, int(items.size()), pageOf(items, page - 1))),
            {}};
    }
    return std::nullopt;
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

namespace sim {

SimSite::Response SimSite::redirect(const QString &to, QList<QByteArray> headers) const
{
    Response r(302, toUtf8Page(QStringLiteral("<html><body>Found</body></html>")),
               std::move(headers));
    r.extraHeaders << "Location: " + to.toUtf8();
    r.type = "text/html; charset=UTF-8";
    return r;
}

SimSite::Response SimSite::loginRedirect(const Incoming &in) const
{
    // A member page asked by a visitor: the login, returning here.
    const QString here = m_scenario.scheme + QStringLiteral("://") + in.host + in.url.path() +
                         (in.url.hasQuery() ? QLatin1Char('?') + in.url.query() : QString());
    return redirect(m_scenario.scheme + QStringLiteral("://") + m_scenario.loginHost +
                    QStringLiteral("/config/login?.src=auc&.done=") +
                    QString::fromLatin1(QUrl::toPercentEncoding(here)));
}

std::optional<SimSite::Response> SimSite::routeToday(const Incoming &in, const QString &path,
                                                     const QUrlQuery &query)
{
    Scenario &s = m_scenario;
    const QDateTime now = s.now();
    auto page = [](const QString &html, int status = 200) {
        Response r(status, toUtf8Page(html));
        r.type = "text/html; charset=UTF-8";
        return r;
    };
    Viewer viewer;
    viewer.id = in.viewer;
    viewer.crumb = m_crumbs.value(in.session);
    const bool mainHost = in.host == s.mainHost;
    static const QRegularExpression pageHost(QStringLiteral("^page(\\d*)\\.(.+)$"));
    const QRegularExpressionMatch ph = pageHost.match(in.host);
    const bool itemHost = mainHost || (ph.hasMatch() && ph.captured(2) == s.domain);

    if (itemHost && path.startsWith(QLatin1String("/jp/auction/")) && !in.post) {
        const Item *item = s.item(path.mid(int(qstrlen("/jp/auction/"))));
        if (!item)
            return page(todayNotFoundPage(), 404);
        return page(todayItemPage(s, *item, viewer, now));
    }
    if (in.host == s.loginHost && path == QLatin1String("/config/login")) {
        const QUrlQuery form = in.post ? bodyForm(in.body) : query;
        QString done = field(form, ".done");
        const QUrl doneUrl(done);
        if (done.isEmpty() || !doneUrl.host().endsWith(s.domain))
            done = s.scheme + QStringLiteral("://") + s.mainHost + QLatin1Char('/');
        if (!in.post)
            return page(todayLoginIdPage(s, done, QString()));
        const QString step = field(form, "step");
        const Bidder *bidder = s.bidder(field(form, "login").trimmed());
        if (step == QLatin1String("id")) {
            if (!bidder)
                return page(todayLoginIdPage(
                    s, done,
                    QStringLiteral("このIDは登録されていません。入力内容をご確認ください。")));
            if (bidder->password.isEmpty())
                return page(todayLoginCodePage(s, bidder->id, done, QString()));
            return page(todayLoginPasswordPage(s, bidder->id, done, QString()));
        }
        if (!bidder)
            return page(todayLoginIdPage(s, done, QString()));
        const bool byCode = step == QLatin1String("code");
        const bool right =
            byCode ? !bidder->smsCode.isEmpty() && field(form, "code") == bidder->smsCode
                   : !bidder->password.isEmpty() && field(form, "passwd") == bidder->password;
        if (!right)
            return page(
                byCode ? todayLoginCodePage(s, bidder->id, done,
                                            QStringLiteral("確認コードが正しくありません。"))
                       : todayLoginPasswordPage(s, bidder->id, done,
                                                QStringLiteral("パスワードが間違っています。")));
        const QString session = createSession(bidder->id);
        return redirect(done, {"Set-Cookie: " + sessionCookieName().toLatin1() + '=' +
                               session.toLatin1() + "; Domain=" + cookieDomain().toLatin1() +
                               "; Path=/"});
    }
    if (!mainHost)
        return std::nullopt;
    if (path == QLatin1String("/") && !in.post)
        return page(todayTopPage(s, viewer));
    const int pageNo = qMax(1, field(query, "apg").toInt());
    auto memberList = [&](const QString &heading, const QList<const Item *> &all,
                          const QString &base) -> Response {
        const qsizetype from = qsizetype(pageNo - 1) * s.watchPageSize;
        const QString next = from + s.watchPageSize < all.size()
                                 ? base + QStringLiteral("&apg=") + QString::number(pageNo + 1)
                                 : QString();
        return page(todayListPage(s, heading, all.mid(from, s.watchPageSize), next));
    };
    if (path == QLatin1String("/openwatchlist/jp/show/mystatus")) {
        const Bidder *b = s.bidder(viewer.id);
        if (!b)
            return loginRedirect(in);
        QList<const Item *> rows;
        for (const QString &id : b->watchlist) {
            if (const Item *it = s.item(id); it && !it->ended(now))
                rows << it;
        }
        return memberList(
            QStringLiteral("ウォッチリスト"), rows,
            QStringLiteral("/openwatchlist/jp/show/mystatus?select=watchlist&watchclosed=0"));
    }
    if (path == QLatin1String("/openuser/jp/show/mystatus") ||
        path == QLatin1String("/closeduser/jp/show/mystatus")) {
        if (viewer.id.isEmpty())
            return loginRedirect(in);
        const bool won = path.startsWith(QLatin1String("/closeduser"));
        QList<const Item *> rows;
        for (const Item &it : s.items) {
            if (won ? it.winner(now).compare(viewer.id, Qt::CaseInsensitive) == 0
                    : !it.ended(now) && it.maxBids.contains(viewer.id))
                rows << &it;
        }
        return memberList(
            won ? QStringLiteral("落札分") : QStringLiteral("入札中"), rows,
            path + (won ? QStringLiteral("?select=won") : QStringLiteral("?select=bidding")));
    }
    static const QRegularExpression listing(QStringLiteral("^/category/list/(\\d+)/?$"));
    const QRegularExpressionMatch lm = listing.match(path);
    if (path == QLatin1String("/search/search") || lm.hasMatch()) {
        const QString keyword = field(query, "p");
        const qint64 cat =
            lm.hasMatch() ? lm.captured(1).toLongLong() : field(query, "auccat").toLongLong();
        QList<const Item *> hits;
        int buyNow = 0;
        for (const Item &it : s.items) {
            if (it.ended(now) || (!keyword.isEmpty() && !keywordMatches(it.title, keyword)))
                continue;
            if (cat != 0 && !inCategory(it, cat))
                continue;
            hits << &it;
            buyNow += it.buyNow > 0 ? 1 : 0;
        }
        const int offset = qMax(1, field(query, "b").toInt());
        const int n =
            qBound(1, field(query, "n").toInt() > 0 ? field(query, "n").toInt() : 50, 100);
        return page(todayResultPage(s,
                                    lm.hasMatch() ? QStringLiteral("カテゴリ ") + lm.captured(1)
                                                  : keyword + QStringLiteral("の検索結果"),
                                    int(hits.size()), buyNow, hits.mid(offset - 1, n)));
    }
    if (path.startsWith(QLatin1String("/seller/"))) {
        for (const Item &it : s.items) {
            if (todayItemJson(s, it, viewer, now)
                    .value(QStringLiteral("seller"))
                    .toObject()
                    .value(QStringLiteral("aucUserId"))
                    .toString() == path.mid(8))
                return page(todaySellerPage(it));
        }
        return page(todayNotFoundPage(), 404);
    }
    if (in.post && path == todayPreviewPath(s.pageVariant))
        return todayPreview(in, bodyForm(in.body));
    if (in.post && path == todayPlacePath(s.pageVariant))
        return todayPlace(in, bodyForm(in.body));
    return std::nullopt;
}

SimSite::Response SimSite::todayPreview(const Incoming &in, const QUrlQuery &form)
{
    const bool b = m_scenario.pageVariant == QLatin1String("b");
    auto answer = [](const QJsonObject &o) {
        Response r(200, QJsonDocument(o).toJson(QJsonDocument::Compact));
        r.type = "application/json; charset=UTF-8";
        return r;
    };
    auto refuse = [&](const QString &a, const QString &bText) {
        return answer(
            QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("message"), b ? bText : a}});
    };
    const QString id = field(form, b ? "aid" : "auctionId");
    const QString crumb = field(form, b ? "_crumb" : "crumb");
    Item *item = m_scenario.item(id);
    if (in.viewer.isEmpty() || crumb.isEmpty() || crumb != m_crumbs.value(in.session))
        return refuse(QStringLiteral("ログインしてください。"),
                      QStringLiteral("認証エラー（E-401）"));
    if (!item)
        return refuse(QStringLiteral("この商品は存在しません。"),
                      QStringLiteral("対象がありません（E-404）"));
    if (item->ended(m_scenario.now()))
        return refuse(QStringLiteral("このオークションは終了しています。"),
                      QStringLiteral("受付できません（E-410）"));
    bool ok = false;
    const qint64 amount = field(form, b ? "bid" : "price").toLongLong(&ok);
    const int quantity = field(form, b ? "qty" : "quantity").toInt();
    if (!ok || amount <= 0)
        return refuse(QStringLiteral("入札額を入力してください。"),
                      QStringLiteral("入力内容に誤りがあります（E-200）"));
    if (quantity < 1 || quantity > item->quantity)
        return refuse(QStringLiteral("数量を確認してください。"),
                      QStringLiteral("入力内容に誤りがあります（E-201）"));
    if (amount < item->minimumBid())
        return refuse(QStringLiteral("入札額が低すぎます。") + yen(item->minimumBid()) +
                          QStringLiteral("円以上で入札してください。"),
                      QStringLiteral("入力金額が条件を満たしません（E-220）"));
    const QString token = QString::number(QRandomGenerator::global()->generate64(), 16);
    m_previews.insert(
        token, Preview{in.viewer, item->id, qint32(qMin<qint64>(amount, 999999999)), quantity});
    return answer(QJsonObject{{QStringLiteral("ok"), true},
                              {QStringLiteral("price"), double(amount)},
                              {QStringLiteral("quantity"), quantity},
                              {QStringLiteral("title"), item->title},
                              {QStringLiteral("token"), token}});
}

SimSite::Response SimSite::todayPlace(const Incoming &in, const QUrlQuery &form)
{
    const bool b = m_scenario.pageVariant == QLatin1String("b");
    auto answer = [](const QJsonObject &o) {
        Response r(200, QJsonDocument(o).toJson(QJsonDocument::Compact));
        r.type = "application/json; charset=UTF-8";
        return r;
    };
    const QString token = field(form, b ? "t" : "token");
    const QString crumb = field(form, b ? "_crumb" : "crumb");
    const Preview preview = m_previews.take(token);
    const QDateTime now = m_scenario.now();
    m_confirmations << Confirmation{now.toMSecsSinceEpoch(),
                                    field(form, b ? "aid" : "auctionId"),
                                    token,
                                    qint32(field(form, b ? "bid" : "price").toLongLong()),
                                    qMax(1, field(form, b ? "qty" : "quantity").toInt()),
                                    !preview.itemId.isEmpty()};
    Item *item = m_scenario.item(preview.itemId);
    if (!item || preview.bidder != in.viewer || crumb != m_crumbs.value(in.session))
        return answer(QJsonObject{
            {QStringLiteral("result"), QStringLiteral("error")},
            {QStringLiteral("message"),
             b ? QStringLiteral("受付できません（E-409）")
               : QStringLiteral("入札できませんでした。もう一度最初からお試しください。")}});
    const BidOutcome outcome = recordBid(*item, preview.bidder, preview.amount, preview.quantity);
    return answer(QJsonObject{
        {QStringLiteral("result"), int(outcome)},
        {QStringLiteral("message"), todayAnswerText(m_scenario.pageVariant, outcome, *item)}});
}

} // namespace sim
