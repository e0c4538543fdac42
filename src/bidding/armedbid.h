#pragma once

#include "appcontext.h"
#include "autobid.h"
#include "bidexchange.h"
#include "bidhistory.h"
#include "itemparser.h"
#include "itemrecord.h"
#include "notice.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace sw {

class BidTiming;

class PageFetcher;
class PageRoute;

// What the user saves for an item: 上限価格, 入札数量, category and follow-up status.
struct BidLimits
{
    qint64 max = 0;
    int quantity = 0;
    QString cat = QStringLiteral("0");
    int status = Watching;
};

// One item watched for bidding, and everything decided about it: the item as last read,
// the user's saved limits, the next amount, whether it is armed, what the site did with
// the bids so far, and the one-second countdown that starts the bid and the readings of
// the item's page. No widgets: the bid window shows it and hands it the user's edits when
// they are saved; tests drive it against the simulated site without a display.
class ArmedBid : public QObject
{
    Q_OBJECT
public:
    enum Busy
    {
        Idle = 0,
        Refreshing = 1,
        Bidding = 2
    };

    struct Hooks
    {
        // Another item of the category won or leading at its end: why not to bid.
        std::function<std::optional<QString>(const ArmedBid &)> categoryBlock;
        // A bid is near: the site's clock should be known closely (url: a page on the
        // item's host).
        std::function<void(const QString &url)> wantClock;
        // The route of bids on today's site (the item page's own controls); nullptr when the
        // program has none.
        std::function<PageRoute *()> pageRoute;
        // The owner's clock, bid timer and planned bids (nullptr: the program's).
        BidTiming *timing = nullptr;
    };

    ArmedBid(AppContext &ctx, int id, Hooks hooks, QObject *parent = nullptr);
    ~ArmedBid() override;
    // The program ends: nothing of this bid goes to the site any more (its countdown stops,
    // an exchange under way stops before its next request). The object stays for whoever
    // shows it.
    void end();

    // Reads the item and the limits from the store (only while idle). False when the row
    // is not there; a row whose end does not read is reported and never armed.
    bool load();

    int id() const { return m_id; }
    const ItemRecord &item() const { return m_item; }
    BidLimits limits() const;
    bool armed() const { return m_armed; }
    QString statusMessage() const { return m_message; }
    QString nextAmountText() const { return m_next; }
    QDateTime bidTime() const { return m_bidTime; }
    QDateTime endTime() const { return m_item.enddate; }
    bool finished() const { return m_item.fin; }
    bool endReadable() const { return m_item.enddate.isValid(); }
    // Why this row is never bid on (its end or its address does not read); empty if none.
    QString unusable() const;
    // The item's page is today's: its bid goes through the page's own controls.
    bool onTodaysSite() const
    {
        return m_item.SiteGen == TodayPage || m_item.SiteGen == TodayListing;
    }
    // How long before the bid time the bid starts (the preview, or opening today's page).
    qint64 bidLeadMs() const;
    // What the last look at today's bid page found missing (the dry run); empty when it
    // found every control.
    QString pageProblem() const { return m_pageProblem; }
    int busy() const { return m_bidding ? Bidding : m_refreshing > 0 ? Refreshing : Idle; }
    QString caption() const { return m_caption; }
    // The site accepted our bid and no successful reading has shown us outbid since.
    bool leading() const { return m_history.leading; }
    // Who leads, in words: あなた, なし, 他の人（ID）, or 不明 where the site did not say
    // (today's pages name nobody).
    QString leaderText() const;
    PageFetcher &fetcher() { return *m_fetcher; }
    // The time-out and the Proxy setting as they are now; the next request goes that way.
    void applyConnectionSettings();

    // Where the bid stands, as the overview shows it.
    enum class State
    {
        Planned, // 予定: armed, nothing sent yet (or outbid and waiting to bid again)
        Sent,    // 入札済: a bid went out and another bidder is ahead now
        Leading, // 最高額
        Won,     // 落札
        Lost,    // 落札できませんでした
        Error,   // エラー: the page cannot be read or the last bid could not be placed
    };
    State state() const;
    static QString stateText(State s);
    // The last thing that happened to the bid, with its reason; empty before anything did.
    QString lastResult() const { return m_lastResult; }
    // Once the auction is over: why it ended as it did (won at N円, lost to a higher bid, …).
    QString verdict() const { return m_verdict; }
    // The last reading failed (the site could not be reached or answered nonsense).
    bool readFailing() const { return m_unreachable || !m_readFailure.isEmpty(); }
    // The last reading got no page at all: the site could not be reached.
    bool siteUnreachable() const { return m_unreachable; }

