#include "simscenario.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sim {

QTimeZone japanTime()
{
    static const QTimeZone zone(9 * 3600);
    return zone;
}

QDateTime Scenario::now() const
{
    return QDateTime::currentDateTimeUtc().addMSecs(clockOffsetMs).toTimeZone(japanTime());
}

qint32 siteBidUnit(qint32 price)
{
    if (price < 1000)
        return 10;
    if (price < 5000)
        return 100;
    if (price < 10000)
        return 250;
    if (price < 50000)
        return 500;
    return 1000;
}

QString Item::winner(const QDateTime &now) const
{
    if (!ended(now) || cancelled || highBidder.isEmpty() || (reserve > 0 && price < reserve))
        return {};
    return highBidder;
}

qint32 Item::unit() const
{
    return bidUnit > 0 ? bidUnit : siteBidUnit(price);
}

qint32 Item::minimumBid() const
{
    return bids > 0 ? price + unit() : price;
}

BidOutcome Item::bid(const QString &bidder, qint32 amount, const QDateTime &now, int quantity)
{
    if (ended(now) || cancelled)
        return BidOutcome::Ended;
    if (!originalEnd.isValid())
        originalEnd = end;
    const BidOutcome outcome = bidOnce(bidder, amount, now);
    if (outcome == BidOutcome::Accepted || outcome == BidOutcome::BoughtOutright ||
        outcome == BidOutcome::Outbid)
        quantities[bidder] = quantity;
    return outcome;
}

BidOutcome Item::bidOnce(const QString &bidder, qint32 amount, const QDateTime &now)
{
    const qint32 oldPrice = price;
    if (buyNow > 0 && amount >= buyNow) {
        highBidder = bidder;
        maxBids[bidder] = amount;
        price = buyNow;
        ++bids;
        end = now;
        return BidOutcome::BoughtOutright;
    }
    if (!highBidder.isEmpty() && highBidder.compare(bidder, Qt::CaseInsensitive) == 0) {
        maxBids[highBidder] = qMax(maxBids.value(highBidder), amount);
        return BidOutcome::Accepted;
    }
    const qint32 minimum = bids > 0 ? price + unit() : price;
    if (amount < minimum)
        return BidOutcome::TooLow;
    if (reserve > 0 && amount < reserve)
        return BidOutcome::BelowReserve;
    ++bids;
    BidOutcome outcome = BidOutcome::Accepted;
    if (highBidder.isEmpty()) {
        highBidder = bidder;
        maxBids[bidder] = amount;
    } else {
        const qint32 leaderMax = maxBids.value(highBidder, price);
        maxBids[bidder] = amount;
        if (amount > leaderMax) {
            price = qMin(amount, leaderMax + (bidUnit > 0 ? bidUnit : siteBidUnit(leaderMax)));
            highBidder = bidder;
        } else {
            // The leader's proxy bid answers at once; an equal amount loses to the earlier bid.
            price = qMin(leaderMax, amount + (bidUnit > 0 ? bidUnit : siteBidUnit(amount)));
            outcome = BidOutcome::Outbid;
        }
    }
    if (reserve > 0 && price < reserve && maxBids.value(highBidder) >= reserve)
        price = reserve;
    if (autoExtend && price > oldPrice && now.secsTo(end) <= extensionSecs)
        end = end.addSecs(extensionSecs);
    return outcome;
}

std::optional<Fault::Kind> Fault::kindFromName(const QString &name)
{
    const QString n = name.toLower();
    if (n == QLatin1String("latency"))
        return Latency;
    if (n == QLatin1String("onebyte") || n == QLatin1String("short"))
        return OneByte;
    if (n == QLatin1String("drop"))
        return Drop;
    if (n == QLatin1String("stall"))
        return Stall;
    if (n == QLatin1String("http500") || n == QLatin1String("500"))
        return Http500;
    if (n == QLatin1String("loginpage"))
        return LoginPage;
    if (n == QLatin1String("errorpage"))
        return ErrorPage;
    if (n == QLatin1String("http503") || n == QLatin1String("503"))
        return Http503;
    if (n == QLatin1String("stale"))
        return Stale;
    return std::nullopt;
}

