#include "autobid.h"
#include "bidhistory.h"
#include "scheduler.h"
#include "siteclock.h"

#include <QTest>

using namespace sw;

// The bid window's and the scheduler's decisions, as plain functions of their inputs and
// the clock.
class tst_AutoBid : public QObject
{
    Q_OBJECT
private slots:
    void checkAutoBid_data();
    void checkAutoBid();
    void countdown_data();
    void countdown();
    void timerTicks_data();
    void timerTicks();
    void scheduler_data();
    void scheduler();
    void schedulerWithNothingToDo();
    void loginPageHoldsEverythingBack();
    void unreadableRowsAreReportedNotOpened();
    void historyDecides_data();
    void historyDecides();
};

void tst_AutoBid::checkAutoBid_data()
{
    QTest::addColumn<int>("quantity");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("next");
    QTest::addColumn<int>("buyNow");
    QTest::addColumn<int>("price");
    QTest::addColumn<int>("bids");
    QTest::addColumn<bool>("extension");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("highBidder");
    QTest::addColumn<bool>("armed");
    QTest::addColumn<QString>("nextAfter");
    QTest::addColumn<QString>("message");
    const QString armedText = AutoBidText::armed();
    const QString low = AutoBidText::tooLow();
    // unit 100 throughout
    QTest::newRow("quantity 0 never arms") << 0 << "5000"
                                           << "" << 0 << 3000 << 2 << false << false << "x" << false
                                           << "" << AutoBidText::zeroQuantity();
    QTest::newRow("maximum is the next price")
        << 1 << "5000"
        << "" << 0 << 3000 << 2 << false << false << "x" << true << "5000" << armedText;
    QTest::newRow("maximum below price + unit")
        << 1 << "3050"
        << "" << 0 << 3000 << 2 << false << false << "x" << false << "3050" << low;
    QTest::newRow("extension + manual: one unit above")
        << 1 << "5000"
        << "" << 0 << 3000 << 2 << true << true << "x" << true << "3100" << armedText;
    QTest::newRow("extension + manual, capped at the maximum")
        << 1 << "3080"
        << "" << 0 << 3000 << 2 << true << true << "x" << false << "3080" << low;
    QTest::newRow("extension without the switch bids the maximum")
        << 1 << "5000"
        << "" << 0 << 3000 << 2 << true << false << "x" << true << "5000" << armedText;
    QTest::newRow("no bids: the price itself is enough")
        << 1 << "1000"
        << "" << 0 << 1000 << 0 << false << false << "-" << true << "1000" << armedText;
    QTest::newRow("buy-it-now below the next price")
        << 1 << "500"
        << "9000" << 8000 << 3000 << 2 << false << false << "x" << true << "8,000" << armedText;
    QTest::newRow("maximum below the unit")
        << 1 << "50"
        << "" << 0 << 30 << 0 << false << false << "x" << false << "" << low;
    QTest::newRow("maximum not a number") << 1 << "abc"
                                          << "" << 0 << 3000 << 2 << false << false << "x" << false
                                          << "" << AutoBidText::maxNotANumber();
    QTest::newRow("maximum with digit groups")
        << 1 << "12,000"
        << "" << 0 << 3000 << 2 << false << false << "x" << true << "12,000" << armedText;
    QTest::newRow("already the highest bidder: still armed")
        << 1 << "5000"
        << "" << 0 << 3000 << 2 << false << false << "me" << true << "5000" << armedText;
}

