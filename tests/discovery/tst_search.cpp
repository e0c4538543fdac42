#include "frmserch.h"
#include "simsite.h"
#include "testapp.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QNetworkProxy>
#include <QTest>
#include <QToolBar>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

const sim::Category kToys{2084, u"おもちゃ"_s};
const sim::Category kCars{25464, u"ミニ四駆"_s};

sim::Item simItem(int n, const sim::Category &leaf, const QString &title, qint32 price,
                  bool autoExtend)
{
    sim::Item it;
    it.id = u"s"_s + QString::number(n);
    it.server = 1 + n % 5;
    it.title = title;
    it.seller = u"seller"_s;
    it.startPrice = price;
    it.price = price;
    it.end = QDateTime::currentDateTime().addDays(2);
    it.autoExtend = autoExtend;
    it.trail = {kToys, leaf};
    return it;
}

struct Search : TestApp
{
    sim::SimSite site;
    std::unique_ptr<frmSerch> window;

    explicit Search(sim::Scenario s) : site(std::move(s))
    {
        if (site.listenOn() == 0)
            qFatal("cannot set up");
        // The search window keeps the default connection: the application proxy.
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, site.port()));
        settings.save(u"Settings"_s, u"FetchTimeout"_s, u"3"_s);
    }
    ~Search() { QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy); }

    frmSerch *open()
    {
        window = std::make_unique<frmSerch>(ctx);
        bool loaded = false;
        QObject::connect(window.get(), &frmSerch::categoriesLoaded, [&loaded] { loaded = true; });
        window->readcat();
        if (!QTest::qWaitFor([&loaded] { return loaded; }, 5000))
            qWarning("the category list was not read");
        return window.get();
    }
    // Presses "go" and waits for the run's closing message.
    QString go()
    {
        const qsizetype before = prompter.messages.size();
        window->toolbar()->findChild<QAction *>(u"go"_s)->trigger();
        const bool ended = QTest::qWaitFor(
            [&] { return !window->running() && prompter.messages.size() > before; }, 30000);
        return ended ? prompter.messages.last() : u"(no end)"_s;
    }
    int stored() { return int(db.listItems({}, QDateTime::currentDateTime())->size()); }
    int requestsTo(const QString &path) { return int(site.requestsTo(path).size()); }
};

sim::Scenario manyCars(int count)
{
    sim::Scenario s;
    for (int n = 1; n <= count; ++n)
        s.items << simItem(n, kCars, u"ミニ四駆 No."_s + QString::number(n), 500 + 10 * n,
                           n % 2 == 0);
    s.items << simItem(900, kToys, u"プラモデル"_s, 800, false);
    return s;
}

} // namespace

// The search window against the simulated site: the category list, keyword searches,
// category listings and their endings.
class tst_Search : public QObject
{
    Q_OBJECT
private slots:
    void keywordSearchImportsWhatPassesOverAllPages()
    {
        Search t(manyCars(120));
        frmSerch *w = t.open();
        w->keyword()->setText(u"ミニ四駆"_s);
        w->priceBox(0)->setText(u"600"_s);
        w->priceBox(1)->setText(u"1,800"_s);
        w->condition(0)->setChecked(true); // only items without automatic extension
        QCOMPARE(t.go(), u"検索終了"_s);

        // Prices 600..1700 are hits 10..120 (111 items); of those the odd ones do not extend.
        QCOMPARE(t.stored(), 55);
        QCOMPARE(w->importedLabel()->text(), u"55"_s);
        QCOMPARE(w->searchLog()->count(), 111);
        QCOMPARE(w->searchLog()->item(0)->text(), u"ミニ四駆 No.10"_s);
        // 111 hits: 3 pages; the page after the first is apg=1. Each page's examined counter
        // counts the attempt that finds no further row.
        QCOMPARE(w->pageLabel()->text(), u"3"_s);
        QCOMPARE(w->examinedLabel()->text(), u"114/111"_s);
        QStringList pages;
        for (const sim::RequestRecord &r : t.site.requestsTo(u"/search/auc"_s))
            pages << r.query.section(QLatin1Char('&'), -1);
        QCOMPARE(pages.size(), 3);
        QVERIFY(pages[1] == "apg=1"_L1 && pages[2] == "apg=2"_L1);
        // A second run updates the same items and counts them again.
        QCOMPARE(t.go(), u"検索終了"_s);
        QCOMPARE(t.stored(), 55);
        QCOMPARE(w->importedLabel()->text(), u"55"_s);
    }

    void todaysRowsAreStoredWithoutOpeningTheirPages_data()
    {
        QTest::addColumn<bool>("noExtension");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("pagesOpened");
        // Prices 600..1700: rows 10..120 pass, 111 of them; of those the odd ones do not extend,
        // which only their pages say.
        QTest::newRow("price range: rows only") << false << 111 << 0;
        QTest::newRow("no extension wanted: the pages of the rows in range") << true << 55 << 111;
    }

