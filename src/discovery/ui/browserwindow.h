#pragma once

#include "appcontext.h"

#include <QString>
#include <QWidget>

#include <QCoro/QCoroTask>

namespace sw {

// The built-in browser as the rest of the program sees it. The browser engine costs a few
// hundred MB, so the browser lives in a module of its own (libsnipewell-browser) that is
// loaded the first time the browser is opened or a login needs it.
class BrowserWindow : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
    ~BrowserWindow() override;

    // Opens the login page; the ID and password are typed in once it is shown.
    virtual void Login() = 0;
    // Shows the page at the address; `title` is text its title is expected to contain.
    virtual QCoro::Task<> StartingAddress(QString address, QString title) = 0;
    // Stops loading (the frame does this first when the program ends).
    virtual void stopLoading() = 0;
    // What the member answered to the site's question during the login (a code sent by
    // SMS): typed into the site's field and sent.
    virtual void answerLoginQuestion(const QString &answer) = 0;
    // The caption the scheduler watches: "接続中..." while loading, else the page title.
    QString caption() const { return windowTitle(); }

signals:
    void itemListRequested();  // "main"
    void bidWindowRequested(); // "sw"
    void itemCaptured();       // a new item was stored: show the uncategorised items
    void searchWindowRequested();
    void categoryFound(const QString &name, qint64 id);
    void loggedIn(); // the site greeted the user: close the credentials dialog
    // How the login stands, for the credentials dialog ("" once there is nothing to say).
    void loginProgress(const QString &text);
    // The site asks for something only the member can give (kind "code": a code sent by
    // SMS; "password": there is no stored password; "other": a passkey, a new question):
    // the member answers in the browser's page, or through answerLoginQuestion.
    void loginQuestion(const QString &kind, const QString &text);
    // The site refused what was typed (its own words), or the login cannot go on.
    void loginFailed(const QString &why);
    // A page of the site did or did not come: false when the site could not be reached.
    void siteReached(bool reached);
};

// A new browser window from the module, its cookies kept the same as the program's cookie
// jar. nullptr, with the reason in `why`, when the module cannot be loaded.
BrowserWindow *createBrowserWindow(AppContext &ctx, QString *why);

} // namespace sw
