#include "serviceapi.h"

#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "armedbids.h"
#include "autobid.h"
#include "bidhost.h"
#include "clock.h"
#include "database.h"
#include "itemcapture.h"
#include "itemjson.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>

// The items of the service's API: list, log, add, change and delete.
namespace sw {

namespace {
constexpr int kMaxLogLines = 500;
}

std::optional<int> ServiceApi::idOf(const QString &itemid) const
{
    const std::optional<ItemRecord> r = m_host.context().db.itemByItemid(itemid);
    if (!r)
        return std::nullopt;
    return r->id;
}

ServiceApi::Answer ServiceApi::items() const
{
    AppContext &ctx = m_host.context();
    QJsonArray out;
    QSet<int> seen;
    // Every bid with something to tell, then the items armed but not taken up yet.
    QList<ArmedBid *> bids = m_host.bids().all();
    std::stable_sort(bids.begin(), bids.end(), [](const ArmedBid *a, const ArmedBid *b) {
        return a->endTime() < b->endTime();
    });
    for (const ArmedBid *b : bids) {
        if (b->deleted() || b->dismissed())
            continue;
        if (!b->armed() && b->lastResult().isEmpty() && b->verdict().isEmpty())
            continue;
        seen.insert(b->id());
        out << itemJson(b->item(), b);
    }
    for (const ItemRecord &r : m_host.pendingBids()) {
        if (!seen.contains(r.id)) {
            seen.insert(r.id);
            out << itemJson(r, nullptr);
        }
    }
    // Verdicts of earlier runs stay until the user clears them.
    for (const ItemRecord &r : ctx.db.itemsWithVerdict().value_or(QList<ItemRecord>{})) {
        const ArmedBid *b = m_host.bids().find(r.id);
        if (!seen.contains(r.id) && !(b && (b->dismissed() || b->deleted())))
            out << itemJson(r, nullptr);
    }
    return json(200, out);
}

ServiceApi::Answer ServiceApi::itemLog(const QString &itemid) const
{
    ItemDatabase &db = m_host.context().db;
    if (!idOf(itemid))
        return error(404, QStringLiteral("その商品はありません：") + itemid);
    m_host.context().log.flush();
    const std::optional<QList<LogEntry>> entries = db.logEntries();
    if (!entries)
        return error(500, QStringLiteral("ログを読めません：") + db.lastError());
    // The item's id as a word of its own: x1's lines, not x10's.
    const QRegularExpression mine(QStringLiteral("(?:^|[：:（( \\s])") +
                                  QRegularExpression::escape(itemid) +
                                  QStringLiteral("(?:$|[：:）) \\s])"));
    QJsonArray out;
    for (const LogEntry &e : *entries) {
        if (!mine.match(e.Memo).hasMatch())
            continue;
        out << QJsonObject{{QStringLiteral("time"), isoSiteTime(e.tDate)},
                           {QStringLiteral("text"), e.Memo}};
        if (out.size() >= kMaxLogLines)
            break;
    }
    return json(200, out);
}

ServiceApi::Answer ServiceApi::changeItem(const QString &itemid, const QByteArray &body)
{
    const std::optional<int> id = idOf(itemid);
    if (!id)
        return error(404, QStringLiteral("その商品はありません：") + itemid);
    QString why;
    const std::optional<QJsonObject> o = jsonObjectOf(body, &why);
    if (!o)
        return error(400, why);
    AppContext &ctx = m_host.context();
    const ArmedBid *bid = m_host.bids().find(*id);
    const ItemRecord r = bid ? bid->item() : *ctx.db.itemById(*id);
    if (o->contains(QStringLiteral("version")) &&
        o->value(QStringLiteral("version")).toString() != limitsVersion(r))
        return error(409, changedElsewhereText(r));
    BidLimits l{r.ItemYen, r.Numkai, r.cat, r.status};
    if (o->contains(QStringLiteral("max"))) {
        const std::optional<qint64> max = yenOf(o->value(QStringLiteral("max")));
        if (!max)
            return error(400, tooMuchText());
        l.max = *max;
    }
    if (o->contains(QStringLiteral("quantity"))) {
        const std::optional<int> q = quantityOf(o->value(QStringLiteral("quantity")));
        if (!q)
            return error(400, QStringLiteral("入札数量は0から99までの整数で指定してください。"));
        l.quantity = *q;
    }
    if (o->contains(QStringLiteral("category"))) {
        const std::optional<QString> c = categoryOf(o->value(QStringLiteral("category")));
        if (!c)
            return error(400, QStringLiteral("カテゴリは0から9までの数字で指定してください。"));
        l.cat = *c;
    }
    if (!m_host.saveLimits(*id, l, &why))
        return error(400, why);
    return json(200, itemJson(*ctx.db.itemById(*id), m_host.bids().find(*id)));
}

ServiceApi::Answer ServiceApi::deleteItem(const QString &itemid)
{
    const std::optional<int> id = idOf(itemid);
    if (!id)
        return error(404, QStringLiteral("その商品はありません：") + itemid);
    QString why;
    if (!m_host.deleteItem(*id, &why))
        return error(500, why);
    return json(200, QJsonObject{{QStringLiteral("deleted"), itemid}});
}

QCoro::Task<> ServiceApi::addItem(QByteArray body, QPointer<QTcpSocket> socket)
{
    QString why;
    const std::optional<QJsonObject> o = jsonObjectOf(body, &why);
    if (!o) {
        send(socket, error(400, why));
        co_return;
    }
    const QString text = o->value(QStringLiteral("item")).toString();
    const std::optional<ItemAddress> where = itemFromUserText(text, m_host.context().hosts);
    if (!where) {
        send(socket, error(400, QStringLiteral("商品ページのアドレスでもオークションIDでもありませ"
                                               "ん：") +
                                    text.trimmed()));
        co_return;
    }
    const std::optional<qint64> max = yenOf(o->value(QStringLiteral("max")));
    if (!max) {
        send(socket, error(400, tooMuchText()));
        co_return;
    }
    const std::optional<int> quantity = o->contains(QStringLiteral("quantity"))
                                            ? quantityOf(o->value(QStringLiteral("quantity")))
                                            : std::optional<int>(1);
    if (!quantity) {
        send(socket, error(400, QStringLiteral("入札数量は0から99までの整数で指定してください。")));
        co_return;
    }
    const std::optional<QString> cat = o->contains(QStringLiteral("category"))
                                           ? categoryOf(o->value(QStringLiteral("category")))
                                           : std::optional<QString>(QStringLiteral("0"));
    if (!cat) {
        send(socket, error(400, QStringLiteral("カテゴリは0から9までの数字で指定してください。")));
        co_return;
    }
    AppContext &ctx = m_host.context();
    // The page is read first; nothing is stored unless it is a running auction's page.
    m_fetcher->applyProxySetting(
        ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()));
    const QString url = ctx.hosts.itemPage(where->serverid, where->itemid);
    const FetchResult page = co_await m_fetcher->FetchPage(url, false);
    if (!page.ok) {
        send(socket,
             error(502, QStringLiteral("商品ページを読み込めませんでした。ヤフオク!に接続でき"
                                       "るか確認してください。")));
        co_return;
    }
    const ItemPage read = readItemPage(url, page.text, sw::now());
    if (!read.ok()) {
        send(socket, error(400, notAnItemPageText() + QStringLiteral("（") + read.failure +
                                    QStringLiteral("）")));
        co_return;
    }
    if (read.item.fin || read.item.enddate <= sw::now()) {
        send(socket,
             error(400, QStringLiteral("このオークションは終了しています：") + read.item.itemid));
        co_return;
    }
    // Someone else (another phone, the desktop) armed it meanwhile: their bid is not
    // overwritten unseen.
    if (const std::optional<ItemRecord> there = ctx.db.itemByItemid(read.item.itemid);
        there && there->ItemYen > 0 && there->Numkai > 0 && !there->fin &&
        (there->ItemYen != *max || there->Numkai != *quantity || there->cat != *cat)) {
        send(socket, error(409, changedElsewhereText(*there)));
        co_return;
    }
    if (ctx.parser.ParseItemPage(url, page.text, 0, 0, false, false) == NothingStored) {
        send(socket,
             error(500, ctx.parser.storeFailed() ? ctx.parser.storeFailureText(where->itemid)
                                                 : notAnItemPageText()));
        co_return;
    }
    const std::optional<ItemRecord> stored = ctx.db.itemByItemid(read.item.itemid);
    if (!stored) {
        send(socket, error(500, QStringLiteral("保存できませんでした：") + ctx.db.lastError()));
        co_return;
    }
    BidLimits l{*max, *quantity, *cat, stored->status};
    if (!m_host.saveLimits(stored->id, l, &why)) {
        send(socket, error(400, why));
        co_return;
    }
    m_host.tick(); // taken up at once when its bid is near
    ctx.log.LOGTodb(QStringLiteral("入札サービス：商品を追加しました：") + stored->itemid +
                    QStringLiteral("（") + stored->Itemname + QStringLiteral("）上限価格") +
                    formatYen(*max) + QStringLiteral("円"));
    send(socket, json(201, itemJson(*ctx.db.itemById(stored->id), m_host.bids().find(stored->id))));
}

} // namespace sw
