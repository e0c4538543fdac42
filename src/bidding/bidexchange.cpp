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
#include <map>
#include <vector>

namespace sw {

namespace {
const QString CRLF = QStringLiteral("\r\n");
const QString SEP = QStringLiteral("：");
constexpr qint64 kMinLeadMs = 2000;
constexpr qint64 kMaxLeadMs = 60000;
constexpr int kMaxPreviewAttempts = 3;
constexpr int kRetryPauseMs = 500;
constexpr qint64 kLateMs = 500; // a confirmation this much behind its moment is late
const QString kNotTheSite = QStringLiteral("入札の送信先がサイトのものではありません：");
constexpr qint64 kTimerSliceMs = 250;   // a wait looks at the site's clock again this often
constexpr qint64 kQuietBeforeMs = 3000; // no heavy work this long before a bid's moment
constexpr qint64 kQuietAfterMs = 1000;

// One clock for every bid waiting for its moment. Bids due at the same moment are sent
// one after the other in a single pass, with nothing else running in between, rather than
// each on a timer of its own that other work could slip in front of.
//
// A waiter names the moment its request is to reach the site; it leaves that much earlier
// as the site's answers take to arrive, worked out again at every look, so a better
// estimate of the site's clock that comes in during the wait is used. The timer never
// sleeps long, so a suspend or a wrong timer cannot carry a bid past its moment.
class BidClock
{
public:
    static BidClock &instance()
    {
        thread_local BidClock clock;
        return clock;
    }

    // Resumes h once the request of a bid due at `at` (site ms) has to leave, or earlier
    // once its window has closed.
    void wait(qint64 at, std::coroutine_handle<> h, std::weak_ptr<int> alive)
    {
        m_waiting.emplace(at, Waiter{h, std::move(alive)});
        schedule();
    }

    static qint64 leaveAt(qint64 at) { return at - siteClock().sendAheadMs(); }

    // Lets the bids of closed windows end now rather than at their bid time.
    void releaseClosed()
    {
        std::vector<std::coroutine_handle<>> closed;
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            if (it->second.alive.expired()) {
                closed.push_back(it->second.handle);
                it = m_waiting.erase(it);
            } else {
                ++it;
            }
        }
        for (std::coroutine_handle<> h : closed)
            h.resume();
        schedule();
    }

private:
    BidClock()
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fire(); });
    }

    void schedule()
    {
        if (m_waiting.empty())
            return;
        const qint64 ms = leaveAt(m_waiting.begin()->first) - sw::nowMs();
        m_timer.start(int(qBound(qint64(0), ms, kTimerSliceMs)));
    }

    void fire()
    {
        const qint64 now = sw::nowMs();
        std::vector<std::coroutine_handle<>> due;
        while (!m_waiting.empty() && leaveAt(m_waiting.begin()->first) <= now) {
            due.push_back(m_waiting.begin()->second.handle);
            m_waiting.erase(m_waiting.begin());
        }
        for (std::coroutine_handle<> h : due)
            h.resume();
        schedule();
    }

    struct Waiter
    {
        std::coroutine_handle<> handle;
        std::weak_ptr<int> alive;
    };
    std::multimap<qint64, Waiter> m_waiting;
    QTimer m_timer;
};

// Trivially copyable on purpose: g++ 12 may destroy a temporary awaiter with owning
// members twice.
struct UntilBidTime
{
    qint64 at;
    const std::weak_ptr<int> *alive; // the exchange's own token, which outlives the wait
    bool await_ready() const noexcept { return sw::nowMs() >= BidClock::leaveAt(at); }
    void await_suspend(std::coroutine_handle<> h) { BidClock::instance().wait(at, h, *alive); }
    void await_resume() const noexcept {}
};

std::map<const void *, qint64> &plannedBids()
{
    static std::map<const void *, qint64> planned;
    return planned;
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral("秒");
}

} // namespace

void releaseClosedBids()
{
    BidClock::instance().releaseClosed();
}

