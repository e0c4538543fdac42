#include "pageroute.h"

#include "activitylog.h"
#include "autobid.h"
#include "bidclock.h"
#include "clock.h"
#include "itemparser.h"
#include "memberpages.h"
#include "pagefetcher.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <algorithm>
#include <vector>

namespace sw {

namespace {
const QString CRLF = QStringLiteral("\r\n");
const QString SEP = QStringLiteral("：");
constexpr std::size_t kKept = 16;
constexpr qint64 kMaxAheadMs = 1500;
constexpr qint64 kLastChanceMarginMs = 200;

qint64 median(const std::deque<qint64> &d)
{
    std::vector<qint64> v(d.begin(), d.end());
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void keep(std::deque<qint64> &d, qint64 v)
{
    d.push_back(qMax<qint64>(0, v));
    while (d.size() > kKept)
        d.pop_front();
}

QString resultLine(const QString &id, const QString &amt, const QString &outcome)
{
    return QStringLiteral("入札結果：") + id + SEP + amt + SEP + outcome;
}
} // namespace

PageRoute::~PageRoute() = default;

qint64 PageRoute::sendAheadMs() const
{
    // From each press to its request at the site, as the page's own timing of the request
    // told it (the engine's delay, then half the request's round trip); where the page did
    // not tell, half of the time from the press to the answer.
    if (m_answers.empty())
        return std::clamp<qint64>(siteClock().sendAheadMs() + 50, 0, kMaxAheadMs);
    return std::clamp<qint64>(median(m_answers), 0, kMaxAheadMs);
}

qint64 PageRoute::prepareLeadMs() const
{
    // Opening the page and the form and making the preview, twice over (a slow moment of
    // the site), and a margin.
    const qint64 usual =
        m_prepares.empty() ? 8000 : *std::max_element(m_prepares.begin(), m_prepares.end());
    return std::clamp<qint64>(usual * 2 + 5000, kMinLeadMs, kMaxLeadMs);
}

void PageRoute::noteAnswer(qint64 ms, qint64 aheadMs)
{
    keep(m_answers, aheadMs >= 0 ? aheadMs : ms / 2);
}

void PageRoute::notePrepared(qint64 ms)
{
    keep(m_prepares, ms);
}

PageAnswerKind classifyPageAnswer(const QString &t)
{
    // The classic answers' words first, then the words today's pages are likely to use. The
    // item's data decides in the end either way.
    if (t.contains(QStringLiteral("最低落札価格")))
        return PageAnswerKind::BelowReserve;
    if (t.contains(QStringLiteral("あなたが現在の「最高額入札者")) ||
        t.contains(QStringLiteral("あなたの入札額が現在の最高値")) ||
        t.contains(QStringLiteral("最高額入札者です")))
        return PageAnswerKind::Accepted;
    if (t.contains(QStringLiteral("あなたが落札")) || t.contains(QStringLiteral("落札しました")))
        return PageAnswerKind::Won;
    if (t.contains(QStringLiteral("申し訳")) || t.contains(QStringLiteral("低すぎ")) ||
        t.contains(QStringLiteral("下回")) || t.contains(QStringLiteral("より高い金額")) ||
        t.contains(QStringLiteral("以上で入札")))
        return PageAnswerKind::TooLow;
    if (t.contains(QStringLiteral("終了しています")) || t.contains(QStringLiteral("既に終了")))
        return PageAnswerKind::Ended;
    if (t.contains(QStringLiteral("ログインしてください")))
        return PageAnswerKind::Login;
    return PageAnswerKind::Unknown;
}

namespace {
// The item's data as its page shows it now; nullopt when the page could not be read (or the
// bid went away meanwhile).
QCoro::Task<std::optional<ItemState>> readItemNow(BidContext &ctx, QString userId, QString url)
{
    const FetchResult page = co_await ctx.fetcher.FetchPage(url, false);
    if (!page.ok || ctx.alive.expired())
        co_return std::nullopt;
    co_return ParseItemStatus(page.text, userId, sw::now(), 0, ctx.hosts);
}
} // namespace

QCoro::Task<BidResult> PlacePageBid(BidContext ctx, BidRequest req, PageRoute *route)
{
    BidResult result;
    const QString id = req.itemid;
    qint64 amount = req.amount;
    qint64 max = qMax(req.max, amount);
    int quantity = req.quantity;
    QString amt = QString::number(amount);
    ActivityLog &log = ctx.log;
    auto dialog = [&](const QString &text) {
        result.dialogText = QStringLiteral("入札結果：") + id + CRLF + text;
        result.showDialog = true;
    };
    auto abandoned = [&] {
        log.LOGTodb(QStringLiteral("入札中止：") + id + SEP + amt +
                    QStringLiteral("：入札画面が閉じられたため入札を中止しました"));
        result.abandoned = true;
        return result;
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
    auto loginNeeded = [&] {
        result.outcome = BidResult::LoginNeeded;
        result.why = QStringLiteral("ログインが必要です（サイトがログインを求めました）");
        log.LOGTodb(QStringLiteral("入札できませんでした：") + id + SEP + amt + SEP + result.why);
        dialog(QStringLiteral("ログインが必要です。Yahoo! JAPANにログインしてください。"));
        return result;
    };
    auto accepted = [&](const QString &how) {
        log.LOGTodb(resultLine(id, amt, how));
        dialog(amt + QStringLiteral("円で入札しました。") + CRLF +
               QStringLiteral("あなたの入札額が現在の最高値です。"));
        result.answered << amount;
        result.outcome = BidResult::Accepted;
        result.success = true;
        return result;
    };
    auto refused = [&](bool reserve) {
        result.answered << amount;
        if (reserve) {
            log.LOGTodb(resultLine(id, amt, QStringLiteral("最低落札価格よりも低い金額 ")));
            dialog(amt + QStringLiteral("円は最低落札価格よりも低い金額でした。"));
            result.outcome = BidResult::BelowReserve;
        } else {
            log.LOGTodb(resultLine(id, amt, QStringLiteral("低い金額")));
            dialog(amt + QStringLiteral("円は直前に他の人が入札した金額より低い金額でした。"));
            result.outcome = BidResult::Refused;
        }
    };

    const qint64 bidMs = req.bidTime.toMSecsSinceEpoch();
    const qint64 endMs = req.end.isValid() ? req.end.toMSecsSinceEpoch() : bidMs + 60000;
    const QString url = ctx.hosts.itemPage(req.serverid, id);
    if (!route)
        co_return neverSent(QStringLiteral("入札画面を開けません（ブラウザの部品がありません）"));
    if (url.isEmpty())
        co_return neverSent(QStringLiteral("商品IDが正しくありません"));
    if (sw::nowMs() >= endMs)
        co_return neverSent(QStringLiteral("終了時刻を過ぎています"));
    if (req.alreadySent.contains(amount))
        co_return neverSent(QStringLiteral("同じ金額はすでに入札しています"));
    if (ctx.mayBid) {
        if (const std::optional<QString> why = ctx.mayBid())
            co_return stopped(BidResult::Blocked, *why);
    }

    // Whether the item is on the member's bidding-now list already: after a press whose answer
    // says nothing readable, the list showing it newly shows that the bid arrived.
    const std::optional<bool> listedBefore =
        co_await memberListHas(ctx.fetcher, ctx.hosts, MemberList::Bidding, id);
    if (ctx.alive.expired())
        co_return abandoned();

    const AmountLadder ladder{req.unit, req.alreadySent};
    bool waited = false; // once the bid time came, every further step goes at once
    int presses = 0;
    for (;;) {
        const int handle = route->newHandle();
        const PagePrepared prepared = co_await route->prepare(handle, url, amount, quantity, true);
        if (ctx.alive.expired()) {
            route->close(handle);
            co_return abandoned();
        }
        if (!prepared.ok) {
            route->close(handle);
            if (prepared.kind == QLatin1String("login"))
                co_return loginNeeded();
            if (prepared.kind == QLatin1String("ended")) {
                log.LOGTodb(QStringLiteral("入札結果：") + id + QStringLiteral("：既に終了"));
                dialog(QStringLiteral("既に終了。"));
                result.outcome = BidResult::Ended;
                co_return result;
            }
            if (prepared.kind == QLatin1String("refused")) {
                // The page's own preview does not take this amount (too low, below the
                // reserve): one unit more while the maximum allows, else refused.
                const PageAnswerKind said = classifyPageAnswer(prepared.said);
                log.LOGTodb(QStringLiteral("入札の確認画面：") + id + SEP + amt + SEP +
                            prepared.said);
                refused(said == PageAnswerKind::BelowReserve);
                if (said == PageAnswerKind::BelowReserve)
                    co_return result;
                // The price may have moved on: from the lowest amount the site takes now.
                const std::optional<ItemState> s = co_await readItemNow(ctx, req.userId, url);
                if (ctx.alive.expired())
                    co_return abandoned();
                std::optional<qint64> raised = ladder.next(amount, max);
                if (s && raised) {
                    const qint64 unit = req.unit > 0 ? req.unit : siteBidIncrement(s->price);
                    const qint64 lowest = s->bids > 0 ? s->price + unit : s->price;
                    if (*raised < lowest)
                        raised = lowest <= max && !req.alreadySent.contains(lowest)
                                     ? std::optional<qint64>(lowest)
                                     : std::nullopt;
                }
                if (!raised || sw::nowMs() >= endMs)
                    co_return result;
                amount = *raised;
                amt = QString::number(amount);
                if (ctx.showNextPrice)
                    ctx.showNextPrice(amt);
                continue;
            }
            co_return neverSent(QStringLiteral("入札画面を確認できません：") + prepared.why +
                                (prepared.said.isEmpty() ? QString()
                                                         : QStringLiteral("（") + prepared.said +
                                                               QStringLiteral("）")));
        }
        route->notePrepared(prepared.ms);

        // The press goes at the moment that reaches the site at the bid time.
        if (!waited) {
            co_await UntilBidTime{&ctx.timingNow(), bidMs, &ctx.alive, route->sendAheadMs()};
            waited = true;
        }
        if (ctx.alive.expired()) {
            route->close(handle);
            co_return abandoned();
        }
        if (sw::nowMs() >= endMs) {
            route->close(handle);
            co_return neverSent(QStringLiteral("入札画面の準備ができたときには終了時刻を過ぎていま"
                                               "した"));
        }
        if (ctx.mayBid) {
            if (const std::optional<QString> blockedBy = ctx.mayBid()) {
                route->close(handle);
                co_return stopped(BidResult::Blocked, *blockedBy);
            }
        }
        // The user's last word, right before the press.
        if (ctx.limitsNow) {
            const std::optional<LiveLimits> live = ctx.limitsNow();
            QString cancel;
            if (!live)
                cancel = QStringLiteral("商品が削除されました");
            else if (live->quantity <= 0)
                cancel = QStringLiteral("入札数量が０に変更されました");
            else if (live->max < amount &&
                     (live->max < live->lowest || req.alreadySent.contains(live->max)))
                cancel = QStringLiteral("上限価格が") + formatYen(live->max) +
                         QStringLiteral("円に下げられ、入札できる金額ではなくなりました");
            else if (!live->armed && live->max >= amount)
                cancel = QStringLiteral("自動入札が解除されました");
            if (!cancel.isEmpty()) {
                route->close(handle);
                co_return stopped(BidResult::Cancelled, cancel);
            }
            qint64 wanted = amount;
            if (live->max < amount)
                wanted = live->max;
            else if (amount >= max && live->max > amount)
                wanted = live->max; // the maximum was raised: it is what the user bids
            max = live->max;
            if (wanted != amount || live->quantity != quantity) {
                // The form holds another amount: it is made again with what the user said,
                // and pressed as soon as it is ready.
                route->close(handle);
                amount = wanted;
                quantity = live->quantity;
                amt = QString::number(amount);
                if (ctx.showNextPrice)
                    ctx.showNextPrice(amt);
                log.LOGTodb(QStringLiteral("入札額変更：") + id + SEP + amt +
                            QStringLiteral("：ユーザーの変更に合わせて入札画面を作り直します"));
                continue;
            }
        }

        QCoro::Task<PageAnswer> pressing = route->press(handle, amount);
        log.LOGTodbSoon(QStringLiteral("入札開始：") + id + SEP + amt);
        const PageAnswer answer = co_await std::move(pressing);
        route->close(handle);
        if (ctx.alive.expired())
            co_return abandoned();
        if (!answer.pressed && !answer.lost)
            co_return neverSent(answer.why.isEmpty() ? QStringLiteral("入札画面がなくなりました")
                                                     : answer.why);
        ++presses;
        result.sent = true;
        result.lastAmount = amount;
        result.submitted << amount;
        if (!answer.text.isEmpty())
            route->noteAnswer(answer.ms, answer.aheadMs);
        const PageAnswerKind said = classifyPageAnswer(answer.text);
        if (said == PageAnswerKind::Unknown && !answer.text.isEmpty()) // learnt from: kept whole
            log.LOGTodb(QStringLiteral("入札の応答（未知の文言）：") + id + SEP + amt + SEP +
                        answer.text);
        if (said == PageAnswerKind::Login)
            co_return loginNeeded();
        if (said == PageAnswerKind::Ended) {
            log.LOGTodb(QStringLiteral("入札結果：") + id + QStringLiteral("：既に終了"));
            dialog(QStringLiteral("既に終了。"));
            result.outcome = BidResult::Ended;
            co_return result;
        }

        // Whatever the page said, the item's data decides.
        const std::optional<ItemState> s = co_await readItemNow(ctx, req.userId, url);
        if (ctx.alive.expired())
            co_return abandoned();
        const bool outbid = s && s->price > amount; // someone's maximum is above ours

        if (said == PageAnswerKind::Won && !outbid) {
            log.LOGTodb(resultLine(id, amt, QStringLiteral("あなたが落札しました。")));
            dialog(amt + QStringLiteral("円で落札しました。"));
            result.answered << amount;
            result.outcome = BidResult::Won;
            result.success = true;
            co_return result;
        }
        if (said == PageAnswerKind::BelowReserve) {
            refused(true);
            co_return result;
        }
        if (said == PageAnswerKind::Accepted && !outbid)
            co_return accepted(QStringLiteral("成功 "));
        if (said == PageAnswerKind::TooLow || said == PageAnswerKind::Accepted || outbid) {
            if (said != PageAnswerKind::TooLow)
                log.LOGTodb(QStringLiteral("入札結果の確認：") + id + SEP + amt +
                            QStringLiteral("：商品ページでは現在") + formatYen(s->price) +
                            QStringLiteral("円で、この金額より高い入札があります"));
            refused(false);
            // One unit more (above the price the page shows) while the maximum allows.
            if (ctx.limitsNow) {
                const std::optional<LiveLimits> live = ctx.limitsNow();
                if (!live || !live->armed || live->quantity <= 0)
                    co_return result;
                max = qMin(max, live->max);
            }
            const qint64 from = s ? qMax(amount, s->price) : amount;
            const std::optional<qint64> raised = ladder.next(from, max);
            if (!raised || sw::nowMs() >= endMs)
                co_return result;
            amount = *raised;
            amt = QString::number(amount);
            if (ctx.showNextPrice)
                ctx.showNextPrice(amt);
            continue;
        }

        // No answer that reads: the member's bidding-now list tells whether it arrived.
        log.LOGTodb(resultLine(
            id, amt, answer.text.isEmpty() ? QStringLiteral("応答なし") : QStringLiteral("不明 ")));
        std::optional<bool> listedNow;
        if (listedBefore == std::optional<bool>(false))
            listedNow = co_await memberListHas(ctx.fetcher, ctx.hosts, MemberList::Bidding, id);
        if (ctx.alive.expired())
            co_return abandoned();
        if (listedNow == std::optional<bool>(true)) {
            if (s && s->price < amount) // ours is on the site and nobody holds more
                co_return accepted(QStringLiteral("成功（入札中の一覧で確認） "));
            // It arrived; who leads at this price the page does not say.
            result.answered << amount;
            result.outcome = BidResult::Unknown;
            dialog(amt + QStringLiteral("円の入札はサイトに届きましたが、最高額入札者かどうかは"
                                        "わかりません。"));
            co_return result;
        }
        const qint64 lastChance = endMs - route->sendAheadMs() - kLastChanceMarginMs;
        if (listedNow == std::optional<bool>(false)) {
            if (presses < 2 && sw::nowMs() < lastChance) {
                log.LOGTodb(QStringLiteral("入札再送：") + id + SEP + amt +
                            QStringLiteral("：入札中の一覧にないので、もう一度入札します"));
                continue;
            }
            result.outcome = BidResult::NotArrived;
            result.why = QStringLiteral("入札に応答がなく、入札中の一覧にもありません");
            log.LOGTodb(QStringLiteral("入札が届きませんでした：") + id + SEP + amt + SEP +
                        result.why);
            dialog(amt + QStringLiteral("円の入札が届きませんでした。") + CRLF + result.why);
            co_return result;
        }
        // Not known either way: counted as sent, never pressed again blind; the reading
        // after the bid goes on.
        result.answered << amount;
        result.outcome = BidResult::Unknown;
        dialog(amt + QStringLiteral("円の入札の結果が確認できません。") + CRLF +
               QStringLiteral("商品ページを読み直して確かめます。"));
        co_return result;
    }
}

} // namespace sw