void tst_AutoBid::checkAutoBid()
{
    QFETCH(int, quantity);
    QFETCH(QString, max);
    QFETCH(QString, next);
    QFETCH(int, buyNow);
    QFETCH(int, price);
    QFETCH(int, bids);
    QFETCH(bool, extension);
    QFETCH(bool, manual);
    QFETCH(QString, highBidder);
    QFETCH(bool, armed);
    QFETCH(QString, nextAfter);
    QFETCH(QString, message);
    BidSettings s;
    s.quantity = quantity;
    s.maxPriceText = max;
    s.nextPriceText = next;
    s.buyNow = buyNow;
    s.unit = 100;
    s.currentPrice = price;
    s.bidCount = bids;
    s.highBidder = highBidder;
    s.ownId = QStringLiteral("me");
    s.autoExtend = extension;
    s.manualSwitch = manual;
    const AutoBidDecision d = CheckAutoBid(s);
    QCOMPARE(d.armed, armed);
    QCOMPARE(d.message, message);
    if (!nextAfter.isEmpty())
        QCOMPARE(d.nextPriceText.value_or(next), nextAfter);
    QCOMPARE(d.beep, !armed || highBidder == QLatin1String("me"));
}

void tst_AutoBid::countdown_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<int>("befSec");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("left"); // -9999: not counting in seconds
    const QDate d(2026, 12, 6);
    QTest::newRow("ends on the hour: seconds before the hour")
        << QDateTime(d, QTime(20, 59, 0), sw::siteZone())
        << QDateTime(d, QTime(21, 0, 0), sw::siteZone()) << 5 << "入札（あと　55　秒）" << 55;
    QTest::newRow("ends on the hour: an hour ahead")
        << QDateTime(d, QTime(20, 0, 1), sw::siteZone())
        << QDateTime(d, QTime(21, 0, 0), sw::siteZone()) << 5 << "入札（あと　3594　秒）" << 3594;
    QTest::newRow("hours further away")
        << QDateTime(d, QTime(18, 59, 0), sw::siteZone())
        << QDateTime(d, QTime(21, 0, 0), sw::siteZone()) << 5 << "入札（あと　3　時間）" << -9999;
    QTest::newRow("days") << QDateTime(d, QTime(23, 0, 0), sw::siteZone())
                          << QDateTime(d.addDays(2), QTime(1, 0, 0), sw::siteZone()) << 5
                          << "入札（あと　2　日）" << -9999;
    QTest::newRow("across midnight, last hour")
        << QDateTime(d, QTime(23, 50, 0), sw::siteZone())
        << QDateTime(d.addDays(1), QTime(0, 10, 0), sw::siteZone()) << 30
        << "入札（あと　1170　秒）" << 1170;
    QTest::newRow("bid time passed") << QDateTime(d, QTime(21, 0, 0), sw::siteZone())
                                     << QDateTime(d, QTime(21, 0, 5), sw::siteZone()) << 10
                                     << "入札（入札時刻を過ぎました）" << -5;
    QTest::newRow("auction over, the count never negative")
        << QDateTime(d, QTime(21, 0, 7), sw::siteZone())
        << QDateTime(d, QTime(21, 0, 5), sw::siteZone()) << 10 << "入札（終了時刻を過ぎました）"
        << -12;
}

void tst_AutoBid::countdown()
{
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, end);
    QFETCH(int, befSec);
    QFETCH(QString, caption);
    QFETCH(int, left);
    const Countdown c = countdownCaption(now, end, befSec);
    QCOMPARE(c.caption, caption);
    QCOMPARE(c.left.has_value(), left != -9999);
    if (c.left)
        QCOMPARE(int(*c.left), left);
}

