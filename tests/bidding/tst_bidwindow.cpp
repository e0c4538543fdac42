#include "armedbids.h"
#include "bidfixture.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "categories.h"
#include "clock.h"
#include "cookiejar.h"
#include "database.h"
#include "dialog1.h"
#include "frmsw.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "simsite.h"
#include "siteclock.h"
#include "testapp.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct Fixture : BidFixture
{
    BidHost host{ctx};
    BidWindows windows{ctx, host, nullptr, nullptr};
    using BidFixture::BidFixture;
};

} // namespace

namespace {
template <typename T> T *child(QWidget *w, const char *name)
{
    return w->findChild<T *>(QString::fromLatin1(name));
}
} // namespace

class tst_BidWindow : public QObject
{
    Q_OBJECT
private slots:
    void showsTheItem()
    {
        sim::Item it = item(wholeSecond(7200 * 1000));
        it.quantity = 3;
        it.buyNow = 9000;
        Fixture f(scenarioWith(it));
        const int id = f.store(it, 5000, 2, 2);
        frmSw *w = f.windows.open(id);
        QCOMPARE(w->windowTitle(), u"テスト商品 x1"_s);
        QCOMPARE(f.windows.find(id), w);
        auto *num = child<QComboBox>(w, "cmbNum");
        QStringList quantities;
        for (int i = 0; i < num->count(); ++i)
            quantities << num->itemText(i);
        QCOMPARE(quantities, (QStringList{u"0"_s, u"1"_s, u"2"_s, u"3"_s}));
        QCOMPARE(num->currentText(), u"2"_s);
        QCOMPARE(child<QLabel>(w, "lblItemYen_0")->text(), u"3,000"_s);
        QCOMPARE(child<QLabel>(w, "lblItemYen_1")->text(), u"9,000"_s);
        QCOMPARE(child<QLabel>(w, "lblItemYen_5")->text(), u"rival"_s);
        QVERIFY(child<QRadioButton>(w, "Option1_2")->isChecked());
        QVERIFY(!child<QRadioButton>(w, "Option1_0")->isEnabled()); // 様子見 only while status 0
        QCOMPARE(child<QComboBox>(w, "cat")->itemText(0), u"未分類"_s);
        QCOMPARE(child<QComboBox>(w, "cat")->itemText(10), u"カテゴリの編集"_s);
        QVERIFY(w->armed());
        // The bid time in Japan time, said so: this suite runs in another zone.
        const QDateTime bidTime = it.end.addSecs(-5);
        QCOMPARE(child<QLabel>(w, "Label2")->text(),
                 bidTime.toTimeZone(QTimeZone(9 * 3600)).toString(u"yyyy/MM/dd HH:mm:ss"_s) +
                     u"（日本時間）"_s);
        // Two hours ahead: the countdown speaks in hours (or days across midnight).
        QTRY_VERIFY(child<QGroupBox>(w, "Frame3")->title().startsWith(u"入札（あと\u3000"_s));
        const QString caption = child<QGroupBox>(w, "Frame3")->title();
        QVERIFY2(caption.endsWith(u"\u3000時間）"_s) || caption.endsWith(u"\u3000日）"_s),
                 qPrintable(caption));
    }

    void windowsOpenEarliestFirstAndNotBeforeABid()
    {
        const QDateTime end = wholeSecond(3 * 3600 * 1000);
        Fixture f(scenarioWith(item(end)));
        QList<int> ids;
        for (int i = 0; i < 6; ++i) {
            sim::Item it = item(end.addSecs(-600 * i)); // the later stored, the earlier it ends
            it.id = u"x"_s + QString::number(10 + i);
            ids << f.store(it, 5000, 1);
        }
        // Another window's bid reaches the site in a second: nothing that is not urgent opens.
        int other = 0;
        f.host.bids().timing().plan(&other, sw::nowMs() + 1000);
        QSignalSpy opened(&f.windows, &BidWindows::windowOpened);
        for (int i = 0; i < ids.size(); ++i)
            f.windows.openSoon(ids[i], end.addSecs(-600 * i));
        QVERIFY(f.windows.openOrWaiting(ids.first()));
        QTest::qWait(600);
        QVERIFY(f.windows.windows().isEmpty());
        f.host.bids().timing().unplan(&other);
        // Then one by one, the earliest bid first.
        QTRY_COMPARE(f.windows.windows().size(), ids.size());
        QList<int> order;
        for (const QList<QVariant> &args : opened)
            order << args.first().toInt();
        QCOMPARE(order, QList<int>(ids.rbegin(), ids.rend()));
        // 整列 stacks them in the order they opened; one opened again goes on top.
        QList<int> listed;
        for (frmSw *w : f.windows.windows())
            listed << w->id();
        QCOMPARE(listed, order);
        delete f.windows.find(order.at(1));
        f.windows.open(order.at(1));
        QCOMPARE(f.windows.windows().last()->id(), order.at(1));
        // A bid due within seconds opens even while another is about to go out.
        f.host.bids().timing().plan(&other, sw::nowMs() + 1000);
        sim::Item urgent = item(wholeSecond(12000));
        urgent.id = u"x99"_s;
        const int id = f.store(urgent, 5000, 1);
        f.windows.openSoon(id, urgent.end.addSecs(-5));
        QTRY_VERIFY(f.windows.find(id));
        f.host.bids().timing().unplan(&other);
    }

