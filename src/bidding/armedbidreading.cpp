#include "armedbid.h"

#include "activitylog.h"
#include "appvalues.h"
#include "clock.h"
#include "cookiejar.h"
#include "database.h"
#include "itemparser.h"
#include "memberpages.h"
#include "pagefetcher.h"
#include "pageroute.h"
#include "prompter.h"
#include "proxyconfig.h"
#include "settingsstore.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <QTimer>

// An item's bid reading the item's page: the user's 現在の価格をゲット, the readings around the
// bid and after the end, and what a reading changes.
namespace sw {

namespace {
const QString SEP = QStringLiteral("：");
constexpr int kFirstRetrySec = 5;
// The end time alone marks the auction over only this long past (beyond what the site's
// clock may be off): the site shows minutes, and its page's own status decides sooner.
constexpr qint64 kEndedMarginMs = 5000;
constexpr int kLongestRetrySec = 60;
} // namespace

void ArmedBid::setReadFailure(const QString &why)
{
    ++m_readFailures;
    // Tried again a little later each time: an unreadable page is no reason to ask for
    // it every second.
    const int wait = qMin(kLongestRetrySec, kFirstRetrySec << qMin(m_readFailures - 1, 4));
    m_nextReadAttempt = sw::now().addSecs(wait);
    if (why == m_readFailure)
        return;
    m_readFailure = why;
    if (!why.isEmpty())
        m_ctx.log.LOGTodb(QStringLiteral("商品ページを読めませんでした：") + m_item.itemid + SEP +
                          why);
}

QCoro::Task<> ArmedBid::refresh(bool fromUser, bool afterBid)
{
    if (!unusable().isEmpty() || m_deleted)
        co_return; // nothing is asked for a row that cannot name its item, or is gone
    if (!afterBid && busy() != Idle) {
        // A timer-started refresh just tries again on a later tick; it never raises a box
        // that could hold back a bid in progress.
        if (fromUser)
            m_ctx.prompter.message(QStringLiteral("処理中です"));
        co_return;
    }
    const std::weak_ptr<int> alive = m_alive;
    const int seq = ++m_refreshSeq;
    ++m_refreshing;
    emit changed();
    const qint64 wait = m_pacer.reserve();
    if (wait > 0)
        co_await preciseSleep(int(wait));
    if (alive.expired())
        co_return;
    const QString url = m_ctx.hosts.itemPage(m_item.Serverid, m_item.itemid);
    const FetchResult page = co_await m_fetcher->FetchPage(url, false);
    if (alive.expired())
        co_return;
    std::optional<ItemState> s =
        page.ok && seq == m_refreshSeq
            ? ParseItemStatus(page.text, m_ctx.values.ownId, sw::now(),
                              timing().clock().uncertaintyMs() + kEndedMarginMs, m_ctx.hosts)
            : std::nullopt;
    // Today's page tells only its winner that they won: the won list says it for an auction
    // someone won.
    if (s)
        co_await resolveWinner(*m_fetcher, m_ctx.hosts, m_item.itemid, m_ctx.values.ownId, &*s);
    if (alive.expired())
        co_return;
    --m_refreshing;
    // A page asked for before a newer reading (the one after a bid) tells nothing new.
    const bool latest = seq == m_refreshSeq;
    if (!latest)
        s.reset();
    if (latest)
        m_unreachable = !page.ok;
    if (s && s->finished && !s->ours) {
        setReadFailure(QStringLiteral("落札したかどうかを落札分の一覧で確かめられませんでした"));
        s.reset();
    } else if (latest && !s) {
        if (!page.ok) {
            setReadFailure({}); // the fetcher has said why
        } else if (looksLikeLoginPage(page.text, page.finalUrl, &m_ctx.hosts)) {
            const bool news = m_readFailure.isEmpty();
            setReadFailure(QStringLiteral("ログイン画面が表示されました"));
            if (news)
                emit loginNeeded();
        } else {
            const ItemPage why = readItemPage(url, page.text, sw::now(), m_ctx.hosts);
            setReadFailure(why.failure.isEmpty()
                               ? QStringLiteral("商品ページの形が違います（価格が見つかりません）")
                               : why.failure);
        }
    }
    if (s && !m_deleted) {
        m_readFailures = 0;
        m_readFailure.clear();
        m_nextReadAttempt = {};
        applyReading(*s);
    }
    checkAutoBid();
    emit changed();
}

void ArmedBid::takeReading(const ItemState &s)
{
    if (m_deleted)
        return;
    ++m_refreshSeq;
    m_readFailures = 0;
    m_readFailure.clear();
    m_nextReadAttempt = {};
    applyReading(s);
    checkAutoBid();
    emit changed();
}

void ArmedBid::applyReading(const ItemState &s)
{
    const bool ours = s.ours.value_or(false);
    tell(m_history.onReading(s.ours, s.finished, s.price));
    if (ours && !m_history.acceptedMax)
        m_history.acceptedMax =
            m_item.ItemYen; // we lead (an answer not understood, an earlier run)
    if (s.finished && !m_item.fin)
        reachVerdict(s, ours);
    // Today's page gives the whole item: what changed besides the price is kept too.
    if (s.item && s.item->itemid == m_item.itemid) {
        if (!m_ctx.db.saveSiteColumns(m_id, *s.item))
            m_ctx.log.LOGTodb(m_item.itemid + QStringLiteral("：更新を保存できませんでした：") +
                              m_ctx.db.lastError());
        takeSiteColumns(m_item, *s.item);
    }
    // A later end: the auction was extended, and the bid follows it.
    const bool endMoved = s.end != m_item.enddate;
    m_item.enddate = s.end;
    const bool unchanged = s.bidder == m_item.SaikougakuShaid && s.price == m_loadedPrice &&
                           s.finished == m_item.fin && !endMoved;
    m_lastRefresh = sw::now();
    if (unchanged)
        return;
    m_item.fin = s.finished;
    int status = m_item.status;
    const bool won = ours && s.finished;
    // What is stored of who leads is what the site said; today's page says nothing while the
    // auction runs.
    if (won && status == Watching) {
        status = Won;
        m_ctx.log.LOGTodb(QStringLiteral("入札結果：") + m_item.itemid + SEP +
                          QString::number(s.price) + QStringLiteral("：あなたが落札しました。"));
        emit result(QStringLiteral("入札結果：") + m_item.itemid + QStringLiteral("\r\n") +
                        QString::number(s.price) + QStringLiteral("円で落札しました。"),
                    false);
    } else if (!won) {
        status = Watching;
    }
    if (!m_ctx.db.saveRefresh(m_id, s.price, s.bidder, s.bids, status, s.finished, s.end))
        m_ctx.log.LOGTodb(m_item.itemid + QStringLiteral("：更新を保存できませんでした：") +
                          m_ctx.db.lastError());
    m_item.ItemYenNow = s.price;
    m_item.SaikougakuShaid = s.bidder;
    m_item.NumNyuusatu = s.bids;
    m_item.status = status;
    emit itemsChanged();
}

void ArmedBid::tell(const BidHistory::Told &t)
{
    if (!t.lastResult.isEmpty())
        m_lastResult = t.lastResult;
    if (t.notice)
        emit notice(*t.notice, label() + QStringLiteral("\n") + m_lastResult);
    if (t.holdSecs > 0)
        m_holdUntil = sw::now().addSecs(t.holdSecs);
}

} // namespace sw
