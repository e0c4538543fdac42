#include "bidhistory.h"

#include "autobid.h"

namespace sw {

BidHistory::Told BidHistory::onAnswer(const BidResult &r, qint64 maxSent)
{
    for (const qint64 a : r.answered)
        answered.insert(a);
    Told t;
    lastFailed = false;
    notArrived.clear();
    cancelled.clear();
    switch (r.outcome) {
    case BidResult::Accepted:
    case BidResult::Won:
        leading = true;
        wonOutright = wonOutright || r.outcome == BidResult::Won;
        acceptedMax = maxSent;
        refusedMax.reset();
        t.lastResult = (r.outcome == BidResult::Won ? QStringLiteral("落札しました（")
                                                    : QStringLiteral("最高額入札者です（")) +
                       formatYen(r.lastAmount) + QStringLiteral("円）");
        t.notice = r.outcome == BidResult::Won ? NoticeKind::Won : NoticeKind::BidPlaced;
        break;
    case BidResult::BelowReserve:
        refusedMax = maxSent;
        belowReserve = true;
        t.lastResult = QStringLiteral("入札しましたが、最低落札価格に届きませんでした");
        t.notice = NoticeKind::Outbid;
        break;
    case BidResult::Refused:
        if (!r.answered.isEmpty() && r.answered.last() >= maxSent) {
            refusedMax = maxSent;
            belowReserve = false;
        }
        t.lastResult = QStringLiteral("入札しましたが、上限価格でも他の入札より低い金額でした");
        t.notice = NoticeKind::Outbid;
        break;
    case BidResult::Blocked:
        blocked = r.why;
        t.lastResult = r.why;
        break;
    case BidResult::LoginNeeded:
        lastFailed = true;
        t.lastResult = QStringLiteral("ログインしていないので入札できませんでした");
        t.notice = NoticeKind::LoginNeeded;
        t.holdSecs = 10;
        break;
    case BidResult::NotSent:
        lastFailed = true;
        t.lastResult = QStringLiteral("入札できませんでした：") + r.why;
        t.notice = NoticeKind::Failed;
        t.holdSecs = 2;
        break;
    case BidResult::NotArrived:
        lastFailed = true;
        notArrived = r.why;
        t.lastResult = QStringLiteral("入札が届きませんでした：") + r.why;
        t.notice = NoticeKind::Failed;
        t.holdSecs = 2;
        break;
    case BidResult::Cancelled:
        cancelled = r.why;
        t.lastResult = QStringLiteral("入札を中止しました：") + r.why;
        break;
    case BidResult::Unknown: // the reading right after tells
        t.lastResult = QStringLiteral("入札の結果がわかりません。商品ページを読み直します");
        break;
    case BidResult::Ended:
        t.lastResult = QStringLiteral("入札する前にオークションが終了しました");
        break;
    }
    return t;
}

BidHistory::Told BidHistory::onReading(std::optional<bool> known, bool finished, qint64 price)
{
    Told t;
    const bool ours = known ? *known : leading && !(acceptedMax && price > *acceptedMax);
    if (leading && !ours && !finished) {
        t.lastResult = QStringLiteral("他の入札者に抜かれました（現在") + formatYen(price) +
                       QStringLiteral("円）");
        t.notice = NoticeKind::Outbid;
    }
    // Only a page that was read decides whether we still lead.
    leading = ours;
    if (ours) {
        notArrived.clear();
        lastFailed = false;
    }
    return t;
}

std::optional<QString> BidHistory::whyNot(qint64 max, std::optional<qint64> next) const
{
    if (!blocked.isEmpty())
        return blocked;
    if (leading && acceptedMax && max <= *acceptedMax)
        return QStringLiteral("最高額入札者です。上限価格を上げたときだけ入札し直します。");
    if (refusedMax && max <= *refusedMax)
        return belowReserve
                   ? QStringLiteral("最低落札価格に届きませんでした。上限価格を上げたときだけ入札"
                                    "し直します。")
                   : QStringLiteral("上限価格でも他の入札より低い金額でした。上限価格を上げたとき"
                                    "だけ入札し直します。");
    if (next && answered.contains(*next))
        return QStringLiteral("この金額は入札済みです。上限価格を上げたときだけ入札し直します。");
    return std::nullopt;
}

} // namespace sw
