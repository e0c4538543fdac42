#include "database.h"
#include "tempdir.h"

#include <QSqlQuery>
#include <QTest>

using namespace sw;

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(12, 0, 0));

ItemRecord page(const QString &itemid, const QDateTime &end, qint32 price = 1000)
{
    ItemRecord p;
    p.itemid = itemid;
    p.Itemname = QStringLiteral("品名 ") + itemid;
    p.Serverid = QStringLiteral("3");
    p.ItemYenNow = price;
    p.SaikougakuShaid = QStringLiteral("-");
    p.enddate = end;
    p.ShuppinShaID = QStringLiteral("seller");
    p.NumUri = 1;
    p.ItemYenStart = 100;
    p.ItemYenUnit = 10;
    return p;
}

struct Db
{
    TempHome home;
    ItemDatabase db{home.path(QStringLiteral("db2k.mdb"))};
    Db()
    {
        if (!db.open() || !db.createSchema())
            qFatal("cannot create the test database");
    }
    int add(const QString &itemid, const QDateTime &end, const QString &cat = QStringLiteral("0"),
            qint32 itemYen = 0, qint32 numkai = 0, const QString &bidder = QStringLiteral("-"),
            bool fin = false)
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
    void reregistrationKeepsTheUsersColumns();
    void valuesAreStoredExactly_data();
    void valuesAreStoredExactly();
    void refreshWritesOnlyTheChangingColumns();
    void biddingCandidates();
    void wonInCategory();
    void listFilters_data();
    void listFilters();
    void wonItemsAndOpenItems();
    void logNewestFirstWithInsertTime();
    void siteCategoriesAddedOnce();
    void failuresAreReportedNotThrown();
    void logIsKeptShort_data();
    void logIsKeptShort();
};

void tst_Database::reregistrationKeepsTheUsersColumns()
{
    Db d;
    ItemRecord p = page(QStringLiteral("x100"), kNow.addDays(1));
    QCOMPARE(d.db.upsertItem(p), ItemDatabase::Upsert::Inserted);
    const ItemRecord fresh = *d.db.itemByItemid(QStringLiteral("x100"));
    // New rows: no category, no maximum, no quantity, watching.
    QCOMPARE(fresh.cat, QStringLiteral("0"));
    QCOMPARE(fresh.ItemYen, 0);
    QCOMPARE(fresh.Numkai, 0);
    QCOMPARE(fresh.status, 0);
    QVERIFY(d.db.saveUserColumns(fresh.id, 5000, QStringLiteral("4"), 2, 2));

    p.ItemYenNow = 2500;
    p.NumNyuusatu = 7;
    p.SaikougakuShaid = QStringLiteral("rival");
    QCOMPARE(d.db.upsertItem(p), ItemDatabase::Upsert::Updated);
    const ItemRecord after = *d.db.itemByItemid(QStringLiteral("x100"));
    QCOMPARE(after.id, fresh.id);
    QCOMPARE(after.cat, QStringLiteral("4"));
    QCOMPARE(after.ItemYen, 5000);
    QCOMPARE(after.Numkai, 2);
    QCOMPARE(after.status, 2);
    QCOMPARE(after.ItemYenNow, 2500);
    QCOMPARE(after.NumNyuusatu, 7);
    QCOMPARE(after.SaikougakuShaid, QStringLiteral("rival"));
    QCOMPARE(after.enddate, kNow.addDays(1));
    QCOMPARE(d.db.listItems({}, kNow)->size(), 1);
}

void tst_Database::valuesAreStoredExactly_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("apostrophe") << "Tom's 'best' item";
    QTest::newRow("sql text") << "x'); DROP TABLE tblYo; --";
    QTest::newRow("japanese") << "ｶﾞﾝﾀﾞﾑ ガンダム　全角";
    QTest::newRow("hash and percent") << "#2026/12/06# 100%";
}

void tst_Database::valuesAreStoredExactly()
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
    QVERIFY(d.db.setCategory(r.id, QStringLiteral("3")));
    QVERIFY(d.db.appendLog(text));
    QCOMPARE(d.db.logEntries()->first().Memo, text);
    QVERIFY(d.db.schemaProblem().isEmpty());
    // The bidder as a won-item query parameter finds the row and nothing breaks.
    QVERIFY(d.db.saveRefresh(r.id, 1, text, 1, 1, true, kNow.addDays(-1)));
    QCOMPARE(d.db.wonItems(text)->size(), 1);
}

