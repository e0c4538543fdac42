#include "autobid.h"
#include "bidhistory.h"
#include "scheduler.h"
#include "siteclock.h"

#include "rows.h"

#include <QTest>

using namespace sw;
using namespace Qt::StringLiterals;

namespace {
struct ArmCase
{
    const char *name;
    int quantity;
    QString max, next;
    int buyNow, price, bids;
    bool extension, manual;
    QString highBidder;
    bool armed;
    QString nextAfter; // empty: not looked at
    QString message;
};

struct CountdownCase
{
    const char *name;
    QDateTime now, end;
    int befSec;
    QString caption;
    int left; // -9999: not counting in seconds
};
// A moment on 6 December 2026 (or days after), Japan time.
QDateTime jst(int h, int m, int sec = 0, int days = 0)
{
    return QDateTime(QDate(2026, 12, 6).addDays(days), QTime(h, m, sec), siteZone());
}

struct TickCase
{
    const char *name;
    int msToEnd, leadMs;
    bool armed;
    const char *busy; // "bid", "refresh" or ""
    int sinceRefresh;
    bool leading, othersNear, finished;
    bool bid, refresh; // what the tick does
};

ItemRecord candidate(int id, const QString &cat, const QDateTime &end)
{
    ItemRecord r;
    r.id = id;
    r.itemid = u"x"_s + QString::number(id);
    r.Serverid = u"3"_s;
    r.cat = cat;
    r.enddate = end;
    r.Numkai = 1;
    return r;
}

struct SchedulerCase
{
    const char *name;
    bool catOn;
    QString cat;
    bool catWon;
    int endsInSeconds;
    bool windowOpen;
    bool opens;
    QString status;
};

struct HistoryCase
{
    const char *name;
    BidResult::Outcome outcome;
    int answered; // the amount the site is known to have; 0 none
    int reading;  // then a page read: -1 none, 0 someone else leads, 1 we do
    int max;      // the maximum saved when asked
    QString whyNot, told;
};
} // namespace

// The bid window's and the scheduler's decisions, as plain functions of their inputs and
// the clock.
class tst_AutoBid : public QObject
{
    Q_OBJECT
private slots:
    void checkAutoBid_data()
    {
        const QString ok = AutoBidText::armed();
        const QString low = AutoBidText::tooLow();
        // unit 100 throughout
        addRows<ArmCase>({
            {"quantity 0 never arms", 0, u"5000"_s, u""_s, 0, 3000, 2, false, false, u"x"_s, false,
             u""_s, AutoBidText::zeroQuantity()},
            {"maximum is the next price", 1, u"5000"_s, u""_s, 0, 3000, 2, false, false, u"x"_s,
             true, u"5000"_s, ok},
            {"maximum below price + unit", 1, u"3050"_s, u""_s, 0, 3000, 2, false, false, u"x"_s,
             false, u"3050"_s, low},
            {"extension + manual: one unit above", 1, u"5000"_s, u""_s, 0, 3000, 2, true, true,
             u"x"_s, true, u"3100"_s, ok},
            {"extension + manual, capped at the maximum", 1, u"3080"_s, u""_s, 0, 3000, 2, true,
             true, u"x"_s, false, u"3080"_s, low},
            {"extension without the switch bids the maximum", 1, u"5000"_s, u""_s, 0, 3000, 2, true,
             false, u"x"_s, true, u"5000"_s, ok},
            {"no bids: the price itself is enough", 1, u"1000"_s, u""_s, 0, 1000, 0, false, false,
             u"-"_s, true, u"1000"_s, ok},
            {"buy-it-now below the next price", 1, u"500"_s, u"9000"_s, 8000, 3000, 2, false, false,
             u"x"_s, true, u"8,000"_s, ok},
            {"maximum below the unit", 1, u"50"_s, u""_s, 0, 30, 0, false, false, u"x"_s, false,
             u""_s, low},
            {"maximum not a number", 1, u"abc"_s, u""_s, 0, 3000, 2, false, false, u"x"_s, false,
             u""_s, AutoBidText::maxNotANumber()},
            {"maximum with digit groups", 1, u"12,000"_s, u""_s, 0, 3000, 2, false, false, u"x"_s,
             true, u"12,000"_s, ok},
            {"already the highest bidder: still armed", 1, u"5000"_s, u""_s, 0, 3000, 2, false,
             false, u"me"_s, true, u"5000"_s, ok},
        });
    }

