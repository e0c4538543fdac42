#pragma once

#include <QString>

namespace sw {

// What the user is told about without looking: a desktop notification, a sound.
enum class NoticeKind
{
    BidPlaced,   // the site accepted a bid
    Outbid,      // a reading shows another bidder ahead after our bid
    Won,         // the auction ended with us as the winner
    Lost,        // the auction ended and someone else won, or nobody
    Failed,      // a bid that could not be placed
    LoginNeeded, // the site answered with its login page
    ClockOff,    // the machine's clock is far from the site's
};

struct NoticeKindInfo
{
    NoticeKind kind;
    const char *key;   // the setting that turns it off: Notify<key>=0
    const char *label; // the settings window's caption
};

inline constexpr NoticeKindInfo kNoticeKinds[] = {
    {NoticeKind::BidPlaced, "Placed", "入札した"},
    {NoticeKind::Outbid, "Outbid", "他の入札者に抜かれた"},
    {NoticeKind::Won, "Won", "落札した"},
    {NoticeKind::Lost, "Lost", "落札できなかった"},
    {NoticeKind::Failed, "Failed", "入札できなかった"},
    {NoticeKind::LoginNeeded, "Login", "ログインが必要"},
    {NoticeKind::ClockOff, "Clock", "時計がずれている"},
};

// The notice's title, as the desktop and the service's pushes show it.
inline QString noticeTitle(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::BidPlaced:
        return QStringLiteral("入札しました");
    case NoticeKind::Outbid:
        return QStringLiteral("他の入札者に抜かれました");
    case NoticeKind::Won:
        return QStringLiteral("落札しました");
    case NoticeKind::Lost:
        return QStringLiteral("落札できませんでした");
    case NoticeKind::Failed:
        return QStringLiteral("入札できませんでした");
    case NoticeKind::LoginNeeded:
        return QStringLiteral("ログインが必要です");
    case NoticeKind::ClockOff:
        return QStringLiteral("パソコンの時計がずれています");
    }
    return {};
}

inline QString noticeSettingKey(NoticeKind kind)
{
    for (const NoticeKindInfo &k : kNoticeKinds) {
        if (k.kind == kind)
            return QStringLiteral("Notify") + QString::fromLatin1(k.key);
    }
    return {};
}

} // namespace sw