void tst_Database::refreshWritesOnlyTheChangingColumns()
{
    Db d;
    const int id = d.add(QStringLiteral("a1"), kNow.addSecs(600), QStringLiteral("2"), 3000, 1);
    const QDateTime newEnd = kNow.addSecs(900);
    QVERIFY(d.db.saveRefresh(id, 1800, QStringLiteral("me"), 4, 1, true, newEnd));
    const ItemRecord r = *d.db.itemById(id);
    QCOMPARE(r.ItemYenNow, 1800);
    QCOMPARE(r.SaikougakuShaid, QStringLiteral("me"));
    QCOMPARE(r.NumNyuusatu, 4);
    QCOMPARE(r.status, 1);
    QCOMPARE(r.fin, true);
    QCOMPARE(r.enddate, newEnd);
    QCOMPARE(r.ItemYen, 3000);
    QCOMPARE(r.cat, QStringLiteral("2"));
    QCOMPARE(r.Numkai, 1);
}

void tst_Database::biddingCandidates()
{
    Db d;
    d.add(QStringLiteral("ended"), kNow.addSecs(-1), QStringLiteral("0"), 1000, 1);
    d.add(QStringLiteral("endsNow"), kNow, QStringLiteral("0"), 1000, 1);
    d.add(QStringLiteral("noQuantity"), kNow.addSecs(60), QStringLiteral("0"), 1000, 0);
    d.add(QStringLiteral("soon"), kNow.addSecs(60));
    d.db.saveUserColumns(d.db.itemByItemid(QStringLiteral("soon"))->id, 0, QStringLiteral("0"), 1,
                         0);
    d.add(QStringLiteral("later"), kNow.addDays(2), QStringLiteral("1"), 500, 2);
    d.add(QStringLiteral("middle"), kNow.addSecs(3600), QStringLiteral("1"), 500, 1);
    QCOMPARE(
        itemids(d.db.biddingCandidates(kNow)),
        (QStringList{QStringLiteral("later"), QStringLiteral("middle"), QStringLiteral("soon")}));
}

void tst_Database::wonInCategory()
{
    Db d;
    d.add(QStringLiteral("won"), kNow.addSecs(-60), QStringLiteral("1"), 0, 0,
          QStringLiteral("me"));
    d.add(QStringLiteral("wonCase"), kNow.addSecs(-30), QStringLiteral("1"), 0, 0,
          QStringLiteral("ME"));
    d.add(QStringLiteral("lost"), kNow.addSecs(-60), QStringLiteral("1"), 0, 0,
          QStringLiteral("rival"));
    d.add(QStringLiteral("leading"), kNow.addSecs(60), QStringLiteral("1"), 0, 0,
          QStringLiteral("me"));
    d.add(QStringLiteral("otherCat"), kNow.addSecs(-60), QStringLiteral("2"), 0, 0,
          QStringLiteral("me"));
    // fin is not consulted: only the end time and the bidder count.
    QCOMPARE(itemids(d.db.wonInCategory(kNow, QStringLiteral("me"), QStringLiteral("1"))),
             (QStringList{QStringLiteral("won"), QStringLiteral("wonCase")}));
    QVERIFY(d.db.wonInCategory(kNow, QStringLiteral("me"), QStringLiteral("3"))->isEmpty());
}

void tst_Database::listFilters_data()
{
    QTest::addColumn<QVariant>("cat");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("withLimit");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{QStringLiteral("e0"), QStringLiteral("r1"), QStringLiteral("r0"),
                          QStringLiteral("r1set")};
    QTest::newRow("no filter, by end") << QVariant() << false << false << all;
    QTest::newRow("category 0") << QVariant(QStringLiteral("0")) << false << false
                                << QStringList{QStringLiteral("e0"), QStringLiteral("r0")};
    QTest::newRow("running only") << QVariant() << true << false
                                  << QStringList{QStringLiteral("r1"), QStringLiteral("r0"),
                                                 QStringLiteral("r1set")};
    QTest::newRow("with limit only") << QVariant() << false << true
                                     << QStringList{QStringLiteral("e0"), QStringLiteral("r1set")};
    QTest::newRow("category 1 running")
        << QVariant(QStringLiteral("1")) << true << false
        << QStringList{QStringLiteral("r1"), QStringLiteral("r1set")};
    QTest::newRow("all three") << QVariant(QStringLiteral("1")) << true << true
                               << QStringList{QStringLiteral("r1set")};
    QTest::newRow("nothing matches")
        << QVariant(QStringLiteral("9")) << false << false << QStringList{};
}

void tst_Database::listFilters()
{
    QFETCH(QVariant, cat);
    QFETCH(bool, running);
    QFETCH(bool, withLimit);
    QFETCH(QStringList, expected);
    Db d;
    d.add(QStringLiteral("r1set"), kNow.addDays(3), QStringLiteral("1"), 900, 1);
    d.add(QStringLiteral("e0"), kNow.addDays(-1), QStringLiteral("0"), 900, 1);
    d.add(QStringLiteral("r0"), kNow.addDays(2), QStringLiteral("0"), 0, 1);
    d.add(QStringLiteral("r1"), kNow.addDays(1), QStringLiteral("1"), 900, 0);
    ItemDatabase::ListFilter f;
    if (cat.isValid())
        f.cat = cat.toString();
    f.runningOnly = running;
    f.withLimitOnly = withLimit;
    QCOMPARE(itemids(d.db.listItems(f, kNow)), expected);
}

