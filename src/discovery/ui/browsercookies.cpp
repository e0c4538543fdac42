#include "browsercookies.h"

#include "cookiejar.h"

#include <QDateTime>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>

namespace sw {

BrowserCookies::BrowserCookies(PersistentCookieJar &jar, QWebEngineCookieStore *store,
                               QObject *parent)
    : QObject(parent), m_jar(jar), m_store(store)
{
    for (const QNetworkCookie &c : m_jar.cookies())
        fromJar(c);
    connect(m_store, &QWebEngineCookieStore::cookieAdded, this, &BrowserCookies::fromBrowser);
    connect(m_store, &QWebEngineCookieStore::cookieRemoved, this,
            &BrowserCookies::removedInBrowser);
    connect(&m_jar, &PersistentCookieJar::cookieStored, this, &BrowserCookies::fromJar);
    connect(&m_jar, &PersistentCookieJar::cookieRemoved, this, &BrowserCookies::removedInJar);
}

void BrowserCookies::fromBrowser(const QNetworkCookie &cookie)
{
    if (m_applying)
        return;
    for (const QNetworkCookie &c : m_jar.cookies()) {
        if (c.hasSameIdentifier(cookie) && c.value() == cookie.value() &&
            c.expirationDate() == cookie.expirationDate())
            return; // the copy of one of ours coming back
    }
    m_applying = true;
    if (!m_jar.insertCookie(cookie))
        m_jar.updateCookie(cookie);
    m_applying = false;
}

void BrowserCookies::removedInBrowser(const QNetworkCookie &cookie)
{
    if (m_applying)
        return;
    m_applying = true;
    m_jar.deleteCookie(cookie);
    m_applying = false;
}

void BrowserCookies::fromJar(const QNetworkCookie &cookie)
{
    if (m_applying)
        return;
    m_applying = true;
    m_store->setCookie(cookie);
    m_applying = false;
}

void BrowserCookies::removedInJar(const QNetworkCookie &cookie)
{
    if (m_applying)
        return;
    m_applying = true;
    m_store->deleteCookie(cookie);
    m_applying = false;
}

} // namespace sw