    void checkAutoBid()
    {
        QFETCH(ArmCase, row);
        BidSettings s;
        s.quantity = row.quantity;
        s.maxPriceText = row.max;
        s.nextPriceText = row.next;
        s.buyNow = row.buyNow;
        s.unit = 100;
        s.currentPrice = row.price;
        s.bidCount = row.bids;
        s.highBidder = row.highBidder;
        s.ownId = u"me"_s;
        s.autoExtend = row.extension;
        s.manualSwitch = row.manual;
        const AutoBidDecision d = CheckAutoBid(s);
        QCOMPARE(d.armed, row.armed);
        QCOMPARE(d.message, row.message);
        if (!row.nextAfter.isEmpty())
            QCOMPARE(d.nextPriceText.value_or(row.next), row.nextAfter);
        QCOMPARE(d.beep, !row.armed || row.highBidder == "me"_L1);
    }

    void countdown_data()
    {
        addRows<CountdownCase>({
            {"ends on the hour: seconds before the hour", jst(20, 59), jst(21, 0), 5,
             u"入札（あと　55　秒）"_s, 55},
            {"ends on the hour: an hour ahead", jst(20, 0, 1), jst(21, 0), 5,
             u"入札（あと　3594　秒）"_s, 3594},
            {"hours further away", jst(18, 59), jst(21, 0), 5, u"入札（あと　3　時間）"_s, -9999},
            {"days", jst(23, 0), jst(1, 0, 0, 2), 5, u"入札（あと　2　日）"_s, -9999},
            {"across midnight, last hour", jst(23, 50), jst(0, 10, 0, 1), 30,
             u"入札（あと　1170　秒）"_s, 1170},
            {"bid time passed", jst(21, 0), jst(21, 0, 5), 10, u"入札（入札時刻を過ぎました）"_s,
             -5},
            {"auction over, the count never negative", jst(21, 0, 7), jst(21, 0, 5), 10,
             u"入札（終了時刻を過ぎました）"_s, -12},
        });
    }

    void countdown()
    {
        QFETCH(CountdownCase, row);
        const Countdown c = countdownCaption(row.now, row.end, row.befSec);
        QCOMPARE(c.caption, row.caption);
        QCOMPARE(c.left.has_value(), row.left != -9999);
        if (c.left)
            QCOMPARE(int(*c.left), row.left);
    }

    void timerTicks_data()
    {
        // Befsec 10, refresh interval 60 s; ticks fall half-way between seconds.
        addRows<TickCase>({
            {"2.5 s before the bid time with a 2 s lead: not yet", 12500, 2000, true, "", 5, false,
             false, false, false, false},
            {"1.5 s before: the bid starts", 11500, 2000, true, "", 5, false, false, false, true,
             false},
            {"a slow site starts the bid earlier", 18500, 9000, true, "", 5, false, false, false,
             true, false},
            {"bid time passed, auction running: still bids", 9500, 2000, true, "", 5, false, false,
             false, true, false},
            {"not armed: no bid", 11500, 2000, false, "", 5, false, false, false, false, false},
            {"a refresh on its way does not hold the bid back", 11500, 2000, true, "refresh", 100,
             false, false, false, true, false},
            {"a bid under way: neither a second bid nor a refresh", 11500, 2000, true, "bid", 100,
             false, false, false, false, false},
            {"leading with the same maximum: no second bid", 5500, 2000, true, "", 5, true, false,
             false, false, false},
            {"last hour: refresh after the interval", 1800000, 2000, true, "", 61, false, false,
             false, false, true},
            {"last hour: not before", 1800000, 2000, true, "", 60, false, false, false, false,
             false},
            {"no refresh starts in the seconds before the bid", 12500, 2000, true, "", 100, false,
             false, false, false, false},
            {"nor while another window's bid goes out", 1800000, 2000, true, "", 100, false, true,
             false, false, false},
            {"leading, the bid time comes again: the page is read just before", 15500, 2000, true,
             "", 10, true, false, false, false, true},
            {"leading, read a moment ago: not again", 15500, 2000, true, "", 3, true, false, false,
             false, false},
            {"two hours away: no refresh", 7200000, 2000, true, "", 500, false, false, false, false,
             false},
            {"just ended: read the result", -3000, 2000, false, "", 10, false, false, false, false,
             true},
            {"finished: nothing", -100000, 2000, true, "", 500, false, false, true, false, false},
        });
    }

