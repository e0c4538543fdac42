#pragma once

#include "appcontext.h"

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

class QProcess;

namespace sw {

class PageFetcher;

// Logging in on a machine without a display: the desktop program itself, on the offscreen
// platform (`snipewell --login-only --stdin`), follows the site's login in its browser
// engine with the ID and password handed to it, saves the session's cookies and exits. The
// engine's memory is spent only while it logs in. A question of the site (a code sent by
// SMS) comes back here for the member to answer through the service's page. The ID and
// password are kept (as the desktop keeps them) only once the site has accepted them.
// Whether the session is good is read from the member's pages.
class ServiceLogin : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Unknown, // not asked yet, or the site could not be reached
        LoggedIn,
        LoggedOut,
        Running, // a login is under way
        Asking,  // the site asks the member something (question())
        Failed,  // the last login did not complete
    };

    ServiceLogin(AppContext &ctx, QObject *parent = nullptr);
    ~ServiceLogin() override;

    State state() const { return m_state; }
    QString stateText() const;
    // Starts the login with this ID and password (the password may be empty: the member
    // answers the site's questions); false, and why, when it cannot.
    bool start(const QString &id, const QString &password, QString *why);
    // The member's answer to the site's question; false, and why, when none is asked.
    bool answer(const QString &text, QString *why);
    // What the site asks while the state is Asking, and of which kind ("code", …).
    QString question() const { return m_question; }
    QString questionKind() const { return m_questionKind; }
    // Reads the site's status page: logged in or not.
    QCoro::Task<> check();
    // The desktop program that logs in (found beside this one, or on the PATH).
    static QString desktopProgram();

signals:
    void changed();

private:
    void finished(int exitCode);
    void readChild();

    AppContext &m_ctx;
    PageFetcher *m_fetcher;
    QProcess *m_process = nullptr;
    State m_state = State::Unknown;
    QString m_why;
    QString m_progress;
    QString m_question;
    QString m_questionKind;
    QString m_id; // what is being tried: kept only once the site took it
    QString m_password;
};

} // namespace sw
