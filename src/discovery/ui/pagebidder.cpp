#include "pagebidder.h"

#include "itemparser.h"
#include "pagefetcher.h"
#include "pagescript.h"
#include "today/todaypage.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace sw {

namespace {

// The form's scope: the open dialog, else the whole page (a form shown in place).
const QString kScope = QStringLiteral("var scope = sw.dialog() || document;\n");

// The final 「入札する」: a button of that text that is not the one that opened the form.
const QString kFinals =
    QStringLiteral("var finals = sw.buttons(scope).filter(function (b) {\n"
                   "  return sw.text(b) === '入札する' && b !== window.__swOpener; });\n");

QJsonObject jsonOf(const QVariant &v)
{
    return QJsonDocument::fromJson(v.toString().toUtf8()).object();
}

QString digitsOf(qint64 amount)
{
    return QString::number(amount);
}

// What a page's words mean when a control is missing: a login, an SMS confirmation.
QString kindOfWords(const QString &said)
{
    if (said.contains(QStringLiteral("ログイン")))
        return QStringLiteral("login");
    if (said.contains(QStringLiteral("SMS")) || said.contains(QStringLiteral("確認コード")) ||
        said.contains(QStringLiteral("本人確認")))
        return QStringLiteral("sms");
    if (said.contains(QStringLiteral("終了")))
        return QStringLiteral("ended");
    return QStringLiteral("missing");
}

class LoadDone
{
public:
    explicit LoadDone(QWebEnginePage *page) : m_page(page) {}
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h)
    {
        m_conn = QObject::connect(m_page, &QWebEnginePage::loadFinished, [this, h](bool ok) {
            QObject::disconnect(m_conn);
            m_ok = ok;
            h.resume();
        });
    }
    bool await_resume() const noexcept { return m_ok; }

private:
    QWebEnginePage *m_page;
    QMetaObject::Connection m_conn;
    bool m_ok = false;
};

QCoro::Task<bool> loadPage(QWebEnginePage *page, QString url)
{
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, page,
                     [page] { page->triggerAction(QWebEnginePage::Stop); });
    timer.start(PageBidder::kLoadTimeoutMs);
    page->load(QUrl(url));
    const bool ok = co_await LoadDone(page);
    co_return ok &&timer.isActive();
}

} // namespace

PageBidder::PageBidder(QWebEngineProfile *profile, QObject *parent)
    : QObject(parent), m_profile(profile)
{}

PageBidder::~PageBidder()
{
    m_alive.reset();
}

void PageBidder::close(int id)
{
    m_pages.erase(id);
}

