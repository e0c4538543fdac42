#pragma once

#include <QString>

namespace sw {

class SettingsStore;

// The auction site's addresses. Host names are settings (section Site) whose defaults are
// the real site's; every address the program requests is built here.
class SiteHosts
{
public:
    SiteHosts() = default; // the real site
    explicit SiteHosts(const SettingsStore &settings);

    QString scheme = QStringLiteral("http");
    QString domain = QStringLiteral("auctions.yahoo.co.jp");
    QString userHost = QStringLiteral("user.auctions.yahoo.co.jp");
    QString loginHost = QStringLiteral("login.yahoo.co.jp");
    QString searchHost = QStringLiteral("search.auctions.yahoo.co.jp");
    QString listHost = QStringLiteral("list1.auctions.yahoo.co.jp");
    QString mainHost = QStringLiteral("auctions.yahoo.co.jp");
    QString profileHost = QStringLiteral("profiles.yahoo.co.jp");
    QString supportUrl = QStringLiteral("http://www.snipewell.jp/support/");

    // "page" + server number + "." + domain
    QString itemHost(const QString &serverid) const;
    // scheme "://page": what precedes the server number in an item-page address
    QString itemAddressPrefix() const;
    QString itemPage(const QString &serverid, const QString &itemid) const;
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
