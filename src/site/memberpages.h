#pragma once

#include "sitehosts.h"

#include <QList>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

namespace sw {

class PageFetcher;

// The member's own pages, read the same way whichever site answers.
enum class LoginState
{
    Unknown, // the site could not be reached
    In,
    Out,
};

// Whether the member is logged in: today's watch list sends a visitor to the login (or says
// so in its data); where the site does not know today's address, the classic member page.
QCoro::Task<LoginState> checkSiteLogin(PageFetcher &fetcher, const SiteHosts &hosts);

enum class MemberList
{
    Watch,   // ウォッチリスト
    Bidding, // 入札中
    Won,     // 落札分
};

// Every item a member list links to, page by page (apg) while each page brings new ones.
// nullopt when a page could not be read, or the site asked for a login.
QCoro::Task<std::optional<QList<ItemAddress>>>
readMemberList(PageFetcher &fetcher, const SiteHosts &hosts, MemberList list);

// An ended auction of today's site that had a winner: today's page says so only to the
// winner (isWinner), so the won list decides whether it was the member. Leaves the state as
// it is when the list could not be read (ours stays unknown).
struct ItemState;
QCoro::Task<> resolveWinner(PageFetcher &fetcher, const SiteHosts &hosts, QString itemid,
                            QString ownId, ItemState *state);

// Whether the item is on the list; nullopt when the list could not be read.
QCoro::Task<std::optional<bool>> memberListHas(PageFetcher &fetcher, const SiteHosts &hosts,
                                               MemberList list, QString itemid);

} // namespace sw
