#include "bidwindows.h"

#include "dialog1.h"
#include "frmsw.h"

#include <QDesktopServices>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QUrl>

namespace sw {

BidWindows::BidWindows(AppContext &ctx, QMdiArea *area, QWidget *mainWindow, QObject *parent)
    : QObject(parent), m_ctx(ctx), m_area(area), m_main(mainWindow),
      m_dialog(new Dialog1(mainWindow))
{}

BidWindows::~BidWindows() = default;

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
