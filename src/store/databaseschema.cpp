#include "database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

// The tables, their check at the start, and what older files get added.
namespace sw {
namespace {

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

} // namespace

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

} // namespace sw
