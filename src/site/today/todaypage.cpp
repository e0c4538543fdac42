#include "todaypage.h"

#include "datablocks.h"
#include "itemparser.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "textconv.h"

#include <QJsonArray>

namespace sw {

namespace {

const QString kNext = QStringLiteral("__NEXT_DATA__");
const QString kPage = QStringLiteral("pageData");
const QString kItemPath = QStringLiteral("props.pageProps.initialState.item.detail.item");
const QString kStatePath = QStringLiteral("props.pageProps.initialState");

// Reads the item's fields from the two blocks, the __NEXT_DATA__ item first, and notes
// where each came from and what neither had.
class Fields
{
public:
    Fields(const DataBlocks &b, ItemPage &out) : m_out(out)
    {
        if (b.nextData) {
            m_item = valueAt(*b.nextData, kItemPath).toObject();
            m_state = valueAt(*b.nextData, kStatePath).toObject();
        }
        if (b.pageData) {
            m_pageItems = b.pageData->value(QStringLiteral("items")).toObject();
            m_navigation = b.pageData->value(QStringLiteral("navigation")).toObject();
        }
    }
    bool empty() const { return m_item.isEmpty() && m_pageItems.isEmpty(); }
    const QJsonObject &state() const { return m_state; }
    const QJsonObject &navigation() const { return m_navigation; }

