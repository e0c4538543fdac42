#include "servicelogin.h"

#include "activitylog.h"
#include "appvalues.h"
#include "cookiejar.h"
#include "credentials.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "passwordstore.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace sw {

namespace {
constexpr int kLoginTimeoutMs = 120000;
} // namespace

ServiceLogin::ServiceLogin(AppContext &ctx, QObject *parent)
    : QObject(parent), m_ctx(ctx),
      m_fetcher(new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this))
{
    configureFetcher(*m_fetcher, ctx.settings, false, ctx.prompter);
}

ServiceLogin::~ServiceLogin()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
}

QString ServiceLogin::stateText() const
{
    switch (m_state) {
    case State::Unknown:
        return m_why.isEmpty() ? QStringLiteral("ログイン：確認中") : m_why;
    case State::LoggedIn:
        return QStringLiteral("ログインしています（") + m_ctx.values.ownId + QStringLiteral("）");
    case State::LoggedOut:
        return QStringLiteral("ログインしていません。ログインしてください｡");
    case State::Running:
        return QStringLiteral("ログインしています…");
    case State::Failed:
        return QStringLiteral("ログインできませんでした：") + m_why;
    }
    return {};
}

QString ServiceLogin::desktopProgram()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : QStringList{dir + QStringLiteral("/snipewell"),
                                                dir + QStringLiteral("/../app/ui/snipewell")}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("snipewell"));
}

bool ServiceLogin::start(const QString &id, const QString &password, QString *why)
{
    if (m_process) {
        *why = QStringLiteral("ログインはすでに始まっています。");
        return false;
    }
    if (id.trimmed().size() < 4 || password.size() < 4) {
        *why = QStringLiteral("IDとパスワードは4文字以上必要です。");
        return false;
    }
    if (password.size() > kMaxPasswordLength) {
        *why = QStringLiteral("パスワードが長すぎます。");
        return false;
    }
    const QString program = desktopProgram();
    if (program.isEmpty()) {
        *why = QStringLiteral("ログインに使うSnipewell本体（snipewell）が見つかりません。");
        return false;
    }
    // Kept as the desktop keeps them: the keyring when there is one, else the setting.
    m_ctx.settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"), id.trimmed());
    m_ctx.values.ownId = id.trimmed();
    m_ctx.values.password = password;
    m_ctx.values.encodedPassword = encodePassword(password);
    savePassword(m_ctx.settings, password, this, [this](PasswordPlace place, const QString &note) {
        m_ctx.log.LOGTodb(
            QStringLiteral("入札サービス：") + passwordPlaceText(place) +
            (note.isEmpty() ? QString() : QStringLiteral("（") + note + QStringLiteral("）")));
    });
    m_process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
        finished(how == QProcess::NormalExit ? code : -1);
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finished(-2);
    });
    m_process->start(program, {QStringLiteral("--login-only")});
    QTimer::singleShot(kLoginTimeoutMs, m_process, [p = m_process] { p->kill(); });
    m_state = State::Running;
    m_why.clear();
    m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインを始めました（") + m_ctx.values.ownId +
                      QStringLiteral("）"));
    emit changed();
    return true;
}

void ServiceLogin::finished(int exitCode)
{
    if (!m_process)
        return;
    m_process->deleteLater();
    m_process = nullptr;
    if (exitCode == 0) {
        // The login's cookies are in the file: every fetcher uses them from now on.
        m_ctx.cookies.reload();
        m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインしました（") + m_ctx.values.ownId +
                          QStringLiteral("）"));
        m_state = State::Unknown;
        m_why = QStringLiteral("ログイン：確認中");
        check();
        return;
    }
    m_state = State::Failed;
    m_why = exitCode == 2 ? QStringLiteral("ヤフオク!に接続できません")
            : exitCode == 1
                ? QStringLiteral("サイトがIDを表示しませんでした（IDかパスワードが違います）")
                : QStringLiteral("ログイン用のSnipewell本体が動きませんでした");
    m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインできませんでした：") + m_why);
    emit changed();
}

QCoro::Task<> ServiceLogin::check()
{
    m_fetcher->applyProxySetting(
        m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()));
    const FetchResult page = co_await m_fetcher->FetchPage(m_ctx.hosts.statusPage(), false);
    if (m_state == State::Running)
        co_return; // a login started meanwhile says more
    if (!page.ok) {
        m_state = State::Unknown;
        m_why = QStringLiteral("ヤフオク!に接続できません");
    } else {
        m_state = looksLikeLoginPage(page.text) ? State::LoggedOut : State::LoggedIn;
        m_why.clear();
    }
    emit changed();
}

} // namespace sw
