#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace sw {

class SettingsStore;

// An item as the site names it: the number of its page host (empty for today's single
// host "page.<domain>") and its auction id.
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
    QString itemPage(const QString &serverid, const QString &itemid) const;
    // The server number: up to four digits, none for today's host. The auction id: the
    // site's letters and digits.
    static bool isServerId(const QString &serverid);
    static bool isItemId(const QString &itemid);
    // An item page's address ("https://page.<domain>/jp/auction/x1", or an older
    // "http://page3.<domain>/…"; query and fragment ignored); nullopt for anything else
    // (another scheme or form of host, user info, a port).
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
    // The item-page host's top: the lightest page there is, for reading the site's clock.
    QString itemHostTop(const QString &serverid) const;
    QString statusPage() const;
    QString watchList() const;
    QString loginPage() const;
    QString searchBase() const;
    QString categoryListing(const QString &categoryId, int page) const;
    QString searchOptions() const;
    QString profile(const QString &sellerId) const;
    // The bid preview; the password goes in already percent-encoded.
    QString bidPreview(const QString &serverid, const QString &itemid, const QString &bid,
                       const QString &login, const QString &encodedPassword,
                       const QString &quantity) const;

private:
    QString origin(const QString &host) const;
};

} // namespace sw
