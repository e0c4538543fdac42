#include "activitylog.h"
#include "appvalues.h"
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
#include "itemparser.h"
#include "mdiform1.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "sitehosts.h"
#include "tempdir.h"
#include "testapp.h"
#include "widgetprompter.h"

#include <QHeaderView>
#include <QLayout>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
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

using namespace sw;

namespace {

struct App : TestApp
{
    void storeCredentials(const QString &id, const QString &pw)
    {
        settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"), id);
        settings.save(QStringLiteral("Settings"), QStringLiteral("ypass"), Scramble(pw));
        values.ownId = id;
        values.password = pw;
    }
};

QLineEdit *box(frmLogin &w, int i)
{
    return w.findChild<QLineEdit *>(QStringLiteral("txtUser_") + QString::number(i));
}
QPushButton *button(QWidget &w, const char *name)
{
    return w.findChild<QPushButton *>(QString::fromLatin1(name));
}

} // namespace

class tst_Windows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loginChecks_data();
    void loginChecks();
    void loginClosedWithValidCredentialsSavesThem();
    void afterTheLoginTheKeyboardIsInTheList();
    void overlongPasswordKeepsTheStoredOne();
    void menusCaptionsAndNames();
    void loginAtStartOnlyWhenACredentialIsMissing_data();
    void loginAtStartOnlyWhenACredentialIsMissing();
    void badStoredBidSecondsAreReplacedAndSaid_data();
    void badStoredBidSecondsAreReplacedAndSaid();
    void popupMenuUsesCategoryNames();
    void logWindowFromMenuAndStatusBarOnLogFailure();
    void endClosesEverything();
    void closingWithBidsPendingAsks();
    void itemLogFromThePopupMenu();
    void schedulerOpensBidWindows();
    void newWindowsStayOutOfTheWay();
    void settingsAndAboutAreModalAndHoldTheScheduler();
};

void tst_Windows::initTestCase()
{
    // The frame's browser opens the site at load: here it reaches nothing at all.
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 9));
}

void tst_Windows::settingsAndAboutAreModalAndHoldTheScheduler()
{
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("secret1"));
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
    frame.findChild<QAction *>(QStringLiteral("mnuSettings"))->trigger();
    QCOMPARE(shown, QStringLiteral("ｵﾌﾟｼｮﾝ"));
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
    frame.findChild<QAction *>(QStringLiteral("mnuVer"))->trigger();
    QCOMPARE(shown, QStringLiteral("Snipewellのﾊﾞｰｼﾞｮﾝ情報"));
    QVERIFY(aboutFlag);
    QVERIFY(!app.values.aboutOpen);
}

void tst_Windows::loginChecks_data()
{
    QTest::addColumn<bool>("atStart");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("pass");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<bool>("stillOpen");
    const QString shortFw = QStringLiteral("４文字以上必要です。");
    const QString shortHw = QStringLiteral("4文字以上必要です。");
    QTest::newRow("OK, short ID") << true << "ok"
                                  << "abc"
                                  << "abcd" << shortFw << false << true;
    QTest::newRow("OK, short password") << true << "ok"
                                        << "abcd"
                                        << "abc" << shortFw << false << true;
    QTest::newRow("start: close, short password") << true << "close"
                                                  << "abcd"
                                                  << "abc" << shortHw << true << false;
    QTest::newRow("start: login, short ID") << true << "login"
                                            << ""
                                            << "abcd" << shortHw << true << true;
    QTest::newRow("start: cancel") << true << "cancel"
                                   << "abcd"
                                   << "abcd"
                                   << "" << true << false;
    QTest::newRow("start: Escape") << true << "escape"
                                   << "abcd"
                                   << "abcd"
                                   << "" << true << false;
    QTest::newRow("OK with exactly four") << true << "ok"
                                          << "abcd"
                                          << "wxyz"
                                          << "" << false << false;
    // Opened from the menu or by a bid that met the login page: the program goes on.
    QTest::newRow("later: cancel") << false << "cancel"
                                   << "abcd"
                                   << "abcd"
                                   << "" << false << false;
    QTest::newRow("later: Escape") << false << "escape"
                                   << "abcd"
                                   << "abcd"
                                   << "" << false << false;
    QTest::newRow("later: close, short password") << false << "close"
                                                  << "abcd"
                                                  << "abc" << shortHw << false << false;
    QTest::newRow("later: login, short ID") << false << "login"
                                            << ""
                                            << "abcd" << shortHw << false << true;
}

