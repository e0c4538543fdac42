#include "credentials.h"

#include "appvalues.h"
#include "clock.h"
#include "settingsstore.h"

namespace sw {
namespace {

const QString kAlphabet =
    QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
// A fixed permutation of kAlphabet: kAlphabet[i] is written as kSubstitute[i].
const QString kSubstitute =
    QStringLiteral("UEYDBLgsheQn91Cu7wWr4JHIpxMPb0atVcoOivTARNZ5SGlXy3j8FKzmf2k6dq");

QString substitute(const QString &text, const QString &from, const QString &to)
{
    QString out = text;
    for (QChar &c : out) {
        const qsizetype i = from.indexOf(c);
        if (i >= 0)
            c = to.at(i);
    }
    return out;
}

QString twoDigits(qsizetype n)
{
    return QString::number(n % 100).rightJustified(2, QLatin1Char('0'));
}

} // namespace

QString Scramble(const QString &plain, int seconds)
{
    if (plain.isEmpty())
        return QString();
    // "%" is doubled so that it can never be taken for a marker.
    QString t = plain;
    t.replace(QLatin1Char('%'), QStringLiteral("%%"));

    // 1. The longest run of one character (not "%"), three or more long, is shortened.
    qsizetype bestStart = 0, bestLen = 0;
    for (qsizetype i = 0; i < t.size();) {
        qsizetype j = i;
        while (j < t.size() && t.at(j) == t.at(i))
            ++j;
        if (t.at(i) != QLatin1Char('%') && j - i > bestLen) {
            bestStart = i;
            bestLen = j - i;
        }
        i = j;
    }
    if (bestLen >= 3) {
        t = t.left(bestStart) + QLatin1Char('%') + t.at(bestStart) + twoDigits(bestLen) +
            t.mid(bestStart + bestLen);
    }

    // 2. Split marker at 1..4 characters, depending on the clock.
    const qsizetype r = qMin<qsizetype>(1 + (((seconds % 4) + 4) % 4), t.size());
    t = QString::number(t.size() - r) + t.left(r) + QLatin1Char('%') + t.mid(r);

    // 3. Length digits around the first character.
    const QString len = twoDigits(t.size());
    t = len.at(0) + t.left(1) + len.at(1) + t.mid(1);

    // 4. Substitution.
    return substitute(t, kAlphabet, kSubstitute);
}

QString Scramble(const QString &plain)
{
    return Scramble(plain, sw::now().time().second());
}

std::optional<QString> UnscrambleChecked(const QString &stored)
{
    if (stored.isEmpty())
        return QString();
    QString t = substitute(stored, kSubstitute, kAlphabet);
    if (t.size() < 3 || !t.at(0).isDigit() || !t.at(2).isDigit())
        return std::nullopt;
    const int len = (t.at(0).unicode() - '0') * 10 + (t.at(2).unicode() - '0');
    t = t.mid(1, 1) + t.mid(3);
    if (t.size() % 100 != len)
        return std::nullopt;

    // Split marker: count digits, then 1..4 characters, "%", then count characters.
    bool found = false;
    for (int d = 1; d <= 3 && !found; ++d) {
        for (int r = 1; r <= 4 && !found; ++r) {
            const qsizetype n = t.size() - d - r - 1;
            if (n < 0 || t.left(d) != QString::number(n) || t.at(d + r) != QLatin1Char('%'))
                continue;
            t = t.mid(d, r) + t.mid(d + r + 1);
            found = true;
        }
    }
    if (!found)
        return std::nullopt;

    // Run marker and doubled "%".
    QString out;
    for (qsizetype i = 0; i < t.size();) {
        if (t.at(i) != QLatin1Char('%')) {
            out += t.at(i++);
            continue;
        }
        if (i + 1 < t.size() && t.at(i + 1) == QLatin1Char('%')) {
            out += QLatin1Char('%');
            i += 2;
            continue;
        }
        if (i + 3 >= t.size() || !t.at(i + 2).isDigit() || !t.at(i + 3).isDigit())
            return std::nullopt;
        const int run = (t.at(i + 2).unicode() - '0') * 10 + (t.at(i + 3).unicode() - '0');
        out += QString(run, t.at(i + 1));
        i += 4;
    }
    return out;
}

QString Unscramble(const QString &stored)
{
    return UnscrambleChecked(stored).value_or(QString());
}

QString encodePassword(const QString &plain)
{
    QString out;
    for (const char b : plain.toUtf8()) {
        const auto u = quint8(b);
        // ASCII as its code without leading zeros; other characters as their UTF-8 bytes.
        out += QLatin1Char('%') + QString::number(u, 16).toUpper();
    }
    return out;
}

void loadCredentials(const SettingsStore &settings, AppValues &values)
{
    values.ownId = settings.get(QStringLiteral("Settings"), QStringLiteral("yuser"), QString());
    values.password =
        Unscramble(settings.get(QStringLiteral("Settings"), QStringLiteral("ypass"), QString()));
    values.encodedPassword = encodePassword(values.password);
}

} // namespace sw
