#pragma once

#include <QDialog>
#include <QList>

#include <utility>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace sw {

class Prompter;
class SettingsStore;
struct AppValues;

// "ｵﾌﾟｼｮﾝ": the bidding and network preferences. Opening it already puts the stored
// bidding values into memory (also when it is then cancelled); OK saves everything.
class frmOptions : public QDialog
{
    Q_OBJECT
public:
    frmOptions(SettingsStore &settings, AppValues &values, Prompter &prompter,
               QWidget *parent = nullptr);

    // The load: controls from the store, the proxy check, then the bidding values.
    void load();
    void cmdOK_Click();
    void cmdCancel_Click();

    // Refresh interval in seconds from the stored minutes (60 when 0 or less).
    static int refreshIntervalFrom(const SettingsStore &settings);

private:
    bool proxyOk();
    void publish();

    SettingsStore &m_settings;
    AppValues &m_values;
    Prompter &m_prompter;
    QLineEdit *m_txtntp;
    QLineEdit *m_text2;
    QComboBox *m_combo1;
    QComboBox *m_cmbefSec;
    QCheckBox *m_chkClickHP;
    QCheckBox *m_chkMnlNyusatu;
    QCheckBox *m_chkCATOn;
    QCheckBox *m_check1;
    QCheckBox *m_chkMin;
    QCheckBox *m_chkSound;
    QList<std::pair<QString, QCheckBox *>> m_noticeBoxes; // setting key, its box
};

} // namespace sw
