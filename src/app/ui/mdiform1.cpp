#include "mdiform1.h"

#include "activitylog.h"
#include "apppaths.h"
#include "appvalues.h"
#include "armedbid.h"
#include "armedbids.h"
#include "bidclock.h"
#include "bidhost.h"
#include "bidwindows.h"
#include "browserwindow.h"
#include "categories.h"
#include "clock.h"
#include "clockreport.h"
#include "cookiejar.h"
#include "database.h"
#include "frmabout.h"
#include "frmcat.h"
#include "frmlog.h"
#include "frmlogin.h"
#include "frmmain.h"
#include "frmoptions.h"
#include "frmoverview.h"
#include "frmserch.h"
#include "frmsw.h"
#include "frmtip.h"
#include "itemcapture.h"
#include "itemlistmodel.h"
#include "notifier.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "scheduler.h"
#include "settingsstore.h"
#include "siteclock.h"
#include "sitehosts.h"
#include "tips.h"

#include <QDesktopServices>
#include <QUrl>

#include <QCloseEvent>
#include <QDBusConnection>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace sw {

namespace {
QString &titleNote()
{
    static QString note;
    return note;
}
} // namespace

MDIForm1::MDIForm1(AppContext &ctx, BidHost *host)
    : QMainWindow(nullptr), m_ctx(ctx), m_host(host ? host : new BidHost(ctx, this)),
      m_mdi(new QMdiArea(this))
{
    setObjectName(QStringLiteral("MDIForm1"));
    setWindowTitle(titleNote().isEmpty() ? QStringLiteral("Snipewell")
                                         : QStringLiteral("Snipewell ") + titleNote());
    setCentralWidget(m_mdi);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    // What the scheduler says, where the user looks; the tray follows each tick.
    connect(m_host->timer(), &QTimer::timeout, this, &MDIForm1::updateWatch);
    connect(m_host, &BidHost::statusText, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(m_host, &BidHost::captionText, this, [this](const QString &text) {
        if (windowTitle() != text)
            setWindowTitle(text);
    });
    connect(m_host, &BidHost::loginWanted, this, [this] { showLogin(); });
    m_host->setOutlook([this] {
        BidHost::Outlook o;
        const QString caption = m_browser ? m_browser->caption() : QString();
        o.loginPageShown = caption.contains(QStringLiteral("ログイン"));
        o.browserLoading = caption.contains(QStringLiteral("接続中"));
        o.aboutOpen = m_ctx.values.aboutOpen;
        o.minimized = isMinimized();
        o.title = title();
        return o;
    });
    m_bidWindows = new BidWindows(m_ctx, *m_host, nullptr, this, this);
    connect(m_bidWindows, &BidWindows::handOverRequested, this,
            [this](int id) { handOverItem(id); });
    // A bid answered with the site's login page: the user logs in, the next bid goes on.
    connect(m_bidWindows, &BidWindows::loginNeeded, this, [this] { showLogin(); });
    connect(&m_ctx.log, &ActivityLog::failed, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    // Where the user looks before a bid: how far the machine's clock is from the site's.
    auto *clockLabel = new QLabel(this);
    clockLabel->setObjectName(QStringLiteral("lblSiteClock"));
    clockLabel->setToolTip(QStringLiteral("入札はサイトの時計に合わせて送ります"));
    m_clockReport = new ClockReport(m_ctx.log, this);
    clockLabel->setText(m_clockReport->statusText());
    clockLabel->setAccessibleName(clockLabel->text());
    connect(m_clockReport, &ClockReport::statusChanged, clockLabel, [clockLabel](const QString &t) {
        clockLabel->setText(t);
        clockLabel->setAccessibleName(t);
    });
    statusBar()->addPermanentWidget(clockLabel);
    // When the site cannot be reached, said where the user looks, in the program's words.
    m_siteLabel = new QLabel(this);
    m_siteLabel->setObjectName(QStringLiteral("lblSiteReach"));
    m_siteLabel->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_siteLabel->setVisible(false);
    statusBar()->addPermanentWidget(m_siteLabel);
    // Whether the site knows the user, read off the member page without the browser.
    m_loginLabel = new QLabel(this);
    m_loginLabel->setObjectName(QStringLiteral("lblLoginState"));
    m_loginLabel->setVisible(false);
    statusBar()->addPermanentWidget(m_loginLabel);
    connect(&m_bidWindows->armedBids(), &ArmedBids::bidChanged, this, &MDIForm1::showSiteReach);
    m_fetcher = new PageFetcher(&m_ctx.cookies, m_ctx.log, m_ctx.prompter, this);

    // Told without looking: notifications, the tray, and no sleep while a bid is due.
    m_notifier = new Notifier(m_ctx.settings, QDBusConnection::sessionBus(), this);
    connect(&m_bidWindows->armedBids(), &ArmedBids::notice, m_notifier, &Notifier::notify);
    connect(m_clockReport, &ClockReport::farOff, m_notifier,
            [this](const QString &text) { m_notifier->notify(NoticeKind::ClockOff, text); });
    m_inhibitor = new SleepInhibitor(QDBusConnection::systemBus(), this);
    buildMenus();
    buildTray();
    // Never larger than the screen at any scale factor, with room for the window manager's
    // title bar and borders, which are not known before the window is shown.
    const QSize wanted(1000, 700);
    resize(screen() ? wanted.boundedTo(screen()->availableGeometry().size() - kFrameRoom) : wanted);
}

MDIForm1::~MDIForm1()
{
    // The children go next, and their aborted requests wake our coroutines: they see this.
    m_alive.reset();
}

QTimer *MDIForm1::timer1() const
{
    return m_host->timer();
}

void MDIForm1::setSchedulerTick(std::function<void()> tick)
{
    m_host->setTickOverride(std::move(tick));
}

frmMain *MDIForm1::itemList() const
{
    return m_list.data();
}

frmLogin *MDIForm1::login() const
{
    return m_login.data();
}

void MDIForm1::setTitleNote(const QString &note)
{
    titleNote() = note;
}

QString MDIForm1::title()
{
    return QStringLiteral("Snipewell - ") + titleNote() + QStringLiteral(" Ver1.8.1");
}

QAction *MDIForm1::addItem(QMenu *menu, const char *name, const QString &caption)
{
    QAction *a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

void MDIForm1::buildMenus()
{
    QMenuBar *bar = menuBar();
    auto menu = [bar](const char *name, const QString &caption) {
        QMenu *m = bar->addMenu(caption);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        return m;
    };

    QMenu *file = menu("mnuFile", QStringLiteral("ﾌｧｲﾙ(&F)"));
    QAction *end = addItem(file, "mnuEnd", QStringLiteral("終了(&X)"));
    end->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // also where the platform names none
    end->setShortcutContext(Qt::ApplicationShortcut);
    connect(end, &QAction::triggered, this, &QWidget::close);

    QMenu *disp = menu("mnudisp", QStringLiteral("表示(&V)"));
    connect(addItem(disp, "mnuBrowser", QStringLiteral("ホームページ(&H)")), &QAction::triggered,
            this, [this] {
                if (m_list)
                    m_list->mnuGoHP();
            });
    connect(addItem(disp, "mnuNyuusatuList", QStringLiteral("商品ﾘｽﾄ(&I)")), &QAction::triggered,
            this, &MDIForm1::showItemList);
    connect(addItem(disp, "mnuNyuusatuFom", QStringLiteral("商品詳細（入札）(&D)")),
            &QAction::triggered, this, [this] {
                if (m_list)
                    m_list->mnuGoFrmSw();
            });
    connect(addItem(disp, "mnuLog", QStringLiteral("ログ(&L)")), &QAction::triggered, this,
            &MDIForm1::showLog);
    connect(addItem(disp, "mnuOverview", QStringLiteral("入札予定一覧(&O)")), &QAction::triggered,
            this, [this] { showOverview(); });

    QMenu *tools = menu("mnuTools", QStringLiteral("ﾂｰﾙ(&T)"));
    connect(addItem(tools, "mnuReg", QStringLiteral("Yahoo! JAPANへログイン(&L)")),
            &QAction::triggered, this, [this] { showLogin(); });
    connect(addItem(tools, "mnuAddItem", QStringLiteral("商品を追加(&A)")), &QAction::triggered,
            this, [this] { addItemByAddress(); });
    connect(addItem(tools, "mnuGetWatchList", QStringLiteral("ｳｫｯﾁﾘｽﾄから取り込み(&W)")),
            &QAction::triggered, this, [this] { mnuGetWatchList_Click(); });
    connect(addItem(tools, "mnuUpdateRec", QStringLiteral("商品ﾘｽﾄを更新する(&R)")),
            &QAction::triggered, this, [this] { mnuUpdateRec_Click(); });
    connect(addItem(tools, "mnukensaku", QStringLiteral("検索(&S)")), &QAction::triggered, this,
            &MDIForm1::showSearch);

    QMenu *opt = menu("mnuOpt", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
    connect(addItem(opt, "mnuSettings", QStringLiteral("設定(&S)")), &QAction::triggered, this,
            &MDIForm1::mnuSettings_Click);

    QMenu *win = menu("mnuWin", QStringLiteral("ｳｲﾝﾄﾞｳ(&W)"));
    connect(addItem(win, "mnuWin1", QStringLiteral("整列(&A)")), &QAction::triggered, this,
            &MDIForm1::mnuWin1_Click);

    QMenu *help = menu("mnuHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    connect(addItem(help, "mnusapoto", QStringLiteral("ｵﾝﾗｲﾝｻﾎﾟｰﾄ(&S)")), &QAction::triggered, this,
            [this] { QDesktopServices::openUrl(QUrl(m_ctx.hosts.supportUrl)); });
    connect(addItem(help, "mnuVer", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)")), &QAction::triggered, this,
            &MDIForm1::mnuVer_Click);
    connect(addItem(help, "mnuTip", QStringLiteral("ﾜﾝﾎﾟｲﾝﾄ(&T)")), &QAction::triggered, this,
            &MDIForm1::mnuTip_Click);

    // The usual keys, in the main window.
    const std::pair<const char *, QKeySequence> keys[] = {
        {"mnuAddItem", QKeySequence::New},
        {"mnuUpdateRec", QKeySequence::Refresh},
        {"mnukensaku", QKeySequence::Find},
        {"mnuSettings", QKeySequence::Preferences},
        {"mnusapoto", QKeySequence::HelpContents},
        {"mnuOverview", QKeySequence(Qt::CTRL | Qt::Key_B)},
        {"mnuLog", QKeySequence(Qt::CTRL | Qt::Key_L)},
    };
    for (const auto &[name, key] : keys) {
        if (auto *a = findChild<QAction *>(QString::fromLatin1(name)))
            a->setShortcut(key);
    }

    // The item list's pop-up menu lives in the menu bar, hidden there.
    m_mnupop1 = menu("mnupop1", QStringLiteral("mnupop1"));
    for (int i = 1; i <= 9; ++i) {
        QAction *a = m_mnupop1->addAction(QString::number(i));
        a->setObjectName(QStringLiteral("cat_") + QString::number(i));
        a->setData(i);
        connect(a, &QAction::triggered, this, [this, i] {
            if (m_list)
                m_list->SetCat(i);
        });
    }
    m_mnupop1->addSeparator()->setObjectName(QStringLiteral("dmy"));
    connect(addItem(m_mnupop1, "mnuGoFrmSw", QStringLiteral("詳細")), &QAction::triggered, this,
            [this] {
                if (m_list)
                    m_list->mnuGoFrmSw();
            });
    connect(addItem(m_mnupop1, "mnuGoHP", QStringLiteral("ホームページを見る")),
            &QAction::triggered, this, [this] {
                if (m_list)
                    m_list->mnuGoHP();
            });
    connect(addItem(m_mnupop1, "mnuItemLog", QStringLiteral("この商品のログ")), &QAction::triggered,
            this, [this] {
                if (m_list)
                    m_list->mnuItemLog();
            });
    connect(addItem(m_mnupop1, "mnuHandOver", QStringLiteral("入札サービスに任せる")),
            &QAction::triggered, this, [this] {
                if (m_list && m_list->currentRow() >= 0)
                    handOverItem(m_list->model()->row(m_list->currentRow()).id);
            });
    connect(addItem(m_mnupop1, "mnudelrec", QStringLiteral("削除")), &QAction::triggered, this,
            [this] {
                if (m_list)
                    m_list->mnudelrec();
            });
}

void MDIForm1::publishBiddingValues()
{
    m_host->loadSettings();
}

void MDIForm1::load()
{
    m_mnupop1->menuAction()->setVisible(false);
    SetmnuCat();
    // The browser engine is heavy for a program that waits in the background for days: it
    // starts only when the browser is opened or a login needs it. Whether the user is
    // logged in is read from the member page through the program's own connection.
    checkLogin();
    showItemList();
    m_mdi->tileSubWindows();
    if (frmLogin::credentialsTooShort(m_ctx.values.ownId, m_ctx.values.password))
        showLogin(true);
    {
        // The options window's load, without showing it: the stored bidding values.
        frmOptions options(m_ctx.settings, m_ctx.values, m_ctx.prompter, this);
        options.load();
    }
    m_host->start();
}

frmSerch *MDIForm1::search() const
{
    return m_search.data();
}

frmSerch *MDIForm1::showSearch()
{
    if (!m_search) {
        m_search = new frmSerch(m_ctx);
        QMdiSubWindow *sub = m_mdi->addSubWindow(m_search);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_search, &frmSerch::itemsImported, this, [this] {
            if (m_list)
                m_list->myRefresh();
        });
        m_search->readcat();
    }
    if (!m_search)
        return nullptr; // the category list could not be read: the window closed itself
    QWidget *sub = m_search->parentWidget();
    if (sub->isMinimized())
        sub->showNormal();
    sub->show();
    m_mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(sub));
    m_search->setFocus();
    return m_search;
}

void MDIForm1::mnuSettings_Click()
{
    if (m_longRuns > 0)
        return; // the menu and the button are off during a run; a late click does nothing
    m_host->hold();
    {
        frmOptions options(m_ctx.settings, m_ctx.values, m_ctx.prompter, this);
        options.load();
        if (const QScreen *s = screen())
            options.move(s->availableGeometry().center() - options.rect().center());
        if (options.exec() == QDialog::Accepted)
            m_host->applyConnectionSettings(); // a new proxy reaches the bids already armed
    }
    m_host->release();
}

void MDIForm1::mnuVer_Click()
{
    frmAbout about(m_ctx.values.aboutOpen, m_ctx.prompter, this);
    about.exec();
}

void MDIForm1::mnuTip_Click()
{
    if (!m_tip) {
        m_tip = new frmTip(m_ctx.settings, tipsFileCandidates(AppPaths::fromEnvironment().dataDir),
                           this);
        m_tip->setWindowFlag(Qt::Window);
        m_tip->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_tip->show();
    m_tip->raise();
}

void MDIForm1::showItemList()
{
    if (!m_list) {
        // The list's load publishes the bidding values to memory.
        publishBiddingValues();
        m_list = new frmMain(m_ctx, *m_bidWindows);
        QMdiSubWindow *sub = m_mdi->addSubWindow(m_list);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_list, &frmMain::watchListRequested, this, [this] { mnuGetWatchList_Click(); });
        connect(m_list, &frmMain::reloadRequested, this, [this] { mnuUpdateRec_Click(); });
        connect(m_list, &frmMain::addItemRequested, this, [this] { addItemByAddress(); });
        connect(m_list, &frmMain::itemLogRequested, this, &MDIForm1::showItemLog);
        connect(m_list, &frmMain::popupRequested, this,
                [this](const QPoint &pos) { m_mnupop1->popup(pos); });
        connect(m_list, &frmMain::categoryNamesChanged, this, &MDIForm1::SetmnuCat);
        connect(m_list, &frmMain::browserLoginRequested, this, &MDIForm1::BrowserLogin);
        connect(m_list, &frmMain::pageRequested, this, &MDIForm1::showPage);
        connect(m_list, &frmMain::settingsRequested, this, &MDIForm1::mnuSettings_Click);
    }
    QWidget *sub = m_list->parentWidget();
    if (sub->isMinimized())
        sub->showNormal();
    sub->show();
}

void MDIForm1::focusItemList()
{
    showItemList();
    if (auto *sub = qobject_cast<QMdiSubWindow *>(m_list->parentWidget()))
        m_mdi->setActiveSubWindow(sub);
    activateWindow();
    m_list->grid()->setFocus(Qt::OtherFocusReason);
}

namespace {
// While a long run goes on: no scheduler tick, no ﾂｰﾙ, no 設定, no list tool bar. Undone
// however the run ends.
class LongRunGuard
{
public:
    LongRunGuard(BidHost *host, QList<QAction *> actions, frmMain *list, int &runs)
        : m_host(host), m_list(list), m_runs(runs)
    {
        ++m_runs;
        m_host->hold();
        for (QAction *a : actions) {
            a->setEnabled(false);
            m_actions << a;
        }
        if (m_list)
            m_list->toolbar()->setEnabled(false);
    }
    ~LongRunGuard()
    {
        if (m_host)
            m_host->release();
        if (--m_runs > 0)
            return;
        for (const QPointer<QAction> &a : m_actions) {
            if (a)
                a->setEnabled(true);
        }
        if (m_list)
            m_list->toolbar()->setEnabled(true);
    }

private:
    QPointer<BidHost> m_host;
    QList<QPointer<QAction>> m_actions;
    QPointer<frmMain> m_list;
    int &m_runs;
};
} // namespace

QList<QAction *> MDIForm1::longRunActions() const
{
    return {findChild<QMenu *>(QStringLiteral("mnuTools"))->menuAction(),
            findChild<QAction *>(QStringLiteral("mnuSettings"))};
}

QCoro::Task<> MDIForm1::mnuGetWatchList_Click()
{
    if (!m_list)
        co_return;
    LongRunGuard guard(m_host, longRunActions(), m_list, m_longRuns);
    co_await m_list->mnuGetWatchList();
}

QCoro::Task<> MDIForm1::mnuUpdateRec_Click()
{
    if (!m_list)
        co_return;
    LongRunGuard guard(m_host, longRunActions(), m_list, m_longRuns);
    co_await m_list->mnuUpdateRec();
}

void MDIForm1::SetmnuCat()
{
    for (QAction *a : m_mnupop1->actions()) {
        const int i = a->data().toInt();
        if (i >= 1 && i <= 9)
            a->setText(m_ctx.categories.name(i));
    }
}

void MDIForm1::openCategoryEditor()
{
    frmCAT editor(m_ctx.categories, m_ctx.prompter, this);
    editor.exec();
    SetmnuCat();
}

void MDIForm1::Timer1_Timer()
{
    updateWatch();
    m_host->tick();
}

void MDIForm1::resizeEvent(QResizeEvent *event)
{
    setWindowTitle(title());
    QMainWindow::resizeEvent(event);
}

void MDIForm1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        setWindowTitle(title());
    QMainWindow::changeEvent(event);
}

} // namespace sw
