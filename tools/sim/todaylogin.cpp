#include "todaypages.h"

#include "todayhtml.h"

// Today's two-step login: the ID, then the password or the code sent by SMS.
namespace sim {

namespace {
QString loginShell(const Scenario &s, const QString &body)
{
    Q_UNUSED(s);
    return head(QStringLiteral("ログイン - Yahoo! JAPAN")) +
           QStringLiteral("<body><main class=\"login\">") + body +
           QStringLiteral("</main></body></html>\n");
}

QString loginForm(const Scenario &s, const QString &step, const QString &id, const QString &done,
                  const QString &fields, const QString &button, const QString &error)
{
    return QStringLiteral("<form method=\"post\" action=\"") + origin(s, s.loginHost) +
           QStringLiteral("/config/login\"><input type=\"hidden\" name=\"step\" value=\"") + step +
           QStringLiteral("\"><input type=\"hidden\" name=\".done\" value=\"") + esc(done) +
           QStringLiteral("\">") +
           (id.isEmpty()
                ? QString()
                : QStringLiteral("<input type=\"hidden\" name=\"login\" value=\"") + esc(id) +
                      QStringLiteral("\"><p class=\"id\">") + esc(id) + QStringLiteral("</p>")) +
           (error.isEmpty() ? QString()
                            : QStringLiteral("<p class=\"error\" role=\"alert\">") + esc(error) +
                                  QStringLiteral("</p>")) +
           fields + QStringLiteral("<button type=\"submit\">") + button +
           QStringLiteral("</button></form>");
}
} // namespace

QString todayLoginIdPage(const Scenario &s, const QString &done, const QString &error)
{
    return loginShell(s,
                      QStringLiteral("<h1>ログイン</h1>") +
                          loginForm(s, QStringLiteral("id"), QString(), done,
                                    QStringLiteral("<input type=\"text\" name=\"login\" "
                                                   "placeholder=\"ID/携帯電話番号/メールアドレス\" "
                                                   "autocomplete=\"username\">"),
                                    QStringLiteral("次へ"), error));
}

QString todayLoginPasswordPage(const Scenario &s, const QString &id, const QString &done,
                               const QString &error)
{
    return loginShell(
        s, QStringLiteral("<h1>パスワードを入力</h1>") +
               loginForm(s, QStringLiteral("password"), id, done,
                         QStringLiteral("<label for=\"pw\">パスワード</label>"
                                        "<input type=\"password\" id=\"pw\" name=\"passwd\" "
                                        "autocomplete=\"current-password\">"),
                         QStringLiteral("ログイン"), error));
}

QString todayLoginCodePage(const Scenario &s, const QString &id, const QString &done,
                           const QString &error)
{
    return loginShell(
        s,
        QStringLiteral("<h1>確認コードを入力</h1><p>登録されている携帯電話番号にSMSで確認コードを"
                       "送信しました。</p>") +
            loginForm(s, QStringLiteral("code"), id, done,
                      QStringLiteral("<label for=\"cd\">確認コード</label>"
                                     "<input type=\"text\" id=\"cd\" name=\"code\" "
                                     "inputmode=\"numeric\" autocomplete=\"one-time-code\">"),
                      QStringLiteral("ログイン"), error));
}

} // namespace sim
