#include "bidexchange.h"
#include "bidfixture.h"
#include "clockprobe.h"
#include "pagefetcher.h"
#include "simtls.h"
#include "siteclock.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace sw;

namespace {

struct Exchange : BidFixture
{
    std::unique_ptr<PageFetcher> fetcher;
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    QStringList shownNext;
    std::function<std::optional<LiveLimits>()> limitsNow;

    explicit Exchange(sim::Scenario s) : BidFixture(std::move(s))
    {
        fetcher = std::make_unique<PageFetcher>(&cookies, log, prompter);
        fetcher->setSiteHosts(&hosts);
        fetcher->applyProxySetting(u"HTTP=127.0.0.1:"_s + QString::number(site.port()));
        fetcher->setTimeoutMs(2000);
        fetcher->setTimesBids(true); // as an item's own fetcher is
    }
    BidRequest request(qint64 amount, qint64 max, qint64 unit = 500)
    {
        BidRequest r;
        r.serverid = u"3"_s;
        r.itemid = u"x1"_s;
        r.amount = amount;
        r.bidTime = QDateTime::currentDateTime().addSecs(-1);
        r.end = site.scenario().items.first().end;
        r.quantity = 1;
        r.max = max;
        r.unit = unit;
        r.userId = u"snipe_taro"_s;
        r.encodedPassword = encodePassword(u"taro1234"_s);
        return r;
    }
    std::optional<BidResult> run(const BidRequest &r, int timeoutMs = 15000)
    {
        std::optional<BidResult> result;
        BidContext ctx{*fetcher,
                       hosts,
                       log,
                       alive,
                       [this](const QString &amount) { shownNext << amount; },
                       nullptr,
                       {},
                       limitsNow};
        PlaceBid(ctx, r).then([&result](BidResult b) { result = b; });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, timeoutMs))
            qWarning("the exchange did not finish in time");
        return result;
    }
    // Until the program knows the site's clock as closely as the network allows, the way
    // a bid window that is about to bid gets it.
    bool learnTheSiteClock()
    {
        ClockProbe probe(*fetcher, siteClock());
        const QString url = hosts.itemHostTop(u"3"_s);
        return QTest::qWaitFor(
            [&] {
                probe.want(url);
                return siteClock().precise();
            },
            20000);
    }
    // Moments by the site's clock, whole seconds.
    QDateTime siteSecondsFromNow(int secs)
    {
        const qint64 ms = site.scenario().now().toMSecsSinceEpoch() + secs * 1000;
        return QDateTime::fromMSecsSinceEpoch(ms / 1000 * 1000, siteZone());
    }
};

sim::Scenario scenario(qint32 price, qint32 rivalMax, qint32 reserve = 0, qint32 buyNow = 0,
                       int endsIn = 600, qint32 unit = 500)
{
    sim::Scenario s;
    s.bidders << sim::Bidder{u"snipe_taro"_s, u"taro1234"_s, {}};
    sim::Item it;
    it.id = u"x1"_s;
    it.server = 3;
    it.title = u"商品"_s;
    it.startPrice = 1000;
    it.price = price;
    it.bids = 1;
    it.highBidder = u"rival"_s;
    it.maxBids.insert(it.highBidder, rivalMax);
    it.bidUnit = unit;
    it.reserve = reserve;
    it.buyNow = buyNow;
    it.end = QDateTime::currentDateTime().addSecs(endsIn);
    s.items << it;
    return s;
}

} // namespace

struct OutcomeRow
{
    int reserve = 0, buyNow = 0;
    int endsIn = 600, storedEndsIn = 600; // on the site; as the program has it
    QString password = u"taro1234"_s;
    QString faultOn{}; // "confirmation", "preview" or none
    int fault = -1;
    bool before = false; // refused before the site processes the request
    BidResult::Outcome outcome = BidResult::NotSent;
    int previews = 1, confirmations = 1; // as the site saw them
    QString lastLog{}, dialog{};
};

struct RaisesUpToTheMaximumAndNotBeyondRow
{
    int rivalMax, siteUnit;
    int knownUnit; // as the item page gave it; 0: no usable unit
    int first, max;
    QStringList sentBefore, amounts;
    bool success;
};

