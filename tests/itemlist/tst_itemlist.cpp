#include "bidhost.h"
#include "bidwindows.h"
#include "bulkrefresh.h"
#include "frmlogin.h"
#include "frmmain.h"
#include "frmsw.h"
#include "itemlistmodel.h"
#include "mdiform1.h"
#include "simsettings.h"
#include "simsite.h"
#include "siteclock.h"
#include "testapp.h"
#include "watchlistimport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QNetworkCookie>
#include <QNetworkProxy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTimeZone>
#include <QToolBar>
#include <QToolButton>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct List : TestApp
{
    BidHost host{ctx};
    BidWindows windows{ctx, host, nullptr, nullptr};
    QDateTime now = QDateTime::currentDateTime();

    List()
    {
        values.ownId = u"me"_s;
        add(u"ended0"_s, -3600, u"0"_s, 0, 0, u"me"_s, true);
        add(u"run0"_s, 3600, u"0"_s, 1, 900);
        add(u"run3"_s, 7200, u"3"_s, 0, 0);
        add(u"run3set"_s, 9000, u"3"_s, 2, 500);
        add(u"ended3"_s, -60, u"3"_s, 1, 800, u"other"_s, true);
    }
    void add(const QString &itemid, int endsIn, const QString &cat, int numkai, int max,
             const QString &bidder = u"-"_s, bool fin = false)
    {
        ItemRecord r;
        r.itemid = itemid;
        r.Itemname = itemid;
        r.Serverid = u"3"_s;
        r.ItemYenNow = 100;
        r.SaikougakuShaid = bidder;
        r.enddate = now.addSecs(endsIn);
        r.NumUri = 2;
        r.ItemYenUnit = 10;
        r.fin = fin;
        db.upsertItem(r);
        db.saveUserColumns(db.itemByItemid(itemid)->id, max, cat, numkai, 0);
    }
};

QStringList shown(frmMain &w)
{
    QStringList ids;
    for (int r = 0; r < w.model()->rowCount(); ++r)
        ids << w.model()->row(r).itemid;
    return ids;
}

void chooseCategory(frmMain &w, int position)
{
    w.categorySelector()->setCurrentIndex(position);
    emit w.categorySelector()->activated(position);
}

QAction *toolAction(frmMain &w, const char *key)
{
    return w.toolbar()->findChild<QAction *>(QString::fromLatin1(key));
}

} // namespace

