#include "activitylog.h"
#include "bidwindows.h"
#include "browserwindow.h"
#include "categories.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "frmcat.h"
#include "frmlog.h"
#include "frmlogin.h"
#include "frmmain.h"
#include "frmoverview.h"
#include "frmsw.h"
#include "itemlistmodel.h"
#include "mdiform1.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "testapp.h"
#include "widgetprompter.h"

#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkProxy>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct App : TestApp
{
    void storeCredentials(const QString &id, const QString &pw)
    {
        settings.save(u"Settings"_s, u"yuser"_s, id);
        settings.save(u"Settings"_s, u"ypass"_s, Scramble(pw));
        values.ownId = id;
        values.password = pw;
    }
};

QLineEdit *box(frmLogin &w, int i)
{
    return w.findChild<QLineEdit *>(u"txtUser_"_s + QString::number(i));
}
QPushButton *button(QWidget &w, const char *name)
{
    return w.findChild<QPushButton *>(QString::fromLatin1(name));
}

} // namespace

struct LoginAtStartRow
{
    QString user, pass;
    bool shown;
};

struct LoginChecksRow
{
    bool atStart;
    QString action, user, pass, message;
    bool ends, stillOpen;
};

class tst_Windows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The frame's browser opens the site at load: here it reaches nothing at all.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, 9));
    }

    void loginChecks_data()
    {
        QTest::addColumn<LoginChecksRow>("row");
        using R = LoginChecksRow;
        const QString shortFw = u"４文字以上必要です。"_s;
        const QString shortHw = u"4文字以上必要です。"_s;
        QTest::newRow("OK, short ID")
            << R{true, u"ok"_s, u"abc"_s, u"abcd"_s, shortFw, false, true};
        QTest::newRow("OK, short password")
            << R{true, u"ok"_s, u"abcd"_s, u"abc"_s, shortFw, false, true};
        QTest::newRow("start: close, short password")
            << R{true, u"close"_s, u"abcd"_s, u"abc"_s, shortHw, true, false};
        QTest::newRow("start: login, short ID")
            << R{true, u"login"_s, QString(), u"abcd"_s, shortHw, true, true};
        QTest::newRow("start: cancel")
            << R{true, u"cancel"_s, u"abcd"_s, u"abcd"_s, QString(), true, false};
        QTest::newRow("start: Escape")
            << R{true, u"escape"_s, u"abcd"_s, u"abcd"_s, QString(), true, false};
        QTest::newRow("OK with exactly four")
            << R{true, u"ok"_s, u"abcd"_s, u"wxyz"_s, QString(), false, false};
        // Opened from the menu or by a bid that met the login page: the program goes on.
        QTest::newRow("later: cancel")
            << R{false, u"cancel"_s, u"abcd"_s, u"abcd"_s, QString(), false, false};
        QTest::newRow("later: Escape")
            << R{false, u"escape"_s, u"abcd"_s, u"abcd"_s, QString(), false, false};
        QTest::newRow("later: close, short password")
            << R{false, u"close"_s, u"abcd"_s, u"abc"_s, shortHw, false, false};
        QTest::newRow("later: login, short ID")
            << R{false, u"login"_s, QString(), u"abcd"_s, shortHw, false, true};
    }

    void loginChecks()
    {
        QFETCH(LoginChecksRow, row);
        const auto &[atStart, action, user, pass, message, ends, stillOpen] = row;
        App app;
        frmLogin w(app.settings, app.values, app.prompter);
        w.setEndsProgram(atStart);
        QSignalSpy end(&w, &frmLogin::endProgram);
        w.show();
        QCOMPARE(w.windowTitle(), u"ﾛｸﾞｲﾝ"_s);
        box(w, 0)->setText(user);
        box(w, 1)->setText(pass);
        if (action == "ok"_L1)
            button(w, "cmdOK")->click();
        else if (action == "close"_L1)
            w.close();
        else if (action == "login"_L1)
            button(w, "Command2")->click();
        else if (action == "escape"_L1)
            QTest::keyClick(box(w, 1), Qt::Key_Escape);
        else
            button(w, "cmdCancel")->click();
        QCOMPARE(app.prompter.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(end.size(), ends ? 1 : 0);
        QCOMPARE(w.isVisible(), stillOpen);
        if (!stillOpen && !message.isEmpty()) // nothing was stored on the way out
            QCOMPARE(app.settings.get(u"Settings"_s, u"ypass"_s, QString()), QString());
    }

    void loginClosedWithValidCredentialsSavesThem();
    void afterTheLoginTheKeyboardIsInTheList()
    {
        App app;
        app.storeCredentials(u"bidder01"_s, u"aaaab"_s);
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        frame.show();
        frame.load();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        frame.findChild<QAction *>(u"mnuReg"_s)->trigger();
        QTRY_VERIFY(frame.login() && frame.login()->isVisible());
        frame.browser()->setFocus();      // where the login's page had it
        emit frame.browser()->loggedIn(); // the site greeted the user
        QTRY_VERIFY(!frame.login()->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(frame.itemList()->grid()));
    }

    void overlongPasswordKeepsTheStoredOne()
    {
        App app;
        app.storeCredentials(u"bidder01"_s, u"oldpassword"_s);
        frmLogin w(app.settings, app.values, app.prompter);
        QSignalSpy end(&w, &frmLogin::endProgram);
        w.show();
        box(w, 1)->setText(QString(100, QLatin1Char('x')));
        button(w, "cmdOK")->click();
        QCOMPARE(app.prompter.messages.size(), 1);
        QVERIFY(app.prompter.messages.first().contains(u"99"_s));
        QVERIFY(w.isVisible());
        QCOMPARE(end.size(), 0);
        QCOMPARE(Unscramble(app.settings.get(u"Settings"_s, u"ypass"_s, QString())),
                 u"oldpassword"_s);
        QCOMPARE(app.values.password, u"oldpassword"_s);
    }

    void menusCaptionsAndNames()
    {
        App app;
        MDIForm1 frame(app.ctx);
        QCOMPARE(frame.windowTitle(), u"Snipewell"_s);
        // The top-level order of the menu bar.
        QStringList bar;
        for (QAction *a : frame.menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar.mid(0, 6), (QStringList{u"ﾌｧｲﾙ(&F)"_s, u"表示(&V)"_s, u"ﾂｰﾙ(&T)"_s,
                                             u"ｵﾌﾟｼｮﾝ(&O)"_s, u"ｳｲﾝﾄﾞｳ(&W)"_s, u"ﾍﾙﾌﾟ(&H)"_s}));
        // Every menu of the bar and every item in them opens from the keyboard: an Alt letter of
        // its own within its menu, and the usual keys for the common commands.
        for (QAction *top : frame.menuBar()->actions()) {
            if (!top->menu() || top->objectName() == "mnupop1"_L1) // the list's pop-up
                continue;
            QSet<QChar> letters;
            for (QAction *a : top->menu()->actions()) {
                if (a->isSeparator())
                    continue;
                const qsizetype amp = a->text().indexOf(QLatin1Char('&'));
                QVERIFY2(amp >= 0, qPrintable(a->text()));
                QVERIFY2(!letters.contains(a->text().at(amp + 1)), qPrintable(a->text()));
                letters.insert(a->text().at(amp + 1));
            }
        }
        QCOMPARE(frame.findChild<QAction *>(u"mnuEnd"_s)->shortcut(), QKeySequence(u"Ctrl+Q"_s));
        QCOMPARE(frame.findChild<QAction *>(u"mnuUpdateRec"_s)->shortcut(),
                 QKeySequence(QKeySequence::Refresh));
    }

    void loginAtStartOnlyWhenACredentialIsMissing_data()
    {
        QTest::addColumn<LoginAtStartRow>("row");
        QTest::newRow("both stored") << LoginAtStartRow{u"bidder01"_s, u"secret"_s, false};
        // Many members have no password (a code by SMS, a passkey): an ID alone is enough.
        QTest::newRow("no password") << LoginAtStartRow{u"bidder01"_s, QString(), false};
        QTest::newRow("a password of three") << LoginAtStartRow{u"bidder01"_s, u"abc"_s, true};
        QTest::newRow("ID of three") << LoginAtStartRow{u"abc"_s, u"secret"_s, true};
    }

    void loginAtStartOnlyWhenACredentialIsMissing()
    {
        QFETCH(LoginAtStartRow, row);
        const auto &[user, pass, shown] = row;
        App app;
        app.values.ownId = user;
        app.values.password = pass;
        MDIForm1 frame(app.ctx);
        frame.show();
        frame.load();
        // (What ｷｬﾝｾﾙ and Escape do, at the start and later, is loginChecks'.)
        QCOMPARE(frame.login() && frame.login()->isVisible(), shown);
    }

    void badStoredBidSecondsAreReplacedAndSaid_data()
    {
        QTest::addColumn<QString>("befsec");
        QTest::addColumn<int>("used");
        QTest::addColumn<bool>("logged");
        QTest::newRow("10") << "10" << 10 << false;
        QTest::newRow("0") << "0" << 30 << true;
        QTest::newRow("negative") << "-5" << 30 << true;
        QTest::newRow("not a number") << "abc" << 30 << true;
    }

    void badStoredBidSecondsAreReplacedAndSaid()
    {
        QFETCH(QString, befsec);
        QFETCH(int, used);
        QFETCH(bool, logged);
        App app;
        app.storeCredentials(u"bidder01"_s, u"secret1"_s);
        app.settings.save(u"Settings"_s, u"Befsec"_s, befsec);
        app.settings.save(u"Settings"_s, u"accesskankaku"_s, u"5"_s);
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        frame.load();
        QCOMPARE(app.values.befSec, used);
        QCOMPARE(app.values.refreshIntervalSec, 300); // every bid window refreshes this often
        const QStringList log = logLines(app.db);
        QCOMPARE(std::count_if(log.begin(), log.end(),
                               [](const QString &l) {
                                   return l.startsWith(QStringLiteral(
                                       "設定ファイルの入札秒数（Befsec）が正しくないので"
                                       "30秒前に入札します："));
                               }),
                 logged ? 1 : 0);
    }

    void popupMenuUsesCategoryNames()
    {
        App app;
        app.categories.rename(4, u"カメラ"_s);
        MDIForm1 frame(app.ctx);
        frame.load();
        const QList<QAction *> actions = frame.popupMenu()->actions();
        QCOMPARE(actions[2]->text(), u"3"_s);
        QCOMPARE(actions[3]->text(), u"カメラ"_s);
        app.prompter.answers.enqueue(u"本"_s);
        QTimer::singleShot(0, [&frame] {
            auto *editor = frame.findChild<frmCAT *>();
            editor->findChild<QPushButton *>(u"CancelButton"_s)->click();
            editor->accept();
        });
        frame.openCategoryEditor();
        QCOMPARE(actions[0]->text(), u"本"_s);
    }

    void logWindowFromMenuAndStatusBarOnLogFailure()
    {
        App app;
        app.storeCredentials(u"bidder01"_s, u"secret1"_s);
        MDIForm1 frame(app.ctx);
        frame.show();
        frame.load();
        frame.findChild<QAction *>(u"mnuLog"_s)->trigger();
        auto *log = frame.findChild<frmLog *>();
        QVERIFY(log && log->isVisible());
        log->parentWidget()->showMinimized();
        frame.findChild<QAction *>(u"mnuLog"_s)->trigger();
        QVERIFY(!log->parentWidget()->isMinimized());
        QCOMPARE(frame.findChildren<frmLog *>().size(), 1);

        QSqlQuery(app.db.connection()).exec(u"DROP TABLE tblLog"_s);
        app.log.LOGTodb(u"入札準備開始：x9"_s);
        QVERIFY(frame.statusBar()->currentMessage().contains(u"入札準備開始：x9"_s));
    }

    void endClosesEverything()
    {
        App app;
        MDIForm1 frame(app.ctx);
        QSignalSpy end(&frame, &MDIForm1::endProgram);
        frame.show();
        frame.load(); // credentials missing: the dialog is open
        frame.showLog();
        QVERIFY(frame.login()->isVisible());
        frame.findChild<QAction *>(u"mnuEnd"_s)->trigger();
        QCOMPARE(end.size(), 1);
        QVERIFY(!frame.isVisible());
        QVERIFY(!frame.timer1()->isActive());
        QVERIFY(frame.login() == nullptr || !frame.login()->isVisible());
        QTRY_COMPARE(frame.mdiArea()->subWindowList().size(), 0);
        QVERIFY(app.prompter.messages.isEmpty()); // the dialog's checks do not run on the way out
    }

    void closingWithBidsPendingAsks()
    {
        App app;
        app.storeCredentials(u"bidder01"_s, u"secret1"_s);
        app.addItem(u"x1"_s, QDateTime::currentDateTime().addSecs(300), 5000, 1);
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        QSignalSpy ends(&frame, &MDIForm1::endProgram);
        frame.show();
        frame.load();
        frame.Timer1_Timer();
        QVERIFY2(frame.trayMenu()->actions().first()->text().startsWith(u"次の入札："_s),
                 qPrintable(frame.trayMenu()->actions().first()->text()));
        QVERIFY(frame.trayMenu()->actions().first()->text().endsWith(u"x1"_s));

        // Escape (or the box's ×), then the first button, then the tray's 終了 with Escape: the
        // program keeps running every time, and says nothing was given up. The first time is
        // Ctrl+Q typed in the item's bid window, which stays open.
        QPointer<frmSw> bidWindow = frame.bidWindows()->open(app.db.itemByItemid(u"x1"_s)->id);
        QTRY_VERIFY(bidWindow->isActiveWindow());
        QTest::keyClick(bidWindow, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(app.prompter.questions.size(), 1);
        QTest::qWait(50);
        QVERIFY(bidWindow && bidWindow->isVisible());
        // A real box would belong to that window, so answering it leaves the user there.
        WidgetPrompter boxes(&frame);
        QCOMPARE(boxes.boxParent(), static_cast<QWidget *>(bidWindow));
        frame.activateWindow();
        QTRY_COMPARE(boxes.boxParent(), static_cast<QWidget *>(&frame));
        QVERIFY(!frame.close());
        app.prompter.choiceAnswers.enqueue(0);
        QVERIFY(!frame.close());
        frame.quitFromTray();
        QCOMPARE(ends.size(), 0);
        QCOMPARE(app.prompter.questions.size(), 4);
        for (const QString &q : app.prompter.questions)
            QCOMPARE(q, u"1件の入札予定があります。終了すると入札されません。"_s);
        QCOMPARE(app.prompter.choices.first().at(1), u"終了する"_s);
        QCOMPARE(app.prompter.choices.first().at(2), u"キャンセル"_s);
        QVERIFY(!logLines(app.db).join(u'\n').contains(u"入札中止"_s));

        // 終了する: it ends, and the log says which bid was given up.
        app.prompter.choiceAnswers.enqueue(1);
        frame.findChild<QAction *>(u"mnuEnd"_s)->trigger();
        QCOMPARE(ends.size(), 1);
        QVERIFY(logLines(app.db).contains(u"入札中止（プログラムを終了しました）：x1（x1）"_s));
    }

    void itemLogFromThePopupMenu()
    {
        App app;
        app.storeCredentials(u"bidder01"_s, u"secret1"_s);
        for (const QString &id : {u"x1"_s, u"x2"_s}) {
            app.addItem(id, QDateTime::currentDateTime().addDays(2));
            app.log.LOGTodb(u"入札準備開始："_s + id);
        }
        app.log.LOGTodb(u"最終結果：x2：x2：落札しました：4,300円"_s);
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        frame.show();
        frame.load();
        auto *list = frame.findChild<frmMain *>();
        QVERIFY(list);
        const QModelIndexList x2 = list->model()->match(list->model()->index(0, 2), Qt::DisplayRole,
                                                        u"x2"_s, 1, Qt::MatchExactly);
        list->grid()->setCurrentIndex(list->model()->index(x2.isEmpty() ? 0 : x2.first().row(), 2));
        frame.findChild<QAction *>(u"mnuItemLog"_s)->trigger();
        frmLog *log = nullptr;
        for (frmLog *l : frame.findChildren<frmLog *>()) {
            if (l->windowTitle() == u"ログ：x2 x2"_s)
                log = l;
        }
        QVERIFY(log);
        QAbstractItemModel *rows = log->findChild<QTableView *>(u"DataGrid2"_s)->model();
        QStringList memos;
        for (int r = 0; r < rows->rowCount(); ++r)
            memos << rows->index(r, 1).data().toString();
        QCOMPARE(memos, (QStringList{u"最終結果：x2：x2：落札しました：4,300円"_s,
                                     u"入札準備開始：x2"_s}));
    }

    void schedulerOpensBidWindows()
    {
        App app;
        app.storeCredentials(u"me_taro"_s, u"secret1"_s);
        app.settings.save(u"Settings"_s, u"CATOn"_s, u"1"_s);
        const QDateTime now = QDateTime::currentDateTime();
        app.addItem(u"wonEarlier"_s, now.addSecs(-3600), 5000, 1, u"1"_s, u"me_taro"_s);
        app.addItem(u"sameCategory"_s, now.addSecs(3 * 3600), 5000, 1, u"1"_s, u"x"_s);
        app.addItem(u"otherCategory"_s, now.addSecs(4 * 3600), 5000, 1, u"2"_s, u"x"_s);
        app.addItem(u"noQuantity"_s, now.addSecs(2 * 3600), 5000, 0, u"0"_s, u"x"_s);
        MDIForm1 frame(app.ctx);
        frame.show();
        frame.load();
        frame.Timer1_Timer();
        frame.Timer1_Timer(); // a second tick opens nothing more
        auto opened = [&frame] {
            QStringList titles;
            for (frmSw *w : frame.bidWindows()->windows())
                titles << w->windowTitle();
            return titles;
        };
        // Windows open one at a time, a moment after the tick.
        QTRY_COMPARE(opened(), QStringList{u"otherCategory"_s});
        frame.Timer1_Timer();
        QTest::qWait(100);
        QCOMPARE(opened(), QStringList{u"otherCategory"_s});
        QStringList log;
        const QList<LogEntry> entries = app.db.logEntries().value();
        for (const LogEntry &e : entries) {
            if (e.Memo.startsWith(u"入札準備"_s)) // the browser may log its page
                log << e.Memo;
        }
        QCOMPARE(log, QStringList{u"入札準備開始：otherCategory"_s});
        // The earliest-ending candidate's line is what stays in the status bar.
        QCOMPARE(frame.statusBar()->currentMessage(),
                 u"sameCategory:カテゴリの中の１つ以上を落札しているので入札しない"_s);
    }

    void newWindowsStayOutOfTheWay()
    {
        App app;
        app.storeCredentials(u"me_taro"_s, u"secret1"_s);
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 1; i <= 3; ++i)
            app.addItem(u"w"_s + QString::number(i), now.addSecs(i * 3600), 5000, 1);
        MDIForm1 frame(app.ctx);
        frame.show();
        frame.load();
        // The user is typing in the list when the scheduler opens the bid windows.
        frame.showItemList();
        frame.itemList()->grid()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), frame.itemList()->grid());
        frame.Timer1_Timer();
        QTRY_COMPARE_WITH_TIMEOUT(frame.bidWindows()->windows().size(), 3, 5000);
        QTest::qWait(200);
        QCOMPARE(QApplication::focusWidget(), frame.itemList()->grid());
        QSet<QPair<int, int>> places;
        for (frmSw *w : frame.bidWindows()->windows())
            places.insert({w->window()->x(), w->window()->y()});
        QString where;
        for (frmSw *w : frame.bidWindows()->windows())
            where += u"%1,%2 "_s.arg(w->window()->x()).arg(w->window()->y());
        QVERIFY2(places.size() == 3, qPrintable(where)); // none hides another
        // Every window fits the screen, the frame with room for its title bar.
        const QRect avail = frame.screen()->availableGeometry();
        QVERIFY(frame.width() + MDIForm1::kFrameRoom.width() <= avail.width());
        QVERIFY(frame.height() + MDIForm1::kFrameRoom.height() <= avail.height());
        for (frmSw *w : frame.bidWindows()->windows())
            QVERIFY2(avail.contains(w->window()->frameGeometry()),
                     qPrintable(u"%1,%2 %3x%4 in %5x%6"_s.arg(w->window()->x())
                                    .arg(w->window()->y())
                                    .arg(w->window()->frameGeometry().width())
                                    .arg(w->window()->frameGeometry().height())
                                    .arg(avail.width())
                                    .arg(avail.height())));
        // The overview shows every column.
        frmOverview *view = frame.showOverview();
        QTRY_VERIFY(view->grid()->rowCount() == 3);
        QTest::qWait(100);
        QVERIFY2(view->grid()->horizontalHeader()->length() <= view->grid()->viewport()->width(),
                 qPrintable(QString::number(view->grid()->horizontalHeader()->length()) +
                            QLatin1Char(' ') + QString::number(view->grid()->viewport()->width())));
    }

    void settingsAndAboutAreModalAndHoldTheScheduler()
    {
        App app;
        app.storeCredentials(u"bidder01"_s, u"secret1"_s);
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        frame.show();
        frame.load();
        bool timerDuring = true;
        QString shown;
        QTimer::singleShot(200, &frame, [&] {
            timerDuring = frame.timer1()->isActive();
            QWidget *dialog = QApplication::activeModalWidget();
            shown = dialog ? dialog->windowTitle() : QString();
            if (dialog)
                dialog->close();
        });
        frame.findChild<QAction *>(u"mnuSettings"_s)->trigger();
        QCOMPARE(shown, u"ｵﾌﾟｼｮﾝ"_s);
        QVERIFY(!timerDuring);
        QVERIFY(frame.timer1()->isActive());

        bool aboutFlag = false;
        QTimer::singleShot(200, &frame, [&] {
            aboutFlag = app.values.aboutOpen;
            QWidget *dialog = QApplication::activeModalWidget();
            shown = dialog ? dialog->windowTitle() : QString();
            if (dialog)
                dialog->close();
        });
        frame.findChild<QAction *>(u"mnuVer"_s)->trigger();
        QCOMPARE(shown, u"Snipewellのﾊﾞｰｼﾞｮﾝ情報"_s);
        QVERIFY(aboutFlag);
        QVERIFY(!app.values.aboutOpen);
    }
};

