#pragma once

#include <QNetworkProxy>
#include <QString>

namespace sw {

// What the Proxy setting asks for: "HTTP=host:port" a named proxy, empty a direct
// connection, anything else is refused and the default connection stays.
struct ProxyChoice
{
    enum Kind
    {
        Named,
        Direct,
        Invalid
    };
    Kind kind = Direct;
    QNetworkProxy proxy;
};

ProxyChoice parseProxySetting(const QString &value);

// "プロキシの設定が不正です。" with an example line.
QString invalidProxyMessage();

// The default connection of every fetcher and of the built-in browser: the system's
// http_proxy when set, else direct. Applied once at start-up.
void applySystemProxy();

} // namespace sw
