#include "simsite.h"

#include "simpages.h"
#include "simrequest.h"
#include "todaypages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>

// Today's site: its UTF-8 pages, the two-step login and the page script's bid requests.
namespace sim {

SimSite::Response SimSite::redirect(const QString &to, QList<QByteArray> headers) const
{
    Response r(302, toUtf8Page(QStringLiteral("<html><body>Found</body></html>")),
               std::move(headers));
    r.extraHeaders << "Location: " + to.toUtf8();
    r.type = "text/html; charset=UTF-8";
    return r;
}

SimSite::Response SimSite::loginRedirect(const Incoming &in) const
{
    // A member page asked by a visitor: the login, returning here.
    const QString here = m_scenario.scheme + QStringLiteral("://") + in.host + in.url.path() +
                         (in.url.hasQuery() ? QLatin1Char('?') + in.url.query() : QString());
    return redirect(m_scenario.scheme + QStringLiteral("://") + m_scenario.loginHost +
                    QStringLiteral("/config/login?.src=auc&.done=") +
                    QString::fromLatin1(QUrl::toPercentEncoding(here)));
}

std::optional<SimSite::Response> SimSite::routeToday(const Incoming &in, const QString &path,
                                                     const QUrlQuery &query)
{
    Scenario &s = m_scenario;
    const QDateTime now = s.now();
    auto page = [](const QString &html, int status = 200) {
        Response r(status, toUtf8Page(html));
        r.type = "text/html; charset=UTF-8";
        return r;
    };
    Viewer viewer;
    viewer.id = in.viewer;
    viewer.crumb = m_crumbs.value(in.session);
    const bool mainHost = in.host == s.mainHost;
    static const QRegularExpression pageHost(QStringLiteral("^page(\\d*)\\.(.+)$"));
    const QRegularExpressionMatch ph = pageHost.match(in.host);
    const bool itemHost = mainHost || (ph.hasMatch() && ph.captured(2) == s.domain);

    if (itemHost && path.startsWith(QLatin1String("/jp/auction/")) && !in.post) {
        const Item *item = s.item(path.mid(int(qstrlen("/jp/auction/"))));
        if (!item)
            return page(todayNotFoundPage(), 404);
        return page(todayItemPage(s, *item, viewer, now));
    }
    if (in.host == s.loginHost && path == QLatin1String("/config/login")) {
        const QUrlQuery form = in.post ? bodyForm(in.body) : query;
        QString done = field(form, ".done");
        const QUrl doneUrl(done);
        if (done.isEmpty() || !doneUrl.host().endsWith(s.domain))
            done = s.scheme + QStringLiteral("://") + s.mainHost + QLatin1Char('/');
        if (!in.post)
            return page(todayLoginIdPage(s, done, QString()));
        const QString step = field(form, "step");
        const Bidder *bidder = s.bidder(field(form, "login").trimmed());
        if (step == QLatin1String("id")) {
            if (!bidder)
                return page(todayLoginIdPage(
                    s, done,
                    QStringLiteral("このIDは登録されていません。入力内容をご確認ください。")));
            if (bidder->password.isEmpty())
                return page(todayLoginCodePage(s, bidder->id, done, QString()));
            return page(todayLoginPasswordPage(s, bidder->id, done, QString()));
        }
        if (!bidder)
            return page(todayLoginIdPage(s, done, QString()));
        const bool byCode = step == QLatin1String("code");
        const bool right =
            byCode ? !bidder->smsCode.isEmpty() && field(form, "code") == bidder->smsCode
                   : !bidder->password.isEmpty() && field(form, "passwd") == bidder->password;
        if (!right)
            return page(
                byCode ? todayLoginCodePage(s, bidder->id, done,
                                            QStringLiteral("確認コードが正しくありません。"))
                       : todayLoginPasswordPage(s, bidder->id, done,
                                                QStringLiteral("パスワードが間違っています。")));
        const QString session = createSession(bidder->id);
        return redirect(done, {"Set-Cookie: " + sessionCookieName().toLatin1() + '=' +
                               session.toLatin1() + "; Domain=" + cookieDomain().toLatin1() +
                               "; Path=/"});
    }
    if (!mainHost)
        return std::nullopt;
    if (path == QLatin1String("/") && !in.post)
        return page(todayTopPage(s, viewer));
    const int pageNo = qMax(1, field(query, "apg").toInt());
    auto memberList = [&](const QString &heading, const QList<const Item *> &all,
                          const QString &base) -> Response {
        const qsizetype from = qsizetype(pageNo - 1) * s.watchPageSize;
        const QString next = from + s.watchPageSize < all.size()
                                 ? base + QStringLiteral("&apg=") + QString::number(pageNo + 1)
                                 : QString();
        return page(todayListPage(s, heading, all.mid(from, s.watchPageSize), next));
    };
    if (path == QLatin1String("/openwatchlist/jp/show/mystatus")) {
        const Bidder *b = s.bidder(viewer.id);
        if (!b)
            return loginRedirect(in);
        QList<const Item *> rows;
        for (const QString &id : b->watchlist) {
            if (const Item *it = s.item(id); it && !it->ended(now))
                rows << it;
        }
        return memberList(
            QStringLiteral("ウォッチリスト"), rows,
            QStringLiteral("/openwatchlist/jp/show/mystatus?select=watchlist&watchclosed=0"));
    }
    if (path == QLatin1String("/openuser/jp/show/mystatus") ||
        path == QLatin1String("/closeduser/jp/show/mystatus")) {
        if (viewer.id.isEmpty())
            return loginRedirect(in);
        const bool won = path.startsWith(QLatin1String("/closeduser"));
        QList<const Item *> rows;
        for (const Item &it : s.items) {
            if (won ? it.winner(now).compare(viewer.id, Qt::CaseInsensitive) == 0
                    : !it.ended(now) && it.maxBids.contains(viewer.id))
                rows << &it;
        }
        return memberList(
            won ? QStringLiteral("落札分") : QStringLiteral("入札中"), rows,
            path + (won ? QStringLiteral("?select=won") : QStringLiteral("?select=bidding")));
    }
    static const QRegularExpression listing(QStringLiteral("^/category/list/(\\d+)/?$"));
    const QRegularExpressionMatch lm = listing.match(path);
    if (path == QLatin1String("/search/search") || lm.hasMatch()) {
        const QString keyword = field(query, "p");
        const qint64 cat =
            lm.hasMatch() ? lm.captured(1).toLongLong() : field(query, "auccat").toLongLong();
        QList<const Item *> hits;
        int buyNow = 0;
        for (const Item &it : s.items) {
            if (it.ended(now) || (!keyword.isEmpty() && !keywordMatches(it.title, keyword)))
                continue;
            if (cat != 0 && !inCategory(it, cat))
                continue;
            hits << &it;
            buyNow += it.buyNow > 0 ? 1 : 0;
        }
        const int offset = qMax(1, field(query, "b").toInt());
        const int n =
            qBound(1, field(query, "n").toInt() > 0 ? field(query, "n").toInt() : 50, 100);
        return page(todayResultPage(s,
                                    lm.hasMatch() ? QStringLiteral("カテゴリ ") + lm.captured(1)
                                                  : keyword + QStringLiteral("の検索結果"),
                                    int(hits.size()), buyNow, hits.mid(offset - 1, n)));
    }
    if (path.startsWith(QLatin1String("/seller/"))) {
        for (const Item &it : s.items) {
            if (todayItemJson(s, it, viewer, now)
                    .value(QStringLiteral("seller"))
                    .toObject()
                    .value(QStringLiteral("aucUserId"))
                    .toString() == path.mid(8))
                return page(todaySellerPage(it));
        }
        return page(todayNotFoundPage(), 404);
    }
    if (in.post && path == todayPreviewPath(s.pageVariant))
        return todayPreview(in, bodyForm(in.body));
    if (in.post && path == todayPlacePath(s.pageVariant))
        return todayPlace(in, bodyForm(in.body));
    return std::nullopt;
}

SimSite::Response SimSite::jsonAnswer(const QJsonObject &o)
{
    Response r(200, QJsonDocument(o).toJson(QJsonDocument::Compact));
    r.type = "application/json; charset=UTF-8";
    return r;
}

SimSite::Response SimSite::todayPreview(const Incoming &in, const QUrlQuery &form)
{
    const bool b = m_scenario.pageVariant == QLatin1String("b");
    auto refuse = [&](const QString &a, const QString &bText) {
        return jsonAnswer(
            QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("message"), b ? bText : a}});
    };
    const QString id = field(form, b ? "aid" : "auctionId");
    const QString crumb = field(form, b ? "_crumb" : "crumb");
    Item *item = m_scenario.item(id);
    if (in.viewer.isEmpty() || crumb.isEmpty() || crumb != m_crumbs.value(in.session))
        return refuse(QStringLiteral("ログインしてください。"),
                      QStringLiteral("認証エラー（E-401）"));
    if (!item)
        return refuse(QStringLiteral("この商品は存在しません。"),
                      QStringLiteral("対象がありません（E-404）"));
    if (item->ended(m_scenario.now()))
        return refuse(QStringLiteral("このオークションは終了しています。"),
                      QStringLiteral("受付できません（E-410）"));
    bool ok = false;
    const qint64 amount = field(form, b ? "bid" : "price").toLongLong(&ok);
    const int quantity = field(form, b ? "qty" : "quantity").toInt();
    if (!ok || amount <= 0)
        return refuse(QStringLiteral("入札額を入力してください。"),
                      QStringLiteral("入力内容に誤りがあります（E-200）"));
    if (quantity < 1 || quantity > item->quantity)
        return refuse(QStringLiteral("数量を確認してください。"),
                      QStringLiteral("入力内容に誤りがあります（E-201）"));
    if (amount < item->minimumBid())
        return refuse(QStringLiteral("入札額が低すぎます。") + yen(item->minimumBid()) +
                          QStringLiteral("円以上で入札してください。"),
                      QStringLiteral("入力金額が条件を満たしません（E-220）"));
    const QString token = QString::number(QRandomGenerator::global()->generate64(), 16);
    m_previews.insert(
        token, Preview{in.viewer, item->id, qint32(qMin<qint64>(amount, 999999999)), quantity});
    return jsonAnswer(QJsonObject{{QStringLiteral("ok"), true},
                                  {QStringLiteral("price"), double(amount)},
                                  {QStringLiteral("quantity"), quantity},
                                  {QStringLiteral("title"), item->title},
                                  {QStringLiteral("token"), token}});
}