QCoro::Task<PageBidder::Prepared> PageBidder::prepare(int id, QString url, qint64 amount,
                                                      int quantity, bool confirm)
{
    const std::weak_ptr<int> alive = m_alive;
    QElapsedTimer clock;
    clock.start();
    Prepared out;
    auto fail = [&](const QString &kind, const QString &why, const QString &said = QString()) {
        out.ok = false;
        out.kind = kind;
        out.why = why;
        out.said = said.simplified().left(300);
        out.ms = clock.elapsed();
        return out;
    };
    m_pages.erase(id);
    auto page = std::make_unique<QWebEnginePage>(m_profile);
    QWebEnginePage *p = page.get();
    m_pages.emplace(id, std::move(page));
    const bool loaded = co_await loadPage(p, url);
    if (alive.expired() || !m_pages.count(id) || m_pages[id].get() != p)
        co_return fail(QStringLiteral("closed"), QStringLiteral("中止されました"));
    if (!loaded)
        co_return fail(QStringLiteral("load"), QStringLiteral("商品ページが表示されませんでした"));

    // What the page's data says: the reader logged out, an SMS confirmation wanted, over.
    const QString html =
        (co_await runScript(p, QStringLiteral("document.documentElement.outerHTML"))).toString();
    if (alive.expired() || !m_pages.count(id))
        co_return fail(QStringLiteral("closed"), QStringLiteral("中止されました"));
    const ItemPage data = readItemPage(url, html, QDateTime::currentDateTime());
    if (data.loggedIn && !*data.loggedIn)
        co_return fail(QStringLiteral("login"), QStringLiteral("ログインしていません"));
    if (data.shouldSms)
        co_return fail(QStringLiteral("sms"),
                       QStringLiteral("ヤフオク!がSMSでの本人確認を求めています"));
    if (data.ok() && data.endedShown)
        co_return fail(QStringLiteral("ended"), QStringLiteral("オークションは終了しています"));

    // 「入札する」 on the page, by its text and role, outside any dialog.
    const QJsonObject opened = jsonOf(co_await runScript(
        p, pageScript(QStringLiteral(
               "var all = sw.buttons(document).filter(function (b) {\n"
               "  return sw.text(b) === '入札する' &&\n"
               "    !b.closest('[role=dialog],[role=alertdialog],dialog,[aria-modal=true]'); });\n"
               "if (!all.length) return JSON.stringify({ ok: false });\n"
               "window.__swOpener = all[0];\n"
               "all[0].click();\n"
               "return JSON.stringify({ ok: true });"))));
    if (alive.expired() || !m_pages.count(id))
        co_return fail(QStringLiteral("closed"), QStringLiteral("中止されました"));
    if (!opened.value(QStringLiteral("ok")).toBool())
        co_return fail(QStringLiteral("missing"),
                       QStringLiteral("「入札する」のボタンが見つかりません"));

    // The form is built after the click: wait for its controls.
    const QString findForm = pageScript(
        kScope +
        QStringLiteral(
            "return JSON.stringify({ price: !!sw.field('最高入札額', scope),\n"
            "  quantity: !!sw.field('数量', scope), go: !!sw.button('確認する', scope),\n"
            "  text: (sw.dialog() ? sw.dialog().innerText : '').trim().slice(0, 300) });"));
    QJsonObject form;
    QElapsedTimer waiting;
    waiting.start();
    for (;;) {
        form = jsonOf(co_await runScript(p, findForm));
        if (alive.expired() || !m_pages.count(id))
            co_return fail(QStringLiteral("closed"), QStringLiteral("中止されました"));
        const bool complete = form.value(QStringLiteral("price")).toBool() &&
                              form.value(QStringLiteral("go")).toBool() &&
                              (quantity <= 1 || form.value(QStringLiteral("quantity")).toBool());
        if (complete || waiting.elapsed() > kControlTimeoutMs)
            break;
        co_await preciseSleep(100);
    }
    const QString said = form.value(QStringLiteral("text")).toString();
    if (!form.value(QStringLiteral("price")).toBool())
        co_return fail(said.isEmpty() ? QStringLiteral("missing") : kindOfWords(said),
                       QStringLiteral("「最高入札額」の欄が見つかりません"), said);
    if (quantity > 1 && !form.value(QStringLiteral("quantity")).toBool())
        co_return fail(QStringLiteral("missing"), QStringLiteral("「数量」の欄が見つかりません"),
                       said);
    if (!form.value(QStringLiteral("go")).toBool())
        co_return fail(QStringLiteral("missing"),
                       QStringLiteral("「確認する」のボタンが見つかりません"), said);
    if (!confirm) {
        out.ok = true;
        out.ms = clock.elapsed();
        co_return out;
    }

    // Typed key by key, as the page counts it; then the page makes its preview.
    const QString typed =
        (co_await runScript(p, pageScript(kScope +
                                          QStringLiteral("var f = sw.field('最高入札額', scope);\n"
                                                         "if (!sw.type(f, ") +
                                          scriptString(digitsOf(amount)) +
                                          QStringLiteral(")) return 'not typed';\n"
                                                         "if (") +
                                          QString::number(quantity) +
                                          QStringLiteral(" > 1) {\n"
                                                         "  var q = sw.field('数量', scope);\n"
                                                         "  if (!q || !sw.type(q, '") +
                                          QString::number(quantity) +
                                          QStringLiteral("')) return 'no quantity'; }\n"
                                                         "window.__swSaid = sw.alerts(scope);\n"
                                                         "sw.button('確認する', scope).click();\n"
                                                         "return 'ok';"))))
            .toString();
    if (alive.expired() || !m_pages.count(id))
        co_return fail(QStringLiteral("closed"), QStringLiteral("中止されました"));
    if (typed != QLatin1String("ok"))
        co_return fail(QStringLiteral("missing"), QStringLiteral("入札額を入力できませんでした（") +
                                                      typed + QStringLiteral("）"));
    const QString findConfirmation =
        pageScript(kScope + kFinals +
                   QStringLiteral("var digits = (scope.innerText || '').replace(/[,，\\s]/g, '');\n"
                                  "var said = sw.alerts(scope);\n"
                                  "return JSON.stringify({ final: finals.length > 0,\n"
                                  "  amount: digits.indexOf(") +
                   scriptString(digitsOf(amount)) +
                   QStringLiteral(") >= 0, said: said !== window.__swSaid ? said : '',\n"
                                  "  text: (scope.innerText || '').trim().slice(0, 300) });"));
    waiting.restart();
    for (;;) {
        const QJsonObject c = jsonOf(co_await runScript(p, findConfirmation));
        if (alive.expired() || !m_pages.count(id))
            co_return fail(QStringLiteral("closed"), QStringLiteral("中止されました"));
        if (c.value(QStringLiteral("final")).toBool() &&
            c.value(QStringLiteral("amount")).toBool()) {
            out.ok = true;
            out.shown = c.value(QStringLiteral("text")).toString().simplified();
            out.ms = clock.elapsed();
            co_return out;
        }
        const QString refused = c.value(QStringLiteral("said")).toString();
        if (!refused.isEmpty())
            co_return fail(QStringLiteral("refused"), QStringLiteral("確認画面に進めませんでした"),
                           refused);
        if (waiting.elapsed() > kAnswerTimeoutMs)
            co_return fail(QStringLiteral("timeout"),
                           QStringLiteral("確認画面が時間内に表示されませんでした"),
                           c.value(QStringLiteral("text")).toString());
        co_await preciseSleep(50);
    }
}

