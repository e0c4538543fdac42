#pragma once

// What a request to the simulated site asks: its form, and the site's search rules.
#include "simscenario.h"

#include <QList>
#include <QString>
#include <QUrlQuery>

namespace sim {

// A request body as key/value pairs: a JSON object (today's page script) or a form.
QUrlQuery bodyForm(const QByteArray &body);
// One value of a query or form, decoded.
QString field(const QUrlQuery &q, const char *key);
// The site's keyword rules, roughly: every word must be in the title, "（a　b）" wants
// one of a and b, a word after "－" must not be there.
bool keywordMatches(const QString &title, const QString &keyword);
bool inCategory(const Item &it, qint64 id);
// The index-th page (from 0) of search hits.
QList<const Item *> pageOf(const QList<const Item *> &all, int index);

} // namespace sim
