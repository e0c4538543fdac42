#include "itemjson.h"

#include "armedbid.h"
#include "autobid.h"
#include "itemreading.h"
#include "siteclock.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

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

std::optional<qint64> wholeIn(const QJsonValue &v, qint64 lo, qint64 hi)
{
    std::optional<qint64> n;
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d >= double(lo) && d <= double(hi) && d == std::floor(d))
            n = qint64(d);
    } else if (v.isString()) {
        n = amountOf(v.toString());
    }
    if (!n || *n < lo || *n > hi)
        return std::nullopt;
    return n;
}

std::optional<qint64> yenOf(const QJsonValue &v)
{
    return wholeIn(v, 1, kMaxBidYen);
}

std::optional<int> quantityOf(const QJsonValue &v)
{
    const std::optional<qint64> n = wholeIn(v, 0, kMaxItemQuantity);
    return n ? std::optional<int>(int(*n)) : std::nullopt;
}

std::optional<QString> categoryOf(const QJsonValue &v)
{
    const QString c = v.isDouble() ? QString::number(v.toDouble()) : v.toString().trimmed();
    static const QRegularExpression digit(QStringLiteral("\\A[0-9]\\z"));
    if (!digit.match(c).hasMatch())
        return std::nullopt;
    return c;
}

QString tooMuchText()
{
    return QStringLiteral("上限価格は1円から999,999,999円までの整数で指定してください。");
}

QString changedElsewhereText(const ItemRecord &r)
{
    return QStringLiteral("この商品の入札はほかの画面で変わりました（上限価格") +
           formatYen(r.ItemYen) + QStringLiteral("円、入札数量") + QString::number(r.Numkai) +
           QStringLiteral("）。一覧を読み直してからもう一度どうぞ。");
}

std::optional<QJsonObject> jsonObjectOf(const QByteArray &body, QString *why)
{
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(body, &e);
    if (e.error != QJsonParseError::NoError || !d.isObject()) {
        *why = QStringLiteral("JSONの形が正しくありません") +
               (e.error != QJsonParseError::NoError ? QStringLiteral("：") + e.errorString()
                                                    : QString());
        return std::nullopt;
    }
    return d.object();
}

} // namespace sw
