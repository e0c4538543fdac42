#include "memberpages.h"

#include "itemparser.h"
#include "itemreading.h"
#include "pagefetcher.h"
#include "today/todaylists.h"
#include "today/todaypage.h"

#include <QSet>

namespace sw {

namespace {
constexpr int kMaxListPages = 100;

QString listAddress(const SiteHosts &hosts, MemberList list, int page)
{
    switch (list) {
    case MemberList::Watch:
        return hosts.watchList(page);
    case MemberList::Bidding:
        return hosts.biddingList(page);
    case MemberList::Won:
        return hosts.wonList(page);
    }
    return {};
}
} // namespace

QCoro::Task<LoginState> checkSiteLogin(PageFetcher &fetcher, const SiteHosts &hosts)
{
    FetchResult page = co_await fetcher.FetchPage(hosts.watchList(1), false, 0, true);
    if (page.status == 404) // the classic site
        page = co_await fetcher.FetchPage(hosts.statusPage(), false);
    if (!page.ok)
        co_return LoginState::Unknown;
    if (looksLikeLoginPage(page.text, page.finalUrl, &hosts))
        co_return LoginState::Out;
    if (const std::optional<bool> in = todayLoginState(page.text))
        co_return *in ? LoginState::In : LoginState::Out;
    co_return LoginState::In;
}

QCoro::Task<std::optional<QList<ItemAddress>>>
readMemberList(PageFetcher &fetcher, const SiteHosts &hosts, MemberList list)
{
    QList<ItemAddress> out;
    QSet<QString> seen;
    for (int page = 1; page <= kMaxListPages; ++page) {
        const FetchResult r = co_await fetcher.FetchPage(listAddress(hosts, list, page), false);
        if (!r.ok || looksLikeLoginPage(r.text, r.finalUrl, &hosts))
            co_return std::nullopt;
        int added = 0;
        for (const ItemAddress &a : itemLinks(r.text, r.finalUrl, hosts)) {
            if (seen.contains(a.itemid))
                continue;
            seen.insert(a.itemid);
            out << a;
            ++added;
        }
        if (added == 0)
            break;
    }
    co_return out;
}

QCoro::Task<> resolveWinner(PageFetcher &fetcher, const SiteHosts &hosts, QString itemid,
                            QString ownId, ItemState *s)
{
    if (!s->finished || s->ours)
        co_return;
    if (s->cancelled || !s->hasWinner) {
        s->ours = false; // nobody won it
        co_return;
    }
    const std::optional<bool> won = co_await memberListHas(fetcher, hosts, MemberList::Won, itemid);
    if (!won)
        co_return;
    s->ours = *won;
    if (*won) {
        s->bidder = ownId;
        s->leaderKnown = true;
    }
}

QCoro::Task<std::optional<bool>> memberListHas(PageFetcher &fetcher, const SiteHosts &hosts,
                                               MemberList list, QString itemid)
{
    const std::optional<QList<ItemAddress>> items = co_await readMemberList(fetcher, hosts, list);
    if (!items)
        co_return std::nullopt;
    for (const ItemAddress &a : *items) {
        if (a.itemid == itemid)
            co_return true;
    }
    co_return false;
}

} // namespace sw
