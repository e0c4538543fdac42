#pragma once

#include "classic/classicpage.h"
#include "database.h"
#include "itemreading.h"
#include "itemrecord.h"
#include "sitehosts.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace sw {

class ItemDatabase;

// The text between start and end, searched from the 1-based cursor. Found: the text
// between the markers, and the cursor moves to the end marker's position + 1. Not
// found: empty, and the cursor stays.
QString GetBetween(const QString &text, int &cursor, const QString &start, const QString &end);

// A number as the site writes it: digit-group commas and blanks are fine; a sign is not.
std::optional<qint64> parseSiteNumber(const QString &text);
// "12月 6日 21時 0分" (optionally seconds), which the site writes in Japan time, completed
// with the year that puts it nearest to now: an auction seen on 31 December that ends on
// 1 January ends next year.
std::optional<QDateTime> parseSiteEndTime(const QString &text, const QDateTime &now);

// The site's login page (or its wrong-password page) where another page was asked for.
// finalUrl: where the answer came from; a page of the login host is its login.
bool looksLikeLoginPage(const QString &html, const QString &finalUrl = QString(),
                        const SiteHosts *hosts = nullptr);
// The site's bid increment for a price, for pages that give no usable unit.
qint64 siteBidIncrement(qint64 price);

// Reads an item page without storing it, whichever kind of page it is: today's page (its
// data blocks) or the classic one (its tables). A page that is neither says what it lacks.
ItemPage readItemPage(const QString &url, const QString &html, const QDateTime &now,
                      const SiteHosts &hosts);
ItemPage readItemPage(const QString &url, const QString &html, const QDateTime &now);

// The short parse used by refreshes; nullopt when the page is not an item page or a present
// value does not read as a number or a date. The page's own status says whether the auction
// is over; its end time alone says so only once it is endedAfterMs past (how far the site's
// clock may be from the estimate, and a margin).
std::optional<ItemState> ParseItemStatus(const QString &html, const QString &ownId,
                                         const QDateTime &now, qint64 endedAfterMs,
                                         const SiteHosts &hosts);
std::optional<ItemState> ParseItemStatus(const QString &html, const QString &ownId,
                                         const QDateTime &now, qint64 endedAfterMs = 0);

// Result of the full parse with storing.
enum ItemPageResult
{
    NothingStored = 0,
    Inserted = 1,
    Updated = 2
};

// The full parse that stores the item, with the callers' filters. Announces a stored
// item through itemsChanged() so the item list can re-query.
class ItemPageParser : public QObject
{
    Q_OBJECT
public:
    explicit ItemPageParser(ItemDatabase &db, QObject *parent = nullptr) : QObject(parent), m_db(db)
    {}
    // The site's hosts as configured: an item's address is read against them.
    void setHosts(const SiteHosts *hosts) { m_hosts = hosts; }
    // Who writes the rows: the owner of armed bids sets itself, so that an armed item's row
    // is written by the one who owns its bid and the bid takes it up before anything more
    // goes to the site. The parser never writes a row itself: without a writer nothing is
    // stored, and the last error says so. Returns the writer it replaces.
    struct Writer
    {
        std::function<ItemDatabase::Upsert(const ItemRecord &page)> item;
        std::function<ItemDatabase::Upsert(const ItemRecord &listing)> listing;
    };
    Writer setWriter(Writer w) { return std::exchange(m_writer, std::move(w)); }

    int ParseItemPage(const QString &url, const QString &html, qint32 minPrice, qint32 maxPrice,
                      bool noAutoExtension = false, bool buyPriceDiffers = false);
    // Stores what a row of today's result pages says of an item (its id, title, prices and
    // end), with the price filters; the rest comes when its page is first read.
    int StoreListing(const ItemRecord &row, qint32 minPrice, qint32 maxPrice, bool buyPriceDiffers);
    // Why the last call stored nothing, for callers that report it (may be empty).
    QString lastError() const { return m_lastError; }
    // The last call read an item but the store refused it (a full disk, a locked file).
    bool storeFailed() const { return m_storeFailed; }
    // What to tell the user about a refused store, naming the item.
    QString storeFailureText(const QString &itemid) const;
    // The end of a run that could not store n of its items.
    static QString storeFailuresText(int n);

    // The four filters; true when the item passes them.
    static bool passesFilters(const ItemRecord &item, qint32 minPrice, qint32 maxPrice,
                              bool noAutoExtension, bool buyPriceDiffers);

signals:
    void itemsChanged();

private:
    ItemDatabase &m_db;
    const SiteHosts *m_hosts = nullptr;
    Writer m_writer;
    QString m_lastError;
    bool m_storeFailed = false;
};

} // namespace sw
