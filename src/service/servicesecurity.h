#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

namespace sw {

// Where the service listens: "host:port" ("[::1]:port" for IPv6).
struct ListenAddress
{
    QHostAddress address;
    quint16 port = 0;
    QString hostText; // as the user wrote it
    bool loopback() const { return address.isLoopback(); }
};

constexpr quint16 kDefaultServicePort = 8750;

// nullopt, and why, when the value is not an address and port the service can listen on.
std::optional<ListenAddress> parseListen(const QString &value, QString *why);

// A new access token: 32 random bytes from the system's generator, as hex.
QString makeToken();
// The token kept in the data folder (0600), made at the first start; empty, and why, when
// it can be neither read nor written.
QString loadOrMakeToken(const QString &file, QString *why);
// Compares without stopping at the first difference.
bool sameSecret(const QString &a, const QString &b);

// What guards every request: the Host it names (no other site's page may reach the service
// through a name that points here), wrong tokens slowed down per address, and the page's
// sessions with their CSRF tokens.
class ServiceGate
{
public:
    ServiceGate(QString token, QStringList hostNames);

    // The Host header names the listening address or a configured name.
    bool hostAllowed(const QByteArray &hostHeader) const;
    bool tokenMatches(const QString &candidate) const { return sameSecret(candidate, m_token); }

    // How long (ms) this address must wait before it may try again; 0 when it may now.
    qint64 waitFor(const QString &peer, qint64 nowMs) const;
    // A wrong token from the address: true when that starts a wait (worth a log line).
    bool failed(const QString &peer, qint64 nowMs);
    void succeeded(const QString &peer) { m_failures.remove(peer); }

    // A session of the page: its id (the cookie) and its CSRF token.
    struct Session
    {
        QString id;
        QString csrf;
        qint64 lastUsedMs = 0;
    };
    Session openSession(qint64 nowMs);
    std::optional<Session> session(const QString &id, qint64 nowMs);

    static constexpr int kFreeTries = 3;
    static constexpr qint64 kLongestWaitMs = 5 * 60 * 1000;
    static constexpr qint64 kSessionLifeMs = 7LL * 24 * 3600 * 1000;

private:
    struct Failures
    {
        int count = 0;
        qint64 lastMs = 0;
        qint64 until = 0;
    };
    QString m_token;
    QStringList m_hostNames; // lower case, with and without the port
    QHash<QString, Failures> m_failures;
    QHash<QString, Session> m_sessions;
};

} // namespace sw
