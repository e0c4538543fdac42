#pragma once

#include "appcontext.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QMdiArea;
class QWidget;

namespace sw {

class Dialog1;
class frmSw;

// The open bid windows by item id: the scheduler and the item list look here before
// opening a window, so an item never has two. Also owns the result window.
class BidWindows : public QObject
{
    Q_OBJECT
public:
    BidWindows(AppContext &ctx, QMdiArea *area, QWidget *mainWindow, QObject *parent = nullptr);
    ~BidWindows() override;

    // The item's open window, or nullptr.
    frmSw *find(int id) const;
    // A new window for the item, loaded and shown.
    frmSw *open(int id);
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

private:
    AppContext &m_ctx;
    QPointer<QMdiArea> m_area;
    QPointer<QWidget> m_main;
    Dialog1 *m_dialog;
    QHash<int, QPointer<frmSw>> m_byId;
    std::function<void(const QString &)> m_opener;
};

} // namespace sw
