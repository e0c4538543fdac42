#include "bidwindows.h"

#include "activitylog.h"
#include "appcontext.h"
#include "bidexchange.h"
#include "clock.h"
#include "clockprobe.h"
#include "cookiejar.h"
#include "dialog1.h"
#include "frmsw.h"
#include "pagefetcher.h"
#include "settingsstore.h"

#include <QDesktopServices>
#include <QMdiArea>
#include <QMdiSubWindow>
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

BidWindows::BidWindows(AppContext &ctx, QMdiArea *area, QWidget *mainWindow, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_area(area), m_main(mainWindow),
      m_dialog(new Dialog1(mainWindow)), m_openTimer(new QTimer(this)),
      m_changedTimer(new QTimer(this)),
      m_probeFetcher(new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this)),
      m_probe(new ClockProbe(*m_probeFetcher, this))
{
    configureFetcher(*m_probeFetcher, ctx.settings, false, ctx.prompter);
    m_ctx.log.setHold([] { return bidsImminent(sw::nowMs()); });
    m_openTimer->setSingleShot(true);
    connect(m_openTimer, &QTimer::timeout, this, &BidWindows::openNext);
    m_changedTimer->setSingleShot(true);
    connect(m_changedTimer, &QTimer::timeout, this, &BidWindows::itemChanged);
}

BidWindows::~BidWindows()
{
    m_ctx.log.setHold({});
    // Windows without a frame to close with go with the registry.
    for (frmSw *w : windows()) {
        if (!w->parentWidget())
            delete w;
    }
}

ClockProbe &BidWindows::clockProbe()
{
    // The clock's requests go the way the bids go, through the Proxy setting as it is now.
    m_probeFetcher->applyProxySetting(
        m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()));
    return *m_probe;
}

void BidWindows::itemChanged()
{
    if (bidsImminent(sw::nowMs())) {
        if (!m_changedTimer->isActive())
            m_changedTimer->start(kQuietCheckMs);
        return;
    }
    m_changedTimer->stop();
    emit itemsChanged();
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
    if (bidsImminent(now) && at - now > kUrgentMs) {
        m_openTimer->start(kQuietCheckMs);
        return;
    }
    m_toOpen.removeFirst();
    if (!find(id))
        open(id);
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
    for (const QPointer<frmSw> &w : m_byId) {
        if (w)
            out << w.data();
    }
    return out;
}

frmSw *BidWindows::open(int id)
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
    if (m_area)
        w->parentWidget()->show();
    else
        w->show();
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
}

void BidWindows::unregisterWindow(frmSw *w)
{
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