// One bid exchange against the simulated site, for each way it can end.
class tst_BidExchange : public QObject
{
    Q_OBJECT
private slots:
    void outcomes_data()
    {
        QTest::addColumn<OutcomeRow>("row");
        using R = OutcomeRow;
        using O = BidResult;
        const QString placed =
            u"入札結果：x1\r\n10000円で入札しました。\r\nあなたの入札額が現在の最高値です。"_s;
        const QString loginLog =
            u"入札できませんでした：x1：10000：ログインが必要です（サイトがログイン画面を返しました）"_s;
        const QString loginDialog =
            u"入札結果：x1\r\nログインが必要です。Yahoo! JAPANにログインしてください。"_s;
        QTest::newRow("success") << R{
            .outcome = O::Accepted, .lastLog = u"入札結果：x1：10000：成功 "_s, .dialog = placed};
        QTest::newRow("below the reserve")
            << R{.reserve = 20000,
                 .outcome = O::BelowReserve,
                 .lastLog = u"入札結果：x1：10000：最低落札価格よりも低い金額 "_s,
                 .dialog = u"入札結果：x1\r\n10000円は最低落札価格よりも低い金額でした。"_s};
        QTest::newRow("bought outright")
            << R{.buyNow = 9000,
                 .outcome = O::Won,
                 .lastLog = u"入札結果：x1：10000：あなたが落札しました。"_s,
                 .dialog = u"入札結果：x1\r\n10000円で落札しました。"_s};
        QTest::newRow("the site ended it early") << R{.endsIn = -10,
                                                      .outcome = O::Ended,
                                                      .confirmations = 0,
                                                      .lastLog = u"入札結果：x1：既に終了"_s,
                                                      .dialog = u"入札結果：x1\r\n既に終了。"_s};
        QTest::newRow("over by the site's clock: nothing asked") << R{
            .endsIn = -10,
            .storedEndsIn = -10,
            .previews = 0,
            .confirmations = 0,
            .lastLog = u"入札できませんでした：x1：10000：終了時刻を過ぎています"_s,
            .dialog =
                u"入札結果：x1\r\n10000円の入札を送れませんでした。\r\n終了時刻を過ぎています"_s};
        QTest::newRow("wrong password: the login page, asked once") << R{.password = u"wrong"_s,
                                                                         .outcome = O::LoginNeeded,
                                                                         .confirmations = 0,
                                                                         .lastLog = loginLog,
                                                                         .dialog = loginDialog};
        const QString noField = u"入札の確認画面に入札の欄がありませんでした"_s;
        QTest::newRow("busy page for the preview, asked three times")
            << R{.faultOn = u"preview"_s,
                 .fault = sim::Fault::ErrorPage,
                 .previews = 3,
                 .confirmations = 0,
                 .lastLog = u"入札できませんでした：x1：10000："_s + noField,
                 .dialog = u"入札結果：x1\r\n10000円の入札を送れませんでした。\r\n"_s + noField};
        QTest::newRow("login page for the confirmation") << R{.faultOn = u"confirmation"_s,
                                                              .fault = sim::Fault::LoginPage,
                                                              .outcome = O::LoginNeeded,
                                                              .lastLog = loginLog,
                                                              .dialog = loginDialog};
        // The amount counts as sent only when the site has it: the item's page tells.
        QTest::newRow("no answer, but the site took it: the page shows it")
            << R{.faultOn = u"confirmation"_s,
                 .fault = sim::Fault::Drop,
                 .outcome = O::Accepted,
                 .lastLog = u"入札結果：x1：10000：成功（商品ページで確認） "_s,
                 .dialog = placed};
        QTest::newRow("the busy page after the site took it")
            << R{.faultOn = u"confirmation"_s,
                 .fault = sim::Fault::ErrorPage,
                 .outcome = O::Accepted,
                 .lastLog = u"入札結果：x1：10000：不明 "_s,
                 .dialog = placed};
        const QString noAnswer = u"入札に応答がなく、商品ページにも入札がありません"_s;
        QTest::newRow("refused unseen every time: never arrived, said so")
            << R{.faultOn = u"confirmation"_s,
                 .fault = sim::Fault::Http503,
                 .before = true,
                 .outcome = O::NotArrived,
                 .previews = 2,
                 .confirmations = 0,
                 .lastLog = u"入札が届きませんでした：x1：10000："_s + noAnswer,
                 .dialog = u"入札結果：x1\r\n10000円の入札が届きませんでした。\r\n"_s + noAnswer};
    }

