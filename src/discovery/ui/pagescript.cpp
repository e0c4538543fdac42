#include "pagescript.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace sw {

namespace {

const char16_t *kLibrary = uR"JS(
var sw = (function () {
  function visible(e) {
    if (!e || !e.isConnected) return false;
    var st = window.getComputedStyle(e);
    if (st.visibility === 'hidden' || st.display === 'none') return false;
    return e.getClientRects().length > 0;
  }
  function norm(s) { return String(s || '').replace(/[\s\u3000]+/g, ''); }
  function text(e) {
    if (!e) return '';
    if (e.tagName === 'INPUT') return norm(e.value || e.getAttribute('aria-label'));
    return norm(e.innerText || e.textContent || e.getAttribute('aria-label'));
  }
  function usable(e) {
    return visible(e) && !e.disabled && e.getAttribute('aria-disabled') !== 'true';
  }
  function buttons(scope) {
    var all = (scope || document).querySelectorAll(
      'button, input[type=submit], input[type=button], [role=button], a[href]');
    return Array.prototype.filter.call(all, usable);
  }
  function button(label, scope) {
    var want = norm(label);
    var list = buttons(scope);
    for (var i = 0; i < list.length; i++) if (text(list[i]) === want) return list[i];
    return null;
  }
  function labelOf(input) {
    var parts = [];
    if (input.labels) for (var i = 0; i < input.labels.length; i++) parts.push(input.labels[i].innerText);
    var by = input.getAttribute('aria-labelledby');
    if (by) by.split(/\s+/).forEach(function (id) { var l = document.getElementById(id); if (l) parts.push(l.innerText); });
    parts.push(input.getAttribute('aria-label') || '', input.getAttribute('placeholder') || '',
               input.getAttribute('title') || '');
    return norm(parts.join(' '));
  }
  function fields(scope) {
    var all = (scope || document).querySelectorAll('input, textarea');
    return Array.prototype.filter.call(all, function (e) {
      var t = (e.getAttribute('type') || 'text').toLowerCase();
      return usable(e) && ['text', 'tel', 'number', 'email', 'password', 'search'].indexOf(t) >= 0;
    });
  }
  function field(label, scope) {
    var want = norm(label);
    var list = fields(scope);
    for (var i = 0; i < list.length; i++) if (labelOf(list[i]).indexOf(want) >= 0) return list[i];
    return null;
  }
  function setValue(e, v) {
    var proto = e.tagName === 'TEXTAREA' ? HTMLTextAreaElement.prototype : HTMLInputElement.prototype;
    Object.getOwnPropertyDescriptor(proto, 'value').set.call(e, v);
  }
  function key(e, kind, ch) {
    e.dispatchEvent(new KeyboardEvent(kind, { key: ch, bubbles: true, cancelable: true }));
  }
  function type(e, value) {
    e.focus();
    e.dispatchEvent(new FocusEvent('focus'));
    if (e.value) {
      setValue(e, '');
      e.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: 'deleteContentBackward' }));
    }
    var s = String(value);
    for (var i = 0; i < s.length; i++) {
      var ch = s.charAt(i);
      key(e, 'keydown', ch);
      key(e, 'keypress', ch);
      setValue(e, e.value + ch);
      e.dispatchEvent(new InputEvent('input', { bubbles: true, inputType: 'insertText', data: ch }));
      key(e, 'keyup', ch);
    }
    e.dispatchEvent(new Event('change', { bubbles: true }));
    return e.value === s;
  }
  function dialog() {
    var all = document.querySelectorAll('[role=dialog], [role=alertdialog], dialog[open], [aria-modal=true]');
    for (var i = all.length - 1; i >= 0; i--) if (visible(all[i])) return all[i];
    return null;
  }
  function alerts(scope) {
    var all = (scope || document).querySelectorAll('[role=status], [role=alert], [aria-live]');
    var out = [];
    Array.prototype.forEach.call(all, function (e) { var t = (e.innerText || '').trim(); if (t) out.push(t); });
    return out.join(' ');
  }
  return { visible: visible, text: text, buttons: buttons, button: button, labelOf: labelOf,
           fields: fields, field: field, type: type, dialog: dialog, alerts: alerts, norm: norm };
})();
)JS";

} // namespace

QString pageScript(const QString &body)
{
    return QStringLiteral("(function () {\n") + QString::fromUtf16(kLibrary) + body +
           QStringLiteral("\n})()");
}

QString scriptString(const QString &value)
{
    const QByteArray json = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

} // namespace sw

#include <QPointer>
#include <QWebEnginePage>

#include <coroutine>

namespace sw {

namespace {

// Resumes with the script's result, or with nothing when the page goes away first (the
// engine then never calls back).
class ScriptDone
{
public:
    ScriptDone(QWebEnginePage *page, QString script) : m_page(page), m_script(std::move(script)) {}
    bool await_ready() const noexcept { return m_page.isNull(); }
    void await_suspend(std::coroutine_handle<> h)
    {
        auto done = std::make_shared<bool>(false);
        m_gone = QObject::connect(m_page, &QObject::destroyed, [done, h] {
            if (!std::exchange(*done, true))
                h.resume();
        });
        m_page->runJavaScript(m_script, [this, done, h](const QVariant &v) {
            if (std::exchange(*done, true))
                return;
            QObject::disconnect(m_gone);
            m_result = v;
            h.resume();
        });
    }
    QVariant await_resume() const { return m_result; }

private:
    QPointer<QWebEnginePage> m_page;
    QString m_script;
    QVariant m_result;
    QMetaObject::Connection m_gone;
};

} // namespace

QCoro::Task<QVariant> runScript(QWebEnginePage *page, QString script)
{
    co_return co_await ScriptDone(page, std::move(script));
}

} // namespace sw
