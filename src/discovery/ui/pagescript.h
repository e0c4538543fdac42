#pragma once

#include <QString>

namespace sw {

// What the program does inside the site's pages, as a person would: it finds controls by
// their visible text, their label and their role (never by class names or element ids,
// which the site changes at every release and every load), and types into a field key by
// key, with the events keys make, because today's pages count only what is typed.
//
// pageScript(body) is a script that runs `body` with `sw` in scope:
//   sw.visible(e)             whether e is shown
//   sw.text(e)                e's visible text (its value for an input button), blanks removed
//   sw.buttons(scope)         the usable buttons, links and button roles in scope
//   sw.button(label, scope)   the first of them whose text is label, or null
//   sw.labelOf(input)         its label's text (for=, wrapping label, aria-label(ledby),
//                             placeholder)
//   sw.fields(scope)          the visible text fields
//   sw.field(label, scope)    the first field whose label holds label, or null
//   sw.type(e, text)          focuses e, clears it and types text key by key
//   sw.dialog()               the newest open dialog, or null
//   sw.alerts(scope)          the text of status and alert regions
QString pageScript(const QString &body);

// A script value: the JSON text of a string (quotes and escapes), for values put into a
// script.
QString scriptString(const QString &value);

} // namespace sw

#include <QVariant>

#include <QCoro/QCoroTask>

class QWebEnginePage;

namespace sw {

// Runs a script in the page and resumes with its result (a page that goes away first never
// answers: the waiting work goes with it).
QCoro::Task<QVariant> runScript(QWebEnginePage *page, QString script);

} // namespace sw