qint64 previewLeadMs(const SiteClock &clock)
{
    // Two and a half slow answers: one preview that takes its time and a second try after
    // a failure still come back before the confirmation has to leave. A round trip counts
    // as an answer too: the clock's probes may be all that has been asked yet.
    const qint64 slow = qMax(clock.slowAnswerMs(), clock.roundTripMs());
    const qint64 lead = slow * 5 / 2 + clock.sendAheadMs() + 500;
    return std::clamp(lead, kMinLeadMs, kMaxLeadMs);
}

void planBid(const void *owner, qint64 atSiteMs)
{
    plannedBids()[owner] = atSiteMs;
}

void unplanBid(const void *owner)
{
    plannedBids().erase(owner);
}

bool bidsImminent(qint64 nowSiteMs, const void *except)
{
    for (const auto &[owner, at] : plannedBids()) {
        if (owner != except && at - kQuietBeforeMs <= nowSiteMs && nowSiteMs <= at + kQuietAfterMs)
            return true;
    }
    return false;
}

qint64 RequestPacer::reserve()
{
    const qint64 now = siteClock().monoMs();
    while (!m_slots.empty() && now - m_slots.front() >= 1000)
        m_slots.pop_front();
    qint64 at = now;
    if (int(m_slots.size()) >= kPerSecond)
        at = m_slots[m_slots.size() - kPerSecond] + 1000;
    m_slots.push_back(at);
    return at - now;
}

namespace {

// The amounts a bid may still send, raised one unit at a time from `first` up to the
// maximum, leaving out what was sent before.
struct AmountLadder
{
    qint32 unit; // 0: the site's increment for the amount being raised from
    qint32 max;
    const QSet<qint32> &sent;
    std::optional<qint32> next(qint32 from) const
    {
        qint32 a = from;
        for (;;) {
            if (a >= max)
                return std::nullopt;
            a = qMin(max, a + (unit > 0 ? unit : siteBidIncrement(a)));
            if (!sent.contains(a))
                return a;
        }
    }
};

QString resultLine(const QString &id, const QString &amt, const QString &outcome)
{
    return QStringLiteral("入札結果：") + id + SEP + amt + SEP + outcome;
}

} // namespace

QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req)
{
    BidResult result;
    const QString id = req.itemid;
    qint32 amount = req.amount;
    QString amt = QString::number(amount);
    const std::optional<qint32> max = amountOf(req.maxText);
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
    auto loginNeeded = [&] {
        result.outcome = BidResult::LoginNeeded;
        const QString why =
            QStringLiteral("ログインが必要です（サイトがログイン画面を返しました）");
        log.LOGTodb(QStringLiteral("入札できませんでした：") + id + SEP + amt + SEP + why);
        dialog(QStringLiteral("ログインが必要です。Yahoo! JAPANにログインしてください。"));
        result.why = why;
        return result;
    };
    auto blocked = [&](const QString &why) {
        result.outcome = BidResult::Blocked;
        result.why = why;
        log.LOGTodb(QStringLiteral("入札中止：") + id + SEP + amt + SEP + why);
        return result;
    };
    // Waits for the item's next request slot; false when the window closed meanwhile.
    auto paced = [&]() -> QCoro::Task<bool> {
        const qint64 wait = ctx.pacer ? ctx.pacer->reserve() : 0;
        if (wait > 0)
            co_await preciseSleep(int(wait));
        co_return !ctx.alive.expired();
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
            co_return blocked(*why);
    }

    // 1-4. The preview and its confirmation form, unless the auction is over. A preview
    // that fails, stalls or does not read is asked for again while a confirmation could
    // still reach the site before the end, each try given no more time than is left.
    QString action;
    QString a;
    QString why;
    for (int attempt = 1;; ++attempt) {
        const qint64 lastChance = endMs - clock.sendAheadMs() - 200;
        const qint64 now = sw::nowMs();
        if (attempt > kMaxPreviewAttempts || (attempt > 1 && now >= lastChance))
            co_return neverSent(why.isEmpty() ? QStringLiteral("終了時刻を過ぎました") : why);
        const qint64 usual = qMax<qint64>(clock.slowAnswerMs(), 1000);
        const qint64 timeout =
            std::clamp<qint64>(qMin(usual * 2 + 1000, qint64(ctx.fetcher.timeoutMs())), 1000,
                               qMax<qint64>(1000, lastChance - now));
        if (!co_await paced())
            co_return abandoned();
        const FetchResult preview =
            co_await ctx.fetcher.FetchPage(ctx.hosts.bidPreview(req.serverid, id, amt, req.userId,
                                                                req.encodedPassword, req.quantity),
                                           false, int(timeout));
        if (ctx.alive.expired())
            co_return abandoned();
        if (!preview.ok) {
            log.LOGTodb(QStringLiteral("入札準備２：") + id + SEP + amt +
                        QStringLiteral("：サーバー応答なし"));
            why = preview.timedOut ? QStringLiteral("入札の確認画面が時間内に届きませんでした")
                                   : QStringLiteral("入札の確認画面を取得できませんでした");
            co_await preciseSleep(kRetryPauseMs);
            if (ctx.alive.expired())
                co_return abandoned();
            continue;
        }
        if (looksLikeLoginPage(preview.text))
            co_return loginNeeded();
        int cursor = 1;
        action = GetBetween(preview.text, cursor, QStringLiteral("<FORM ACTION=\""),
                            QStringLiteral("\" METHOD="));
        if (preview.text.contains(QStringLiteral("既に終了"))) {
            log.LOGTodb(QStringLiteral("入札結果：") + id + QStringLiteral("：既に終了"));
            dialog(QStringLiteral("既に終了。"));
            result.outcome = BidResult::Ended;
            co_return result;
        }
        a = GetBetween(preview.text, cursor, QStringLiteral("\"a\" VALUE=\""),
                       QStringLiteral("\">"));
        if (!action.isEmpty())
            break;
        log.LOGTodb(QStringLiteral("入札準備３：") + id + SEP + amt +
                    QStringLiteral("：サーバー応答なし"));
        why = QStringLiteral("入札の確認画面に入札の欄がありませんでした");
        co_await preciseSleep(kRetryPauseMs);
        if (ctx.alive.expired())
            co_return abandoned();
    }

    // 5. The confirmation address: on the site's own host, whatever the page says.
    QString url =
        ctx.hosts.formSubmission(action, {{QStringLiteral("Partial"), QStringLiteral("1")},
                                          {QStringLiteral("ItemID"), id},
                                          {QStringLiteral("login"), req.userId},
                                          {QStringLiteral("cc"), QStringLiteral("jp")},
                                          {QStringLiteral("Quantity"), req.quantity},
                                          {QStringLiteral("Bid"), QString::number(amount)},
                                          {QStringLiteral("bidType"), QStringLiteral("1000")},
                                          {QStringLiteral("comment"), QStringLiteral("0")},
                                          {QStringLiteral("itemStyles"), QStringLiteral("1")},
                                          {QStringLiteral("a"), a}});
    if (url.isEmpty())
        co_return neverSent(kNotTheSite + action);

    // 6. Wait until the request has to leave to reach the site at the bid time; a moment
    // already past does not wait.
    co_await UntilBidTime{bidMs, &ctx.alive};
    if (ctx.alive.expired())
        co_return abandoned();
    if (sw::nowMs() >= endMs)
        co_return neverSent(
            QStringLiteral("入札の確認画面が届いたときには終了時刻を過ぎていました"));
    if (ctx.mayBid) {
        if (const std::optional<QString> blockedBy = ctx.mayBid())
            co_return blocked(*blockedBy);
    }
    if (const qint64 late = sw::nowMs() - BidClock::leaveAt(bidMs); late > kLateMs) {
        log.LOGTodbSoon(QStringLiteral("入札遅延：") + id + SEP + amt +
                        QStringLiteral("：入札時刻より") + seconds(late) +
                        QStringLiteral("遅れて送りました（入札の確認画面が遅れたため）"));
    }

    // Enough for the maximum at the site's smallest increment, and never more.
    const int maxSubmissions = 2 + (max ? qMax(0, *max - amount) / 10 : 0);
    const AmountLadder ladder{req.unit, max.value_or(amount), req.alreadySent};
    for (;;) {
        // 7-8. Submit.
        // The request leaves first; the log line is written right after, so that no disk
        // write stands between the bid time and the request of this or any other window.
        result.lastAmount = amount;
        result.sent = true;
        result.submitted << amount;
        if (ctx.pacer && result.submitted.size() == 1)
            ctx.pacer->reserve(); // counted, never held: it leaves at its moment
        QCoro::Task<FetchResult> sending = ctx.fetcher.FetchPage(url, false);
        log.LOGTodbSoon(QStringLiteral("入札開始：") + id + SEP + amt);
        const FetchResult answer = co_await std::move(sending);
        if (ctx.alive.expired())
            co_return abandoned();
        if (!answer.ok) {
            result.outcome = BidResult::NoAnswer;
            dialog(amt + QStringLiteral("サーバー応答なし"));
            co_return result;
        }
        const QString &page = answer.text;
        if (looksLikeLoginPage(page))
            co_return loginNeeded();

        // 9. Refused: too low, or below the reserve.
        if (page.contains(QStringLiteral("申し訳"))) {
            if (page.contains(QStringLiteral("最低落札価格よりも低い金額"))) {
                log.LOGTodb(resultLine(id, amt, QStringLiteral("最低落札価格よりも低い金額 ")));
                dialog(amt + QStringLiteral("円は最低落札価格よりも低い金額でした。"));
                result.outcome = BidResult::BelowReserve;
            } else {
                log.LOGTodb(resultLine(id, amt, QStringLiteral("低い金額")));
                dialog(amt + QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。"));
                result.outcome = BidResult::Refused;
            }
            const std::optional<qint32> raised = ladder.next(amount);
            if (!max || !raised || result.submitted.size() >= maxSubmissions ||
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
            amt = amount == *max ? req.maxText.trimmed() : QString::number(amount);
            if (ctx.showNextPrice)
                ctx.showNextPrice(amt);
            url = ctx.hosts.formSubmission(again,
                                           {{QStringLiteral("ItemID"), id},
                                            {QStringLiteral("Bid"), QString::number(amount)},
                                            {QStringLiteral("Quantity"), req.quantity},
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
            if (!co_await paced())
                co_return abandoned();
            continue;
        }

        // 10-11. Accepted, won outright, or not understood.
        if (page.contains(QStringLiteral("あなたが現在の「最高額入札者")) ||
            page.contains(QStringLiteral("あなたの入札額が現在の最高値"))) {
            log.LOGTodb(resultLine(id, amt, QStringLiteral("成功 ")));
            dialog(amt + QStringLiteral("円で入札しました。") + CRLF +
                   QStringLiteral("あなたの入札額が現在の最高値です。"));
            result.outcome = BidResult::Accepted;
            result.success = true;
        } else if (page.contains(QStringLiteral("あなたが落札"))) {
            log.LOGTodb(resultLine(id, amt, QStringLiteral("あなたが落札しました。")));
            dialog(amt + QStringLiteral("円で落札しました。"));
            result.outcome = BidResult::Won;
            result.success = true;
        } else {
            // Not a placed bid until the item's page says so: it is read again at once.
            log.LOGTodb(resultLine(id, amt, QStringLiteral("不明 ")));
            dialog(amt + QStringLiteral("円の入札の結果が確認できません。") + CRLF +
                   QStringLiteral("商品ページを読み直して確かめます。"));
            result.outcome = BidResult::Unknown;
        }
        co_return result;
    }
}

} // namespace sw