void tst_AutoBid::timerTicks_data()
{
    QTest::addColumn<int>("msToEnd");
    QTest::addColumn<int>("leadMs");
    QTest::addColumn<bool>("armed");
    QTest::addColumn<QString>("busy"); // "bid", "refresh" or ""
    QTest::addColumn<int>("sinceRefresh");
    QTest::addColumn<bool>("leading");
    QTest::addColumn<bool>("othersNear");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<bool>("bid");
    QTest::addColumn<bool>("refresh");
    // Befsec 10, refresh interval 60 s; ticks fall half-way between seconds.
    QTest::newRow("2.5 s before the bid time with a 2 s lead: not yet")
        << 12500 << 2000 << true << "" << 5 << false << false << false << false << false;
    QTest::newRow("1.5 s before: the bid starts")
        << 11500 << 2000 << true << "" << 5 << false << false << false << true << false;
    QTest::newRow("a slow site starts the bid earlier")
        << 18500 << 9000 << true << "" << 5 << false << false << false << true << false;
    QTest::newRow("bid time passed, auction running: still bids")
        << 9500 << 2000 << true << "" << 5 << false << false << false << true << false;
    QTest::newRow("not armed: no bid")
        << 11500 << 2000 << false << "" << 5 << false << false << false << false << false;
    QTest::newRow("a refresh on its way does not hold the bid back")
        << 11500 << 2000 << true << "refresh" << 100 << false << false << false << true << false;
    QTest::newRow("a bid under way: neither a second bid nor a refresh")
        << 11500 << 2000 << true << "bid" << 100 << false << false << false << false << false;
    QTest::newRow("leading with the same maximum: no second bid")
        << 5500 << 2000 << true << "" << 5 << true << false << false << false << false;
    QTest::newRow("last hour: refresh after the interval")
        << 1800000 << 2000 << true << "" << 61 << false << false << false << false << true;
    QTest::newRow("last hour: not before")
        << 1800000 << 2000 << true << "" << 60 << false << false << false << false << false;
    QTest::newRow("no refresh starts in the seconds before the bid")
        << 12500 << 2000 << true << "" << 100 << false << false << false << false << false;
    QTest::newRow("nor while another window's bid goes out")
        << 1800000 << 2000 << true << "" << 100 << false << true << false << false << false;
    QTest::newRow("leading, the bid time comes again: the page is read just before")
        << 15500 << 2000 << true << "" << 10 << true << false << false << false << true;
    QTest::newRow("leading, read a moment ago: not again")
        << 15500 << 2000 << true << "" << 3 << true << false << false << false << false;
    QTest::newRow("two hours away: no refresh")
        << 7200000 << 2000 << true << "" << 500 << false << false << false << false << false;
    QTest::newRow("just ended: read the result")
        << -3000 << 2000 << false << "" << 10 << false << false << false << false << true;
    QTest::newRow("finished: nothing")
        << -100000 << 2000 << true << "" << 500 << false << false << true << false << false;
}

void tst_AutoBid::timerTicks()
{
    QFETCH(int, msToEnd);
    QFETCH(int, leadMs);
    QFETCH(bool, armed);
    QFETCH(QString, busy);
    QFETCH(int, sinceRefresh);
    QFETCH(bool, leading);
    QFETCH(bool, othersNear);
    QFETCH(bool, finished);
    QFETCH(bool, bid);
    QFETCH(bool, refresh);
    TickInput in;
    in.now = QDateTime(QDate(2026, 12, 6), QTime(20, 59, 50), siteZone());
    in.end = in.now.addMSecs(msToEnd);
    in.befSec = 10;
    in.previewLeadMs = leadMs;
    in.armed = armed;
    in.bidding = busy == QLatin1String("bid");
    in.refreshing = busy == QLatin1String("refresh");
    in.lastRefresh = in.now.addSecs(-sinceRefresh);
    in.holdBid = leading;
    in.othersImminent = othersNear;
    in.finished = finished;
    const TickActions a = timerTick(in);
    QCOMPARE(a.startBid, bid);
    QCOMPARE(a.refresh, refresh);
    QCOMPARE(a.finishFrame, finished);
}

namespace {
ItemRecord row(int id, const QString &cat, const QDateTime &end)
{
    ItemRecord r;
    r.id = id;
    r.itemid = QStringLiteral("x") + QString::number(id);
    r.Serverid = QStringLiteral("3");
    r.cat = cat;
    r.enddate = end;
    r.Numkai = 1;
    return r;
}
} // namespace