    void todaysRowsAreStoredWithoutOpeningTheirPages()
    {
        QFETCH(bool, noExtension);
        QFETCH(int, stored);
        QFETCH(int, pagesOpened);
        sim::Scenario s = manyCars(120);
        s.today = true;
        Search t(s);
        frmSerch *w = t.open();
        // Today's site lists no categories: only すべて, and the run says nothing about it.
        QCOMPARE(w->categoryNames()->count(), 1);
        w->keyword()->setText(u"ミニ四駆"_s);
        w->priceBox(0)->setText(u"600"_s);
        w->priceBox(1)->setText(u"1,800"_s);
        w->condition(0)->setChecked(noExtension);
        QCOMPARE(t.go(), u"検索終了"_s);
        QCOMPARE(t.stored(), stored);
        QCOMPARE(t.requestsTo(u"/jp/auction/"_s), pagesOpened);
        // 120 hits, 50 rows a page: three pages, the words in UTF-8.
        const QList<sim::RequestRecord> pages = t.site.requestsTo(u"/search/search"_s);
        QCOMPARE(pages.size(), 3);
        QVERIFY(pages[0].query.startsWith(u"p=%E3%83%9F%E3%83%8B"_s));
        QVERIFY(pages[2].query.contains(u"b=101"_s));
        QCOMPARE(w->examinedLabel()->text(), u"120/120"_s);
        const std::optional<ItemRecord> stored11 = t.db.itemByItemid(u"s11"_s);
        QVERIFY(stored11);
        const ItemRecord row = *stored11;
        QCOMPARE(row.ItemYenNow, 610);
        QCOMPARE(row.Serverid, QString());
        QVERIFY(row.enddate.isValid());
        QCOMPARE(row.SiteGen, noExtension ? int(TodayPage) : int(TodayListing));
    }

    void listingStopsAfterThe101stItem()
    {
        Search t(manyCars(130));
        frmSerch *w = t.open();
        w->keyword()->clear();
        w->categoryNames()->setCurrentIndex(w->categoryIds()->findText(u"25464"_s));
        w->priceBox(0)->setText(u"0"_s);
        w->priceBox(1)->setText(u"0"_s);
        QCOMPARE(t.go(), u"一度に１００個以上は取り込みません"_s);
        QCOMPARE(t.stored(), 101);
        const QList<sim::RequestRecord> pages = t.site.requestsTo(u"/jp/25464"_s);
        QCOMPARE(pages.size(), 3);
        QCOMPARE(pages[2].query, u"apg=3"_s);
    }