    void outcomes()
    {
        QFETCH(OutcomeRow, row);
        const auto &[reserve, buyNow, endsIn, storedEndsIn, password, faultOn, fault, before,
                     outcome, previews, confirmations, lastLog, dialog] = row;
        Exchange x(scenario(5000, 6000, reserve, buyNow, endsIn));
        if (fault >= 0) {
            x.site.addFault({.path = faultOn == "preview"_L1 ? u"/jp/show/*"_s : u"/jp/config/*"_s,
                             .kind = sim::Fault::Kind(fault),
                             .beforeProcessing = before});
        }
        BidRequest r = x.request(10000, 10000);
        r.end = QDateTime::currentDateTime().addSecs(storedEndsIn);
        r.encodedPassword = encodePassword(password);
        const auto result = x.run(r);
        QVERIFY(result);
        QCOMPARE(int(result->outcome), int(outcome));
        QCOMPARE(result->success, outcome == BidResult::Accepted || outcome == BidResult::Won);
        QCOMPARE(result->dialogText.value_or(QString()), dialog);
        QVERIFY(result->showDialog);
        const QStringList log = x.logLines();
        QVERIFY2(log.contains(lastLog), qPrintable(log.join(QLatin1Char('\n'))));
        QCOMPARE(x.site.requestsTo(u"/jp/show/bid_preview"_s).size(), previews);
        // A dropped connection never sends the confirmation again unseen (a confirmation
        // refused before the site looked at it does not count).
        QCOMPARE(x.site.confirmations().size(), confirmations);
        // Only the preview carries the password.
        for (const sim::RequestRecord &req : x.site.requests()) {
            if (req.path != "/jp/show/bid_preview"_L1)
                QVERIFY(!req.query.contains(u"passwd"_s));
        }
    }

    void raisesUpToTheMaximumAndNotBeyond_data()
    {
        QTest::addColumn<RaisesUpToTheMaximumAndNotBeyondRow>("row");
        using R = RaisesUpToTheMaximumAndNotBeyondRow;
        const QStringList none;
        QTest::newRow("refused at the maximum")
            << R{10000, 500, 500, 9000, 10000, none, QStringList{u"9000"_s, u"9500"_s, u"10000"_s},
                 false};
        QTest::newRow("the last step is the maximum")
            << R{10100, 500, 500, 9500, 10200, none, QStringList{u"9500"_s, u"10000"_s, u"10200"_s},
                 false};
        QTest::newRow("raised until it leads") << R{
            9600, 100, 500, 9000, 10000, none, QStringList{u"9000"_s, u"9500"_s, u"10000"_s}, true};
        QTest::newRow("first amount is the maximum: no retry")
            << R{20000, 500, 500, 10000, 10000, none, QStringList{u"10000"_s}, false};
        QTest::newRow("no unit on the page: the site's increment for each amount")
            << R{10100,
                 100,
                 0,
                 9500,
                 10500,
                 none,
                 QStringList{u"9500"_s, u"9750"_s, u"10000"_s, u"10500"_s},
                 true};
        QTest::newRow("an amount sent before is not sent again") << R{
            9600, 100, 500, 9000, 10000, QStringList{u"9500"_s}, QStringList{u"9000"_s, u"10000"_s},
            true};
    }

    void raisesUpToTheMaximumAndNotBeyond()
    {
        QFETCH(RaisesUpToTheMaximumAndNotBeyondRow, row);
        const auto &[rivalMax, siteUnit, knownUnit, first, max, sentBefore, amounts, success] = row;
        Exchange x(scenario(5000, rivalMax, 0, 0, 600, siteUnit));
        BidRequest r = x.request(first, max, knownUnit);
        for (const QString &a : sentBefore)
            r.alreadySent.insert(a.toInt());
        const auto result = x.run(r);
        QVERIFY(result);
        QCOMPARE(x.amountsSent(), amounts);
        QCOMPARE(result->success, success);
        QCOMPARE(x.shownNext.size(), amounts.size() - 1);
        if (!success)
            QVERIFY(
                result->dialogText->contains(u"直前に他の人が入札した金額より低い金額でした。"_s));
    }

    void init() { siteClock().reset(); }

