#pragma once

#include <QObject>

class QNetworkCookie;
class QWebEngineCookieStore;

namespace sw {

class PersistentCookieJar;

// Keeps the built-in browser's cookies and the program's cookie jar the same both ways:
// a login made in the browser is the login of every fetcher, and it survives a restart
// because the jar is written to the data folder.
class BrowserCookies : public QObject
{
    Q_OBJECT
public:
    BrowserCookies(PersistentCookieJar &jar, QWebEngineCookieStore *store,
                   QObject *parent = nullptr);

private:
    void fromBrowser(const QNetworkCookie &cookie);
    void removedInBrowser(const QNetworkCookie &cookie);
    void fromJar(const QNetworkCookie &cookie);
    void removedInJar(const QNetworkCookie &cookie);

    PersistentCookieJar &m_jar;
    QWebEngineCookieStore *m_store;
    bool m_applying = false; // a change we are copying over, not a new one
};

} // namespace sw
