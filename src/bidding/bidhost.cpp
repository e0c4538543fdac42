#include "bidhost.h"

#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "armedbids.h"
#include "bidclock.h"
#include "clock.h"
#include "clockprobe.h"
#include "cookiejar.h"
#include "database.h"
#include "handedover.h"
#include "itemparser.h"
#include "pageroute.h"
#include "settingsstore.h"
#include "siteclock.h"
#include "sitehosts.h"

#include <QTimer>

#include <algorithm>

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");
constexpr int kTickMs = 3000;
constexpr int kCatchUpSpacingMs = 250;
// The first ticks wait this long for the site's clock before they look at the bids
// missed while the program was not running.
constexpr qint64 kClockWaitMs = 20000;
// Until the site's clock is known, an item the machine's clock calls ended this recently
// may still be running: the site's page decides.
constexpr int kUnsureEndSecs = 15 * 60;
constexpr qint64 kEndMarginMs = 5000;
constexpr int kLogCheckMs = 60 * 60 * 1000;
constexpr int kMaxBefSec = 600;
} // namespace

BidHost::BidHost(AppContext &ctx, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_bids(new ArmedBids(ctx, this)), m_timer(new QTimer(this)),
      m_catchUpTimer(new QTimer(this)), m_logTimer(new QTimer(this))
{
    // Only the site's own hosts tell its time.
    const SiteHosts *hosts = &ctx.hosts;
    m_bids->timing().clock().setSiteHosts(
        [hosts](const QString &host) { return hosts->isSiteHost(host); });
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &BidHost::tick);
    m_catchUpTimer->setInterval(kCatchUpSpacingMs);
    connect(m_catchUpTimer, &QTimer::timeout, this, &BidHost::catchUpNext);
    m_logTimer->setInterval(kLogCheckMs);
    connect(m_logTimer, &QTimer::timeout, this, &BidHost::keepLogShort);
    connect(m_bids, &ArmedBids::itemsChanged, this, &BidHost::itemsChanged);
    // An import or a capture that rewrote an item's row: its bid reads the row again.
    // Rows read from the site's pages (an import, a capture, 商品を追加) are written here.
    m_previousWriter = ctx.parser.setWriter(
        {[this](const ItemRecord &page) { return storeRow(page, false); },
         [this](const ItemRecord &listing) { return storeRow(listing, true); }});
    connect(m_bids, &ArmedBids::result, this, &BidHost::result);
    connect(m_bids, &ArmedBids::loginNeeded, this, &BidHost::loginNeeded);
    connect(m_bids, &ArmedBids::notice, this, &BidHost::notice);
    connect(m_bids, &ArmedBids::bidChanged, this, &BidHost::bidChanged);
}

BidHost::~BidHost()
{
    m_ctx.parser.setWriter(std::move(m_previousWriter));
}

ItemDatabase::Upsert BidHost::storeRow(const ItemRecord &row, bool listing)
{
    const ItemDatabase::Upsert r = listing ? m_ctx.db.upsertListing(row) : m_ctx.db.upsertItem(row);
    if (r != ItemDatabase::Upsert::Failed) {
        const std::optional<ItemRecord> stored = m_ctx.db.itemByItemid(row.itemid);
        if (ArmedBid *b = stored ? m_bids->find(stored->id) : nullptr)
            b->load();
    }
    return r;
}

void BidHost::setPageRoute(PageRoute *route)
{
    route->setParent(this);
    m_bids->setPageRoute(route);
    // A new login's cookies reach the pages the route holds.
    connect(&m_ctx.cookies, &PersistentCookieJar::changed, route, &PageRoute::cookiesChanged);
}

void BidHost::applyConnectionSettings()
{
    for (ArmedBid *b : m_bids->all())
        b->applyConnectionSettings();
}

