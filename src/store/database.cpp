#include "database.h"

#include "clock.h"
#include "siteclock.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <atomic>

namespace sw {
namespace {

const char *const kTimeFormat = "yyyy-MM-dd HH:mm:ss";

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("snipewell-db-%1").arg(++counter);
}

} // namespace

ItemDatabase::ItemDatabase(const QString &path)
    : m_path(path), m_connectionName(nextConnectionName())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
}

ItemDatabase::~ItemDatabase()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase ItemDatabase::connection() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool ItemDatabase::open()
{
    QSqlDatabase db = connection();
    if (db.isOpen())
        return true;
    if (!db.open()) {
        fail(QStringLiteral("データベースを開けません"), db.lastError());
        return false;
    }
    return true;
}

bool ItemDatabase::isOpen() const
{
    return connection().isOpen();
}

void ItemDatabase::fail(const QString &what, const QSqlError &e)
{
    m_lastError = what + QStringLiteral("：") + e.text();
}

bool ItemDatabase::exec(const QString &sql, const QVariantList &binds)
{
    m_lastError.clear();
    QSqlQuery q(connection());
    if (!q.prepare(sql)) {
        fail(QStringLiteral("データベースの命令を準備できません"), q.lastError());
        return false;
    }
    for (const QVariant &v : binds)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(QStringLiteral("データベースに書き込めません"), q.lastError());
        return false;
    }
    return true;
}

QString ItemDatabase::toDbTime(const QDateTime &t)
{
    return inSiteZone(t).toString(QString::fromLatin1(kTimeFormat));
}

QDateTime ItemDatabase::fromDbTime(const QVariant &v)
{
    // "yyyy-MM-dd HH:mm:ss" read by hand: the general parser is slow enough to be felt when
    // a list of thousands of items is read.
    const QString t = v.toString();
    auto num = [&t](int from, int len) {
        int n = 0;
        for (int i = from; i < from + len; ++i) {
            const char16_t c = t.at(i).unicode();
            if (c < u'0' || c > u'9')
                return -1;
            n = n * 10 + (c - u'0');
        }
        return n;
    };
    if (t.size() == 19 && t.at(4) == QLatin1Char('-') && t.at(7) == QLatin1Char('-') &&
        t.at(10) == QLatin1Char(' ') && t.at(13) == QLatin1Char(':') &&
        t.at(16) == QLatin1Char(':')) {
        const QDate d(num(0, 4), num(5, 2), num(8, 2));
        const QTime tm(num(11, 2), num(14, 2), num(17, 2));
        if (d.isValid() && tm.isValid())
            return QDateTime(d, tm, siteZone());
    }
    QDateTime other = QDateTime::fromString(t, QString::fromLatin1(kTimeFormat));
    if (other.isValid())
        other.setTimeZone(siteZone());
    return other;
}

ItemRecord ItemDatabase::recordFrom(const QSqlRecord &r)
{
    ItemRecord it;
    it.id = r.value(QStringLiteral("id")).toInt();
    it.itemid = r.value(QStringLiteral("itemid")).toString();
    it.Itemname = r.value(QStringLiteral("Itemname")).toString();
    it.Serverid = r.value(QStringLiteral("Serverid")).toString();
    it.ItemYenNow = r.value(QStringLiteral("ItemYenNow")).toLongLong();
    it.SaikougakuShaid = r.value(QStringLiteral("SaikougakuShaid")).toString();
    it.enddate = fromDbTime(r.value(QStringLiteral("enddate")));
    it.ShuppinShaID = r.value(QStringLiteral("ShuppinShaID")).toString();
    it.ItemYenKibou = r.value(QStringLiteral("ItemYenKibou")).toLongLong();
    it.NumUri = r.value(QStringLiteral("NumUri")).toLongLong();
    it.NumNyuusatu = r.value(QStringLiteral("NumNyuusatu")).toLongLong();
    it.ItemYenStart = r.value(QStringLiteral("ItemYenStart")).toLongLong();
    it.ItemYenUnit = r.value(QStringLiteral("ItemYenUnit")).toLongLong();
    it.Flagsaitei = r.value(QStringLiteral("Flagsaitei")).toInt() != 0;
    it.Flagjidouencho = r.value(QStringLiteral("Flagjidouencho")).toInt() != 0;
    it.cat = r.value(QStringLiteral("cat")).toString();
    it.ItemYen = r.value(QStringLiteral("ItemYen")).toLongLong();
    it.Numkai = r.value(QStringLiteral("Numkai")).toInt();
    it.status = r.value(QStringLiteral("status")).toInt();
    it.fin = r.value(QStringLiteral("fin")).toInt() != 0;
    it.SiteGen = r.value(QStringLiteral("SiteGen")).toInt();
    it.ItemYenTaxin = r.value(QStringLiteral("ItemYenTaxin")).toLongLong();
    it.EarlyEnd = r.value(QStringLiteral("EarlyEnd")).toInt() != 0;
    it.CatPath = r.value(QStringLiteral("CatPath")).toString();
    it.SellerKey = r.value(QStringLiteral("SellerKey")).toString();
    it.Verdict = r.value(QStringLiteral("Verdict")).toString();
    return it;
}

