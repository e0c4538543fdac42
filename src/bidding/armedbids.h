#pragma once

#include "appcontext.h"
#include "itemrecord.h"
#include "notice.h"

#include <QHash>

#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <optional>

class QTimer;

namespace sw {

class ArmedBid;
class BidTiming;
class ClockProbe;
class PageRoute;
class PageFetcher;

// Every item watched for bidding, by record id, outside any window: a bid window shows
// one of them, and its bid goes on when the window closes. Here too the rules between
// items: one win per category, the site's clock for the bids that are near, and the
// item list read again only once the bids of the moment are out.
class ArmedBids : public QObject
{
    Q_OBJECT
public:
    explicit ArmedBids(AppContext &ctx, QObject *parent = nullptr);
    ~ArmedBids() override;

    ArmedBid *find(int id) const;
    // The item's, made and loaded when there is none yet; nullptr when the store has no
    // such item.
    ArmedBid *acquire(int id);
    // The same, for a window that shows the bid: it stays while any window does.
    ArmedBid *acquireShown(int id);
    // No window shows the item any more: it goes unless it is armed for a bid to come or
    // has something to tell (a verdict stays until the user clears it).
    void release(int id);
    // Lets go of every bid that is over for good: its item deleted, or finished and
    // cleared from the overview — unless a window shows it or it is at work.
    void sweep();
    // 一覧から消す: the finished bids leave the overview.
    void dismissFinished();
    QList<ArmedBid *> all() const;
    // The program ends: no bid goes to the site any more.
    void endAll();

    // Why `bid` must not be made while one win per category is on: another item of the
    // category already won, or ended with us leading, or ending so close before it that its
    // result cannot be known in time (the one ending first bids).
    std::optional<QString> categoryBlock(const ArmedBid &bid) const;

    ClockProbe &clockProbe();
    // The site's clock, the one timer of bids waiting for their moment, the planned bids.
    BidTiming &timing() const { return *m_timing; }
    // The route of bids on today's site; the bids' owner sets it (nullptr: none).
    void setPageRoute(PageRoute *route) { m_pageRoute = route; }
    PageRoute *pageRoute() const { return m_pageRoute; }

signals:
    void itemsChanged();
    void result(const QString &dialogText, bool show);
    void loginNeeded();
    void notice(sw::NoticeKind kind, const QString &text);
    void bidChanged(); // one of the bids changed its state or its item

private:
    void itemChanged();

    AppContext &m_ctx;
    // First: its clock is the program's before any fetcher of the bids is made, and it
    // outlives every bid that waits on its timer.
    std::unique_ptr<BidTiming> m_timing;
    std::map<int, ArmedBid *> m_bids;
    QHash<int, int> m_shown; // windows showing each bid
    QTimer *m_changedTimer;
    mutable QHash<QString, std::pair<qint64, QList<ItemRecord>>> m_wonCache;
    PageFetcher *m_probeFetcher;
    ClockProbe *m_probe;
    PageRoute *m_pageRoute = nullptr;
};

} // namespace sw
