#pragma once

#include "appcontext.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>

#include <functional>

class QMdiArea;
class QTimer;
class QWidget;

namespace sw {

class ArmedBids;
class BidHost;
class Dialog1;
class frmSw;

// Where the index-th bid window of this size opens: inside the part of the frame that is on
// the screen, cascaded, and never past the screen's edges.
QPoint windowPlace(const QRect &frame, const QRect &screen, const QSize &size, int index);
// The first of those places no other window stands on.
QPoint freePlace(const QRect &frame, const QRect &screen, const QSize &size,
                 const QList<QPoint> &taken);

// The open bid windows by item id: the scheduler and the item list look here before
// opening a window, so an item never has two. Also owns the result window.
class BidWindows : public QObject
{
    Q_OBJECT
public:
    BidWindows(AppContext &ctx, BidHost &host, QMdiArea *area, QWidget *mainWindow,
               QObject *parent = nullptr);
    ~BidWindows() override;

    // The item's open window, or nullptr.
    frmSw *find(int id) const;
    // A new window for the item, loaded and shown at a free place. activate: it takes the
    // keyboard (the user asked for it); one the scheduler opens never does.
    frmSw *open(int id, bool activate = true);
    // Opens the item's window a moment later: windows are opened one at a time, the
    // earliest bid first, and not while a bid is about to go out (opening one takes tens
    // of milliseconds). True when the item has a window or is waiting for one.
    void openSoon(int id, const QDateTime &bidTime);
    bool openOrWaiting(int id) const;
    // The items watched for bidding, with or without a window, and their owner.
    ArmedBids &armedBids() { return *m_bids; }
    BidHost &host() { return m_host; }
    // In the order they were opened, the first opened first.
    QList<frmSw *> windows() const;

    Dialog1 *dialog() const { return m_dialog; }
    // Where the windows' page buttons open a page: the system's browser unless replaced
    // (the demo shows the simulated site's pages in the built-in browser instead).
    void setPageOpener(std::function<void(const QString &)> opener)
    {
        m_opener = std::move(opener);
    }
    void openPage(const QString &url);
    void bringMainForward();
    AppContext &context() { return m_ctx; }

    // Called by a window when its item id is set or it closes.
    void registerWindow(int id, frmSw *w);
    void unregisterWindow(frmSw *w);

signals:
    // Something an item list shows has changed: it should re-query.
    void itemsChanged();
    // A bid window was opened for the item.
    void windowOpened(int id);
    // The site answered a bid with its login page.
    void loginNeeded();
    // 入札サービスに任せる, from a bid window.
    void handOverRequested(int id);

private:
    AppContext &m_ctx;
    BidHost &m_host;
    QPointer<QMdiArea> m_area;
    QPointer<QWidget> m_main;
    Dialog1 *m_dialog;
    QHash<int, QPointer<frmSw>> m_byId;
    QList<QPointer<frmSw>> m_order; // every window, in opening order
    std::function<void(const QString &)> m_opener;
    void openNext();
    QList<std::pair<qint64, int>> m_toOpen; // (bid time, item id), earliest first
    QTimer *m_openTimer;
    ArmedBids *m_bids;
};

} // namespace sw
