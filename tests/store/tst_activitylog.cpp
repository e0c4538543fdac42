#include "activitylog.h"
#include "categories.h"
#include "database.h"
#include "frmcat.h"
#include "frmlog.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "tempdir.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

using namespace sw;

// The activity log, its window and the category editor, as the user sees them.
class tst_ActivityLog : public QObject
{
    Q_OBJECT
private slots:
    void openWindowShowsNewestFirstAndFollowsAppends();
    void delAsksFirst_data();
    void delAsksFirst();
    void failedAppendIsReportedAndCallerGoesOn();
    void categoryEditorRenames_data();
    void categoryEditorRenames();
    void selectorEntries();
};

namespace {
struct LogFixture
{
    TempHome home;
    ItemDatabase db{home.path(QStringLiteral("db2k.mdb"))};
    ActivityLog log{db};
    LogFixture()
    {
        if (!db.open() || !db.createSchema())
            qFatal("cannot create the test database");
    }
};

QStringList memos(QTableView *grid)
{
    QStringList out;
    QAbstractItemModel *m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, 1).data().toString();
    return out;
}
} // namespace

void tst_ActivityLog::openWindowShowsNewestFirstAndFollowsAppends()
{
    LogFixture f;
    f.log.LOGTodb(QStringLiteral("before the window"));
    frmLog w(f.log);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("ログ"));
    // The suite runs away from Japan: the log's times say whose they are.
    QCOMPARE(w.grid()->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("tDate（日本時間）"));
    QCOMPARE(w.grid()->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Memo"));
    f.log.LOGTodb(QStringLiteral("入札準備開始：x1"));
    f.log.LOGTodb(QStringLiteral("複数行\n二行目"));
    QCOMPARE(memos(w.grid()),
             (QStringList{QStringLiteral("複数行\n二行目"), QStringLiteral("入札準備開始：x1"),
                          QStringLiteral("before the window")}));
    // Dates as the user writes them, with slashes.
    const QString date = w.grid()->model()->index(0, 0).data().toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                 .match(date)
                 .hasMatch(),
             qPrintable(date));
    // A multi-line entry shows all its lines: its row is taller than a one-line row.
    QVERIFY(w.grid()->rowHeight(0) > w.grid()->rowHeight(1));

    // One item's log: only the lines that name it.
    frmLog one(f.log, nullptr, QStringLiteral("x1"));
    QCOMPARE(memos(one.grid()), QStringList{QStringLiteral("入札準備開始：x1")});
}

void tst_ActivityLog::delAsksFirst_data()
{
    QTest::addColumn<QString>("itemid"); // empty: the whole log's window
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("left");
    const QStringList all{QStringLiteral("入札開始：x2：5000"),
                          QStringLiteral("入札開始：x1：5000")};
    QTest::newRow("the whole log, answered No") << "" << false << all;
    QTest::newRow("the whole log, answered Yes") << "" << true << QStringList();
    QTest::newRow("one item's window deletes its lines only")
        << "x1" << true << QStringList{QStringLiteral("入札開始：x2：5000")};
}

void tst_ActivityLog::delAsksFirst()
{
    QFETCH(QString, itemid);
    QFETCH(bool, yes);
    QFETCH(QStringList, left);
    LogFixture f;
    f.log.LOGTodb(QStringLiteral("入札開始：x1：5000"));
    f.log.LOGTodb(QStringLiteral("入札開始：x2：5000"));
    frmLog w(f.log, nullptr, itemid);
    QStringList asked;
    w.setConfirm([&](const QString &q) {
        asked << q;
        return yes;
    });
    w.show();
    QAction *del = w.findChild<QAction *>(QStringLiteral("del"));
    QVERIFY(del);
    del->trigger();
    QCOMPARE(asked.size(), 1);
    QStringList stored;
    const QList<LogEntry> entries = f.db.logEntries().value_or(QList<LogEntry>{});
    for (const LogEntry &e : entries)
        stored << e.Memo;
    QCOMPARE(stored, left);
    frmLog unasked(f.log); // a window nobody can answer for deletes nothing
    unasked.deleteAll();
    QCOMPARE(f.db.logEntries().value_or(QList<LogEntry>{}).size(), left.size());
}

