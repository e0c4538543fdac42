#include "searchquery.h"

#include "itemparser.h"
#include "sitehosts.h"
#include "textconv.h"

#include "today/datablocks.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QUrl>

namespace sw {

QString encodeKeyword(const QString &keyword)
{
    QStringEncoder toSjis("Shift_JIS");
    const QByteArray sjis = toSjis.encode(keyword);
    const QByteArray euc = JisToEuc(SjisToJis(sjis, false));
    QString out;
    out.reserve(euc.size() * 3);
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : euc) {
        const auto b = static_cast<unsigned char>(ch);
        out += QLatin1Char('%');
        out += QLatin1Char(hex[b >> 4]);
        out += QLatin1Char(hex[b & 0x0F]);
    }
    return out;
}

QString keywordSearchUrl(const SiteHosts &hosts, const QString &keyword, const QString &categoryId,
                         qint32 minPrice, qint32 maxPrice)
{
    return hosts.searchBase() + QStringLiteral("?p=") + encodeKeyword(keyword) +
           QStringLiteral("&alocale=0jp&acc=jp") + QStringLiteral("&which_cat=") + categoryId +
           QStringLiteral("&auccat=") + categoryId + QStringLiteral("&aucminprice=") +
           QString::number(minPrice) + QStringLiteral("&aucmaxprice=") + QString::number(maxPrice);
}

int resultPageCount(qint64 hits)
{
    // (hits + 50) / 50 rounded half to even, in whole numbers.
    const qint64 x = hits + 50;
    qint64 q = x / 50;
    const qint64 twiceRest = (x % 50) * 2;
    if (twiceRest > 50 || (twiceRest == 50 && q % 2 == 1))
        ++q;
    return int(qMin<qint64>(q, std::numeric_limits<int>::max()));
}

QList<SiteCategory> parseCategoryOptions(const QString &page)
{
    QList<SiteCategory> out;
    int cursor = 1;
    const QString block =
        GetBetween(page, cursor, QStringLiteral("<SELECT"), QStringLiteral("</SELECT>")) +
        QLatin1Char('<');
    int at = 1;
    for (int n = 0; n < 101; ++n) {
        const QString option = GetBetween(block, at, QStringLiteral("VALUE="), QStringLiteral("<"));
        if (option.size() < 10)
            break;
        const qsizetype open = option.indexOf(QLatin1Char('"'));
        const qsizetype close = open < 0 ? -1 : option.indexOf(QLatin1Char('"'), open + 1);
        if (close < 0)
            continue;
        bool ok = false;
        const qint64 id = option.mid(open + 1, close - open - 1).toLongLong(&ok);
        if (!ok)
            continue;
        // The name follows the closing quote and the ">" after it; the page's line breaks
        // are not part of it.
        out.append({id, option.mid(QString::number(id).size() + 3).trimmed()});
    }
    return out;
}

QString categoryPageHost(const QString &url, const QString &title)
{
    const QStringList parts = url.split(QLatin1Char('/'));
    const QStringList words = title.split(QLatin1Char(' '));
    if (words.size() < 2 || parts.size() < 5 ||
        !words.first().contains(QStringLiteral("Yahoo!オークション")))
        return {};
    return parts[2];
}

std::optional<SiteCategory> categoryOfListing(const QString &url, const QString &title)
{
    if (!categoryPageHost(url, title).startsWith(QLatin1String("list")))
        return std::nullopt;
    const QStringList words = title.split(QLatin1Char(' '));
    const QString file = url.split(QLatin1Char('/'))[4];
    const qsizetype dash = file.indexOf(QLatin1Char('-'));
    // The dash must stand at the fifth character or later: ids have four digits or more.
    if (dash < 4)
        return std::nullopt;
    bool ok = false;
    const qint64 id = file.left(dash).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return SiteCategory{id, words.last()};
}

std::optional<SiteCategory> categoryOfItemPage(const QString &page)
{
    int cursor = 1;
    QString last;
    for (int n = 0; n < 8; ++n) {
        const QString link =
            GetBetween(page, cursor, QStringLiteral("http://list"), QStringLiteral("/b>"));
        if (link.isEmpty())
            break;
        last = link;
    }
    if (last.isEmpty())
        return std::nullopt;
    int c = 1;
    const QString idText = GetBetween(last, c, QStringLiteral("/jp/"), QStringLiteral("-"));
    c = 1;
    const QString name = GetBetween(last, c, QStringLiteral("<b>"), QStringLiteral("<"));
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (name.isEmpty() || !ok)
        return std::nullopt;
    return SiteCategory{id, name};
}

std::optional<SiteCategory> categoryOfTodayItemPage(const QString &page)
{
    const DataBlocks blocks = readDataBlocks(page);
    if (!blocks.nextData)
        return std::nullopt;
    const QJsonArray path =
        valueAt(*blocks.nextData,
                QStringLiteral("props.pageProps.initialState.item.detail.item.category.path"))
            .toArray();
    if (path.isEmpty())
        return std::nullopt;
    const QJsonObject last = path.last().toObject();
    const std::optional<qint64> id = numberOf(last.value(QStringLiteral("id")));
    const QString name = textOf(last.value(QStringLiteral("name"))).trimmed();
    if (!id || name.isEmpty())
        return std::nullopt;
    return SiteCategory{*id, name};
}

std::optional<SiteCategory> categoryOfTodayListing(const QString &url, const QString &title,
                                                   const SiteHosts &hosts)
{
    const QUrl u(url);
    static const QRegularExpression path(QStringLiteral("\\A/category/list/([0-9]{1,15})/?\\z"));
    const QRegularExpressionMatch m = path.match(u.path());
    if (u.host().compare(hosts.mainHost, Qt::CaseInsensitive) != 0 || !m.hasMatch())
        return std::nullopt;
    // "<name> - ヤフオク!" (or "｜"): the name is what stands before the site's own name.
    QString name = title;
    for (const QString &sep :
         {QStringLiteral(" - "), QStringLiteral("｜"), QStringLiteral(" | ")}) {
        if (const qsizetype at = name.indexOf(sep); at > 0)
            name.truncate(at);
    }
    name = name.trimmed();
    if (name.isEmpty())
        return std::nullopt;
    return SiteCategory{m.captured(1).toLongLong(), name};
}

std::optional<qint32> priceFromBox(const QString &text)
{
    const std::optional<qint32> n = parseSiteNumber(text.trimmed());
    if (!n || *n < 0 || text.trimmed().isEmpty())
        return std::nullopt;
    return n;
}

} // namespace sw
