#include "classicpage.h"

#include "itemparser.h"
#include "sitehosts.h"

namespace sw {
namespace {

const QString kTitleStart = QStringLiteral("Yahoo!オークション - ");
const QString kTitleEnd = QStringLiteral("</TITLE>");
const QString kPriceStart = QStringLiteral("<TD><b>");
const QString kPriceEnd = QStringLiteral("円</b>");
const QString kBidsLabel = QStringLiteral("入札件数：</TD><TD>");
const QString kEndLabel = QStringLiteral("終了日時：</TD><TD>");
const QString kEndEnd = QStringLiteral("<a href");
const QString kWonByYou = QStringLiteral("あなたが落札しました。");
const QString kWinnerLabel = QStringLiteral("落札者：");
const QString kEndedNotices[] = {QStringLiteral("このオークションは終了しました"),
                                 QStringLiteral("このオークションは終了しています")};
// The seller's own words begin under this heading; nothing in them tells the auction's
// state, however much they talk of winning or ending.
const QString kDescriptionHeading = QStringLiteral(">商品説明<");

// The highest bidder (or winner) and where the following labels are searched from. The
// cell ends at the bidder link's closing tag; an ID that begins with "A" stays whole.
QString extractBidder(const QString &page, int &cursor)
{
    auto cell = [&](const QString &label) {
        int c = cursor;
        QString text = GetBetween(page, c, label, QStringLiteral("</A>"));
        if (text.isEmpty()) {
            c = cursor;
            text = GetBetween(page, c, label, QStringLiteral("</a>"));
        }
        return text;
    };
    QString text = cell(QStringLiteral("最高額入札者："));
    if (text.isEmpty())
        text = cell(kWinnerLabel);
    const qsizetype p = text.indexOf(QStringLiteral("?\">"));
    if (p < 0) {
        cursor = 1;
        return QStringLiteral("-");
    }
    // 1-based position of the marker in the cell: the next labels are searched from
    // near the top of the page again.
    cursor = int(p) + 1;
    return text.mid(p + 3);
}

// A number that must read if present: empty counts as absent (0).
bool readNumber(const QString &text, qint64 &out)
{
    if (text.trimmed().isEmpty()) {
        out = 0;
        return true;
    }
    const auto n = parseSiteNumber(text);
    if (!n)
        return false;
    out = *n;
    return true;
}

} // namespace

QString pageStatusPart(const QString &page)
{
    QString status = page;
    const qsizetype d = status.indexOf(kDescriptionHeading);
    if (d >= 0)
        status.truncate(d);
    int cursor = 1;
    const QString title = GetBetween(status, cursor, QStringLiteral("<TITLE>"), kTitleEnd);
    if (!title.isEmpty())
        status.replace(title, QString());
    return status;
}

PageStatus readPageStatus(const QString &page)
{
    const QString status = pageStatusPart(page);
    PageStatus s;
    s.wonNotice = status.contains(kWonByYou);
    s.endedShown = s.wonNotice || status.contains(kWinnerLabel);
    for (const QString &notice : kEndedNotices)
        s.endedShown = s.endedShown || status.contains(notice);
    return s;
}

ItemPage readClassicItemPage(const QString &url, const QString &page, const QDateTime &now,
                             const SiteHosts &hosts)
{
    ItemPage out;
    ItemRecord &it = out.item;
    auto missing = [&out](const QString &label) { out.missing << label; };

    // The id and server number come from an item page's address of the site's own form,
    // and from nothing else: they go into every later request for the item.
    const std::optional<ItemAddress> address = SiteHosts::parseItemPageUrl(url, hosts);
    if (!address) {
        out.failure = QStringLiteral("商品ページのアドレスではありません：") + url;
        return out;
    }
    it.itemid = address->itemid;
    it.Serverid = address->serverid;

    int cursor = 1;
    it.Itemname = GetBetween(page, cursor, kTitleStart, kTitleEnd);
    if (it.Itemname.isEmpty()) {
        out.failure = QStringLiteral("商品ページではありません（タイトルがありません）");
        missing(kTitleStart);
        return out;
    }
    it.ShuppinShaID = GetBetween(page, cursor, QStringLiteral("jp/user/"), QStringLiteral("?"));
    if (it.ShuppinShaID.isEmpty())
        missing(QStringLiteral("jp/user/"));

    const QString price = GetBetween(page, cursor, kPriceStart, kPriceEnd);
    if (price.isEmpty()) {
        out.failure = QStringLiteral("商品ページではありません（現在価格がありません）");
        missing(kPriceStart);
        return out;
    }
    const auto priceValue = parseSiteNumber(price);
    if (!priceValue) {
        out.failure = QStringLiteral("現在価格が数字ではありません：") + price;
        return out;
    }
    it.ItemYenNow = *priceValue;

    const PageStatus status = readPageStatus(page);
    it.SaikougakuShaid = extractBidder(page, cursor);
    if (status.endedShown)
        it.fin = true;

    struct NumberField
    {
        const char *label;
        QString start;
        QString end;
        qsizetype skip; // leading markup characters
        qint64 *target;
    };
    const NumberField numbers[] = {
        {"希望落札価格", QStringLiteral("希望落札価格："), QStringLiteral("円"), 31,
         &it.ItemYenKibou},
        {"数量", QStringLiteral("数量：</TD><TD>"), QStringLiteral("</"), 0, &it.NumUri},
        {"入札件数", kBidsLabel, QStringLiteral("<"), 0, &it.NumNyuusatu},
        {"開始価格", QStringLiteral("開始価格："), QStringLiteral("円"), 10, &it.ItemYenStart},
        {"単位", QStringLiteral("単位：</TD><TD>"), QStringLiteral("円"), 0, &it.ItemYenUnit},
    };
    for (const NumberField &f : numbers) {
        const QString text = GetBetween(page, cursor, f.start, f.end);
        if (text.isEmpty())
            missing(f.start);
        if (f.target == &it.ItemYenUnit) {
            // No usable unit (absent, 0, not a number): the site's increment table stands in
            // wherever a unit is needed.
            if (!readNumber(text, it.ItemYenUnit))
                it.ItemYenUnit = 0;
            continue;
        }
        if (!readNumber(text.mid(f.skip), *f.target)) {
            out.failure =
                QString::fromUtf8(f.label) + QStringLiteral("が数字ではありません：") + text;
            return out;
        }
    }

    const QString end = GetBetween(page, cursor, kEndLabel, kEndEnd);
    const auto endTime = parseSiteEndTime(end, now);
    if (!endTime) {
        if (end.isEmpty())
            missing(kEndLabel);
        out.failure = QStringLiteral("終了日時を読めません：") + end;
        return out;
    }
    it.enddate = *endTime;
    if (it.enddate <= now)
        it.fin = true;
    it.Flagsaitei = page.contains(QStringLiteral("最低落札価格"));
    it.Flagjidouencho = !page.contains(QStringLiteral("自動延長はありません"));
    return out;
}

std::optional<ItemState> classicItemState(const QString &page, const QString &ownId,
                                          const QDateTime &now, qint64 endedAfterMs)
{
    ItemState s;
    int cursor = 1;
    const QString price = GetBetween(page, cursor, kPriceStart, kPriceEnd);
    if (price.isEmpty())
        return std::nullopt;
    const auto priceValue = parseSiteNumber(price);
    if (!priceValue)
        return std::nullopt;
    s.price = *priceValue;
    // Won only when the page says so to the logged-in user, or an ended page names the
    // user as the winner; the title and the description never decide.
    const PageStatus status = readPageStatus(page);
    s.bidder = extractBidder(page, cursor);
    if (status.wonNotice)
        s.bidder = ownId;
    s.finished = status.endedShown;
    if (!readNumber(GetBetween(page, cursor, kBidsLabel, QStringLiteral("<")), s.bids))
        return std::nullopt;
    const auto endTime = parseSiteEndTime(GetBetween(page, cursor, kEndLabel, kEndEnd), now);
    if (!endTime)
        return std::nullopt;
    s.end = *endTime;
    if (s.end.addMSecs(endedAfterMs) <= now)
        s.finished = true;
    return s;
}

} // namespace sw
