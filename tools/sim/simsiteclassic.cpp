#include "simsite.h"

#include "simpages.h"
#include "simrequest.h"

#include <QRegularExpression>
#include <QStringDecoder>

// The classic site: its EUC-JP pages, the bid preview by address and the member pages.
namespace sim {

SimSite::Response SimSite::route(const QString &host, const QString &path, const QUrlQuery &query,
                                 const QString &viewer)
{
    const QDateTime now = m_scenario.now();
    static const QRegularExpression pageHost(QStringLiteral("^page(\\d*)\\.(.+)$"));
    const QRegularExpressionMatch m = pageHost.match(host);
    // Item pages: on their page host, or at the canonical address on the main host.
    if (((m.hasMatch() && m.captured(2) == m_scenario.domain) || host == m_scenario.mainHost) &&
        path.startsWith(QLatin1String("/jp/auction/"))) {
        const QString id = path.mid(int(qstrlen("/jp/auction/")));
        Item *item = m_scenario.item(id);
        if (!item) // the site answers an unknown item with an ordinary page
            return {200, toEucJp(notFoundPage()), {}};
        return {200, toEucJp(itemPage(m_scenario, *item, viewer, now)), {}};
    }
    if (m.hasMatch() && m.captured(2) == m_scenario.domain && path == QLatin1String("/"))
        return {200, toEucJp(QStringLiteral("<HTML><BODY>ヤフオク!</BODY></HTML>")), {}};
    if (m.hasMatch() && m.captured(2) == m_scenario.domain) {
        auto value = [&query](const char *key) {
            return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
        };
        const QString action = m_scenario.scheme + QStringLiteral("://") + host +
                               QStringLiteral("/jp/config/placebid");
        Item *item = m_scenario.item(value("ItemID"));
        if (path == QLatin1String("/jp/show/bid_preview")) {
            const Bidder *bidder = m_scenario.bidder(value("login"));
            if (!bidder || bidder->password != value("passwd"))
                return {200, toEucJp(loginFailedPage()), {}};
            if (!item)
                return {200, toEucJp(notFoundPage()), {}};
            if (item->ended(now))
                return {200, toEucJp(bidPreviewEndedPage(*item)), {}};
            return {200,
                    toEucJp(bidPreviewPage(*item, value("Bid").toInt(), action,
                                           issueToken(bidder->id, item->id))),
                    {}};
        }
        if (path == QLatin1String("/jp/config/placebid")) {
            const Token token = m_tokens.take(value("a"));
            const qint32 amount = value("Bid").toInt();
            const int quantity = qMax(1, value("Quantity").toInt());
            m_confirmations << Confirmation{
                now.toMSecsSinceEpoch(),         value("ItemID"), value("a"), amount, quantity,
                item && token.itemId == item->id};
            if (!item || token.itemId != item->id)
                return {200, toEucJp(loginFailedPage()), {}};
            const BidOutcome outcome = recordBid(*item, token.bidder, amount, quantity);
            return {200,
                    toEucJp(bidAnswerPage(outcome, *item, amount, action,
                                          issueToken(token.bidder, item->id))),
                    {}};
        }
    }
    if (host == m_scenario.userHost && path == QLatin1String("/jp/show/mystatus") &&
        query.queryItemValue(QStringLiteral("select")) == QLatin1String("watchlist")) {
        const Bidder *bidder = m_scenario.bidder(viewer);
        if (!bidder) // no session, or an expired one
            return {200, toEucJp(loginPage(m_scenario)), {}};
        return {200, toEucJp(watchListPage(m_scenario, *bidder)), {}};
    }
    return {404, toEucJp(notFoundPage()), {}};
}

QList<Category> SimSite::categories() const
{
    QList<Category> out;
    QSet<qint64> seen;
    for (const Item &it : m_scenario.items) {
        for (const Category &c : it.trail) {
            if (!seen.contains(c.id)) {
                seen.insert(c.id);
                out << c;
            }
        }
    }
    return out;
}

std::optional<SimSite::Response> SimSite::routePages(const QString &host, const QString &path,
                                                     const QUrlQuery &query, const QString &viewer,
                                                     bool post)
{
    const Scenario &s = m_scenario;
    const QDateTime now = s.now();
    auto value = [&query](const char *key) {
        return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
    };
    if (host == s.loginHost && path == QLatin1String("/config/login")) {
        const Bidder *bidder = m_scenario.bidder(value("login"));
        if (!post || !bidder || bidder->password != value("passwd"))
            return Response{200, toEucJp(loginPage(s)), {}};
        const QString session = createSession(bidder->id);
        return Response{200,
                        toEucJp(welcomePage(*bidder)),
                        {"Set-Cookie: " + sessionCookieName().toLatin1() + '=' +
                         session.toLatin1() + "; Domain=" + cookieDomain().toLatin1() +
                         "; Path=/"}};
    }
    if (host == s.userHost && path == QLatin1String("/jp/show/mystatus") &&
        !query.hasQueryItem(QStringLiteral("select"))) {
        const Bidder *bidder = m_scenario.bidder(viewer);
        if (!bidder)
            return Response{200, toEucJp(loginPage(s)), {}};
        return Response{200, toEucJp(statusPage(*bidder)), {}};
    }
    if (host == s.mainHost && path == QLatin1String("/jp/show/searchoptions"))
        return Response{200, toEucJp(searchOptionsPage(categories())), {}};
    if (host == s.mainHost && path == QLatin1String("/"))
        return Response{200, toEucJp(topPage(s)), {}};
    if (host == s.searchHost && path == QLatin1String("/search/auc")) {
        // The keyword arrives as percent-encoded EUC-JP bytes.
        QStringDecoder euc("EUC-JP");
        const QString keyword = euc.decode(QByteArray::fromPercentEncoding(
            query.queryItemValue(QStringLiteral("p"), QUrl::FullyEncoded).toLatin1()));
        const qint64 cat = value("which_cat").toLongLong();
        const qint32 minPrice = value("aucminprice").toInt();
        const qint32 maxPrice = value("aucmaxprice").toInt();
        QList<const Item *> hits;
        for (const Item &it : s.items) {
            if (it.ended(now) || !keywordMatches(it.title, keyword))
                continue;
            if (cat != 0 && !inCategory(it, cat))
                continue;
            if (it.price < minPrice || (maxPrice > 0 && it.price > maxPrice))
                continue;
            hits << &it;
        }
        const int page = query.hasQueryItem(QStringLiteral("apg")) ? value("apg").toInt() : 0;
        return Response{200,
                        toEucJp(resultPage(s, keyword + QStringLiteral("の検索結果"),
                                           int(hits.size()), pageOf(hits, page))),
                        {}};
    }
    static const QRegularExpression listing(QStringLiteral("^/jp/(\\d+)-category(-leaf)?\\.html$"));
    const QRegularExpressionMatch m = listing.match(path);
    if (host == s.listHost && m.hasMatch()) {
        const qint64 id = m.captured(1).toLongLong();
        std::optional<Category> category;
        for (const Category &c : categories()) {
            if (c.id == id)
                category = c;
        }
        if (!category)
            return Response{404, toEucJp(notFoundPage()), {}};
        if (m.captured(2).isEmpty())
            return Response{200, toEucJp(categoryPage(s, *category)), {}};
        QList<const Item *> items;
        for (const Item &it : s.items) {
            if (!it.ended(now) && inCategory(it, id))
                items << &it;
        }
        const int page = value("apg").toInt();
        return Response{
            200,
            toEucJp(resultPage(s, category->name, int(items.size()), pageOf(items, page - 1))),
            {}};
    }
    return std::nullopt;
}

} // namespace sim
