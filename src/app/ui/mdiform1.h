#pragma once

#include <memory>

#include "appcontext.h"

#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QSize>

#include <QCoro/QCoroTask>

#include <functional>

class QLabel;
class QMdiArea;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace sw {

class BidHost;
class BidWindows;
class ClockReport;
class BrowserWindow;
class frmMain;
class frmSerch;
class frmTip;
class frmLog;
class frmLogin;
class frmOverview;
class Notifier;
class PageFetcher;
class SleepInhibitor;
struct ItemRecord;

// The frame window: child windows in an MDI area, the menus and the status bar. The bids
// belong to the BidHost below it (made here when none is given); the frame shows them.
class MDIForm1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit MDIForm1(AppContext &ctx, BidHost *host = nullptr);
    ~MDIForm1() override;

    // The load sequence: runs once after the window is shown.
    void load();

    // What the window manager's title bar and borders may add around the frame.
    static constexpr QSize kFrameRoom{24, 64};

    static QString title();
    // A note in the title, such as the demo's.
    static void setTitleNote(const QString &note);

    void SetmnuCat();
    void showLog();
    // atStart: the credentials are missing at start-up; without them the program ends.
    void showLogin(bool atStart = false);
    // Opens the category editor modally and refreshes the pop-up menu's names.
    void openCategoryEditor();

    // The scheduler's timer, which the bids' owner runs.
    QTimer *timer1() const;
    BidHost &host() { return *m_host; }
    QMdiArea *mdiArea() const { return m_mdi; }
    frmLogin *login() const;
    QMenu *popupMenu() const { return m_mnupop1; }

    BidWindows *bidWindows() const { return m_bidWindows; }
    frmMain *itemList() const;
    void showItemList();
    // The item list, shown, in front and with the keyboard (after a login).
    void focusItemList();
    // The long runs: the scheduler pauses and ﾂｰﾙ and the list's tool bar are disabled
    // for their whole run, also when they end early.
    QCoro::Task<> mnuGetWatchList_Click();
    QCoro::Task<> mnuUpdateRec_Click();
    // 整列: bid windows in a column along the right edge of the screen, the frame beside.
    void mnuWin1_Click();
    void BrowserLogin();
    // The built-in browser, created on first use; shown in the frame.
    // The built-in browser, loaded on first use; nullptr (and said) when it cannot be.
    BrowserWindow *browser();
    void showBrowser();
    // The status bar line when the site cannot be reached (by the bids or the browser).
    void showSiteReach();
    void buildTray();
    // The log of one item, in a window named after it.
    frmLog *showItemLog(const QString &itemid, const QString &name);
    // Shows the page in the built-in browser and brings it to the front.
    void showPage(const QString &address, const QString &title);
    // 検索: the search window, created and shown on first use.
    frmSerch *showSearch();
    frmSerch *search() const;
    // 設定: the options dialog, modal, with the scheduler held.
    void mnuSettings_Click();
    void mnuVer_Click();
    void mnuTip_Click();
    // The bid scheduler: one pass over the running items with a quantity.
    void Timer1_Timer();
    // Replaces the scheduler's tick (tests count ticks with it).
    void setSchedulerTick(std::function<void()> tick);
    // The bidding values the windows read from memory, from the settings.
    void publishBiddingValues();

    // 入札予定一覧: created on first use, shown in the frame.
    frmOverview *showOverview();
    // ﾂｰﾙ > 商品を追加: an item by its address or auction id, stored as the browser's 取込.
    QCoro::Task<> addItemByAddress();
    // Reads the member page: logged in, not (the login dialog comes up), or unknown.
    QCoro::Task<> checkLogin();
    // What the status bar says of the login; empty before the first reading.
    QString loginStateText() const;
    // 入札サービスに任せる: the item and its limits go to the service; not armed here again.
    QCoro::Task<> handOverItem(int id);
    // The bids still to go out: armed and running, or due for a window; earliest end first.
    QList<ItemRecord> pendingBids();
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMenu *trayMenu() const { return m_trayMenu; }
    Notifier *notifier() const { return m_notifier; }
    // The tray's next-bid line, the site's reachability and the sleep inhibitor, again.
    void updateWatch();
    // The tray's 終了: the same question as the window's ×.
    void quitFromTray();
    // Ends with no question (a logout, a shutdown): the bids still to go out are given up
    // and the log says so, with `why`.
    void endWithoutAsking(const QString &why);
    // Bids are pending: keep running in the tray (or minimized), end, or cancel. True when
    // the program may end.
    bool mayEnd();

signals:
    void endProgram();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    enum class LoginState
    {
        In,
        Out,
        Unknown,
    };
    void setLoginState(LoginState state);

    void buildMenus();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption);
    QList<QAction *> longRunActions() const;

    AppContext &m_ctx;
    BidHost *m_host;
    BidWindows *m_bidWindows = nullptr;
    QPointer<frmMain> m_list;
    QMdiArea *m_mdi;
    QMenu *m_mnupop1 = nullptr;
    QPointer<frmLog> m_log;
    QPointer<frmLogin> m_login;
    QPointer<BrowserWindow> m_browser;
    QPointer<frmSerch> m_search;
    QPointer<frmTip> m_tip;
    ClockReport *m_clockReport = nullptr;
    QPointer<frmOverview> m_overview;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_trayNext = nullptr;
    QLabel *m_siteLabel = nullptr;
    QLabel *m_loginLabel = nullptr;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    bool m_browserUnreachable = false; // the browser's last page of the site did not come
    Notifier *m_notifier = nullptr;
    SleepInhibitor *m_inhibitor = nullptr;
    PageFetcher *m_fetcher = nullptr;
    bool m_quitting = false;
    int m_longRuns = 0; // watch-list imports and bulk refreshes under way
};

} // namespace sw
