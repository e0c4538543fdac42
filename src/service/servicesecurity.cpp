#include "servicesecurity.h"

#include <QFile>
#include <QFileDevice>
#include <QRandomGenerator>
#include <QSaveFile>

namespace sw {

namespace {
constexpr qint64 kForgetFailuresMs = 10 * 60 * 1000;
} // namespace

std::optional<ListenAddress> parseListen(const QString &value, QString *why)
{
    auto no = [why](const QString &text) -> std::optional<ListenAddress> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    const QString v = value.trimmed();
    QString host;
    QString port;
    if (v.startsWith(QLatin1Char('['))) {
        const qsizetype close = v.indexOf(QStringLiteral("]:"));
        if (close < 0)
            return no(QStringLiteral("Listen は「ホスト:ポート」の形で書いてください：") + v);
        host = v.mid(1, close - 1);
        port = v.mid(close + 2);
    } else {
        const qsizetype colon = v.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0)
            return no(QStringLiteral("Listen は「ホスト:ポート」の形で書いてください：") + v);
        host = v.left(colon);
        port = v.mid(colon + 1);
    }
    bool ok = false;
    const int p = port.toInt(&ok);
    if (!ok || p < 1 || p > 65535)
        return no(QStringLiteral("Listen のポート番号が正しくありません：") + v);
    ListenAddress out;
    out.hostText = host;
    out.port = quint16(p);
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        out.address = QHostAddress(QHostAddress::LocalHost);
    else if (!out.address.setAddress(host))
        return no(
            QStringLiteral("Listen のアドレスが正しくありません（IPアドレスで書いてください）：") +
            v);
    return out;
}

QString makeToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                          bytes.size() / int(sizeof(quint32)));
    return QString::fromLatin1(bytes.toHex());
}

QString loadOrMakeToken(const QString &file, QString *why)
{
    QFile in(file);
    if (in.open(QIODevice::ReadOnly)) {
        const QString token = QString::fromLatin1(in.readAll()).trimmed();
        if (token.size() >= 32)
            return token;
    }
    const QString token = makeToken();
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(token.toLatin1() + '\n') < 0 ||
        !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || !out.commit()) {
        if (why)
            *why = QStringLiteral("アクセストークンを保存できません：") + file +
                   QStringLiteral("：") + out.errorString();
        return {};
    }
    return token;
}

bool sameSecret(const QString &a, const QString &b)
{
    const QByteArray x = a.toUtf8();
    const QByteArray y = b.toUtf8();
    if (y.isEmpty() || x.size() != y.size())
        return false;
    unsigned diff = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        diff |= unsigned(uchar(x[i]) ^ uchar(y[i]));
    return diff == 0;
}

ServiceGate::ServiceGate(QString token, QStringList hostNames) : m_token(std::move(token))
{
    for (const QString &h : hostNames)
        m_hostNames << h.toLower();
}

bool ServiceGate::hostAllowed(const QByteArray &hostHeader) const
{
    const QString host = QString::fromLatin1(hostHeader).trimmed().toLower();
    return !host.isEmpty() && m_hostNames.contains(host);
}

qint64 ServiceGate::waitFor(const QString &peer, qint64 nowMs) const
{
    const auto it = m_failures.constFind(peer);
    return it == m_failures.constEnd() ? 0 : qMax<qint64>(0, it->until - nowMs);
}

bool ServiceGate::failed(const QString &peer, qint64 nowMs)
{
    Failures &f = m_failures[peer];
    if (nowMs - f.lastMs > kForgetFailuresMs)
        f.count = 0;
    f.lastMs = nowMs;
    if (++f.count <= kFreeTries)
        return false;
    // One second after the free tries, doubling with each further one.
    const int over = qMin(f.count - kFreeTries - 1, 16);
    f.until = nowMs + qMin<qint64>(kLongestWaitMs, qint64(1000) << over);
    return true;
}

ServiceGate::Session ServiceGate::openSession(qint64 nowMs)
{
    Session s{makeToken(), makeToken(), nowMs};
    m_sessions.insert(s.id, s);
    return s;
}

std::optional<ServiceGate::Session> ServiceGate::session(const QString &id, qint64 nowMs)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return std::nullopt;
    if (nowMs - it->lastUsedMs > kSessionLifeMs) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    it->lastUsedMs = nowMs;
    return *it;
}

} // namespace sw
