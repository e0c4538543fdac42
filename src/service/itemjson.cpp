#include "itemjson.h"

#include "armedbid.h"
#include "itemreading.h"
#include "siteclock.h"

namespace sw {

QString isoSiteTime(const QDateTime &t)
{
    return t.isValid() ? inSiteZone(t).toString(Qt::ISODate) : QString();
}

QString stateName(const ItemRecord &item, const ArmedBid *bid)
{
    if (bid) {
        switch (bid->state()) {
        case ArmedBid::State::Planned:
            return QStringLiteral("planned");
        case ArmedBid::State::Sent:
            return QStringLiteral("sent");
        case ArmedBid::State::Leading:
            return QStringLiteral("leading");
        case ArmedBid::State::Won:
            return QStringLiteral("won");
        case ArmedBid::State::Lost:
            return QStringLiteral("lost");
        case ArmedBid::State::Error:
            return QStringLiteral("error");
        }
    }
    if (item.fin)
        return item.status == Won ? QStringLiteral("won") : QStringLiteral("lost");
    return QStringLiteral("planned");
}

QString limitsVersion(const ItemRecord &it)
{
    return QString::number(it.ItemYen) + QLatin1Char('-') + QString::number(it.Numkai) +
           QLatin1Char('-') + it.cat;
}

QJsonObject itemJson(const ItemRecord &stored, const ArmedBid *bid)
{
    const ItemRecord &it = bid ? bid->item() : stored;
    return QJsonObject{
        {QStringLiteral("itemid"), it.itemid},
        {QStringLiteral("name"), it.Itemname},
        {QStringLiteral("end"), isoSiteTime(it.enddate)},
        {QStringLiteral("max"), double(it.ItemYen)},
        {QStringLiteral("quantity"), it.Numkai},
        {QStringLiteral("category"), it.cat},
        {QStringLiteral("price"), double(it.ItemYenNow)},
        {QStringLiteral("bidder"), it.SaikougakuShaid},
        {QStringLiteral("bidderText"), bid ? bid->leaderText() : leaderText(it.SaikougakuShaid)},
        {QStringLiteral("state"), stateName(it, bid)},
        {QStringLiteral("stateText"),
         bid ? ArmedBid::stateText(bid->state())
         : it.fin
             ? (it.status == Won ? QStringLiteral("落札") : QStringLiteral("落札できませんでした"))
             : QStringLiteral("予定")},
        {QStringLiteral("lastResult"), bid ? bid->lastResult() : QString()},
        {QStringLiteral("verdict"),
         bid && !bid->verdict().isEmpty() ? bid->verdict() : stored.Verdict},
        {QStringLiteral("version"), limitsVersion(it)},
        {QStringLiteral("bidTime"), bid && bid->armed() ? isoSiteTime(bid->bidTime()) : QString()},
    };
}

} // namespace sw