    // The value under `nextKey` of the item, else `pageKey` of pageData's items; an
    // undefined value (and a note in `missing`) when neither has it.
    QJsonValue take(const QString &name, const QString &nextKey, const QString &pageKey,
                    bool noteMissing = true)
    {
        if (!nextKey.isEmpty()) {
            const QJsonValue v = valueAt(m_item, nextKey);
            if (!v.isUndefined() && !v.isNull()) {
                note(name, kNext, v);
                return v;
            }
        }
        if (!pageKey.isEmpty()) {
            const QJsonValue v = m_pageItems.value(pageKey);
            if (!v.isUndefined() && !v.isNull()) {
                note(name, kPage, v);
                return v;
            }
        }
        if (noteMissing)
            m_out.missing << name;
        return QJsonValue(QJsonValue::Undefined);
    }
    void note(const QString &name, const QString &block, const QJsonValue &v)
    {
        QString text = textOf(v);
        if (v.isBool())
            text = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        else if (v.isArray() || v.isObject())
            text = QStringLiteral("…");
        m_out.fields << ReadField{name, block, text};
    }

private:
    ItemPage &m_out;
    QJsonObject m_item;
    QJsonObject m_state;
    QJsonObject m_pageItems;
    QJsonObject m_navigation;
};

// "2026-12-08T21:00:00+09:00" (with its offset; without one, Japan time).
std::optional<QDateTime> isoTime(const QString &text)
{
    QDateTime t = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!t.isValid())
        return std::nullopt;
    if (t.timeSpec() == Qt::LocalTime)
        t = QDateTime(t.date(), t.time(), siteZone());
    return t;
}

// "2026-12-08 21:00:00", which pageData writes in Japan time.
std::optional<QDateTime> japanTimeText(const QString &text)
{
    const QDateTime t =
        QDateTime::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        return std::nullopt;
    return QDateTime(t.date(), t.time(), siteZone());
}

// Unix seconds, as a number or as text.
std::optional<QDateTime> unixTime(const QJsonValue &v)
{
    const std::optional<qint64> s = numberOf(v);
    if (!s || *s < 946684800 || *s > 4102444800) // 2000 … 2100
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(*s, siteZone());
}

std::optional<bool> loginIn(const QJsonObject &state, const QJsonObject &navigation)
{
    if (const std::optional<bool> f =
            flagOf(valueAt(state, QStringLiteral("login.campaign.isLogin")));
        f && !valueAt(state, QStringLiteral("login.campaign.isLogin")).isUndefined())
        return f;
    const QJsonValue v = navigation.value(QStringLiteral("isLogin"));
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    return flagOf(v);
}

ItemPage readToday(const QString *url, const QString &html, const QDateTime &now,
                   const SiteHosts &hosts)
{
    ItemPage out;
    out.generation = SiteGeneration::Today;
    ItemRecord &it = out.item;
    it.SiteGen = TodayPage;
    const DataBlocks blocks = readDataBlocks(html);
    Fields f(blocks, out);
    if (f.empty()) {
        out.failure = QStringLiteral("商品ページではありません（__NEXT_DATA__ の商品も pageData "
                                     "の items もありません");
        if (!blocks.problems.isEmpty())
            out.failure += QStringLiteral("：") + blocks.problems.join(QStringLiteral("、"));
        out.failure += QStringLiteral("）");
        out.missing << QStringLiteral("__NEXT_DATA__ ") + kItemPath
                    << QStringLiteral("pageData.items");
        return out;
    }
    out.loggedIn = loginIn(f.state(), f.navigation());
    out.shouldSms =
        flagOf(valueAt(f.state(), QStringLiteral("common.app.shouldSms"))).value_or(false);

    const QString dataId = textOf(f.take(QStringLiteral("auctionId"), QStringLiteral("auctionId"),
                                         QStringLiteral("productID")))
                               .trimmed();
    if (url) {
        const std::optional<ItemAddress> address = SiteHosts::parseItemPageUrl(*url, hosts);
        if (!address) {
            out.failure = QStringLiteral("商品ページのアドレスではありません：") + *url;
            return out;
        }
        if (!dataId.isEmpty() && dataId != address->itemid) {
            out.failure = QStringLiteral("別の商品のページが表示されました（") + dataId +
                          QStringLiteral("）");
            return out;
        }
        it.itemid = address->itemid;
        it.Serverid = address->serverid;
    } else {
        it.itemid = dataId;
    }

    it.Itemname = FoldKanaText(textOf(f.take(QStringLiteral("title"), QStringLiteral("title"),
                                             QStringLiteral("productName")))
                                   .trimmed());
    if (it.Itemname.isEmpty()) {
        out.failure = QStringLiteral("商品ページではありません（商品名がありません）");
        return out;
    }
    // A value that is not there is 0 (and noted when the page should have it); one that is
    // there must read as a number.
    auto amount = [&](const QString &name, const QString &nextKey, const QString &pageKey,
                      bool expected, qint64 &target) {
        const QJsonValue v = f.take(name, nextKey, pageKey, expected);
        if (v.isUndefined()) {
            target = 0;
            return true;
        }
        const std::optional<qint64> n = numberOf(v);
        if (!n) {
            out.failure = name + QStringLiteral("が数字ではありません：") + textOf(v);
            return false;
        }
        target = *n;
        return true;
    };
    if (!amount(QStringLiteral("price"), QStringLiteral("price"), QStringLiteral("price"), true,
                it.ItemYenNow))
        return out;
    if (out.missing.contains(QStringLiteral("price"))) {
        out.failure = QStringLiteral("商品ページではありません（現在価格がありません）");
        return out;
    }
    qint64 taxin = 0;
    if (!amount(QStringLiteral("taxinPrice"), QStringLiteral("taxinPrice"), QString(), false,
                taxin) ||
        !amount(QStringLiteral("initPrice"), QStringLiteral("initPrice"), QString(), true,
                it.ItemYenStart) ||
        !amount(QStringLiteral("bidorbuy"), QStringLiteral("bidorbuy"), QString(), false,
                it.ItemYenKibou) ||
        !amount(QStringLiteral("quantity"), QStringLiteral("quantity"), QStringLiteral("quantity"),
                true, it.NumUri) ||
        !amount(QStringLiteral("bids"), QStringLiteral("bids"), QStringLiteral("bids"), true,
                it.NumNyuusatu))
        return out;
    if (!out.failure.isEmpty())
        return out;
    it.ItemYenTaxin = taxin != it.ItemYenNow ? taxin : 0;
    if (it.NumUri <= 0)
        it.NumUri = 1; // an auction offers at least one

    // The end to the second: never the formatted text, which shows minutes only.
    std::optional<QDateTime> end;
    if (const QJsonValue v =
            f.take(QStringLiteral("endTime"), QStringLiteral("endTime"), QString(), false);
        v.isString())
        end = isoTime(v.toString());
    if (!end)
        end = unixTime(f.take(QStringLiteral("timeForUlt.endTime"),
                              QStringLiteral("timeForUlt.endTime"), QString(), false));
    if (!end) {
        if (const QJsonValue v =
                f.take(QStringLiteral("endtime"), QString(), QStringLiteral("endtime"), false);
            v.isString())
            end = japanTimeText(v.toString());
    }
    if (!end) {
        out.missing << QStringLiteral("endTime");
        out.failure = QStringLiteral("終了日時を読めません（endTime、timeForUlt.endTime、pageData "
                                     "の endtime のどれもありません）");
        return out;
    }
    it.enddate = *end;

    const QString status =
        textOf(f.take(QStringLiteral("status"), QStringLiteral("status"), QString(), false));
    const bool closedFlag =
        flagOf(f.take(QStringLiteral("isClosed"), QString(), QStringLiteral("isClosed"), false))
            .value_or(false);
    out.cancelled = status == QLatin1String("cancel");
    out.endedShown = status == QLatin1String("closed") || out.cancelled || closedFlag;
    it.fin = out.endedShown || it.enddate <= now;
    it.Flagjidouencho = flagOf(f.take(QStringLiteral("isAutomaticExtension"),
                                      QStringLiteral("isAutomaticExtension"), QString()))
                            .value_or(false);
    it.EarlyEnd = flagOf(f.take(QStringLiteral("isEarlyClosing"), QStringLiteral("isEarlyClosing"),
                                QString(), false))
                      .value_or(false);
    it.ShuppinShaID = textOf(f.take(QStringLiteral("seller.displayName"),
                                    QStringLiteral("seller.displayName"), QString()));
    it.SellerKey = textOf(f.take(QStringLiteral("seller.aucUserId"),
                                 QStringLiteral("seller.aucUserId"), QString(), false));
    const QJsonValue path =
        f.take(QStringLiteral("category.path"), QStringLiteral("category.path"), QString(), false);
    QStringList names;
    for (const QJsonValue &c : path.toArray()) {
        const QString name = textOf(c.toObject().value(QStringLiteral("name"))).trimmed();
        if (!name.isEmpty())
            names << name;
    }
    it.CatPath = names.join(QStringLiteral(" > "));

    // Who leads is not on today's page: an auction without bids has nobody, and after the
    // end the page tells its reader whether they won.
    out.winnerIsViewer = flagOf(f.navigation().value(QStringLiteral("isWinner"))).value_or(false);
    if (out.winnerIsViewer)
        f.note(QStringLiteral("isWinner"), kPage, f.navigation().value(QStringLiteral("isWinner")));
    out.hasWinner =
        flagOf(f.take(QStringLiteral("hasWinner"), QString(), QStringLiteral("hasWinner"), false))
            .value_or(false);
    out.winPrice =
        numberOf(f.take(QStringLiteral("winPrice"), QString(), QStringLiteral("winPrice"), false))
            .value_or(0);
    if (it.NumNyuusatu == 0) {
        it.SaikougakuShaid = QStringLiteral("-");
    } else {
        it.SaikougakuShaid.clear();
        out.leaderKnown = false;
    }
    return out;
}

} // namespace