    // The user's 保存. False (nothing changed) when the maximum is not a number or the
    // store refused; error says why.
    bool saveLimits(const BidLimits &limits, QString *error);
    // The user's word as it stands now, for a bid on its way; nullopt once deleted.
    std::optional<LiveLimits> liveLimits() const;
    // The item's row was deleted (商品ﾘｽﾄ): nothing more goes to the site for it.
    void disarmDeleted();
    bool deleted() const { return m_deleted; }
    // The category was set from the list (the store already has it).
    void categorySet(const QString &cat);
    // The bid time passed while the program was not running: the next reading gives the
    // verdict. earlierBid: a bid of an earlier run went out (its log says so).
    void missedWhileAway(bool earlierBid);
    // Over by this machine's clock, which may be wrong: the page is read at the next tick.
    void readSoon() { m_lastRefresh = m_item.enddate.addSecs(-1); }
    // Something to tell about the item that is no bid of this program (handed over, say).
    void setNote(const QString &text)
    {
        m_lastResult = text;
        m_message = text;
        emit changed();
    }
    // The verdict of the service the item was handed over to.
    void takeServiceVerdict(const QString &verdict)
    {
        m_verdict = verdict;
        m_lastResult = verdict;
        emit changed();
    }
    // The user no longer wants to see this item's finished bid in the overview.
    void dismiss() { m_dismissed = true; }
    bool dismissed() const { return m_dismissed; }
    // The category rule holds this bid back for now (another item of it ends first).
    bool categoryHeld() const { return !m_categoryNote.isEmpty(); }
    // This bid cannot win any more unless the user raises the maximum: the site refused it
    // at the maximum (too low, below the reserve), or the category rule stopped it.
    bool outOfTheRunning() const
    {
        return !m_history.blocked.isEmpty() || (m_history.refusedMax && !m_history.leading &&
                                                m_item.ItemYen <= *m_history.refusedMax);
    }
    const BidHistory &history() const { return m_history; }

    // A reading of the item's page. fromUser: 現在の価格をゲット (a busy item says so);
    // afterBid: the reading right after a bid, which overtakes one on its way.
    QCoro::Task<> refresh(bool fromUser, bool afterBid = false);
    // A bid with the next amount: the timer's at the bid time, or 今入札 (already
    // confirmed by the user) now.
    QCoro::Task<> bidNow(bool fromUser, QDateTime bidTime);
    // 今入札 when the item is not armed but the maximum is the buy-it-now price and the
    // user agreed to buy at it.
    QCoro::Task<> buyAtBuyNowPrice();
    // A reading of the item's page made elsewhere (the bulk refresh): taken up as this bid's
    // own, the verdict included; a reading of its own still on its way is then stale.
    void takeReading(const ItemState &s);
    // Recomputes the next amount and arms or disarms.
    void checkAutoBid();
    void tick();

signals:
    void changed();      // the window should show the state again
    void ticked();       // the countdown caption moved
    void itemsChanged(); // the item list should read the items again
    void result(const QString &dialogText, bool show);
    void loginNeeded();
    void notice(sw::NoticeKind kind, const QString &text);

private:
    BidSettings settingsForCheck() const;
    bool mayBidAgain(QString *why) const;
    void recordOutcome(const BidResult &r, qint64 maxSent);
    void tell(const BidHistory::Told &t);
    void noteCategoryOverlap();
    void applyReading(const ItemState &s);
    void keepVerdict();
    void setReadFailure(const QString &why);
    void planOwnBid();
    void reachVerdict(const ItemState &s, bool ours);
    // Opens today's page and its bid form and finds every control, pressing nothing: a
    // changed site, a lost login or an SMS confirmation is told while there is time to bid
    // by hand.
    QCoro::Task<> dryRun();
    void verdictUnknown();
    QString label() const; // the item as the user knows it: id and name

    AppContext &m_ctx;
    Hooks m_hooks;
    BidTiming &timing() const;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    PageFetcher *m_fetcher;
    QTimer *m_timer;
    RequestPacer m_pacer;

    int m_id;
    ItemRecord m_item; // as last read; the user's columns are in it too
    qint64 m_loadedPrice = 0;
    QString m_next;
    bool m_armed = false;
    QString m_message;
    QString m_caption;
    QDateTime m_bidTime;
    QDateTime m_lastRefresh;
    QDateTime m_nextReadAttempt; // after a failed reading, not before this
    int m_readFailures = 0;
    QString m_readFailure;      // what the last failed reading said (reported once)
    bool m_unreachable = false; // the last reading got no page
    bool m_recompute = true;
    bool m_bidding = false;
    int m_refreshing = 0;
    int m_refreshSeq = 0;
    bool m_endReported = false;
    bool m_readWholePage = false; // stored from a result row: the page is still to be read
    bool m_dryRunDone = false;    // the bid page was looked at since the item was armed
    bool m_dryRunLate = false;    // …and again in the last ten minutes
    bool m_dryRunning = false;
    QString m_pageProblem; // what the last look found missing

    BidHistory m_history;      // what the site did with the bids so far
    QDateTime m_holdUntil;     // no new bid before this (a failure just now)
    QString m_categoryNote;    // why the category rule holds this bid back, as last logged
    bool m_deleted = false;    // the row is gone: nothing more is sent
    bool m_missed = false;     // the bid time passed while the program was not running
    bool m_earlierBid = false; // …and a bid of that earlier run went out
    bool m_dismissed = false;  // cleared from the overview by the user
    QString m_lastResult;
    QString m_verdict;
};

} // namespace sw
