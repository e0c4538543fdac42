#include "proxyconfig.h"

#include <QUrl>

namespace sw {

ProxyChoice parseProxySetting(const QString &value)
{
    if (value.isEmpty())
        return {ProxyChoice::Direct, QNetworkProxy(QNetworkProxy::NoProxy)};
    if (!value.startsWith(QLatin1String("HTTP=")))
        return {ProxyChoice::Invalid, {}};
    const QString hostPort = value.mid(5).trimmed();
    const qsizetype colon = hostPort.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = colon > 0 ? hostPort.mid(colon + 1).toInt(&ok) : 0;
    if (!ok || port <= 0 || port > 65535)
        return {ProxyChoice::Invalid, {}};
    return {ProxyChoice::Named,
            QNetworkProxy(QNetworkProxy::HttpProxy, hostPort.left(colon), quint16(port))};
}

QString invalidProxyMessage()
{
    return QStringLiteral("プロキシの設定が不正です。\n例：HTTP=proxy.example.jp:8080");
}

void applySystemProxy()
{
    QString env = qEnvironmentVariable("http_proxy");
    if (env.isEmpty())
        env = qEnvironmentVariable("HTTP_PROXY");
    if (env.isEmpty())
        return;
    if (!env.contains(QLatin1String("://")))
        env.prepend(QStringLiteral("http://"));
    const QUrl url(env);
    if (!url.isValid() || url.host().isEmpty())
        return;
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port(8080))));
}

} // namespace sw
