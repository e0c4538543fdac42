#include "bidexchange.h"

#include "activitylog.h"
#include "autobid.h"
#include "clock.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <QTimer>

#include <algorithm>
#include <coroutine>
#include <vector>

namespace sw {

namespace {
const QString CRLF = QStringLiteral("\r\n");
const QString SEP = QStringLiteral("：");
constexpr qint64 kMinLeadMs = 2000;
constexpr qint64 kMaxLeadMs = 60000;
constexpr qint64 kMinStallMs = 3000;
constexpr qint64 kMaxStallMs = 20000;
constexpr int kMaxPreviews = 3;
constexpr int kRetryPauseMs = 500;
constexpr qint64 kLateMs = 500; // a confirmation this much behind its moment is late
constexpr qint64 kLastChanceMarginMs = 200;
const QString kNotTheSite = QStringLiteral("入札の送信先がサイトのものではありません：");

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral("秒");
}

QString resultLine(const QString &id, const QString &amt, const QString &outcome)
{
    return QStringLiteral("入札結果：") + id + SEP + amt + SEP + outcome;
}

// The amounts a bid may still send, raised one unit at a time from `from` up to the
// maximum, leaving out what the site answered before.
struct AmountLadder
{
    qint64 unit; // 0: the site's increment for the amount being raised from
    const QSet<qint64> &sent;
    std::optional<qint64> next(qint64 from, qint64 max) const
    {
        qint64 a = from;
        for (;;) {
            if (a >= max)
                return std::nullopt;
            a = qMin(max, a + (unit > 0 ? unit : siteBidIncrement(a)));
            if (!sent.contains(a))
                return a;
        }
    }
};

// Previews that race: the answers in the order they came, and the exchange waiting for
// the next one.
struct RaceState
{
    std::vector<FetchResult> answers;
    std::coroutine_handle<> waiter;
};

QCoro::Task<> previewAttempt(PageFetcher *fetcher, QString url, int timeoutMs,
                             std::shared_ptr<RaceState> race)
{
    const FetchResult r = co_await fetcher->FetchPage(url, false, timeoutMs);
    race->answers.push_back(r);
    if (const std::coroutine_handle<> h = std::exchange(race->waiter, {}))
        h.resume();
}

// Resumes on the race's next answer or after ms, whichever comes first.
class RaceWait
{
public:
    RaceWait(std::shared_ptr<RaceState> race, int ms)
        : m_race(std::move(race)), m_ms(qMax(0, ms)), m_timer(std::make_unique<QTimer>())
    {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h)
    {
        m_race->waiter = h;
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer.get(), &QTimer::timeout, [race = m_race, h] {
            if (race->waiter == h) {
                race->waiter = {};
                h.resume();
            }
        });
        m_timer->start(m_ms);
    }
    void await_resume()
    {
        m_timer->stop();
        m_race->waiter = {};
    }

private:
    std::shared_ptr<RaceState> m_race;
    int m_ms;
    std::unique_ptr<QTimer> m_timer;
};

QCoro::Task<> waitForRace(std::shared_ptr<RaceState> race, int ms)
{
    co_await RaceWait(std::move(race), ms);
}

// What the preview gave: the confirmation form, or why there is none.
struct Preview
{
    enum Kind
    {
        Form,
        Ended,
        Login,
        Failed,
        Gone, // the item went away meanwhile
    };
    Kind kind = Failed;
    QString action;
    QString a;
    QString why;
};

QCoro::Task<> paced(RequestPacer *pacer)
{
    const qint64 wait = pacer ? pacer->reserve() : 0;
    if (wait > 0)
        co_await preciseSleep(int(wait));
}

