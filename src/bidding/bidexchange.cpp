#include "bidexchange.h"

#include "activitylog.h"
#include "autobid.h"
#include "bidpreview.h"
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

std::optional<qint64> AmountLadder::next(qint64 from, qint64 max) const
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

namespace {
const QString CRLF = QStringLiteral("\r\n");
const QString SEP = QStringLiteral("：");
constexpr qint64 kLateMs = 500; // a confirmation this much behind its moment is late
const QString kNotTheSite = QStringLiteral("入札の送信先がサイトのものではありません：");

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral("秒");
}

QString resultLine(const QString &id, const QString &amt, const QString &outcome)
{
    return QStringLiteral("入札結果：") + id + SEP + amt + SEP + outcome;
}

} // namespace

namespace {

// What a confirmation (or a raise) came back with.
struct Answer
{
    enum Kind
    {
        Accepted,      // we lead
        Won,           // bought outright
        TooLow,        // a rival holds more
        BelowReserve,  // under the seller's reserve
        Login,         // the site's login page
        NoAnswer,      // a time-out, a dropped connection, an error status
        NotUnderstood, // a page, but none of the above (the busy page, say)
    };
    Kind kind = NoAnswer;
    QString page;
};

Answer readAnswer(const FetchResult &r)
{
    Answer a;
    a.page = r.text;
    if (!r.ok)
        a.kind = Answer::NoAnswer;
    else if (looksLikeLoginPage(r.text))
        a.kind = Answer::Login;
    else if (r.text.contains(QStringLiteral("申し訳")))
        a.kind = r.text.contains(QStringLiteral("最低落札価格よりも低い金額"))
                     ? Answer::BelowReserve
                     : Answer::TooLow;
    else if (r.text.contains(QStringLiteral("あなたが現在の「最高額入札者")) ||
             r.text.contains(QStringLiteral("あなたの入札額が現在の最高値")))
        a.kind = Answer::Accepted;
    else if (r.text.contains(QStringLiteral("あなたが落札")))
        a.kind = Answer::Won;
    else
        a.kind = Answer::NotUnderstood;
    return a;
}

// The form a "too low" answer carries for the next amount.
struct RaiseForm
{
    QString action;
    QString partial;
    QString previousBid;
    QString a;
};

RaiseForm raiseFormOf(const QString &page)
{
    RaiseForm f;
    int c = 1;
    f.action =
        GetBetween(page, c, QStringLiteral("<FORM action=\""), QStringLiteral("\" method=GET>"));
    f.partial = GetBetween(page, c, QStringLiteral("Partial value="), QStringLiteral(">"));
    c = 1;
    f.previousBid = GetBetween(page, c, QStringLiteral("previousBid value="), QStringLiteral(">"));
    c = 1;
    f.a = GetBetween(page, c, QStringLiteral("a value="), QStringLiteral(">"));
    return f;
}

// One bid's exchange with the site, step by step: the preview, the confirmation at the bid
// time, the answer, and the raises while the site says "too low". What the user last said
// (amount, maximum, quantity) is asked again right before every request that can place a
// bid leaves, after every wait.
class Exchange
{
public:
    Exchange(BidContext &ctx, BidRequest &req)
        : m_ctx(ctx), m_req(req), m_log(ctx.log), m_id(req.itemid), m_amount(req.amount),
          m_max(qMax(req.max, req.amount)), m_quantity(req.quantity),
          m_bidMs(req.bidTime.toMSecsSinceEpoch()),
          // After the end nothing can arrive in time; without an end given, a minute after
          // the bid time stands in for it.
          m_endMs(req.end.isValid() ? req.end.toMSecsSinceEpoch() : m_bidMs + 60000),
          m_ladder{req.unit, req.alreadySent}
    {}

    QCoro::Task<BidResult> run();

private:
    QString amt() const { return QString::number(m_amount); }
    qint64 lastChance() const
    {
        return m_endMs - m_ctx.timingNow().clock().sendAheadMs() - kLastChanceMarginMs;
    }

