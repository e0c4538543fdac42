#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace sw {

// What the bid window shows, as the automatic bid reads it.
struct BidSettings
{
    int quantity = 0;          // 入札数量
    QString maxPriceText;      // 上限価格 as typed
    QString nextPriceText;     // 次回価格 as shown
    qint64 buyNow = 0;         // 希望落札価格 (0: none)
    qint64 unit = 0;           // 入札単位
    qint64 currentPrice = 0;   // 現在価格
    qint64 bidCount = 0;       // 入札件数
    QString highBidder;        // 最高額入札者
    QString ownId;             // the user's site ID
    bool autoExtend = false;   // 自動延長あり
    bool manualSwitch = false; // bid one unit above the price on extending auctions
    bool recompute = true;     // work the next price out again
};

struct AutoBidDecision
{
    bool armed = false;
    std::optional<QString> nextPriceText; // the new 次回価格, when it changes
    QString message;                      // the status line
    bool beep = false;
};

// Whether the item is armed for an automatic bid and with which amount.
AutoBidDecision CheckAutoBid(const BidSettings &s);

namespace AutoBidText {
inline QString armed()
{
    return QStringLiteral("自動入札します。解除するには個数を０にしてください。");
}
inline QString zeroQuantity()
{
    return QStringLiteral("入札個数が０なので入札できません。");
}
inline QString tooLow()
{
    return QStringLiteral("設定価格が低すぎます。");
}
inline QString selfHighBidder()
{
    return QStringLiteral("現在、自分が最高額入札者です。");
}
inline QString maxNotANumber()
{
    return QStringLiteral("上限価格を数字で入力してください。");
}
inline QString maxTooHigh()
{
    return QStringLiteral("上限価格は999,999,999円までです。");
}
} // namespace AutoBidText

// The highest maximum the program takes: more than any auction fetches, and far from
// where the arithmetic of amounts could overflow.
constexpr qint64 kMaxBidYen = 999'999'999;

// An amount as a box shows it ("12,500" or "12500"); nullopt when it is not a number.
std::optional<qint64> amountOf(const QString &text);
// "##,##0"
QString formatYen(qint64 amount);

// The bid frame's caption and, in the last hour, the seconds left until the bid time.
struct Countdown
{
    QString caption;
    std::optional<qint64> left; // seconds until the bid time; set in the last hour
};
// Within the last hour before the end the window counts in seconds, whatever the clock
// hour; further away it shows days (midnights to go) or hours (hour boundaries to go).
Countdown countdownCaption(const QDateTime &now, const QDateTime &end, int befSec);

// One tick of the bid window's one-second timer.
struct TickInput
{
    QDateTime now;
    QDateTime end;
    int befSec = 30;
    bool finished = false;
    bool armed = false;
    bool bidding = false;    // a bid of this window is under way
    bool refreshing = false; // a refresh of this window is on its way
    QDateTime lastRefresh;
    int refreshIntervalSec = 60;
    // No reason to bid again: the site accepted our bid and we still lead with the same
    // maximum, or refused it and the maximum is the same, or the amount went already.
    bool holdBid = false;
    qint64 previewLeadMs = 2000; // the bid starts (with its preview) this long before
    qint64 slowAnswerMs = 0;     // how long the site's pages have been taking
    bool othersImminent = false; // another window's bid is about to go out
};
struct TickActions
{
    QString caption;
    bool finishFrame = false; // disable the bid frame: the auction is over
    bool startBid = false;
    bool refresh = false;
};
TickActions timerTick(const TickInput &in);

} // namespace sw
