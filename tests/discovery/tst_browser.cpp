#include "browsercookies.h"
#include "frmbrowser.h"
#include "frmlogin.h"
#include "frmmain.h"
#include "frmoptions.h"
#include "frmserch.h"
#include "frmtip.h"
#include "mdiform1.h"
#include "pagefetcher.h"
#include "simsite.h"
#include "testapp.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkProxy>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineView>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

const QString kUser = u"snipe_taro"_s;
const QString kPass = u"pa\"ss'wd\\1"_s;

sim::Scenario scenario()
{
    sim::Scenario s;
    const QList<sim::Category> trail = {{2084, u"おもちゃ"_s}, {12345, u"ミニ四駆"_s}};
    for (int n = 1; n <= 3; ++n) {
        sim::Item it;
        it.id = u"b"_s + QString::number(n);
        it.server = n;
        it.title = u"ミニ四駆 セット"_s + QString::number(n);
        it.seller = u"seller"_s;
        it.price = it.startPrice = 1000 * n;
        it.end = QDateTime::currentDateTime().addDays(1);
        it.trail = trail;
        s.items << it;
    }
    // A category whose number is too short to be registered from its listing.
    s.items[2].trail = {{123, u"古い分類"_s}};
    s.bidders << sim::Bidder{kUser, kPass, {u"b1"_s, u"b2"_s}};
    return s;
}

// One site for the whole suite: the browser engine reads the proxy once, when it starts.
sim::SimSite *g_site = nullptr;

struct Site : TestApp
{
    sim::SimSite &site = *g_site;
    Site()
    {
        site.expireSessions();
        site.clearFaults();
        QWebEngineProfile::defaultProfile()->cookieStore()->deleteAllCookies();
    }

    // Reads the watch list with a fetcher of the program and the given jar.
    QString watchList(PersistentCookieJar &jar, bool today = false)
    {
        PageFetcher fetcher(&jar, log, prompter);
        auto task = fetcher.FetchPage(today ? hosts.watchList() : hosts.classicWatchList(), false);
        QString text;
        bool done = false;
        task.then([&](const FetchResult &r) {
            text = r.text;
            done = true;
        });
        if (!QTest::qWaitFor([&done] { return done; }, 10000))
            return u"(no answer)"_s;
        return text;
    }
};

bool loadedPage(frmBrowser &b, const QString &address)
{
    QSignalSpy loaded(b.view(), &QWebEngineView::loadFinished);
    b.StartingAddress(address, u"-"_s);
    return loaded.wait(10000);
}

} // namespace

struct TodaysLoginInTwoStepsRow
{
    QString member;
    QString password; // as stored
    QString asks;     // what the member is asked ("" nothing)
    QString answer;   // what the member answers
    bool in;
};

