#include "activitylog.h"
#include "appvalues.h"
#include "bidexchange.h"
#include "bidwindows.h"
#include "categories.h"
#include "clock.h"
#include "cookiejar.h"
#include "credentials.h"
#include "database.h"
#include "dialog1.h"
#include "frmsw.h"
#include "itemparser.h"
#include "proxyconfig.h"
#include "scriptedprompter.h"
#include "settingsstore.h"
#include "simsite.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "tempdir.h"
#include "testapp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

using namespace sw;

namespace {

struct Fixture : TestApp
{
    sim::SimSite site;
    BidWindows windows{ctx, nullptr, nullptr};

    explicit Fixture(sim::Scenario s) : site(std::move(s))
    {
        if (site.listenOn() == 0)
            qFatal("cannot set up");
        settings.save(QStringLiteral("Settings"), QStringLiteral("Proxy"),
                      QStringLiteral("HTTP=127.0.0.1:") + QString::number(site.port()));
        values.ownId = QStringLiteral("snipe_taro");
        values.password = QStringLiteral("taro1234");
        values.encodedPassword = encodePassword(values.password);
        values.befSec = 5;
    }
    // Stores the simulated item as the program would have read it.
    int store(const sim::Item &it, qint32 max, int quantity, int status = 0)
    {
        ItemRecord r;
        r.itemid = it.id;
        r.Itemname = it.title;
        r.Serverid = QString::number(it.server);
        r.ItemYenNow = it.price;
        r.SaikougakuShaid = it.highBidder.isEmpty() ? QStringLiteral("-") : it.highBidder;
        r.enddate = it.end;
        r.NumUri = it.quantity;
        r.NumNyuusatu = it.bids;
        r.ItemYenStart = it.startPrice;
        r.ItemYenUnit = it.unit();
        r.ItemYenKibou = it.buyNow;
        r.Flagjidouencho = it.autoExtend;
        db.upsertItem(r);
        const int id = db.itemByItemid(it.id)->id;
        db.saveUserColumns(id, max, QStringLiteral("0"), quantity, status);
        return id;
    }
    QStringList logLines()
    {
        log.flush();
        return ::logLines(db);
    }
};

QDateTime wholeSecond(qint64 fromNowMs)
{
    const QDateTime t = QDateTime::currentDateTime().addMSecs(fromNowMs);
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute(), t.time().second()));
}

sim::Scenario scenarioWith(const sim::Item &it)
{
    sim::Scenario s;
    s.showSeconds = true; // these auctions end at any second
    s.bidders << sim::Bidder{QStringLiteral("snipe_taro"), QStringLiteral("taro1234"), {}}
              << sim::Bidder{QStringLiteral("rival"), QStringLiteral("r"), {}};
    s.items << it;
    return s;
}

sim::Item item(const QDateTime &end)
{
    sim::Item it;
    it.id = QStringLiteral("x1");
    it.server = 3;
    it.title = QStringLiteral("テスト商品");
    it.startPrice = 1000;
    it.price = 3000;
    it.bids = 2;
    it.highBidder = QStringLiteral("rival");
    it.maxBids.insert(it.highBidder, 3000);
    it.end = end;
    it.autoExtend = false;
    return it;
}

} // namespace

class tst_BidWindow : public QObject
{
    Q_OBJECT
private slots:
    void armsAndBidsAtTheBidTime();
    void showsTheItem();
    void refreshRecords_data();
    void refreshRecords();
    void busyWindowRefusesRefresh();
    void slowSiteStillBidsOnTime_data();
    void slowSiteStillBidsOnTime();
    void windowsOpenEarliestFirstAndNotBeforeABid();
    void noSecondBidWhileLeading();
    void closingDuringTheBidAbandonsIt();
    void saveStoresTheLimits_data();
    void saveStoresTheLimits();
    void bidNowAsksFirst();
    void badProxyIsLoggedNotAsked();
    void screenshot();
};

