#include "autobid.h"

#include "itemreading.h"
#include "siteclock.h"

namespace sw {

std::optional<qint64> amountOf(const QString &text)
{
    // Typed on a Japanese keyboard the digits and commas are often full-width (５，０００).
    QString t;
    for (const QChar c : text.trimmed()) {
        if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
            t += QChar(u'0' + (c.unicode() - 0xFF10));
        else if (c != QLatin1Char(',') && c != QChar(0xFF0C))
            t += c;
    }
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    return ok ? std::optional<qint64>(v) : std::nullopt;
}

QString formatYen(qint64 amount)
{
    QString digits = QString::number(amount < 0 ? -amount : amount);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return amount < 0 ? QLatin1Char('-') + digits : digits;
}

AutoBidDecision CheckAutoBid(const BidSettings &s)
{
    AutoBidDecision d;
    auto disarm = [&d](const QString &message) {
        d.armed = false;
        d.beep = true;
        d.message = message;
        return d;
    };
    if (s.quantity <= 0)
        return disarm(AutoBidText::zeroQuantity());

    const std::optional<qint64> shownNext = amountOf(s.nextPriceText);
    if (s.buyNow >= 1 && shownNext && s.buyNow <= *shownNext) {
        d.nextPriceText = formatYen(s.buyNow);
        d.armed = true;
        d.message = AutoBidText::armed();
        return d;
    }

    const std::optional<qint64> max = amountOf(s.maxPriceText);
    if (!max)
        return disarm(AutoBidText::maxNotANumber());
    if (*max < s.unit)
        return disarm(AutoBidText::tooLow());

    std::optional<qint64> next = shownNext;
    if (s.recompute) {
        if (sameMember(s.highBidder, s.ownId)) {
            d.beep = true;
            d.message = AutoBidText::selfHighBidder();
        }
        if (s.autoExtend && s.manualSwitch) {
            const qint64 candidate = s.currentPrice + s.unit;
            next = *max > candidate ? candidate : *max;
            d.nextPriceText =
                *max > candidate ? QString::number(candidate) : s.maxPriceText.trimmed();
        } else {
            next = *max;
            d.nextPriceText = s.maxPriceText.trimmed();
        }
    }

    const qint64 lowest = s.bidCount > 0 ? s.currentPrice + s.unit : s.currentPrice;
    if (!next || *next < lowest)
        return disarm(AutoBidText::tooLow());
    d.armed = true;
    d.message = AutoBidText::armed();
    return d;
}

Countdown countdownCaption(const QDateTime &nowAt, const QDateTime &endAt, int befSec)
{
    // Days and hours are counted on the site's calendar.
    const QDateTime now = inSiteZone(nowAt);
    const QDateTime end = inSiteZone(endAt);
    auto caption = [](qint64 n, const QString &unit) -> QString {
        return QStringLiteral("入札（あと\u3000") + QString::number(n) + QStringLiteral("\u3000") +
               unit + QStringLiteral("）");
    };
    const qint64 seconds = now.secsTo(end);
    if (seconds < 3600) {
        const qint64 left = seconds - befSec;
        // The count stops at the bid time; what follows is said in words.
        if (seconds <= 0)
            return {QStringLiteral("入札（終了時刻を過ぎました）"), left};
        if (left < 0)
            return {QStringLiteral("入札（入札時刻を過ぎました）"), left};
        return {caption(left, QStringLiteral("秒")), left};
    }
    const qint64 days = now.date().daysTo(end.date());
    if (days != 0)
        return {caption(days, QStringLiteral("日")), std::nullopt};
    const int hours = end.time().hour() - now.time().hour();
    return {caption(hours, QStringLiteral("時間")), std::nullopt};
}

TickActions timerTick(const TickInput &in)
{
    TickActions a;
    if (in.finished) {
        a.finishFrame = true;
        a.caption = QStringLiteral("入札（終了）");
        return a;
    }
    const Countdown c = countdownCaption(in.now, in.end, in.befSec);
    a.caption = c.caption;
    if (!c.left)
        return a;
    const qint64 toBid = in.now.msecsTo(in.end.addSecs(-in.befSec));
    // Nothing is asked for a bid once the auction is over by the site's clock.
    if (in.armed && !in.bidding && !in.holdBid && toBid <= in.previewLeadMs && in.now < in.end)
        a.startBid = true;
    // A refresh never stands in the way of a bid: none starts from the moment the bid
    // could start until just after its bid time, nor while another window's bid is near.
    const bool ownBidNear = toBid > -2000 && toBid <= in.previewLeadMs + in.slowAnswerMs + 1000;
    const bool free = !a.startBid && !in.bidding && !in.refreshing && !in.othersImminent;
    if (free && !ownBidNear && in.lastRefresh.secsTo(in.now) > in.refreshIntervalSec)
        a.refresh = true;
    // Holding back (we lead, say) and the bid time comes again (the auction was extended):
    // the page is read once just before, so a bid goes out if we have been outbid.
    const qint64 quietFrom = in.previewLeadMs + in.slowAnswerMs + 1000;
    if (free && in.holdBid && toBid > quietFrom && toBid <= quietFrom + 3000 &&
        in.lastRefresh.msecsTo(in.now) > 5000)
        a.refresh = true;
    // Read the result as soon as the auction is over, not a whole interval later.
    if (free && in.lastRefresh < in.end && in.now >= in.end.addSecs(2))
        a.refresh = true;
    return a;
}

} // namespace sw
