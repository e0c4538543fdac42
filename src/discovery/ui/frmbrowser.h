#pragma once

#include "appcontext.h"
#include "browserwindow.h"

#include <QStringList>
#include <QWidget>

#include <QCoro/QCoroTask>

#include <memory>

class QTimer;
class QToolBar;
class QWebEngineLoadingInfo;
class QWebEngineView;

namespace sw {

class PageFetcher;

// The built-in browser: the site as in any browser, plus capture of the shown item,
// registration of the shown category, the automated login and pages on request.
class frmBrowser : public BrowserWindow
{
    Q_OBJECT
public:
    explicit frmBrowser(AppContext &ctx, QWidget *parent = nullptr);
    ~frmBrowser() override;

    enum LoginStep
    {
        NoLogin = 0,
        PageRequested = 1,
        CredentialsTyped = 2,
        LoggedIn = 3
    };

    // Opens the login page; the timer fills it in once it is shown.
    void Login() override;
    QCoro::Task<> StartingAddress(QString address, QString title) override;
    // "set": stores the item whose page is shown.
    QCoro::Task<> capture();
    // "serch": registers the shown category in the search window.
    QCoro::Task<> mnuSerch();
    void stopLoading() override;
    void answerLoginQuestion(const QString &answer) override;

    bool busy() const { return m_busy; }
    int loginStep() const { return m_loginStep; }
    QString currentUrl() const;
    QString pageTitle() const;
    QStringList history() const { return m_history; }

    QWebEngineView *view() const { return m_view; }
    QToolBar *toolbar() const { return m_toolbar; }
    QTimer *timer() const { return m_timer; }

    // The classic login page fill-in: ID into the first text field, the password into the
    // next control, then "space" on the two controls after it.
    static QString loginScript(const QString &id, const QString &password);
    // What today's two-step login page asks for: "id", "password", "code", "both" (the
    // classic one-page form) or "other".
    static QString loginFormScript();

private:
    void toolbarClicked(const QString &key);
    void timTimer_Timer();
    void loadingChanged(const QWebEngineLoadingInfo &info);
    // One look at the login as it stands: logged in (the page's data or the classic
    // greeting), or the step the site's login page asks for, taken once per page.
    QCoro::Task<> followLogin();
    QCoro::Task<> act(QString script);
    void loggedInNow();
    // The page shown is the site's login page: its host over the configured scheme.
    bool onLoginHost() const;
    void clearHistory();

    AppContext &m_ctx;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    PageFetcher *m_fetcher;
    QWebEngineView *m_view;
    QToolBar *m_toolbar;
    QTimer *m_timer;
    QStringList m_history; // Combo1: addresses asked for
    int m_historyAt = -1;
    int m_loginStep = NoLogin;
    bool m_busy = false;
    bool m_typing = false;
    int m_loads = 0; // pages loaded so far: each login step is taken once per page
    QString m_done;  // the step taken on the current page ("3:id")
    QString m_asked; // the question put to the member on the current page
    bool m_passwordSent = false;
};

} // namespace sw
