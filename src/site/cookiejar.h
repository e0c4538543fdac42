#pragma once

#include <QNetworkCookie>
#include <QNetworkCookieJar>

namespace sw {

// The one cookie jar of the program, shared by every fetcher (and the built-in browser),
// written to the data folder after every change so that a login survives a restart. The
// program's children (the login, the bid pages) write the same file: a save takes in what
// another process wrote since, and lays only this jar's own changes over it.
class PersistentCookieJar : public QNetworkCookieJar
{
    Q_OBJECT
public:
    explicit PersistentCookieJar(const QString &file, QObject *parent = nullptr);

    bool setCookiesFromUrl(const QList<QNetworkCookie> &cookies, const QUrl &url) override;
    bool insertCookie(const QNetworkCookie &cookie) override;
    bool updateCookie(const QNetworkCookie &cookie) override;
    bool deleteCookie(const QNetworkCookie &cookie) override;
    QList<QNetworkCookie> cookies() const { return allCookies(); }

    // False when the file could not be written (the cookies stay in memory).
    bool save();
    // Reads the file again: another process of the program (a login) wrote it.
    void reload()
    {
        load();
        emit changed();
    }

signals:
    void changed();
    // One cookie stored (new or replaced) or removed.
    void cookieStored(const QNetworkCookie &cookie);
    void cookieRemoved(const QNetworkCookie &cookie);

private:
    void load();
    // Saves and announces a change; returns it.
    bool changedIf(bool changed);
    QList<QNetworkCookie> readFile() const;
    QByteArray fileStamp() const;
    QString m_file;
    QByteArray m_stamp; // the file as this jar last read or wrote it (time and size)
    // This jar's own changes since then: a cookie set, or (value "") one removed.
    QList<std::pair<QNetworkCookie, bool>> m_changes;
};

} // namespace sw
