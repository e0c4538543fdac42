#include "pagefetcher.h"

#include "activitylog.h"
#include "oneshotget.h"
#include "prompter.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "textconv.h"

#include <QHash>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>

#include <QCoro/QCoroSignal>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTime>
#include <QTimer>
#include <QUrlQuery>

namespace sw {

QString FetchTexts::error(int number, const QString &source, const QString &description)
{
    // Non-negative numbers carry a leading blank, as the number formatting always did.
    const QString num =
        number >= 0 ? QLatin1Char(' ') + QString::number(number) : QString::number(number);
    return QStringLiteral("ｴﾗｰ番号 ") + num + QLatin1Char(':') + source +
           QStringLiteral(" でｴﾗｰが発生しました。") + QLatin1Char('\r') + description;
}

namespace {

// Resumes the awaiting coroutine right when the reply finishes (an abort included) or is
// destroyed; it never waits for a later turn of the event loop.
class ReplyDone
{
public:
    explicit ReplyDone(QNetworkReply *reply) : m_reply(reply) {}
    bool await_ready() const noexcept { return m_reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> h)
    {
        m_finished = QObject::connect(m_reply, &QNetworkReply::finished, [this, h] { resume(h); });
        m_destroyed = QObject::connect(m_reply, &QObject::destroyed, [this, h] {
            m_gone = true;
            resume(h);
        });
    }
    // False when the reply was destroyed before it finished.
    bool await_resume() const noexcept { return !m_gone; }

private:
    void resume(std::coroutine_handle<> h)
    {
        QObject::disconnect(m_finished);
        QObject::disconnect(m_destroyed);
        h.resume();
    }
    QNetworkReply *m_reply;
    QMetaObject::Connection m_finished;
    QMetaObject::Connection m_destroyed;
    bool m_gone = false;
};

} // namespace

QString maskSecrets(QString text)
{
    static const QRegularExpression re(
        QStringLiteral("((?:passwd|password|pass|ypass)=)[^&\\s\"']*"),
        QRegularExpression::CaseInsensitiveOption);
    return text.replace(re, QStringLiteral("\\1****"));
}

namespace {

// One network access (and its thread) for every fetcher that reads with the program's
// cookies and the application's proxy: a thousand armed items are not a thousand threads.
QNetworkAccessManager *sharedAccess(QNetworkCookieJar *jar)
{
    static QHash<QNetworkCookieJar *, QNetworkAccessManager *> byJar;
    if (QNetworkAccessManager *nam = byJar.value(jar))
        return nam;
    auto *nam = new QNetworkAccessManager;
    QObject *owner = jar->parent();
    nam->setCookieJar(jar);
    jar->setParent(owner); // the jar belongs to the program
    byJar.insert(jar, nam);
    QObject::connect(jar, &QObject::destroyed, [jar, nam] {
        byJar.remove(jar);
        delete nam;
    });
    return nam;
}

} // namespace

PageFetcher::PageFetcher(QNetworkCookieJar *sharedJar, ActivityLog &log, Prompter &prompter,
                         QObject *parent)
    : QObject(parent), m_nam(sharedJar ? sharedAccess(sharedJar) : new QNetworkAccessManager(this)),
      m_jar(sharedJar), m_ownNam(!sharedJar), m_log(log), m_prompter(prompter)
{}

PageFetcher::~PageFetcher()
{
    m_alive.reset();
    const auto pending = m_pending;
    for (QNetworkReply *r : pending)
        r->abort();
}

void PageFetcher::ownAccess()
{
    if (m_ownNam)
        return;
    m_nam = new QNetworkAccessManager(this);
    m_ownNam = true;
    QObject *owner = m_jar->parent();
    m_nam->setCookieJar(m_jar);
    m_jar->setParent(owner);
}

bool PageFetcher::applyProxySetting(const QString &value)
{
    const ProxyChoice choice = parseProxySetting(value);
    if (choice.kind == ProxyChoice::Invalid)
        return false;
    ownAccess();
    m_nam->setProxy(choice.proxy);
    return true;
}

QString PageFetcher::plainPasswordRefusedText(const QString &host)
{
    return QStringLiteral("パスワードを暗号化されない接続（http）で") + host +
           QStringLiteral("には送りません。設定の[Site] Schemeをhttpsにしてください｡");
}

QNetworkProxy PageFetcher::effectiveProxy() const
{
    QNetworkProxy proxy = m_nam->proxy();
    if (proxy.type() == QNetworkProxy::DefaultProxy)
        proxy = QNetworkProxy::applicationProxy();
    return proxy;
}

bool PageFetcher::connectionStaysOnThisMachine(const QUrl &target) const
{
    // The connection goes to the proxy when there is one, else to the host itself.
    const QNetworkProxy proxy = effectiveProxy();
    const bool viaProxy =
        proxy.type() == QNetworkProxy::HttpProxy || proxy.type() == QNetworkProxy::Socks5Proxy;
    const QString host = viaProxy ? proxy.hostName() : target.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

void PageFetcher::useDefaultConnection()
{
    if (!m_ownNam)
        return; // the shared access never leaves the application's proxy
    m_nam->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
}

void PageFetcher::fail(const QString &text)
{
    m_prompter.beep();
    m_log.LOGTodb(text);
}

QCoro::Task<FetchResult> PageFetcher::FetchPage(QString url, bool convertNewlines, int timeoutMs,
                                                bool notFoundIsAnswer)
{
    const std::weak_ptr<int> alive = m_alive;
    const QUrl target(url, QUrl::StrictMode);
    if (url.isEmpty() || !target.isValid() || target.host().isEmpty()) {
        fail(QStringLiteral("アドレスが正しくないので読みませんでした：") + maskSecrets(url));
        co_return FetchResult{};
    }
    const bool carriesPassword = QUrlQuery(target).hasQueryItem(QStringLiteral("passwd"));
    if (carriesPassword && (!m_hosts || !m_hosts->isSiteHost(target.host()) ||
                            target.scheme() != m_hosts->scheme || !target.userInfo().isEmpty())) {
        fail(QStringLiteral("パスワードを含む要求をサイト以外のホスト（") + target.host() +
             QStringLiteral("）には送りません"));
        co_return FetchResult{};
    }
    if (carriesPassword && target.scheme() != QLatin1String("https") &&
        !connectionStaysOnThisMachine(target)) {
        fail(plainPasswordRefusedText(target.host()));
        co_return FetchResult{};
    }
    QNetworkRequest request{target};
    // A request with the password is never redirected to another host either.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         carriesPassword ? QNetworkRequest::SameOriginRedirectPolicy
                                         : QNetworkRequest::NoLessSafeRedirectPolicy);
    const QPointer<SiteClock> own = m_clock;
    SiteClock &clock = own ? *own : siteClock();
    const qint64 sent = clock.monoMs();
    QNetworkReply *reply = m_nam->get(request);
    m_pending.insert(reply);
    // The site's clock is read off every answer's Date header, against the moments the
    // request left and its headers came back.
    const bool timesBids = m_timesBids;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, sent, timesBids, own] {
        if (reply->property("sw_dated").toBool())
            return;
        reply->setProperty("sw_dated", true);
        SiteClock &c = own ? *own : siteClock();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (c.tellsSiteTime(reply->url().host(), status, reply->hasRawHeader("Age")))
            c.addAnswer(sent, c.monoMs(), reply->rawHeader("Date"));
        if (timesBids && status >= 200 && status < 400)
            c.addPageRoundTrip(c.monoMs() - sent);
    });

    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, reply, [reply, &timedOut] {
        timedOut = true;
        reply->abort();
    });
    const int given = timeoutMs > 0 ? timeoutMs : m_timeoutMs;
    timer.start(given);

    const bool present = co_await ReplyDone(reply);
    timer.stop();
    if (!present || alive.expired()) { // the window closed while the page was on its way
        if (present)
            reply->deleteLater();
        co_return FetchResult{};
    }
    m_pending.remove(reply);
    reply->deleteLater();

    if (timedOut) {
        if (m_timesBids) // the next try needs at least this long
            (own ? *own : siteClock()).addAnswerTime(given);
        fail(FetchTexts::timeout());
        FetchResult r;
        r.timedOut = true;
        co_return r;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (notFoundIsAnswer && status == 404) {
        FetchResult r;
        r.status = status;
        r.finalUrl = reply->url().toString();
        co_return r;
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail(maskSecrets(
            FetchTexts::error(int(reply->error()), reply->url().host(), reply->errorString())));
        FetchResult r;
        r.status = status;
        co_return r;
    }
    const QByteArray body = reply->readAll();
    if (body.size() < 2) {
        fail(FetchTexts::tooShort());
        co_return FetchResult{};
    }
    if (m_timesBids)
        (own ? *own : siteClock()).addAnswerTime(siteClock().monoMs() - sent);
    FetchResult r;
    r.ok = true;
    r.text = decodePage(body, reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(),
                        convertNewlines);
    r.status = status;
    r.finalUrl = reply->url().toString();
    co_return r;
}