    // The ends an exchange comes to; each writes its log line and the window's text.
    void dialog(const QString &text)
    {
        m_result.dialogText = QStringLiteral("入札結果：") + m_id + CRLF + text;
        m_result.showDialog = true;
    }
    BidResult abandoned()
    {
        m_log.LOGTodb(QStringLiteral("入札中止：") + m_id + SEP + amt() +
                      QStringLiteral("：入札画面が閉じられたため入札を中止しました"));
        m_result.abandoned = true;
        return m_result;
    }
    BidResult neverSent(const QString &why)
    {
        m_log.LOGTodb(QStringLiteral("入札できませんでした：") + m_id + SEP + amt() + SEP + why);
        dialog(amt() + QStringLiteral("円の入札を送れませんでした。") + CRLF + why);
        m_result.why = why;
        return m_result;
    }
    BidResult stopped(BidResult::Outcome outcome, const QString &why)
    {
        m_result.outcome = outcome;
        m_result.why = why;
        m_log.LOGTodb(QStringLiteral("入札中止：") + m_id + SEP + amt() + SEP + why);
        return m_result;
    }
    // The site has the amount and we lead with it.
    BidResult accepted(const QString &how)
    {
        m_log.LOGTodb(resultLine(m_id, amt(), how));
        dialog(amt() + QStringLiteral("円で入札しました。") + CRLF +
               QStringLiteral("あなたの入札額が現在の最高値です。"));
        m_result.answered << m_amount;
        m_result.outcome = BidResult::Accepted;
        m_result.success = true;
        return m_result;
    }
    BidResult won()
    {
        m_log.LOGTodb(resultLine(m_id, amt(), QStringLiteral("あなたが落札しました。")));
        dialog(amt() + QStringLiteral("円で落札しました。"));
        m_result.answered << m_amount;
        m_result.outcome = BidResult::Won;
        m_result.success = true;
        return m_result;
    }
    BidResult tooLow()
    {
        dialog(amt() + QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。"));
        m_result.outcome = BidResult::Refused;
        return m_result;
    }
    BidResult loginNeeded()
    {
        m_result.outcome = BidResult::LoginNeeded;
        const QString why =
            QStringLiteral("ログインが必要です（サイトがログイン画面を返しました）");
        m_log.LOGTodb(QStringLiteral("入札できませんでした：") + m_id + SEP + amt() + SEP + why);
        dialog(QStringLiteral("ログインが必要です。Yahoo! JAPANにログインしてください。"));
        m_result.why = why;
        return m_result;
    }
    BidResult notArrived(const QString &why)
    {
        m_result.outcome = BidResult::NotArrived;
        m_result.why = why;
        m_log.LOGTodb(QStringLiteral("入札が届きませんでした：") + m_id + SEP + amt() + SEP + why);
        dialog(amt() + QStringLiteral("円の入札が届きませんでした。") + CRLF + why);
        return m_result;
    }

    std::optional<BidResult> lastWord(bool followRaisedMax);
    QCoro::Task<std::optional<BidResult>> readyToSend(bool pace, bool followRaisedMax);
    QString confirmationUrl(const Preview &p) const;
    QString raiseUrl(const RaiseForm &f) const;
    QCoro::Task<Answer> send(QString url, bool onTime);
    std::optional<BidResult> refused(const Answer &answer, RaiseForm &next);
    QCoro::Task<std::optional<BidResult>> checkOnItemPage(bool gotAnswer, int round);

    BidContext &m_ctx;
    BidRequest &m_req;
    ActivityLog &m_log;
    const QString m_id;
    qint64 m_amount;
    qint64 m_max;
    int m_quantity;
    const qint64 m_bidMs;
    const qint64 m_endMs;
    const AmountLadder m_ladder;
    BidResult m_result;
};

// The user's word at this moment: why the bid must not leave, or nullopt with the amount,
// maximum and quantity as the user has them now. A lowered maximum lowers the amount (never
// to one sent before); a raised one is followed only by a bid at its maximum that has not
// been answered yet (never by a raise the site asked for).
std::optional<BidResult> Exchange::lastWord(bool followRaisedMax)
{
    if (m_ctx.alive.expired())
        return abandoned();
    if (sw::nowMs() >= m_endMs) {
        if (!m_result.answered.isEmpty())
            return m_result; // the site's last answer stands
        if (m_result.sent)
            return notArrived(QStringLiteral("入札に応答がなく、送り直す前に終了時刻になりました"));
        return neverSent(QStringLiteral("入札の確認画面が届いたときには終了時刻を過ぎていました"));
    }
    if (m_ctx.mayBid) {
        if (const std::optional<QString> blockedBy = m_ctx.mayBid())
            return stopped(BidResult::Blocked, *blockedBy);
    }
    if (!m_ctx.limitsNow)
        return std::nullopt;
    const std::optional<LiveLimits> live = m_ctx.limitsNow();
    if (!live)
        return stopped(BidResult::Cancelled, QStringLiteral("商品が削除されました"));
    if (live->quantity <= 0)
        return stopped(BidResult::Cancelled, QStringLiteral("入札数量が０に変更されました"));
    const qint64 before = m_amount;
    if (live->max < m_amount) {
        const bool refusedAlready =
            !m_result.answered.isEmpty() &&
            live->max <= *std::max_element(m_result.answered.begin(), m_result.answered.end());
        if (live->max < live->lowest || m_req.alreadySent.contains(live->max) || refusedAlready)
            return stopped(BidResult::Cancelled,
                           QStringLiteral("上限価格が") + formatYen(live->max) +
                               QStringLiteral("円に下げられ、入札できる金額ではなくなりました"));
        m_amount = live->max;
    } else if (!live->armed) {
        return stopped(BidResult::Cancelled, QStringLiteral("自動入札が解除されました"));
    } else if (followRaisedMax && m_amount >= m_max && live->max > m_amount) {
        m_amount = live->max; // the maximum was raised: it is what the user bids
    }
    m_max = live->max;
    m_quantity = live->quantity;
    if (m_amount != before && m_ctx.showNextPrice)
        m_ctx.showNextPrice(amt());
    return std::nullopt;
}

// The wait for the item's request pace (when asked), then the user's last word.
QCoro::Task<std::optional<BidResult>> Exchange::readyToSend(bool pace, bool followRaisedMax)
{
    if (pace)
        co_await paced(m_ctx.pacer);
    co_return lastWord(followRaisedMax);
}

// The confirmation address: on the site's own host, whatever the page says.
QString Exchange::confirmationUrl(const Preview &p) const
{
    return m_ctx.hosts.formSubmission(p.action,
                                      {{QStringLiteral("Partial"), QStringLiteral("1")},
                                       {QStringLiteral("ItemID"), m_id},
                                       {QStringLiteral("login"), m_req.userId},
                                       {QStringLiteral("cc"), QStringLiteral("jp")},
                                       {QStringLiteral("Quantity"), QString::number(m_quantity)},
                                       {QStringLiteral("Bid"), amt()},
                                       {QStringLiteral("bidType"), QStringLiteral("1000")},
                                       {QStringLiteral("comment"), QStringLiteral("0")},
                                       {QStringLiteral("itemStyles"), QStringLiteral("1")},
                                       {QStringLiteral("a"), p.a}});
}

QString Exchange::raiseUrl(const RaiseForm &f) const
{
    return m_ctx.hosts.formSubmission(f.action,
                                      {{QStringLiteral("ItemID"), m_id},
                                       {QStringLiteral("Bid"), amt()},
                                       {QStringLiteral("Quantity"), QString::number(m_quantity)},
                                       {QStringLiteral("login"), m_req.userId},
                                       {QStringLiteral("bidType"), QStringLiteral("1000")},
                                       {QStringLiteral("cc"), QStringLiteral("jp")},
                                       {QStringLiteral("Partial"), f.partial},
                                       {QStringLiteral("previousBid"), f.previousBid},
                                       {QStringLiteral("a"), f.a}});
}

// 7-8. The request leaves first, exactly once (a dropped connection is no answer, never a
// second copy); the log line is written right after, so that no disk write stands between
// the bid time and the request of any item.
QCoro::Task<Answer> Exchange::send(QString url, bool onTime)
{
    m_result.lastAmount = m_amount;
    m_result.sent = true;
    m_result.submitted << m_amount;
    if (m_ctx.pacer && onTime)
        m_ctx.pacer->reserve(); // counted, never held: it leaves at its moment
    QCoro::Task<FetchResult> sending = m_ctx.fetcher.FetchOnce(url);
    m_log.LOGTodbSoon(QStringLiteral("入札開始：") + m_id + SEP + amt());
    const FetchResult r = co_await std::move(sending);
    co_return readAnswer(r);
}

// 9. Too low, or below the reserve: logged, and the next amount within what the user allows
// at this moment with the form to send it (nullopt), or the exchange's end.
std::optional<BidResult> Exchange::refused(const Answer &answer, RaiseForm &next)
{
    m_result.answered << m_amount;
    if (answer.kind == Answer::BelowReserve) {
        m_log.LOGTodb(resultLine(m_id, amt(), QStringLiteral("最低落札価格よりも低い金額 ")));
        dialog(amt() + QStringLiteral("円は最低落札価格よりも低い金額でした。"));
        m_result.outcome = BidResult::BelowReserve;
    } else {
        m_log.LOGTodb(resultLine(m_id, amt(), QStringLiteral("低い金額")));
        tooLow();
    }
    if (m_ctx.limitsNow) {
        const std::optional<LiveLimits> live = m_ctx.limitsNow();
        if (!live || !live->armed || live->quantity <= 0)
            return m_result;
        m_max = qMin(m_max, live->max);
    }
    // Enough for the maximum at the site's smallest increment, and never more.
    const qsizetype maxSubmissions =
        2 + qMin<qint64>(qMax<qint64>(0, m_max - m_req.amount) / 10, 10000);
    const std::optional<qint64> raised = m_ladder.next(m_amount, m_max);
    if (!raised || m_result.submitted.size() >= maxSubmissions || sw::nowMs() >= m_endMs)
        return m_result;
    next = raiseFormOf(answer.page);
    if (next.action.isEmpty())
        return m_result; // no form to answer with
    m_amount = *raised;
    if (m_ctx.showNextPrice)
        m_ctx.showNextPrice(amt());
    if (raiseUrl(next).isEmpty()) {
        m_log.LOGTodb(QStringLiteral("入札できませんでした：") + m_id + SEP + amt() + SEP +
                      kNotTheSite + next.action);
        return m_result;
    }
    return std::nullopt;
}

// No answer (a time-out, a dropped connection, a 5xx), or a page not understood: the amount
// counts as sent only if the item's page shows it. nullopt: send once more.
QCoro::Task<std::optional<BidResult>> Exchange::checkOnItemPage(bool gotAnswer, int round)
{
    m_log.LOGTodb(resultLine(
        m_id, amt(), gotAnswer ? QStringLiteral("不明 ") : QStringLiteral("サーバー応答なし")));
    co_await paced(m_ctx.pacer);
    if (m_ctx.alive.expired())
        co_return abandoned();
    const FetchResult itemPage =
        co_await m_ctx.fetcher.FetchPage(m_ctx.hosts.itemPage(m_req.serverid, m_id), false);
    if (m_ctx.alive.expired())
        co_return abandoned();
    const std::optional<ItemState> s =
        itemPage.ok ? ParseItemStatus(itemPage.text, m_req.userId, sw::now()) : std::nullopt;
    if (s && !m_req.userId.isEmpty() && sameMember(s->bidder, m_req.userId))
        co_return accepted(QStringLiteral("成功（商品ページで確認） "));
    if (s && s->price >= m_amount) {
        // Someone holds this much already: this amount cannot lead, arrived or not.
        m_result.answered << m_amount;
        co_return tooLow();
    }
    if (!s) {
        // Not known either way; the reading after the bid tries again.
        dialog(amt() + QStringLiteral("円の入札の結果が確認できません。") + CRLF +
               QStringLiteral("商品ページを読み直して確かめます。"));
        m_result.outcome = BidResult::Unknown;
        co_return m_result;
    }
    if (round == 0 && sw::nowMs() < lastChance()) {
        m_log.LOGTodb(QStringLiteral("入札再送：") + m_id + SEP + amt() +
                      QStringLiteral("：入札が商品ページにないので、もう一度送ります"));
        co_return std::nullopt;
    }
    co_return notArrived(QStringLiteral("入札に応答がなく、商品ページにも入札がありません"));
}

QCoro::Task<BidResult> Exchange::run()
{
    if (!SiteHosts::isServerId(m_req.serverid) || !SiteHosts::isItemId(m_id))
        co_return neverSent(QStringLiteral("商品IDかサーバー番号が正しくありません"));
    if (sw::nowMs() >= m_endMs)
        co_return neverSent(QStringLiteral("終了時刻を過ぎています"));
    if (m_req.alreadySent.contains(m_amount))
        co_return neverSent(QStringLiteral("同じ金額はすでに入札しています"));
    if (m_ctx.mayBid) {
        if (const std::optional<QString> why = m_ctx.mayBid())
            co_return stopped(BidResult::Blocked, *why);
    }

    // A second round only when the first confirmation got no answer and the item's page
    // does not show it: a new preview (its form may be spent) and the confirmation at once.
    for (int round = 0; round < 2; ++round) {
        // 1-4. The preview.
        const Preview preview = co_await askPreview(m_ctx, m_req, amt(), m_quantity, m_endMs);
        switch (preview.kind) {
        case Preview::Gone:
            co_return abandoned();
        case Preview::Login:
            co_return loginNeeded();
        case Preview::Ended:
            m_log.LOGTodb(QStringLiteral("入札結果：") + m_id + QStringLiteral("：既に終了"));
            dialog(QStringLiteral("既に終了。"));
            m_result.outcome = BidResult::Ended;
            co_return m_result;
        case Preview::Failed:
            if (round > 0)
                co_return notArrived(
                    QStringLiteral("入札に応答がなく、送り直す前に終了時刻になりました"));
            co_return neverSent(preview.why);
        case Preview::Form:
            break;
        }
        if (confirmationUrl(preview).isEmpty())
            co_return neverSent(kNotTheSite + preview.action);

        // 5-6. Wait until the confirmation has to leave to reach the site at the bid time (a
        // moment already past does not wait). One on time leaves at its moment whatever else
        // went to the site this second; one already late (a second round, a bid started after
        // its time) keeps the item's pace like every other request.
        // The connection is made while it waits: at the moment only the request travels.
        m_ctx.fetcher.prepareOnce(confirmationUrl(preview));
        if (round == 0)
            co_await UntilBidTime{&m_ctx.timingNow(), m_bidMs, &m_ctx.alive};
        const bool onTime =
            round == 0 && sw::nowMs() <= m_ctx.timingNow().leaveAt(m_bidMs) + kLateMs;
        if (std::optional<BidResult> stop = co_await readyToSend(!onTime, true))
            co_return *stop;
        if (const qint64 late = sw::nowMs() - m_ctx.timingNow().leaveAt(m_bidMs);
            round == 0 && late > kLateMs) {
            m_log.LOGTodbSoon(QStringLiteral("入札遅延：") + m_id + SEP + amt() +
                              QStringLiteral("：入札時刻より") + seconds(late) +
                              QStringLiteral("遅れて送りました（入札の確認画面が遅れたため）"));
        }

        // 7-11. The confirmation, its answer, and the raises.
        QString url = confirmationUrl(preview);
        bool first = true;
        Answer answer;
        for (;;) {
            answer = co_await send(url, first && onTime);
            first = false;
            if (m_ctx.alive.expired())
                co_return abandoned();
            if (answer.kind == Answer::Accepted)
                co_return accepted(QStringLiteral("成功 "));
            if (answer.kind == Answer::Won)
                co_return won();
            // A copy of this bid may have reached the site in the first round: any other
            // answer than those above is the item page's to tell.
            if (answer.kind == Answer::Login && round == 0)
                co_return loginNeeded();
            if (answer.kind != Answer::TooLow && answer.kind != Answer::BelowReserve)
                break;
            RaiseForm next;
            if (std::optional<BidResult> end = refused(answer, next))
                co_return *end;
            if (std::optional<BidResult> stop = co_await readyToSend(true, false))
                co_return *stop;
            url = raiseUrl(next);
        }
        if (std::optional<BidResult> end =
                co_await checkOnItemPage(answer.kind != Answer::NoAnswer, round))
            co_return *end;
    }
    co_return m_result;
}

} // namespace

QCoro::Task<BidResult> PlaceBid(BidContext ctx, BidRequest req)
{
    Exchange exchange(ctx, req);
    co_return co_await exchange.run();
}

} // namespace sw
