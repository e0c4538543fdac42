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

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");
const QString SEP = QStringLiteral("：");
constexpr int kAfterBidMs = 300;
constexpr int kProbeBeforeSec = 120;
// The auction is this long over and its page still cannot be read: the user is told that
// the result is not known, rather than nothing at all.
constexpr int kUnknownVerdictSec = 20;
} // namespace

ArmedBid::ArmedBid(AppContext &ctx, int id, Hooks hooks, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_hooks(std::move(hooks)),
      m_fetcher(new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this)),
      m_timer(new QTimer(this)), m_id(id)
{
    m_lastRefresh = sw::now();
    // The scheduler opens items from its timer: a bad proxy setting is written to the log
    // rather than shown in a box that would hold the tick until someone answers it.
    applyConnectionSettings();
    m_fetcher->setSiteHosts(&m_ctx.hosts); // the only fetcher that sends the password
    m_fetcher->setTimesBids(true);
    m_fetcher->setClock(&timing().clock());

    m_timer->setInterval(1000);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &ArmedBid::tick);
    // Ticks fall half-way between two seconds of the site's clock: bid times are whole
    // seconds, and at that moment nothing should be busy with a countdown.
    const int toHalf = int((1500 - sw::nowMs() % 1000) % 1000);
    QTimer::singleShot(toHalf, Qt::PreciseTimer, this, [this] {
        m_timer->start();
        tick();
    });
}

void ArmedBid::applyConnectionSettings()
{
    configureFetcher(*m_fetcher, m_ctx.settings, false, m_ctx.prompter);
    if (!m_fetcher->applyProxySetting(m_ctx.settings.get(kSettings, QStringLiteral("Proxy"), {})))
        m_ctx.log.LOGTodb(invalidProxyMessage());
}

BidTiming &ArmedBid::timing() const
{
    return m_hooks.timing ? *m_hooks.timing : BidTiming::current();
}

void ArmedBid::end()
{
    m_timer->stop();
    m_alive.reset();
    timing().unplan(this);
    timing().releaseClosed();
}

ArmedBid::~ArmedBid()
{
    // Coroutines of this item see the token expire before anything of it goes away;
    // deleting the fetcher ends their transfers.
    m_alive.reset();
    timing().unplan(this);
    delete m_fetcher;
    m_fetcher = nullptr;
    timing().releaseClosed();
}

QString ArmedBid::unusable() const
{
    if (!SiteHosts::isServerId(m_item.Serverid) || !SiteHosts::isItemId(m_item.itemid))
        return QStringLiteral("商品IDかサーバー番号が正しくないので自動入札しません");
    if (!endReadable())
        return QStringLiteral("終了日時が読めないので自動入札しません");
    return {};
}

BidLimits ArmedBid::limits() const
{
    return {m_item.ItemYen, m_item.Numkai, m_item.cat, m_item.status};
}

bool ArmedBid::load()
{
    if (busy() != Idle)
        return true;
    const std::optional<ItemRecord> rec = m_ctx.db.itemById(m_id);
    if (!rec) {
        m_message = QStringLiteral("商品が見つかりません（") + QString::number(m_id) +
                    QStringLiteral("）") + m_ctx.db.lastError();
        emit changed();
        return false;
    }
    m_item = *rec;
    m_loadedPrice = m_item.ItemYenNow;
    // Known from a result row only: its page is read at the next tick for the rest.
    m_readWholePage = m_item.SiteGen == TodayListing && !m_item.fin;
    m_recompute = true;
    if (!unusable().isEmpty() && !m_endReported) {
        // A damaged or hand-edited row: reported once, and left alone.
        m_endReported = true;
        m_ctx.log.LOGTodb(unusable() + QStringLiteral("：") + m_item.itemid + QStringLiteral("（") +
                          m_item.Itemname + QStringLiteral("）"));
    }
    checkAutoBid();
    emit changed();
    return true;
}