void tst_Windows::loginClosedWithValidCredentialsSavesThem()
{
    App app;
    frmLogin w(app.settings, app.values, app.prompter);
    QSignalSpy list(&w, &frmLogin::itemListRequested);
    QSignalSpy browser(&w, &frmLogin::browserLoginRequested);
    w.show();
    // The notes under the fields wrap and are never cut off, also when the site's state
    // joins them.
    w.setSiteState(QStringLiteral("ログインページを開いています。サイトが応答しない場合は"
                                  "ネットワークの接続とプロキシの設定を確かめてください。"));
    QVERIFY(w.height() >= w.layout()->totalHeightForWidth(w.width()));
    box(w, 0)->setText(u"bidder01"_s);
    box(w, 1)->setText(u"p%ss word"_s);

    // ログインする sets the values in memory only.
    button(w, "Command2")->click();
    QCOMPARE(browser.size(), 1);
    QCOMPARE(app.values.ownId, u"bidder01"_s);
    QCOMPARE(app.values.password, u"p%ss word"_s);
    QCOMPARE(app.values.encodedPassword, QString());
    QCOMPARE(app.settings.get(u"Settings"_s, u"yuser"_s, QString()), QString());

    button(w, "cmdOK")->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(list.size(), 1);
    QCOMPARE(app.values.encodedPassword, encodePassword(u"p%ss word"_s));
    QCOMPARE(app.settings.get(u"settings"_s, u"YUSER"_s, QString()), u"bidder01"_s);
    const QString stored = app.settings.get(u"Settings"_s, u"ypass"_s, QString());
    QVERIFY(!stored.contains(u"word"_s));
    QCOMPARE(Unscramble(stored), u"p%ss word"_s);
}

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
