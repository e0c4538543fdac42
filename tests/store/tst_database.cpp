#include "database.h"
#include "tempdir.h"

#include <QSqlQuery>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(12, 0, 0));

ItemRecord page(const QString &itemid, const QDateTime &end, qint32 price = 1000)
{
    ItemRecord p;
    p.itemid = itemid;
    p.Itemname = u"品名 "_s + itemid;
    p.Serverid = u"3"_s;
    p.ItemYenNow = price;
    p.SaikougakuShaid = u"-"_s;
    p.enddate = end;
    p.ShuppinShaID = u"seller"_s;
    p.NumUri = 1;
    p.ItemYenStart = 100;
    p.ItemYenUnit = 10;
    return p;
}

struct Db
{
    TempHome home;
    ItemDatabase db{home.path(u"db2k.mdb"_s)};
    Db()
    {
        if (!db.open() || !db.createSchema())
            qFatal("cannot create the test database");
    }
    int add(const QString &itemid, const QDateTime &end, const QString &cat = u"0"_s,
            qint32 itemYen = 0, qint32 numkai = 0, const QString &bidder = u"-"_s, bool fin = false)
    {
        ItemRecord p = page(itemid, end);
        p.SaikougakuShaid = bidder;
        p.fin = fin;
        if (db.upsertItem(p) != ItemDatabase::Upsert::Inserted)
            qFatal("insert failed");
        const int id = db.itemByItemid(itemid)->id;
        db.saveUserColumns(id, itemYen, cat, numkai, 0);
        return id;
    }
};

QStringList itemids(const std::optional<QList<ItemRecord>> &rows)
{
    QStringList ids;
    for (const ItemRecord &r : rows.value())
        ids << r.itemid;
    return ids;
}

} // namespace

