#include "handover.h"

#include "settingsstore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <QCoro/QCoroNetworkReply>

#include <chrono>
#include <memory>

namespace sw {

namespace {
const QString kSection = QStringLiteral("Handover");
constexpr std::chrono::milliseconds kTimeout{30000};
} // namespace

QString handOverUrl(const SettingsStore &settings)
{
    return settings.get(kSection, QStringLiteral("Url"), QString()).trimmed();
}

QCoro::Task<HandOverResult> handOverToService(const SettingsStore &settings, ItemRecord item,
                                              QString itemPage)
{
    const QString base = handOverUrl(settings);
    const QString token = settings.get(kSection, QStringLiteral("Token"), QString()).trimmed();
    const QUrl url(base, QUrl::StrictMode);
    if (base.isEmpty() || token.isEmpty() || !url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        co_return HandOverResult{false,
                                 QStringLiteral("入札サービスのアドレスとアクセストークンを設定"
                                                "してください（snipewell.ini の [Handover] "
                                                "Url、Token）。")};
    // The token goes over plain http only to this machine (an SSH tunnel ends here).
    if (url.scheme() == QLatin1String("http") && url.host() != QLatin1String("127.0.0.1") &&
        url.host() != QLatin1String("localhost") && url.host() != QLatin1String("::1"))
        co_return HandOverResult{false,
                                 QStringLiteral("入札サービスにはhttpsで接続してください（こ"
                                                "のコンピューター以外にはアクセストークンを暗"
                                                "号化せずに送りません）。")};
    QNetworkRequest request(url.resolved(QUrl(QStringLiteral("/api/items"))));
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(int(kTimeout.count()));
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("item"), itemPage},
                                                      {QStringLiteral("max"), double(item.ItemYen)},
                                                      {QStringLiteral("quantity"), item.Numkai},
                                                      {QStringLiteral("category"), item.cat}})
                                .toJson(QJsonDocument::Compact);
    auto nam = std::make_unique<QNetworkAccessManager>();
    QNetworkReply *reply = nam->post(request, body);
    co_await qCoro(reply).waitForFinished(kTimeout);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    const QString error = reply->errorString();
    reply->deleteLater();
    if (status == 201)
        co_return HandOverResult{true, handedOverText() + QStringLiteral("：") + item.itemid +
                                           QStringLiteral("（") + item.Itemname +
                                           QStringLiteral("）。この商品はここでは入札しません。")};
    if (status == 0)
        co_return HandOverResult{false, QStringLiteral("入札サービスに接続できません：") + error};
    co_return HandOverResult{false, QStringLiteral("入札サービスが受け付けませんでした：") +
                                        answer.value(QStringLiteral("error")).toString(error)};
}

} // namespace sw
