#include "bidwindows.h"

#include "appcontext.h"
#include "armedbids.h"
#include "bidclock.h"
#include "bidexchange.h"
#include "bidhost.h"
#include "clock.h"
#include "dialog1.h"
#include "frmsw.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace sw {

namespace {
constexpr int kOpenSpacingMs = 30;
constexpr int kQuietCheckMs = 250;
// A window whose bid is this near opens even while another bid is about to go out.
constexpr qint64 kUrgentMs = 15000;
} // namespace

BidWindows::BidWindows(AppContext &ctx, BidHost &host, QMdiArea *area, QWidget *mainWindow,
                       QObject *parent)
    : QObject(parent), m_ctx(ctx), m_host(host), m_area(area), m_main(mainWindow),
      m_dialog(new Dialog1(mainWindow)), m_openTimer(new QTimer(this)), m_bids(&host.bids())
{
    m_openTimer->setSingleShot(true);
    connect(m_openTimer, &QTimer::timeout, this, &BidWindows::openNext);
    connect(&m_host, &BidHost::bidNear, this, &BidWindows::openSoon);
    connect(&m_host, &BidHost::itemsChanged, this, &BidWindows::itemsChanged);
    connect(&m_host, &BidHost::loginNeeded, this, &BidWindows::loginNeeded);
    connect(&m_host, &BidHost::result, this, [this](const QString &text, bool show) {
        m_dialog->setText(text);
        if (show)
            m_dialog->showModeless();
    });
    connect(&m_host, &BidHost::itemDeleted, this, [this](int id) {
        if (frmSw *w = find(id))
            w->window()->close();
    });
}

BidWindows::~BidWindows()
{
    // Windows without a frame to close with go with the registry.
    for (frmSw *w : windows()) {
        if (!w->parentWidget())
            delete w;
    }
}

bool BidWindows::openOrWaiting(int id) const
{
    if (find(id))
        return true;
    for (const auto &[at, queued] : m_toOpen) {
        if (queued == id)
            return true;
    }
    return false;
}

void BidWindows::openSoon(int id, const QDateTime &bidTime)
{
    if (openOrWaiting(id))
        return;
    const std::pair<qint64, int> entry{bidTime.toMSecsSinceEpoch(), id};
    m_toOpen.insert(std::lower_bound(m_toOpen.begin(), m_toOpen.end(), entry), entry);
    if (!m_openTimer->isActive())
        m_openTimer->start(0);
}

void BidWindows::openNext()
{
    if (m_toOpen.isEmpty())
        return;
    const qint64 now = sw::nowMs();
    const auto [at, id] = m_toOpen.first();
    if (m_host.bids().timing().imminent(now) && at - now > kUrgentMs) {
        m_openTimer->start(kQuietCheckMs);
        return;
    }
    m_toOpen.removeFirst();
    if (!find(id))
        open(id, false); // the user may be typing elsewhere
    if (!m_toOpen.isEmpty())
        m_openTimer->start(kOpenSpacingMs);
}

frmSw *BidWindows::find(int id) const
{
    const auto it = m_byId.constFind(id);
    return it == m_byId.constEnd() ? nullptr : it->data();
}

QList<frmSw *> BidWindows::windows() const
{
    QList<frmSw *> out;
    for (const QPointer<frmSw> &w : m_order) {
        if (w && m_byId.value(w->id()) == w)
            out << w.data();
    }
    return out;
}

QPoint windowPlace(const QRect &frame, const QRect &screen, const QSize &size, int index)
{
    // The part of the frame that is on the screen; the whole screen if none is.
    QRect area = frame.intersected(screen);
    if (area.width() < size.width() / 2 || area.height() < size.height() / 2)
        area = screen;
    constexpr int kStep = 28;
    const int room =
        qMax(1, qMin(area.width() - size.width(), area.height() - size.height()) / kStep);
    const int offset = kStep * (1 + qMax(0, index) % room);
    QPoint p = area.topLeft() + QPoint(offset, offset);
    // Never past the screen's edges, whatever the sizes.
    p.setX(qBound(screen.left(), p.x(), qMax(screen.left(), screen.right() + 1 - size.width())));
    p.setY(qBound(screen.top(), p.y(), qMax(screen.top(), screen.bottom() + 1 - size.height())));
    return p;
}

