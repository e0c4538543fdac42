#include "frmlogin.h"

#include "appvalues.h"
#include "credentials.h"
#include "passwordstore.h"
#include "prompter.h"
#include "settingsstore.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace sw {

namespace {
const QString kSettings = QStringLiteral("Settings");
}

frmLogin::frmLogin(SettingsStore &settings, AppValues &values, Prompter &prompter, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_values(values), m_prompter(prompter),
      m_user(new QLineEdit(this)), m_pass(new QLineEdit(this))
{
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("ﾛｸﾞｲﾝ"));
    setModal(false);

    auto *lbl0 = new QLabel(QStringLiteral("Yahoo! JAPAN ID:："), this);
    lbl0->setObjectName(QStringLiteral("lblLabels_0"));
    auto *lbl1 = new QLabel(QStringLiteral("ﾔﾌｰﾊﾟｽﾜｰﾄﾞ(&P):"), this);
    lbl1->setObjectName(QStringLiteral("lblLabels_1"));
    lbl1->setBuddy(m_pass);
    lbl0->setBuddy(m_user);
    // Named after their labels on the accessibility bus.
    m_user->setAccessibleName(QStringLiteral("Yahoo! JAPAN ID"));
    m_pass->setAccessibleName(QStringLiteral("ﾔﾌｰﾊﾟｽﾜｰﾄﾞ"));
    m_user->setObjectName(QStringLiteral("txtUser_0"));
    m_pass->setObjectName(QStringLiteral("txtUser_1"));
    m_pass->setEchoMode(QLineEdit::Password);
    auto *note =
        new QLabel(QStringLiteral("※注意：CapsLockははずしてください\n"
                                  "パスワードを使わずにログインしている場合（SMSの確認コード、"
                                  "顔・指紋認証）はパスワードを空のままにしてください。"
                                  "ログインの途中でブラウザの画面に入力します。"),
                   this);
    note->setWordWrap(true);
    note->setObjectName(QStringLiteral("Label4"));
    m_place = new QLabel(this);
    m_place->setObjectName(QStringLiteral("lblPasswordPlace"));
    m_place->setWordWrap(true);
    m_siteState = new QLabel(this);
    m_siteState->setObjectName(QStringLiteral("lblSiteState"));
    m_siteState->setWordWrap(true);
    m_siteState->setVisible(false);

    auto *login = new QPushButton(QStringLiteral("ログインする"), this);
    login->setObjectName(QStringLiteral("Command2"));
    login->setToolTip(QStringLiteral("ログインしていればログインの必要はありません。"));
    login->setAutoDefault(false);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel->setObjectName(QStringLiteral("cmdCancel"));
    cancel->setAutoDefault(false);

    auto *grid = new QGridLayout(this);
    grid->addWidget(lbl0, 0, 0);
    grid->addWidget(m_user, 0, 1);
    grid->addWidget(lbl1, 1, 0);
    grid->addWidget(m_pass, 1, 1);
    grid->addWidget(note, 2, 0, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(login);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    grid->addWidget(m_place, 3, 0, 1, 2);
    grid->addWidget(m_siteState, 4, 0, 1, 2);
    grid->addLayout(buttons, 5, 0, 1, 2);

    connect(ok, &QPushButton::clicked, this, &frmLogin::cmdOK_Click);
    connect(cancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);
    connect(login, &QPushButton::clicked, this, &frmLogin::Command2_Click);

    loadFromSettings();
    resize(380, 160);
    fitText();
}

void frmLogin::fitText()
{
    // The wrapped notes take the height they need, at any scale: nothing is cut off.
    const int w = qMax(width(), 380);
    resize(w, qMax(height(), layout()->totalHeightForWidth(w)));
}

void frmLogin::loadFromSettings()
{
    m_user->setText(m_settings.get(kSettings, QStringLiteral("yuser"), QString()));
    // The password as the program holds it: read at start from the keyring or the file.
    m_pass->setText(m_values.password);
    m_place->setText(passwordPlaceText(passwordPlace(m_settings)));
    fitText();
}

void frmLogin::showEvent(QShowEvent *event)
{
    // Each showing starts from what is stored, as a freshly loaded dialog would.
    if (!event->spontaneous())
        loadFromSettings();
    QDialog::showEvent(event);
}

void frmLogin::setSiteState(const QString &text)
{
    m_siteState->setText(text);
    m_siteState->setAccessibleName(text);
    m_siteState->setVisible(!text.isEmpty());
    fitText();
}

bool frmLogin::passwordTooLong()
{
    if (m_pass->text().size() <= kMaxPasswordLength)
        return false;
    m_prompter.message(QStringLiteral("パスワードは99文字以内にしてください。"
                                      "保存されているパスワードは変更されていません。"));
    return true;
}

void frmLogin::dismiss()
{
    m_dismissing = true;
    close();
    m_dismissing = false;
}

void frmLogin::cmdOK_Click()
{
    if (credentialsTooShort(m_user->text(), m_pass->text())) {
        m_prompter.message(QStringLiteral("４文字以上必要です。"));
        return;
    }
    close();
}

void frmLogin::cmdCancel_Click()
{
    // Nothing typed is kept: the stored ID and password stay as they were.
    hide();
    if (m_endsProgram)
        emit endProgram();
}

void frmLogin::reject()
{
    cmdCancel_Click();
}

void frmLogin::Command2_Click()
{
    if (credentialsTooShort(m_user->text(), m_pass->text())) {
        m_prompter.message(QStringLiteral("4文字以上必要です。"));
        if (m_endsProgram)
            emit endProgram();
        return;
    }
    if (passwordTooLong())
        return;
    m_values.ownId = m_user->text();
    m_values.password = m_pass->text();
    emit browserLoginRequested(this);
}

void frmLogin::closeEvent(QCloseEvent *event)
{
    if (m_dismissing || !isVisible()) {
        event->accept();
        return;
    }
    if (credentialsTooShort(m_user->text(), m_pass->text())) {
        m_prompter.message(QStringLiteral("4文字以上必要です。"));
        event->accept();
        if (m_endsProgram)
            emit endProgram();
        return;
    }
    if (passwordTooLong()) {
        event->ignore();
        return;
    }
    m_values.ownId = m_user->text();
    m_values.password = m_pass->text();
    m_values.encodedPassword = encodePassword(m_values.password);
    const bool saved = m_settings.save(kSettings, QStringLiteral("yuser"), m_values.ownId);
    // Where the password really went is said when the keyring wanted it and did not take it.
    savePassword(m_settings, m_values.password, this,
                 [prompter = &m_prompter](PasswordPlace place, const QString &why) {
                     if (place == PasswordPlace::SettingsFile && !why.isEmpty())
                         prompter->message(passwordFallbackText(why));
                 });
    if (!saved || !m_settings.error().isEmpty()) {
        m_prompter.message(QStringLiteral("IDとパスワードを設定ファイルに保存できませんでした。"
                                          "プログラムを終了するまでは有効です。\n") +
                           m_settings.error());
    }
    event->accept();
    m_endsProgram = false; // the program has its credentials now
    emit itemListRequested();
}

} // namespace sw