void BidHost::loadSettings()
{
    AppValues &v = m_ctx.values;
    const QString stored = m_ctx.settings.get(kSettings, QStringLiteral("Befsec"), QString());
    bool ok = false;
    const int befSec = stored.trimmed().toInt(&ok);
    const bool usable = ok && befSec > 0 && befSec <= kMaxBefSec;
    v.befSec = usable ? befSec : 30;
    if (!stored.isEmpty() && !usable) {
        // A hand-edited file: a bid at or after the end would never go out, and one an hour
        // early would hand the site the maximum for everyone to see.
        m_ctx.log.LOGTodb(QStringLiteral("設定ファイルの入札秒数（Befsec）が正しくないので30秒前に"
                                         "入札します：") +
                          stored);
    }
    const int minutes = m_ctx.settings.getInt(kSettings, QStringLiteral("accesskankaku"), 1);
    v.refreshIntervalSec = minutes <= 0 ? 60 : minutes * 60;
    v.mnlNyusatu = m_ctx.settings.getBool(kSettings, QStringLiteral("mnlNyusatu"), false);
    v.catOn = m_ctx.settings.getBool(kSettings, QStringLiteral("CatOn"), false);
}

void BidHost::start()
{
    m_started = true;
    m_startedMono = m_bids->timing().clock().monoMs();
    // The machine's clock may be far off: the site is asked for its time at once, so that
    // no item is taken as ended (or not yet near) by a wrong clock.
    if (!pendingBids().isEmpty() ||
        !m_ctx.db.endedUnrecorded(sw::now()).value_or(QList<ItemRecord>{}).isEmpty())
        m_bids->clockProbe().want(m_ctx.hosts.itemHostTop(QStringLiteral("1")));
    if (m_holds == 0)
        m_timer->start();
    m_logTimer->start();
}

bool BidHost::running() const
{
    return m_timer->isActive();
}

void BidHost::hold()
{
    ++m_holds;
    m_timer->stop();
}

void BidHost::release()
{
    if (m_holds > 0 && --m_holds == 0 && m_started)
        m_timer->start();
}

void BidHost::tick()
{
    if (m_tickOverride)
        m_tickOverride();
    else
        schedule();
    m_bids->sweep();
}

void BidHost::schedule()
{
    if (m_holds > 0)
        return;
    const Outlook o = m_outlook ? m_outlook() : Outlook{};
    SchedulerInput in;
    in.now = sw::now();
    // Reading the items takes a while with a long list; not while a bid goes out.
    if (m_bids->timing().imminent(in.now.toMSecsSinceEpoch()))
        return;
    const SiteClock &clock = m_bids->timing().clock();
    if (!m_caughtUp && m_started &&
        (clock.measured() || clock.monoMs() - m_startedMono >= kClockWaitMs))
        catchUp();
    in.befSec = m_ctx.values.befSec;
    in.catOn = m_ctx.values.catOn;
    in.minimized = o.minimized;
    in.title = o.title;
    in.loginPageShown = o.loginPageShown;
    in.browserLoading = o.browserLoading;
    in.aboutOpen = o.aboutOpen;
    // With bids to come, the site's clock is learnt closely while nothing is urgent.
    if (!clock.precise()) {
        const QList<ItemRecord> pending = pendingBids();
        if (!pending.isEmpty())
            m_bids->clockProbe().want(m_ctx.hosts.itemHostTop(pending.first().Serverid));
    }
    const QDateTime horizon = clock.measured()
                                  ? in.now.addMSecs(-(clock.uncertaintyMs() + kEndMarginMs))
                                  : in.now.addSecs(-kUnsureEndSecs);
    const auto candidates = m_ctx.db.biddingCandidates(horizon);
    if (!candidates)
        return; // the next tick tries again
    in.candidates = *candidates;
    const QString ownId = m_ctx.values.ownId;
    ItemDatabase &db = m_ctx.db;
    in.categoryWon = [&db, ownId, now = in.now](const QString &cat) -> std::optional<bool> {
        const auto won = db.wonInCategory(now, ownId, cat);
        if (!won)
            return std::nullopt;
        return !won->isEmpty();
    };
    const SchedulerOutput out = schedulerTick(in);
    if (out.showLogin)
        emit loginWanted();
    if (out.caption)
        emit captionText(*out.caption);
    if (out.statusText)
        emit statusText(*out.statusText);
    for (const ItemRecord &row : out.unreadable) {
        if (m_reportedUnreadable.contains(row.id))
            continue;
        m_reportedUnreadable.insert(row.id);
        const QString why =
            row.enddate.isValid()
                ? QStringLiteral("商品IDかサーバー番号が正しくないので自動入札しません")
                : QStringLiteral("終了日時が読めないので自動入札しません");
        m_ctx.log.LOGTodb(why + QStringLiteral("：") + row.itemid + QStringLiteral("（") +
                          row.Itemname + QStringLiteral("）"));
    }
    // Nearest bids first: their items are made ready before the others.
    QList<ItemRecord> open = out.open;
    std::stable_sort(open.begin(), open.end(), [](const ItemRecord &a, const ItemRecord &b) {
        return a.enddate < b.enddate;
    });
    for (const ItemRecord &row : open) {
        if (isHandedOver(m_ctx.settings, row.itemid))
            continue; // the service bids on it
        ArmedBid *b = m_bids->find(row.id);
        const bool fresh = !b;
        if (!b)
            b = m_bids->acquire(row.id);
        if (!b)
            continue;
        if (!m_prepared.contains(row.id)) {
            m_prepared.insert(row.id);
            m_ctx.log.LOGTodb(QStringLiteral("入札準備開始：") + row.itemid);
        }
        if (fresh && row.enddate <= in.now)
            b->readSoon(); // over by this machine's clock: the site's page decides
        if (b->deleted() || row.enddate <= in.now)
            continue;
        emit bidNear(row.id, row.enddate.addSecs(-in.befSec));
    }
}