    void timerTicks()
    {
        QFETCH(TickCase, row);
        TickInput in;
        in.now = QDateTime(QDate(2026, 12, 6), QTime(20, 59, 50), siteZone());
        in.end = in.now.addMSecs(row.msToEnd);
        in.befSec = 10;
        in.previewLeadMs = row.leadMs;
        in.armed = row.armed;
        in.bidding = qstrcmp(row.busy, "bid") == 0;
        in.refreshing = qstrcmp(row.busy, "refresh") == 0;
        in.lastRefresh = in.now.addSecs(-row.sinceRefresh);
        in.holdBid = row.leading;
        in.othersImminent = row.othersNear;
        in.finished = row.finished;
        const TickActions a = timerTick(in);
        QCOMPARE(a.startBid, row.bid);
        QCOMPARE(a.refresh, row.refresh);
        QCOMPARE(a.finishFrame, row.finished);
    }

    void scheduler_data()
    {
        const QString in = u"次回の入札予定時刻まであと、"_s;
        addRows<SchedulerCase>({
            {"no category rule", false, u"2"_s, true, 600, false, true, in + u"9分 "_s},
            {"rule on, category not won", true, u"2"_s, false, 600, false, true, in + u"9分 "_s},
            {"rule on, category won", true, u"2"_s, true, 600, false, false,
             u"x1:カテゴリの中の１つ以上を落札しているので入札しない"_s},
            {"rule on, no category", true, u"0"_s, true, 600, false, true, in + u"9分 "_s},
            {"window already open", false, u"0"_s, false, 600, true, false, in + u"9分 "_s},
            {"10 h 1 min away with Befsec 60: not yet", false, u"0"_s, false, 36060, false, false,
             in + u"600分 "_s},
            {"just under 600 minutes", false, u"0"_s, false, 36059, false, true, in + u"599分 "_s},
        });
    }

