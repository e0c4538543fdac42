#include "armedbids.h"

#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "bidclock.h"
#include "bidexchange.h"
#include "clock.h"
#include "clockprobe.h"
#include "cookiejar.h"
#include "database.h"
#include "pagefetcher.h"
#include "settingsstore.h"
#include "siteclock.h"

#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <utility>

namespace sw {

namespace {
constexpr int kQuietCheckMs = 250;
}

ArmedBids::ArmedBids(AppContext &ctx, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_timing(std::make_unique<BidTiming>()),
      m_changedTimer(new QTimer(this)),
      m_probeFetcher(new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this)),
      m_probe(new ClockProbe(*m_probeFetcher, m_timing->clock(), this))
{
    configureFetcher(*m_probeFetcher, ctx.settings, false, ctx.prompter);
    m_probeFetcher->setClock(&m_timing->clock());
    m_ctx.log.setHold([this] { return m_timing->imminent(sw::nowMs()); });
    m_changedTimer->setSingleShot(true);
    connect(m_changedTimer, &QTimer::timeout, this, &ArmedBids::itemChanged);
}

ArmedBids::~ArmedBids()
{
    m_ctx.log.setHold({});
    const std::map<int, ArmedBid *> bids = std::exchange(m_bids, {});
    for (const auto &[id, bid] : bids)
        delete bid;
}

ArmedBid *ArmedBids::find(int id) const
{
    const auto it = m_bids.find(id);
    return it == m_bids.end() ? nullptr : it->second;
}

void ArmedBids::endAll()
{
    for (const auto &[id, bid] : m_bids)
        bid->end();
}

QList<ArmedBid *> ArmedBids::all() const
{
    QList<ArmedBid *> out;
    for (const auto &[id, bid] : m_bids)
        out << bid;
    return out;
}

ArmedBid *ArmedBids::acquire(int id)
{
    if (ArmedBid *b = find(id))
        return b;
    ArmedBid::Hooks hooks;
    hooks.categoryBlock = [this](const ArmedBid &b) { return categoryBlock(b); };
    hooks.wantClock = [this](const QString &url) { clockProbe().want(url); };
    hooks.pageRoute = [this] { return m_pageRoute; };
    hooks.timing = m_timing.get();
    auto *b = new ArmedBid(m_ctx, id, std::move(hooks));
    if (!b->load()) {
        delete b;
        return nullptr;
    }
    connect(b, &ArmedBid::itemsChanged, this, &ArmedBids::itemChanged);
    connect(b, &ArmedBid::result, this, &ArmedBids::result);
    connect(b, &ArmedBid::loginNeeded, this, &ArmedBids::loginNeeded);
    connect(b, &ArmedBid::notice, this, &ArmedBids::notice);
    connect(b, &ArmedBid::changed, this, &ArmedBids::bidChanged);
    connect(b, &QObject::destroyed, this, [this, id, b] {
        const auto it = m_bids.find(id);
        if (it != m_bids.end() && it->second == b)
            m_bids.erase(it);
    });
    m_bids.emplace(id, b);
    return b;
}

ArmedBid *ArmedBids::acquireShown(int id)
{
    ArmedBid *b = acquire(id);
    if (b)
        ++m_shown[id];
    return b;
}

void ArmedBids::sweep()
{
    int gone = 0;
    for (ArmedBid *b : all()) {
        if (m_shown.value(b->id()) > 0 || b->busy() != 0)
            continue;
        if (b->deleted() || (b->dismissed() && (b->finished() || !b->armed()))) {
            m_bids.erase(b->id());
            delete b;
            ++gone;
        }
    }
#ifdef __GLIBC__
    // A service runs for months: what the bids held goes back to the system, not only to
    // the heap.
    if (gone > 0)
        malloc_trim(0);
#endif
}

void ArmedBids::release(int id)
{
    if (auto shown = m_shown.find(id); shown != m_shown.end() && --*shown <= 0)
        m_shown.erase(shown);
    if (m_shown.value(id) > 0)
        return;
    const auto it = m_bids.find(id);
    if (it == m_bids.end())
        return;
    ArmedBid *b = it->second;
    const bool tells = !b->dismissed() && (!b->verdict().isEmpty() || !b->lastResult().isEmpty());
    if ((b->armed() && !b->finished()) || b->busy() != 0 || tells)
        return;
    m_bids.erase(it);
    delete b;
}

void ArmedBids::dismissFinished()
{
    for (ArmedBid *b : all()) {
        if (b->finished() || b->deleted() || !b->verdict().isEmpty()) {
            b->dismiss();
            if (!m_ctx.db.setVerdict(b->id(), QString()))
                m_ctx.log.LOGTodb(QStringLiteral("結果を一覧から消せませんでした：") +
                                  m_ctx.db.lastError());
        }
    }
    // Verdicts kept from an earlier run have no bid here any more.
    for (const ItemRecord &r : m_ctx.db.itemsWithVerdict().value_or(QList<ItemRecord>{})) {
        if (!find(r.id) && !m_ctx.db.setVerdict(r.id, QString()))
            m_ctx.log.LOGTodb(QStringLiteral("結果を一覧から消せませんでした：") +
                              m_ctx.db.lastError());
    }
    emit bidChanged();
}

std::optional<QString> ArmedBids::categoryBlock(const ArmedBid &bid) const
{
    const QString cat = bid.limits().cat;
    if (!m_ctx.values.catOn || cat.toInt() <= 0)
        return std::nullopt;
    const QDateTime now = sw::now();
    const QString own = m_ctx.values.ownId;
    auto because = [](const QString &name) -> QString {
        return QStringLiteral("同じカテゴリの「") + name +
               QStringLiteral("」を落札したので入札しません");
    };
    // Asked every second by every armed item of the category: the store is read at most
    // once a second for it.
    const qint64 mono = m_timing->clock().monoMs();
    auto cached = m_wonCache.find(cat);
    if (cached == m_wonCache.end() || mono - cached->first >= 1000) {
        const auto won = m_ctx.db.wonInCategory(now, own, cat);
        cached = m_wonCache.insert(cat, {mono, won.value_or(QList<ItemRecord>{})});
    }
    {
        for (const ItemRecord &r : cached->second) {
            if (r.id != bid.id())
                return because(r.Itemname);
        }
    }
    // Just bid on and leading at its end: won, though no reading has said so yet.
    for (const auto &[id, other] : m_bids) {
        if (other != &bid && other->limits().cat == cat && other->leading() &&
            other->endTime().isValid() && other->endTime() <= now)
            return because(other->item().Itemname);
    }
    // Two items of the category whose bids overlap: only the one ending first bids. The
    // other waits for that one's result when it can be known before its own bid starts
    // (the end, the reading after it, a slow answer), else it does not bid at all.
    const SiteClock &clock = m_timing->clock();
    const qint64 resultTakes = 2000 + qMax<qint64>(clock.slowAnswerMs(), 1000) + 3000;
    const qint64 startsAt = bid.bidTime().toMSecsSinceEpoch() - bid.bidLeadMs();
    for (const auto &[id, other] : m_bids) {
        // One that cannot win any more holds nothing back: the next item of the category bids.
        if (other == &bid || other->limits().cat != cat || other->deleted() || other->finished() ||
            other->categoryHeld() || other->outOfTheRunning() || !other->endTime().isValid())
            continue;
        if (!other->armed() && !other->leading() && !other->history().anythingSent())
            continue;
        const bool first = other->endTime() < bid.endTime() ||
                           (other->endTime() == bid.endTime() && other->id() < bid.id());
        if (first && other->endTime().toMSecsSinceEpoch() + resultTakes > startsAt)
            return QStringLiteral("同じカテゴリの「") + other->item().Itemname +
                   QStringLiteral(
                       "」と終了時刻が近いので入札しません（先に終わる方だけ入札します）");
    }
    return std::nullopt;
}

ClockProbe &ArmedBids::clockProbe()
{
    // The clock's requests go the way the bids go, through the Proxy setting as it is now.
    m_probeFetcher->applyProxySetting(
        m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()));
    return *m_probe;
}

void ArmedBids::itemChanged()
{
    if (m_timing->imminent(sw::nowMs())) {
        if (!m_changedTimer->isActive())
            m_changedTimer->start(kQuietCheckMs);
        return;
    }
    m_changedTimer->stop();
    emit itemsChanged();
}

} // namespace sw
