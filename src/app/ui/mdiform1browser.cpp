// The frame's built-in browser, made when first needed, and the login state it shows.
#include "mdiform1.h"

#include "activitylog.h"
#include "browserwindow.h"
#include "frmlogin.h"
#include "frmmain.h"
#include "frmserch.h"
#include "itemparser.h"
#include "memberpages.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace sw {

BrowserWindow *MDIForm1::browser()
{
    if (!m_browser) {
        QString why;
        m_browser = createBrowserWindow(m_ctx, &why);
        if (!m_browser) {
            m_ctx.log.LOGTodb(why);
            m_ctx.prompter.message(why);
            return nullptr;
        }
        // The page's view draws with OpenGL, and Qt gives the frame a new native window when
        // the first such view enters it. Pinning the frame's position keeps that new window
        // where the user had it instead of letting the window manager place it anew.
        if (isVisible() && !isMaximized() && !isFullScreen())
            move(pos());
        QMdiSubWindow *sub = m_mdi->addSubWindow(m_browser);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_browser, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
        connect(m_browser, &BrowserWindow::itemListRequested, this, [this] {
            showItemList();
            if (m_list)
                m_mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(m_list->parentWidget()));
        });
        connect(m_browser, &BrowserWindow::bidWindowRequested, this, [this] {
            if (m_list)
                m_list->mnuGoFrmSw();
        });
        connect(m_browser, &BrowserWindow::itemCaptured, this, [this] {
            if (m_list)
                m_list->showUncategorised();
        });
        connect(m_browser, &BrowserWindow::searchWindowRequested, this, &MDIForm1::showSearch);
        connect(m_browser, &BrowserWindow::categoryFound, this,
                [this](const QString &name, qint64 id) {
                    if (m_search)
                        m_search->addcat(name, id);
                });
        connect(m_browser, &BrowserWindow::loginProgress, this, [this](const QString &text) {
            if (m_login)
                m_login->setSiteState(text);
        });
        connect(m_browser, &BrowserWindow::siteReached, this, [this](bool reached) {
            m_browserUnreachable = !reached;
            showSiteReach();
        });
        connect(m_browser, &BrowserWindow::loginQuestion, this, [this] {
            // Only the member can answer: the page is shown where they can.
            showBrowser();
        });
        connect(m_browser, &BrowserWindow::loginFailed, this, [this](const QString &why) {
            m_ctx.log.LOGTodb(QStringLiteral("ログインできませんでした：") + why);
        });
        connect(m_browser, &BrowserWindow::loggedIn, this, [this] {
            // The site greeted the user: the credentials dialog has done its job, and the
            // keyboard goes back to the item list rather than staying in the page.
            if (m_login && m_login->isVisible())
                m_login->close();
            setLoginState(LoginState::In);
            focusItemList();
        });
    }
    return m_browser;
}

void MDIForm1::showBrowser()
{
    if (!browser())
        return;
    QWidget *sub = browser()->parentWidget();
    if (sub->isMinimized())
        sub->showNormal();
    sub->show();
    sub->raise();
}

void MDIForm1::showPage(const QString &address, const QString &title)
{
    showBrowser();
    if (!m_browser)
        return;
    m_browser->StartingAddress(address, title);
    m_mdi->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(m_browser->parentWidget()));
}

QCoro::Task<> MDIForm1::checkLogin()
{
    const std::weak_ptr<int> alive = m_alive;
    // The way the browser would go: the Proxy setting when there is one, else the system's.
    const QString proxy =
        m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString());
    if (proxy.isEmpty() || !m_fetcher->applyProxySetting(proxy))
        m_fetcher->useDefaultConnection();
    const sw::LoginState site = co_await checkSiteLogin(*m_fetcher, m_ctx.hosts);
    if (alive.expired())
        co_return;
    m_browserUnreachable = site == sw::LoginState::Unknown;
    showSiteReach();
    if (site == sw::LoginState::Unknown) {
        setLoginState(LoginState::Unknown);
        co_return;
    }
    const bool out = site == sw::LoginState::Out;
    setLoginState(out ? LoginState::Out : LoginState::In);
    if (out && !(m_login && m_login->isVisible()))
        showLogin();
}

void MDIForm1::setLoginState(LoginState state)
{
    const QString text = state == LoginState::In    ? QStringLiteral("ログイン済み")
                         : state == LoginState::Out ? QStringLiteral("ログインしていません")
                                                    : QStringLiteral("ログイン状態不明");
    m_loginLabel->setText(text);
    m_loginLabel->setAccessibleName(text);
    m_loginLabel->setVisible(true);
}

QString MDIForm1::loginStateText() const
{
    return m_loginLabel->isVisible() ? m_loginLabel->text() : QString();
}

void MDIForm1::BrowserLogin()
{
    showBrowser();
    if (!m_browser)
        return;
    m_browser->parentWidget()->showMaximized();
    m_browser->Login();
}

} // namespace sw
