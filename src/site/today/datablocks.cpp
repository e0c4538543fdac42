#include "datablocks.h"

#include "itemparser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace sw {

namespace {

constexpr int kMaxDepth = 200;
const QString kNextDataId = QStringLiteral("id=\"__NEXT_DATA__\"");
const QString kPageData = QStringLiteral("var pageData");

// The text of the script element whose start tag holds `marker`; nullopt when there is none.
std::optional<QStringView> scriptBody(const QString &html, const QString &marker, QString *why)
{
    const qsizetype at = html.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype open = html.indexOf(QLatin1Char('>'), at);
    if (open < 0) {
        *why = QStringLiteral("__NEXT_DATA__ の始まりが途中で切れています");
        return QStringView();
    }
    const qsizetype close = html.indexOf(QStringLiteral("</script>"), open, Qt::CaseInsensitive);
    if (close < 0) {
        *why = QStringLiteral("__NEXT_DATA__ が途中で切れています");
        return QStringView();
    }
    return QStringView(html).mid(open + 1, close - open - 1);
}

std::optional<QJsonObject> parseObject(const QString &json, const QString &name, QString *why)
{
    if (json.size() > kMaxDataBlockChars) {
        *why = name + QStringLiteral(" が大きすぎます");
        return std::nullopt;
    }
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(json.toUtf8(), &e);
    if (e.error != QJsonParseError::NoError || !d.isObject()) {
        *why = name + QStringLiteral(" を読めません") +
               (e.error != QJsonParseError::NoError
                    ? QStringLiteral("（") + e.errorString() + QStringLiteral("）")
                    : QString());
        return std::nullopt;
    }
    return d.object();
}

// The object literal that follows "var pageData =", up to its matching brace (strings and
// their escapes taken into account); empty when it does not close.
QStringView pageDataLiteral(const QString &html, qsizetype from)
{
    qsizetype i = html.indexOf(QLatin1Char('{'), from);
    const qsizetype eq = html.indexOf(QLatin1Char('='), from);
    if (i < 0 || eq < 0 || eq > i)
        return {};
    // Nothing but blanks between "=" and "{".
    for (qsizetype k = eq + 1; k < i; ++k) {
        if (!html.at(k).isSpace())
            return {};
    }
    const qsizetype start = i;
    const qsizetype limit = qMin(html.size(), start + kMaxDataBlockChars);
    int depth = 0;
    QChar quote;
    for (; i < limit; ++i) {
        const QChar c = html.at(i);
        if (!quote.isNull()) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            quote = c;
        else if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && --depth == 0)
            return QStringView(html).mid(start, i - start + 1);
    }
    return {};
}

bool isIdentifierChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

} // namespace

