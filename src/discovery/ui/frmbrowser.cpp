#include "frmbrowser.h"

#include "pagescript.h"
#include "today/todaypage.h"

#include "activitylog.h"
#include "appvalues.h"
#include "cookiejar.h"
#include "itemcapture.h"
#include "itemparser.h"
#include "pagefetcher.h"
#include "prompter.h"
#include "searchquery.h"
#include "settingsstore.h"
#include "sitehosts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace sw {

namespace {
struct Button
{
    const char *key;
    const char *caption;
    const char *tip;
};
const Button kButtons[] = {
    {"main", "商品ﾘｽﾄ", "商品リストを表示"},
    {"sw", "入札", "商品詳細(入札)"},
    {"Back", "戻る", "戻る"},
    {"Forward", "進む", "進む"},
    {"Stop", "中止", "中止"},
    {"Refresh", "更新", "更新"},
    {"Home", "ﾎｰﾑ", "ﾎｰﾑ"},
    {"set", "取込", "表示している商品を商品リストへ取り込みます"},
    {"serch", "検索", "スペシャル検索"},
};
} // namespace

frmBrowser::frmBrowser(AppContext &ctx, QWidget *parent)
    : BrowserWindow(parent), m_ctx(ctx),
      m_fetcher(new PageFetcher(&ctx.cookies, ctx.log, ctx.prompter, this)),
      m_view(new QWebEngineView(this)), m_toolbar(new QToolBar(this)), m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmBrowser"));
    // Capture and registration read pages over the default connection, not the Proxy setting.
    configureFetcher(*m_fetcher, ctx.settings, false, ctx.prompter);

    m_view->setObjectName(QStringLiteral("brwWebBrowser"));
    if (!m_ctx.settings.getBool(QStringLiteral("Settings"), QStringLiteral("promode"), false))
        m_view->setToolTip(
            QStringLiteral("一度クリックするとスペースキーとかでスクロールします。"));
    connect(m_view, &QWebEngineView::loadStarted, this, [this] { m_busy = true; });
    connect(m_view, &QWebEngineView::loadFinished, this, [this] {
        m_busy = false;
        ++m_loads;
        setWindowTitle(pageTitle());
    });
    // The engine's error page says little: a page of the site that does not come is said
    // in the program's words, where the user looks.
    connect(m_view->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo &info) { loadingChanged(info); });

    m_toolbar->setObjectName(QStringLiteral("tbToolBar"));
    for (const Button &b : kButtons) {
        QAction *a = m_toolbar->addAction(QString::fromUtf8(b.caption));
        const QString key = QString::fromLatin1(b.key);
        a->setObjectName(key);
        a->setToolTip(QString::fromUtf8(b.tip));
        connect(a, &QAction::triggered, this, [this, key] { toolbarClicked(key); });
    }

    m_timer->setObjectName(QStringLiteral("timTimer"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &frmBrowser::timTimer_Timer);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_toolbar);
    layout->addWidget(m_view, 1);
    resize(900, 600);
}

frmBrowser::~frmBrowser()
{
    m_alive.reset();
}

QString frmBrowser::currentUrl() const
{
    return m_view->url().toString();
}

QString frmBrowser::pageTitle() const
{
    return m_view->title();
}

void frmBrowser::stopLoading()
{
    m_view->stop();
}

void frmBrowser::clearHistory()
{
    m_history.clear();
    m_historyAt = -1;
}

