#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace sw {

class SettingsStore;

// An item as the site names it: the number of its classic page host ("page3.<domain>";
// empty for today's items, which are read at the canonical address on the main host) and
// its auction id.
struct ItemAddress
{
    QString serverid;
    QString itemid;
};

// The auction site's addresses. Host names are settings (section Site) whose defaults are
// the real site's; every address the program requests is built here, from parts of the
// site's own form only, with every query value percent-encoded, on one of these hosts.
// A part that is not of the site's form gives an empty address, which is never fetched.
class SiteHosts
{
public:
    SiteHosts() = default; // the real site
    explicit SiteHosts(const SettingsStore &settings);

    QString scheme = QStringLiteral("https");
    QString domain = QStringLiteral("auctions.yahoo.co.jp");
    QString userHost = QStringLiteral("user.auctions.yahoo.co.jp");
    QString loginHost = QStringLiteral("login.yahoo.co.jp");
    QString searchHost = QStringLiteral("search.auctions.yahoo.co.jp");
    QString listHost = QStringLiteral("list1.auctions.yahoo.co.jp");
    QString mainHost = QStringLiteral("auctions.yahoo.co.jp");
    QString profileHost = QStringLiteral("profiles.yahoo.co.jp");
    QString supportUrl = QStringLiteral("https://www.snipewell.jp/support/");

    // "page" + server number + "." + domain
    QString itemHost(const QString &serverid) const;
    // A classic item (a server number) on its page host; today's at the canonical address,
    // main host + "/jp/auction/" + id.
    QString itemPage(const QString &serverid, const QString &itemid) const;
    // The server number: up to four digits, none for today's host. The auction id: the
    // site's letters and digits.
    static bool isServerId(const QString &serverid);
    static bool isItemId(const QString &itemid);
    // An item page's address: today's canonical "https://auctions.yahoo.co.jp/jp/auction/x1"
    // (the main host, or the domain itself), "https://page.<domain>/…", or an older
    // "http://page3.<domain>/…"; query and fragment ignored. nullopt for anything else
    // (another scheme or form of host, user info, a port).
    static std::optional<ItemAddress> parseItemPageUrl(const QString &url, const SiteHosts &hosts);
    // The same against the real site's hosts.
    static std::optional<ItemAddress> parseItemPageUrl(const QString &url);
    // One of the configured site hosts (the item-page hosts page<n>.<domain> included).
    bool isSiteHost(const QString &host) const;
    bool isItemHost(const QString &host) const;
    // A form's target taken from a page, with these values: empty unless the target is on
    // an item-page host over the configured scheme.
    QString formSubmission(const QString &action,
                           const QList<std::pair<QString, QString>> &values) const;
    // key=value&… with every value percent-encoded (a value already given as %XX codes,
    // like the encoded password, stays as it is).
    static QString encodeQuery(const QList<std::pair<QString, QString>> &values);
    // The item-page host's top (the main host's for today's items): the lightest page there
    // is, for reading the site's clock.
    QString itemHostTop(const QString &serverid) const;
    // The member's own page of the classic site.
    QString statusPage() const;
    // Today's member lists, page by page from 1: the watch list, the auctions bid on now
    // (入札中) and the auctions won (落札分).
    QString watchList(int page = 1) const;
    QString biddingList(int page = 1) const;
    QString wonList(int page = 1) const;
    // The classic site's watch list.
    QString classicWatchList() const;
    // The login, returning to `done` (the main host's top when empty).
    QString loginPage(const QString &done = QString()) const;
    // The top page of today's site.
    QString topPage() const;
    QString searchBase() const;
    // Today's search: UTF-8 words, a category, the 1-based offset of the first row, 50 a page.
    QString todaySearch(const QString &keyword, const QString &categoryId, int offset) const;
    QString categoryListing(const QString &categoryId, int page) const;
    // Today's category listing, from the 1-based offset of its first row.
    QString todayCategoryListing(const QString &categoryId, int offset) const;
    QString searchOptions() const;
    QString profile(const QString &sellerId) const;
    // Today's seller page, by the site's own opaque seller id.
    QString sellerPage(const QString &sellerKey) const;
    // The bid preview; the password goes in already percent-encoded.
    QString bidPreview(const QString &serverid, const QString &itemid, const QString &bid,
                       const QString &login, const QString &encodedPassword,
                       const QString &quantity) const;

private:
    QString origin(const QString &host) const;
};

} // namespace sw
