#include "itemparser.h"

#include <limits>

#include "clock.h"
#include "database.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "today/datablocks.h"
#include "today/todaypage.h"

#include <QRegularExpression>
#include <QUrl>

#include <cstdlib>

namespace sw {

bool looksLikeLoginPage(const QString &page, const QString &finalUrl, const SiteHosts *hosts)
{
    // An answer that ended on the login host (a member page sends a visitor there) is its
    // login, whatever the page looks like.
    if (hosts && !finalUrl.isEmpty() &&
        QUrl(finalUrl).host().compare(hosts->loginHost, Qt::CaseInsensitive) == 0)
        return true;
    int cursor = 1;
    QString title = GetBetween(page, cursor, QStringLiteral("<TITLE>"), QStringLiteral("</TITLE>"));
    if (title.isEmpty()) {
        cursor = 1;
        title = GetBetween(page, cursor, QStringLiteral("<title>"), QStringLiteral("</title>"));
    }
    return title.contains(QStringLiteral("ログイン")) ||
           page.contains(QStringLiteral("type=password"), Qt::CaseInsensitive);
}

qint64 siteBidIncrement(qint64 price)
{
    // The site's own table of bid increments by the current price.
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

QString GetBetween(const QString &text, int &cursor, const QString &start, const QString &end)
{
    const qsizetype from = qMax(1, cursor) - 1;
    if (from > text.size())
        return {};
    const qsizetype s = text.indexOf(start, from);
    if (s < 0)
        return {};
    const qsizetype contentStart = s + start.size();
    const qsizetype e = text.indexOf(end, contentStart);
    if (e < 0)
        return {};
    cursor = int(e) + 1;
    return text.mid(contentStart, e - contentStart);
}

std::optional<qint64> parseSiteNumber(const QString &text)
{
    QString t = text.trimmed();
    t.remove(QLatin1Char(','));
    t.remove(QLatin1Char(' '));
    t.remove(QChar(0x3000));
    if (t.isEmpty())
        return std::nullopt;
    // Digits only: "-100" is no price, no unit and no quantity.
    for (const QChar c : t) {
        if (!c.isDigit())
            return std::nullopt;
    }
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    // Nothing on the site comes near this; a longer run of digits is not a number of it.
    if (!ok || v > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return v;
}

std::optional<QDateTime> parseSiteEndTime(const QString &text, const QDateTime &now)
{
    static const QRegularExpression re(QStringLiteral(
        "^\\s*(\\d{1,2})\\s*月\\s*(\\d{1,2})\\s*日\\s*(?:[(（][^)）]*[)）])?\\s*(\\d{1,2})\\s*時"
        "\\s*(\\d{1,2})\\s*分(?:\\s*(\\d{1,2})\\s*秒)?\\s*$"));
    const QString t = text.normalized(QString::NormalizationForm_KC); // full-width digits
    const QRegularExpressionMatch m = re.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const int month = m.captured(1).toInt();
    const int day = m.captured(2).toInt();
    const QTime time(m.captured(3).toInt(), m.captured(4).toInt(),
                     m.captured(5).isEmpty() ? 0 : m.captured(5).toInt());
    if (!time.isValid())
        return std::nullopt;
    // The site writes Japan time, whatever zone this machine is in.
    const int thisYear = inSiteZone(now).date().year();
    std::optional<QDateTime> best;
    qint64 bestDistance = 0;
    for (int year = thisYear - 1; year <= thisYear + 1; ++year) {
        const QDate date(year, month, day);
        if (!date.isValid())
            continue;
        const QDateTime candidate(date, time, siteZone());
        const qint64 distance = std::llabs(now.secsTo(candidate));
        if (!best || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

ItemPage readItemPage(const QString &url, const QString &html, const QDateTime &now,
                      const SiteHosts &hosts)
{
    if (hasDataBlocks(html))
        return readTodayItemPage(url, html, now, hosts);
    ItemPage page = readClassicItemPage(url, html, now, hosts);
    if (!page.ok() && page.item.Itemname.isEmpty() &&
        !page.failure.startsWith(QStringLiteral("商品ページのアドレス")))
        page.failure =
            QStringLiteral("商品ページではありません（今のページのデータ（__NEXT_DATA__、"
                           "pageData）も、従来のページの題名「Yahoo!オークション - 」もあり"
                           "ません）");
    return page;
}

std::optional<ItemState> ParseItemStatus(const QString &html, const QString &ownId,
                                         const QDateTime &now, qint64 endedAfterMs,
                                         const SiteHosts &hosts)
{
    std::optional<ItemState> s = hasDataBlocks(html)
                                     ? todayItemState(html, ownId, now, endedAfterMs, hosts)
                                     : classicItemState(html, ownId, now, endedAfterMs);
    if (s && s->leaderKnown)
        s->ours = sameMember(s->bidder, ownId);
    return s;
}

ItemPage readItemPage(const QString &url, const QString &html, const QDateTime &now)
{
    return readItemPage(url, html, now, SiteHosts());
}

std::optional<ItemState> ParseItemStatus(const QString &html, const QString &ownId,
                                         const QDateTime &now, qint64 endedAfterMs)
{
    return ParseItemStatus(html, ownId, now, endedAfterMs, SiteHosts());
}

QString leaderText(const QString &bidder)
{
    return bidder.trimmed().isEmpty() ? QStringLiteral("不明") : bidder;
}

bool sameMember(const QString &a, const QString &b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

bool ItemPageParser::passesFilters(const ItemRecord &it, qint32 minPrice, qint32 maxPrice,
                                   bool noAutoExtension, bool buyPriceDiffers)
{
    if (buyPriceDiffers && it.ItemYenKibou == it.ItemYenStart)
        return false;
    if (noAutoExtension && it.Flagjidouencho)
        return false;
    if (it.fin)
        return false;
    if (maxPrice > 0 && (maxPrice < it.ItemYenNow || minPrice > it.ItemYenNow))
        return false;
    return true;
}

namespace {
QString noWriterText()
{
    return QStringLiteral("商品を保存する先がありません（入札を管理する部分が動いていません）");
}
} // namespace

int ItemPageParser::ParseItemPage(const QString &url, const QString &html, qint32 minPrice,
                                  qint32 maxPrice, bool noAutoExtension, bool buyPriceDiffers)
{
    m_lastError.clear();
    m_storeFailed = false;
    const ItemPage page = readItemPage(url, html, sw::now(), m_hosts ? *m_hosts : SiteHosts());
    if (!page.ok()) {
        m_lastError = page.failure;
        return NothingStored;
    }
    if (!passesFilters(page.item, minPrice, maxPrice, noAutoExtension, buyPriceDiffers))
        return NothingStored;
    if (!m_writer.item) {
        m_lastError = noWriterText();
        m_storeFailed = true;
        return NothingStored;
    }
    const ItemDatabase::Upsert r = m_writer.item(page.item);
    if (r == ItemDatabase::Upsert::Failed) {
        m_lastError = m_db.lastError();
        m_storeFailed = true;
        return NothingStored;
    }
    emit itemsChanged();
    return r == ItemDatabase::Upsert::Inserted ? Inserted : Updated;
}

int ItemPageParser::StoreListing(const ItemRecord &row, qint32 minPrice, qint32 maxPrice,
                                 bool buyPriceDiffers)
{
    m_lastError.clear();
    m_storeFailed = false;
    if (!SiteHosts::isItemId(row.itemid) || !row.enddate.isValid() ||
        !passesFilters(row, minPrice, maxPrice, false, buyPriceDiffers))
        return NothingStored;
    if (!m_writer.listing) {
        m_lastError = noWriterText();
        m_storeFailed = true;
        return NothingStored;
    }
    const ItemDatabase::Upsert r = m_writer.listing(row);
    if (r == ItemDatabase::Upsert::Failed) {
        m_lastError = m_db.lastError();
        m_storeFailed = true;
        return NothingStored;
    }
    emit itemsChanged();
    return r == ItemDatabase::Upsert::Inserted ? Inserted : Updated;
}

QString ItemPageParser::storeFailureText(const QString &itemid) const
{
    return QStringLiteral("商品を保存できませんでした（") + itemid + QStringLiteral("）：") +
           m_lastError;
}

QString ItemPageParser::storeFailuresText(int n)
{
    return QString::number(n) +
           QStringLiteral("件の商品を保存できませんでした。理由はログに書いてあります。");
}

} // namespace sw
