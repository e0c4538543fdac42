#include "bidexchange.h"

#include "activitylog.h"
#include "autobid.h"
#include "clock.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "sitehosts.h"

#include <QTimer>

#include <coroutine>
#include <map>
#include <vector>

namespace sw {

namespace {
const QString CRLF = QStringLiteral("\r\n");
const QString SEP = QStringLiteral("：");

// One clock for every bid waiting for its moment. Bids due at the same moment are sent
// one after the other in a single pass, with nothing else running in between, rather than
// each on a timer of its own that other work could slip in front of.
class BidClock
{
public:
    static BidClock &instance()
    {
        thread_local BidClock clock;
        return clock;
    }

    // Resumes h once the clock reaches `at`, or earlier once its window has closed.
    void wait(qint64 at, std::coroutine_handle<> h, std::weak_ptr<int> alive)
    {
        m_waiting.emplace(at, Waiter{h, std::move(alive)});
        schedule();
    }

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
        const qint64 ms = m_waiting.begin()->first - sw::now().toMSecsSinceEpoch();
        m_timer.start(int(qBound(qint64(0), ms, qint64(3600 * 1000))));
    }

    void fire()
    {
        const qint64 now = sw::now().toMSecsSinceEpoch();
        std::vector<std::coroutine_handle<>> due;
        while (!m_waiting.empty() && m_waiting.begin()->first <= now) {
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
    bool await_ready() const noexcept { return sw::now().toMSecsSinceEpoch() >= at; }
    void await_suspend(std::coroutine_handle<> h) { BidClock::instance().wait(at, h, *alive); }
    void await_resume() const noexcept {}
};

} // namespace

void releaseClosedBids()
{
    BidClock::instance().releaseClosed();
}

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

    // 1-2. The preview.
    const FetchResult preview = co_await ctx.fetcher.FetchPage(
        ctx.hosts.bidPreview(req.serverid, id, amt, req.userId, req.encodedPassword, req.quantity),
        false);
    if (ctx.alive.expired())
        co_return abandoned();
    if (!preview.ok) {
        log.LOGTodb(QStringLiteral("入札準備２：") + id + SEP + amt +
                    QStringLiteral("：サーバー応答なし"));
        co_return result;
    }

    // 3-4. The confirmation form, unless the auction is over.
    int cursor = 1;
    const QString action = GetBetween(preview.text, cursor, QStringLiteral("<FORM ACTION=\""),
                                      QStringLiteral("\" METHOD="));
    if (preview.text.contains(QStringLiteral("既に終了"))) {
        log.LOGTodb(QStringLiteral("入札結果：") + id + QStringLiteral("：既に終了"));
        result.dialogText = QStringLiteral("入札結果：") + id + CRLF + QStringLiteral("既に終了。");
        result.showDialog = true;
        co_return result;
    }
    const QString a =
        GetBetween(preview.text, cursor, QStringLiteral("\"a\" VALUE=\""), QStringLiteral("\">"));
    if (action.isEmpty()) {
        const QString line =
            QStringLiteral("入札準備３：") + id + SEP + amt + QStringLiteral("：サーバー応答なし");
        log.LOGTodb(line);
        result.dialogText =
            QStringLiteral("入札準備３：") + id + QStringLiteral("：サーバー応答なし");
        result.showDialog = true;
        co_return result;
    }

    // 5. The confirmation address.
    QString url = action + QStringLiteral("?Partial=1") + QStringLiteral("&ItemID=") + id +
                  QStringLiteral("&login=") + req.userId + QStringLiteral("&cc=jp&Quantity=") +
                  req.quantity + QStringLiteral("&Bid=") + amt +
                  QStringLiteral("&bidType=1000&comment=0&itemStyles=1") + QStringLiteral("&a=") +
                  a;

    // 6. Wait for the bid time; a time already past does not wait.
    co_await UntilBidTime{req.bidTime.toMSecsSinceEpoch(), &ctx.alive};
    if (ctx.alive.expired())
        co_return abandoned();

    for (;;) {
        // 7-8. Submit.
        // The request leaves first; the log line is written right after, so that no disk
        // write stands between the bid time and the request of this or any other window.
        result.lastAmount = amount;
        QCoro::Task<FetchResult> sending = ctx.fetcher.FetchPage(url, false);
        log.LOGTodbSoon(QStringLiteral("入札開始：") + id + SEP + amt);
        const FetchResult answer = co_await std::move(sending);
        if (ctx.alive.expired())
            co_return abandoned();
        if (!answer.ok) {
            result.dialogText =
                QStringLiteral("入札結果：") + id + CRLF + amt + QStringLiteral("サーバー応答なし");
            result.showDialog = true;
            co_return result;
        }
        const QString &page = answer.text;

        // 9. Refused: too low, or below the reserve.
        if (page.contains(QStringLiteral("申し訳"))) {
            if (page.contains(QStringLiteral("最低落札価格よりも低い金額"))) {
                log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt +
                            QStringLiteral("：最低落札価格よりも低い金額 "));
                result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                    QStringLiteral("円は最低落札価格よりも低い金額でした。");
            } else {
                log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt +
                            QStringLiteral("：低い金額"));
                result.dialogText =
                    QStringLiteral("入札結果：") + id + CRLF + amt +
                    QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。");
            }
            result.showDialog = true;
            if (!max || amount >= *max)
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
            amount += req.unit;
            amt = QString::number(amount);
            if (*max < amount) {
                amount = *max;
                amt = req.maxText.trimmed();
            }
            if (ctx.showNextPrice)
                ctx.showNextPrice(amt);
            url = again + QStringLiteral("?") + QStringLiteral("ItemID=") + id +
                  QStringLiteral("&Bid=") + QString::number(amount) + QStringLiteral("&Quantity=") +
                  req.quantity + QStringLiteral("&login=") + req.userId +
                  QStringLiteral("&bidType=1000") + QStringLiteral("&cc=jp") +
                  QStringLiteral("&Partial=") + partial + QStringLiteral("&previousBid=") +
                  previousBid + QStringLiteral("&a=") + aValue;
            continue;
        }

        // 10-11. Accepted, won outright, or not understood.
        if (page.contains(QStringLiteral("あなたが現在の「最高額入札者")) ||
            page.contains(QStringLiteral("あなたの入札額が現在の最高値"))) {
            log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt + QStringLiteral("：成功 "));
            result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                QStringLiteral("円で入札しました。") + CRLF +
                                QStringLiteral("あなたの入札額が現在の最高値です。");
            result.success = true;
        } else if (page.contains(QStringLiteral("あなたが落札"))) {
            log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt +
                        QStringLiteral("：あなたが落札しました。"));
            result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                QStringLiteral("円で落札しました。");
            result.success = true;
        } else {
            log.LOGTodb(QStringLiteral("入札結果：") + id + SEP + amt + QStringLiteral("：不明 "));
            result.dialogText = QStringLiteral("入札結果：") + id + CRLF + amt +
                                QStringLiteral("円で入札しました。");
        }
        result.showDialog = true;
        co_return result;
    }
}

} // namespace sw
