#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include "siteclock.h"
#include "textconv.h"

#include <QCoro/QCoroTask>

#include <memory>

class QNetworkAccessManager;
class QNetworkCookieJar;
class QNetworkProxy;
class QNetworkReply;
class QUrl;

namespace sw {

class OneShotGet;

class ActivityLog;
class Prompter;
class SiteHosts;

struct FetchResult
{
    bool ok = false;
    QString text;
    bool timedOut = false;
    int status = 0;   // the HTTP status of the answer (0: none came)
    QString finalUrl; // where the answer came from, after any redirect
};

// The fetcher texts of the activity log.
struct FetchTexts
{
    static QString timeout()
    {
        return QStringLiteral("要求がタイムアウトになりました。接続を確認してください｡");
    }
    static QString tooShort()
    {
        return QStringLiteral("アクセスに失敗しました、接続を確認してください｡");
    }
    static QString error(int number, const QString &source, const QString &description);
};

// Hides the values of password fields in a text bound for the log.
QString maskSecrets(QString text);

// One window's page fetcher. Every page the program reads comes through FetchPage: the
// body decoded as the page says (decodePage). A failure beeps, writes exactly one line to
// the activity log and returns ok = false.
//
// All fetchers share one cookie jar. Destroying a fetcher aborts its transfers; their
// coroutines finish with ok = false and touch nothing.
class PageFetcher : public QObject
{
    Q_OBJECT
public:
    PageFetcher(QNetworkCookieJar *sharedJar, ActivityLog &log, Prompter &prompter,
                QObject *parent = nullptr);
    ~PageFetcher() override;

    // The Proxy setting of the windows that apply it; false (and nothing changed) when
    // the value is not a valid proxy. The caller shows the message.
    bool applyProxySetting(const QString &value);
    // The connection of the windows that do not apply the Proxy setting: the system's.
    void useDefaultConnection();
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    // The site clock its answers tell (the owner of armed bids gives its own to its bids'
    // fetchers); without one, the program's.
    void setClock(SiteClock *clock) { m_clock = clock; }
    // The hosts a request carrying the password may go to; without them it goes nowhere.
    void setSiteHosts(const SiteHosts *hosts) { m_hosts = hosts; }
    // This fetcher asks for the pages a bid needs (the item's page, the preview, the
    // confirmation): how long they take sets how early a bid starts.
    void setTimesBids(bool on) { m_timesBids = on; }
    int timeoutMs() const { return m_timeoutMs; }

    // timeoutMs > 0 replaces the fetcher's time-out for this request. With notFoundIsAnswer,
    // a "404 Not Found" is no failure: it comes back (ok false, status 404) without a beep
    // or a log line, for a caller that then asks the site's older address.
    QCoro::Task<FetchResult> FetchPage(QString url, bool convertNewlines, int timeoutMs = 0,
                                       bool notFoundIsAnswer = false);
    // A GET sent exactly once, over a connection of its own: a bid's confirmation. Qt's HTTP
    // layer sends a request again, unseen, when its connection drops before the answer; this
    // never does, and a dropped connection comes back as no answer (for the bid to read the
    // item's page about). Cookies, proxy, the site's clock and the log as FetchPage.
    QCoro::Task<FetchResult> FetchOnce(QString url, int timeoutMs = 0);
    // Makes the connection for a coming FetchOnce to the same host ahead of its moment (the
    // TCP and TLS handshakes, the proxy's tunnel), so that then only the request travels.
    void prepareOnce(const QString &url);
    // A HEAD request whose only use is the Date of the answer (the site clock reads it);
    // false when nothing came back. Logs nothing.
    QCoro::Task<bool> probe(QString url);

    static constexpr int kDefaultTimeoutMs = 20000;
    // Why a request with the password did not leave over plain http.
    static QString plainPasswordRefusedText(const QString &host);

private:
    // Whether the connection for the address ends on this machine (the host itself, or the
    // proxy in between, is a loopback address).
    bool connectionStaysOnThisMachine(const QUrl &target) const;
    // The proxy the connection goes through: this fetcher's, else the application's.
    QNetworkProxy effectiveProxy() const;
    void fail(const QString &text);
    // This fetcher's own network access, made when it needs a proxy of its own.
    void ownAccess();

    QNetworkAccessManager *m_nam;
    QPointer<OneShotGet> m_prepared;
    QNetworkCookieJar *m_jar = nullptr;
    bool m_ownNam = false;
    ActivityLog &m_log;
    QPointer<SiteClock> m_clock;
    Prompter &m_prompter;
    const SiteHosts *m_hosts = nullptr;
    int m_timeoutMs = kDefaultTimeoutMs;
    bool m_timesBids = false;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    QSet<QNetworkReply *> m_pending;
};

class SettingsStore;

// Sets the fetcher's time-out from the settings (Settings/FetchTimeout, seconds) and, for
// the windows that apply it, the Proxy setting; a bad Proxy value shows its message and
// leaves the default connection.
void configureFetcher(PageFetcher &fetcher, const SettingsStore &settings, bool applyProxy,
                      Prompter &prompter);

// A wait that keeps every window running: resumes after the span "hh:mm:ss".
QCoro::Task<> WaitFor(QString span);
// Resumes after ms milliseconds, on a precise timer.
QCoro::Task<> preciseSleep(int ms);

} // namespace sw