QCoro::Task<PageBidder::Answer> PageBidder::press(int id, qint64 amount)
{
    const std::weak_ptr<int> alive = m_alive;
    Answer out;
    const auto found = m_pages.find(id);
    if (found == m_pages.end()) {
        out.why = QStringLiteral("確認画面が開いていません");
        co_return out;
    }
    QWebEnginePage *p = found->second.get();
    QElapsedTimer clock;
    clock.start();
    // Once: the amount shown must be the amount meant, and the button is pressed one time.
    const QJsonObject pressed = jsonOf(co_await runScript(
        p, pageScript(kScope + kFinals +
                      QStringLiteral("if (!finals.length) return JSON.stringify({ ok: false, why: "
                                     "'final' });\n"
                                     "var digits = (scope.innerText || '').replace(/[,，\\s]/g, "
                                     "'');\n"
                                     "if (digits.indexOf(") +
                      scriptString(digitsOf(amount)) +
                      QStringLiteral(") < 0) return JSON.stringify({ ok: false, why: 'amount' });\n"
                                     "window.__swSaid = sw.alerts(scope);\n"
                                     "window.__swScope = scope;\n"
                                     "window.__swPressAt = performance.now();\n"
                                     "finals[0].click();\n"
                                     "return JSON.stringify({ ok: true });"))));
    if (alive.expired())
        co_return out;
    if (!pressed.value(QStringLiteral("ok")).toBool()) {
        out.why = pressed.value(QStringLiteral("why")).toString() == QLatin1String("amount")
                      ? QStringLiteral("確認画面の金額が違います")
                      : QStringLiteral("確認画面の「入札する」が見つかりません");
        co_return out;
    }
    out.pressed = true;
    // The script ran (and clicked) about halfway through its round trip.
    const qint64 clickedAt = clock.elapsed() / 2;
    // The answer is shown in the form: read until something new stands there. With it, the
    // page's own timing of the first request after the press: how long the engine took to
    // send it, and its round trip (to the first byte where the site allows it to be seen).
    const QString readAnswer = pageScript(QStringLiteral(
        "var scope = window.__swScope && window.__swScope.isConnected ? window.__swScope\n"
        "  : (sw.dialog() || document);\n"
        "var said = sw.alerts(scope) || sw.alerts(document);\n"
        "if (!said || said === window.__swSaid) return JSON.stringify({ said: '' });\n"
        "var e = performance.getEntriesByType('resource').filter(function (r) {\n"
        "  return r.startTime >= window.__swPressAt; })[0];\n"
        "var way = !e ? -1 : e.requestStart > 0 && e.responseStart > e.requestStart\n"
        "  ? (e.responseStart - e.requestStart) / 2 : e.duration / 2;\n"
        "return JSON.stringify({ said: said, lead: e ? e.startTime - window.__swPressAt : -1,\n"
        "                        way: way });"));
    for (;;) {
        if (!m_pages.count(id) || m_pages[id].get() != p) {
            out.timedOut = true;
            co_return out;
        }
        const QJsonObject read = jsonOf(co_await runScript(p, readAnswer));
        if (alive.expired())
            co_return out;
        const QString said = read.value(QStringLiteral("said")).toString().simplified();
        if (!said.isEmpty()) {
            out.text = said;
            out.ms = clock.elapsed();
            const double lead = read.value(QStringLiteral("lead")).toDouble(-1);
            const double way = read.value(QStringLiteral("way")).toDouble(-1);
            if (lead >= 0 && way >= 0)
                out.aheadMs = clickedAt + qint64(lead + way);
            co_return out;
        }
        if (clock.elapsed() > kAnswerTimeoutMs) {
            out.timedOut = true;
            out.ms = clock.elapsed();
            co_return out;
        }
        co_await preciseSleep(15);
    }
}

} // namespace sw