// 1-4. The preview and its confirmation form. A preview that fails or does not read is
// asked for again after a short pause; one that stalls is raced by a second one, and the
// first is not given up: whichever answers first is used. Every try may take until a
// confirmation could no longer reach the site before the end.
QCoro::Task<Preview> askPreview(BidContext &ctx, const BidRequest &req, const QString &amt,
                                int quantity, qint64 endMs)
{
    SiteClock &clock = siteClock();
    const QString id = req.itemid;
    const QString url = ctx.hosts.bidPreview(req.serverid, id, amt, req.userId, req.encodedPassword,
                                             QString::number(quantity));
    auto race = std::make_shared<RaceState>();
    Preview out;
    QString why;
    int launched = 0;
    std::size_t seen = 0;
    qint64 lastLaunch = 0;
    for (;;) {
        while (seen < race->answers.size()) {
            const FetchResult r = race->answers[seen++];
            if (!r.ok) {
                ctx.log.LOGTodb(QStringLiteral("入札準備２：") + id + SEP + amt +
                                QStringLiteral("：サーバー応答なし"));
                why = r.timedOut ? QStringLiteral("入札の確認画面が時間内に届きませんでした")
                                 : QStringLiteral("入札の確認画面を取得できませんでした");
                continue;
            }
            if (looksLikeLoginPage(r.text)) {
                out.kind = Preview::Login;
                co_return out;
            }
            int cursor = 1;
            const QString action = GetBetween(r.text, cursor, QStringLiteral("<FORM ACTION=\""),
                                              QStringLiteral("\" METHOD="));
            if (r.text.contains(QStringLiteral("既に終了"))) {
                out.kind = Preview::Ended;
                co_return out;
            }
            const QString a =
                GetBetween(r.text, cursor, QStringLiteral("\"a\" VALUE=\""), QStringLiteral("\">"));
            if (!action.isEmpty()) {
                out.kind = Preview::Form;
                out.action = action;
                out.a = a;
                co_return out;
            }
            ctx.log.LOGTodb(QStringLiteral("入札準備３：") + id + SEP + amt +
                            QStringLiteral("：サーバー応答なし"));
            why = QStringLiteral("入札の確認画面に入札の欄がありませんでした");
        }
        if (ctx.alive.expired()) {
            out.kind = Preview::Gone;
            co_return out;
        }
        const qint64 now = sw::nowMs();
        const qint64 mono = clock.monoMs();
        const qint64 lastChance = endMs - clock.sendAheadMs() - kLastChanceMarginMs;
        const int running = launched - int(race->answers.size());
        const bool mayLaunch = launched < kMaxPreviews && (launched == 0 || now < lastChance);
        bool launch = false;
        qint64 waitMs = 1000;
        if (running == 0) {
            if (!mayLaunch) {
                out.why = why.isEmpty() ? QStringLiteral("終了時刻を過ぎました") : why;
                co_return out;
            }
            const qint64 pause = launched == 0 ? 0 : lastLaunch + kRetryPauseMs - mono;
            launch = pause <= 0;
            waitMs = pause;
        } else if (mayLaunch) {
            const qint64 stalledAt = lastLaunch + previewStallMs(clock);
            launch = mono >= stalledAt;
            waitMs = stalledAt - mono;
        }
        if (!launch) {
            co_await waitForRace(race, int(std::clamp<qint64>(waitMs, 20, 1000)));
            continue;
        }
        co_await paced(ctx.pacer);
        if (ctx.alive.expired()) {
            out.kind = Preview::Gone;
            co_return out;
        }
        ++launched;
        lastLaunch = clock.monoMs();
        const int timeout = int(qBound<qint64>(1000, lastChance - sw::nowMs(), kMaxLeadMs + 10000));
        previewAttempt(&ctx.fetcher, url, timeout, race);
    }
}

} // namespace

qint64 previewStallMs(const SiteClock &clock)
{
    const qint64 usual = qMax(clock.slowAnswerMs(), clock.pageRoundTripMs());
    return std::clamp(usual * 2 + 1000, kMinStallMs, kMaxStallMs);
}

qint64 previewLeadMs(const SiteClock &clock)
{
    // Room for a preview that stalls and the one that then races it, at the pace the
    // item's host has been answering lately. A round trip counts too: the clock's probes
    // may be all that has been asked yet.
    const qint64 usual =
        qMax(qMax(clock.slowAnswerMs(), clock.pageRoundTripMs()), clock.roundTripMs());
    const qint64 lead = previewStallMs(clock) + usual + clock.sendAheadMs() + 500;
    return std::clamp(lead, kMinLeadMs, kMaxLeadMs);
}

QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req)
{
    BidResult result;
    const QString id = req.itemid;
    qint64 amount = req.amount;
    qint64 max = qMax(req.max, amount);
    int quantity = req.quantity;
    QString amt = QString::number(amount);
    ActivityLog &log = ctx.log;
    auto abandoned = [&] {
        log.LOGTodb(QStringLiteral("入札中止：") + id + SEP + amt +
                    QStringLiteral("：入札画面が閉じられたため入札を中止しました"));
        result.abandoned = true;
        return result;
    };
    auto dialog = [&](const QString &text) {
        result.dialogText = QStringLiteral("入札結果：") + id + CRLF + text;
        result.showDialog = true;
    };
    auto neverSent = [&](const QString &why) {
        log.LOGTodb(QStringLiteral("入札できませんでした：") + id + SEP + amt + SEP + why);
        dialog(amt + QStringLiteral("円の入札を送れませんでした。") + CRLF + why);
        result.why = why;
        return result;
    };
    auto stopped = [&](BidResult::Outcome outcome, const QString &why) {
        result.outcome = outcome;
        result.why = why;
        log.LOGTodb(QStringLiteral("入札中止：") + id + SEP + amt + SEP + why);
        return result;
    };
    // The site has the amount and we lead with it.
    auto accepted = [&](qint64 sent, const QString &how) {
        log.LOGTodb(resultLine(id, amt, how));
        dialog(amt + QStringLiteral("円で入札しました。") + CRLF +
               QStringLiteral("あなたの入札額が現在の最高値です。"));
        result.answered << sent;
        result.outcome = BidResult::Accepted;
        result.success = true;
        return result;
    };
    auto loginNeeded = [&] {
        result.outcome = BidResult::LoginNeeded;
        const QString why =
            QStringLiteral("ログインが必要です（サイトがログイン画面を返しました）");
        log.LOGTodb(QStringLiteral("入札できませんでした：") + id + SEP + amt + SEP + why);
        dialog(QStringLiteral("ログインが必要です。Yahoo! JAPANにログインしてください。"));
        result.why = why;
        return result;
    };

    const qint64 bidMs = req.bidTime.toMSecsSinceEpoch();
    // After the end nothing can arrive in time; without an end given, a minute after the
    // bid time stands in for it.
    const qint64 endMs = req.end.isValid() ? req.end.toMSecsSinceEpoch() : bidMs + 60000;
    SiteClock &clock = siteClock();
    if (!SiteHosts::isServerId(req.serverid) || !SiteHosts::isItemId(id))
        co_return neverSent(QStringLiteral("商品IDかサーバー番号が正しくありません"));
    if (sw::nowMs() >= endMs)
        co_return neverSent(QStringLiteral("終了時刻を過ぎています"));
    if (req.alreadySent.contains(amount))
        co_return neverSent(QStringLiteral("同じ金額はすでに入札しています"));
    if (ctx.mayBid) {
        if (const std::optional<QString> why = ctx.mayBid())
            co_return stopped(BidResult::Blocked, *why);
    }

    const AmountLadder ladder{req.unit, req.alreadySent};
    // A second round only when the first confirmation got no answer and the item's page
    // does not show it: a new preview (its form may be spent) and the confirmation at once.
    for (int round = 0; round < 2; ++round) {
        const Preview preview = co_await askPreview(ctx, req, amt, quantity, endMs);
        switch (preview.kind) {
        case Preview::Gone:
            co_return abandoned();
        case Preview::Login:
            co_return loginNeeded();
        case Preview::Ended:
            log.LOGTodb(QStringLiteral("入札結果：") + id + QStringLiteral("：既に終了"));
            dialog(QStringLiteral("既に終了。"));
            result.outcome = BidResult::Ended;
            co_return result;
        case Preview::Failed:
            if (round > 0) {
                result.outcome = BidResult::NotArrived;
                result.why = QStringLiteral("入札に応答がなく、送り直す前に終了時刻になりました");
                log.LOGTodb(QStringLiteral("入札が届きませんでした：") + id + SEP + amt + SEP +
                            result.why);
                dialog(amt + QStringLiteral("円の入札が届きませんでした。") + CRLF + result.why);
                co_return result;
            }
            co_return neverSent(preview.why);
        case Preview::Form:
            break;
        }
        // 5. The confirmation address: on the site's own host, whatever the page says.
        auto confirmation = [&] {
            return ctx.hosts.formSubmission(
                preview.action, {{QStringLiteral("Partial"), QStringLiteral("1")},
                                 {QStringLiteral("ItemID"), id},
                                 {QStringLiteral("login"), req.userId},
                                 {QStringLiteral("cc"), QStringLiteral("jp")},
                                 {QStringLiteral("Quantity"), QString::number(quantity)},
                                 {QStringLiteral("Bid"), QString::number(amount)},
                                 {QStringLiteral("bidType"), QStringLiteral("1000")},
                                 {QStringLiteral("comment"), QStringLiteral("0")},
                                 {QStringLiteral("itemStyles"), QStringLiteral("1")},
                                 {QStringLiteral("a"), preview.a}});
        };
        if (confirmation().isEmpty())
            co_return neverSent(kNotTheSite + preview.action);

        // 6. Wait until the request has to leave to reach the site at the bid time; a
        // moment already past does not wait.
        if (round == 0)
            co_await UntilBidTime{bidMs, &ctx.alive};
        if (ctx.alive.expired())
            co_return abandoned();
        if (sw::nowMs() >= endMs)
            co_return neverSent(
                QStringLiteral("入札の確認画面が届いたときには終了時刻を過ぎていました"));
        if (ctx.mayBid) {
            if (const std::optional<QString> blockedBy = ctx.mayBid())
                co_return stopped(BidResult::Blocked, *blockedBy);
        }
        // The user's last word holds: what was saved since the exchange began counts.
        if (ctx.limitsNow) {
            const std::optional<LiveLimits> live = ctx.limitsNow();
            if (!live)
                co_return stopped(BidResult::Cancelled, QStringLiteral("商品が削除されました"));
            if (live->quantity <= 0)
                co_return stopped(BidResult::Cancelled,
                                  QStringLiteral("入札数量が０に変更されました"));
            const bool atMaximum = amount >= max;
            if (live->max < amount) {
                if (live->max < live->lowest || req.alreadySent.contains(live->max))
                    co_return stopped(
                        BidResult::Cancelled,
                        QStringLiteral("上限価格が") + formatYen(live->max) +
                            QStringLiteral("円に下げられ、入札できる金額ではなくなりま"
                                           "した"));
                amount = live->max;
            } else if (!live->armed) {
                co_return stopped(BidResult::Cancelled, QStringLiteral("自動入札が解除されました"));
            } else if (atMaximum && live->max > amount) {
                amount = live->max; // the maximum was raised: it is what the user bids
            }
            max = live->max;
            quantity = live->quantity;
            if (QString::number(amount) != amt) {
                amt = QString::number(amount);
                if (ctx.showNextPrice)
                    ctx.showNextPrice(amt);
            }
        }
        if (const qint64 late = sw::nowMs() - leaveAt(bidMs); round == 0 && late > kLateMs) {
            log.LOGTodbSoon(QStringLiteral("入札遅延：") + id + SEP + amt +
                            QStringLiteral("：入札時刻より") + seconds(late) +
                            QStringLiteral("遅れて送りました（入札の確認画面が遅れたため）"));
        }

        // A confirmation on time leaves at its moment whatever else went to the site this
        // second; one already late (a second round, a bid started after its time) keeps the
        // item's pace like every other request.
        const bool onTime = round == 0 && sw::nowMs() <= leaveAt(bidMs) + kLateMs;
        if (!onTime) {
            co_await paced(ctx.pacer);
            if (ctx.alive.expired())
                co_return abandoned();
        }
        QString url = confirmation();
        // Enough for the maximum at the site's smallest increment, and never more.
        const qint64 maxSubmissions = 2 + qMin<qint64>(qMax<qint64>(0, max - amount) / 10, 10000);
        qint64 inRound = 0;
        bool gotAnswer = false; // the last confirmation came back with a page
        for (;;) {
            // 7-8. Submit. The request leaves first; the log line is written right after, so
            // that no disk write stands between the bid time and the request of any item.
            result.lastAmount = amount;
            result.sent = true;
            result.submitted << amount;
            if (ctx.pacer && inRound++ == 0 && onTime)
                ctx.pacer->reserve(); // counted, never held: it leaves at its moment
            QCoro::Task<FetchResult> sending = ctx.fetcher.FetchPage(url, false);
            log.LOGTodbSoon(QStringLiteral("入札開始：") + id + SEP + amt);
            const FetchResult answer = co_await std::move(sending);
            if (ctx.alive.expired())
                co_return abandoned();
            gotAnswer = answer.ok;
            const QString &page = answer.text;
            if (answer.ok && looksLikeLoginPage(page))
                co_return loginNeeded();

            // 9. Refused: too low, or below the reserve.
            if (answer.ok && page.contains(QStringLiteral("申し訳"))) {
                result.answered << amount;
                if (page.contains(QStringLiteral("最低落札価格よりも低い金額"))) {
                    log.LOGTodb(resultLine(id, amt, QStringLiteral("最低落札価格よりも低い金額 ")));
                    dialog(amt + QStringLiteral("円は最低落札価格よりも低い金額でした。"));
                    result.outcome = BidResult::BelowReserve;
                } else {
                    log.LOGTodb(resultLine(id, amt, QStringLiteral("低い金額")));
                    dialog(amt +
                           QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。"));
                    result.outcome = BidResult::Refused;
                }
                // Raised only within what the user allows at this moment.
                if (ctx.limitsNow) {
                    const std::optional<LiveLimits> live = ctx.limitsNow();
                    if (!live || !live->armed || live->quantity <= 0)
                        co_return result;
                    max = qMin(max, live->max);
                }
                const std::optional<qint64> raised = ladder.next(amount, max);
                if (!raised || qint64(result.submitted.size()) >= maxSubmissions ||
                    sw::nowMs() >= endMs)
                    co_return result;
                int c = 1;
                const QString again = GetBetween(page, c, QStringLiteral("<FORM action=\""),
                                                 QStringLiteral("\" method=GET>"));
                if (again.isEmpty())
                    co_return result; // no form to answer with
                const QString partial =
                    GetBetween(page, c, QStringLiteral("Partial value="), QStringLiteral(">"));
                c = 1;
                const QString previousBid =
                    GetBetween(page, c, QStringLiteral("previousBid value="), QStringLiteral(">"));
                c = 1;
                const QString aValue =
                    GetBetween(page, c, QStringLiteral("a value="), QStringLiteral(">"));
                amount = *raised;
                amt = QString::number(amount);
                if (ctx.showNextPrice)
                    ctx.showNextPrice(amt);
                url = ctx.hosts.formSubmission(
                    again, {{QStringLiteral("ItemID"), id},
                            {QStringLiteral("Bid"), amt},
                            {QStringLiteral("Quantity"), QString::number(quantity)},
                            {QStringLiteral("login"), req.userId},
                            {QStringLiteral("bidType"), QStringLiteral("1000")},
                            {QStringLiteral("cc"), QStringLiteral("jp")},
                            {QStringLiteral("Partial"), partial},
                            {QStringLiteral("previousBid"), previousBid},
                            {QStringLiteral("a"), aValue}});
                if (url.isEmpty()) {
                    log.LOGTodb(QStringLiteral("入札できませんでした：") + id + SEP + amt + SEP +
                                kNotTheSite + again);
                    co_return result;
                }
                co_await paced(ctx.pacer);
                if (ctx.alive.expired())
                    co_return abandoned();
                continue;
            }

            // 10-11. Accepted, or won outright.
            if (answer.ok && (page.contains(QStringLiteral("あなたが現在の「最高額入札者")) ||
                              page.contains(QStringLiteral("あなたの入札額が現在の最高値"))))
                co_return accepted(amount, QStringLiteral("成功 "));
            if (answer.ok && page.contains(QStringLiteral("あなたが落札"))) {
                log.LOGTodb(resultLine(id, amt, QStringLiteral("あなたが落札しました。")));
                dialog(amt + QStringLiteral("円で落札しました。"));
                result.answered << amount;
                result.outcome = BidResult::Won;
                result.success = true;
                co_return result;
            }
            break; // no answer, or one not understood: the item's page tells
        }

        // No answer (a time-out, a dropped connection, a 5xx), or the site's busy page or
        // another page not understood: the amount counts as sent only if it is there.
        log.LOGTodb(resultLine(
            id, amt, gotAnswer ? QStringLiteral("不明 ") : QStringLiteral("サーバー応答なし")));
        co_await paced(ctx.pacer);
        if (ctx.alive.expired())
            co_return abandoned();
        const FetchResult itemPage =
            co_await ctx.fetcher.FetchPage(ctx.hosts.itemPage(req.serverid, id), false);
        if (ctx.alive.expired())
            co_return abandoned();
        const std::optional<ItemState> s =
            itemPage.ok ? ParseItemStatus(itemPage.text, req.userId, sw::now()) : std::nullopt;
        const bool ours =
            s && !req.userId.isEmpty() && s->bidder.compare(req.userId, Qt::CaseInsensitive) == 0;
        if (ours)
            co_return accepted(amount, QStringLiteral("成功（商品ページで確認） "));
        if (s && s->price >= amount) {
            // Someone holds this much already: this amount cannot lead, arrived or not.
            result.answered << amount;
            result.outcome = BidResult::Refused;
            dialog(amt + QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。"));
            co_return result;
        }
        if (!s) {
            // Not known either way; the reading after the bid tries again.
            dialog(amt + QStringLiteral("円の入札の結果が確認できません。") + CRLF +
                   QStringLiteral("商品ページを読み直して確かめます。"));
            result.outcome = BidResult::Unknown;
            co_return result;
        }
        const qint64 lastChance = endMs - clock.sendAheadMs() - kLastChanceMarginMs;
        if (round == 0 && sw::nowMs() < lastChance) {
            log.LOGTodb(QStringLiteral("入札再送：") + id + SEP + amt +
                        QStringLiteral("：入札が商品ページにないので、もう一度送ります"));
            continue;
        }
        result.outcome = BidResult::NotArrived;
        result.why = QStringLiteral("入札に応答がなく、商品ページにも入札がありません");
        log.LOGTodb(QStringLiteral("入札が届きませんでした：") + id + SEP + amt + SEP + result.why);
        dialog(amt + QStringLiteral("円の入札が届きませんでした。") + CRLF + result.why);
        co_return result;
    }
    co_return result;
}

} // namespace sw
