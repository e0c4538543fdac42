#include "noticesender.h"

#include "activitylog.h"
#include "desktopnotice.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace sw {

namespace {
constexpr int kPostTimeoutMs = 10000;
} // namespace

NoticeSender::NoticeSender(SettingsStore &settings, ActivityLog &log, QDBusConnection bus,
                           QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_bus(std::move(bus)),
      m_nam(new QNetworkAccessManager(this))
{}

void NoticeSender::notify(NoticeKind kind, const QString &body)
{
    if (!m_settings.getBool(QStringLiteral("Settings"), noticeSettingKey(kind), true))
        return;
    if (m_bus.isConnected())
        sendDesktopNotice(m_bus, kind, body, this, {});
    post(kind, body);
}

void NoticeSender::post(NoticeKind kind, const QString &body)
{
    const QString target =
        m_settings.get(QStringLiteral("Service"), QStringLiteral("NotifyUrl"), QString()).trimmed();
    if (target.isEmpty())
        return;
    const QUrl url(target, QUrl::StrictMode);
    const bool plainHere =
        url.scheme() == QLatin1String("http") &&
        (url.host() == QLatin1String("localhost") || QHostAddress(url.host()).isLoopback());
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("https") && !plainHere)) {
        // The address may carry a topic or a key of its own: only its kind is logged.
        m_log.LOGTodb(
            QStringLiteral("入札サービス：NotifyUrl が正しくないので通知を送りません（https:// "
                           "で始まるアドレスにしてください）：") +
            (url.isValid() && !url.host().isEmpty()
                 ? url.scheme() + QStringLiteral("://") + url.host() + QStringLiteral("/…")
                 : QStringLiteral("（アドレスとして読めません）")));
        return;
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("text/plain; charset=utf-8"));
    // The title as ntfy-style servers read it (RFC 2047 for the non-ASCII text).
    request.setRawHeader(
        "Title", "=?UTF-8?B?" +
                     (QStringLiteral("Snipewell：") + noticeTitle(kind)).toUtf8().toBase64() +
                     "?=");
    request.setTransferTimeout(kPostTimeoutMs);
    QNetworkReply *reply = m_nam->post(request, body.toUtf8());
    ++m_inFlight;
    connect(reply, &QNetworkReply::finished, this, [this, reply, target] {
        --m_inFlight;
        if (m_inFlight == 0)
            QTimer::singleShot(0, this, &NoticeSender::allSent);
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
            ++m_posted;
            return;
        }
        // Said once; the notice is not sent again (no loop against a server that is down).
        m_log.LOGTodb(QStringLiteral("入札サービス：通知を送れませんでした（") +
                      QUrl(target).host() + QStringLiteral("）：") + reply->errorString());
    });
}

void NoticeSender::whenSent(int ms, std::function<void()> done)
{
    m_whenSent = std::move(done);
    auto call = [this] {
        if (auto f = std::exchange(m_whenSent, {}))
            f();
    };
    if (m_inFlight == 0) {
        QTimer::singleShot(0, this, call);
        return;
    }
    QTimer::singleShot(ms, this, call);
    connect(this, &NoticeSender::allSent, this, call, Qt::SingleShotConnection);
}

} // namespace sw