// The item list as a user drives it: real key and mouse events on an offscreen window.
class tst_ItemList : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Whatever does not go through the Proxy setting reaches nothing at all.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, 9));
    }

    void filters_data()
    {
        QTest::addColumn<QList<int>>("buttons");
        QTest::addColumn<int>("category");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("everything, by end")
            << QList<int>{} << 0
            << QStringList{u"ended0"_s, u"ended3"_s, u"run0"_s, u"run3"_s, u"run3set"_s};
        QTest::newRow("running only")
            << QList<int>{0} << 0 << QStringList{u"run0"_s, u"run3"_s, u"run3set"_s};
        QTest::newRow("limits set")
            << QList<int>{1} << 0 << QStringList{u"ended3"_s, u"run0"_s, u"run3set"_s};
        QTest::newRow("未分類 and running") << QList<int>{0} << 1 << QStringList{u"run0"_s};
        QTest::newRow("category 3")
            << QList<int>{} << 4 << QStringList{u"ended3"_s, u"run3"_s, u"run3set"_s};
        QTest::newRow("category 3, running, limits")
            << QList<int>{0, 1} << 4 << QStringList{u"run3set"_s};
        QTest::newRow("won items") << QList<int>{2} << 0 << QStringList{u"ended0"_s};
    }

    void filters()
    {
        QFETCH(QList<int>, buttons);
        QFETCH(int, category);
        QFETCH(QStringList, rows);
        List l;
        frmMain w(l.ctx, l.windows);
        w.show();
        QCOMPARE(w.windowTitle(), u"商品ﾘｽﾄ"_s);
        QCOMPARE(w.model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), u"品名"_s);
        chooseCategory(w, category);
        for (int b : buttons)
            QTest::mouseClick(w.filterButton(b), Qt::LeftButton);
        QCOMPARE(shown(w), rows);
        // The end's time of day in Japan time (said so: the suite runs in another zone), and
        // where each row's bid stands.
        QCOMPARE(w.model()->headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(),
                 u"終了時刻（日本時間）"_s);
        const QHash<QString, QString> states = {{u"ended0"_s, u"落札"_s},
                                                {u"ended3"_s, u"終了"_s},
                                                {u"run0"_s, u"予定"_s},
                                                {u"run3"_s, QString()}};
        for (int r = 0; r < w.model()->rowCount(); ++r) {
            const ItemRecord &row = w.model()->row(r);
            QCOMPARE(w.model()->index(r, 8).data().toString(),
                     inSiteZone(row.enddate).toString(u"HH:mm:ss"_s));
            if (states.contains(row.itemid))
                QCOMPARE(w.model()->index(r, 9).data().toString(), states.value(row.itemid));
        }
    }

    void wonViewRestoresTheFilters()
    {
        List l;
        frmMain w(l.ctx, l.windows);
        w.show();
        chooseCategory(w, 4);
        QTest::mouseClick(w.filterButton(0), Qt::LeftButton);
        QCOMPARE(shown(w), (QStringList{u"run3"_s, u"run3set"_s}));
        QTest::mouseClick(w.filterButton(2), Qt::LeftButton);
        QCOMPARE(shown(w), QStringList{u"ended0"_s}); // won items of all categories
        QVERIFY(!w.filterButton(0)->isChecked());
        QCOMPARE(w.categorySelector()->currentIndex(), 0);
        QTest::mouseClick(w.filterButton(2), Qt::LeftButton);
        QVERIFY(w.filterButton(0)->isChecked());
        QCOMPARE(w.categorySelector()->currentIndex(), 4);
        QCOMPARE(shown(w), (QStringList{u"run3"_s, u"run3set"_s}));
    }

    void digitKeysSetTheCategoryAndKeepTheRow()
    {
        List l;
        frmMain w(l.ctx, l.windows);
        w.show();
        w.grid()->setCurrentIndex(w.model()->index(2, 0));
        QTest::keyClick(w.grid(), Qt::Key_5, Qt::KeypadModifier);
        QCOMPARE(l.db.itemByItemid(u"run0"_s)->cat, u"5"_s);
        QCOMPARE(w.grid()->currentIndex().row(), 2);
        QTest::keyClick(w.grid(), Qt::Key_7);
        QCOMPARE(l.db.itemByItemid(u"run0"_s)->cat, u"7"_s);
        QTest::keyClick(w.grid(), Qt::Key_0); // 0 assigns nothing
        QCOMPARE(l.db.itemByItemid(u"run0"_s)->cat, u"7"_s);
        QCOMPARE(w.model()->data(w.model()->index(2, 1), Qt::DisplayRole).toString(), u"7"_s);
        QVERIFY(!l.values.StopFlag);
        QTest::keyClick(w.grid(), Qt::Key_Escape); // asks a running import or refresh to stop
        QVERIFY(l.values.StopFlag);
    }

    void deletingTheLastRowDisablesTheRowButtons()
    {
        List l;
        frmMain w(l.ctx, l.windows);
        w.show();
        chooseCategory(w, 1); // 未分類: two rows
        QCOMPARE(w.model()->rowCount(), 2);
        w.grid()->setCurrentIndex(w.model()->index(1, 0));
        QTest::keyClick(w.grid(), Qt::Key_Delete);
        QCOMPARE(w.model()->rowCount(), 1);
        QVERIFY(toolAction(w, "del")->isEnabled());
        QTest::keyClick(w.grid(), Qt::Key_Delete);
        QCOMPARE(w.model()->rowCount(), 0);
        for (const char *key : {"ie", "sw", "reload", "del"})
            QVERIFY2(!toolAction(w, key)->isEnabled(), key);
        QVERIFY(toolAction(w, "get")->isEnabled());
        QVERIFY(toolAction(w, "settings")->isEnabled());
        QCOMPARE(toolAction(w, "del")->toolTip(), u"商品ﾘｽﾄから削除します"_s);
    }

    void timeLeft()
    {
        const QDateTime noon(QDate(2026, 12, 6), QTime(12, 0), sw::siteZone());
        const QDateTime la = noon.toTimeZone(QTimeZone("America/Los_Angeles"));
        // Now, the end, the caption; the last moments are given on a machine elsewhere.
        const QList<std::tuple<QDateTime, QDateTime, QString>> cases{
            {noon.addSecs(11 * 3600), noon.addSecs(13 * 3600), u"終了まであと2時間"_s},
            {noon.addSecs(-100), noon, u"終了まであと1分"_s},
            {noon.addSecs(-42), noon, u"終了まであと42秒"_s},
            {noon, noon.addSecs(36 * 3600), u"終了まであと1日"_s},
            {noon, noon.addDays(-1), u"終了"_s},
            {noon, noon, u"終了"_s},
            {la.addSecs(-5400), noon, u"終了まであと1時間"_s}};
        for (const auto &[now, end, caption] : cases)
            QCOMPARE(timeLeftCaption(now, end), caption);
    }

    void bidWindowIsReusedPerItem()
    {
        List l;
        frmMain w(l.ctx, l.windows);
        w.show();
        w.grid()->setCurrentIndex(w.model()->index(3, 2)); // run3: nothing to bid yet
        QTest::keyClick(w.grid(), Qt::Key_S);
        QCOMPARE(l.windows.windows().size(), 1);
        QCOMPARE(l.windows.windows().first()->windowTitle(), u"run3"_s);
        QTest::keyClick(w.grid(), Qt::Key_S); // the same item: the open window
        QCOMPARE(l.windows.windows().size(), 1);
        auto doubleClick = [&w](int row) {
            const QPoint cell = w.grid()->visualRect(w.model()->index(row, 2)).center();
            QTest::mouseClick(w.grid()->viewport(), Qt::LeftButton, {}, cell);
            QTest::mouseDClick(w.grid()->viewport(), Qt::LeftButton, {}, cell);
        };
        doubleClick(4);
        QCOMPARE(l.windows.windows().size(), 1); // the list's own window moves to the item
        QCOMPARE(l.windows.windows().first()->windowTitle(), u"run3set"_s);
        // run3set's bid is armed: its window stays with it, the next item gets a window of its own.
        doubleClick(2);
        QCOMPARE(l.windows.windows().size(), 2);
        QCOMPARE(l.windows.windows().at(0)->windowTitle(), u"run3set"_s);
        QCOMPARE(l.windows.windows().at(1)->windowTitle(), u"run0"_s);
        QVERIFY(l.windows.windows().at(0)->armed());
        qDeleteAll(l.windows.windows());
    }

    void keysActOnTheRowTheUserChose()
    {
        List l;
        l.add(u"sale"_s, 5000, u"0"_s, 0, 0); // a name starting with S
        frmMain w(l.ctx, l.windows);
        w.show();
        // After a filter change there is a current row: the keys work without a click first.
        chooseCategory(w, 4);
        QVERIFY(w.grid()->currentIndex().isValid());
        const QString first = w.model()->row(w.grid()->currentIndex().row()).itemid;
        QTest::keyClick(w.grid(), Qt::Key_2);
        QCOMPARE(l.db.itemByItemid(first)->cat, u"2"_s);

        // "S" opens the chosen row's window, not the row whose name the grid's search finds.
        chooseCategory(w, 0);
        QCOMPARE(shown(w).at(2), u"run0"_s);
        w.grid()->setCurrentIndex(w.model()->index(2, 2));
        QTest::keyClick(w.grid(), Qt::Key_S);
        QCOMPARE(w.grid()->currentIndex().row(), 2);
        QCOMPARE(l.windows.windows().size(), 1);
        QCOMPARE(l.windows.windows().first()->windowTitle(), u"run0"_s);
        // With Ctrl the keys are not the list's.
        QTest::keyClick(w.grid(), Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(l.db.itemByItemid(u"run0"_s)->cat, u"0"_s);
        qDeleteAll(l.windows.windows());
    }

    void categoryEditorKeepsTheCategoryShown()
    {
        List l;
        frmMain w(l.ctx, l.windows);
        w.show();
        chooseCategory(w, 4);
        QTimer::singleShot(0, &w, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        chooseCategory(w, w.categorySelector()->count() - 1); // カテゴリの編集
        QCOMPARE(w.categorySelector()->currentIndex(), 4);
        QCOMPARE(shown(w), (QStringList{u"ended3"_s, u"run3"_s, u"run3set"_s}));

        // The bid window's selector as well: back to the item's category, not to 未分類.
        frmSw *sw = l.windows.open(l.db.itemByItemid(u"run3"_s)->id);
        auto *cat = sw->findChild<QComboBox *>(u"cat"_s);
        QCOMPARE(cat->currentIndex(), 3);
        QTimer::singleShot(0, sw, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        cat->setCurrentIndex(cat->count() - 1);
        emit cat->activated(cat->count() - 1);
        QCOMPARE(cat->currentIndex(), 3);
        delete sw;
    }

    void watchListImportPausesTheScheduler()
    {
        TestApp app;
        app.values.ownId = u"snipe_taro"_s;
        app.values.password = u"taro1234"_s;
        sim::Scenario s;
        s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {u"x1"_s}};
        sim::Item it;
        it.id = u"x1"_s;
        it.server = 3;
        it.title = u"時計"_s;
        it.end = QDateTime::currentDateTime().addDays(1);
        s.items << it;
        sim::SimSite site(s);
        QVERIFY(site.listenOn() != 0);
        site.addFault({.ms = 300});
        reachSimulatedSite(app.settings, site.port());
        QNetworkCookie c(sim::SimSite::sessionCookieName().toLatin1(),
                         site.createSession(u"snipe_taro"_s).toLatin1());
        c.setDomain(app.hosts.userHost);
        app.cookies.insertCookie(c);

        MDIForm1 frame(app.ctx);
        frame.show();
        frame.load();
        QAction *tools = frame.findChild<QMenu *>(u"mnuTools"_s)->menuAction();
        // Started from the 落札 view, with an Escape pressed a while ago: it still imports and
        // shows.
        QTest::mouseClick(frame.itemList()->filterButton(2), Qt::LeftButton);
        QTest::keyClick(frame.itemList()->grid(), Qt::Key_Escape);
        bool done = false;
        frame.mnuGetWatchList_Click().then([&done] { done = true; });
        QVERIFY(!frame.timer1()->isActive());
        QVERIFY(!tools->isEnabled());
        QAction *settings = frame.findChild<QAction *>(u"mnuSettings"_s);
        QVERIFY(!settings->isEnabled()); // 設定 would restart the scheduler mid-run
        QVERIFY(!frame.itemList()->toolbar()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QVERIFY(frame.timer1()->isActive());
        QVERIFY(tools->isEnabled());
        QVERIFY(settings->isEnabled());
        QVERIFY(frame.itemList()->toolbar()->isEnabled());
        QCOMPARE(frame.itemList()->categorySelector()->currentIndex(), 1); // 未分類
        QCOMPARE(shown(*frame.itemList()), QStringList{u"x1"_s});

        // An import that ends early (the login expired) restores everything as well.
        site.expireSessions();
        done = false;
        frame.mnuGetWatchList_Click().then([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QVERIFY(frame.timer1()->isActive());
        QVERIFY(tools->isEnabled());
        QVERIFY(app.prompter.messages.isEmpty());

        // With the site out of reach, the user is told so, not only the log.
        site.clearFaults();
        site.addFault({.path = u"/jp/show/mystatus"_s, .kind = sim::Fault::Drop});
        done = false;
        frame.mnuGetWatchList_Click().then([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QCOMPARE(app.prompter.messages, QStringList{watchListUnreadText()});
    }

    void addItemByAddressOrId()
    {
        TestApp app;
        app.values.ownId = u"snipe_taro"_s;
        app.values.password = u"taro1234"_s;
        sim::Scenario s;
        sim::Item it;
        it.id = u"x7"_s;
        it.server = 5;
        it.title = u"万年筆"_s;
        it.end = QDateTime::currentDateTime().addDays(1);
        s.items << it;
        sim::Item ended = it;
        ended.id = u"k8"_s;
        ended.server = 0;
        ended.end = QDateTime::currentDateTime().addSecs(-3600);
        s.items << ended;
        ended.id = u"k9"_s; // ended days ago: the site shows it without details
        ended.bareWhenEnded = true;
        s.items << ended;
        sim::SimSite site(s);
        QVERIFY(site.listenOn() != 0);
        reachSimulatedSite(app.settings, site.port());
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        frame.show();
        frame.load();
        const QList<std::pair<QString, QString>> steps = {
            {u" x7 "_s, u"取り込み完了"_s},
            {u"http://page5.auctions.yahoo.co.jp/jp/auction/x7?x=1"_s, u"すでに登録してあります"_s},
            {u"https://page.auctions.yahoo.co.jp/jp/auction/x7"_s, u"すでに登録してあります"_s},
            {u"https://page.auctions.yahoo.co.jp/jp/auction/k8"_s,
             u"このオークションは終了していますので取り込めません。"_s},
            {u"k9"_s, u"このオークションは終了していますので取り込めません。"_s},
            {u"x7; rm -rf"_s,
             u"商品ページのアドレスでもオークションIDでもありません：x7; rm -rf"_s},
            {u"zz404"_s, QStringLiteral("このページは「Yahoo!オークション - "
                                        "商品詳細」ではありませんので取り込めません。")},
        };
        for (const auto &[typed, said] : steps) {
            app.prompter.messages.clear();
            app.prompter.answers.enqueue(typed);
            bool done = false;
            // From the list's tool bar for the first, from ﾂｰﾙ for the others.
            if (typed == steps.first().first)
                toolAction(*frame.itemList(), "add")->trigger();
            else
                frame.addItemByAddress().then([&done] { done = true; });
            QTRY_VERIFY_WITH_TIMEOUT(!app.prompter.messages.isEmpty(), 10000);
            QVERIFY2(app.prompter.messages == QStringList{said}, qPrintable(typed));
        }
        QCOMPARE(app.db.itemByItemid(u"x7"_s)->Itemname, u"万年筆"_s);
        QVERIFY(!app.db.itemByItemid(u"k8"_s));
        QVERIFY(!app.db.itemByItemid(u"k9"_s));
        QVERIFY(shown(*frame.itemList()).contains(u"x7"_s));
    }

    void startsWithoutTheBrowser_data()
    {
        QTest::addColumn<QString>("session"); // "in", "out" or "gone" (the site out of reach)
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("loginAsked");
        QTest::newRow("logged in") << "in"
                                   << "ログイン済み" << false;
        QTest::newRow("logged out: the login comes up") << "out"
                                                        << "ログインしていません" << true;
        QTest::newRow("no site") << "gone"
                                 << "ログイン状態不明" << false;
    }

    void startsWithoutTheBrowser()
    {
        // The browser engine is not started for the member page: the program reads it itself.
        QFETCH(QString, session);
        QFETCH(QString, said);
        QFETCH(bool, loginAsked);
        TestApp app;
        app.values.ownId = u"snipe_taro"_s;
        app.values.password = u"taro1234"_s;
        sim::Scenario s;
        s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {}};
        sim::SimSite site(s);
        QVERIFY(site.listenOn() != 0);
        reachSimulatedSite(app.settings, session == "gone"_L1 ? 9 : site.port());
        if (session == "in"_L1) {
            QNetworkCookie c(sim::SimSite::sessionCookieName().toLatin1(),
                             site.createSession(u"snipe_taro"_s).toLatin1());
            c.setDomain(app.hosts.userHost);
            app.cookies.insertCookie(c);
        }
        MDIForm1 frame(app.ctx);
        frame.setSchedulerTick([] {});
        frame.show();
        frame.load();
        QTRY_COMPARE_WITH_TIMEOUT(frame.loginStateText(), said, 10000);
        QCOMPARE(frame.findChild<QWidget *>(u"frmBrowser"_s), nullptr);
        QCOMPARE(frame.login() && frame.login()->isVisible(), loginAsked);
    }
};

QTEST_MAIN(tst_ItemList)
#include "tst_itemlist.moc"
