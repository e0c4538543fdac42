#pragma once

#include <QDialog>

namespace sw {

class Prompter;

// "ﾊﾞｰｼﾞｮﾝ情報": the program's title and version, and a way to the machine's
// system-information viewer. While it is open the scheduler does not raise the
// credentials dialog (`aboutOpen`).
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    frmAbout(bool &aboutOpen, Prompter &prompter, QWidget *parent = nullptr);
    ~frmAbout() override;

    static QString versionText(const QString &version); // "1.8.0.1" -> "ﾊﾞｰｼﾞｮﾝ 1.8.1"
    // The first system-information viewer found on the PATH; empty when there is none.
    static QString systemInfoViewer();
    void StartSysInfo();

private:
    bool &m_aboutOpen;
    Prompter &m_prompter;
};

} // namespace sw
