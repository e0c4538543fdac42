#include "sitehosts.h"

#include "settingsstore.h"

#include <QRegularExpression>
#include <QUrl>

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
    // Today's pages are all on "page.<domain>"; older addresses name a server, "page3.<domain>".
    return QStringLiteral("page") + serverid + QLatin1Char('.') + domain;
}

bool SiteHosts::isServerId(const QString &serverid)
{
    static const QRegularExpression re(QStringLiteral("\\A[0-9]{0,4}\\z"));
    return re.match(serverid).hasMatch();
}

bool SiteHosts::isItemId(const QString &itemid)
{
    static const QRegularExpression re(QStringLiteral("\\A[A-Za-z0-9]{1,32}\\z"));
    return re.match(itemid).hasMatch();
}

std::optional<ItemAddress> SiteHosts::parseItemPageUrl(const QString &url, const SiteHosts &hosts)
{
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    if (!u.isValid() ||
        (u.scheme() != QLatin1String("http") && u.scheme() != QLatin1String("https")) ||
        !u.userInfo().isEmpty() || u.port() != -1)
        return std::nullopt;
    static const QRegularExpression host(
        QStringLiteral("\\Apage([0-9]{0,4})\\.[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)+\\z"));
    static const QRegularExpression path(QStringLiteral("\\A/jp/auction/([A-Za-z0-9]{1,32})/?\\z"));
    const QRegularExpressionMatch p = path.match(u.path());
    if (!p.hasMatch())
        return std::nullopt;
    const QString h = u.host();
    // Today's canonical address: the main host (or the domain itself) names no server.
    if (h.compare(hosts.mainHost, Qt::CaseInsensitive) == 0 ||
        h.compare(hosts.domain, Qt::CaseInsensitive) == 0)
        return ItemAddress{QString(), p.captured(1)};
    const QRegularExpressionMatch m = host.match(h);
    if (!m.hasMatch())
        return std::nullopt;
    return ItemAddress{m.captured(1), p.captured(1)};
}

std::optional<ItemAddress> SiteHosts::parseItemPageUrl(const QString &url)
{
    return parseItemPageUrl(url, SiteHosts());
}

bool SiteHosts::isItemHost(const QString &host) const
{
    static const QRegularExpression re(QStringLiteral("\\Apage([0-9]{0,4})\\.(.+)\\z"));
    const QRegularExpressionMatch m = re.match(host);
    return m.hasMatch() && m.captured(2).compare(domain, Qt::CaseInsensitive) == 0;
}

