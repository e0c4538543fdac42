#pragma once

#include "appcontext.h"
#include "armedbid.h"
#include "database.h"
#include "itemparser.h"
#include "itemrecord.h"
#include "notice.h"
#include "scheduler.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>

#include <functional>

class QTimer;

namespace sw {

class ArmedBids;

// A reading written as it is, for an item that no bid owns: the price, who leads, the end,
// what today's page adds, and the status won when the member won it. False when the store
// refused.
bool recordReading(ItemDatabase &db, const ItemRecord &row, const ItemState &s);

// The one owner of every armed bid: the registry of armed items, the scheduler's 3-second
// timer and the site's clock. Windows (and the service's HTTP API) only look at it and hand
// it the user's edits, so an armed item always bids on what the user last said — a 保存, a
// delete, a category key, a run that rewrote the row. No widgets: the desktop program and
// the windowless service run the same owner.
class BidHost : public QObject
{
    Q_OBJECT
public:
    explicit BidHost(AppContext &ctx, QObject *parent = nullptr);
    ~BidHost() override;

    ArmedBids &bids() { return *m_bids; }
    // The route of bids on today's site (the item page's own controls, in a child that holds
    // the browser engine); owned by the host from here on.
    void setPageRoute(PageRoute *route);
    AppContext &context() { return m_ctx; }

    // The bidding values held in memory (seconds before the end, one win per category,
    // the refresh interval, …), read from the settings.
    void loadSettings();
    // The connection settings changed: every armed bid's next request goes the new way.
    void applyConnectionSettings();
    // Asks the site for its time, then ticks every 3 seconds; the first ticks look at the
    // bids whose time came while the program was not running.
    void start();
    bool running() const;
    // While a long run (an import, the bulk refresh, the options dialog) goes on the
    // scheduler does not tick; holds nest.
    void hold();
    void release();

    // What the desktop adds to the scheduler's view of each tick.
    struct Outlook
    {
        bool loginPageShown = false; // the built-in browser shows the site's login page
        bool browserLoading = false;
        bool aboutOpen = false;
        bool minimized = false; // the countdown goes to the caption
        QString title;
    };
    void setOutlook(std::function<Outlook()> outlook) { m_outlook = std::move(outlook); }

    // The user's edits. False, and nothing changed, when the store refused (error says why).
    bool saveLimits(int id, const BidLimits &limits, QString *error);
    bool deleteItem(int id, QString *error);
    bool setCategory(int id, const QString &cat, QString *error);
    // A reading of the item's page made elsewhere (the bulk refresh): its bid, if there is
    // one, takes it up (its verdict included); else it is written as it is. False when the
    // store refused it.
    bool takeReading(int id, const ItemState &s);
    // The item went to a snipewell-service: it is never armed here again.
    bool handedOver(int id, QString *error);

    // Bids still to go out: armed and running, or due for one; earliest end first.
    QList<ItemRecord> pendingBids();
    // The program ends: every pending bid is logged as abandoned, and no bid goes out any more.
    void abandonPending(const QString &why);

    // One pass of the scheduler (the timer's; tests call it).
    void tick();
    // The scheduler's timer (3 s), for those who show what it does.
    QTimer *timer() const { return m_timer; }
    // Replaces what a tick does (tests count ticks with it).
    void setTickOverride(std::function<void()> f) { m_tickOverride = std::move(f); }

signals:
    // What the desktop shows of a tick.
    void statusText(const QString &text);
    void captionText(const QString &text);
    void loginWanted();
    // An item's bid is near (600 minutes): the desktop shows it in a window.
    void bidNear(int id, const QDateTime &bidTime);
    // Every item's own signals, from one place.
    void itemsChanged();
    void result(const QString &dialogText, bool show);
    void loginNeeded();
    void notice(sw::NoticeKind kind, const QString &text);
    void bidChanged();
    // The item's row was deleted: whatever shows it should go.
    void itemDeleted(int id);

private:
    // Writes a row read from the site (a whole page, or a line of a list) and has its bid, if
    // there is one, take it up.
    ItemDatabase::Upsert storeRow(const ItemRecord &row, bool listing);
    void schedule();
    void catchUp();
    void catchUpNext();
    void keepLogShort();

    AppContext &m_ctx;
    ArmedBids *m_bids;
    QTimer *m_timer;
    QTimer *m_catchUpTimer;
    QTimer *m_logTimer;
    int m_holds = 0;
    bool m_started = false;
    bool m_caughtUp = false;
    qint64 m_startedMono = 0;
    QList<ItemRecord> m_missed; // bids to give a verdict, one after the other
    QSet<int> m_reportedUnreadable;
    QSet<int> m_prepared; // items whose bid preparation was logged
    std::function<Outlook()> m_outlook;
    std::function<void()> m_tickOverride;
    ItemPageParser::Writer m_previousWriter; // given back when this owner goes
};

} // namespace sw
