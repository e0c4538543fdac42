#include "mdiform1.h"

#include "activitylog.h"
#include "appvalues.h"
#include "armedbid.h"
#include "armedbids.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "clock.h"
#include "database.h"
#include "frmbrowser.h"
#include "frmlog.h"
#include "frmlogin.h"
#include "frmmain.h"
#include "frmoverview.h"
#include "frmsw.h"
#include "handover.h"
#include "itemcapture.h"
#include "notifier.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "scheduler.h"
#include "settingsstore.h"
#include "siteclock.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

// The frame's windows and what works while nobody looks: the tray icon and its menu, the bids
// still to go out, the question on quitting, the overview, the logs, the credentials dialog,
// 整列, the site's reach, and items added by hand.
namespace sw {

void MDIForm1::buildTray()
{
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/snipewell.svg")), this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    m_tray->setToolTip(QStringLiteral("Snipewell"));
    m_trayMenu = new QMenu(this);
    m_trayMenu->setObjectName(QStringLiteral("mnuTray"));
    m_trayNext = m_trayMenu->addAction(QStringLiteral("入札予定はありません"));
    m_trayNext->setObjectName(QStringLiteral("trayNext"));
    m_trayNext->setEnabled(false);
    m_trayMenu->addSeparator();
    auto bringBack = [this] {
        showNormal();
        for (frmSw *w : m_bidWindows->windows())
            w->window()->show();
        raise();
        activateWindow();
    };
    QAction *a = m_trayMenu->addAction(QStringLiteral("入札予定一覧"));
    a->setObjectName(QStringLiteral("trayOverview"));
    connect(a, &QAction::triggered, this, [this, bringBack] {
        bringBack();
        showOverview();
    });
    a = m_trayMenu->addAction(QStringLiteral("商品ﾘｽﾄ"));
    a->setObjectName(QStringLiteral("trayList"));
    connect(a, &QAction::triggered, this, [this, bringBack] {
        bringBack();
        showItemList();
    });
    a = m_trayMenu->addAction(QStringLiteral("終了"));
    a->setObjectName(QStringLiteral("trayQuit"));
    connect(a, &QAction::triggered, this, &MDIForm1::quitFromTray);
    m_tray->setContextMenu(m_trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [bringBack](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                    bringBack();
            });
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_tray->show();
    m_notifier->setTray(m_tray);
}

void MDIForm1::showSiteReach()
{
    QString text = siteUnreachableText(m_bidWindows->armedBids());
    if (text.isEmpty() && m_browserUnreachable)
        text = siteUnreachableMessage();
    m_siteLabel->setText(text);
    m_siteLabel->setAccessibleName(text);
    m_siteLabel->setVisible(!text.isEmpty());
}

frmLog *MDIForm1::showItemLog(const QString &itemid, const QString &name)
{
    auto *log = new frmLog(m_ctx.log, nullptr, itemid);
    log->setConfirm([this](const QString &q) { return m_ctx.prompter.question(q, false); });
    log->setWindowTitle(QStringLiteral("ログ：") + itemid + QStringLiteral(" ") + name);
    QMdiSubWindow *sub = m_mdi->addSubWindow(log);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(640, 320);
    sub->show();
    m_mdi->setActiveSubWindow(sub);
    return log;
}

QList<ItemRecord> MDIForm1::pendingBids()
{
    return m_host->pendingBids();
}

void MDIForm1::updateWatch()
{
    const QList<ItemRecord> pending = pendingBids();
    const QDateTime now = sw::now();
    if (pending.isEmpty()) {
        m_trayNext->setText(QStringLiteral("入札予定はありません"));
    } else {
        const ItemRecord &next = pending.first();
        m_trayNext->setText(QStringLiteral("次の入札：") +
                            inSiteZone(next.enddate.addSecs(-m_ctx.values.befSec))
                                .toString(QStringLiteral("MM/dd HH:mm:ss")) +
                            siteZoneNote() + QStringLiteral(" ") + next.Itemname);
    }
    m_tray->setToolTip(QStringLiteral("Snipewell：") + QString::number(pending.size()) +
                       QStringLiteral("件の入札予定"));
    // The machine stays awake from a few minutes before a bid until just after it.
    bool due = false;
    for (const ItemRecord &r : pending) {
        const qint64 toBid = now.secsTo(r.enddate.addSecs(-m_ctx.values.befSec));
        due = due || (toBid < 10 * 60 && toBid > -60);
    }
    m_inhibitor->update(due, QStringLiteral("入札予定があります"));
}

void MDIForm1::quitFromTray()
{
    close(); // the same question as the window's ×
}

void MDIForm1::endWithoutAsking(const QString &why)
{
    m_host->abandonPending(why);
    m_ctx.log.flush();
    m_quitting = true;
    close();
}

bool MDIForm1::mayEnd()
{
    const QList<ItemRecord> pending = pendingBids();
    if (pending.isEmpty())
        return true;
    // Every way of ending asks this, with buttons in the program's words: Escape and the
    // box's × keep the bids going.
    const bool tray = m_tray->isVisible();
    const QString keep =
        tray ? QStringLiteral("トレイで入札を続ける") : QStringLiteral("最小化して入札を続ける");
    const QStringList buttons{keep, QStringLiteral("終了する"), QStringLiteral("キャンセル")};
    const int chosen = m_ctx.prompter.choose(
        QString::number(pending.size()) +
            QStringLiteral("件の入札予定があります。終了すると入札されません。"),
        buttons, 0, 2);
    if (chosen == 1) {
        m_host->abandonPending(QStringLiteral("プログラムを終了しました"));
        return true;
    }
    if (chosen == 0) {
        if (tray) {
            // The bid windows go with the frame; the tray brings them back.
            for (frmSw *w : m_bidWindows->windows())
                w->window()->hide();
            hide();
            m_tray->showMessage(QStringLiteral("Snipewell"),
                                QStringLiteral("トレイで入札を続けます"));
        } else {
            showMinimized();
        }
    }
    return false;
}

frmOverview *MDIForm1::showOverview()
{
    if (!m_overview) {
        m_overview = new frmOverview(m_bidWindows->armedBids());
        QMdiSubWindow *sub = m_mdi->addSubWindow(m_overview);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_overview, &frmOverview::openRequested, this, [this](int id) {
            if (frmSw *w = m_bidWindows->find(id))
                w->present();
            else
                m_bidWindows->open(id);
        });
        connect(m_overview, &frmOverview::logRequested, this, [this](int id) {
            if (const ArmedBid *b = m_bidWindows->armedBids().find(id))
                showItemLog(b->item().itemid, b->item().Itemname);
        });
    }
    QWidget *sub = m_overview->parentWidget();
    // Wide enough for every column, as far as the frame allows.
    const QSize wanted = m_overview->sizeHint().expandedTo(QSize(900, 320));
    sub->resize(wanted.boundedTo(m_mdi->viewport()->size()));
    sub->show();
    m_mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(sub));
    return m_overview;
}