void tst_BidWindow::armsAndBidsAtTheBidTime()
{
    const QDateTime end = wholeSecond(9000);
    Fixture f(scenarioWith(item(end)));
    const int id = f.store(item(end), 5000, 1);
    frmSw *w = f.windows.open(id);
    QVERIFY(w->armed());
    QTRY_VERIFY_WITH_TIMEOUT(!f.site.requestsTo(QStringLiteral("/jp/config/placebid")).isEmpty(),
                             12000);
    qInfo() << f.logLines();
}

namespace {
template <typename T> T *child(QWidget *w, const char *name)
{
    return w->findChild<T *>(QString::fromLatin1(name));
}
} // namespace

void tst_BidWindow::showsTheItem()
{
    sim::Item it = item(wholeSecond(7200 * 1000));
    it.quantity = 3;
    it.buyNow = 9000;
    Fixture f(scenarioWith(it));
    const int id = f.store(it, 5000, 2, 2);
    frmSw *w = f.windows.open(id);
    QCOMPARE(w->windowTitle(), QStringLiteral("テスト商品"));
    QCOMPARE(f.windows.find(id), w);
    auto *num = child<QComboBox>(w, "cmbNum");
    QStringList quantities;
    for (int i = 0; i < num->count(); ++i)
        quantities << num->itemText(i);
    QCOMPARE(quantities, (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                      QStringLiteral("3")}));
    QCOMPARE(num->currentText(), QStringLiteral("2"));
    QCOMPARE(child<QLabel>(w, "lblItemYen_0")->text(), QStringLiteral("3,000"));
    QCOMPARE(child<QLabel>(w, "lblItemYen_1")->text(), QStringLiteral("9,000"));
    QCOMPARE(child<QLabel>(w, "lblItemYen_5")->text(), QStringLiteral("rival"));
    QVERIFY(child<QRadioButton>(w, "Option1_2")->isChecked());
    QVERIFY(!child<QRadioButton>(w, "Option1_0")->isEnabled()); // 様子見 only while status 0
    QCOMPARE(child<QComboBox>(w, "cat")->itemText(0), QStringLiteral("未分類"));
    QCOMPARE(child<QComboBox>(w, "cat")->itemText(10), QStringLiteral("カテゴリの編集"));
    QVERIFY(w->armed());
    // The bid time in Japan time, said so: this suite runs in another zone.
    const QDateTime bidTime = it.end.addSecs(-5);
    QCOMPARE(
        child<QLabel>(w, "Label2")->text(),
        bidTime.toTimeZone(QTimeZone(9 * 3600)).toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")) +
            QStringLiteral("（日本時間）"));
    // Two hours ahead: the countdown speaks in hours (or days across midnight).
    QTRY_VERIFY(
        child<QGroupBox>(w, "Frame3")->title().startsWith(QStringLiteral("入札（あと\u3000")));
    const QString caption = child<QGroupBox>(w, "Frame3")->title();
    QVERIFY2(caption.endsWith(QStringLiteral("\u3000時間）")) ||
                 caption.endsWith(QStringLiteral("\u3000日）")),
             qPrintable(caption));
}

void tst_BidWindow::refreshRecords_data()
{
    QTest::addColumn<int>("storedStatus");
    QTest::addColumn<int>("price");
    QTest::addColumn<QString>("bidder");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("wonLine");
    QTest::newRow("same page: nothing written")
        << 0 << 3000 << "rival" << false << false << 0 << false;
    QTest::newRow("price moved: recorded") << 0 << 3500 << "rival" << false << true << 0 << false;
    QTest::newRow("won: status 落札") << 0 << 3500 << "snipe_taro" << true << true << 1 << true;
    QTest::newRow("won, status 連絡 kept")
        << 2 << 3500 << "snipe_taro" << true << true << 2 << false;
    QTest::newRow("lost: back to 様子見") << 3 << 3500 << "rival" << true << true << 0 << false;
}