std::optional<QList<ItemRecord>> ItemDatabase::selectItems(const Statement &st)
{
    m_lastError.clear();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.prepare(st.sql)) {
        fail(QStringLiteral("データベースを読めません"), q.lastError());
        return std::nullopt;
    }
    for (const QVariant &v : st.binds)
        q.addBindValue(v);
    if (!q.exec()) {
        fail(QStringLiteral("データベースを読めません"), q.lastError());
        return std::nullopt;
    }
    QList<ItemRecord> rows;
    while (q.next())
        rows.append(recordFrom(q.record()));
    return rows;
}

ItemDatabase::Upsert ItemDatabase::upsertItem(const ItemRecord &p)
{
    m_lastError.clear();
    const QVariantList values = {p.Itemname,
                                 p.Serverid,
                                 p.ItemYenNow,
                                 p.SaikougakuShaid,
                                 toDbTime(p.enddate),
                                 p.ShuppinShaID,
                                 p.ItemYenKibou,
                                 p.NumUri,
                                 p.NumNyuusatu,
                                 p.ItemYenStart,
                                 p.ItemYenUnit,
                                 int(p.Flagsaitei),
                                 int(p.Flagjidouencho),
                                 int(p.fin),
                                 p.SiteGen,
                                 p.ItemYenTaxin,
                                 int(p.EarlyEnd),
                                 p.CatPath.isNull() ? QStringLiteral("") : p.CatPath,
                                 p.SellerKey.isNull() ? QStringLiteral("") : p.SellerKey};
    QSqlQuery find(connection());
    find.prepare(QStringLiteral("SELECT id FROM tblYo WHERE itemid = ?"));
    find.addBindValue(p.itemid);
    if (!find.exec()) {
        fail(QStringLiteral("データベースを読めません"), find.lastError());
        return Upsert::Failed;
    }
    if (find.next()) {
        const int id = find.value(0).toInt();
        find.finish();
        QVariantList binds = values;
        binds << id;
        const bool ok =
            exec(QStringLiteral("UPDATE tblYo SET Itemname=?, Serverid=?, ItemYenNow=?, "
                                "SaikougakuShaid=?, enddate=?, ShuppinShaID=?, ItemYenKibou=?, "
                                "NumUri=?, NumNyuusatu=?, ItemYenStart=?, ItemYenUnit=?, "
                                "Flagsaitei=?, Flagjidouencho=?, fin=?, SiteGen=?, "
                                "ItemYenTaxin=?, EarlyEnd=?, CatPath=?, SellerKey=? WHERE id=?"),
                 binds);
        return ok ? Upsert::Updated : Upsert::Failed;
    }
    find.finish();
    QVariantList binds = values;
    binds << p.itemid;
    const bool ok =
        exec(QStringLiteral("INSERT INTO tblYo (Itemname, Serverid, ItemYenNow, SaikougakuShaid, "
                            "enddate, ShuppinShaID, ItemYenKibou, NumUri, NumNyuusatu, "
                            "ItemYenStart, ItemYenUnit, Flagsaitei, Flagjidouencho, fin, SiteGen, "
                            "ItemYenTaxin, EarlyEnd, CatPath, SellerKey, itemid, cat) "
                            "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,'0')"),
             binds);
    return ok ? Upsert::Inserted : Upsert::Failed;
}

ItemDatabase::Upsert ItemDatabase::upsertListing(const ItemRecord &row)
{
    const std::optional<ItemRecord> known = itemByItemid(row.itemid);
    if (!known && !m_lastError.isEmpty())
        return Upsert::Failed;
    if (!known) {
        ItemRecord fresh = row;
        fresh.Serverid.clear();
        fresh.SiteGen = TodayListing;
        fresh.NumUri = qMax<qint64>(1, row.NumUri);
        fresh.SaikougakuShaid.clear(); // who leads: not known
        return upsertItem(fresh);
    }
    const bool ok =
        exec(QStringLiteral("UPDATE tblYo SET Itemname=?, ItemYenNow=?, ItemYenKibou=?, "
                            "ItemYenStart=?, enddate=? WHERE id=?"),
             {row.Itemname, row.ItemYenNow, row.ItemYenKibou, row.ItemYenStart,
              toDbTime(row.enddate), known->id});
    return ok ? Upsert::Updated : Upsert::Failed;
}