QCoro::Task<> MDIForm1::addItemByAddress()
{
    const std::weak_ptr<int> alive = m_alive;
    const std::optional<QString> typed = m_ctx.prompter.input(
        QStringLiteral("追加する商品のページのアドレスかオークションIDを入力してください"),
        QString());
    if (!typed || typed->trimmed().isEmpty())
        co_return;
    const std::optional<ItemAddress> where = itemFromUserText(*typed, m_ctx.hosts);
    if (!where) {
        m_ctx.prompter.message(QStringLiteral("商品ページのアドレスでもオークションIDでもありませ"
                                              "ん：") +
                               typed->trimmed());
        co_return;
    }
    m_fetcher->applyProxySetting(
        m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()));
    bool inserted = false;
    const QString text = co_await captureItem(m_ctx, *m_fetcher, *where, &inserted);
    if (alive.expired())
        co_return;
    m_ctx.prompter.message(text);
    if (m_list)
        m_list->ReSql();
}

QCoro::Task<> MDIForm1::handOverItem(int id)
{
    const std::weak_ptr<int> alive = m_alive;
    const std::optional<ItemRecord> item = m_ctx.db.itemById(id);
    if (!item)
        co_return;
    if (item->ItemYen <= 0 || item->Numkai <= 0) {
        m_ctx.prompter.message(QStringLiteral("上限価格と入札数量を保存してから任せてください。"));
        co_return;
    }
    if (!m_ctx.prompter.question(QStringLiteral("「") + item->Itemname +
                                     QStringLiteral("」の入札を入札サービス（") +
                                     handOverUrl(m_ctx.settings) +
                                     QStringLiteral("）に任せますか？\nこのパソコンでは入札しなく"
                                                    "なります。"),
                                 true))
        co_return;
    const HandOverResult r =
        co_await sw::handOverItem(*m_host, id, m_ctx.hosts.itemPage(item->Serverid, item->itemid));
    if (alive.expired())
        co_return;
    m_ctx.prompter.message(r.message);
}

