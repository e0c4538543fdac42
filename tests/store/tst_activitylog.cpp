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

using namespace Qt::StringLiterals;
using namespace sw;

namespace {
struct LogFixture
{
    TempHome home;
    ItemDatabase db{home.path(u"db2k.mdb"_s)};
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

// The activity log, its window and the category editor, as the user sees them.
class tst_ActivityLog : public QObject
{
    Q_OBJECT
private slots:
    void openWindowShowsNewestFirstAndFollowsAppends()
    {
        LogFixture f;
        f.log.LOGTodb(u"before the window"_s);
        frmLog w(f.log);
        w.show();
        QCOMPARE(w.windowTitle(), u"ログ"_s);
        // The suite runs away from Japan: the log's times say whose they are.
        QCOMPARE(w.grid()->model()->headerData(0, Qt::Horizontal).toString(),
                 u"tDate（日本時間）"_s);
        QCOMPARE(w.grid()->model()->headerData(1, Qt::Horizontal).toString(), u"Memo"_s);
        f.log.LOGTodb(u"入札準備開始：x1"_s);
        f.log.LOGTodb(u"複数行\n二行目"_s);
        QCOMPARE(memos(w.grid()),
                 (QStringList{u"複数行\n二行目"_s, u"入札準備開始：x1"_s, u"before the window"_s}));
        // Dates as the user writes them, with slashes.
        const QString date = w.grid()->model()->index(0, 0).data().toString();
        QVERIFY2(QRegularExpression(u"^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$"_s)
                     .match(date)
                     .hasMatch(),
                 qPrintable(date));
        // A multi-line entry shows all its lines: its row is taller than a one-line row.
        QVERIFY(w.grid()->rowHeight(0) > w.grid()->rowHeight(1));

        // One item's log: only the lines that name it.
        frmLog one(f.log, nullptr, u"x1"_s);
        QCOMPARE(memos(one.grid()), QStringList{u"入札準備開始：x1"_s});
    }

    void delAsksFirst_data()
    {
        QTest::addColumn<QString>("itemid"); // empty: the whole log's window
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("left");
        const QStringList all{u"入札開始：x2：5000"_s, u"入札開始：x1：5000"_s};
        QTest::newRow("the whole log, answered No") << "" << false << all;
        QTest::newRow("the whole log, answered Yes") << "" << true << QStringList();
        QTest::newRow("one item's window deletes its lines only")
            << "x1" << true << QStringList{u"入札開始：x2：5000"_s};
    }

    void delAsksFirst()
    {
        QFETCH(QString, itemid);
        QFETCH(bool, yes);
        QFETCH(QStringList, left);
        LogFixture f;
        f.log.LOGTodb(u"入札開始：x1：5000"_s);
        f.log.LOGTodb(u"入札開始：x2：5000"_s);
        frmLog w(f.log, nullptr, itemid);
        QStringList asked;
        w.setConfirm([&](const QString &q) {
            asked << q;
            return yes;
        });
        w.show();
        QAction *del = w.findChild<QAction *>(u"del"_s);
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

    void failedAppendIsReportedAndCallerGoesOn()
    {
        LogFixture f;
        QSignalSpy failed(&f.log, &ActivityLog::failed);
        QSqlQuery(f.db.connection()).exec(u"DROP TABLE tblLog"_s);
        f.log.LOGTodb(u"入札結果：x1"_s);
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().contains(u"入札結果：x1"_s));
        // The item data is untouched by the failed append.
        ItemRecord p;
        p.itemid = u"x1"_s;
        p.enddate = QDateTime::currentDateTime();
        QVERIFY(f.db.upsertItem(p) == ItemDatabase::Upsert::Inserted);
    }

    void categoryEditorRenames_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QVariant>("answer"); // invalid: the user cancels
        QTest::addColumn<QString>("expected");
        QTest::newRow("rename category 4") << 3 << QVariant(u"本"_s) << "本";
        QTest::newRow("empty answer keeps the name") << 3 << QVariant(QString()) << "4";
        QTest::newRow("cancel keeps the name") << 0 << QVariant() << "1";
    }

    void categoryEditorRenames()
    {
        QFETCH(int, row);
        QFETCH(QVariant, answer);
        QFETCH(QString, expected);
        TempHome home;
        SettingsStore settings(home.path(u"snipewell.ini"_s));
        CategoryNames names(settings);
        ScriptedPrompter prompter;
        if (answer.isValid())
            prompter.answers.enqueue(answer.toString());
        frmCAT editor(names, prompter);
        QCOMPARE(editor.windowTitle(), u"カテゴリの編集"_s);
        auto *list = editor.findChild<QListWidget *>(u"lstCAT"_s);
        QCOMPARE(list->count(), 9);
        QCOMPARE(list->currentRow(), 0);
        list->setCurrentRow(row);
        editor.findChild<QPushButton *>(u"CancelButton"_s)->click();
        QCOMPARE(prompter.prompts, QStringList{u"カテゴリー名の変更"_s});
        QCOMPARE(prompter.defaults, QStringList{QString::number(row + 1)});
        QCOMPARE(list->item(row)->text(), expected);
        QCOMPARE(names.name(row + 1), expected);
        // The list's selector (すべて, 未分類, then "n:name") and the bid window's say it too.
        const QString entry = QString::number(row + 1) + u":"_s + expected;
        QCOMPARE(names.listSelectorEntries().mid(row + 2, 1), QStringList{entry});
        QCOMPARE(names.bidWindowSelectorEntries().mid(row + 1, 1), QStringList{entry});
        for (int n = 1; n <= 9; ++n) {
            if (n != row + 1)
                QCOMPARE(names.name(n), QString::number(n));
        }
    }
};

QTEST_MAIN(tst_ActivityLog)
#include "tst_activitylog.moc"
