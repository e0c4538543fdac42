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

const char *const kSchema[] = {
    "CREATE TABLE tblYo ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " itemid TEXT NOT NULL UNIQUE,"
    " Itemname TEXT,"
    " Serverid TEXT,"
    " ItemYenNow INTEGER NOT NULL DEFAULT 0,"
    " SaikougakuShaid TEXT,"
    " enddate TEXT,"
    " ShuppinShaID TEXT,"
    " ItemYenKibou INTEGER NOT NULL DEFAULT 0,"
    " NumUri INTEGER NOT NULL DEFAULT 0,"
    " NumNyuusatu INTEGER NOT NULL DEFAULT 0,"
    " ItemYenStart INTEGER NOT NULL DEFAULT 0,"
    " ItemYenUnit INTEGER NOT NULL DEFAULT 0,"
    " Flagsaitei INTEGER NOT NULL DEFAULT 0,"
    " Flagjidouencho INTEGER NOT NULL DEFAULT 0,"
    " cat TEXT NOT NULL DEFAULT '0',"
    " ItemYen INTEGER NOT NULL DEFAULT 0,"
    " Numkai INTEGER NOT NULL DEFAULT 0,"
    " status INTEGER NOT NULL DEFAULT 0,"
    " fin INTEGER NOT NULL DEFAULT 0,"
    " SiteGen INTEGER NOT NULL DEFAULT 0,"
    " ItemYenTaxin INTEGER NOT NULL DEFAULT 0,"
    " EarlyEnd INTEGER NOT NULL DEFAULT 0,"
    " CatPath TEXT NOT NULL DEFAULT '',"
    " SellerKey TEXT NOT NULL DEFAULT '',"
    " Verdict TEXT NOT NULL DEFAULT '')",
    "CREATE INDEX tblYo_enddate ON tblYo(enddate)",
    "CREATE TABLE tblycat (id INTEGER PRIMARY KEY, ycat TEXT)",
    "CREATE TABLE tblLog ("
    " ID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " tDate TEXT NOT NULL DEFAULT (datetime('now','+9 hours')),"
    " Memo TEXT)",
    "PRAGMA user_version = 1",
};

// Columns added to tblYo after its first form; a file without them gets them at the start.
const char *const kAddedColumns[][2] = {
    {"SiteGen", "INTEGER NOT NULL DEFAULT 0"},  {"ItemYenTaxin", "INTEGER NOT NULL DEFAULT 0"},
    {"EarlyEnd", "INTEGER NOT NULL DEFAULT 0"}, {"CatPath", "TEXT NOT NULL DEFAULT ''"},
    {"SellerKey", "TEXT NOT NULL DEFAULT ''"},  {"Verdict", "TEXT NOT NULL DEFAULT ''"},
};

// Files written before every stored time was Japan time carry user_version 0: their log
// times are the writing machine's local time (the end times were always the site's own).
constexpr int kTimesInJapan = 1;

struct TableColumns
{
    const char *table;
    QStringList columns;
};

const QList<TableColumns> &requiredColumns()
{
    static const QList<TableColumns> cols = {
        {"tblYo", {QStringLiteral("id"),
                   QStringLiteral("itemid"),
                   QStringLiteral("Itemname"),
                   QStringLiteral("Serverid"),
                   QStringLiteral("ItemYenNow"),
                   QStringLiteral("SaikougakuShaid"),
                   QStringLiteral("enddate"),
                   QStringLiteral("ShuppinShaID"),
                   QStringLiteral("ItemYenKibou"),
                   QStringLiteral("NumUri"),
                   QStringLiteral("NumNyuusatu"),
                   QStringLiteral("ItemYenStart"),
                   QStringLiteral("ItemYenUnit"),
                   QStringLiteral("Flagsaitei"),
                   QStringLiteral("Flagjidouencho"),
                   QStringLiteral("cat"),
                   QStringLiteral("ItemYen"),
                   QStringLiteral("Numkai"),
                   QStringLiteral("status"),
                   QStringLiteral("fin")}},
        {"tblycat", {QStringLiteral("id"), QStringLiteral("ycat")}},
        {"tblLog", {QStringLiteral("ID"), QStringLiteral("tDate"), QStringLiteral("Memo")}},
    };
    return cols;
}

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

bool ItemDatabase::createSchema()
{
    QSqlDatabase db = connection();
    if (!db.transaction()) {
        fail(QStringLiteral("データベースを作成できません"), db.lastError());
        return false;
    }
    for (const char *sql : kSchema) {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(sql))) {
            fail(QStringLiteral("データベースを作成できません"), q.lastError());
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        fail(QStringLiteral("データベースを作成できません"), db.lastError());
        return false;
    }
    return true;
}

QString ItemDatabase::schemaProblem()
{
    QSqlDatabase db = connection();
    QStringList missing;
    for (const TableColumns &t : requiredColumns()) {
        const QString table = QString::fromLatin1(t.table);
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA table_info(") + table + QLatin1Char(')')))
            return QStringLiteral("データベースを読めません：") + q.lastError().text();
        QStringList present;
        while (q.next())
            present << q.value(1).toString().toCaseFolded();
        if (present.isEmpty()) {
            missing << QStringLiteral("表 ") + table;
            continue;
        }
        for (const QString &c : t.columns) {
            if (!present.contains(c.toCaseFolded()))
                missing << table + QLatin1Char('.') + c;
        }
    }
    if (missing.isEmpty())
        return {};
    return QStringLiteral("データベースに必要な項目がありません：") +
           missing.join(QStringLiteral("、"));
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

bool ItemDatabase::addMissingColumns()
{
    m_lastError.clear();
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("PRAGMA table_info(tblYo)"))) {
        fail(QStringLiteral("データベースを読めません"), q.lastError());
        return false;
    }
    QStringList present;
    while (q.next())
        present << q.value(1).toString().toCaseFolded();
    q.finish();
    for (const auto &[name, type] : kAddedColumns) {
        const QString column = QString::fromLatin1(name);
        if (present.contains(column.toCaseFolded()))
            continue;
        if (!q.exec(QStringLiteral("ALTER TABLE tblYo ADD COLUMN ") + column + QLatin1Char(' ') +
                    QString::fromLatin1(type))) {
            fail(QStringLiteral("データベースに項目を追加できません（") + column +
                     QStringLiteral("）"),
                 q.lastError());
            return false;
        }
    }
    return true;
}

bool ItemDatabase::upgradeStoredTimes()
{
    m_lastError.clear();
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        fail(QStringLiteral("データベースの版を読めません"), q.lastError());
        return false;
    }
    if (q.value(0).toInt() >= kTimesInJapan)
        return true;
    q.finish();
    QSqlDatabase db = connection();
    if (!db.transaction()) {
        fail(QStringLiteral("記録の時刻を日本時間に直せません"), db.lastError());
        return false;
    }
    // SQLite's 'utc' reads the time as this machine's local time, which is how the log
    // times were written.
    if (!q.exec(QStringLiteral("UPDATE tblLog SET tDate = datetime(tDate, 'utc', '+9 hours') "
                               "WHERE datetime(tDate) IS NOT NULL")) ||
        !q.exec(QStringLiteral("PRAGMA user_version = ") + QString::number(kTimesInJapan))) {
        fail(QStringLiteral("記録の時刻を日本時間に直せません"), q.lastError());
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        fail(QStringLiteral("記録の時刻を日本時間に直せません"), db.lastError());
        return false;
    }
    return true;
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
