#include "armedbid.h"

#include "activitylog.h"
#include "appvalues.h"
#include "bidclock.h"
#include "clock.h"
#include "database.h"
#include "handedover.h"
#include "itemreading.h"

// What an item's bid tells the user (its state and, once over, its verdict), and what the
// user's list does to it (a delete, a category), apart from the bidding itself.
namespace sw {

namespace {
const QString SEP = QStringLiteral("：");
} // namespace

void ArmedBid::reachVerdict(const ItemState &s, bool ours)
{
    // Said once, when a reading first shows the auction over; only for items we meant to bid on.
    // An item with a quantity and a maximum is one the user meant to bid on, also when its
    // bid never armed (the price already past the maximum): it is told how it ended.
    const bool meant = m_item.Numkai > 0 && m_item.ItemYen > 0;
    if (!meant && !m_armed && !m_missed && !m_history.anythingSent() && m_lastResult.isEmpty())
        return;
    // Handed over: the service bid (or not) and its verdict is the one that counts; it is
    // fetched from there (the service tells its own notices).
    if (isHandedOver(m_ctx.settings, m_item.itemid)) {
        const std::optional<ItemRecord> row = m_ctx.db.itemById(m_item.id);
        m_verdict = row && !row->Verdict.isEmpty() ? row->Verdict : serviceVerdictPendingText();
        m_lastResult = m_verdict;
        return;
    }
    const QString price = formatYen(s.price) + QStringLiteral("円");
    NoticeKind kind = NoticeKind::Lost;
    const bool sent = m_history.anythingSent() || m_earlierBid;
    if (ours) {
        m_verdict = QStringLiteral("落札しました：") + price;
        kind = NoticeKind::Won;
    } else if (!sent && !m_history.notArrived.isEmpty()) {
        m_verdict = QStringLiteral("入札が届きませんでした：") + m_history.notArrived;
    } else if (!sent) {
        const BidHistory &h = m_history;
        QString why =
            !h.blocked.isEmpty() ? h.blocked
            : m_missed ? QStringLiteral("プログラムが動いていませんでした")
            : !h.cancelled.isEmpty()
                ? QStringLiteral("入札を中止しました（") + h.cancelled + QStringLiteral("）")
            : !m_categoryNote.isEmpty() ? m_categoryNote
            : !m_lastResult.isEmpty()   ? m_lastResult
            : !m_readFailure.isEmpty() ? QStringLiteral("商品ページを読めませんでした（") +
                                             m_readFailure + QStringLiteral("）")
            : !m_message.isEmpty() ? m_message
                                   : QStringLiteral("入札時刻が来ませんでした");
        m_verdict = QStringLiteral("入札しませんでした：") + why;
    } else if (s.cancelled) {
        m_verdict = QStringLiteral("落札できませんでした：出品者がオークションを取り消しました");
    } else if (m_history.refusedMax && m_history.belowReserve) {
        m_verdict = QStringLiteral("落札できませんでした：最低落札価格に届きませんでした");
    } else if (s.generation == SiteGeneration::Today
                   ? !s.hasWinner
                   : s.bidder.isEmpty() || s.bidder == QLatin1String("-") || s.bids == 0) {
        m_verdict = QStringLiteral("落札できませんでした：落札者はいません");
    } else {
        m_verdict = QStringLiteral("落札できませんでした：より高い入札がありました（最終価格") +
                    price + QStringLiteral("）");
    }
    m_lastResult = m_verdict;
    m_ctx.log.LOGTodb(QStringLiteral("最終結果：") + m_item.itemid + SEP + m_item.Itemname + SEP +
                      m_verdict);
    keepVerdict();
    // A win the site's answer already announced is not announced twice.
    if (!(ours && m_history.wonOutright))
        emit notice(kind, label() + QStringLiteral("\n") + m_verdict);
}

void ArmedBid::verdictUnknown()
{
    // Provisional: a reading that succeeds later gives the real verdict.
    const QString why =
        m_unreachable ? QStringLiteral("ヤフオク!に接続できません")
        : m_readFailure == QStringLiteral("ログイン画面が表示されました")
            ? QStringLiteral("ログインしていません（ログイン画面が表示されました）")
            : QStringLiteral("商品ページを読めません（") + m_readFailure + QStringLiteral("）");
    m_verdict = QStringLiteral("結果不明：") + why +
                (m_history.anythingSent() ? QStringLiteral("。入札はしました")
                                          : QStringLiteral("。入札はしていません"));
    m_ctx.log.LOGTodb(QStringLiteral("最終結果：") + m_item.itemid + SEP + m_item.Itemname + SEP +
                      m_verdict);
    keepVerdict();
    emit notice(NoticeKind::Failed, label() + QStringLiteral("\n") + m_verdict);
    emit changed();
}

void ArmedBid::keepVerdict()
{
    // Shown again after a restart, until the user clears it.
    if (!m_ctx.db.setVerdict(m_item.id, m_verdict))
        m_ctx.log.LOGTodb(QStringLiteral("結果を保存できませんでした：") + m_item.itemid + SEP +
                          m_ctx.db.lastError());
}

QString ArmedBid::leaderText() const
{
    if (leading() || state() == State::Won)
        return QStringLiteral("あなた");
    const QString bidder = m_item.SaikougakuShaid;
    if (bidder == QLatin1String("-"))
        return QStringLiteral("なし");
    if (bidder.isEmpty())
        return QStringLiteral("不明");
    return QStringLiteral("他の人（") + bidder + QStringLiteral("）");
}

ArmedBid::State ArmedBid::state() const
{
    if (m_item.fin) {
        const QString own = m_ctx.values.ownId;
        const bool ours = m_item.status == Won || sameMember(m_item.SaikougakuShaid, own);
        return ours ? State::Won : State::Lost;
    }
    if (m_history.leading)
        return State::Leading;
    if (m_history.lastFailed || readFailing() || !unusable().isEmpty() || !m_pageProblem.isEmpty())
        return State::Error;
    if (m_history.anythingSent())
        return State::Sent;
    return State::Planned;
}

QString ArmedBid::stateText(State s)
{
    switch (s) {
    case State::Planned:
        return QStringLiteral("予定");
    case State::Sent:
        return QStringLiteral("入札済");
    case State::Leading:
        return QStringLiteral("最高額");
    case State::Won:
        return QStringLiteral("落札");
    case State::Lost:
        return QStringLiteral("落札できませんでした");
    case State::Error:
        return QStringLiteral("エラー");
    }
    return {};
}

std::optional<LiveLimits> ArmedBid::liveLimits() const
{
    if (m_deleted)
        return std::nullopt;
    const qint64 unit =
        m_item.ItemYenUnit > 0 ? m_item.ItemYenUnit : siteBidIncrement(m_item.ItemYenNow);
    LiveLimits l;
    l.armed = m_armed;
    l.quantity = m_item.Numkai;
    l.max = m_item.ItemYen;
    l.lowest = m_item.NumNyuusatu > 0 ? m_item.ItemYenNow + unit : m_item.ItemYenNow;
    return l;
}

void ArmedBid::disarmDeleted()
{
    if (m_deleted)
        return;
    const bool wanted = m_armed || m_bidding;
    m_deleted = true;
    m_armed = false;
    timing().unplan(this);
    m_message = QStringLiteral("商品ﾘｽﾄから削除されました。");
    if (wanted)
        m_ctx.log.LOGTodb(QStringLiteral("入札中止：") + label() +
                          QStringLiteral("：商品ﾘｽﾄから削除されたので入札しません"));
    emit changed();
}

void ArmedBid::categorySet(const QString &cat)
{
    m_item.cat = cat;
    checkAutoBid();
    emit changed();
}

void ArmedBid::missedWhileAway(bool earlierBid)
{
    m_missed = true;
    m_earlierBid = earlierBid;
    m_lastRefresh = m_item.enddate.addSecs(-1); // read at the next tick
    emit changed();
}

void ArmedBid::noteCategoryOverlap()
{
    // Only what keeps this bid back for now (another item of the category ends first);
    // a win of the category stops it for good at the bid itself.
    const std::optional<QString> why = m_armed && !m_item.fin && m_hooks.categoryBlock
                                           ? m_hooks.categoryBlock(*this)
                                           : std::nullopt;
    const QString note = why.value_or(QString());
    if (note == m_categoryNote)
        return;
    const QString before = std::exchange(m_categoryNote, note);
    if (!note.isEmpty()) {
        m_message = note;
        m_lastResult = note;
        m_ctx.log.LOGTodb(QStringLiteral("入札しません：") + label() + SEP + note);
    } else if (m_lastResult == before) {
        m_lastResult.clear();
    }
    emit changed();
}

} // namespace sw