void MDIForm1::closeEvent(QCloseEvent *event)
{
    // Bids still to go out: the user decides, and an abandoned bid is said in the log.
    if (!m_quitting && !mayEnd()) {
        event->ignore();
        return;
    }
    m_quitting = true;
    m_host->hold();
    if (m_browser)
        m_browser->stopLoading();
    if (m_login)
        m_login->dismiss();
    for (frmSw *w : m_bidWindows->windows())
        w->window()->close();
    const QList<QMdiSubWindow *> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        (*it)->close();
    event->accept();
    emit endProgram();
}

void MDIForm1::mnuWin1_Click()
{
    const bool compact = m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("min"),
                                            QStringLiteral("0")) == QLatin1String("1");
    const QRect screen =
        this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1280, 1024);
    auto fromTwips = [this](int twips) { return twips * logicalDpiY() / 1440; };
    QList<QWidget *> column;
    int widest = 0, tallest = 0;
    const QList<frmSw *> windows = m_bidWindows->windows();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        (*it)->setWinmode(compact ? 1 : 0);
        QWidget *w = (*it)->window();
        column << w;
        widest = qMax(widest, w->frameGeometry().width());
        tallest = qMax(tallest, w->frameGeometry().height());
    }
    if (column.isEmpty())
        return;
    QList<QSize> sizes;
    for (QWidget *w : column)
        sizes << w->frameGeometry().size();
    const QList<QPoint> at = arrangeColumn(sizes, screen.size());
    for (int k = 0; k < column.size(); ++k)
        column[k]->move(screen.topLeft() + at[k]);
    if (widest < fromTwips(4000) && compact) {
        showNormal();
        setGeometry(screen.left(), screen.top(), screen.width() - widest, screen.height());
    }
    if (tallest < fromTwips(7000) && !compact) {
        showNormal();
        setGeometry(screen.left(), screen.top() + tallest, screen.width(),
                    screen.height() - tallest);
    }
    m_mdi->tileSubWindows();
    // In front of the frame, every one: none stays hidden behind it.
    for (QWidget *w : column) {
        w->showNormal();
        w->raise();
    }
}

void MDIForm1::showLog()
{
    if (!m_log) {
        m_log = new frmLog(m_ctx.log);
        m_log->setConfirm([this](const QString &q) { return m_ctx.prompter.question(q, false); });
        QMdiSubWindow *sub = m_mdi->addSubWindow(m_log);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->resize(640, 320);
    }
    QWidget *sub = m_log->parentWidget();
    if (sub->isMinimized())
        sub->showNormal();
    sub->show();
    m_mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(sub));
}

void MDIForm1::showLogin(bool atStart)
{
    if (!m_login) {
        m_login = new frmLogin(m_ctx.settings, m_ctx.values, m_ctx.prompter, this);
        m_login->setWindowFlag(Qt::Window);
        connect(m_login, &frmLogin::endProgram, this, &MDIForm1::endProgram);
        connect(m_login, &frmLogin::itemListRequested, this, &MDIForm1::showItemList);
        connect(m_login, &frmLogin::browserLoginRequested, this, &MDIForm1::BrowserLogin);
    }
    // Only a dialog that was already waiting for the first credentials still ends the
    // program; one brought up mid-session by a bid or the scheduler just closes.
    m_login->setEndsProgram(atStart || (m_login->isVisible() && m_login->endsProgram()));
    m_login->show();
    m_login->raise();
    m_login->activateWindow();
}

} // namespace sw