void tst_Windows::loginChecks()
{
    QFETCH(bool, atStart);
    QFETCH(QString, action);
    QFETCH(QString, user);
    QFETCH(QString, pass);
    QFETCH(QString, message);
    QFETCH(bool, ends);
    QFETCH(bool, stillOpen);
    App app;
    frmLogin w(app.settings, app.values, app.prompter);
    w.setEndsProgram(atStart);
    QSignalSpy end(&w, &frmLogin::endProgram);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("ﾛｸﾞｲﾝ"));
    box(w, 0)->setText(user);
    box(w, 1)->setText(pass);
    if (action == QLatin1String("ok"))
        button(w, "cmdOK")->click();
    else if (action == QLatin1String("close"))
        w.close();
    else if (action == QLatin1String("login"))
        button(w, "Command2")->click();
    else if (action == QLatin1String("escape"))
        QTest::keyClick(box(w, 1), Qt::Key_Escape);
    else
        button(w, "cmdCancel")->click();
    QCOMPARE(app.prompter.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(end.size(), ends ? 1 : 0);
    QCOMPARE(w.isVisible(), stillOpen);
    if (!stillOpen && !message.isEmpty()) // nothing was stored on the way out
        QCOMPARE(app.settings.get(QStringLiteral("Settings"), QStringLiteral("ypass"), QString()),
                 QString());
}

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
    box(w, 0)->setText(QStringLiteral("bidder01"));
    box(w, 1)->setText(QStringLiteral("p%ss word"));

    // ログインする sets the values in memory only.
    button(w, "Command2")->click();
    QCOMPARE(browser.size(), 1);
    QCOMPARE(app.values.ownId, QStringLiteral("bidder01"));
    QCOMPARE(app.values.password, QStringLiteral("p%ss word"));
    QCOMPARE(app.values.encodedPassword, QString());
    QCOMPARE(app.settings.get(QStringLiteral("Settings"), QStringLiteral("yuser"), QString()),
             QString());

    button(w, "cmdOK")->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(list.size(), 1);
    QCOMPARE(app.values.encodedPassword, encodePassword(QStringLiteral("p%ss word")));
    QCOMPARE(app.settings.get(QStringLiteral("settings"), QStringLiteral("YUSER"), QString()),
             QStringLiteral("bidder01"));
    const QString stored =
        app.settings.get(QStringLiteral("Settings"), QStringLiteral("ypass"), QString());
    QVERIFY(!stored.contains(QStringLiteral("word")));
    QCOMPARE(Unscramble(stored), QStringLiteral("p%ss word"));
}

void tst_Windows::afterTheLoginTheKeyboardIsInTheList()
{
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("aaaab"));
    MDIForm1 frame(app.ctx);
    frame.setSchedulerTick([] {});
    frame.show();
    frame.load();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    frame.findChild<QAction *>(QStringLiteral("mnuReg"))->trigger();
    QTRY_VERIFY(frame.login() && frame.login()->isVisible());
    frame.browser()->setFocus();      // where the login's page had it
    emit frame.browser()->loggedIn(); // the site greeted the user
    QTRY_VERIFY(!frame.login()->isVisible());
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(frame.itemList()->grid()));
}

