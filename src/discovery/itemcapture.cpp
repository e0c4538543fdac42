#include "itemcapture.h"

#include "itemparser.h"
#include "pagefetcher.h"
#include "sitehosts.h"

namespace sw {

QString notAnItemPageText()
{
    return QStringLiteral(
        "このページは「Yahoo!オークション - 商品詳細」ではありませんので取り込めません。");
}

std::optional<ItemAddress> itemFromUserText(const QString &text)
{
    const QString t = text.trimmed();
    if (SiteHosts::isItemId(t))
        return ItemAddress{QStringLiteral("1"), t};
    return SiteHosts::parseItemPageUrl(t);
}

QCoro::Task<QString> captureItem(AppContext &ctx, PageFetcher &fetcher, ItemAddress where,
                                 bool *inserted)
{
    *inserted = false;
    const QString url = ctx.hosts.itemPage(where.serverid, where.itemid);
    if (url.isEmpty())
        co_return notAnItemPageText();
    // The program reads the page itself rather than taking a browser's copy.
    const FetchResult page = co_await fetcher.FetchPage(url, false);
    if (!page.ok)
        co_return QStringLiteral("商品ページを読み込めませんでした。しばらくしてからもう一度取り込"
                                 "んでください。");
    switch (ctx.parser.ParseItemPage(url, page.text, 0, 0, false, false)) {
    case Inserted:
        *inserted = true;
        co_return QStringLiteral("取り込み完了");
    case Updated:
        co_return QStringLiteral("すでに登録してあります");
    default:
        co_return ctx.parser.storeFailed() ? ctx.parser.storeFailureText(where.itemid)
                                           : notAnItemPageText();
    }
}

} // namespace sw