void tst_Database::wonItemsAndOpenItems()
{
    Db d;
    d.add(QStringLiteral("mine"), kNow.addDays(-2), QStringLiteral("0"), 0, 0, QStringLiteral("me"),
          true);
    d.add(QStringLiteral("theirs"), kNow.addDays(-1), QStringLiteral("0"), 0, 0,
          QStringLiteral("x"), true);
    d.add(QStringLiteral("open2"), kNow.addDays(2));
    d.add(QStringLiteral("open1"), kNow.addDays(1));
    QCOMPARE(itemids(d.db.wonItems(QStringLiteral("me"))), QStringList{QStringLiteral("mine")});
    QCOMPARE(itemids(d.db.openItems()),
             (QStringList{QStringLiteral("open1"), QStringLiteral("open2")}));
    const int id = d.db.itemByItemid(QStringLiteral("open1"))->id;
    QVERIFY(d.db.deleteItem(id));
    QVERIFY(!d.db.itemById(id));
}

void tst_Database::logNewestFirstWithInsertTime()
{
    Db d;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(d.db.appendLog(QStringLiteral("一行目")));
    QVERIFY(d.db.appendLog(QStringLiteral("二行目\n続き")));
    const QList<LogEntry> log = *d.db.logEntries();
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0].Memo, QStringLiteral("二行目\n続き"));
    QCOMPARE(log[1].Memo, QStringLiteral("一行目"));
    for (const LogEntry &e : log) {
        QVERIFY(e.tDate.isValid());
        QVERIFY(e.tDate >= before.addSecs(-1));
        QVERIFY(e.tDate <= QDateTime::currentDateTime().addSecs(1));
    }
    QVERIFY(d.db.clearLog());
    QVERIFY(d.db.logEntries()->isEmpty());
    QVERIFY(d.db.clearLog()); // clearing an empty log is no error
}

void tst_Database::siteCategoriesAddedOnce()
{
    Db d;
    QVERIFY(d.db.addSiteCategory(2084005000, QStringLiteral("おもちゃ")));
    QVERIFY(d.db.addSiteCategory(23000, QStringLiteral("本")));
    QVERIFY(d.db.addSiteCategory(23000, QStringLiteral("別名")));
    const auto cats = *d.db.siteCategories();
    QCOMPARE(cats.size(), 2);
    QCOMPARE(cats[0].first, 23000);
    QCOMPARE(cats[0].second, QStringLiteral("本"));
    QCOMPARE(cats[1].first, 2084005000);
}

void tst_Database::failuresAreReportedNotThrown()
{
    Db d;
    QSqlQuery(d.db.connection()).exec(QStringLiteral("DROP TABLE tblLog"));
    QVERIFY(!d.db.appendLog(QStringLiteral("x")));
    QVERIFY(!d.db.lastError().isEmpty());
    QVERIFY(!d.db.logEntries());
    QVERIFY(d.db.schemaProblem().contains(QStringLiteral("tblLog")));
}

void tst_Database::logIsKeptShort_data()
{
    QTest::addColumn<int>("keepDays");
    QTest::addColumn<int>("keepRows");
    QTest::addColumn<QStringList>("left"); // newest first
    // Entries written 200, 100, 50, 10 and 0 days ago, in that order.
    QTest::newRow("90 days") << 90 << 1000
                             << QStringList{QStringLiteral("0"), QStringLiteral("10"),
                                            QStringLiteral("50")};
    QTest::newRow("two entries") << 0 << 2
                                 << QStringList{QStringLiteral("0"), QStringLiteral("10")};
    QTest::newRow("both bounds") << 30 << 1 << QStringList{QStringLiteral("0")};
    QTest::newRow("nothing to trim")
        << 365 << 10
        << QStringList{QStringLiteral("0"), QStringLiteral("10"), QStringLiteral("50"),
                       QStringLiteral("100"), QStringLiteral("200")};
}

void tst_Database::logIsKeptShort()
{
    QFETCH(int, keepDays);
    QFETCH(int, keepRows);
    QFETCH(QStringList, left);
    Db d;
    QSqlQuery q(d.db.connection());
    for (int daysAgo : {200, 100, 50, 10, 0}) {
        q.prepare(QStringLiteral("INSERT INTO tblLog (tDate, Memo) VALUES (?, ?)"));
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

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