void tst_Windows::overlongPasswordKeepsTheStoredOne()
{
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("oldpassword"));
    frmLogin w(app.settings, app.values, app.prompter);
    QSignalSpy end(&w, &frmLogin::endProgram);
    w.show();
    box(w, 1)->setText(QString(100, QLatin1Char('x')));
    button(w, "cmdOK")->click();
    QCOMPARE(app.prompter.messages.size(), 1);
    QVERIFY(app.prompter.messages.first().contains(QStringLiteral("99")));
    QVERIFY(w.isVisible());
    QCOMPARE(end.size(), 0);
    QCOMPARE(Unscramble(
                 app.settings.get(QStringLiteral("Settings"), QStringLiteral("ypass"), QString())),
             QStringLiteral("oldpassword"));
    QCOMPARE(app.values.password, QStringLiteral("oldpassword"));
}

void tst_Windows::menusCaptionsAndNames()
{
    App app;
    MDIForm1 frame(app.ctx);
    QCOMPARE(frame.windowTitle(), QStringLiteral("Snipewell"));
    // The top-level order of the menu bar.
    QStringList bar;
    for (QAction *a : frame.menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar.mid(0, 6),
             (QStringList{QStringLiteral("ﾌｧｲﾙ(&F)"), QStringLiteral("表示(&V)"),
                          QStringLiteral("ﾂｰﾙ(&T)"), QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"),
                          QStringLiteral("ｳｲﾝﾄﾞｳ(&W)"), QStringLiteral("ﾍﾙﾌﾟ(&H)")}));
    // Every menu of the bar and every item in them opens from the keyboard: an Alt letter of
    // its own within its menu, and the usual keys for the common commands.
    for (QAction *top : frame.menuBar()->actions()) {
        if (!top->menu() || top->objectName() == QLatin1String("mnupop1")) // the list's pop-up
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
    QCOMPARE(frame.findChild<QAction *>(QStringLiteral("mnuEnd"))->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+Q")));
    QCOMPARE(frame.findChild<QAction *>(QStringLiteral("mnuUpdateRec"))->shortcut(),
             QKeySequence(QKeySequence::Refresh));
}

void tst_Windows::loginAtStartOnlyWhenACredentialIsMissing_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("pass");
    QTest::addColumn<bool>("shown");
    QTest::newRow("both stored") << "bidder01"
                                 << "secret" << false;
    // Many members have no password (a code by SMS, a passkey): an ID alone is enough.
    QTest::newRow("no password") << "bidder01"
                                 << "" << false;
    QTest::newRow("a password of three") << "bidder01"
                                         << "abc" << true;
    QTest::newRow("ID of three") << "abc"
                                 << "secret" << true;
}

void tst_Windows::loginAtStartOnlyWhenACredentialIsMissing()
{
    QFETCH(QString, user);
    QFETCH(QString, pass);
    QFETCH(bool, shown);
    App app;
    app.values.ownId = user;
    app.values.password = pass;
    MDIForm1 frame(app.ctx);
    QSignalSpy ends(&frame, &MDIForm1::endProgram);
    frame.show();
    frame.load();
    QCOMPARE(frame.login() && frame.login()->isVisible(), shown);
    if (shown) { // without credentials at start-up, ｷｬﾝｾﾙ ends the program
        button(*frame.login(), "cmdCancel")->click();
        QCOMPARE(ends.size(), 1);
        return;
    }
    // Brought up later from the menu, ｷｬﾝｾﾙ or Escape only closes the dialog.
    for (int i = 0; i < 2; ++i) {
        frame.findChild<QAction *>(QStringLiteral("mnuReg"))->trigger();
        QVERIFY(frame.login()->isVisible());
        if (i == 0)
            button(*frame.login(), "cmdCancel")->click();
        else
            QTest::keyClick(frame.login(), Qt::Key_Escape);
        QVERIFY(!frame.login()->isVisible());
    }
    QCOMPARE(ends.size(), 0);
}

void tst_Windows::badStoredBidSecondsAreReplacedAndSaid_data()
{
    QTest::addColumn<QString>("befsec");
    QTest::addColumn<int>("used");
    QTest::addColumn<bool>("logged");
    QTest::newRow("10") << "10" << 10 << false;
    QTest::newRow("0") << "0" << 30 << true;
    QTest::newRow("negative") << "-5" << 30 << true;
    QTest::newRow("not a number") << "abc" << 30 << true;
}

void tst_Windows::badStoredBidSecondsAreReplacedAndSaid()
{
    QFETCH(QString, befsec);
    QFETCH(int, used);
    QFETCH(bool, logged);
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("secret1"));
    app.settings.save(QStringLiteral("Settings"), QStringLiteral("Befsec"), befsec);
    app.settings.save(QStringLiteral("Settings"), QStringLiteral("accesskankaku"),
                      QStringLiteral("5"));
    MDIForm1 frame(app.ctx);
    frame.setSchedulerTick([] {});
    frame.load();
    QCOMPARE(app.values.befSec, used);
    QCOMPARE(app.values.refreshIntervalSec, 300); // every bid window refreshes this often
    const QStringList log = logLines(app.db);
    QCOMPARE(std::count_if(log.begin(), log.end(),
                           [](const QString &l) {
                               return l.startsWith(
                                   QStringLiteral("設定ファイルの入札秒数（Befsec）が正しくないので"
                                                  "30秒前に入札します："));
                           }),
             logged ? 1 : 0);
}