void tst_BidWindow::refreshRecords()
{
    QFETCH(int, storedStatus);
    QFETCH(int, price);
    QFETCH(QString, bidder);
    QFETCH(bool, ended);
    QFETCH(bool, written);
    QFETCH(int, status);
    QFETCH(bool, wonLine);
    const QDateTime end = wholeSecond(3600 * 1000);
    Fixture f(scenarioWith(item(end)));
    const int id = f.store(item(end), 5000, 1, storedStatus);
    frmSw *w = f.windows.open(id);
    QSignalSpy changed(w, &frmSw::itemsChanged);
    sim::Item &onSite = *f.site.scenario().item(QStringLiteral("x1"));
    onSite.price = price;
    onSite.highBidder = bidder;
    if (ended)
        onSite.end = QDateTime::currentDateTime().addSecs(-5);
    w->RefreshItem(false);
    QTRY_COMPARE(w->busy(), int(frmSw::Idle));
    const ItemRecord r = *f.db.itemById(id);
    QCOMPARE(changed.size(), written ? 1 : 0);
    QCOMPARE(r.ItemYenNow, written ? price : 3000);
    QCOMPARE(r.status, written ? status : storedStatus);
    QCOMPARE(r.fin, written && ended);
    QCOMPARE(w->finished(), written && ended);
    const QString line = QStringLiteral("入札結果：x1：3500：あなたが落札しました。");
    QVERIFY2(f.logLines().contains(line) == wonLine,
             qPrintable(f.logLines().join(QLatin1Char('\n'))));
    if (wonLine)
        QCOMPARE(f.windows.dialog()->text(),
                 QStringLiteral("入札結果：x1\n3500円で落札しました。"));
}

void tst_BidWindow::busyWindowRefusesRefresh()
{
    const QDateTime end = wholeSecond(3600 * 1000);
    Fixture f(scenarioWith(item(end)));
    sim::Fault slow;
    slow.kind = sim::Fault::Latency;
    slow.ms = 800;
    f.site.addFault(slow);
    frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
    w->RefreshItem(false);
    QCOMPARE(w->busy(), int(frmSw::Refreshing));
    QVERIFY(!child<QPushButton>(w, "Command2")->isEnabled());
    w->RefreshItem(true); // from the timer: skipped without a box
    QVERIFY(f.prompter.messages.isEmpty());
    w->RefreshItem(false); // from the user: told so
    QCOMPARE(f.prompter.messages, QStringList{QStringLiteral("処理中です")});
    QTRY_COMPARE(w->busy(), int(frmSw::Idle));
    QVERIFY(child<QPushButton>(w, "Command3")->isEnabled());
}

void tst_BidWindow::slowSiteStillBidsOnTime_data()
{
    QTest::addColumn<int>("oneWayMs");         // every request, both ways
    QTest::addColumn<int>("itemPageMs");       // item pages answer this much later still
    QTest::addColumn<bool>("refreshOnItsWay"); // the user asks for the price just before
    QTest::newRow("a second each way") << 1000 << 0 << false;
    QTest::newRow("slow item page on its way at the bid") << 0 << 4000 << true;
}

void tst_BidWindow::slowSiteStillBidsOnTime()
{
    QFETCH(int, oneWayMs);
    QFETCH(int, itemPageMs);
    QFETCH(bool, refreshOnItsWay);
    siteClock().reset();
    const QDateTime end = wholeSecond(oneWayMs > 0 ? 26000 : 13000);
    sim::Scenario s = scenarioWith(item(end));
    if (oneWayMs > 0) {
        sim::Fault f;
        f.inMs = f.ms = oneWayMs;
        s.faults << f;
    }
    if (itemPageMs > 0) {
        sim::Fault f;
        f.path = QStringLiteral("/jp/auction/*");
        f.ms = itemPageMs;
        s.faults.prepend(f);
    }
    Fixture f(s);
    frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
    const QDateTime bidTime = end.addSecs(-5);
    if (refreshOnItsWay) {
        // 現在の価格をゲット a moment before the bid starts: the page takes 4 s to come.
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime().msecsTo(bidTime) < 3500, 15000);
        w->RefreshItem(false);
        QCOMPARE(w->busy(), int(frmSw::Refreshing));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!f.site.requestsTo(QStringLiteral("/jp/config/placebid")).isEmpty(),
                             30000);
    const qint64 late = f.site.requestsTo(QStringLiteral("/jp/config/placebid")).first().atMs -
                        bidTime.toMSecsSinceEpoch();
    QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late) + QLatin1Char('\n') +
                                                     f.logLines().join(QLatin1Char('\n'))));
    QCOMPARE(f.site.requestsTo(QStringLiteral("/jp/show/bid_preview")).size(), 1);
}

