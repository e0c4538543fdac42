#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

namespace sw {

// The machine-readable data of today's pages: the JSON of the script block
// <script id="__NEXT_DATA__" type="application/json">, and the older script line
// "var pageData = {…};" (a script object whose values are all strings). Read without running
// any script; a block that is malformed, truncated, nested too deep or larger than a page
// can be says so in `why` instead.
struct DataBlocks
{
    std::optional<QJsonObject> nextData;
    std::optional<QJsonObject> pageData;
    QStringList problems; // what could not be read, in words
};

DataBlocks readDataBlocks(const QString &html);
// Whether the page carries either block (it is one of today's pages).
bool hasDataBlocks(const QString &html);

// A script object literal ({a: '1', "b": [2, 3], c: true,}) as JSON text; nullopt when it is
// not one. Quotes of either kind, unquoted keys, trailing commas and comments are taken.
std::optional<QString> scriptObjectToJson(QStringView literal, QString *why);

// The value at a dotted path ("props.pageProps.initialState"), or an undefined value.
QJsonValue valueAt(const QJsonObject &root, const QString &path);
// A value the site may write as a number, a string with digit groups ("12,500") or a numeric
// string; nullopt for anything else.
std::optional<qint64> numberOf(const QJsonValue &v);
// true/false, 1/0, "1"/"0", "true"/"false"; nullopt for anything else.
std::optional<bool> flagOf(const QJsonValue &v);
// A string, or a number written as text; empty for anything else.
QString textOf(const QJsonValue &v);

// The largest data block read; a page's blocks are far smaller.
constexpr qsizetype kMaxDataBlockChars = 8 * 1024 * 1024;

} // namespace sw