    void arrivesAtTheSiteBidTime_data()
    {
        QTest::addColumn<int>("siteAheadMs"); // the site's clock against this machine's
        QTest::addColumn<int>("oneWayMs");
        QTest::addColumn<bool>("pagesOnly"); // the host's top page (the clock's) answers at once
        QTest::newRow("same clocks") << 0 << 0 << false;
        QTest::newRow("machine 3 s slow") << 3000 << 0 << false;
        QTest::newRow("machine 3 s fast") << -3000 << 0 << false;
        QTest::newRow("400 ms each way") << 0 << 400 << false;
        QTest::newRow("machine slow, site far away") << 3000 << 400 << false;
        // A front server answers the clock's requests at once, every page takes 1.2 s: the
        // confirmation leaves half a page's round trip early all the same.
        QTest::newRow("pages slow, the clock's requests quick") << 0 << 600 << true;
    }

    void arrivesAtTheSiteBidTime()
    {
        QFETCH(int, siteAheadMs);
        QFETCH(int, oneWayMs);
        QFETCH(bool, pagesOnly);
        sim::Scenario s = scenario(5000, 6000);
        s.clockOffsetMs = siteAheadMs;
        s.items.first().end = s.now().addSecs(600);
        if (oneWayMs > 0) {
            s.faults << sim::Fault{
                .path = pagesOnly ? u"/jp/*"_s : u"*"_s, .ms = oneWayMs, .inMs = oneWayMs};
        }
        Exchange x(s);
        QVERIFY(x.learnTheSiteClock());
        BidRequest r = x.request(10000, 10000);
        r.bidTime = x.siteSecondsFromNow(pagesOnly ? 6 : 3);
        const auto result = x.run(r);
        QVERIFY(result && result->success);
        const auto previews = x.site.requestsTo(u"/jp/show/bid_preview"_s);
        const auto confirmations = x.site.requestsTo(u"/jp/config/placebid"_s);
        QCOMPARE(confirmations.size(), 1);
        QVERIFY(previews.first().atMs < r.bidTime.toMSecsSinceEpoch() - 1000);
        // By the site's own clock, the confirmation arrives at the bid time.
        const qint64 late = confirmations.first().atMs - r.bidTime.toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    }