bool SiteHosts::isSiteHost(const QString &host) const
{
    if (isItemHost(host))
        return true;
    for (const QString &h : {userHost, loginHost, searchHost, listHost, mainHost, profileHost}) {
        if (h.compare(host, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString SiteHosts::encodeQuery(const QList<std::pair<QString, QString>> &values)
{
    static const QRegularExpression encoded(QStringLiteral("\\A(?:%[0-9A-Fa-f]{2})+\\z"));
    QString q;
    for (const auto &[key, value] : values) {
        if (!q.isEmpty())
            q += QLatin1Char('&');
        q += key + QLatin1Char('=');
        q += encoded.match(value).hasMatch() ? value
                                             : QString::fromLatin1(QUrl::toPercentEncoding(value));
    }
    return q;
}

QString SiteHosts::formSubmission(const QString &action,
                                  const QList<std::pair<QString, QString>> &values) const
{
    const QUrl u(action, QUrl::StrictMode);
    if (!u.isValid() || u.scheme() != scheme || !u.userInfo().isEmpty() || u.port() != -1 ||
        !isItemHost(u.host()))
        return {};
    QUrl out(u);
    out.setQuery(encodeQuery(values), QUrl::StrictMode);
    out.setFragment({});
    return out.toString(QUrl::FullyEncoded);
}

QString SiteHosts::itemPage(const QString &serverid, const QString &itemid) const
{
    if (!isServerId(serverid) || !isItemId(itemid))
        return {};
    return origin(serverid.isEmpty() ? mainHost : itemHost(serverid)) +
           QStringLiteral("/jp/auction/") + itemid;
}

QString SiteHosts::itemHostTop(const QString &serverid) const
{
    if (!isServerId(serverid))
        return {};
    // Today's items live on the main host.
    return origin(serverid.isEmpty() ? mainHost : itemHost(serverid)) + QLatin1Char('/');
}

QString SiteHosts::statusPage() const
{
    return origin(userHost) + QStringLiteral("/jp/show/mystatus");
}

QString SiteHosts::classicWatchList() const
{
    return origin(userHost) + QStringLiteral("/jp/show/mystatus?select=watchlist&watchclosed=0");
}

QString SiteHosts::watchList(int page) const
{
    return origin(mainHost) +
           QStringLiteral("/openwatchlist/jp/show/mystatus?select=watchlist&watchclosed=0&apg=") +
           QString::number(qMax(1, page));
}

QString SiteHosts::biddingList(int page) const
{
    return origin(mainHost) + QStringLiteral("/openuser/jp/show/mystatus?select=bidding&apg=") +
           QString::number(qMax(1, page));
}

QString SiteHosts::wonList(int page) const
{
    return origin(mainHost) + QStringLiteral("/closeduser/jp/show/mystatus?select=won&apg=") +
           QString::number(qMax(1, page));
}

QString SiteHosts::topPage() const
{
    return origin(mainHost) + QLatin1Char('/');
}

QString SiteHosts::loginPage(const QString &done) const
{
    return origin(loginHost) + QStringLiteral("/config/login?") +
           encodeQuery({{QStringLiteral(".src"), QStringLiteral("auc")},
                        {QStringLiteral(".done"), done.isEmpty() ? topPage() : done}});
}

QString SiteHosts::todaySearch(const QString &keyword, const QString &categoryId, int offset) const
{
    // The words go as UTF-8, as today's site takes them; the category and offset only when
    // there are such.
    const QString words = QString::fromLatin1(QUrl::toPercentEncoding(keyword));
    QString q = QStringLiteral("p=") + words + QStringLiteral("&va=") + words;
    if (!categoryId.isEmpty() && categoryId != QLatin1String("0"))
        q += QStringLiteral("&auccat=") + QString::fromLatin1(QUrl::toPercentEncoding(categoryId));
    q += QStringLiteral("&b=") + QString::number(qMax(1, offset)) + QStringLiteral("&n=50");
    return origin(mainHost) + QStringLiteral("/search/search?") + q;
}

QString SiteHosts::todayCategoryListing(const QString &categoryId, int offset) const
{
    const QString cat = QString::fromLatin1(QUrl::toPercentEncoding(categoryId));
    return origin(mainHost) + QStringLiteral("/category/list/") + cat +
           QStringLiteral("/?auccat=") + cat + QStringLiteral("&b=") +
           QString::number(qMax(1, offset)) + QStringLiteral("&n=50");
}

QString SiteHosts::sellerPage(const QString &sellerKey) const
{
    return origin(mainHost) + QStringLiteral("/seller/") +
           QString::fromLatin1(QUrl::toPercentEncoding(sellerKey));
}

QString SiteHosts::searchBase() const
{
    return origin(searchHost) + QStringLiteral("/search/auc");
}

QString SiteHosts::categoryListing(const QString &categoryId, int page) const
{
    return origin(listHost) + QStringLiteral("/jp/") +
           QString::fromLatin1(QUrl::toPercentEncoding(categoryId)) +
           QStringLiteral("-category-leaf.html?apg=") + QString::number(page);
}

QString SiteHosts::searchOptions() const
{
    return origin(mainHost) + QStringLiteral("/jp/show/searchoptions?");
}

QString SiteHosts::profile(const QString &sellerId) const
{
    return origin(profileHost) + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(sellerId));
}

} // namespace sw

namespace sw {

QString SiteHosts::bidPreview(const QString &serverid, const QString &itemid, const QString &bid,
                              const QString &login, const QString &encodedPassword,
                              const QString &quantity) const
{
    if (!isServerId(serverid) || !isItemId(itemid))
        return {};
    return origin(itemHost(serverid)) + QStringLiteral("/jp/show/bid_preview?") +
           encodeQuery({{QStringLiteral("ItemID"), itemid},
                        {QStringLiteral("Bid"), bid},
                        {QStringLiteral("login"), login},
                        {QStringLiteral("passwd"), encodedPassword},
                        {QStringLiteral("bidType"), QStringLiteral("1000")},
                        {QStringLiteral("cc"), QStringLiteral("jp")},
                        {QStringLiteral("Quantity"), quantity}});
}

} // namespace sw