void BidHost::catchUp()
{
    m_caughtUp = true;
    const SiteClock &clock = m_bids->timing().clock();
    const QDateTime before = sw::now().addMSecs(-(clock.uncertaintyMs() + kEndMarginMs));
    const auto rows = m_ctx.db.endedUnrecorded(before);
    if (!rows) {
        m_ctx.log.LOGTodb(QStringLiteral("終了した商品を確かめられませんでした：") +
                          m_ctx.db.lastError());
        return;
    }
    for (const ItemRecord &r : *rows) {
        if (!m_bids->find(r.id))
            m_missed << r;
    }
    if (!m_missed.isEmpty())
        m_catchUpTimer->start();
}

void BidHost::catchUpNext()
{
    if (m_missed.isEmpty()) {
        m_catchUpTimer->stop();
        return;
    }
    const ItemRecord r = m_missed.takeFirst();
    if (m_bids->find(r.id))
        return;
    ArmedBid *b = m_bids->acquire(r.id);
    if (!b)
        return;
    // Did a bid of the run that was going then get out? Its log says so.
    const bool earlier = m_ctx.db.logHasEntryStarting(QStringLiteral("入札開始：") + r.itemid +
                                                      QStringLiteral("："));
    m_ctx.log.LOGTodb(QStringLiteral("入札時刻にプログラムが動いていませんでした：") + r.itemid +
                      QStringLiteral("（") + r.Itemname +
                      QStringLiteral("）。商品ページで結果を確かめます"));
    b->missedWhileAway(earlier);
}

bool BidHost::saveLimits(int id, const BidLimits &l, QString *error)
{
    if (l.quantity > 0) {
        const std::optional<ItemRecord> r = m_ctx.db.itemById(id);
        if (r && isHandedOver(m_ctx.settings, r->itemid)) {
            // Never armed in two places: the service bids on it.
            if (error)
                *error =
                    QStringLiteral("この商品は入札サービスに任せています。入札数量は入札サービス"
                                   "の画面で変えてください。");
            return false;
        }
    }
    if (ArmedBid *b = m_bids->find(id))
        return b->saveLimits(l, error);
    if (l.max < 0 || l.max > kMaxBidYen) {
        if (error)
            *error = l.max < 0 ? AutoBidText::maxNotANumber() : AutoBidText::maxTooHigh();
        return false;
    }
    if (!m_ctx.db.saveUserColumns(id, l.max, l.cat, l.quantity, l.status)) {
        if (error)
            *error = QStringLiteral("保存できませんでした：") + m_ctx.db.lastError();
        return false;
    }
    emit itemsChanged();
    return true;
}

bool BidHost::deleteItem(int id, QString *error)
{
    // The bid stops first: nothing more goes to the site for an item the user removed,
    // even if the store then refuses the delete.
    if (ArmedBid *b = m_bids->find(id))
        b->disarmDeleted();
    if (!m_ctx.db.deleteItem(id)) {
        if (error)
            *error = QStringLiteral("削除できませんでした：") + m_ctx.db.lastError();
        return false;
    }
    emit itemDeleted(id);
    emit itemsChanged();
    return true;
}