void PageFetcher::prepareOnce(const QString &url)
{
    const QUrl target(url, QUrl::StrictMode);
    if (!target.isValid() || target.host().isEmpty())
        return;
    if (m_prepared) {
        if (m_prepared->heldFor(target))
            return; // made, or on its way
        m_prepared->deleteLater();
    }
    m_prepared = new OneShotGet(target, effectiveProxy(), {}, m_timeoutMs, this);
    m_prepared->hold();
    m_prepared->start();
}

QCoro::Task<FetchResult> PageFetcher::FetchOnce(QString url, int timeoutMs)
{
    const std::weak_ptr<int> alive = m_alive;
    const QUrl target(url, QUrl::StrictMode);
    if (url.isEmpty() || !target.isValid() || target.host().isEmpty()) {
        fail(QStringLiteral("アドレスが正しくないので読みませんでした：") + maskSecrets(url));
        co_return FetchResult{};
    }
    QByteArray cookies;
    if (QNetworkCookieJar *jar = m_nam->cookieJar()) {
        for (const QNetworkCookie &c : jar->cookiesForUrl(target))
            cookies += (cookies.isEmpty() ? QByteArray() : QByteArray("; ")) +
                       c.toRawForm(QNetworkCookie::NameAndValueOnly);
    }
    SiteClock &clock = m_clock ? *m_clock : siteClock();
    const qint64 sent = clock.monoMs();
    const int given = timeoutMs > 0 ? timeoutMs : m_timeoutMs;
    OneShotGet *get = nullptr;
    if (m_prepared && m_prepared->readyFor(target)) {
        get = std::exchange(m_prepared, nullptr);
        get->setParent(nullptr); // like any other: it outlives this fetcher until it ends
        get->send(target, cookies, given);
    } else {
        get = new OneShotGet(target, effectiveProxy(), cookies, given);
        get->start();
    }
    if (!get->finished())
        co_await qCoro(get, &OneShotGet::done);
    get->deleteLater();
    if (alive.expired())
        co_return FetchResult{};
    const qint64 back = clock.monoMs();
    FetchResult r;
    r.status = get->status();
    r.finalUrl = url;
    if (get->answered()) {
        if (clock.tellsSiteTime(target.host(), r.status, !get->header("age").isEmpty()))
            clock.addAnswer(sent, back, get->header("date"));
        if (QNetworkCookieJar *jar = m_nam->cookieJar()) {
            QList<QNetworkCookie> set;
            for (const QByteArray &v : get->headers("set-cookie"))
                set += QNetworkCookie::parseCookies(v);
            if (!set.isEmpty())
                jar->setCookiesFromUrl(set, target);
        }
    }
    if (get->timedOut()) {
        if (m_timesBids)
            clock.addAnswerTime(given);
        fail(FetchTexts::timeout());
        r.timedOut = true;
        co_return r;
    }
    if (r.status >= 300 && r.status < 400) {
        // A bid's answer never moves elsewhere; where it points is for the caller to see.
        r.finalUrl =
            QUrl(target).resolved(QUrl(QString::fromUtf8(get->header("location")))).toString();
        fail(maskSecrets(FetchTexts::error(r.status, target.host(),
                                           QStringLiteral("HTTP ") + QString::number(r.status))));
        co_return r;
    }
    if (!get->error().isEmpty() || r.status < 200 || r.status >= 400) {
        fail(maskSecrets(FetchTexts::error(r.status > 0 ? r.status : -1, target.host(),
                                           get->error().isEmpty()
                                               ? QStringLiteral("HTTP ") + QString::number(r.status)
                                               : get->error())));
        co_return r;
    }
    const QByteArray body = get->body();
    if (body.size() < 2) {
        fail(FetchTexts::tooShort());
        co_return r;
    }
    if (m_timesBids)
        clock.addAnswerTime(back - sent);
    r.ok = true;
    r.text = decodePage(body, get->header("content-type"), false);
    co_return r;
}