std::optional<QString> scriptObjectToJson(QStringView in, QString *why)
{
    auto no = [why](const QString &text) -> std::optional<QString> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    QString out;
    out.reserve(in.size() + in.size() / 8);
    int depth = 0;
    qsizetype i = 0;
    const qsizetype n = in.size();
    while (i < n) {
        const QChar c = in.at(i);
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            // A string of either quote, written out as a JSON string.
            const QChar quote = c;
            out += QLatin1Char('"');
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = in.at(i);
                if (d == QLatin1Char('\\') && i + 1 < n) {
                    const QChar e = in.at(i + 1);
                    if (e == QLatin1Char('\''))
                        out += QLatin1Char('\'');
                    else
                        out += QLatin1Char('\\') + QString(e);
                    i += 2;
                    continue;
                }
                if (d == quote) {
                    closed = true;
                    out += QLatin1Char('"');
                    ++i;
                    break;
                }
                if (d == QLatin1Char('"'))
                    out += QStringLiteral("\\\"");
                else if (d == QLatin1Char('\n'))
                    out += QStringLiteral("\\n");
                else if (d.unicode() < 0x20)
                    out += QStringLiteral("\\u%1").arg(d.unicode(), 4, 16, QLatin1Char('0'));
                else
                    out += d;
                ++i;
            }
            if (!closed)
                return no(QStringLiteral("文字列が閉じていません"));
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && in.at(i + 1) == QLatin1Char('/')) {
            while (i < n && in.at(i) != QLatin1Char('\n'))
                ++i;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && in.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = in.indexOf(QStringLiteral("*/"), i + 2);
            if (end < 0)
                return no(QStringLiteral("注釈が閉じていません"));
            i = end + 2;
            continue;
        }
        if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            if (++depth > kMaxDepth)
                return no(QStringLiteral("入れ子が深すぎます"));
            out += c;
            ++i;
            continue;
        }
        if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
            --depth;
            // A trailing comma before the close is the script's, not JSON's.
            qsizetype k = out.size() - 1;
            while (k >= 0 && out.at(k).isSpace())
                --k;
            if (k >= 0 && out.at(k) == QLatin1Char(','))
                out.remove(k, 1);
            out += c;
            ++i;
            continue;
        }
        if (isIdentifierChar(c) && !c.isDigit() && c != QLatin1Char('-')) {
            qsizetype j = i;
            while (j < n && isIdentifierChar(in.at(j)))
                ++j;
            const QStringView word = in.mid(i, j - i);
            qsizetype k = j;
            while (k < n && in.at(k).isSpace())
                ++k;
            if (k < n && in.at(k) == QLatin1Char(':')) // a key without quotes
                out += QLatin1Char('"') + word.toString() + QLatin1Char('"');
            else if (word == QLatin1String("undefined"))
                out += QStringLiteral("null");
            else
                out += word.toString(); // true, false, null (anything else fails below)
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

DataBlocks readDataBlocks(const QString &html)
{
    DataBlocks b;
    QString why;
    if (const std::optional<QStringView> body = scriptBody(html, kNextDataId, &why)) {
        if (!why.isEmpty())
            b.problems << why;
        else if (const auto o =
                     parseObject(body->toString(), QStringLiteral("__NEXT_DATA__"), &why))
            b.nextData = *o;
        else
            b.problems << why;
    }
    if (const qsizetype at = html.indexOf(kPageData); at >= 0) {
        const QStringView literal = pageDataLiteral(html, at + kPageData.size());
        why.clear();
        std::optional<QString> json;
        if (literal.isEmpty())
            b.problems << QStringLiteral("pageData が途中で切れています");
        else if (!(json = scriptObjectToJson(literal, &why)))
            b.problems << QStringLiteral("pageData を読めません（") + why + QStringLiteral("）");
        else if (const auto o = parseObject(*json, QStringLiteral("pageData"), &why))
            b.pageData = *o;
        else
            b.problems << why;
    }
    return b;
}

bool hasDataBlocks(const QString &html)
{
    return html.contains(kNextDataId) || html.contains(kPageData);
}

QJsonValue valueAt(const QJsonObject &root, const QString &path)
{
    QJsonValue v = root;
    for (const QStringView part : QStringView(path).split(QLatin1Char('.'))) {
        if (!v.isObject())
            return QJsonValue(QJsonValue::Undefined);
        v = v.toObject().value(part);
    }
    return v;
}

std::optional<qint64> numberOf(const QJsonValue &v)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        // Whole numbers only, and far from where a cast would overflow.
        if (d < 0 || d > 9.0e15 || d != double(qint64(d)))
            return std::nullopt;
        return qint64(d);
    }
    if (v.isString())
        return parseSiteNumber(v.toString());
    return std::nullopt;
}

std::optional<bool> flagOf(const QJsonValue &v)
{
    if (v.isBool())
        return v.toBool();
    if (v.isDouble())
        return v.toDouble() != 0;
    if (v.isString()) {
        const QString s = v.toString().trimmed().toLower();
        if (s == QLatin1String("1") || s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("0") || s == QLatin1String("false") || s.isEmpty())
            return false;
    }
    return std::nullopt;
}

QString textOf(const QJsonValue &v)
{
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toDouble(), 'f', 0);
    return {};
}

} // namespace sw