ItemPage readTodayItemPage(const QString &url, const QString &html, const QDateTime &now,
                           const SiteHosts &hosts)
{
    return readToday(&url, html, now, hosts);
}

std::optional<ItemState> todayItemState(const QString &html, const QString &ownId,
                                        const QDateTime &now, qint64 endedAfterMs,
                                        const SiteHosts &hosts)
{
    const ItemPage page = readToday(nullptr, html, now, hosts);
    if (!page.ok())
        return std::nullopt;
    ItemState s;
    s.generation = SiteGeneration::Today;
    s.price = page.item.ItemYenNow;
    s.bids = page.item.NumNyuusatu;
    s.end = page.item.enddate;
    s.bidder = page.item.SaikougakuShaid;
    s.leaderKnown = page.leaderKnown;
    s.hasWinner = page.hasWinner;
    s.cancelled = page.cancelled;
    s.loggedIn = page.loggedIn;
    // The page's own status decides; its end time alone only once it is well past (beyond
    // what this machine's idea of the site's clock may be off).
    s.finished = page.endedShown || page.item.enddate.addMSecs(endedAfterMs) <= now;
    if (page.winnerIsViewer && s.finished && !ownId.isEmpty()) {
        s.bidder = ownId;
        s.leaderKnown = true;
    }
    s.item = page.item;
    return s;
}

std::optional<bool> todayLoginState(const QString &html)
{
    const DataBlocks b = readDataBlocks(html);
    const QJsonObject state =
        b.nextData ? valueAt(*b.nextData, kStatePath).toObject() : QJsonObject();
    const QJsonObject navigation =
        b.pageData ? b.pageData->value(QStringLiteral("navigation")).toObject() : QJsonObject();
    return loginIn(state, navigation);
}

} // namespace sw
