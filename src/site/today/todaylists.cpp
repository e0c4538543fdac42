#include "todaylists.h"

#include "itemparser.h"
#include "siteclock.h"
#include "textconv.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

namespace sw {

namespace {

// A start tag with its attributes: <name attr="v" attr='v' attr=v …>.
const QRegularExpression &startTag()
{
    static const QRegularExpression re(QStringLiteral("<([A-Za-z][A-Za-z0-9]*)\\b([^>]*)>"));
    return re;
}

QString decodeEntities(QString s)
{
    if (!s.contains(QLatin1Char('&')))
        return s;
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9A-Fa-f]{1,6}|[A-Za-z]{2,8});"));
    QString out;
    qsizetype last = 0;
    for (auto it = entity.globalMatch(s); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(s).mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        char32_t code = 0;
        if (name.startsWith(QStringLiteral("#x")) || name.startsWith(QStringLiteral("#X")))
            code = char32_t(name.mid(2).toUInt(nullptr, 16));
        else if (name.startsWith(QLatin1Char('#')))
            code = char32_t(name.mid(1).toUInt());
        else if (name == QLatin1String("amp"))
            code = '&';
        else if (name == QLatin1String("lt"))
            code = '<';
        else if (name == QLatin1String("gt"))
            code = '>';
        else if (name == QLatin1String("quot"))
            code = '"';
        else if (name == QLatin1String("apos"))
            code = '\'';
        else if (name == QLatin1String("nbsp"))
            code = ' ';
        if (code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
            out += QString::fromUcs4(&code, 1);
        else
            out += m.captured(0);
        last = m.capturedEnd();
    }
    out += QStringView(s).mid(last);
    return out;
}

QHash<QString, QString> attributes(QStringView text)
{
    static const QRegularExpression attr(QStringLiteral(
        "([A-Za-z_:][A-Za-z0-9_:.\\-]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'=<>`]+))"));
    QHash<QString, QString> out;
    for (auto it = attr.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString value = m.hasCaptured(2)   ? m.captured(2)
                              : m.hasCaptured(3) ? m.captured(3)
                                                 : m.captured(4);
        const QString name = m.captured(1).toLower();
        if (!out.contains(name))
            out.insert(name, decodeEntities(value));
    }
    return out;
}

} // namespace

QString plainText(QStringView html)
{
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    QString t = html.toString();
    t.replace(tag, QStringLiteral(" "));
    return FoldKanaText(decodeEntities(t)).simplified();
}