QString Fault::name(Kind kind)
{
    switch (kind) {
    case Latency:
        return QStringLiteral("latency");
    case OneByte:
        return QStringLiteral("onebyte");
    case Drop:
        return QStringLiteral("drop");
    case Stall:
        return QStringLiteral("stall");
    case Http500:
        return QStringLiteral("http500");
    case LoginPage:
        return QStringLiteral("loginpage");
    case ErrorPage:
        return QStringLiteral("errorpage");
    case Http503:
        return QStringLiteral("http503");
    case Stale:
        return QStringLiteral("stale");
    }
    return {};
}

Item *Scenario::item(const QString &id)
{
    for (Item &it : items) {
        if (it.id == id)
            return &it;
    }
    return nullptr;
}

const Bidder *Scenario::bidder(const QString &id) const
{
    for (const Bidder &b : bidders) {
        if (b.id.compare(id, Qt::CaseInsensitive) == 0)
            return &b;
    }
    return nullptr;
}

std::optional<Scenario> Scenario::fromJson(const QByteArray &json, const QDateTime &start,
                                           QString *error)
{
    auto failWith = [error](const QString &text) {
        if (error)
            *error = text;
        return std::nullopt;
    };
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (!doc.isObject())
        return failWith(QStringLiteral("scenario is not a JSON object: ") + pe.errorString());
    const QJsonObject o = doc.object();
    Scenario s;
    s.clockOffsetMs = qint64(o.value(QLatin1String("clockOffset")).toDouble(0) * 1000);
    s.start = start.addMSecs(s.clockOffsetMs);
    auto str = [](const QJsonObject &obj, const char *key, QString &value) {
        const QJsonValue v = obj.value(QLatin1String(key));
        if (v.isString())
            value = v.toString();
    };
    str(o, "scheme", s.scheme);
    str(o, "domain", s.domain);
    const QJsonObject hosts = o.value(QLatin1String("hosts")).toObject();
    str(hosts, "user", s.userHost);
    str(hosts, "login", s.loginHost);
    str(hosts, "search", s.searchHost);
    str(hosts, "list", s.listHost);
    str(hosts, "main", s.mainHost);
    str(hosts, "profile", s.profileHost);
    s.halfWidthLabels = o.value(QLatin1String("halfWidthLabels")).toBool(false);
    s.today = o.value(QLatin1String("site")).toString() == QLatin1String("today");
    str(o, "pageVariant", s.pageVariant);
    s.watchPageSize = qMax(1, o.value(QLatin1String("watchPageSize")).toInt(s.watchPageSize));
    s.showSeconds = o.value(QLatin1String("showSeconds")).toBool(false);

    for (const QJsonValue &v : o.value(QLatin1String("bidders")).toArray()) {
        const QJsonObject b = v.toObject();
        Bidder bidder;
        bidder.id = b.value(QLatin1String("id")).toString();
        bidder.password = b.value(QLatin1String("password")).toString();
        bidder.smsCode = b.value(QLatin1String("smsCode")).toString();
        for (const QJsonValue &w : b.value(QLatin1String("watchlist")).toArray())
            bidder.watchlist << w.toString();
        if (bidder.id.isEmpty())
            return failWith(QStringLiteral("a bidder without id"));
        s.bidders << bidder;
    }
    for (const QJsonValue &v : o.value(QLatin1String("items")).toArray()) {
        const QJsonObject j = v.toObject();
        Item it;
        it.id = j.value(QLatin1String("id")).toString();
        if (it.id.isEmpty())
            return failWith(QStringLiteral("an item without id"));
        it.server = j.value(QLatin1String("server")).toInt(1);
        it.bareWhenEnded = j.value(QLatin1String("bareWhenEnded")).toBool(false);
        it.title = j.value(QLatin1String("title")).toString(it.id);
        it.seller = j.value(QLatin1String("seller")).toString(QStringLiteral("seller"));
        it.startPrice = j.value(QLatin1String("startPrice")).toInt(1);
        it.price = j.value(QLatin1String("currentPrice")).toInt(it.startPrice);
        it.bids = j.value(QLatin1String("bids")).toInt(0);
        it.highBidder = j.value(QLatin1String("highBidder")).toString();
        it.bidUnit = j.value(QLatin1String("bidUnit")).toInt(0);
        it.quantity = j.value(QLatin1String("quantity")).toInt(1);
        it.buyNow = j.value(QLatin1String("buyNow")).toInt(0);
        it.reserve = j.value(QLatin1String("reserve")).toInt(0);
        it.autoExtend = j.value(QLatin1String("autoExtend")).toBool(true);
        it.showUnit = j.value(QLatin1String("showUnit")).toBool(true);
        it.extensionSecs = j.value(QLatin1String("extensionSecs")).toInt(300);
        it.description = j.value(QLatin1String("description")).toString();
        it.store = j.value(QLatin1String("store")).toBool(false);
        it.earlyEnd = j.value(QLatin1String("earlyEnd")).toBool(false);
        it.endEarlyAt = j.value(QLatin1String("endEarlyAt")).toDouble(-1);
        it.cancelAt = j.value(QLatin1String("cancelAt")).toDouble(-1);
        it.sellerKey = j.value(QLatin1String("sellerKey")).toString();
        if (!j.contains(QLatin1String("endsIn")))
            return failWith(QStringLiteral("item ") + it.id + QStringLiteral(" has no endsIn"));
        it.end = s.start.addMSecs(qint64(j.value(QLatin1String("endsIn")).toDouble() * 1000));
        if (!s.showSeconds) {
            const qint64 ms = it.end.toMSecsSinceEpoch();
            it.end = QDateTime::fromMSecsSinceEpoch((ms + 59999) / 60000 * 60000, japanTime());
        }
        for (const QJsonValue &r : j.value(QLatin1String("rivals")).toArray()) {
            const QJsonObject ro = r.toObject();
            RivalBid rival;
            rival.bidder = ro.value(QLatin1String("bidder")).toString();
            rival.max = ro.value(QLatin1String("max")).toInt();
            rival.at = ro.value(QLatin1String("at")).toDouble(-1);
            rival.beforeEnd = ro.value(QLatin1String("beforeEnd")).toDouble(-1);
            if (rival.bidder.isEmpty() || rival.max <= 0 || (rival.at < 0 && rival.beforeEnd < 0))
                return failWith(QStringLiteral("item ") + it.id +
                                QStringLiteral(": a rival needs bidder, max and at or beforeEnd"));
            it.rivals << rival;
        }
        if (!it.highBidder.isEmpty())
            it.maxBids.insert(it.highBidder,
                              j.value(QLatin1String("highBidderMax")).toInt(it.price));
        for (const QJsonValue &c : j.value(QLatin1String("category")).toArray()) {
            const QJsonObject co = c.toObject();
            it.trail << Category{co.value(QLatin1String("id")).toVariant().toLongLong(),
                                 co.value(QLatin1String("name")).toString()};
        }
        it.originalEnd = it.end;
        s.items << it;
    }
    for (const QJsonValue &v : o.value(QLatin1String("faults")).toArray()) {
        const QJsonObject j = v.toObject();
        Fault f;
        const auto kind = Fault::kindFromName(j.value(QLatin1String("kind")).toString());
        if (!kind)
            return failWith(QStringLiteral("unknown fault kind: ") +
                            j.value(QLatin1String("kind")).toString());
        f.kind = *kind;
        str(j, "host", f.host);
        str(j, "path", f.path);
        f.ms = j.value(QLatin1String("ms")).toInt(0);
        f.inMs = j.value(QLatin1String("inMs")).toInt(0);
        f.count = j.value(QLatin1String("count")).toInt(-1);
        f.beforeProcessing = j.value(QLatin1String("before")).toBool(false);
        s.faults << f;
    }
    return s;
}

} // namespace sim
