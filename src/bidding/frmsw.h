#pragma once

#include "appcontext.h"
#include "autobid.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTimer;

namespace sw {

class BidWindows;
class PageFetcher;

// The bid window of one item: its data, the user's limits for it, the refresh from its
// page, and the automatic bid, counted down by a one-second timer.
class frmSw : public QWidget
{
    Q_OBJECT
public:
    enum Busy
    {
        Idle = 0,
        Refreshing = 1,
        Bidding = 2
    };

    frmSw(AppContext &ctx, BidWindows &windows, QWidget *parent = nullptr);
    ~frmSw() override;

    // Loads the item (only while idle) and registers the window under its id.
    void setId(int id);
    int id() const { return m_id; }
    int winmode() const { return m_winmode; }
    void setWinmode(int mode);
    void applyWindowMode();

    // Saves the limits, category and status of the item.
    bool cmdUpdatesub();
    // afterBid: the reading right after a bid, which goes ahead of a refresh on its way.
    QCoro::Task<> RefreshItem(bool fromTimer = false, bool afterBid = false);
    QCoro::Task<> BidNow(bool confirm, QDateTime bidTime);
    QCoro::Task<> Command2_Click();
    void CheckAutoBid();
    void Timer1_Timer();

    int busy() const { return m_bidding ? Bidding : m_refreshing > 0 ? Refreshing : Idle; }
    bool armed() const;
    QDateTime bidTime() const { return m_bidTime; }
    QDateTime endTime() const { return m_end; }
    bool finished() const { return m_finished; }
    QTimer *timer1() const { return m_timer1; }
    PageFetcher *fetcher() const { return m_fetcher; }

signals:
    void itemsChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void build();
    void fillCategories();
    void onCategoryChosen(int index);
    void showStatus(int status);
    int selectedStatus(int none) const;
    BidSettings currentSettings() const;
    void setFinishedCaption();
    void openInBrowser(const QString &url);
    void toggleMode();
    void updateButtons();
    // The moment this window's bid is to reach the site, for the work that waits for it.
    void planOwnBid();
    void setYen(int index, qint64 value);

    AppContext &m_ctx;
    BidWindows &m_windows;
    QPointer<BidWindows> m_registry; // the registry may go first when the program ends
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    PageFetcher *m_fetcher = nullptr;

    // The item as loaded and refreshed.
    int m_id = 0;
    QString m_serverid;
    QString m_itemid;
    qint32 m_loadedPrice = 0;
    QDateTime m_end;
    QDateTime m_bidTime;
    bool m_finished = false;
    QDateTime m_lastRefresh;
    bool m_recompute = true;
    // A bid and a refresh can be under way at once: a refresh never holds a bid back.
    bool m_bidding = false;
    int m_refreshing = 0;
    int m_refreshSeq = 0; // only the latest refresh's page is taken
    int m_winmode = 0;
    int m_refreshIntervalSec = 60;
    // The last bid the site accepted, and the maximum it was made with.
    bool m_accepted = false;
    QString m_acceptedMax;

    std::array<QLabel *, 8> m_lblItemYen{};
    QLabel *m_lblEndTime = nullptr;
    std::array<QLineEdit *, 2> m_txtYen{};
    QComboBox *m_cmbNum = nullptr;
    QComboBox *m_cat = nullptr;
    std::array<QRadioButton *, 5> m_option1{};
    QCheckBox *m_chkExtension = nullptr; // Check1(2)
    QCheckBox *m_chkReserve = nullptr;   // Check1(3)
    QCheckBox *m_chkAutoBet = nullptr;
    QLabel *m_label2 = nullptr;
    QGroupBox *m_frame3 = nullptr;
    QGroupBox *m_details = nullptr;
    QPushButton *m_command2 = nullptr;
    QPushButton *m_command3 = nullptr;
    QPushButton *m_command4 = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QTimer *m_timer1 = nullptr;
};

} // namespace sw
