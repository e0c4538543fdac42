#include "handover.h"

#include "activitylog.h"
#include "appcontext.h"
#include "armedbid.h"
#include "armedbids.h"
#include "bidhost.h"
#include "clock.h"
#include "database.h"
#include "settingsstore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroNetworkReply>

#include <chrono>
#include <memory>

namespace sw {

namespace {
const QString kSection = QStringLiteral("Handover");
} // namespace

QString handOverUrl(const SettingsStore &settings)
{
    return settings.get(kSection, QStringLiteral("Url"), QString()).trimmed();
}

namespace {

// The service's address and token as the settings name them; nullopt, and why, when they
// cannot be used.
std::optional<std::pair<QUrl, QString>> serviceOf(const SettingsStore &settings, QString *why)
{
    const QString base = handOverUrl(settings);
    const QString token = settings.get(kSection, QStringLiteral("Token"), QString()).trimmed();
    const QUrl url(base, QUrl::StrictMode);
    if (base.isEmpty() || token.isEmpty() || !url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        *why = QStringLiteral("入札サービスのアドレスとアクセストークンを設定してください"
                              "（snipewell.ini の [Handover] Url、Token）。");
        return std::nullopt;
    }
    // The token goes over plain http only to this machine (an SSH tunnel ends here).
    if (url.scheme() == QLatin1String("http") && url.host() != QLatin1String("127.0.0.1") &&
        url.host() != QLatin1String("localhost") && url.host() != QLatin1String("::1")) {
        *why = QStringLiteral("入札サービスにはhttpsで接続してください（このコンピューター以外"
                              "にはアクセストークンを暗号化せずに送りません）。");
        return std::nullopt;
    }
    return std::pair{url, token};
}

} // namespace

QCoro::Task<HandOverResult> handOverToService(const SettingsStore &settings, ItemRecord item,
                                              QString itemPage, int timeoutMs)
{
    QString why;
    const auto service = serviceOf(settings, &why);
    if (!service)
        co_return HandOverResult{false, false, false, why};
    const auto &[url, token] = *service;
    QNetworkRequest request(url.resolved(QUrl(QStringLiteral("/api/items"))));
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(timeoutMs);
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("item"), itemPage},
                                                      {QStringLiteral("max"), double(item.ItemYen)},
                                                      {QStringLiteral("quantity"), item.Numkai},
                                                      {QStringLiteral("category"), item.cat}})
                                .toJson(QJsonDocument::Compact);
    auto nam = std::make_unique<QNetworkAccessManager>();
    QNetworkReply *reply = nam->post(request, body);
    co_await qCoro(reply).waitForFinished(std::chrono::milliseconds(timeoutMs + 1000));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    const QString error = reply->errorString();
    const QNetworkReply::NetworkError code = reply->error();
    reply->deleteLater();
    if (status == 201)
        co_return HandOverResult{true, true, false,
                                 handedOverText() + QStringLiteral("：") + item.itemid +
                                     QStringLiteral("（") + item.Itemname +
                                     QStringLiteral("）。この商品はここでは入札しません。")};
    if (status == 0) {
        // Refused or not found: nothing arrived. Anything else: the request may have.
        const bool reached = code != QNetworkReply::ConnectionRefusedError &&
                             code != QNetworkReply::HostNotFoundError;
        co_return HandOverResult{false, false, reached,
                                 QStringLiteral("入札サービスに接続できません：") + error};
    }
    co_return HandOverResult{false, true, false,
                             QStringLiteral("入札サービスが受け付けませんでした：") +
                                 answer.value(QStringLiteral("error")).toString(error)};
}

QCoro::Task<HandOverResult> handOverItem(BidHost &host, int id, QString itemPage, int timeoutMs)
{
    AppContext &ctx = host.context();
    const std::optional<ItemRecord> item = ctx.db.itemById(id);
    if (!item)
        co_return HandOverResult{false, false, false, QStringLiteral("商品が見つかりません。")};
    QString error;
    const BidLimits before{item->ItemYen, item->Numkai, item->cat, item->status};
    BidLimits off = before;
    off.quantity = 0;
    if (!host.saveLimits(id, off, &error))
        co_return HandOverResult{false, false, false, error};
    HandOverResult r = co_await handOverToService(ctx.settings, *item, itemPage, timeoutMs);
    if (r.ok) {
        if (!host.handedOver(id, &error))
            co_return HandOverResult{false, true, false, error};
    } else if (r.unknown) {
        // No word came: it may have been taken there. Never armed in both programs.
        r.message += QStringLiteral("\n入札サービスが受け付けたかどうかわかりません。入札サービスの"
                                    "画面で確かめてください。この商品はここでは入札しません"
                                    "（上限価格と入札数量を保存し直すと、ここで入札します）。");
        ctx.log.LOGTodb(QStringLiteral("入札サービスに任せられたかどうかわかりません：") +
                        item->itemid + QStringLiteral("（") + item->Itemname +
                        QStringLiteral("）。ここでは入札しません"));
    } else if (!host.saveLimits(id, before, &error)) { // refused, or never reached: ours again
        r.message += QStringLiteral("\n") + error;
    }
    co_return r;
}

QCoro::Task<std::optional<QString>> serviceVerdict(const SettingsStore &settings, QString itemid)
{
    QString why;
    const auto service = serviceOf(settings, &why);
    if (!service)
        co_return std::nullopt;
    const auto &[url, token] = *service;
    QNetworkRequest request(url.resolved(QUrl(QStringLiteral("/api/items/") + itemid)));
    request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
    request.setTransferTimeout(15000);
    auto nam = std::make_unique<QNetworkAccessManager>();
    QNetworkReply *reply = nam->get(request);
    co_await qCoro(reply).waitForFinished(std::chrono::milliseconds(16000));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString verdict = QJsonDocument::fromJson(reply->readAll())
                                .object()
                                .value(QStringLiteral("verdict"))
                                .toString();
    reply->deleteLater();
    if (status != 200 || verdict.isEmpty())
        co_return std::nullopt;
    co_return verdict;
}

ServiceVerdicts::ServiceVerdicts(BidHost &host, QObject *parent) : QObject(parent), m_host(host)
{
    auto *timer = new QTimer(this);
    timer->setInterval(60'000);
    connect(timer, &QTimer::timeout, this, [this] { check(); });
    timer->start();
}

QCoro::Task<> ServiceVerdicts::check()
{
    if (m_checking)
        co_return;
    m_checking = true;
    QPointer<ServiceVerdicts> self(this);
    AppContext &ctx = m_host.context();
    const QDateTime now = sw::now();
    for (const QString &itemid : handedOverItems(ctx.settings)) {
        const std::optional<ItemRecord> row = ctx.db.itemByItemid(itemid);
        if (!row || !row->Verdict.isEmpty() || row->enddate > now)
            continue;
        const std::optional<QString> verdict = co_await serviceVerdict(ctx.settings, itemid);
        if (!self)
            co_return;
        if (!verdict)
            continue;
        if (!ctx.db.setVerdict(row->id, *verdict)) {
            ctx.log.LOGTodb(QStringLiteral("結果を保存できませんでした：") + itemid +
                            QStringLiteral("：") + ctx.db.lastError());
            continue;
        }
        ctx.log.LOGTodb(QStringLiteral("最終結果（入札サービス）：") + itemid +
                        QStringLiteral("：") + row->Itemname + QStringLiteral("：") + *verdict);
        if (ArmedBid *b = m_host.bids().find(row->id))
            b->takeServiceVerdict(*verdict);
        emit m_host.itemsChanged();
    }
    m_checking = false;
}

} // namespace sw
