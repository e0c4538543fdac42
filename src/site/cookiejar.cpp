#include "cookiejar.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkCookie>
#include <QSaveFile>

#include <cstdio>

namespace sw {

PersistentCookieJar::PersistentCookieJar(const QString &file, QObject *parent)
    : QNetworkCookieJar(parent), m_file(file)
{
    load();
}

void PersistentCookieJar::load()
{
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QDateTime now = QDateTime::currentDateTime();
    QList<QNetworkCookie> kept;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (line.isEmpty())
            continue;
        for (const QNetworkCookie &c : QNetworkCookie::parseCookies(line)) {
            if (c.isSessionCookie() || c.expirationDate() > now)
                kept << c;
        }
    }
    setAllCookies(kept);
}

bool PersistentCookieJar::save()
{
    QSaveFile f(m_file);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (const QNetworkCookie &c : allCookies()) {
        f.write(c.toRawForm(QNetworkCookie::Full));
        f.write("\n");
    }
    if (!f.commit()) {
        std::fprintf(stderr, "snipewell: cookies not saved to %s\n", qPrintable(m_file));
        return false;
    }
    return true;
}

bool PersistentCookieJar::changedIf(bool changed)
{
    if (changed) {
        save();
        emit this->changed();
    }
    return changed;
}

bool PersistentCookieJar::setCookiesFromUrl(const QList<QNetworkCookie> &cookies, const QUrl &url)
{
    return changedIf(QNetworkCookieJar::setCookiesFromUrl(cookies, url));
}

bool PersistentCookieJar::insertCookie(const QNetworkCookie &cookie)
{
    if (!changedIf(QNetworkCookieJar::insertCookie(cookie)))
        return false;
    emit cookieStored(cookie);
    return true;
}

bool PersistentCookieJar::updateCookie(const QNetworkCookie &cookie)
{
    if (!changedIf(QNetworkCookieJar::updateCookie(cookie)))
        return false;
    emit cookieStored(cookie);
    return true;
}

bool PersistentCookieJar::deleteCookie(const QNetworkCookie &cookie)
{
    if (!changedIf(QNetworkCookieJar::deleteCookie(cookie)))
        return false;
    emit cookieRemoved(cookie);
    return true;
}

} // namespace sw
