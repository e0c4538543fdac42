#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QMdiArea;
class QMenu;
class QTimer;

namespace sw {

class ActivityLog;
class CategoryNames;
class ItemDatabase;
class ItemPageParser;
class PersistentCookieJar;
class Prompter;
class SettingsStore;
class SiteHosts;
class frmLog;
class frmLogin;
struct AppValues;

// What the frame and its windows share; app/ builds it once at start-up.
struct AppContext
{
    SettingsStore &settings;
    AppValues &values;
    ItemDatabase &db;
    ActivityLog &log;
    Prompter &prompter;
    CategoryNames &categories;
    SiteHosts &hosts;
    PersistentCookieJar &cookies; // shared by every fetcher
    ItemPageParser &parser;
};

// The frame window: child windows in an MDI area, the menus, the status bar and the
// scheduler timer.
class MDIForm1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit MDIForm1(AppContext &ctx, QWidget *parent = nullptr);
    ~MDIForm1() override;

    // The load sequence: runs once after the window is shown.
    void load();

    static QString title();

    void SetmnuCat();
    void showLog();
    void showLogin();
    // Opens the category editor modally and refreshes the pop-up menu's names.
    void openCategoryEditor();

    QTimer *timer1() const { return m_timer1; }
    QMdiArea *mdiArea() const { return m_mdi; }
    frmLogin *login() const;
    QMenu *popupMenu() const { return m_mnupop1; }

    // The scheduler's tick; runs every 3 seconds once loading has finished.
    void setSchedulerTick(std::function<void()> tick) { m_tick = std::move(tick); }

signals:
    void endProgram();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption);
    void Timer1_Timer();

    AppContext &m_ctx;
    QMdiArea *m_mdi;
    QTimer *m_timer1;
    QMenu *m_mnupop1 = nullptr;
    QPointer<frmLog> m_log;
    QPointer<frmLogin> m_login;
    std::function<void()> m_tick;
};

} // namespace sw
