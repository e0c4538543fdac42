#pragma once

#include "appcontext.h"

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

class QProcess;

namespace sw {

class PageFetcher;

// Logging in on a machine without a display: the ID and password are kept as the desktop
// keeps them, and the desktop program itself, on the offscreen platform (`snipewell
// --login-only`), fills the site's login form in its browser engine, saves the session's
// cookies and exits. The engine's memory is spent only while it logs in. Whether the
// session is good is read from the site's status page.
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
        Failed,  // the last login did not complete
    };

    ServiceLogin(AppContext &ctx, QObject *parent = nullptr);
    ~ServiceLogin() override;

    State state() const { return m_state; }
    QString stateText() const;
    // Saves the ID and password and starts the login; false, and why, when it cannot.
    bool start(const QString &id, const QString &password, QString *why);
    // Reads the site's status page: logged in or not.
    QCoro::Task<> check();
    // The desktop program that logs in (found beside this one, or on the PATH).
    static QString desktopProgram();

signals:
    void changed();

private:
    void finished(int exitCode);

    AppContext &m_ctx;
    PageFetcher *m_fetcher;
    QProcess *m_process = nullptr;
    State m_state = State::Unknown;
    QString m_why;
};

} // namespace sw