// The built-in browser against the simulated site: the login through the page, one login
// for browser and fetchers, capture and category registration.
class tst_Browser : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        g_site = new sim::SimSite(scenario(), this);
        QVERIFY(g_site->listenOn() != 0);
        // The browser and the windows that keep the default connection use this proxy.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, g_site->port()));
    }

    void cleanupTestCase() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }

    void credentialsDialogLogsInThroughTheBrowser()
    {
        Site t;
        MDIForm1 frame(t.ctx);
        frame.show();
        frame.load();
        // Not logged in: the member page is the site's login page, read without the browser,
        // and nobody is stored yet.
        QTRY_COMPARE_WITH_TIMEOUT(frame.loginStateText(), u"ログインしていません"_s, 10000);
        QCOMPARE(frame.findChild<QWidget *>(u"frmBrowser"_s), nullptr);
        frmLogin *dialog = frame.login();
        QVERIFY(dialog && dialog->isVisible());

        dialog->findChild<QLineEdit *>(u"txtUser_0"_s)->setText(kUser);
        dialog->findChild<QLineEdit *>(u"txtUser_1"_s)->setText(kPass);
        dialog->findChild<QPushButton *>(u"Command2"_s)->click();

        // The page is filled and sent; the greeting closes the dialog, which saves the ID.
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 20000);
        QCOMPARE(qobject_cast<frmBrowser *>(frame.browser())->loginStep(),
                 int(frmBrowser::LoggedIn));
        QVERIFY(frame.browser()->caption().contains(kUser));
        QCOMPARE(t.settings.get(u"Settings"_s, u"yuser"_s, QString()), kUser);
        const QList<sim::RequestRecord> posts = t.site.requestsTo(u"/config/login"_s);
        QVERIFY(!posts.isEmpty());
        QCOMPARE(posts.last().host, t.hosts.loginHost);
        QCOMPARE(posts.last().method, u"POST"_s);
        QVERIFY(posts.last().query.contains(u"passwd=****"_s));
        QVERIFY(posts.last().query.contains(u"persistent=y"_s)); // the box was ticked

        // The login is the fetchers' login too...
        QTRY_VERIFY(!t.cookies.cookies().isEmpty());
        QVERIFY(t.watchList(t.cookies).contains(kUser + u"さんのウォッチリスト"_s));
        // ...and it survives a restart: a new jar reads it from the data folder.
        PersistentCookieJar restarted(t.home.path(u"cookies.txt"_s));
        QVERIFY(t.watchList(restarted).contains(kUser + u"さんのウォッチリスト"_s));
        frame.close();
    }

    void wrongPasswordIsToldAndNotTriedAgain()
    {
        Site t;
        t.values.ownId = kUser;
        t.values.password = u"wrong-password"_s;
        frmBrowser browser(t.ctx);
        QSignalSpy loggedIn(&browser, &frmBrowser::loggedIn);
        QSignalSpy failed(&browser, &frmBrowser::loginFailed);
        browser.show();
        browser.Login();
        // The site answers with its login page again, saying nothing: told at once, and the
        // password is not typed a second time.
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.first().first().toString(),
                 u"ログインページに戻りました（IDかパスワードが違うようです）"_s);
        const auto posted = [&t] {
            const QList<sim::RequestRecord> logins = t.site.requestsTo(u"/config/login"_s);
            return std::count_if(logins.begin(), logins.end(),
                                 [](const sim::RequestRecord &r) { return r.method == "POST"_L1; });
        };
        const auto sent = posted();
        QTest::qWait(2500);
        QCOMPARE(posted(), sent);
        QCOMPARE(loggedIn.count(), 0);
        QVERIFY(!browser.timer()->isActive());
        QVERIFY(t.cookies.cookies().isEmpty());
    }

    void todaysLoginInTwoSteps_data()
    {
        QTest::addColumn<TodaysLoginInTwoStepsRow>("row");
        using R = TodaysLoginInTwoStepsRow;
        QTest::newRow("ID, 次へ, password, ログイン")
            << R{u"snipe_taro"_s, kPass, QString(), QString(), true};
        QTest::newRow("no password: a code sent by SMS")
            << R{u"sms_hanako"_s, QString(), u"code"_s, u"246810"_s, true};
        QTest::newRow("a password not stored: the member types it")
            << R{u"snipe_taro"_s, QString(), u"password"_s, QString(), false};
        QTest::newRow("a wrong password: said at once")
            << R{u"snipe_taro"_s, u"wrong-pass"_s, QString(), QString(), false};
    }

    void todaysLoginInTwoSteps()
    {
        QFETCH(TodaysLoginInTwoStepsRow, row);
        const auto &[member, password, asks, answer, in] = row;
        Site t;
        sim::Scenario today = scenario();
        today.today = true;
        today.bidders << sim::Bidder{u"sms_hanako"_s, QString(), {}, u"246810"_s};
        t.site.setScenario(today);
        struct Back
        {
            ~Back() { g_site->setScenario(scenario()); }
        } back;
        t.values.ownId = member;
        t.values.password = password;
        const qsizetype before = t.site.requests().size();
        new BrowserCookies(t.cookies, QWebEngineProfile::defaultProfile()->cookieStore(),
                           &t.cookies);
        frmBrowser browser(t.ctx);
        QSignalSpy loggedIn(&browser, &frmBrowser::loggedIn);
        QSignalSpy question(&browser, &frmBrowser::loginQuestion);
        QSignalSpy failed(&browser, &frmBrowser::loginFailed);
        browser.show();
        browser.Login();
        if (!asks.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(question.count(), 1, 15000);
            QCOMPARE(question.first().at(0).toString(), asks);
            if (!answer.isEmpty())
                browser.answerLoginQuestion(answer);
        }
        if (in) {
            QTRY_COMPARE_WITH_TIMEOUT(loggedIn.count(), 1, 15000);
            // Told by the page's data, and the session is the fetchers' too.
            QTRY_VERIFY(!t.cookies.cookies().isEmpty());
            QVERIFY(t.watchList(t.cookies, true).contains(u"ウォッチリスト - ヤフオク!"_s));
        } else if (asks.isEmpty()) {
            // The site's own words, within seconds rather than at a time-out.
            QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 10000);
            QVERIFY(failed.first().at(0).toString().contains(u"パスワード"_s));
            QVERIFY(!browser.timer()->isActive());
        } else {
            QTest::qWait(1500);
            QCOMPARE(loggedIn.count(), 0);
        }
        // The ID went in step one; a password only where one was stored.
        QList<sim::RequestRecord> posts = t.site.requests().mid(before);
        posts.removeIf([](const sim::RequestRecord &r) { return r.path != "/config/login"_L1; });
        QVERIFY(std::any_of(posts.begin(), posts.end(), [](const sim::RequestRecord &r) {
            return r.method == "POST"_L1 && r.query.contains(u"step=id"_s);
        }));
        const bool passwordSent =
            std::any_of(posts.begin(), posts.end(), [](const sim::RequestRecord &r) {
                return r.query.contains(u"step=password"_s);
            });
        QCOMPARE(passwordSent, !password.isEmpty());
    }

    void loginSaysWhenTheSiteCannotBeReached()
    {
        Site t;
        // The login host drops every connection: no answer comes at all.
        t.site.addFault({.host = t.hosts.loginHost, .kind = sim::Fault::Drop});
        MDIForm1 frame(t.ctx);
        frame.show();
        frame.showLogin(false);
        frmLogin *dialog = frame.login();
        QVERIFY(dialog && dialog->isVisible());
        dialog->findChild<QLineEdit *>(u"txtUser_0"_s)->setText(kUser);
        dialog->findChild<QLineEdit *>(u"txtUser_1"_s)->setText(kPass);
        auto *state = dialog->findChild<QLabel *>(u"lblSiteState"_s);
        dialog->findChild<QPushButton *>(u"Command2"_s)->click();
        QCOMPARE(state->text(), u"ヤフオク!の応答を待っています…"_s);
        QVERIFY(state->isVisible());

        // Said in the dialog and in the status bar, in the program's words, and in the log.
        QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(u"ヤフオク!に接続できません。"_s), 15000);
        auto *bar = frame.findChild<QLabel *>(u"lblSiteReach"_s);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->text(), u"ヤフオク!に接続できません。接続を確認してください｡"_s);
        QVERIFY(dialog->isVisible());
        t.log.flush();
        QVERIFY(logLines(t.db)
                    .join(QLatin1Char('\n'))
                    .contains(u"ヤフオク!に接続できません："_s + t.hosts.loginHost));

        // The site is back: the next try logs in, and the warnings go.
        t.site.clearFaults();
        dialog->findChild<QPushButton *>(u"Command2"_s)->click();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 20000);
        QVERIFY(!bar->isVisible());
        QVERIFY(state->text().isEmpty());
        frame.close();
    }

    void captureStoresAnItemOnce()
    {
        Site t;
        frmBrowser browser(t.ctx);
        QSignalSpy captured(&browser, &frmBrowser::itemCaptured);
        browser.show();
        QVERIFY(loadedPage(browser, t.hosts.itemPage(u"2"_s, u"b2"_s)));
        QAction *set = browser.toolbar()->findChild<QAction *>(u"set"_s);
        set->trigger();
        QTRY_COMPARE(t.prompter.messages.size(), 1);
        QCOMPARE(t.prompter.messages.last(), u"取り込み完了"_s);
        QCOMPARE(captured.count(), 1);
        const std::optional<ItemRecord> stored = t.db.itemByItemid(u"b2"_s);
        QVERIFY(stored);
        QCOMPARE(stored->Itemname, u"ミニ四駆 セット2"_s);
        QCOMPARE(stored->cat, u"0"_s);

        // The user's own settings stay when the same page is captured again.
        t.db.saveUserColumns(stored->id, 3000, u"4"_s, 1, 0);
        set->trigger();
        QTRY_COMPARE(t.prompter.messages.size(), 2);
        QCOMPARE(t.prompter.messages.last(), u"すでに登録してあります"_s);
        QCOMPARE(captured.count(), 1);
        QCOMPARE(t.db.itemByItemid(u"b2"_s)->cat, u"4"_s);

        // A page that is not an item page stores nothing; nor does an address whose "page3@"
        // would be user info, the host 127.0.0.1 and a port, and nothing is asked for it.
        const QString notAnItem =
            u"このページは「Yahoo!オークション - 商品詳細」ではありませんので取り込めません。"_s;
        const QString mainPage = t.hosts.scheme + u"://"_s + t.hosts.mainHost + u"/"_s;
        for (const QString &address :
             {mainPage, u"http://evil.example/page3@2130706433:18999/a/x1.html"_s}) {
            QVERIFY(loadedPage(browser, address));
            const qsizetype before = t.site.requests().size();
            const qsizetype told = t.prompter.messages.size();
            set->trigger();
            QTRY_COMPARE(t.prompter.messages.size(), told + 1);
            QCOMPARE(t.prompter.messages.last(), notAnItem);
            QTest::qWait(200); // (the browser may still be fetching the page's icon)
            for (const sim::RequestRecord &r : t.site.requests().mid(before))
                QVERIFY2(!r.path.startsWith("/jp/"_L1), qPrintable(r.path));
        }
        QCOMPARE(t.db.listItems({}, QDateTime::currentDateTime())->size(), 1);
    }

    void categoryRegistration_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<qint64>("id"); // -1: nothing registered
        QTest::addColumn<QString>("name");
        const QString list = u"http://list1.auctions.yahoo.co.jp/jp/"_s;
        QTest::newRow("listing 12345-category.html")
            << list + u"12345-category.html"_s << qint64(12345) << u"ミニ四駆"_s;
        QTest::newRow("listing 123-category.html")
            << list + u"123-category.html"_s << qint64(-1) << QString();
        QTest::newRow("item page: the last link of its trail")
            << u"http://page1.auctions.yahoo.co.jp/jp/auction/b1"_s << qint64(12345)
            << u"ミニ四駆"_s;
        QTest::newRow("a page of another kind")
            << u"http://auctions.yahoo.co.jp/"_s << qint64(-1) << QString();
    }

    void categoryRegistration()
    {
        QFETCH(QString, page);
        QFETCH(qint64, id);
        QFETCH(QString, name);
        Site t;
        frmBrowser browser(t.ctx);
        QSignalSpy found(&browser, &frmBrowser::categoryFound);
        QSignalSpy searchShown(&browser, &frmBrowser::searchWindowRequested);
        browser.show();
        QVERIFY(loadedPage(browser, page));
        browser.toolbar()->findChild<QAction *>(u"serch"_s)->trigger();
        QCOMPARE(searchShown.count(), 1);
        if (id < 0) {
            QTest::qWait(300);
            QCOMPARE(found.count(), 0);
            return;
        }
        QTRY_COMPARE(found.count(), 1);
        QCOMPARE(found.first().at(0).toString(), name);
        QCOMPARE(found.first().at(1).toLongLong(), id);
    }

    void loginScriptKeepsValuesIntact()
    {
        // Quotes and backslashes in a password reach the page unchanged, as data.
        Site t;
        frmBrowser browser(t.ctx);
        browser.show();
        QVERIFY(loadedPage(browser, t.hosts.loginPage()));
        QVariant typed;
        bool done = false;
        browser.view()->page()->runJavaScript(
            frmBrowser::loginScript(kUser, kPass) +
                u";document.querySelector('input[type=password]').value"_s,
            [&](const QVariant &v) {
                typed = v;
                done = true;
            });
        QTRY_VERIFY(done);
        QCOMPARE(typed.toString(), kPass);
    }

    void loginIsTypedOnlyOnTheLoginHost()
    {
        Site t;
        t.values.ownId = kUser;
        t.values.password = kPass;
        t.hosts.loginHost = u"login.example.test"_s; // the login host is elsewhere
        frmBrowser browser(t.ctx);
        browser.show();
        const qsizetype before = t.site.requests().size();
        browser.Login();
        // A page titled "ログイン" on another host (the user host's page without a session).
        QVERIFY(loadedPage(browser, t.hosts.statusPage()));
        QTRY_VERIFY(browser.caption().contains(u"ログイン"_s));
        QTest::qWait(2500);
        QCOMPARE(browser.loginStep(), int(frmBrowser::PageRequested)); // nothing typed
        for (qsizetype i = before; i < t.site.requests().size(); ++i)
            QVERIFY(t.site.requests().at(i).method != "POST"_L1);
    }

    void addressHistoryGoesBackInsteadOfReloading()
    {
        Site t;
        frmBrowser browser(t.ctx);
        browser.show();
        const QString first = t.hosts.itemPage(u"1"_s, u"b1"_s);
        const QString second = t.hosts.itemPage(u"2"_s, u"b2"_s);
        QVERIFY(loadedPage(browser, first));
        QVERIFY(loadedPage(browser, second));
        QCOMPARE(browser.history(), (QStringList{first, second}));
        // Asked for the first page again, with text its title holds: the browser goes back in
        // its own history; nothing is added.
        browser.StartingAddress(first, u"セット1"_s);
        QTRY_VERIFY_WITH_TIMEOUT(browser.pageTitle().contains(u"セット1"_s), 5000);
        QCOMPARE(browser.history(), (QStringList{first, second}));
        QCOMPARE(browser.currentUrl(), first);
        // A title that never shows: after three seconds the history starts again from this page.
        browser.StartingAddress(second, u"別の商品"_s);
        QTRY_COMPARE_WITH_TIMEOUT(browser.history(), QStringList{second}, 8000);
    }
};

QTEST_MAIN(tst_Browser)
#include "tst_browser.moc"