bool BidHost::setCategory(int id, const QString &cat, QString *error)
{
    if (!m_ctx.db.setCategory(id, cat)) {
        if (error)
            *error = QStringLiteral("カテゴリを設定できませんでした：") + m_ctx.db.lastError();
        return false;
    }
    if (ArmedBid *b = m_bids->find(id))
        b->categorySet(cat);
    emit itemsChanged();
    return true;
}

bool BidHost::handedOver(int id, QString *error)
{
    const std::optional<ItemRecord> r = m_ctx.db.itemById(id);
    if (!r) {
        if (error)
            *error = QStringLiteral("商品が見つかりません（") + QString::number(id) +
                     QStringLiteral("）");
        return false;
    }
    BidLimits l{r->ItemYen, 0, r->cat, r->status};
    if (!saveLimits(id, l, error))
        return false;
    rememberHandedOver(m_ctx.settings, r->itemid);
    if (ArmedBid *b = m_bids->find(id))
        b->setNote(handedOverText());
    m_ctx.log.LOGTodb(handedOverText() + QStringLiteral("：") + r->itemid + QStringLiteral("（") +
                      r->Itemname + QStringLiteral("）"));
    emit itemsChanged();
    return true;
}

bool recordReading(ItemDatabase &db, const ItemRecord &row, const ItemState &s)
{
    // Won only when the site said so; a follow-up state the user set stays while it is won.
    const bool won = s.ours.value_or(false) && s.finished;
    const int status = won ? (row.status == Watching ? int(Won) : row.status) : int(Watching);
    if (s.item && !db.saveSiteColumns(row.id, *s.item))
        return false;
    return db.saveRefresh(row.id, s.price, s.bidder, s.bids, status, s.finished, s.end);
}

bool BidHost::takeReading(int id, const ItemState &s)
{
    const std::optional<ItemRecord> row = m_ctx.db.itemById(id);
    if (!row)
        return false;
    ArmedBid *b = m_bids->find(id);
    // A bid the user meant to place that the reading shows over gets its verdict from its
    // owner, also when the scheduler had not taken it up.
    if (!b && s.finished && !row->fin && row->Numkai > 0 && row->ItemYen > 0 &&
        !isHandedOver(m_ctx.settings, row->itemid))
        b = m_bids->acquire(id);
    if (b) {
        b->takeReading(s);
        return true;
    }
    const bool ok = recordReading(m_ctx.db, *row, s);
    emit itemsChanged();
    return ok;
}

QList<ItemRecord> BidHost::pendingBids()
{
    const QDateTime now = sw::now();
    QList<ItemRecord> out;
    QSet<int> seen;
    for (const ArmedBid *b : m_bids->all()) {
        seen.insert(b->id());
        if (b->armed() && !b->deleted() && !b->finished() && b->endTime() > now)
            out << b->item();
    }
    // Items the scheduler has not taken up yet count too: their bids are planned.
    for (const ItemRecord &r : m_ctx.db.biddingCandidates(now).value_or(QList<ItemRecord>{})) {
        if (!seen.contains(r.id) && r.enddate > now && r.ItemYen > 0)
            out << r;
    }
    std::stable_sort(out.begin(), out.end(), [](const ItemRecord &a, const ItemRecord &b) {
        return a.enddate < b.enddate;
    });
    return out;
}

void BidHost::abandonPending(const QString &why)
{
    for (const ItemRecord &r : pendingBids())
        m_ctx.log.LOGTodb(QStringLiteral("入札中止（") + why + QStringLiteral("）：") + r.itemid +
                          QStringLiteral("（") + r.Itemname + QStringLiteral("）"));
    // Said abandoned, so abandoned: nothing more goes out while the program winds down.
    m_timer->stop();
    m_catchUpTimer->stop();
    m_bids->endAll();
}

void BidHost::keepLogShort()
{
    if (m_bids->timing().imminent(sw::nowMs()))
        return;
    m_ctx.log.flush();
    m_ctx.db.trimLog(sw::now(), m_ctx.settings.getInt(kSettings, QStringLiteral("LogDays"), 90),
                     m_ctx.settings.getInt(kSettings, QStringLiteral("LogRows"), 20000));
}

} // namespace sw