class tst_Database : public QObject
{
    Q_OBJECT
private slots:
    void valuesAreStoredExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("apostrophe") << "Tom's 'best' item";
        QTest::newRow("sql text") << "x'); DROP TABLE tblYo; --";
        QTest::newRow("japanese") << "ｶﾞﾝﾀﾞﾑ ガンダム　全角";
        QTest::newRow("hash and percent") << "#2026/12/06# 100%";
    }

    void valuesAreStoredExactly()
    {
        QFETCH(QString, text);
        Db d;
        ItemRecord p = page(text, kNow.addDays(1));
        p.Itemname = text;
        p.SaikougakuShaid = text;
        p.ShuppinShaID = text;
        QCOMPARE(d.db.upsertItem(p), ItemDatabase::Upsert::Inserted);
        QCOMPARE(d.db.upsertItem(p), ItemDatabase::Upsert::Updated);
        const ItemRecord r = *d.db.itemByItemid(text);
        QCOMPARE(r.Itemname, text);
        QCOMPARE(r.SaikougakuShaid, text);
        QCOMPARE(r.ShuppinShaID, text);
        QVERIFY(d.db.setCategory(r.id, u"3"_s));
        QVERIFY(d.db.appendLog(text));
        QCOMPARE(d.db.logEntries()->first().Memo, text);
        QVERIFY(d.db.schemaProblem().isEmpty());
        // The bidder as a won-item query parameter finds the row and nothing breaks.
        QVERIFY(d.db.saveRefresh(r.id, 1, text, 1, 1, true, kNow.addDays(-1)));
        QCOMPARE(d.db.wonItems(text)->size(), 1);
    }

    void biddingCandidates()
    {
        Db d;
        d.add(u"ended"_s, kNow.addSecs(-1), u"0"_s, 1000, 1);
        d.add(u"endsNow"_s, kNow, u"0"_s, 1000, 1);
        d.add(u"noQuantity"_s, kNow.addSecs(60), u"0"_s, 1000, 0);
        d.add(u"soon"_s, kNow.addSecs(60));
        d.db.saveUserColumns(d.db.itemByItemid(u"soon"_s)->id, 0, u"0"_s, 1, 0);
        d.add(u"later"_s, kNow.addDays(2), u"1"_s, 500, 2);
        d.add(u"middle"_s, kNow.addSecs(3600), u"1"_s, 500, 1);
        QCOMPARE(itemids(d.db.biddingCandidates(kNow)),
                 (QStringList{u"later"_s, u"middle"_s, u"soon"_s}));
    }

    void wonInCategory()
    {
        Db d;
        d.add(u"won"_s, kNow.addSecs(-60), u"1"_s, 0, 0, u"me"_s);
        d.add(u"wonCase"_s, kNow.addSecs(-30), u"1"_s, 0, 0, u"ME"_s);
        d.add(u"lost"_s, kNow.addSecs(-60), u"1"_s, 0, 0, u"rival"_s);
        d.add(u"leading"_s, kNow.addSecs(60), u"1"_s, 0, 0, u"me"_s);
        d.add(u"otherCat"_s, kNow.addSecs(-60), u"2"_s, 0, 0, u"me"_s);
        // fin is not consulted: only the end time and the bidder count.
        QCOMPARE(itemids(d.db.wonInCategory(kNow, u"me"_s, u"1"_s)),
                 (QStringList{u"won"_s, u"wonCase"_s}));
        QVERIFY(d.db.wonInCategory(kNow, u"me"_s, u"3"_s)->isEmpty());
    }

    void wonItemsAndOpenItems()
    {
        Db d;
        d.add(u"mine"_s, kNow.addDays(-2), u"0"_s, 0, 0, u"me"_s, true);
        d.add(u"theirs"_s, kNow.addDays(-1), u"0"_s, 0, 0, u"x"_s, true);
        d.add(u"open2"_s, kNow.addDays(2));
        d.add(u"open1"_s, kNow.addDays(1));
        QCOMPARE(itemids(d.db.wonItems(u"me"_s)), QStringList{u"mine"_s});
        QCOMPARE(itemids(d.db.openItems()), (QStringList{u"open1"_s, u"open2"_s}));
        const int id = d.db.itemByItemid(u"open1"_s)->id;
        QVERIFY(d.db.deleteItem(id));
        QVERIFY(!d.db.itemById(id));
    }

    void logNewestFirstWithInsertTime()
    {
        Db d;
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(d.db.appendLog(u"一行目"_s));
        QVERIFY(d.db.appendLog(u"二行目\n続き"_s));
        const QList<LogEntry> log = *d.db.logEntries();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].Memo, u"二行目\n続き"_s);
        QCOMPARE(log[1].Memo, u"一行目"_s);
        for (const LogEntry &e : log) {
            QVERIFY(e.tDate.isValid());
            QVERIFY(e.tDate >= before.addSecs(-1));
            QVERIFY(e.tDate <= QDateTime::currentDateTime().addSecs(1));
        }
        QVERIFY(d.db.clearLog());
        QVERIFY(d.db.logEntries()->isEmpty());
        QVERIFY(d.db.clearLog()); // clearing an empty log is no error
    }

    void failuresAreReportedNotThrown()
    {
        Db d;
        QSqlQuery(d.db.connection()).exec(u"DROP TABLE tblLog"_s);
        QVERIFY(!d.db.appendLog(u"x"_s));
        QVERIFY(!d.db.lastError().isEmpty());
        QVERIFY(!d.db.logEntries());
        QVERIFY(d.db.schemaProblem().contains(u"tblLog"_s));
    }

    void logIsKeptShort_data()
    {
        QTest::addColumn<int>("keepDays");
        QTest::addColumn<int>("keepRows");
        QTest::addColumn<QStringList>("left"); // newest first
        // Entries written 200, 100, 50, 10 and 0 days ago, in that order.
        QTest::newRow("90 days") << 90 << 1000 << QStringList{u"0"_s, u"10"_s, u"50"_s};
        QTest::newRow("two entries") << 0 << 2 << QStringList{u"0"_s, u"10"_s};
        QTest::newRow("both bounds") << 30 << 1 << QStringList{u"0"_s};
        QTest::newRow("nothing to trim")
            << 365 << 10 << QStringList{u"0"_s, u"10"_s, u"50"_s, u"100"_s, u"200"_s};
    }

    void logIsKeptShort()
    {
        QFETCH(int, keepDays);
        QFETCH(int, keepRows);
        QFETCH(QStringList, left);
        Db d;
        QSqlQuery q(d.db.connection());
        for (int daysAgo : {200, 100, 50, 10, 0}) {
            q.prepare(u"INSERT INTO tblLog (tDate, Memo) VALUES (?, ?)"_s);
            q.addBindValue(ItemDatabase::toDbTime(kNow.addDays(-daysAgo)));
            q.addBindValue(QString::number(daysAgo));
            QVERIFY(q.exec());
        }
        QCOMPARE(d.db.trimLog(kNow, keepDays, keepRows), 5 - int(left.size()));
        QStringList memos;
        const QList<LogEntry> entries = d.db.logEntries().value();
        for (const LogEntry &e : entries)
            memos << e.Memo;
        QCOMPARE(memos, left);
    }
};

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