void tst_BidWindow::windowsOpenEarliestFirstAndNotBeforeABid()
{
    const QDateTime end = wholeSecond(3 * 3600 * 1000);
    Fixture f(scenarioWith(item(end)));
    QList<int> ids;
    for (int i = 0; i < 6; ++i) {
        sim::Item it = item(end.addSecs(-600 * i)); // the later stored, the earlier it ends
        it.id = QStringLiteral("x") + QString::number(10 + i);
        ids << f.store(it, 5000, 1);
    }
    // Another window's bid reaches the site in a second: nothing that is not urgent opens.
    int other = 0;
    planBid(&other, sw::nowMs() + 1000);
    QSignalSpy opened(&f.windows, &BidWindows::windowOpened);
    for (int i = 0; i < ids.size(); ++i)
        f.windows.openSoon(ids[i], end.addSecs(-600 * i));
    QVERIFY(f.windows.openOrWaiting(ids.first()));
    QTest::qWait(600);
    QVERIFY(f.windows.windows().isEmpty());
    unplanBid(&other);
    // Then one by one, the earliest bid first.
    QTRY_COMPARE(f.windows.windows().size(), ids.size());
    QList<int> order;
    for (const QList<QVariant> &args : opened)
        order << args.first().toInt();
    QCOMPARE(order, QList<int>(ids.rbegin(), ids.rend()));
    // A bid due within seconds opens even while another is about to go out.
    planBid(&other, sw::nowMs() + 1000);
    sim::Item urgent = item(wholeSecond(12000));
    urgent.id = QStringLiteral("x99");
    const int id = f.store(urgent, 5000, 1);
    f.windows.openSoon(id, urgent.end.addSecs(-5));
    QTRY_VERIFY(f.windows.find(id));
    unplanBid(&other);
}

void tst_BidWindow::noSecondBidWhileLeading()
{
    const QDateTime end = wholeSecond(12000);
    Fixture f(scenarioWith(item(end)));
    frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
    QTRY_VERIFY_WITH_TIMEOUT(f.logLines().contains(QStringLiteral("入札結果：x1：5000：成功 ")),
                             12000);
    QTest::qWait(2500); // ticks after the bid time, still the highest bidder
    QCOMPARE(f.site.requestsTo(QStringLiteral("/jp/show/bid_preview")).size(), 1);
    QVERIFY(w->armed());
    // The user raises the maximum: the next tick bids again with it.
    child<QLineEdit>(w, "txtYen_0")->setText(QStringLiteral("8000"));
    QTRY_VERIFY2_WITH_TIMEOUT(f.logLines().contains(QStringLiteral("入札結果：x1：8000：成功 ")),
                              qPrintable(f.logLines().join(QLatin1Char('\n'))), 3000);
    QCOMPARE(
        f.site.scenario().item(QStringLiteral("x1"))->maxBids.value(QStringLiteral("snipe_taro")),
        8000);
}

void tst_BidWindow::closingDuringTheBidAbandonsIt()
{
    const QDateTime end = wholeSecond(10000);
    Fixture f(scenarioWith(item(end)));
    frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
    const int id = w->id();
    QTRY_VERIFY_WITH_TIMEOUT(w->busy() == frmSw::Bidding, 10000);
    delete w; // the user closes it while it waits for the bid time
    QVERIFY(!f.windows.find(id));
    QTRY_VERIFY_WITH_TIMEOUT(!f.logLines().isEmpty() &&
                                 f.logLines().last().startsWith(QStringLiteral("入札中止：x1")),
                             8000);
    QVERIFY(f.site.requestsTo(QStringLiteral("/jp/config/placebid")).isEmpty());
}