void tst_Windows::popupMenuUsesCategoryNames()
{
    App app;
    app.categories.rename(4, QStringLiteral("カメラ"));
    MDIForm1 frame(app.ctx);
    frame.load();
    const QList<QAction *> actions = frame.popupMenu()->actions();
    QCOMPARE(actions[2]->text(), QStringLiteral("3"));
    QCOMPARE(actions[3]->text(), QStringLiteral("カメラ"));
    app.prompter.answers.enqueue(QStringLiteral("本"));
    QTimer::singleShot(0, [&frame] {
        auto *editor = frame.findChild<frmCAT *>();
        editor->findChild<QPushButton *>(QStringLiteral("CancelButton"))->click();
        editor->accept();
    });
    frame.openCategoryEditor();
    QCOMPARE(actions[0]->text(), QStringLiteral("本"));
}

void tst_Windows::logWindowFromMenuAndStatusBarOnLogFailure()
{
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("secret1"));
    MDIForm1 frame(app.ctx);
    frame.show();
    frame.load();
    frame.findChild<QAction *>(QStringLiteral("mnuLog"))->trigger();
    auto *log = frame.findChild<frmLog *>();
    QVERIFY(log && log->isVisible());
    log->parentWidget()->showMinimized();
    frame.findChild<QAction *>(QStringLiteral("mnuLog"))->trigger();
    QVERIFY(!log->parentWidget()->isMinimized());
    QCOMPARE(frame.findChildren<frmLog *>().size(), 1);

    QSqlQuery(app.db.connection()).exec(QStringLiteral("DROP TABLE tblLog"));
    app.log.LOGTodb(QStringLiteral("入札準備開始：x9"));
    QVERIFY(frame.statusBar()->currentMessage().contains(QStringLiteral("入札準備開始：x9")));
}

void tst_Windows::endClosesEverything()
{
    App app;
    MDIForm1 frame(app.ctx);
    QSignalSpy end(&frame, &MDIForm1::endProgram);
    frame.show();
    frame.load(); // credentials missing: the dialog is open
    frame.showLog();
    QVERIFY(frame.login()->isVisible());
    frame.findChild<QAction *>(QStringLiteral("mnuEnd"))->trigger();
    QCOMPARE(end.size(), 1);
    QVERIFY(!frame.isVisible());
    QVERIFY(!frame.timer1()->isActive());
    QVERIFY(frame.login() == nullptr || !frame.login()->isVisible());
    QTRY_COMPARE(frame.mdiArea()->subWindowList().size(), 0);
    QVERIFY(app.prompter.messages.isEmpty()); // the dialog's checks do not run on the way out
}

