#pragma once

#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace sw {

class SiteHosts;

class ItemPageParser;
class PageFetcher;

// What one search run needs: where to read, the conditions every item must pass and the
// window's displays. Keyword search and category listing differ only in the fields marked.
struct SearchRun
{
    enum Kind
    {
        Keyword,
        Listing
    } kind = Keyword;
    // The address of today's result page whose first row is the offset-th (from 1); the
    // classic address of result page k (1 is the first page), asked when the site does not
    // know today's.
    std::function<QString(int)> todayUrl;
    std::function<QString(int)> pageUrl;
    qint32 minPrice = 0;
    qint32 maxPrice = 0;
    bool noAutoExtension = false;
    bool buyPriceDiffers = false;

    std::weak_ptr<int> alive;            // expires when the window closes
    std::function<bool()> stopRequested; // the window's stop flag
    // Displays: the page being read, "examined/total", stored so far, a row's title.
    std::function<void(int)> showPage;
    std::function<void(const QString &)> showExamined;
    std::function<void(int)> showImported;
    std::function<void(const QString &)> addTitle;
    // The site's hosts: every listed item is read at an address built from them.
    const SiteHosts *hosts = nullptr;
    std::function<void(const QString &)> report; // a line for the activity log
};

struct SearchResult
{
    QString message; // what the window shows at the end (empty: the window has gone)
    int examined = 0;
    int imported = 0;
    int storeFailures = 0; // read, but the store refused them
    int pages = 0;         // result pages announced by the hit count
};

// The end messages.
struct SearchTexts
{
    static QString done() { return QStringLiteral("検索終了"); }
    static QString escaped() { return QStringLiteral("ＥＳＣキーが押されたので中断します"); }
    static QString limit() { return QStringLiteral("一度に１００個以上は取り込みません"); }
    static QString network() { return QStringLiteral("ネットワークの接続が切れました。"); }
    static QString badHitCount(const QString &text)
    {
        return QStringLiteral("検索結果の件数「") + text +
               QStringLiteral("」が読めませんでしたので中断します。");
    }
};

// Reads the result pages one after another and stores every listed item that passes the
// conditions. A listing run stops after its 101st stored item. Today's rows carry what is
// needed: their items are stored without opening each page (only to know whether an item
// extends automatically is its page read); classic rows are read page by page.
QCoro::Task<SearchResult> RunSearch(PageFetcher &fetcher, ItemPageParser &parser, SearchRun run);

} // namespace sw