    void failedPreviewIsAskedAgain_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("log");
        // Qt's network layer asks once more by itself when a connection closes unanswered.
        QTest::newRow("connection dropped") << int(sim::Fault::Drop) << "";
        QTest::newRow("server error")
            << int(sim::Fault::Http500) << "入札準備２：x1：10000：サーバー応答なし";
        // A stalled preview is not given up: a second one races it.
        QTest::newRow("stalled") << int(sim::Fault::Stall) << "";
        QTest::newRow("cut short")
            << int(sim::Fault::OneByte) << "アクセスに失敗しました、接続を確認してください｡";
    }

    void failedPreviewIsAskedAgain()
    {
        QFETCH(int, fault);
        QFETCH(QString, log);
        Exchange x(scenario(5000, 6000));
        x.site.addFault(
            {.path = u"/jp/show/bid_preview"_s, .kind = sim::Fault::Kind(fault), .count = 1});
        BidRequest r = x.request(10000, 10000);
        // As early as a bid starts on a site not heard from yet.
        r.bidTime = QDateTime::currentDateTime().addMSecs(previewLeadMs(siteClock()));
        const auto result = x.run(r);
        QVERIFY(result && result->success);
        QCOMPARE(x.site.requestsTo(u"/jp/show/bid_preview"_s).size(), 2);
        const auto confirmations = x.site.requestsTo(u"/jp/config/placebid"_s);
        QCOMPARE(confirmations.size(), 1);
        QVERIFY(confirmations.first().atMs <= r.bidTime.toMSecsSinceEpoch() + 100);
        QVERIFY2(log.isEmpty() || x.logLines().contains(log),
                 qPrintable(x.logLines().join(QLatin1Char('\n'))));
    }

    void stalledPreviewIsGivenUpBeforeTheEnd()
    {
        // Every preview stalls; the auction ends three seconds from now. The exchange says so
        // while the auction still runs, not after the fetcher's 20 s time-out.
        sim::Scenario s = scenario(5000, 6000, 0, 0, 3);
        Exchange x(s);
        x.fetcher->setTimeoutMs(20000);
        x.site.addFault({.path = u"/jp/show/bid_preview"_s, .kind = sim::Fault::Stall});
        BidRequest r = x.request(10000, 10000);
        r.bidTime = QDateTime::currentDateTime().addSecs(1);
        QElapsedTimer took;
        took.start();
        const auto result = x.run(r, 10000);
        QVERIFY(result);
        QVERIFY(!result->success && !result->sent);
        QVERIFY2(took.elapsed() < 3500, qPrintable(QString::number(took.elapsed())));
        QVERIFY(x.site.requestsTo(u"/jp/config/placebid"_s).isEmpty());
        QVERIFY2(x.logLines().contains(QStringLiteral(
                     "入札できませんでした：x1：10000：入札の確認画面が時間内に届きませんでした")),
                 qPrintable(x.logLines().join(QLatin1Char('\n'))));
        QVERIFY(result->dialogText->contains(u"送れませんでした"_s));
    }

    void wallClockJumpDuringTheWait_data()
    {
        QTest::addColumn<int>("jumpMs");
        QTest::newRow("a time-sync step 30 s back") << -30000;
        QTest::newRow("5 s on during the last wait") << 5000;
    }

    void wallClockJumpDuringTheWait()
    {
        QFETCH(int, jumpMs);
        // The machine's wall clock as the program sees it; the site keeps the true time.
        qint64 jump = 0;
        siteClock().setSources([&jump] { return QDateTime::currentMSecsSinceEpoch() + jump; }, {});
        Exchange x(scenario(5000, 6000));
        QVERIFY(x.learnTheSiteClock());
        BidRequest r = x.request(10000, 10000);
        r.bidTime = x.siteSecondsFromNow(3);
        std::optional<BidResult> result;
        BidContext ctx{*x.fetcher, x.hosts, x.log, x.alive, {}, nullptr, {}, {}};
        PlaceBid(ctx, r).then([&result](BidResult b) { result = b; });
        QTRY_COMPARE(x.site.requestsTo(u"/jp/show/bid_preview"_s).size(), 1);
        QTest::qWait(1000);
        jump = jumpMs; // while the bid waits for its moment
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
        siteClock().setSources({}, {});
        QVERIFY(result->success);
        const qint64 late = x.site.requestsTo(u"/jp/config/placebid"_s).first().atMs -
                            r.bidTime.toMSecsSinceEpoch();
        QVERIFY2(late >= -300 && late <= 100, qPrintable(QString::number(late)));
    }

    void theUsersLastWordHolds_data()
    {
        QTest::addColumn<bool>(
            "raise"); // saved as a raise waits for its pace, else for the bid time
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<int>("quantity");
        QTest::addColumn<int>("max");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("log");
        const QStringList none;
        QTest::newRow("quantity 0: nothing sent")
            << false << false << 0 << 10000 << none
            << "入札中止：x1：10000：入札数量が０に変更されました";
        QTest::newRow("row deleted: nothing sent")
            << false << true << 1 << 10000 << none << "入札中止：x1：10000：商品が削除されました";
        QTest::newRow("a lower maximum: the lower amount")
            << false << false << 1 << 8000 << QStringList{u"8000"_s} << "入札開始：x1：8000";
        QTest::newRow("lowered below what the site takes: nothing sent")
            << false << false << 1 << 5200 << none
            << "入札中止：x1：10000：上限価格が5,200円に下げられ、入札できる金額ではなくなりました";
        QTest::newRow("a raised maximum: the raised amount")
            << false << false << 1 << 12000 << QStringList{u"12000"_s} << "入札開始：x1：12000";
        QTest::newRow("deleted while a raise waits: not raised")
            << true << true << 1 << 12000 << QStringList{u"9000"_s}
            << "入札中止：x1：9500：商品が削除されました";
        QTest::newRow("quantity 0 while a raise waits: not raised")
            << true << false << 0 << 12000 << QStringList{u"9000"_s}
            << "入札中止：x1：9500：入札数量が０に変更されました";
        QTest::newRow("lowered to the refused amount while a raise waits: not raised")
            << true << false << 1 << 9000 << QStringList{u"9000"_s}
            << "入札中止：x1：9500：上限価格が9,000円に下げられ、入札できる金額ではなくなりました";
    }

    void theUsersLastWordHolds()
    {
        QFETCH(bool, raise);
        QFETCH(bool, deleted);
        QFETCH(int, quantity);
        QFETCH(int, max);
        QFETCH(QStringList, sent);
        QFETCH(QString, log);
        Exchange x(scenario(5000, raise ? 10000 : 6000));
        LiveLimits live{true, 1, 12000, 5500};
        bool gone = false;
        x.limitsNow = [&]() -> std::optional<LiveLimits> {
            if (gone)
                return std::nullopt;
            return live;
        };
        auto save = [&] {
            gone = deleted;
            live.quantity = quantity;
            live.max = max;
            live.armed = quantity > 0 && max >= live.lowest;
        };
        BidRequest r = x.request(raise ? 9000 : 10000, raise ? 12000 : 10000);
        if (!raise) {
            live.max = 10000;
            r.bidTime = QDateTime::currentDateTime().addSecs(5);
        }
        RequestPacer pacer;
        std::optional<BidResult> result;
        // A raise shows its amount once decided, then waits for the item's pace: the user saves
        // in that moment.
        BidContext ctx{*x.fetcher,
                       x.hosts,
                       x.log,
                       x.alive,
                       [&](const QString &) {
                           if (raise)
                               save();
                       },
                       &pacer,
                       {},
                       x.limitsNow};
        PlaceBid(ctx, r).then([&result](BidResult b) { result = b; });
        if (!raise) {
            // The user saves while the preview is in hand and the bid waits for its moment.
            QTRY_COMPARE(x.site.requestsTo(u"/jp/show/bid_preview"_s).size(), 1);
            save();
        }
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 10000);
        QCOMPARE(x.amountsSent(), sent);
        QCOMPARE(int(result->outcome),
                 int(sent.isEmpty() || raise ? BidResult::Cancelled : BidResult::Accepted));
        QVERIFY2(x.logLines().contains(log), qPrintable(x.logLines().join(QLatin1Char('\n'))));
    }

    void slowPreviewIsALateBidNotALostOne_data()
    {
        QTest::addColumn<int>("previewMs"); // how long the preview takes; item pages are quick
        QTest::newRow("3 s") << 3000;
        QTest::newRow("6 s") << 6000;
    }

    void slowPreviewIsALateBidNotALostOne()
    {
        QFETCH(int, previewMs);
        Exchange x(scenario(5000, 6000, 0, 0, 30));
        x.site.addFault({.path = u"/jp/show/bid_preview"_s, .ms = previewMs});
        QVERIFY(x.learnTheSiteClock()); // as a bid does in its last two minutes
        BidRequest r = x.request(10000, 10000);
        const qint64 lead = previewLeadMs(siteClock());
        r.bidTime = QDateTime::currentDateTime().addMSecs(lead);
        // Late only by what the preview takes beyond the time it was given, never more.
        const qint64 maxLateMs = qMax<qint64>(100, previewMs - lead + 500);
        const auto result = x.run(r, 20000);
        QVERIFY(result);
        QVERIFY2(result->success, qPrintable(x.logLines().join(QLatin1Char('\n'))));
        const auto confirmations = x.site.requestsTo(u"/jp/config/placebid"_s);
        QCOMPARE(confirmations.size(), 1);
        const qint64 late = confirmations.first().atMs - r.bidTime.toMSecsSinceEpoch();
        QVERIFY2(late <= maxLateMs, qPrintable(QString::number(late)));
    }

    void goesOverHttpsToTodaysHost()
    {
        trustTestAuthority();
        Exchange x(scenario(5000, 6000));
        serveTls(x.site);
        x.hosts.scheme = u"https"_s;
        BidRequest r = x.request(10000, 10000);
        r.serverid.clear(); // added by today's address
        const auto result = x.run(r);
        QVERIFY(result);
        QCOMPARE(int(result->outcome), int(BidResult::Accepted));
        QVERIFY(x.site.tunnelsEncrypted() >= 1);
        QCOMPARE(x.site.bids().last().amount, 10000);
        QCOMPARE(x.site.bids().last().bidder, u"snipe_taro"_s);
        for (const sim::RequestRecord &req : x.site.requests())
            QCOMPARE(req.host, u"page.auctions.yahoo.co.jp"_s);
    }
};

QTEST_GUILESS_MAIN(tst_BidExchange)
#include "tst_bidexchange.moc"