std::optional<ItemRecord> ItemDatabase::itemById(int id)
{
    const auto rows = selectItems({QStringLiteral("SELECT * FROM tblYo WHERE id = ?"), {id}});
    if (!rows || rows->isEmpty())
        return std::nullopt;
    return rows->first();
}

std::optional<ItemRecord> ItemDatabase::itemByItemid(const QString &itemid)
{
    const auto rows =
        selectItems({QStringLiteral("SELECT * FROM tblYo WHERE itemid = ?"), {itemid}});
    if (!rows || rows->isEmpty())
        return std::nullopt;
    return rows->first();
}

bool ItemDatabase::saveUserColumns(int id, qint64 itemYen, const QString &cat, qint32 numkai,
                                   int status)
{
    return exec(QStringLiteral("UPDATE tblYo SET ItemYen=?, cat=?, Numkai=?, status=? WHERE id=?"),
                {itemYen, cat, numkai, status, id});
}

bool ItemDatabase::saveRefresh(int id, qint64 itemYenNow, const QString &bidder, qint64 numNyuusatu,
                               int status, bool fin, const QDateTime &enddate)
{
    return exec(QStringLiteral("UPDATE tblYo SET ItemYenNow=?, SaikougakuShaid=?, "
                               "NumNyuusatu=?, status=?, fin=?, enddate=? WHERE id=?"),
                {itemYenNow, bidder, numNyuusatu, status, int(fin), toDbTime(enddate), id});
}

bool ItemDatabase::saveSiteColumns(int id, const ItemRecord &p)
{
    return exec(QStringLiteral("UPDATE tblYo SET Itemname=?, ShuppinShaID=?, NumUri=?, "
                               "ItemYenKibou=?, ItemYenStart=?, Flagjidouencho=?, EarlyEnd=?, "
                               "ItemYenTaxin=?, CatPath=?, SellerKey=?, SiteGen=? WHERE id=?"),
                {p.Itemname, p.ShuppinShaID, p.NumUri, p.ItemYenKibou, p.ItemYenStart,
                 int(p.Flagjidouencho), int(p.EarlyEnd), p.ItemYenTaxin,
                 p.CatPath.isNull() ? QStringLiteral("") : p.CatPath,
                 p.SellerKey.isNull() ? QStringLiteral("") : p.SellerKey, int(TodayPage), id});
}

std::optional<QList<ItemRecord>> ItemDatabase::openItems()
{
    return selectItems({QStringLiteral("SELECT * FROM tblYo WHERE fin = 0 ORDER BY enddate"), {}});
}

bool ItemDatabase::setCategory(int id, const QString &cat)
{
    return exec(QStringLiteral("UPDATE tblYo SET cat=? WHERE id=?"), {cat, id});
}

bool ItemDatabase::setVerdict(int id, const QString &verdict)
{
    return exec(QStringLiteral("UPDATE tblYo SET Verdict=COALESCE(?, '') WHERE id=?"),
                {verdict, id});
}

std::optional<QList<ItemRecord>> ItemDatabase::itemsWithVerdict()
{
    return selectItems(
        {QStringLiteral("SELECT * FROM tblYo WHERE Verdict <> '' ORDER BY enddate"), {}});
}

std::optional<QList<ItemRecord>> ItemDatabase::biddingCandidates(const QDateTime &now)
{
    // A row whose end is no time at all (damaged, hand-edited) comes too, so that the
    // scheduler can say so; as text it would compare as a time far ahead.
    return selectItems({QStringLiteral("SELECT * FROM tblYo WHERE Numkai > 0 AND "
                                       "(enddate > ? OR datetime(enddate) IS NULL) "
                                       "ORDER BY enddate DESC"),
                        {toDbTime(now)}});
}

std::optional<QList<ItemRecord>> ItemDatabase::endedUnrecorded(const QDateTime &now)
{
    return selectItems({QStringLiteral("SELECT * FROM tblYo WHERE Numkai > 0 AND ItemYen > 0 AND "
                                       "fin = 0 AND datetime(enddate) IS NOT NULL AND "
                                       "enddate <= ? ORDER BY enddate DESC"),
                        {toDbTime(now)}});
}

bool ItemDatabase::logHasEntryStarting(const QString &prefix)
{
    QSqlQuery q(connection());
    q.prepare(QStringLiteral("SELECT 1 FROM tblLog WHERE substr(Memo, 1, ?) = ? LIMIT 1"));
    q.addBindValue(int(prefix.size()));
    q.addBindValue(prefix);
    if (!q.exec()) {
        fail(QStringLiteral("ログを読めません"), q.lastError());
        return false;
    }
    return q.next();
}

