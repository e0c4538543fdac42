#include "cookiejar.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookie>
#include <QSaveFile>

#include <cstdio>

namespace sw {

PersistentCookieJar::PersistentCookieJar(const QString &file, QObject *parent)
    : QNetworkCookieJar(parent), m_file(file)
{
    load();
}

QList<QNetworkCookie> PersistentCookieJar::readFile() const
{
    QList<QNetworkCookie> kept;
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return kept;
    const QDateTime now = QDateTime::currentDateTime();
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (line.isEmpty())
            continue;
        for (const QNetworkCookie &c : QNetworkCookie::parseCookies(line)) {
            if (c.isSessionCookie() || c.expirationDate() > now)
                kept << c;
        }
    }
    return kept;
}

QByteArray PersistentCookieJar::fileStamp() const
{
    const QFileInfo info(m_file);
    if (!info.exists())
        return {};
    return QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + ':' +
           QByteArray::number(info.size()) + ':' +
           QByteArray::number(info.metadataChangeTime().toMSecsSinceEpoch());
}

void PersistentCookieJar::load()
{
    setAllCookies(readFile());
    m_stamp = fileStamp();
    m_changes.clear();
}

bool PersistentCookieJar::save()
{
    // Another process of the program wrote the file since: its cookies count, with this
    // jar's own changes laid over them.
    if (fileStamp() != m_stamp) {
        QList<QNetworkCookie> merged = readFile();
        for (const auto &[cookie, set] : std::as_const(m_changes)) {
            merged.removeIf([&](const QNetworkCookie &c) { return c.hasSameIdentifier(cookie); });
            if (set)
                merged << cookie;
        }
        setAllCookies(merged);
    }
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
    m_stamp = fileStamp();
    m_changes.clear();
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
    // Each cookie goes through insertCookie, which notes it as this jar's change.
    return changedIf(QNetworkCookieJar::setCookiesFromUrl(cookies, url));
}

bool PersistentCookieJar::insertCookie(const QNetworkCookie &cookie)
{
    m_changes.append({cookie, true});
    if (!changedIf(QNetworkCookieJar::insertCookie(cookie)))
        return false;
    emit cookieStored(cookie);
    return true;
}

bool PersistentCookieJar::updateCookie(const QNetworkCookie &cookie)
{
    m_changes.append({cookie, true});
    if (!changedIf(QNetworkCookieJar::updateCookie(cookie)))
        return false;
    emit cookieStored(cookie);
    return true;
}

bool PersistentCookieJar::deleteCookie(const QNetworkCookie &cookie)
{
    m_changes.append({cookie, false});
    if (!changedIf(QNetworkCookieJar::deleteCookie(cookie)))
        return false;
    emit cookieRemoved(cookie);
    return true;
}

} // namespace sw