QList<ItemAddress> itemLinks(const QString &html, const QString &pageUrl, const SiteHosts &hosts)
{
    static const QRegularExpression href(
        QStringLiteral("\\bhref\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'=<>`]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QUrl base(pageUrl);
    QList<ItemAddress> out;
    QSet<QString> seen;
    for (auto it = href.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString raw = decodeEntities(m.hasCaptured(1)   ? m.captured(1)
                                           : m.hasCaptured(2) ? m.captured(2)
                                                              : m.captured(3))
                                .trimmed();
        if (raw.isEmpty() || raw.size() > 2048)
            continue;
        const QUrl link(raw);
        const QString absolute =
            link.isRelative() && base.isValid() ? base.resolved(link).toString() : raw;
        const std::optional<ItemAddress> a = SiteHosts::parseItemPageUrl(absolute, hosts);
        if (!a || seen.contains(a->itemid))
            continue;
        seen.insert(a->itemid);
        out << *a;
    }
    return out;
}

bool isTodayResultPage(const QString &html)
{
    return html.contains(QStringLiteral("data-auction-id"));
}

SearchPage readSearchPage(const QString &html)
{
    SearchPage page;
    QHash<QString, qsizetype> index; // row by id
    auto rowOf = [&](const QString &id) -> SearchRow & {
        if (const auto it = index.constFind(id); it != index.constEnd())
            return page.rows[*it];
        index.insert(id, page.rows.size());
        page.rows << SearchRow{id, {}, 0, 0, 0, {}, {}};
        return page.rows.last();
    };
    for (auto it = startTag().globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (!m.capturedView(2).contains(QLatin1String("data-auction-")))
            continue;
        const QHash<QString, QString> a = attributes(m.capturedView(2));
        const QString id = a.value(QStringLiteral("data-auction-id")).trimmed();
        if (!SiteHosts::isItemId(id))
            continue;
        SearchRow &row = rowOf(id);
        auto number = [&](const char *name, qint64 &target) {
            const QString key = QString::fromLatin1(name);
            if (!a.contains(key))
                return;
            if (const std::optional<qint64> n = parseSiteNumber(a.value(key)))
                target = *n;
            else
                page.problems << id + QStringLiteral("：") + key +
                                     QStringLiteral("が数字ではありません：") + a.value(key);
        };
        number("data-auction-price", row.price);
        number("data-auction-buynowprice", row.buyNow);
        number("data-auction-startprice", row.startPrice);
        if (a.contains(QStringLiteral("data-auction-endtime"))) {
            bool ok = false;
            const qint64 secs =
                a.value(QStringLiteral("data-auction-endtime")).trimmed().toLongLong(&ok);
            if (ok && secs > 946684800 && secs < 4102444800)
                row.end = QDateTime::fromSecsSinceEpoch(secs, siteZone());
            else
                page.problems << id + QStringLiteral("：終了日時が読めません：") +
                                     a.value(QStringLiteral("data-auction-endtime"));
        }
        if (a.contains(QStringLiteral("data-auction-categoryidpath")))
            row.categoryPath = a.value(QStringLiteral("data-auction-categoryidpath"));
        if (row.title.isEmpty() &&
            m.captured(1).compare(QLatin1String("a"), Qt::CaseInsensitive) == 0) {
            // The title link: its text, up to its end tag.
            const qsizetype close =
                html.indexOf(QStringLiteral("</a>"), m.capturedEnd(), Qt::CaseInsensitive);
            if (close > 0 && close - m.capturedEnd() < 4096)
                row.title =
                    plainText(QStringView(html).mid(m.capturedEnd(), close - m.capturedEnd()));
            if (row.title.isEmpty())
                row.title = a.value(QStringLiteral("title")).trimmed();
        }
    }
    // A row counts only with its price and end; the others are said.
    QList<SearchRow> kept;
    for (const SearchRow &r : std::as_const(page.rows)) {
        if (!r.end.isValid() || r.price <= 0 || r.title.isEmpty()) {
            page.problems << r.itemid +
                                 QStringLiteral("：価格・終了日時・商品名のどれかがありません");
            continue;
        }
        kept << r;
    }
    page.rows = kept;

    // The count of hits: the current tab's, else the first shown.
    static const QRegularExpression sub(QStringLiteral("Tab__subText[^>]*>([^<]*)<"));
    std::optional<qint64> first;
    for (auto it = sub.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString digits = m.captured(1).normalized(QString::NormalizationForm_KC);
        digits.remove(QStringLiteral("件")).remove(QLatin1Char(','));
        const std::optional<qint64> n = parseSiteNumber(digits);
        if (!n)
            continue;
        // The tab is the list item (or link) the count stands in.
        const QStringView before = QStringView(html).mid(
            qMax<qsizetype>(0, m.capturedStart() - 400), qMin<qsizetype>(400, m.capturedStart()));
        qsizetype li = before.lastIndexOf(QLatin1String("<li"), -1, Qt::CaseInsensitive);
        if (li < 0)
            li = before.lastIndexOf(QLatin1String("<a "), -1, Qt::CaseInsensitive);
        const QStringView tab = li >= 0 ? before.mid(li) : before.right(120);
        const bool current = tab.contains(QLatin1String("current"), Qt::CaseInsensitive) ||
                             tab.contains(QLatin1String("aria-selected=\"true\"")) ||
                             tab.contains(QLatin1String("aria-current"));
        if (current) {
            page.hits = n;
            break;
        }
        if (!first)
            first = n;
    }
    if (!page.hits)
        page.hits = first;
    return page;
}

} // namespace sw