    void scheduler()
    {
        QFETCH(SchedulerCase, row);
        SchedulerInput in;
        in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), sw::siteZone());
        in.befSec = 60;
        in.catOn = row.catOn;
        in.title = u"Snipewell -  Ver1.8.1"_s;
        in.candidates << candidate(1, row.cat, in.now.addSecs(row.endsInSeconds));
        QStringList asked;
        in.categoryWon = [&](const QString &c) -> std::optional<bool> {
            asked << c;
            return row.catWon;
        };
        in.windowOpen = [open = row.windowOpen](int) { return open; };
        const SchedulerOutput out = schedulerTick(in);
        QCOMPARE(out.open.size(), row.opens ? 1 : 0);
        QCOMPARE(out.logLines, row.opens ? QStringList{u"入札準備開始：x1"_s} : QStringList{});
        QCOMPARE(out.statusText.value_or(QString()), row.status);
        QCOMPARE(asked, row.catOn && row.cat != "0"_L1 ? QStringList{row.cat} : QStringList{});
    }

    void schedulerWithNothingToDo()
    {
        SchedulerInput in;
        in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), sw::siteZone());
        in.title = u"Snipewell -  Ver1.8.1"_s;
        const SchedulerOutput out = schedulerTick(in);
        QCOMPARE(*out.statusText, u"入札画面以外の入札の予定はありません。Snipewell -  Ver1.8.1"_s);
        QCOMPARE(*out.caption, in.title);

        // Several items ending close together each get a window in the same tick, and the
        // earliest-ending one's countdown is what stays in the status bar.
        in.candidates << candidate(2, u"0"_s, in.now.addSecs(900))
                      << candidate(3, u"0"_s, in.now.addSecs(300));
        in.minimized = true;
        const SchedulerOutput two = schedulerTick(in);
        QCOMPARE(two.open.size(), 2);
        QCOMPARE(*two.caption, u"Snipewell - 4分"_s);
    }

    void loginPageHoldsEverythingBack()
    {
        SchedulerInput in;
        in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), sw::siteZone());
        in.candidates << candidate(1, u"0"_s, in.now.addSecs(60));
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

    void unreadableRowsAreReportedNotOpened()
    {
        SchedulerInput in;
        in.now = QDateTime(QDate(2026, 12, 6), QTime(12, 0, 0), siteZone());
        ItemRecord noEnd = candidate(1, u"0"_s, QDateTime());
        ItemRecord badServer = candidate(2, u"0"_s, in.now.addSecs(60));
        badServer.Serverid = u"3/../../x?"_s;
        ItemRecord good = candidate(3, u"0"_s, in.now.addSecs(60));
        good.Serverid = u"3"_s;
        in.candidates << noEnd << badServer << good;
        const SchedulerOutput out = schedulerTick(in);
        QCOMPARE(out.unreadable.size(), 2);
        QCOMPARE(out.open.size(), 1);
        QCOMPARE(out.open.first().id, 3);
    }

    void historyDecides_data()
    {
        const QString leads = u"最高額入札者です。上限価格を上げたときだけ入札し直します。"_s;
        const QString sentAlready =
            u"この金額は入札済みです。上限価格を上げたときだけ入札し直します。"_s;
        addRows<HistoryCase>({
            {"accepted: no bid again at the same maximum", BidResult::Accepted, 5000, -1, 5000,
             leads, u"最高額入札者です（5,000円）"_s},
            {"accepted, maximum raised: bids again", BidResult::Accepted, 5000, -1, 6000, u""_s,
             u"最高額入札者です（5,000円）"_s},
            {"accepted, then shown outbid: not the same amount again", BidResult::Accepted, 5000, 0,
             5000, sentAlready, u"他の入札者に抜かれました（現在5,100円）"_s},
            {"below the reserve: only a raised maximum", BidResult::BelowReserve, 5000, -1, 5000,
             u"最低落札価格に届きませんでした。上限価格を上げたときだけ入札し直します。"_s,
             u"入札しましたが、最低落札価格に届きませんでした"_s},
            {"refused at the maximum is a bid that arrived", BidResult::Refused, 5000, -1, 5000,
             u"上限価格でも他の入札より低い金額でした。上限価格を上げたときだけ入札し直します。"_s,
             u"入札しましたが、上限価格でも他の入札より低い金額でした"_s},
            {"never arrived: the amount may go again", BidResult::NotArrived, 0, -1, 5000, u""_s,
             u"入札が届きませんでした：応答なし"_s},
            {"not known, then the page shows us leading", BidResult::Unknown, 0, 1, 5000, leads,
             u"入札の結果がわかりません。商品ページを読み直します"_s},
            {"cancelled on its way: nothing counted", BidResult::Cancelled, 0, -1, 5000, u""_s,
             u"入札を中止しました：応答なし"_s},
        });
    }

    void historyDecides()
    {
        QFETCH(HistoryCase, row);
        BidHistory h;
        BidResult r;
        r.outcome = row.outcome;
        r.lastAmount = 5000;
        r.why = u"応答なし"_s;
        if (row.answered > 0)
            r.answered << row.answered;
        QString last = h.onAnswer(r, 5000).lastResult;
        if (row.reading >= 0) {
            const BidHistory::Told t = h.onReading(row.reading == 1, false, 5100);
            if (!t.lastResult.isEmpty())
                last = t.lastResult;
            if (row.reading == 1 && !h.acceptedMax)
                h.acceptedMax = 5000; // as the item does when a page shows it leading
        }
        QCOMPARE(h.whyNot(row.max, row.max).value_or(QString()), row.whyNot);
        QCOMPARE(last, row.told);
    }
};

QTEST_GUILESS_MAIN(tst_AutoBid)
#include "tst_autobid.moc"
