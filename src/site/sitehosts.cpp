#include "sitehosts.h"

#include "settingsstore.h"

namespace sw {

SiteHosts::SiteHosts(const SettingsStore &s)
{
    const QString section = QStringLiteral("Site");
    auto read = [&](const char *key, QString &value) {
        value = s.get(section, QString::fromLatin1(key), value).trimmed();
    };
    read("Scheme", scheme);
    read("Domain", domain);
    read("UserHost", userHost);
    read("LoginHost", loginHost);
    read("SearchHost", searchHost);
    read("ListHost", listHost);
    read("MainHost", mainHost);
    read("ProfileHost", profileHost);
    read("SupportUrl", supportUrl);
}

QString SiteHosts::origin(const QString &host) const
{
    return scheme + QStringLiteral("://") + host;
}

QString SiteHosts::itemHost(const QString &serverid) const
{
    return QStringLiteral("page") + serverid + QLatin1Char('.') + domain;
}

QString SiteHosts::itemAddressPrefix() const
{
    return scheme + QStringLiteral("://page");
}

QString SiteHosts::itemPage(const QString &serverid, const QString &itemid) const
{
    return origin(itemHost(serverid)) + QStringLiteral("/jp/auction/") + itemid;
}

QString SiteHosts::itemHostTop(const QString &serverid) const
{
    return origin(itemHost(serverid)) + QLatin1Char('/');
}

QString SiteHosts::statusPage() const
{
    return origin(userHost) + QStringLiteral("/jp/show/mystatus");
}

QString SiteHosts::watchList() const
{
    return origin(userHost) + QStringLiteral("/jp/show/mystatus?select=watchlist&watchclosed=0");
}

QString SiteHosts::loginPage() const
{
    return origin(loginHost) + QStringLiteral("/config/login?");
}

QString SiteHosts::searchBase() const
{
    return origin(searchHost) + QStringLiteral("/search/auc");
}

QString SiteHosts::categoryListing(const QString &categoryId, int page) const
{
    return origin(listHost) + QStringLiteral("/jp/") + categoryId +
           QStringLiteral("-category-leaf.html?apg=") + QString::number(page);
}

QString SiteHosts::searchOptions() const
{
    return origin(mainHost) + QStringLiteral("/jp/show/searchoptions?");
}

QString SiteHosts::profile(const QString &sellerId) const
{
    return origin(profileHost) + QLatin1Char('/') + sellerId;
}

} // namespace sw

namespace sw {

QString SiteHosts::bidPreview(const QString &serverid, const QString &itemid, const QString &bid,
                              const QString &login, const QString &encodedPassword,
                              const QString &quantity) const
{
    return origin(itemHost(serverid)) + QStringLiteral("/jp/show/bid_preview?") +
           QStringLiteral("ItemID=") + itemid + QStringLiteral("&Bid=") + bid +
           QStringLiteral("&login=") + login + QStringLiteral("&passwd=") + encodedPassword +
           QStringLiteral("&bidType=1000") + QStringLiteral("&cc=jp") +
           QStringLiteral("&Quantity=") + quantity;
}

} // namespace sw
