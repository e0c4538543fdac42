#pragma once

#include "simscenario.h"

#include <QAbstractHttpServer>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrlQuery>

#include <optional>

class QTcpSocket;

namespace sim {

// One request as the site saw it.
struct RequestRecord
{
    qint64 atMs = 0; // arrival by the site's clock, milliseconds since the epoch
    QString method;
    QString host;
    QString path;
    QString query;     // password values masked
    int status = 0;    // what it answered; 0 when it answered nothing
    QString fault;     // the fault applied, if any
    QString item;      // the auction it concerns (its page, its bid pages), if any
    int perSecond = 0; // requests for that item in the second up to this one
};

// The simulated auction site: an HTTP server on loopback that also answers proxy-style
// requests ("GET http://page3.<domain>/jp/auction/x1"), so the program reaches it through
// its proxy setting with the real host names unchanged. Pages are EUC-JP.
class SimSite : public QAbstractHttpServer
{
    Q_OBJECT
public:
    explicit SimSite(Scenario scenario, QObject *parent = nullptr);
    ~SimSite() override;

    // Listens on the address; port 0 picks a free one. Returns the port, 0 on failure.
    quint16 listenOn(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Also serves https: a client that reaches the site through it as a proxy asks for a
    // tunnel (CONNECT page.<domain>:443) and speaks TLS inside it, as to the real site.
    void enableTls(const QSslCertificate &certificate, const QSslKey &key);
    // How many tunnels were opened and how many of them completed the TLS handshake.
    int tunnelsOpened() const { return m_tunnelsOpened; }
    int tunnelsEncrypted() const { return m_tunnelsEncrypted; }
    quint16 port() const { return m_port; }

    // Appends one JSON line per request to the file.
    bool setLogFile(const QString &path);
    const QList<RequestRecord> &requests() const { return m_requests; }
    QList<RequestRecord> requestsTo(const QString &pathPrefix) const;
    // The most requests the item got within one second.
    int maxPerSecond(const QString &itemId) const;

    void addFault(const Fault &fault) { m_scenario.faults << fault; }
    void clearFaults() { m_scenario.faults.clear(); }

    Scenario &scenario() { return m_scenario; }
    // Plays another scenario from now on: sessions, forms, the bids it took and pending
    // rival bids of the previous one are forgotten (the request log is kept).
    void setScenario(Scenario scenario);
    // A logged-in session for the bidder; the value of the session cookie.
    QString createSession(const QString &bidderId);
    void expireSessions() { m_sessions.clear(); }
    static QString sessionCookieName() { return QStringLiteral("SWSESSION"); }

    static QString maskQuery(const QString &query);

    // Every bid the site received, in order, scripted rivals included.
    struct BidRecord
    {
        qint64 atMs = 0;
        QString itemId;
        QString bidder;
        qint32 amount = 0;
        BidOutcome outcome = BidOutcome::Accepted;
        int quantity = 1;
    };
    const QList<BidRecord> &bids() const { return m_bids; }
    // Every request that asked to place a bid (a classic confirmation, today's page's final
    // request), as it arrived, with its one-use token: a token seen twice is a bid sent twice.
    struct Confirmation
    {
        qint64 atMs = 0;
        QString itemId;
        QString token;
        qint32 amount = 0;
        int quantity = 1;
        bool used = false; // the token was still good, so the bid was taken
    };
    const QList<Confirmation> &confirmations() const { return m_confirmations; }
    // The crumb of a bidder's session (today's pages carry it).
    QString crumbOf(const QString &session) const { return m_crumbs.value(session); }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Response
    {
        Response(int s = 200, QByteArray b = {}, QList<QByteArray> extra = {})
            : status(s), body(std::move(b)), extraHeaders(std::move(extra))
        {}
        int status;
        QByteArray body;
        QList<QByteArray> extraHeaders;
        QByteArray date; // the Date header: the site's clock when the answer was made
        QByteArray type = "text/html; charset=EUC-JP";
    };
    // What the site keeps of a request until it answers it.
    struct Incoming
    {
        QUrl url;
        QString host;
        QByteArray body;
        QString viewer;
        QString session; // the session cookie's value, when one came
        bool post = false;
        bool head = false;
    };
    void answer(const Incoming &in, const std::optional<Fault> &fault, QTcpSocket *socket);
    static QByteArray httpDate(const QDateTime &t);
    Response route(const QString &host, const QString &path, const QUrlQuery &query,
                   const QString &viewer);
    // Login, the member and top pages, search results, category listings and options.
    std::optional<Response> routePages(const QString &host, const QString &path,
                                       const QUrlQuery &query, const QString &viewer, bool post);
    // Every category of the items' trails, in order of first appearance.
    QList<Category> categories() const;
    // The domain the session cookie is set for: what the login host and the auction
    // hosts share.
    QString cookieDomain() const;
    Fault *matchFault(const QString &host, const QString &path, bool noCache);
    QString viewerOf(const QHttpServerRequest &request) const;
    QString sessionOf(const QHttpServerRequest &request) const;
    // Today's site: item pages, the two-step login, member lists, search, and the item
    // page's own bid requests. nullopt: not one of today's addresses.
    std::optional<Response> routeToday(const Incoming &in, const QString &path,
                                       const QUrlQuery &query);
    // What the page's script gets back: a JSON object.
    static Response jsonAnswer(const QJsonObject &o);
    Response todayPreview(const Incoming &in, const QUrlQuery &form);
    Response todayPlace(const Incoming &in, const QUrlQuery &form);
    Response redirect(const QString &to, QList<QByteArray> headers = {}) const;
    Response loginRedirect(const Incoming &in) const;
    void write(QTcpSocket *socket, const Response &r, bool headOnly);
    void log(const RequestRecord &r);

    friend class Listener;
    class Listener;
    Scenario m_scenario;
    quint16 m_port = 0;
    QSslCertificate m_certificate;
    QSslKey m_key;
    int m_tunnelsOpened = 0;
    int m_tunnelsEncrypted = 0;
    QList<RequestRecord> m_requests;
    void scheduleRivals();
    BidOutcome recordBid(Item &item, const QString &bidder, qint32 amount, int quantity = 1);
    QString issueToken(const QString &bidder, const QString &itemId);

    struct Token
    {
        QString bidder;
        QString itemId;
    };
    QHash<QString, QString> m_sessions; // cookie value -> bidder id
    QHash<QString, Token> m_tokens;     // the "a" value of a bid form -> who may use it
    QHash<QString, QString> m_crumbs;   // session -> its crumb
    struct Preview
    {
        QString bidder;
        QString itemId;
        qint32 amount = 0;
        int quantity = 1;
    };
    QHash<QString, Preview> m_previews; // today's preview token -> what it previewed
    QList<BidRecord> m_bids;
    QList<Confirmation> m_confirmations;
    int m_generation = 0; // which scenario a scheduled rival bid belongs to
    QFile m_logFile;
};

} // namespace sim