void frmBrowser::toolbarClicked(const QString &key)
{
    if (key == QLatin1String("main")) {
        m_timer->stop();
        stopLoading();
        emit itemListRequested();
    } else if (key == QLatin1String("sw")) {
        emit bidWindowRequested();
    } else if (key == QLatin1String("Back")) {
        clearHistory();
        m_timer->start();
        m_view->back();
    } else if (key == QLatin1String("Forward")) {
        clearHistory();
        m_timer->start();
        m_view->forward();
    } else if (key == QLatin1String("Stop")) {
        m_timer->stop();
        stopLoading();
        setWindowTitle(pageTitle());
    } else if (key == QLatin1String("Refresh")) {
        clearHistory();
        m_timer->start();
        m_view->reload();
    } else if (key == QLatin1String("Home")) {
        clearHistory();
        m_timer->start();
        // The embedded engine has no home page of its own: the auction site's top page.
        m_view->load(QUrl(m_ctx.hosts.scheme + QStringLiteral("://") + m_ctx.hosts.mainHost +
                          QLatin1Char('/')));
    } else if (key == QLatin1String("set")) {
        capture();
    } else if (key == QLatin1String("serch")) {
        mnuSerch();
    }
}

void frmBrowser::loadingChanged(const QWebEngineLoadingInfo &info)
{
    if (!m_ctx.hosts.isSiteHost(info.url().host()))
        return;
    const bool loginUnderWay = m_loginStep == PageRequested || m_loginStep == CredentialsTyped;
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
        emit siteReached(true);
        if (loginUnderWay)
            emit loginProgress(QString()); // the site answers: nothing to wait for
        return;
    }
    if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
        return;
    // An answer with an error status came from the site; no answer at all did not.
    const bool noAnswer = info.errorDomain() == QWebEngineLoadingInfo::ConnectionErrorDomain ||
                          info.errorDomain() == QWebEngineLoadingInfo::DnsErrorDomain ||
                          info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain ||
                          info.errorDomain() == QWebEngineLoadingInfo::HttpErrorDomain;
    if (!noAnswer)
        return;
    emit siteReached(false);
    m_ctx.log.LOGTodb(QStringLiteral("ヤフオク!に接続できません：") + info.url().host() +
                      QStringLiteral("：") + info.errorString());
    if (loginUnderWay)
        emit loginProgress(QStringLiteral("ヤフオク!に接続できません。接続を確認してから、"
                                          "もう一度「ログインする」を押してください｡"));
}

void frmBrowser::Login()
{
    m_timer->stop();
    stopLoading();
    setWindowTitle(pageTitle());
    m_loginStep = PageRequested;
    m_done.clear();
    m_asked.clear();
    m_passwordSent = false;
    m_timer->start();
    emit loginProgress(QStringLiteral("ヤフオク!の応答を待っています…"));
    m_view->load(QUrl(m_ctx.hosts.loginPage()));
}

QString frmBrowser::loginScript(const QString &id, const QString &password)
{
    // The values travel as JSON so that no character of a password can break the script.
    const QByteArray args = QJsonDocument(QJsonArray{id, password}).toJson(QJsonDocument::Compact);
    return QStringLiteral(
               "(function(id, pw) {"
               "  var all = Array.prototype.slice.call("
               "    document.querySelectorAll('input,select,textarea,button,a[href]'));"
               "  var usable = all.filter(function(e) {"
               "    if (e.disabled || e.tabIndex < 0) return false;"
               "    if (e.tagName == 'INPUT' && e.type == 'hidden') return false;"
               "    return e.getClientRects().length > 0; });"
               "  var first = -1;"
               "  for (var i = 0; i < usable.length; i++) {"
               "    var t = usable[i];"
               "    if (t.tagName == 'INPUT' && ['text', 'email', 'tel'].indexOf(t.type) >= 0) {"
               "      first = i; break; } }"
               "  if (first < 0 || first + 1 >= usable.length) return 'no form';"
               "  usable[first].focus(); usable[first].value = id;"
               "  usable[first + 1].focus(); usable[first + 1].value = pw;"
               "  for (var k = first + 2; k < first + 4 && k < usable.length; k++) {"
               "    var c = usable[k]; c.focus();"
               "    if (c.tagName == 'BUTTON' || c.tagName == 'A' ||"
               "        ['checkbox', 'radio', 'submit', 'button', 'image'].indexOf(c.type) >= 0)"
               "      c.click(); }"
               "  return 'typed';"
               "}).apply(null, ") +
           QString::fromUtf8(args) + QStringLiteral(")");
}

