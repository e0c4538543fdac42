#pragma once

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;

namespace sw {

class SettingsStore;

// "ﾜﾝﾎﾟｲﾝﾄ": one usage hint at a time, picked at random from the tips file.
class frmTip : public QWidget
{
    Q_OBJECT
public:
    frmTip(SettingsStore &settings, const QStringList &candidates, QWidget *parent = nullptr);

    // Reads the tips and shows one at random; false when the file cannot be read.
    bool LoadTips(const QString &fileName);
    void DisplayCurrentTip();
    void nextTip();
    // Whether the window is to be shown at start-up ("Show Tips at Startup" not 0).
    bool wanted() const { return m_wanted; }

    QString tipText() const;
    QCheckBox *startupCheck() const { return m_check; }
    const QStringList &tips() const { return m_tips; }

private:
    SettingsStore &m_settings;
    QStringList m_tips;
    int m_current = 0;
    bool m_wanted = true;
    QLabel *m_tip;
    QCheckBox *m_check;
};

} // namespace sw
