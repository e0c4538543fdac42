#include "servicelogin.h"

#include "activitylog.h"
#include "appvalues.h"
#include "cookiejar.h"
#include "credentials.h"
#include "itemparser.h"
#include "memberpages.h"
#include "pagefetcher.h"
#include "passwordstore.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace sw {

namespace {
constexpr int kLoginTimeoutMs = 360000; // a member may take minutes to type a code
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
        return m_why.isEmpty() ? QStringLiteral("ログイン状態：確認中") : m_why;
    case State::LoggedIn:
        return QStringLiteral("ログイン済み（") + m_ctx.values.ownId + QStringLiteral("）");
    case State::LoggedOut:
        return QStringLiteral("ログインしていません。ログインしてください｡");
    case State::Running:
        return m_progress.isEmpty() ? QStringLiteral("ログイン中…")
                                    : QStringLiteral("ログイン中…") + m_progress;
    case State::Asking:
        return m_question;
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
    if (id.trimmed().size() < 4 || (!password.isEmpty() && password.size() < 4)) {
        *why = QStringLiteral("IDは4文字以上必要です（パスワードは使わないなら空のままで、使うなら4"
                              "文字以上）。");
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
    // Nothing is stored yet: a typo must not replace what works.
    m_id = id.trimmed();
    m_password = password;
    m_process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setReadChannel(QProcess::StandardOutput);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &ServiceLogin::readChild);
    // The engine's own chatter is not the member's business: what matters comes as events.
    connect(m_process, &QProcess::readyReadStandardError, m_process,
            [p = m_process] { p->readAllStandardError(); });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
        finished(how == QProcess::NormalExit ? code : -1);
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finished(-2);
    });
    m_process->start(program, {QStringLiteral("--login-only"), QStringLiteral("--stdin")});
    m_process->write(QJsonDocument(QJsonObject{{QStringLiteral("id"), m_id},
                                               {QStringLiteral("password"), m_password}})
                         .toJson(QJsonDocument::Compact) +
                     '\n');
    QTimer::singleShot(kLoginTimeoutMs, m_process, [p = m_process] { p->kill(); });
    m_state = State::Running;
    m_why.clear();
    m_progress.clear();
    m_question.clear();
    m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインを始めました（") + m_id +
                      QStringLiteral("）"));
    emit changed();
    return true;
}

bool ServiceLogin::answer(const QString &text, QString *why)
{
    if (!m_process || m_state != State::Asking) {
        *why = QStringLiteral("サイトは今、何も尋ねていません。");
        return false;
    }
    const QString t = text.trimmed().normalized(QString::NormalizationForm_KC);
    if (t.isEmpty() || t.size() > 64) {
        *why = QStringLiteral("答えを入力してください。");
        return false;
    }
    m_process->write(
        QJsonDocument(QJsonObject{{QStringLiteral("answer"), t}}).toJson(QJsonDocument::Compact) +
        '\n');
    m_state = State::Running;
    m_question.clear();
    m_progress = QStringLiteral("（答えを送りました）");
    emit changed();
    return true;
}

void ServiceLogin::readChild()
{
    while (m_process && m_process->canReadLine()) {
        const QJsonObject o = QJsonDocument::fromJson(m_process->readLine().trimmed()).object();
        const QString event = o.value(QStringLiteral("event")).toString();
        if (event == QLatin1String("question")) {
            m_state = State::Asking;
            m_questionKind = o.value(QStringLiteral("kind")).toString();
            m_question = o.value(QStringLiteral("text")).toString();
            m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインでサイトが尋ねています：") +
                              m_question);
        } else if (event == QLatin1String("progress") && m_state == State::Running) {
            m_progress = o.value(QStringLiteral("text")).toString();
        } else if (event == QLatin1String("failed")) {
            m_why = o.value(QStringLiteral("why")).toString();
        } else {
            continue;
        }
        emit changed();
    }
}

void ServiceLogin::finished(int exitCode)
{
    if (!m_process)
        return;
    readChild();
    m_process->deleteLater();
    m_process = nullptr;
    m_question.clear();
    if (exitCode == 0) {
        // The site took them: now they are kept, as the desktop keeps them.
        m_ctx.settings.save(QStringLiteral("Settings"), QStringLiteral("yuser"), m_id);
        m_ctx.values.ownId = m_id;
        m_ctx.values.password = m_password;
        m_ctx.values.encodedPassword = encodePassword(m_password);
        savePassword(m_ctx.settings, m_password, this,
                     [this](PasswordPlace place, const QString &note) {
                         m_ctx.log.LOGTodb(
                             QStringLiteral("入札サービス：") + passwordPlaceText(place) +
                             (note.isEmpty() ? QString()
                                             : QStringLiteral("（") + note + QStringLiteral("）")));
                     });
        m_password.clear();
        // The login's cookies are in the file: every fetcher uses them from now on.
        m_ctx.cookies.reload();
        m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインしました（") + m_id +
                          QStringLiteral("）"));
        m_state = State::Unknown;
        m_why = QStringLiteral("ログイン状態：確認中");
        check();
        return;
    }
    m_password.clear();
    m_state = State::Failed;
    if (m_why.isEmpty() || exitCode != 1)
        m_why = exitCode == 2   ? QStringLiteral("ヤフオク!に接続できません")
                : exitCode == 1 ? QStringLiteral("IDかパスワードが違います")
                : exitCode == 4
                    ? QStringLiteral("時間内にログインが終わりませんでした（サイトの質問に"
                                     "答えがありませんでした）")
                    : QStringLiteral("ログイン用のSnipewell本体が動きませんでした");
    m_ctx.log.LOGTodb(QStringLiteral("入札サービス：ログインできませんでした：") + m_why);
    emit changed();
}

QCoro::Task<> ServiceLogin::check()
{
    m_fetcher->applyProxySetting(
        m_ctx.settings.get(QStringLiteral("Settings"), QStringLiteral("Proxy"), QString()));
    const LoginState site = co_await checkSiteLogin(*m_fetcher, m_ctx.hosts);
    if (m_state == State::Running)
        co_return; // a login started meanwhile says more
    if (site == LoginState::Unknown) {
        m_state = State::Unknown;
        m_why = QStringLiteral("ヤフオク!に接続できません");
    } else {
        m_state = site == LoginState::Out ? State::LoggedOut : State::LoggedIn;
        m_why.clear();
    }
    emit changed();
}

} // namespace sw