QPoint freePlace(const QRect &frame, const QRect &screen, const QSize &size,
                 const QList<QPoint> &taken)
{
    // The cascade's steps across and down the part of the frame on the screen: as many
    // places as fit, the first one nobody stands on.
    constexpr int kStep = 28;
    constexpr int kNear = 12;
    QRect area = frame.intersected(screen);
    if (area.width() < size.width() / 2 || area.height() < size.height() / 2)
        area = screen;
    const int across = qMax(1, (area.width() - size.width()) / kStep);
    const int down = qMax(1, (area.height() - size.height()) / kStep);
    for (int i = 0; i < across * down; ++i) {
        QPoint p = area.topLeft() +
                   QPoint(kStep * (1 + (i / down) % across + i % down), kStep * (1 + i % down));
        p.setX(
            qBound(screen.left(), p.x(), qMax(screen.left(), screen.right() + 1 - size.width())));
        p.setY(
            qBound(screen.top(), p.y(), qMax(screen.top(), screen.bottom() + 1 - size.height())));
        const bool used = std::any_of(taken.begin(), taken.end(), [&p](const QPoint &t) {
            return (t - p).manhattanLength() < kNear;
        });
        if (!used)
            return p;
    }
    return windowPlace(frame, screen, size, int(taken.size()));
}

frmSw *BidWindows::open(int id, bool activate)
{
    auto *w = new frmSw(m_ctx, *this);
    if (m_area) {
        QMdiSubWindow *sub = m_area->addSubWindow(w);
        sub->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        // Bid windows stand on their own beside the frame, so they can be arranged along
        // the screen's edge; they close with it.
        if (m_main)
            w->setParent(m_main, Qt::Window);
        w->setAttribute(Qt::WA_DeleteOnClose);
    }
    w->setId(id);
    w->applyWindowMode();
    if (m_area) {
        w->parentWidget()->show();
        if (activate)
            w->present();
    } else {
        // Inside the frame the user sees, one a little below the other, and in front of it.
        if (m_main) {
            const QScreen *screen = m_main->screen();
            const QRect avail = screen ? screen->availableGeometry() : m_main->frameGeometry();
            w->adjustSize();
            QList<QPoint> taken;
            for (const frmSw *other : windows()) {
                if (other != w && other->window()->isVisible())
                    taken << other->window()->pos();
            }
            // Its title bar and borders are not known before it is shown: the frame's are
            // the best guess, as the same window manager draws both.
            const QSize decoration = m_main->frameGeometry().size() - m_main->size();
            w->move(freePlace(m_main->frameGeometry(), avail, w->size() + decoration, taken));
        }
        // One the scheduler opens never takes the keyboard from where the user is typing: a
        // window manager is asked not to activate it, and should the platform do so anyway,
        // the focus goes back at once.
        const QPointer<QWidget> typingIn = activate ? nullptr : QApplication::focusWidget();
        w->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
        if (activate) {
            w->present();
        } else {
            w->show();
            w->raise();
        }
        if (typingIn) {
            auto giveBack = [typingIn, bid = QPointer<QWidget>(w)] {
                if (!typingIn || (bid && QApplication::activeWindow() != bid &&
                                  QApplication::focusWidget() == typingIn))
                    return;
                typingIn->window()->activateWindow();
                typingIn->setFocus(Qt::OtherFocusReason);
            };
            giveBack();
            QTimer::singleShot(0, typingIn, giveBack);
            // A platform may activate the new window a moment later, once it is on screen:
            // for that moment, the keyboard goes straight back.
            auto *watch = new QObject(typingIn);
            connect(qApp, &QApplication::focusChanged, watch,
                    [giveBack, bid = QPointer<QWidget>(w)](QWidget *, QWidget *now) {
                        if (bid && now && now->window() == bid)
                            giveBack();
                    });
            QTimer::singleShot(600, watch, &QObject::deleteLater);
        }
    }
    emit windowOpened(id);
    return w;
}

void BidWindows::registerWindow(int id, frmSw *w)
{
    for (auto it = m_byId.begin(); it != m_byId.end();) {
        if (it.value() == w || !it.value())
            it = m_byId.erase(it);
        else
            ++it;
    }
    m_byId.insert(id, w);
    m_order.removeAll(nullptr);
    if (!m_order.contains(w))
        m_order << w;
}

void BidWindows::unregisterWindow(frmSw *w)
{
    m_order.removeAll(w);
    m_order.removeAll(nullptr);
    for (auto it = m_byId.begin(); it != m_byId.end();) {
        if (it.value() == w || !it.value())
            it = m_byId.erase(it);
        else
            ++it;
    }
}

void BidWindows::bringMainForward()
{
    if (!m_main)
        return;
    if (m_main->isMinimized())
        m_main->showNormal();
    m_main->raise();
    m_main->activateWindow();
}

void BidWindows::openPage(const QString &url)
{
    if (m_opener)
        m_opener(url);
    else
        QDesktopServices::openUrl(QUrl(url));
}

} // namespace sw
