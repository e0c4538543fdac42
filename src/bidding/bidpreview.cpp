#include "bidpreview.h"

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
const QString SEP = QStringLiteral("：");
constexpr qint64 kMinLeadMs = 2000;
constexpr qint64 kMaxLeadMs = 60000;
constexpr qint64 kMinStallMs = 3000;
constexpr qint64 kMaxStallMs = 20000;
constexpr int kMaxPreviews = 3;
constexpr int kRetryPauseMs = 500;

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

} // namespace

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
    SiteClock &clock = ctx.timingNow().clock();
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
} // namespace sw
