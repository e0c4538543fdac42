#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

namespace sw {

class Prompter;
class SettingsStore;
struct AppValues;

// The credentials dialog: the site ID and password, stored when the dialog closes, and
// the button that starts the browser's login.
class frmLogin : public QDialog
{
    Q_OBJECT
public:
    frmLogin(SettingsStore &settings, AppValues &values, Prompter &prompter,
             QWidget *parent = nullptr);

    // Closes without the checks and without saving (the program is ending anyway).
    void dismiss();
    // At the first start, without an ID and password the program cannot work: ｷｬﾝｾﾙ or a
    // too-short entry ends it. Opened later, the dialog just closes.
    void setEndsProgram(bool ends) { m_endsProgram = ends; }
    bool endsProgram() const { return m_endsProgram; }
    // Escape: as ｷｬﾝｾﾙ.
    void reject() override;

    void cmdOK_Click();
    void cmdCancel_Click();
    void Command2_Click();

    static bool tooShort(const QString &text) { return text.size() < 4; }
    // The ID is needed; a password is not (many members log in with a code sent by SMS or a
    // passkey), but one that is given has at least 4 characters.
    static bool credentialsTooShort(const QString &id, const QString &password)
    {
        return tooShort(id) || (!password.isEmpty() && tooShort(password));
    }
    // What the login waits for ("" hides the line): the site's answer, or a site that
    // cannot be reached.
    void setSiteState(const QString &text);

signals:
    // The program must end (at the first start: a credential too short, or ｷｬﾝｾﾙ).
    void endProgram();
    // ログインする: the in-memory ID and password are set; the browser should log in.
    void browserLoginRequested(QWidget *from);
    // Credentials accepted and saved: the item list should be shown.
    void itemListRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool passwordTooLong();
    void loadFromSettings();
    void fitText();

    SettingsStore &m_settings;
    AppValues &m_values;
    Prompter &m_prompter;
    QLineEdit *m_user;
    QLineEdit *m_pass;
    QLabel *m_place; // where the password is kept
    QLabel *m_siteState;
    bool m_dismissing = false;
    bool m_endsProgram = false;
};

} // namespace sw