BidSettings ArmedBid::settingsForCheck() const
{
    BidSettings s;
    s.quantity = m_item.Numkai;
    s.maxPriceText = QString::number(m_item.ItemYen);
    s.nextPriceText = m_next;
    s.buyNow = m_item.ItemYenKibou;
    // A page without a usable unit: the site's increment for the current price.
    s.unit = m_item.ItemYenUnit > 0 ? m_item.ItemYenUnit : siteBidIncrement(m_item.ItemYenNow);
    s.currentPrice = m_item.ItemYenNow;
    s.bidCount = m_item.NumNyuusatu;
    s.highBidder = m_item.SaikougakuShaid;
    s.ownId = m_ctx.values.ownId;
    s.autoExtend = m_item.Flagjidouencho;
    s.manualSwitch = m_ctx.values.mnlNyusatu;
    s.recompute = m_recompute;
    return s;
}

bool ArmedBid::mayBidAgain(QString *why) const
{
    auto no = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    if (m_deleted)
        return no(QStringLiteral("商品ﾘｽﾄから削除されました。"));
    if (const std::optional<QString> w = m_history.whyNot(m_item.ItemYen, amountOf(m_next)))
        return no(*w);
    if (!m_categoryNote.isEmpty())
        return no(m_categoryNote);
    if (m_holdUntil.isValid() && sw::now() < m_holdUntil)
        return no(m_message);
    return true;
}

qint64 ArmedBid::bidLeadMs() const
{
    PageRoute *route = m_hooks.pageRoute ? m_hooks.pageRoute() : nullptr;
    return onTodaysSite() && route ? route->prepareLeadMs() : previewLeadMs(timing().clock());
}

QCoro::Task<> ArmedBid::dryRun()
{
    PageRoute *route = m_hooks.pageRoute ? m_hooks.pageRoute() : nullptr;
    if (!route || m_dryRunning)
        co_return;
    const std::weak_ptr<int> alive = m_alive;
    m_dryRunning = true;
    const int handle = route->newHandle();
    const PagePrepared p = co_await route->prepare(
        handle, m_ctx.hosts.itemPage(m_item.Serverid, m_item.itemid), 0, m_item.Numkai, false);
    route->close(handle);
    if (alive.expired())
        co_return;
    m_dryRunning = false;
    if (p.ok || p.kind == QLatin1String("ended") || p.kind == QLatin1String("closed")) {
        if (!m_pageProblem.isEmpty()) {
            m_ctx.log.LOGTodb(QStringLiteral("入札画面を確認しました：") + label());
            if (m_lastResult == m_pageProblem)
                m_lastResult.clear();
            m_pageProblem.clear();
            emit changed();
        }
        co_return;
    }
    const QString problem =
        QStringLiteral("入札画面を確認できません：") + p.why +
        (p.said.isEmpty() ? QString() : QStringLiteral("（") + p.said + QStringLiteral("）"));
    if (problem == m_pageProblem)
        co_return;
    m_pageProblem = problem;
    m_lastResult = problem;
    m_ctx.log.LOGTodb(problem + QStringLiteral("：") + label());
    emit notice(
        NoticeKind::Failed,
        label() + QStringLiteral("\n") + problem +
            QStringLiteral("\n入札時刻までに直らなければ、ヤフオク!の画面で入札してください。"));
    if (p.kind == QLatin1String("login"))
        emit loginNeeded();
    emit changed();
}

void ArmedBid::checkAutoBid()
{
    const bool wasArmed = m_armed;
    if (!unusable().isEmpty()) {
        m_armed = false;
        m_message = unusable() + QStringLiteral("。");
        m_bidTime = {};
        timing().unplan(this);
        return;
    }
    const AutoBidDecision d = CheckAutoBid(settingsForCheck());
    if (d.beep)
        m_ctx.prompter.beep();
    if (d.nextPriceText)
        m_next = *d.nextPriceText;
    m_bidTime = m_item.enddate.addSecs(-m_ctx.values.befSec);
    m_message = d.message;
    m_armed = d.armed && !m_deleted;
    if (m_armed && !wasArmed)
        m_dryRunDone = m_dryRunLate = false; // armed anew: the page is looked at again
    if (m_armed) {
        noteCategoryOverlap();
        QString why;
        if (m_bidding || mayBidAgain(&why))
            planOwnBid();
        else
            timing().unplan(this); // nothing of ours goes out: no quiet needed for it
        if (!why.isEmpty() && !m_bidding)
            m_message = why;
        return;
    }
    timing().unplan(this);
    if (wasArmed)
        m_ctx.log.LOGTodb(m_item.itemid + SEP + d.message);
}