void tst_AutoBid::scheduler_data()
{
    QTest::addColumn<bool>("catOn");
    QTest::addColumn<QString>("cat");
    QTest::addColumn<bool>("catWon");
    QTest::addColumn<int>("endsInSeconds");
    QTest::addColumn<bool>("windowOpen");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("status");
    const QString countdown = QStringLiteral("次回の入札予定時刻まであと、");
    QTest::newRow("no category rule")
        << false << "2" << true << 600 << false << true << countdown + QStringLiteral("9分 ");
    QTest::newRow("rule on, category not won")
        << true << "2" << false << 600 << false << true << countdown + QStringLiteral("9分 ");
    QTest::newRow("rule on, category won")
        << true << "2" << true << 600 << false << false
        << "x1:カテゴリの中の１つ以上を落札しているので入札しない";
    QTest::newRow("rule on, no category")
        << true << "0" << true << 600 << false << true << countdown + QStringLiteral("9分 ");
    QTest::newRow("window already open")
        << false << "0" << false << 600 << true << false << countdown + QStringLiteral("9分 ");
    QTest::newRow("10 h 1 min away with Befsec 60: not yet")
        << false << "0" << false << 36060 << false << false << countdown + QStringLiteral("600分 ");
    QTest::newRow("just under 600 minutes")
        << false << "0" << false << 36059 << false << true << countdown + QStringLiteral("599分 ");
}

void tst_AutoBid::scheduler()
{
    QFETCH(bool, catOn);
    QFETCH(QString, cat);
    QFETCH(bool, catWon);
    QFETCH(int, endsInSeconds);
    QFETCH(bool, windowOpen);
    QFETCH(bool, opens);
    QFETCH(QString, status);
    SchedulerInput in;
    in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), sw::siteZone());
    in.befSec = 60;
    in.catOn = catOn;
    in.title = QStringLiteral("Snipewell -  Ver1.8.1");
    in.candidates << row(1, cat, in.now.addSecs(endsInSeconds));
    QStringList asked;
    in.categoryWon = [&](const QString &c) -> std::optional<bool> {
        asked << c;
        return catWon;
    };
    in.windowOpen = [windowOpen](int) { return windowOpen; };
    const SchedulerOutput out = schedulerTick(in);
    QCOMPARE(out.open.size(), opens ? 1 : 0);
    QCOMPARE(out.logLines, opens ? QStringList{QStringLiteral("入札準備開始：x1")} : QStringList{});
    QCOMPARE(out.statusText.value_or(QString()), status);
    QCOMPARE(asked, catOn && cat != QLatin1String("0") ? QStringList{cat} : QStringList{});
}

void tst_AutoBid::schedulerWithNothingToDo()
{
    SchedulerInput in;
    in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), sw::siteZone());
    in.title = QStringLiteral("Snipewell -  Ver1.8.1");
    const SchedulerOutput out = schedulerTick(in);
    QCOMPARE(*out.statusText,
             QStringLiteral("入札画面以外の入札の予定はありません。Snipewell -  Ver1.8.1"));
    QCOMPARE(*out.caption, in.title);

    // Several items ending close together each get a window in the same tick, and the
    // earliest-ending one's countdown is what stays in the status bar.
    in.candidates << row(2, QStringLiteral("0"), in.now.addSecs(900))
                  << row(3, QStringLiteral("0"), in.now.addSecs(300));
    in.minimized = true;
    const SchedulerOutput two = schedulerTick(in);
    QCOMPARE(two.open.size(), 2);
    QCOMPARE(*two.caption, QStringLiteral("Snipewell - 4分"));
}

void tst_AutoBid::loginPageHoldsEverythingBack()
{
    SchedulerInput in;
    in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), sw::siteZone());
    in.candidates << row(1, QStringLiteral("0"), in.now.addSecs(60));
    in.loginPageShown = true;
    SchedulerOutput out = schedulerTick(in);
    QVERIFY(out.showLogin);
    QVERIFY(out.open.isEmpty());
    in.loginPageShown = false;
    in.browserLoading = true;
    out = schedulerTick(in);
    QVERIFY(out.open.isEmpty());
    QVERIFY(!out.showLogin);
}

