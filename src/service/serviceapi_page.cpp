#include "serviceapi_page.h"

#include <QFile>

namespace sw {

QByteArray servicePageHtml(const QString &csrf)
{
    QFile f(QStringLiteral(":/service/page.html"));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<!DOCTYPE html><p>入札サービスの画面を読めません。</p>");
    QByteArray html = f.readAll();
    // The token is hex: nothing in it needs escaping.
    html.replace("{{CSRF}}", csrf.toLatin1());
    return html;
}

QByteArray serviceTokenFormHtml(const QString &why)
{
    const QString escaped = why.toHtmlEscaped();
    const QString html =
        QStringLiteral("<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                       "<title>Snipewell 入札サービス</title></head><body "
                       "style=\"font-family:sans-serif;margin:2em\">"
                       "<h1 style=\"font-size:1.2em\">Snipewell 入札サービス</h1>"
                       "<p style=\"color:#b00000\">") +
        escaped +
        QStringLiteral("</p><form method=\"post\" action=\"/session\">"
                       "<label>アクセストークン <input name=\"token\" type=\"password\" "
                       "autocomplete=\"off\" required></label> "
                       "<button type=\"submit\">開く</button></form>"
                       "<p>アクセストークンは <code>snipewell-service --url</code> "
                       "で表示されるアドレスに入っています。</p></body></html>");
    return html.toUtf8();
}

} // namespace sw
