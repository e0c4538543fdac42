#pragma once

#include "itemrecord.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

#include <optional>
#include <utility>

namespace sw {

struct LogEntry
{
    int id = 0;
    QDateTime tDate;
    QString Memo;
};

// A statement with its values bound by position, for the windows that show a query
// through a model.
struct Statement
{
    QString sql;
    QVariantList binds;
};

// The item database db2k.mdb: tblYo (the user's items), tblycat (site categories the
// search window has learnt) and tblLog (the activity log). Every statement the program
// sends is one named operation here. Values are always bound, never pasted into SQL
// text, so an item name like "Tom's 'quoted' DROP TABLE" is stored exactly as it is.
//
// Operations report failure by their return value; lastError() then holds the store's
// own words.
class ItemDatabase
{
public:
    explicit ItemDatabase(const QString &path);
    ~ItemDatabase();
    ItemDatabase(const ItemDatabase &) = delete;
    ItemDatabase &operator=(const ItemDatabase &) = delete;

    bool open();
    bool isOpen() const;
    QString path() const { return m_path; }
    QString lastError() const { return m_lastError; }
    QSqlDatabase connection() const;

    // Creates the three tables in an empty database.
    bool createSchema();
    // Empty when every table and column is there; otherwise what is missing.
    QString schemaProblem();
    // Every time the store keeps is Japan time (the site's own, as "yyyy-MM-dd HH:mm:ss").
    // A file written before the log was kept that way gets its log times converted once.
    bool upgradeStoredTimes();
    // Gives a file of an earlier version the columns added since (empty, at their defaults).
    bool addMissingColumns();

    enum class Upsert
    {
        Failed,
        Inserted,
        Updated
    };
    // Looks the item up by itemid: a new row gets cat "0" and the user's columns at
    // their defaults; an existing row keeps id, cat, ItemYen, Numkai and status.
    Upsert upsertItem(const ItemRecord &page);
    // What a row of today's result pages gives: a new row (its page still to be read for the
    // rest: SiteGen TodayListing), or the title, prices and end of the row already there.
    Upsert upsertListing(const ItemRecord &row);
    std::optional<ItemRecord> itemById(int id);
    std::optional<ItemRecord> itemByItemid(const QString &itemid);
    // The bid window's save: maximum price, category, quantity and status.
    bool saveUserColumns(int id, qint64 itemYen, const QString &cat, qint32 numkai, int status);
    // A refresh from the item page.
    bool saveRefresh(int id, qint64 itemYenNow, const QString &bidder, qint64 numNyuusatu,
                     int status, bool fin, const QDateTime &enddate);
    // What today's item page gives beyond a refresh: name, seller, quantity, prices, extension.
    bool saveSiteColumns(int id, const ItemRecord &site);
    // Items not finished, earliest end first.
    std::optional<QList<ItemRecord>> openItems();
    bool setCategory(int id, const QString &cat);
    // The bid's verdict, kept until the user clears it (empty clears).
    bool setVerdict(int id, const QString &verdict);
    std::optional<QList<ItemRecord>> itemsWithVerdict();
    // Running items with a quantity, latest end first; rows whose end does not read as a
    // time come too (with an invalid enddate).
    std::optional<QList<ItemRecord>> biddingCandidates(const QDateTime &now);
    // Items with a quantity and a maximum, not recorded as finished, whose end lies
    // before `now`: bids whose time came while the program was not running. Latest first.
    std::optional<QList<ItemRecord>> endedUnrecorded(const QDateTime &now);
    // Whether a log entry begins with this text (an earlier run's "入札開始：id：").
    bool logHasEntryStarting(const QString &prefix);
    // Ended items of the category whose highest bidder is the user.
    std::optional<QList<ItemRecord>> wonInCategory(const QDateTime &now, const QString &ownId,
                                                   const QString &cat);
    // Finished items the user won.
    std::optional<QList<ItemRecord>> wonItems(const QString &ownId);

    struct ListFilter
    {
        std::optional<QString> cat; // only this category
        bool runningOnly = false;   // end still ahead
        bool withLimitOnly = false; // quantity and maximum price set
    };
    static Statement listStatement(const ListFilter &filter, const QDateTime &now);
    static Statement wonStatement(const QString &ownId);
    std::optional<QList<ItemRecord>> listItems(const ListFilter &filter, const QDateTime &now);
    bool deleteItem(int id);

    bool appendLog(const QString &memo);
    std::optional<QList<LogEntry>> logEntries();
    bool clearLog();
    bool clearLogOf(const QString &itemid);
    // Keeps the log to the last keepDays days and keepRows entries; the number of entries
    // removed, or -1 when the store refused.
    int trimLog(const QDateTime &now, int keepDays, int keepRows);

    // Adds the site category unless one with that number is already known.
    bool addSiteCategory(qint64 id, const QString &name);
    std::optional<QList<std::pair<qint64, QString>>> siteCategories();

    static QString toDbTime(const QDateTime &t);
    static QDateTime fromDbTime(const QVariant &v);
    static ItemRecord recordFrom(const class QSqlRecord &r);

private:
    std::optional<QList<ItemRecord>> selectItems(const Statement &st);
    bool exec(const QString &sql, const QVariantList &binds);
    void fail(const QString &what, const class QSqlError &e);

    QString m_path;
    QString m_connectionName;
    QString m_lastError;
};

} // namespace sw