void tst_AutoBid::unreadableRowsAreReportedNotOpened()
{
    SchedulerInput in;
    in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), siteZone());
    ItemRecord noEnd = row(1, QStringLiteral("0"), QDateTime());
    ItemRecord badServer = row(2, QStringLiteral("0"), in.now.addSecs(60));
    badServer.Serverid = QStringLiteral("3/../../x?");
    ItemRecord good = row(3, QStringLiteral("0"), in.now.addSecs(60));
    good.Serverid = QStringLiteral("3");
    in.candidates << noEnd << badServer << good;
    const SchedulerOutput out = schedulerTick(in);
    QCOMPARE(out.unreadable.size(), 2);
    QCOMPARE(out.open.size(), 1);
    QCOMPARE(out.open.first().id, 3);
}

void tst_AutoBid::historyDecides_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("answered"); // the amount the site is known to have; 0 none
    QTest::addColumn<int>("reading");  // then a page read: -1 none, 0 someone else leads, 1 we do
    QTest::addColumn<int>("max");      // the maximum saved when asked
    QTest::addColumn<QString>("whyNot");
    QTest::addColumn<QString>("told");
    const QString leads =
        QStringLiteral("最高額入札者です。上限価格を上げたときだけ入札し直します。");
    const QString sentAlready =
        QStringLiteral("この金額は入札済みです。上限価格を上げたときだけ入札し直します。");
    QTest::newRow("accepted: no bid again at the same maximum")
        << int(BidResult::Accepted) << 5000 << -1 << 5000 << leads << "最高額入札者です（5,000円）";
    QTest::newRow("accepted, maximum raised: bids again")
        << int(BidResult::Accepted) << 5000 << -1 << 6000 << ""
        << "最高額入札者です（5,000円）";
    QTest::newRow("accepted, then shown outbid: not the same amount again")
        << int(BidResult::Accepted) << 5000 << 0 << 5000 << sentAlready
        << "他の入札者に抜かれました（現在5,100円）";
    QTest::newRow("below the reserve: only a raised maximum")
        << int(BidResult::BelowReserve) << 5000 << -1 << 5000
        << "最低落札価格に届きませんでした。上限価格を上げたときだけ入札し直します。"
        << "入札しましたが、最低落札価格に届きませんでした";
    QTest::newRow("refused at the maximum is a bid that arrived")
        << int(BidResult::Refused) << 5000 << -1 << 5000
        << "上限価格でも他の入札より低い金額でした。上限価格を上げたときだけ入札し直します。"
        << "入札しましたが、上限価格でも他の入札より低い金額でした";
    QTest::newRow("never arrived: the amount may go again")
        << int(BidResult::NotArrived) << 0 << -1 << 5000 << ""
        << "入札が届きませんでした：応答なし";
    QTest::newRow("not known, then the page shows us leading")
        << int(BidResult::Unknown) << 0 << 1 << 5000 << leads
        << "入札の結果がわかりません。商品ページを読み直します";
    QTest::newRow("cancelled on its way: nothing counted")
        << int(BidResult::Cancelled) << 0 << -1 << 5000 << ""
        << "入札を中止しました：応答なし";
}

void tst_AutoBid::historyDecides()
{
    QFETCH(int, outcome);
    QFETCH(int, answered);
    QFETCH(int, reading);
    QFETCH(int, max);
    QFETCH(QString, whyNot);
    QFETCH(QString, told);
    BidHistory h;
    BidResult r;
    r.outcome = BidResult::Outcome(outcome);
    r.lastAmount = 5000;
    r.why = QStringLiteral("応答なし");
    if (answered > 0)
        r.answered << answered;
    QString last = h.onAnswer(r, 5000).lastResult;
    if (reading >= 0) {
        const BidHistory::Told t = h.onReading(reading == 1, false, 5100);
        if (!t.lastResult.isEmpty())
            last = t.lastResult;
        if (reading == 1 && !h.acceptedMax)
            h.acceptedMax = 5000; // as the item does when a page shows it leading
    }
    QCOMPARE(h.whyNot(max, max).value_or(QString()), whyNot);
    QCOMPARE(last, told);
}

QTEST_GUILESS_MAIN(tst_AutoBid)
#include "tst_autobid.moc"