QString frmBrowser::loginFormScript()
{
    return pageScript(QStringLiteral(R"JS(
  var f = sw.fields();
  var pw = f.filter(function (e) { return e.type === 'password'; });
  var code = f.filter(function (e) {
    return e.type !== 'password' && (/one-time-code/.test(e.autocomplete || '') ||
           /コード|認証番号|確認番号/.test(sw.labelOf(e)));
  });
  var text = f.filter(function (e) { return e.type !== 'password' && code.indexOf(e) < 0; });
  var kind = 'other';
  if (pw.length && text.length) kind = 'both';
  else if (code.length) kind = 'code';
  else if (pw.length) kind = 'password';
  else if (text.length && sw.button('次へ')) kind = 'id';
  var said = sw.alerts();
  if (!said) {
    var err = document.querySelector('.error, .Error, [class*=error]');
    if (err && sw.visible(err)) said = err.innerText.trim();
  }
  return JSON.stringify({ kind: kind, said: said, text: (document.body ? document.body.innerText : '').slice(0, 400) });
)JS"));
}

bool frmBrowser::onLoginHost() const
{
    const QUrl shown = m_view->url();
    return shown.scheme() == m_ctx.hosts.scheme &&
           shown.host().compare(m_ctx.hosts.loginHost, Qt::CaseInsensitive) == 0 &&
           shown.userInfo().isEmpty();
}

void frmBrowser::timTimer_Timer()
{
    if (m_busy) {
        setWindowTitle(QStringLiteral("接続中..."));
        return;
    }
    setWindowTitle(pageTitle());
    if (m_loginStep != PageRequested && m_loginStep != CredentialsTyped) {
        m_timer->stop();
        return;
    }
    if (!m_typing)
        followLogin();
}

void frmBrowser::loggedInNow()
{
    m_loginStep = LoggedIn;
    m_timer->stop();
    if (QWidget *frame = parentWidget(); frame && frame->isMaximized())
        frame->showNormal();
    emit loginProgress(QString());
    emit loggedIn();
}

QCoro::Task<> frmBrowser::act(QString script)
{
    const std::weak_ptr<int> alive = m_alive;
    m_typing = true;
    co_await runScript(m_view->page(), script);
    if (alive.expired())
        co_return;
    m_typing = false;
}

QCoro::Task<> frmBrowser::followLogin()
{
    const std::weak_ptr<int> alive = m_alive;
    m_typing = true;
    const QString html =
        (co_await runScript(
             m_view->page(),
             QStringLiteral("document.documentElement ? document.documentElement.outerHTML : ''")))
            .toString();
    if (alive.expired())
        co_return;
    m_typing = false;
    if (m_loginStep != PageRequested && m_loginStep != CredentialsTyped)
        co_return;
    const QString id = m_ctx.values.ownId;
    // Logged in: today's pages say so in their data; the classic site greets the member
    // by ID on its page after the login.
    const std::optional<bool> in = todayLoginState(html);
    if ((in && *in) ||
        (!in && m_loginStep == CredentialsTyped && !id.isEmpty() && windowTitle().contains(id))) {
        loggedInNow();
        co_return;
    }
    if (!onLoginHost())
        co_return; // on its way through the site's pages
    m_typing = true;
    const QJsonObject form =
        QJsonDocument::fromJson(
            (co_await runScript(m_view->page(), loginFormScript())).toString().toUtf8())
            .object();
    if (alive.expired())
        co_return;
    m_typing = false;
    const QString kind = form.value(QStringLiteral("kind")).toString();
    const QString said = form.value(QStringLiteral("said")).toString().simplified();
    const QString step = QString::number(m_loads) + QLatin1Char(':') + kind;
    if (step == m_done || (!m_asked.isEmpty() && m_asked == step))
        co_return; // taken on this page already; the site has not answered yet
    const QString password = m_ctx.values.password;
    const QString pageText = form.value(QStringLiteral("text")).toString();
    if (m_passwordSent && m_done.endsWith(QLatin1String(":both")) &&
        (kind == QLatin1String("both") || !said.isEmpty() ||
         pageText.contains(QStringLiteral("パスワード")))) {
        // A login page again after the classic form sent the password: the site refused it.
        // Typing it again would not help, and an ID tried too often gets locked.
        QString why = said;
        if (why.isEmpty()) {
            const QStringList lines = pageText.split(u'\n');
            for (const QString &line : lines) {
                const QString l = line.trimmed();
                // A sentence about the password, not the field's label.
                if (l.contains(QStringLiteral("パスワード")) && l.size() < 120 &&
                    !l.endsWith(QStringLiteral("：")) && !l.endsWith(u':')) {
                    why = l.simplified();
                    break;
                }
            }
        }
        if (why.isEmpty())
            why = QStringLiteral("ログインページに戻りました（IDかパスワードが違うようです）");
        m_loginStep = NoLogin;
        m_timer->stop();
        emit loginFailed(why);
        emit loginProgress(QStringLiteral("ログインできませんでした：") + why);
        co_return;
    }
    if (kind == QLatin1String("both")) {
        // The classic one-page form, in its own order.
        m_done = step;
        co_await WaitFor(QStringLiteral("00:00:01"));
        if (alive.expired() || !onLoginHost())
            co_return;
        act(loginScript(id, password));
        m_loginStep = CredentialsTyped;
        m_passwordSent = true;
        co_return;
    }
    if (kind == QLatin1String("id")) {
        m_done = step;
        act(pageScript(
            QStringLiteral("var f = sw.fields().filter(function (e) { return e.type !== "
                           "'password'; })[0]; if (!f) return 'no field'; sw.type(f, ") +
            scriptString(id) +
            QStringLiteral("); var b = sw.button('次へ'); if (b) b.click(); return 'ok';")));
        m_loginStep = CredentialsTyped;
        co_return;
    }
    if (kind == QLatin1String("password") && !password.isEmpty()) {
        if (m_passwordSent && !said.isEmpty()) {
            // The site refused the stored password: trying it again would not help.
            m_loginStep = NoLogin;
            m_timer->stop();
            emit loginFailed(said);
            emit loginProgress(QStringLiteral("ログインできませんでした：") + said);
            co_return;
        }
        m_done = step;
        m_passwordSent = true;
        act(pageScript(
            QStringLiteral("var f = sw.fields().filter(function (e) { return e.type === "
                           "'password'; })[0]; if (!f) return 'no field'; sw.type(f, ") +
            scriptString(password) +
            QStringLiteral("); var b = sw.button('ログイン') || sw.button('次へ'); if (b) "
                           "b.click(); return 'ok';")));
        m_loginStep = CredentialsTyped;
        co_return;
    }
    // Only the member can go on: a code sent by SMS, a passkey, a password not stored.
    m_asked = step;
    const QString text =
        kind == QLatin1String("code")
            ? QStringLiteral("ヤフオク!が確認コードを求めています（SMSで届きます）。") +
                  (said.isEmpty() ? QString() : said + QStringLiteral("　")) +
                  QStringLiteral("ブラウザの画面に入力して「ログイン」を押してください｡")
        : kind == QLatin1String("password")
            ? QStringLiteral("パスワードは保存されていません。ブラウザの画面でパスワードを入力して"
                             "「ログイン」を押してください｡")
            : QStringLiteral("ブラウザの画面の案内に従ってログインを続けてください（顔・指紋認証な"
                             "ど）｡");
    if (QWidget *frame = parentWidget())
        frame->show();
    emit loginQuestion(kind, text);
    emit loginProgress(text);
}

void frmBrowser::answerLoginQuestion(const QString &answer)
{
    act(pageScript(
        QStringLiteral(
            "var f = sw.fields().filter(function (e) { return e.type !== 'password'; "
            "}); var c = f.filter(function (e) { return /one-time-code/.test(e.autocomplete "
            "|| '') || /コード|認証番号|確認番号/.test(sw.labelOf(e)); })[0] || "
            "sw.fields()[0]; if (!c) return 'no field'; sw.type(c, ") +
        scriptString(answer) +
        QStringLiteral(
            "); var b = sw.button('ログイン') || sw.button('次へ') || sw.button('確認') || "
            "sw.button('送信'); if (b) b.click(); return 'ok';")));
    m_asked.clear();
}

QCoro::Task<> frmBrowser::StartingAddress(QString address, QString title)
{
    const std::weak_ptr<int> alive = m_alive;
    stopLoading();
    bool found = false;
    const int c = m_historyAt;
    for (int i = 0; i < m_history.size(); ++i) {
        if (m_history[i] != address)
            continue;
        found = true;
        if (i == c)
            continue;
        // Walk the engine's own history by the same distance.
        QWebEngineHistory *h = m_view->history();
        const int target = h->currentItemIndex() - (c - i);
        if (target >= 0 && target < h->count())
            h->goToItem(h->itemAt(target));
        m_historyAt = i;
        break;
    }
    if (found) {
        for (int waited = 0; waited < 30; ++waited) {
            if (pageTitle().contains(title))
                co_return;
            co_await preciseSleep(100);
            if (alive.expired())
                co_return;
        }
        if (pageTitle().contains(title))
            co_return;
        clearHistory();
    }
    m_history.append(address);
    m_historyAt = int(m_history.size()) - 1;
    m_timer->start();
    m_view->load(QUrl(address));
    m_view->setFocus();
}

QCoro::Task<> frmBrowser::capture()
{
    const std::weak_ptr<int> alive = m_alive;
    // Only an item page of the site's own form is taken, and it is read at the address the
    // program builds for it, not at whatever the browser shows.
    const std::optional<ItemAddress> where = SiteHosts::parseItemPageUrl(currentUrl(), m_ctx.hosts);
    if (!where) {
        m_ctx.prompter.message(notAnItemPageText());
        co_return;
    }
    bool inserted = false;
    const QString text = co_await captureItem(m_ctx, *m_fetcher, *where, &inserted);
    if (alive.expired())
        co_return;
    m_ctx.prompter.message(text);
    if (inserted)
        emit itemCaptured();
}

QCoro::Task<> frmBrowser::mnuSerch()
{
    const std::weak_ptr<int> alive = m_alive;
    emit searchWindowRequested();
    const QString url = currentUrl();
    const QString title = pageTitle();
    // Today's pages: a category listing names its category; an item page has it in its data.
    if (const std::optional<SiteCategory> c = categoryOfTodayListing(url, title, m_ctx.hosts)) {
        emit categoryFound(c->name, c->id);
        co_return;
    }
    if (const std::optional<ItemAddress> item = SiteHosts::parseItemPageUrl(url, m_ctx.hosts);
        item && item->serverid.isEmpty()) {
        const FetchResult page =
            co_await m_fetcher->FetchPage(m_ctx.hosts.itemPage(QString(), item->itemid), false);
        if (alive.expired())
            co_return;
        if (const std::optional<SiteCategory> c = categoryOfTodayItemPage(page.text))
            emit categoryFound(c->name, c->id);
        co_return;
    }
    const QString host = categoryPageHost(url, title);
    if (host.isEmpty())
        co_return;
    if (!host.startsWith(QLatin1String("page"))) {
        if (const std::optional<SiteCategory> c = categoryOfListing(url, title))
            emit categoryFound(c->name, c->id);
        co_return;
    }
    const FetchResult page = co_await m_fetcher->FetchPage(url, false);
    if (alive.expired())
        co_return;
    if (const std::optional<SiteCategory> c = categoryOfItemPage(page.text))
        emit categoryFound(c->name, c->id);
}

} // namespace sw