    void typedMaximumIsBidOnlyOnceSaved()
    {
        const QDateTime end = wholeSecond(8000);
        Fixture f(scenarioWith(item(end)));
        frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
        // Half typed in the last seconds and never saved: the saved maximum is bid.
        child<QLineEdit>(w, "txtYen_0")->setText(u"80"_s);
        QVERIFY(child<QLineEdit>(w, "txtYen_1")->isReadOnly());
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 10000);
        QCOMPARE(f.amountsSent(), QStringList{u"5000"_s});
        // What the user typed stays in the box while the window shows the bid's outcome.
        QTRY_COMPARE(child<QLabel>(w, "lblItemYen_5")->text(), u"snipe_taro"_s);
        QCOMPARE(child<QLineEdit>(w, "txtYen_0")->text(), u"80"_s);
    }

    void closingTheWindowKeepsTheBid()
    {
        const QDateTime end = wholeSecond(9000);
        Fixture f(scenarioWith(item(end)));
        const int id = f.store(item(end), 5000, 1);
        frmSw *w = f.windows.open(id);
        QTRY_VERIFY_WITH_TIMEOUT(w->busy() == frmSw::Bidding, 10000);
        delete w; // the user closes it while the bid waits for its moment
        QVERIFY(!f.windows.find(id));
        QVERIFY(f.windows.armedBids().find(id));
        QTRY_VERIFY_WITH_TIMEOUT(!f.confirmations().isEmpty(), 8000);
        QVERIFY(!f.logText().contains(u"入札中止"_s));
        // Opened again, the window shows the same bid.
        QTRY_COMPARE(f.windows.armedBids().find(id)->item().SaikougakuShaid, u"snipe_taro"_s);
        frmSw *again = f.windows.open(id);
        QCOMPARE(again->bid(), f.windows.armedBids().find(id));
        QCOMPARE(child<QLabel>(again, "lblItemYen_5")->text(), u"snipe_taro"_s);
    }

    void saveStoresTheLimits_data()
    {
        QTest::addColumn<QString>("max");
        QTest::addColumn<int>("quantityIndex");
        QTest::addColumn<int>("cat");
        QTest::addColumn<bool>("saved");
        QTest::newRow("limits saved") << "8000" << 1 << 4 << true;
        QTest::newRow("digit groups") << "12,000" << 0 << 0 << true;
        QTest::newRow("not a number") << "たくさん" << 1 << 2 << false;
    }

    void saveStoresTheLimits()
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

    void bidNowAsksFirst()
    {
        const QDateTime end = wholeSecond(7200 * 1000);
        Fixture f(scenarioWith(item(end)));
        frmSw *w = f.windows.open(f.store(item(end), 5000, 1));
        f.prompter.questionAnswers.enqueue(false);
        w->Command2_Click();
        QCOMPARE(f.prompter.questions, QStringList{u"今すぐに入札します"_s});
        QTRY_COMPARE(w->busy(), int(frmSw::Idle));
        QVERIFY(f.site.requestsTo(u"/jp/show/bid_preview"_s).isEmpty());
        f.prompter.questionAnswers.enqueue(true);
        w->Command2_Click();
        QTRY_VERIFY_WITH_TIMEOUT(f.logLines().contains(u"入札結果：x1：5000：成功 "_s), 5000);
    }

    void badProxyIsLoggedNotAsked()
    {
        const QDateTime end = wholeSecond(7200 * 1000);
        Fixture f(scenarioWith(item(end)));
        f.settings.save(u"Settings"_s, u"Proxy"_s, u"http=proxy:8080"_s);
        f.windows.open(f.store(item(end), 5000, 1));
        QVERIFY(f.prompter.messages.isEmpty()); // no box the scheduler's tick would wait on
        QVERIFY(f.logLines().contains(invalidProxyMessage()));
    }

    void keyboardAndScreenReaders()
    {
        const QDateTime end = wholeSecond(120 * 1000); // in its last hour: a countdown in seconds
        Fixture f(scenarioWith(item(end)));
        const int id = f.store(item(end), 5000, 1);
        frmSw *w = f.windows.open(id);
        auto *max = child<QLineEdit>(w, "txtYen_0");
        auto *quantity = child<QComboBox>(w, "cmbNum");
        QTRY_VERIFY(child<QGroupBox>(w, "Frame3")->title().contains(u"秒"_s));
        // Named after their labels, not after the caption that counts down.
        QCOMPARE(max->accessibleName(), u"上限価格"_s);
        QCOMPARE(child<QLineEdit>(w, "txtYen_1")->accessibleName(), u"次回価格"_s);
        QCOMPARE(quantity->accessibleName(), u"入札数量"_s);
        QCOMPARE(child<QGroupBox>(w, "Frame3")->accessibleName(), u"入札"_s);
        // Opened by the user, the keyboard is in 上限価格 and what is typed replaces the stored
        // maximum. 上限価格, 入札数量, 保存: the first Tab stops; Enter saves.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(max));
        QCOMPARE(max->nextInFocusChain(), quantity);
        QTest::keyClicks(QApplication::focusWidget(), u"6500"_s);
        QTest::keyClick(max, Qt::Key_Return);
        QCOMPARE(f.db.itemById(id)->ItemYen, 6500);
        // Escape closes the window; the bid goes on without it.
        QPointer<frmSw> gone(w);
        QTest::keyClick(max, Qt::Key_Escape);
        QTRY_VERIFY(!gone);
        QVERIFY(f.host.bids().find(id));
    }
};

QTEST_MAIN(tst_BidWindow)
#include "tst_bidwindow.moc"