std::optional<QList<ItemRecord>>
ItemDatabase::wonInCategory(const QDateTime &now, const QString &ownId, const QString &cat)
{
    return selectItems({QStringLiteral("SELECT * FROM tblYo WHERE enddate < ? AND "
                                       "datetime(enddate) IS NOT NULL AND "
                                       "SaikougakuShaid = ? COLLATE NOCASE AND cat = ? "
                                       "ORDER BY enddate"),
                        {toDbTime(now), ownId, cat}});
}

Statement ItemDatabase::wonStatement(const QString &ownId)
{
    return {
        QStringLiteral("SELECT * FROM tblYo WHERE fin = 1 AND SaikougakuShaid = ? COLLATE NOCASE "
                       "ORDER BY enddate"),
        {ownId}};
}

std::optional<QList<ItemRecord>> ItemDatabase::wonItems(const QString &ownId)
{
    return selectItems(wonStatement(ownId));
}

Statement ItemDatabase::listStatement(const ListFilter &filter, const QDateTime &now)
{
    QStringList where;
    QVariantList binds;
    if (filter.cat) {
        where << QStringLiteral("cat = ?");
        binds << *filter.cat;
    }
    if (filter.runningOnly) {
        where << QStringLiteral("enddate > ?");
        binds << toDbTime(now);
    }
    if (filter.withLimitOnly)
        where << QStringLiteral("(Numkai > 0 AND ItemYen > 0)");
    QString sql = QStringLiteral("SELECT * FROM tblYo");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY enddate");
    return {sql, binds};
}

std::optional<QList<ItemRecord>> ItemDatabase::listItems(const ListFilter &filter,
                                                         const QDateTime &now)
{
    return selectItems(listStatement(filter, now));
}

bool ItemDatabase::deleteItem(int id)
{
    return exec(QStringLiteral("DELETE FROM tblYo WHERE id=?"), {id});
}

bool ItemDatabase::appendLog(const QString &memo)
{
    // Stamped with the program's own clock (the site's time), not the store's idea of now.
    return exec(QStringLiteral("INSERT INTO tblLog (tDate, Memo) VALUES (?, ?)"),
                {toDbTime(sw::now()), memo});
}

std::optional<QList<LogEntry>> ItemDatabase::logEntries()
{
    m_lastError.clear();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT ID, tDate, Memo FROM tblLog ORDER BY ID DESC"))) {
        fail(QStringLiteral("ログを読めません"), q.lastError());
        return std::nullopt;
    }
    QList<LogEntry> rows;
    while (q.next())
        rows.append({q.value(0).toInt(), fromDbTime(q.value(1)), q.value(2).toString()});
    return rows;
}

int ItemDatabase::trimLog(const QDateTime &now, int keepDays, int keepRows)
{
    m_lastError.clear();
    QSqlQuery q(connection());
    int removed = 0;
    if (keepDays > 0) {
        q.prepare(QStringLiteral("DELETE FROM tblLog WHERE tDate < ?"));
        q.addBindValue(toDbTime(now.addDays(-keepDays)));
        if (!q.exec()) {
            fail(QStringLiteral("ログを整理できません"), q.lastError());
            return -1;
        }
        removed += q.numRowsAffected();
    }
    if (keepRows > 0) {
        q.prepare(QStringLiteral("DELETE FROM tblLog WHERE ID <= (SELECT ID FROM tblLog ORDER BY "
                                 "ID DESC LIMIT 1 OFFSET ?)"));
        q.addBindValue(keepRows);
        if (!q.exec()) {
            fail(QStringLiteral("ログを整理できません"), q.lastError());
            return -1;
        }
        removed += q.numRowsAffected();
    }
    return removed;
}

bool ItemDatabase::clearLog()
{
    return exec(QStringLiteral("DELETE FROM tblLog"), {});
}

bool ItemDatabase::clearLogOf(const QString &itemid)
{
    // The lines the item's own log window shows.
    return exec(QStringLiteral("DELETE FROM tblLog WHERE instr(Memo, ?) > 0"), {itemid});
}

bool ItemDatabase::addSiteCategory(qint64 id, const QString &name)
{
    return exec(QStringLiteral("INSERT OR IGNORE INTO tblycat (id, ycat) VALUES (?, ?)"),
                {id, name});
}

std::optional<QList<std::pair<qint64, QString>>> ItemDatabase::siteCategories()
{
    m_lastError.clear();
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, ycat FROM tblycat ORDER BY id"))) {
        fail(QStringLiteral("データベースを読めません"), q.lastError());
        return std::nullopt;
    }
    QList<std::pair<qint64, QString>> rows;
    while (q.next())
        rows.append({q.value(0).toLongLong(), q.value(1).toString()});
    return rows;
}

} // namespace sw