void tst_Windows::closingWithBidsPendingAsks()
{
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("secret1"));
    ItemRecord r;
    r.itemid = QStringLiteral("x1");
    r.Itemname = QStringLiteral("腕時計");
    r.Serverid = QStringLiteral("3");
    r.ItemYenNow = 1000;
    r.enddate = QDateTime::currentDateTime().addSecs(300);
    QVERIFY(app.db.upsertItem(r) != ItemDatabase::Upsert::Failed);
    app.db.saveUserColumns(app.db.itemByItemid(QStringLiteral("x1"))->id, 5000, QStringLiteral("0"),
                           1, 0);
    MDIForm1 frame(app.ctx);
    frame.setSchedulerTick([] {});
    QSignalSpy ends(&frame, &MDIForm1::endProgram);
    frame.show();
    frame.load();
    frame.Timer1_Timer();
    QVERIFY2(frame.trayMenu()->actions().first()->text().startsWith(QStringLiteral("次の入札：")),
             qPrintable(frame.trayMenu()->actions().first()->text()));
    QVERIFY(frame.trayMenu()->actions().first()->text().endsWith(QStringLiteral("腕時計")));

    // Escape (or the box's ×), then the first button, then the tray's 終了 with Escape: the
    // program keeps running every time, and says nothing was given up. The first time is
    // Ctrl+Q typed in the item's bid window, which stays open.
    QPointer<frmSw> bidWindow =
        frame.bidWindows()->open(app.db.itemByItemid(QStringLiteral("x1"))->id);
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
        QCOMPARE(q, QStringLiteral("1件の入札予定があります。終了すると入札されません。"));
    QCOMPARE(app.prompter.choices.first().at(1), QStringLiteral("終了する"));
    QCOMPARE(app.prompter.choices.first().at(2), QStringLiteral("キャンセル"));
    QVERIFY(!logLines(app.db).join(u'\n').contains(QStringLiteral("入札中止")));

    // 終了する: it ends, and the log says which bid was given up.
    app.prompter.choiceAnswers.enqueue(1);
    frame.findChild<QAction *>(QStringLiteral("mnuEnd"))->trigger();
    QCOMPARE(ends.size(), 1);
    QVERIFY(logLines(app.db).contains(
        QStringLiteral("入札中止（プログラムを終了しました）：x1（腕時計）")));
}

void tst_Windows::itemLogFromThePopupMenu()
{
    App app;
    app.storeCredentials(QStringLiteral("bidder01"), QStringLiteral("secret1"));
    for (const char *id : {"x1", "x2"}) {
        ItemRecord r;
        r.itemid = QString::fromLatin1(id);
        r.Itemname = QStringLiteral("腕時計 ") + r.itemid;
        r.Serverid = QStringLiteral("3");
        r.enddate = QDateTime::currentDateTime().addDays(2);
        QVERIFY(app.db.upsertItem(r) != ItemDatabase::Upsert::Failed);
        app.log.LOGTodb(QStringLiteral("入札準備開始：") + r.itemid);
    }
    app.log.LOGTodb(QStringLiteral("最終結果：x2：腕時計 x2：落札しました：4,300円"));
    MDIForm1 frame(app.ctx);
    frame.setSchedulerTick([] {});
    frame.show();
    frame.load();
    auto *list = frame.findChild<frmMain *>();
    QVERIFY(list);
    const QModelIndexList x2 =
        list->model()->match(list->model()->index(0, 2), Qt::DisplayRole,
                             QStringLiteral("腕時計 x2"), 1, Qt::MatchExactly);
    list->grid()->setCurrentIndex(list->model()->index(x2.isEmpty() ? 0 : x2.first().row(), 2));
    frame.findChild<QAction *>(QStringLiteral("mnuItemLog"))->trigger();
    frmLog *log = nullptr;
    for (frmLog *l : frame.findChildren<frmLog *>()) {
        if (l->windowTitle() == QStringLiteral("ログ：x2 腕時計 x2"))
            log = l;
    }
    QVERIFY(log);
    QAbstractItemModel *rows = log->findChild<QTableView *>(QStringLiteral("DataGrid2"))->model();
    QStringList memos;
    for (int r = 0; r < rows->rowCount(); ++r)
        memos << rows->index(r, 1).data().toString();
    QCOMPARE(memos, (QStringList{QStringLiteral("最終結果：x2：腕時計 x2：落札しました：4,300円"),
                                 QStringLiteral("入札準備開始：x2")}));
}