SimSite::Response SimSite::todayPlace(const Incoming &in, const QUrlQuery &form)
{
    const bool b = m_scenario.pageVariant == QLatin1String("b");
    const QString token = field(form, b ? "t" : "token");
    const QString crumb = field(form, b ? "_crumb" : "crumb");
    const Preview preview = m_previews.take(token);
    const QDateTime now = m_scenario.now();
    m_confirmations << Confirmation{now.toMSecsSinceEpoch(),
                                    field(form, b ? "aid" : "auctionId"),
                                    token,
                                    qint32(field(form, b ? "bid" : "price").toLongLong()),
                                    qMax(1, field(form, b ? "qty" : "quantity").toInt()),
                                    !preview.itemId.isEmpty()};
    Item *item = m_scenario.item(preview.itemId);
    if (!item || preview.bidder != in.viewer || crumb != m_crumbs.value(in.session))
        return jsonAnswer(QJsonObject{
            {QStringLiteral("result"), QStringLiteral("error")},
            {QStringLiteral("message"),
             b ? QStringLiteral("受付できません（E-409）")
               : QStringLiteral("入札できませんでした。もう一度最初からお試しください。")}});
    const BidOutcome outcome = recordBid(*item, preview.bidder, preview.amount, preview.quantity);
    return jsonAnswer(QJsonObject{
        {QStringLiteral("result"), int(outcome)},
        {QStringLiteral("message"), todayAnswerText(m_scenario.pageVariant, outcome, *item)}});
}

} // namespace sim