void ArmedBid::planOwnBid()
{
    if (m_item.fin || !m_bidTime.isValid())
        timing().unplan(this);
    else
        timing().plan(this, m_bidTime.toMSecsSinceEpoch());
}

bool ArmedBid::saveLimits(const BidLimits &l, QString *error)
{
    if (l.max < 0 || l.max > kMaxBidYen) {
        if (error)
            *error = l.max < 0 ? AutoBidText::maxNotANumber() : AutoBidText::maxTooHigh();
        return false;
    }
    if (m_deleted) {
        if (error)
            *error = QStringLiteral("この商品は商品ﾘｽﾄから削除されています。");
        return false;
    }
    if (!m_ctx.db.saveUserColumns(m_id, l.max, l.cat, l.quantity, l.status)) {
        if (error)
            *error = QStringLiteral("保存できませんでした：") + m_ctx.db.lastError();
        return false;
    }
    m_item.ItemYen = l.max;
    m_item.Numkai = l.quantity;
    m_item.cat = l.cat;
    m_item.status = l.status;
    m_recompute = true;
    checkAutoBid();
    emit changed();
    emit itemsChanged();
    return true;
}

void ArmedBid::recordOutcome(const BidResult &r, qint64 maxSent)
{
    if (r.outcome == BidResult::LoginNeeded || r.outcome == BidResult::NotSent ||
        r.outcome == BidResult::NotArrived)
        m_message = r.why;
    tell(m_history.onAnswer(r, maxSent));
}

QCoro::Task<> ArmedBid::bidNow(bool fromUser, QDateTime bidTime)
{
    checkAutoBid();
    // A reading on its way does not hold a bid back; only another bid does.
    if (m_bidding || (fromUser && busy() != Idle)) {
        if (fromUser && m_armed)
            m_ctx.prompter.message(QStringLiteral("処理中です"));
        co_return;
    }
    const std::weak_ptr<int> alive = m_alive;
    if (m_armed) {
        m_bidding = true;
        emit changed();
        // A reading already on its way says nothing about the bid that starts now.
        ++m_refreshSeq;
        BidRequest req;
        req.serverid = m_item.Serverid;
        req.itemid = m_item.itemid;
        req.amount = amountOf(m_next).value_or(0);
        req.bidTime = bidTime;
        req.end = m_item.enddate;
        req.quantity = m_item.Numkai;
        req.max = m_item.ItemYen;
        req.unit = m_item.ItemYenUnit;
        req.userId = m_ctx.values.ownId;
        req.encodedPassword = m_ctx.values.encodedPassword;
        req.alreadySent = m_history.answered;
        BidContext bc{*m_fetcher,
                      m_ctx.hosts,
                      m_ctx.log,
                      alive,
                      [this, alive](const QString &amount) {
                          if (alive.expired())
                              return;
                          m_next = amount;
                          emit changed();
                      },
                      &m_pacer,
                      [this, alive]() -> std::optional<QString> {
                          if (alive.expired() || !m_hooks.categoryBlock)
                              return std::nullopt;
                          return m_hooks.categoryBlock(*this);
                      },
                      [this, alive]() -> std::optional<LiveLimits> {
                          if (alive.expired())
                              return std::nullopt;
                          return liveLimits();
                      },
                      &timing()};
        // Today's site through its own page; the classic one by its preview and confirmation.
        // (Two awaits in one conditional expression: g++ 12 destroys the result twice.)
        PageRoute *route = m_hooks.pageRoute ? m_hooks.pageRoute() : nullptr;
        BidResult r;
        if (onTodaysSite())
            r = co_await PlacePageBid(bc, req, route);
        else
            r = co_await PlaceBid(bc, req);
        if (alive.expired())
            co_return;
        ++m_refreshSeq;
        recordOutcome(r, r.submitted.isEmpty() ? m_item.ItemYen : qMax(req.max, r.lastAmount));
        // Other items may be sending their bids in this very moment: showing the result
        // and reading the page again can wait a little.
        co_await preciseSleep(kAfterBidMs);
        if (alive.expired())
            co_return;
        if (r.dialogText)
            emit result(*r.dialogText, r.showDialog);
        if (r.outcome == BidResult::LoginNeeded)
            emit loginNeeded();
    }
    m_recompute = true;
    m_bidding = false;
    emit changed();
    co_await refresh(false, true);
}

