#include "itemcapture.h"

#include "clock.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "sitehosts.h"

namespace sw {

QString notAnItemPageText()
{
    return QStringLiteral(
        "このページは「Yahoo!オークション - 商品詳細」ではありませんので取り込めません。");
}

QString endedItemRefusedText()
{
    return QStringLiteral("このオークションは終了していますので取り込めません。");
}

namespace {

bool endedPage(const QString &url, const QString &html)
{
    if (readPageStatus(html).endedShown)
        return true;
    const ItemPage read = readItemPage(url, html, now());
    return read.ok() && read.item.fin;
}

} // namespace

std::optional<ItemAddress> itemFromUserText(const QString &text, const SiteHosts &hosts)
{
    const QString t = text.trimmed();
    // A bare auction id lives on today's item host.
    if (SiteHosts::isItemId(t))
        return ItemAddress{QString(), t};
    return SiteHosts::parseItemPageUrl(t, hosts);
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
        if (ctx.parser.storeFailed())
            co_return ctx.parser.storeFailureText(where.itemid);
        // An ended auction is not taken, also when (some days after its end) the site
        // shows it without its details.
        co_return endedPage(url, page.text) ? endedItemRefusedText() : notAnItemPageText();
    }
}

} // namespace sw
