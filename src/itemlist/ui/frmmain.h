#pragma once

#include "appcontext.h"
#include "itemrecord.h"

#include <QPointer>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <array>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QTableView;
class QToolBar;
class QToolButton;

namespace sw {

class BidWindows;
class ItemListModel;
class PageFetcher;
class frmSw;

// The item list "商品ﾘｽﾄ": the items of tblYo under three filter buttons and a category
// selector, and the actions on the selected item.
class frmMain : public QWidget
{
    Q_OBJECT
public:
    frmMain(AppContext &ctx, BidWindows &windows, QWidget *parent = nullptr);
    ~frmMain() override;

    void ReSql();
    void SetCat(int cat);
    void myRefresh();
    void myRefreshToolbar();
    bool RecChkOk();
    void mnudelrec();
    void mnuGoFrmSw();
    void mnuGoHP();
    // この商品のログ: the log of the chosen row's item.
    void mnuItemLog();
    // The items that have no category yet, where a newly captured item lands.
    void showUncategorised();
    QCoro::Task<> mnuGetWatchList();
    QCoro::Task<> mnuUpdateRec();
    void rebuildCategories();

    QTableView *grid() const { return m_grid; }
    QToolBar *toolbar() const { return m_toolbar; }
    QComboBox *categorySelector() const { return m_cmbCAT; }
    QToolButton *filterButton(int i) const { return m_chkOpen[i]; }
    QLabel *timeLeft() const { return m_adodc1; }
    ItemListModel *model() const { return m_model; }
    int currentRow() const;

signals:
    void itemLogRequested(const QString &itemid, const QString &name);
    void watchListRequested(); // toolbar "get"
    void reloadRequested();    // toolbar "reload"
    void addItemRequested();   // toolbar "add"
    void settingsRequested();  // toolbar "settings"
    void popupRequested(const QPoint &globalPos);
    void categoryNamesChanged();
    void browserLoginRequested();
    // Show the page in the built-in browser; `title` is text its title will contain.
    void pageRequested(const QString &address, const QString &title);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void toolbarClicked(const QString &key);
    void onCategoryChosen(int index);
    void updateTimeLeft();
    void selectRow(int r);
    std::optional<ItemRecord> current() const;

    AppContext &m_ctx;
    BidWindows &m_windows;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    PageFetcher *m_fetcher = nullptr;
    ItemListModel *m_model;
    QTableView *m_grid;
    QToolBar *m_toolbar;
    QComboBox *m_cmbCAT;
    QLabel *m_adodc1;
    std::array<QToolButton *, 3> m_chkOpen{};
    QPointer<frmSw> m_ownSw;
    bool m_busy = false;
    bool m_wonView = false;
    bool m_saved0 = false, m_saved1 = false;
    int m_savedCat = 0;
    int m_shownCat = 0; // the selector's entry before the category editor was chosen
};

} // namespace sw