void tst_BidWindow::saveStoresTheLimits_data()
{
    QTest::addColumn<QString>("max");
    QTest::addColumn<int>("quantityIndex");
    QTest::addColumn<int>("cat");
    QTest::addColumn<bool>("saved");
    QTest::newRow("limits saved") << "8000" << 1 << 4 << true;
    QTest::newRow("digit groups") << "12,000" << 0 << 0 << true;
    QTest::newRow("not a number") << "たくさん" << 1 << 2 << false;
}

void tst_BidWindow::saveStoresTheLimits()
{
    QFETCH(QString, max);
    QFETCH(int, quantityIndex);
    QFETCH(int, cat);
    QFETCH(bool, saved);
    const QDateTime end = wholeSecond(7200 * 1000);
    Fixture f(scenarioWith(item(end)));
    const int id = f.store(item(end), 5000, 1);
    frmSw *w = f.windows.open(id);
    child<QLineEdit>(w, "txtYen_0")->setText(max);
    child<QComboBox>(w, "cmbNum")->setCurrentIndex(quantityIndex);
    child<QComboBox>(w, "cat")->setCurrentIndex(cat);
    child<QRadioButton>(w, "Option1_3")->setChecked(true);
    QCOMPARE(w->cmdUpdatesub(), saved);
    const ItemRecord r = *f.db.itemById(id);
    if (saved) {
        QCOMPARE(r.ItemYen, amountOf(max).value());
        QCOMPARE(r.Numkai, quantityIndex);
        QCOMPARE(r.cat, QString::number(cat));
        QCOMPARE(r.status, 3);
    } else {
        QCOMPARE(r.ItemYen, 5000);
        QCOMPARE(f.prompter.messages.last(), AutoBidText::maxNotANumber());
    }
}

void tst_BidWindow::bidNowAsksFirst()
{
    const QDateTime end = wholeSecond(7200 * 1000);
    Fixture f(scenarioWith(item(end)));
    frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
    f.prompter.questionAnswers.enqueue(false);
    w->Command2_Click();
    QCOMPARE(f.prompter.questions, QStringList{QStringLiteral("今すぐに入札します")});
    QTRY_COMPARE(w->busy(), int(frmSw::Idle));
    QVERIFY(f.site.requestsTo(QStringLiteral("/jp/show/bid_preview")).isEmpty());
    f.prompter.questionAnswers.enqueue(true);
    w->Command2_Click();
    QTRY_VERIFY_WITH_TIMEOUT(f.logLines().contains(QStringLiteral("入札結果：x1：5000：成功 ")),
                             5000);
}

void tst_BidWindow::badProxyIsLoggedNotAsked()
{
    const QDateTime end = wholeSecond(7200 * 1000);
    Fixture f(scenarioWith(item(end)));
    f.settings.save(QStringLiteral("Settings"), QStringLiteral("Proxy"),
                    QStringLiteral("http=proxy:8080"));
    f.windows.open(f.store(item(end), 5000, 1));
    QVERIFY(f.prompter.messages.isEmpty()); // no box the scheduler's tick would wait on
    QVERIFY(f.logLines().contains(invalidProxyMessage()));
}

void tst_BidWindow::screenshot()
{
    const QString dir = qEnvironmentVariable("SNIPEWELL_SCREENSHOTS");
    if (dir.isEmpty())
        QSKIP("set SNIPEWELL_SCREENSHOTS to a folder to write the screenshots");
    const QDateTime end = wholeSecond(1800 * 1000);
    Fixture f(scenarioWith(item(end)));
    frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
    QTest::qWait(1600);
    QDir().mkpath(dir);
    w->grab().save(dir + QStringLiteral("/bid-window.png"));
    w->setWinmode(1);
    QTest::qWait(100);
    w->grab().save(dir + QStringLiteral("/bid-window-compact.png"));
}

QTEST_MAIN(tst_BidWindow)
#include "tst_bidwindow.moc"
