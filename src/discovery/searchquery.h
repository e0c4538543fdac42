#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace sw {

class SiteHosts;

// A category of the site: its number and its name.
struct SiteCategory
{
    qint64 id = 0;
    QString name;
    bool operator==(const SiteCategory &) const = default;
};

// The keyword as the search host wants it: the EUC-JP bytes of the text (half-width
// katakana made full width), every byte written as "%" and two upper-case hex digits.
QString encodeKeyword(const QString &keyword);

// The first page of a keyword search.
QString keywordSearchUrl(const SiteHosts &hosts, const QString &keyword, const QString &categoryId,
                         qint32 minPrice, qint32 maxPrice);

// How many result pages a hit count spreads over: hits / 50 + 1, rounded half to even
// (120 -> 3, 75 -> 2, 125 -> 4).
int resultPageCount(qint64 hits);

// The categories of the search options page, in page order: the first <SELECT> block,
// option by option, up to 101 of them. An option shorter than ten characters ends the list.
QList<SiteCategory> parseCategoryOptions(const QString &page);

// The host of a page whose category can be registered: an auction page (the title's first
// word holds "Yahoo!オークション", a second word follows) with a path. Empty otherwise.
QString categoryPageHost(const QString &url, const QString &title);

// The category a category listing page (host "list…") shows: the last word of the title
// and the number before the first "-" of the file name, which must stand at the fifth
// character or later. Nothing for other pages.
std::optional<SiteCategory> categoryOfListing(const QString &url, const QString &title);

// The category of an item page: the last of the first eight links of its category trail.
std::optional<SiteCategory> categoryOfItemPage(const QString &page);

// Today's pages: the last category of an item page's category path (its data block), and
// the category of a listing page (main host "/category/list/<id>/", named by its title).
std::optional<SiteCategory> categoryOfTodayItemPage(const QString &page);
std::optional<SiteCategory> categoryOfTodayListing(const QString &url, const QString &title,
                                                   const SiteHosts &hosts);

// A price box: a whole number of yen, digit groups allowed; nothing when it is not one.
std::optional<qint32> priceFromBox(const QString &text);

} // namespace sw
