#include "simrequest.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace sim {

namespace {
constexpr int kPerPage = 50;
}

QUrlQuery bodyForm(const QByteArray &body)
{
    QUrlQuery q;
    const QJsonDocument d = QJsonDocument::fromJson(body);
    if (d.isObject()) {
        const QJsonObject o = d.object();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QJsonValue v = it.value();
            q.addQueryItem(it.key(), v.isDouble() ? QString::number(v.toDouble(), 'f', 0)
                                                  : v.toVariant().toString());
        }
        return q;
    }
    // Form values come percent-encoded, '+' for a blank.
    QByteArray b = body;
    b.replace('+', ' ');
    for (const QByteArray &pair : b.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq <= 0)
            continue;
        q.addQueryItem(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(eq))),
                       QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(eq + 1))));
    }
    return q;
}

QString field(const QUrlQuery &q, const char *key)
{
    return q.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
}

bool keywordMatches(const QString &title, const QString &keyword)
{
    QString k = keyword;
    k.replace(QChar(0x3000), QLatin1Char(' '));
    const QStringList words = k.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList group;
    bool inGroup = false;
    for (QString w : words) {
        const bool opens = w.startsWith(QStringLiteral("（")) || w.startsWith(QLatin1Char('('));
        const bool closes = w.endsWith(QStringLiteral("）")) || w.endsWith(QLatin1Char(')'));
        if (opens)
            w.remove(0, 1);
        if (closes)
            w.chop(1);
        if (opens || inGroup) {
            group << w;
            inGroup = !closes;
            if (!inGroup) {
                bool any = false;
                for (const QString &g : group)
                    any = any || (!g.isEmpty() && title.contains(g));
                if (!any)
                    return false;
                group.clear();
            }
            continue;
        }
        if (w.startsWith(QStringLiteral("－")) || w.startsWith(QLatin1Char('-'))) {
            if (w.size() > 1 && title.contains(w.mid(1)))
                return false;
            continue;
        }
        if (!title.contains(w))
            return false;
    }
    return true;
}

bool inCategory(const Item &it, qint64 id)
{
    for (const Category &c : it.trail) {
        if (c.id == id)
            return true;
    }
    return false;
}

QList<const Item *> pageOf(const QList<const Item *> &all, int index)
{
    return index < 0 ? QList<const Item *>{} : all.mid(qsizetype(index) * kPerPage, kPerPage);
}
} // namespace sim