    void stopEndsEachKindWithItsOwnMessage_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("message");
        QTest::newRow("keyword search") << u"ミニ四駆"_s << u"検索終了"_s;
        QTest::newRow("category listing") << QString() << u"ＥＳＣキーが押されたので中断します"_s;
    }

    void stopEndsEachKindWithItsOwnMessage()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, message);
        Search t(manyCars(40));
        frmSerch *w = t.open();
        w->keyword()->setText(keyword);
        w->categoryNames()->setCurrentIndex(w->categoryIds()->findText(u"25464"_s));
        w->priceBox(0)->setText(u"0"_s);
        w->priceBox(1)->setText(u"0"_s);
        // The user presses "stop" once the third title shows.
        connect(w->searchLog()->model(), &QAbstractItemModel::rowsInserted, w, [w] {
            if (w->searchLog()->count() == 3)
                w->toolbar()->findChild<QAction *>(u"stop"_s)->trigger();
        });
        QCOMPARE(t.go(), message);
        QVERIFY(t.prompter.messages.contains(u"中断します。"_s));
        QCOMPARE(t.stored(), 3);
        QCOMPARE(w->searchLog()->count(), 3);
    }

    void badInputIsRefusedBeforeAnyRequest_data()
    {
        QTest::addColumn<QString>("low");
        QTest::addColumn<QString>("high");
        QTest::newRow("empty minimum") << QString() << u"1000"_s;
        QTest::newRow("letters in the maximum") << u"100"_s << u"千円"_s;
        QTest::newRow("negative") << u"-1"_s << u"1000"_s;
    }

    void badInputIsRefusedBeforeAnyRequest()
    {
        QFETCH(QString, low);
        QFETCH(QString, high);
        Search t(manyCars(3));
        frmSerch *w = t.open();
        const qsizetype before = t.site.requests().size();
        w->priceBox(0)->setText(low);
        w->priceBox(1)->setText(high);
        w->toolbar()->findChild<QAction *>(u"go"_s)->trigger();
        QCOMPARE(t.prompter.messages.last(), u"金額範囲には0以上の数字を入れてください。"_s);
        QTest::qWait(100);
        QCOMPARE(t.site.requests().size(), before);
    }

    void fetchFailuresEndTheRun()
    {
        Search t(manyCars(5));
        frmSerch *w = t.open();
        w->keyword()->setText(u"ミニ四駆"_s);
        w->priceBox(0)->setText(u"0"_s);
        w->priceBox(1)->setText(u"0"_s);
        t.site.addFault({.path = u"/jp/auction/s3"_s, .kind = sim::Fault::Drop});
        QCOMPARE(t.go(), u"ネットワークの接続が切れました。"_s);
        QCOMPARE(t.stored(), 2);            // what was stored before stays
        QCOMPARE(logLines(t.db).size(), 1); // the fetcher's own line

        // A page without a hit count ends at once and stores nothing.
        w->keyword()->clear();
        w->categoryNames()->setCurrentIndex(0); // すべて: no listing of its own on the site
        t.site.clearFaults();
        QCOMPARE(t.go(), u"ネットワークの接続が切れました。"_s); // the site says 404
        QCOMPARE(t.stored(), 2);
    }

    void categoryListIsReadOnceAndKept()
    {
        Search t(manyCars(2));
        frmSerch *w = t.open();
        // Read from the site this time: the names come bare, すべて first.
        QCOMPARE(w->categoryNames()->itemText(0), u"すべて"_s);
        QCOMPARE(w->categoryNames()->count(), 3);
        QCOMPARE(w->categoryNames()->itemText(2), u"ミニ四駆"_s);
        QCOMPARE(t.requestsTo(u"/jp/show/searchoptions"_s), 1);
        w->categoryNames()->setCurrentIndex(1);
        w->close();

        // Opened again: from the table, with their numbers, and the selection kept.
        frmSerch *again = t.open();
        QCOMPARE(again->categoryNames()->itemText(0), u"すべて(0)"_s);
        QCOMPARE(again->categoryNames()->itemText(2), u"ミニ四駆(25464)"_s);
        QCOMPARE(again->categoryNames()->currentIndex(), 1);
        QCOMPARE(t.requestsTo(u"/jp/show/searchoptions"_s), 1);

        // A category registered from the browser is added once and selected.
        again->addcat(u"鉄道模型"_s, 2084044);
        again->addcat(u"別名"_s, 2084044);
        QCOMPARE(again->categoryNames()->count(), 4);
        QCOMPARE(again->categoryNames()->currentText(), u"鉄道模型"_s);
        QCOMPARE(again->categoryIdSelected(), u"2084044"_s);

        // A stored selection past the end leaves nothing selected.
        t.settings.save(u"frmSerch"_s, u"catindex"_s, u"9"_s);
        again->close();
        t.settings.save(u"frmSerch"_s, u"catindex"_s, u"9"_s);
        QCOMPARE(t.open()->categoryNames()->currentIndex(), -1);
    }

    void unreachableCategoryListClosesTheWindow()
    {
        Search t(manyCars(2));
        t.site.addFault({.path = u"/jp/show/searchoptions"_s, .kind = sim::Fault::Drop});
        t.window = std::make_unique<frmSerch>(t.ctx);
        t.window->show();
        t.window->readcat();
        QTRY_VERIFY(t.window->isHidden());
        QCOMPARE(t.prompter.messages.last(),
                 u"カテゴリの読み込みに失敗しました。ネットワークの接続を確認してください。"_s);
        // すべて stays stored: the next opening does not ask the site again.
        t.site.clearFaults();
        QCOMPARE(t.open()->categoryNames()->itemText(0), u"すべて(0)"_s);
        QCOMPARE(t.open()->categoryNames()->count(), 1);
    }

    void fieldsArePersisted()
    {
        Search t(manyCars(1));
        frmSerch *w = t.open();
        QCOMPARE(w->keyword()->text(), u"（黄色　青色）　シャツ　－ジャンク"_s);
        QCOMPARE(w->priceBox(0)->text(), u"100"_s);
        w->keyword()->setText(u"タミヤ"_s);
        w->priceBox(1)->setText(u"5000"_s);
        w->condition(1)->setChecked(true);
        w->close();
        QCOMPARE(t.settings.get(u"serch"_s, u"CHK1"_s, QString()), u"1"_s);
        frmSerch *again = t.open();
        QCOMPARE(again->keyword()->text(), u"タミヤ"_s);
        QCOMPARE(again->priceBox(1)->text(), u"5000"_s);
        QVERIFY(again->condition(1)->isChecked());
        QVERIFY(!again->condition(0)->isChecked());
    }
};

QTEST_MAIN(tst_Search)
#include "tst_search.moc"