QCoro::Task<bool> PageFetcher::probe(QString url)
{
    const std::weak_ptr<int> alive = m_alive;
    SiteClock &clock = m_clock ? *m_clock : siteClock();
    // Something no cache answers: a query of its own each time, and no-cache asked for.
    QUrl target(url);
    QUrlQuery q(target);
    q.addQueryItem(QStringLiteral("sw"), QString::number(clock.monoMs()));
    target.setQuery(q);
    QNetworkRequest request{target};
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    const qint64 sent = clock.monoMs();
    QNetworkReply *reply = m_nam->head(request);
    m_pending.insert(reply);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, reply, [reply] { reply->abort(); });
    timer.start(m_timeoutMs);
    const bool present = co_await ReplyDone(reply);
    if (!present || alive.expired()) {
        if (present)
            reply->deleteLater();
        co_return false;
    }
    m_pending.remove(reply);
    reply->deleteLater();
    // Only the headers matter; a probe's failure is nobody's business but the clock's.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        co_return false;
    if (clock.tellsSiteTime(target.host(), status.toInt(), reply->hasRawHeader("Age")))
        clock.addAnswer(sent, clock.monoMs(), reply->rawHeader("Date"));
    co_return true;
}

void configureFetcher(PageFetcher &fetcher, const SettingsStore &settings, bool applyProxy,
                      Prompter &prompter)
{
    const int seconds = settings.getInt(QStringLiteral("Settings"), QStringLiteral("FetchTimeout"),
                                        PageFetcher::kDefaultTimeoutMs / 1000);
    fetcher.setTimeoutMs(seconds > 0 ? seconds * 1000 : PageFetcher::kDefaultTimeoutMs);
    if (!applyProxy)
        return;
    const QString proxy =
        settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString());
    if (!fetcher.applyProxySetting(proxy))
        prompter.message(invalidProxyMessage());
}

namespace {

// Resumes the awaiting coroutine from inside the timer's own signal, so nothing else runs
// between the moment and the work that waited for it.
class PreciseTimeout
{
public:
    explicit PreciseTimeout(int ms) : m_ms(qMax(0, ms)), m_timer(std::make_unique<QTimer>()) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h)
    {
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer.get(), &QTimer::timeout, [h] { h.resume(); });
        m_timer->start(m_ms);
    }
    void await_resume() const noexcept {}

private:
    int m_ms;
    std::unique_ptr<QTimer> m_timer;
};

} // namespace

QCoro::Task<> preciseSleep(int ms)
{
    co_await PreciseTimeout(ms);
}

QCoro::Task<> WaitFor(QString span)
{
    const QTime t = QTime::fromString(span, QStringLiteral("hh:mm:ss"));
    if (!t.isValid())
        co_return;
    co_await preciseSleep(t.msecsSinceStartOfDay());
}

} // namespace sw
