#pragma once

#include "sitehosts.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace sw {

// Every item a page links to, in page order and once each: the links of the item-page
// form (today's canonical address, page. and page<N>. hosts), also relative ones, read
// against the page's own address. How a list's rows are marked up is not known and not
// needed: the member's lists (watch list, bidding now, won) are read this way.
QList<ItemAddress> itemLinks(const QString &html, const QString &pageUrl, const SiteHosts &hosts);

// One row of today's search results or category listings, from its data-auction-*
// attributes: enough to store the item without opening its page.
struct SearchRow
{
    QString itemid;
    QString title;
    qint64 price = 0;
    qint64 buyNow = 0; // 0: none
    qint64 startPrice = 0;
    QDateTime end;        // from Unix seconds: to the second
    QString categoryPath; // the category ids, as the row gives them
};

struct SearchPage
{
    QList<SearchRow> rows;
    std::optional<qint64> hits; // the current tab's count ("2件"); nullopt when not shown
    QStringList problems;       // rows that could not be read, in words
};

// Whether the page is one of today's result pages (its rows carry data-auction-id).
bool isTodayResultPage(const QString &html);
SearchPage readSearchPage(const QString &html);

// A text of a page as it reads: tags left out, entities (&amp;, &#12354;, …) decoded, blanks
// folded.
QString plainText(QStringView html);

} // namespace sw
