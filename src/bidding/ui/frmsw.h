#pragma once

#include "appcontext.h"
#include "armedbid.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStatusBar;

namespace sw {

class ArmedBid;
class BidWindows;

// The bid window of one item: shows the item's state as its ArmedBid holds it (data,
// next amount, countdown, what the site answered) and hands it the user's limits when
// they are saved. The bid itself lives on in the ArmedBid when the window closes.
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

    // Shows the item (its ArmedBid, made when there is none) and registers the window
    // under its id. The same id again reloads the item from the store.
    void setId(int id);
    int id() const;
    ArmedBid *bid() const { return m_bid; }
    int winmode() const { return m_winmode; }
    void setWinmode(int mode);
    void applyWindowMode();
    // Brings the window up for the user who asked for it, the keyboard in 上限価格.
    void present();

    // 保存 without closing: hands the limits, category and status to the item.
    bool cmdUpdatesub();
    // 現在の価格をゲット
    void RefreshItem();
    // 今入札
    QCoro::Task<> Command2_Click();

    int busy() const;
    bool armed() const;
    QDateTime bidTime() const;
    bool finished() const;

private:
    void build();
    void fillCategories();
    void onCategoryChosen(int index);
    int selectedStatus(int none) const;
    void openInBrowser(const QString &url);
    void toggleMode();
    void setYen(int index, qint64 value);
    void detach();
    // The user's limits as stored: only when an item is shown or saved, never while the
    // user may be typing.
    void showLimits();
    void showState();
    void showCaption();

    AppContext &m_ctx;
    BidWindows &m_windows;
    QPointer<BidWindows> m_registry; // the registry may go first when the program ends
    QPointer<ArmedBid> m_bid;
    int m_winmode = 0;

    std::array<QLabel *, 8> m_lblItemYen{};
    QLabel *m_lblEndTime = nullptr;
    std::array<QLineEdit *, 2> m_txtYen{};
    QComboBox *m_cmbNum = nullptr;
    QComboBox *m_cat = nullptr;
    int m_chosenCat = 0; // the selector's entry other than the editor's
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
};

} // namespace sw