void tst_ActivityLog::failedAppendIsReportedAndCallerGoesOn()
{
    LogFixture f;
    QSignalSpy failed(&f.log, &ActivityLog::failed);
    QSqlQuery(f.db.connection()).exec(QStringLiteral("DROP TABLE tblLog"));
    f.log.LOGTodb(QStringLiteral("入札結果：x1"));
    QCOMPARE(failed.size(), 1);
    QVERIFY(failed.first().first().toString().contains(QStringLiteral("入札結果：x1")));
    // The item data is untouched by the failed append.
    ItemRecord p;
    p.itemid = QStringLiteral("x1");
    p.enddate = QDateTime::currentDateTime();
    QVERIFY(f.db.upsertItem(p) == ItemDatabase::Upsert::Inserted);
}

void tst_ActivityLog::categoryEditorRenames_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QVariant>("answer"); // invalid: the user cancels
    QTest::addColumn<QString>("expected");
    QTest::newRow("rename category 4") << 3 << QVariant(QStringLiteral("本")) << "本";
    QTest::newRow("empty answer keeps the name") << 3 << QVariant(QString()) << "4";
    QTest::newRow("cancel keeps the name") << 0 << QVariant() << "1";
}

void tst_ActivityLog::categoryEditorRenames()
{
    QFETCH(int, row);
    QFETCH(QVariant, answer);
    QFETCH(QString, expected);
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    CategoryNames names(settings);
    ScriptedPrompter prompter;
    if (answer.isValid())
        prompter.answers.enqueue(answer.toString());
    frmCAT editor(names, prompter);
    QCOMPARE(editor.windowTitle(), QStringLiteral("カテゴリの編集"));
    auto *list = editor.findChild<QListWidget *>(QStringLiteral("lstCAT"));
    QCOMPARE(list->count(), 9);
    QCOMPARE(list->currentRow(), 0);
    list->setCurrentRow(row);
    editor.findChild<QPushButton *>(QStringLiteral("CancelButton"))->click();
    QCOMPARE(prompter.prompts, QStringList{QStringLiteral("カテゴリー名の変更")});
    QCOMPARE(prompter.defaults, QStringList{QString::number(row + 1)});
    QCOMPARE(list->item(row)->text(), expected);
    QCOMPARE(names.name(row + 1), expected);
    for (int n = 1; n <= 9; ++n) {
        if (n != row + 1)
            QCOMPARE(names.name(n), QString::number(n));
    }
}

void tst_ActivityLog::selectorEntries()
{
    TempHome home;
    SettingsStore settings(home.path(QStringLiteral("snipewell.ini")));
    CategoryNames names(settings);
    QStringList list = names.listSelectorEntries();
    QCOMPARE(list.size(), 12);
    QCOMPARE(list.first(), QStringLiteral("すべて"));
    QCOMPARE(list[1], QStringLiteral("未分類"));
    QCOMPARE(list[2], QStringLiteral("1:1"));
    QCOMPARE(list[10], QStringLiteral("9:9"));
    QCOMPARE(list.last(), QStringLiteral("カテゴリの編集"));
    names.rename(4, QStringLiteral("カメラ"));
    QCOMPARE(names.listSelectorEntries()[5], QStringLiteral("4:カメラ"));
    QCOMPARE(names.bidWindowSelectorEntries()[4], QStringLiteral("4:カメラ"));
    QCOMPARE(names.bidWindowSelectorEntries().first(), QStringLiteral("未分類"));
}

QTEST_MAIN(tst_ActivityLog)
#include "tst_activitylog.moc"