void tst_Windows::schedulerOpensBidWindows()
{
    App app;
    app.storeCredentials(QStringLiteral("me_taro"), QStringLiteral("secret1"));
    app.settings.save(QStringLiteral("Settings"), QStringLiteral("CATOn"), QStringLiteral("1"));
    const QDateTime now = QDateTime::currentDateTime();
    auto add = [&app](const QString &itemid, const QDateTime &end, const QString &cat, int numkai,
                      const QString &bidder) {
        ItemRecord r;
        r.itemid = itemid;
        r.Itemname = itemid;
        r.Serverid = QStringLiteral("3");
        r.ItemYenNow = 1000;
        r.SaikougakuShaid = bidder;
        r.enddate = end;
        r.NumUri = 1;
        r.ItemYenUnit = 100;
        app.db.upsertItem(r);
        app.db.saveUserColumns(app.db.itemByItemid(itemid)->id, 5000, cat, numkai, 0);
    };
    add(QStringLiteral("wonEarlier"), now.addSecs(-3600), QStringLiteral("1"), 1,
        QStringLiteral("me_taro"));
    add(QStringLiteral("sameCategory"), now.addSecs(3 * 3600), QStringLiteral("1"), 1,
        QStringLiteral("x"));
    add(QStringLiteral("otherCategory"), now.addSecs(4 * 3600), QStringLiteral("2"), 1,
        QStringLiteral("x"));
    add(QStringLiteral("noQuantity"), now.addSecs(2 * 3600), QStringLiteral("0"), 0,
        QStringLiteral("x"));
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
    QTRY_COMPARE(opened(), QStringList{QStringLiteral("otherCategory")});
    frame.Timer1_Timer();
    QTest::qWait(100);
    QCOMPARE(opened(), QStringList{QStringLiteral("otherCategory")});
    QStringList log;
    const QList<LogEntry> entries = app.db.logEntries().value();
    for (const LogEntry &e : entries) {
        if (e.Memo.startsWith(QStringLiteral("入札準備"))) // the browser may log its page
            log << e.Memo;
    }
    QCOMPARE(log, QStringList{QStringLiteral("入札準備開始：otherCategory")});
    // The earliest-ending candidate's line is what stays in the status bar.
    QCOMPARE(frame.statusBar()->currentMessage(),
             QStringLiteral("sameCategory:カテゴリの中の１つ以上を落札しているので入札しない"));
}

void tst_Windows::newWindowsStayOutOfTheWay()
{
    App app;
    app.storeCredentials(QStringLiteral("me_taro"), QStringLiteral("secret1"));
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 1; i <= 3; ++i) {
        ItemRecord r;
        r.itemid = QStringLiteral("w") + QString::number(i);
        r.Itemname = r.itemid;
        r.Serverid = QStringLiteral("3");
        r.ItemYenNow = 1000;
        r.enddate = now.addSecs(i * 3600);
        r.NumUri = 1;
        r.ItemYenUnit = 100;
        app.db.upsertItem(r);
        app.db.saveUserColumns(app.db.itemByItemid(r.itemid)->id, 5000, QStringLiteral("0"), 1, 0);
    }
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
        where += QStringLiteral("%1,%2 ").arg(w->window()->x()).arg(w->window()->y());
    QVERIFY2(places.size() == 3, qPrintable(where)); // none hides another
    // Every window fits the screen, the frame with room for its title bar.
    const QRect avail = frame.screen()->availableGeometry();
    QVERIFY(frame.width() + MDIForm1::kFrameRoom.width() <= avail.width());
    QVERIFY(frame.height() + MDIForm1::kFrameRoom.height() <= avail.height());
    for (frmSw *w : frame.bidWindows()->windows())
        QVERIFY2(avail.contains(w->window()->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                .arg(w->window()->x())
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

QTEST_MAIN(tst_Windows)
#include "tst_windows.moc"