QCoro::Task<> ArmedBid::buyAtBuyNowPrice()
{
    m_next = QString::number(m_item.ItemYen);
    m_recompute = false; // CheckAutoBid keeps this amount
    co_await bidNow(true, sw::now());
}

QString ArmedBid::label() const
{
    return m_item.itemid + QStringLiteral(" ") + m_item.Itemname;
}

void ArmedBid::tick()
{
    if (!unusable().isEmpty()) {
        m_caption = endReadable() ? QStringLiteral("入札（商品IDが不正）")
                                  : QStringLiteral("入札（終了日時不明）");
        emit ticked();
        return;
    }
    TickInput in;
    in.now = sw::now();
    in.end = m_item.enddate;
    in.befSec = m_ctx.values.befSec;
    in.finished = m_item.fin;
    in.armed = m_armed;
    in.bidding = m_bidding;
    in.refreshing = m_refreshing > 0;
    in.lastRefresh = m_lastRefresh;
    in.refreshIntervalSec = m_ctx.values.refreshIntervalSec;
    in.holdBid = !mayBidAgain(nullptr);
    in.previewLeadMs = bidLeadMs();
    in.slowAnswerMs = timing().clock().slowAnswerMs();
    in.othersImminent = timing().imminent(in.now.toMSecsSinceEpoch(), this);
    TickActions a = timerTick(in);
    if (a.refresh && m_nextReadAttempt.isValid() && in.now < m_nextReadAttempt)
        a.refresh = false;
    // A bid within two minutes wants the site's clock known to a fraction of a second.
    if (m_armed && !m_item.fin && in.now.secsTo(m_bidTime) < kProbeBeforeSec &&
        in.now < m_item.enddate && m_hooks.wantClock)
        m_hooks.wantClock(m_ctx.hosts.itemHostTop(m_item.Serverid));
    if (a.caption != m_caption) {
        m_caption = a.caption;
        emit ticked();
    }
    if (a.finishFrame)
        return;
    noteCategoryOverlap();
    // Over by the site's clock, and the page that would tell the result does not come.
    if (readFailing() && m_verdict.isEmpty() && (m_armed || m_missed || m_history.anythingSent()) &&
        m_item.enddate.isValid() && in.now >= m_item.enddate.addSecs(kUnknownVerdictSec))
        verdictUnknown();
    if (m_readWholePage && !a.startBid && busy() == Idle && !in.othersImminent) {
        m_readWholePage = false;
        a.refresh = true;
    }
    // Today's page: looked at when the item is armed and again ten minutes before the end,
    // and the browser engine made ready a little before the bid.
    if (PageRoute *route = m_hooks.pageRoute ? m_hooks.pageRoute() : nullptr;
        route && onTodaysSite() && m_armed && !m_item.fin && in.now < m_item.enddate) {
        const qint64 toBid = in.now.msecsTo(m_bidTime);
        if (toBid < 3 * 60 * 1000)
            route->keepWarmUntil(timing().clock().monoMs() + toBid + 60000);
        const bool quiet =
            !a.startBid && !m_bidding && !in.othersImminent && toBid > bidLeadMs() + 30000;
        if (quiet && !m_dryRunDone) {
            m_dryRunDone = true;
            dryRun();
        } else if (quiet && !m_dryRunLate && in.now.secsTo(m_item.enddate) <= 600) {
            m_dryRunLate = true;
            dryRun();
        }
    }
    if (a.startBid) {
        m_ctx.log.LOGTodb(QStringLiteral("入札準備その２"));
        bidNow(false, m_bidTime);
    } else if (a.refresh) {
        m_ctx.log.LOGTodb(QStringLiteral("最新情報所得"));
        refresh(false);
    }
}

} // namespace sw
