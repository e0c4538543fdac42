#include "textconv.h"

#include <QRegularExpression>
#include <QStringDecoder>

namespace sw {
namespace {

constexpr std::uint8_t ESC = 0x1B;

// Full-width equivalents of the half-width katakana 0xA1..0xDF as JIS X 0208 codes.
constexpr std::uint16_t kFullWidth[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, 0x2525, 0x2527, 0x2529,
    0x2563, 0x2565, 0x2567, 0x2543, 0x213C, 0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B,
    0x252D, 0x252F, 0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, 0x2541,
    0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, 0x254E, 0x254F, 0x2552, 0x2555,
    0x2558, 0x255B, 0x255E, 0x255F, 0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569,
    0x256A, 0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C};

constexpr std::uint8_t kVoicedMark = 0xDE;
constexpr std::uint8_t kSemiVoicedMark = 0xDF;
constexpr std::uint16_t kVu = 0x2574; // ヴ

bool isHalfKana(std::uint8_t b)
{
    return b >= 0xA1 && b <= 0xDF;
}
bool isVoiceable(std::uint8_t k)
{
    return (k >= 0xB6 && k <= 0xC4) || (k >= 0xCA && k <= 0xCE);
}
bool isSemiVoiceable(std::uint8_t k)
{
    return k >= 0xCA && k <= 0xCE;
}
bool isSjisLead(std::uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

void putEuc(QByteArray &out, std::uint16_t jis)
{
    out.append(char((jis >> 8) | 0x80));
    out.append(char((jis & 0xFF) | 0x80));
}

void putSjis(QByteArray &out, std::uint8_t j1, std::uint8_t j2)
{
    const std::uint8_t s1 = std::uint8_t(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    std::uint8_t s2;
    if (j1 & 1)
        s2 = std::uint8_t(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
    else
        s2 = std::uint8_t(j2 + 0x7E);
    out.append(char(s1));
    out.append(char(s2));
}

void putSjis(QByteArray &out, std::uint16_t jis)
{
    putSjis(out, jis >> 8, jis & 0xFF);
}

// Shift_JIS lead and trail byte to JIS X 0208 row and cell.
std::uint16_t sjisToJisCode(std::uint8_t s1, std::uint8_t s2)
{
    int row = (s1 < 0xA0 ? s1 - 0x70 : s1 - 0xB0) * 2;
    int j1, j2;
    if (s2 < 0x9F) {
        j1 = row - 1;
        j2 = s2 - (s2 >= 0x80 ? 0x20 : 0x1F);
    } else {
        j1 = row;
        j2 = s2 - 0x7E;
    }
    return std::uint16_t(((j1 & 0xFF) << 8) | (j2 & 0xFF));
}

void put(QByteArray &out, std::initializer_list<std::uint8_t> bytes)
{
    for (std::uint8_t b : bytes)
        out.append(char(b));
}

bool startsWith(Bytes in, std::size_t i, std::initializer_list<std::uint8_t> seq)
{
    if (in.size() - i < seq.size())
        return false;
    std::size_t k = i;
    for (std::uint8_t b : seq) {
        if (in[k++] != b)
            return false;
    }
    return true;
}

// Length of a switch-to-double-byte escape at i, or 0.
std::size_t toDoubleEscape(Bytes in, std::size_t i)
{
    if (startsWith(in, i, {ESC, '$', 'B'}) || startsWith(in, i, {ESC, '$', '@'}))
        return 3;
    if (startsWith(in, i, {ESC, '$', '(', 'B'}))
        return 4;
    if (startsWith(in, i, {ESC, 'K'}))
        return 2;
    return 0;
}

// Length of a switch-back-to-single-byte escape at i, or 0.
std::size_t toSingleEscape(Bytes in, std::size_t i)
{
    if (startsWith(in, i, {ESC, '(', 'B'}) || startsWith(in, i, {ESC, '(', 'J'}))
        return 3;
    if (startsWith(in, i, {ESC, 'H'}))
        return 2;
    return 0;
}

// The escape walk shared by JisToSjis and JisToEuc: calls pair() for each double-byte
// code and single() for each single byte.
template <typename Pair, typename Single> void walkJis(Bytes in, Pair pair, Single single)
{
    bool dbl = false;
    std::size_t i = 0;
    while (i < in.size()) {
        if (dbl) {
            if (const std::size_t n = toSingleEscape(in, i)) {
                i += n;
                dbl = false;
                continue;
            }
            i += toDoubleEscape(in, i);
            if (i >= in.size())
                break;
            if (in.size() - i < 2) { // a lone byte at the end: keep it as it is
                single(in[i]);
                ++i;
                break;
            }
            pair(in[i], in[i + 1]);
            i += 2;
        } else {
            if (const std::size_t n = toDoubleEscape(in, i)) {
                i += n;
                dbl = true;
                continue;
            }
            i += toSingleEscape(in, i);
            if (i >= in.size())
                break;
            single(in[i]);
            ++i;
        }
    }
}

} // namespace

std::uint16_t fullWidthOf(std::uint8_t k)
{
    return isHalfKana(k) ? kFullWidth[k - 0xA1] : 0;
}

QByteArray EucFoldKana(Bytes in)
{
    QByteArray out;
    out.reserve(qsizetype(in.size()));
    std::size_t i = 0;
    while (i < in.size()) {
        const std::uint8_t b = in[i];
        if (b != 0x8E || i + 1 >= in.size() || !isHalfKana(in[i + 1])) {
            out.append(char(b));
            ++i;
            continue;
        }
        const std::uint8_t k = in[i + 1];
        const bool markFollows = i + 3 < in.size() && in[i + 2] == 0x8E;
        const std::uint8_t mark = markFollows ? in[i + 3] : 0;
        if (isVoiceable(k) && mark == kVoicedMark) {
            putEuc(out, std::uint16_t(fullWidthOf(k) + 1));
            i += 4;
        } else if (isSemiVoiceable(k) && mark == kSemiVoicedMark) {
            putEuc(out, std::uint16_t(fullWidthOf(k) + 2));
            i += 4;
        } else {
            putEuc(out, fullWidthOf(k));
            i += 2;
        }
    }
    return out;
}

QByteArray EucToJis(Bytes input, bool keepHalfWidth)
{
    QByteArray folded;
    Bytes in = input;
    if (!keepHalfWidth) {
        folded = EucFoldKana(input);
        in = bytesOf(folded);
    }
    const std::uint8_t back = keepHalfWidth ? 'J' : 'B';
    QByteArray out;
    out.reserve(qsizetype(in.size() + in.size() / 2));
    bool dbl = false;
    std::size_t i = 0;
    while (i < in.size()) {
        const std::uint8_t b = in[i];
        if (b >= 0xA1 && b <= 0xFE) {
            if (!dbl) {
                put(out, {ESC, '$', 'B'});
                dbl = true;
            }
            out.append(char(b & 0x7F));
            if (i + 1 < in.size())
                out.append(char(in[i + 1] & 0x7F));
            i += 2;
            continue;
        }
        if (dbl) {
            put(out, {ESC, '(', back});
            dbl = false;
        }
        if (b == 0x8E) {
            if (i + 1 < in.size())
                out.append(char(in[i + 1]));
            i += 2;
            continue;
        }
        out.append(char(b));
        ++i;
    }
    return out;
}

QByteArray JisToSjis(Bytes in)
{
    QByteArray out;
    out.reserve(qsizetype(in.size()));
    walkJis(
        in, [&](std::uint8_t j1, std::uint8_t j2) { putSjis(out, j1, j2); },
        [&](std::uint8_t b) { out.append(char(b)); });
    return out;
}

QByteArray JisToEuc(Bytes in)
{
    QByteArray out;
    out.reserve(qsizetype(in.size()));
    walkJis(
        in,
        [&](std::uint8_t j1, std::uint8_t j2) {
            out.append(char(j1 | 0x80));
            out.append(char(j2 | 0x80));
        },
        [&](std::uint8_t b) {
            if (b >= 0xA0 && b <= 0xDF)
                out.append(char(0x8E));
            out.append(char(b));
        });
    return out;
}

QByteArray NormalizeNewlines(Bytes in)
{
    QByteArray out;
    out.reserve(qsizetype(in.size() + in.size() / 8));
    std::size_t i = 0;
    while (i < in.size()) {
        const std::uint8_t b = in[i];
        if (b == '\r' || b == '\n') {
            put(out, {'\r', '\n'});
            i += (b == '\r' && i + 1 < in.size() && in[i + 1] == '\n') ? 2 : 1;
            continue;
        }
        out.append(char(b));
        ++i;
    }
    return out;
}

QByteArray SjisFoldKana(Bytes in)
{
    QByteArray out;
    out.reserve(qsizetype(in.size() * 2));
    std::size_t i = 0;
    while (i < in.size()) {
        const std::uint8_t b = in[i];
        if (isSjisLead(b)) {
            out.append(char(b));
            if (i + 1 < in.size())
                out.append(char(in[i + 1]));
            i += 2;
            continue;
        }
        if (!isHalfKana(b)) {
            out.append(char(b));
            ++i;
            continue;
        }
        const std::uint8_t mark = i + 1 < in.size() ? in[i + 1] : 0;
        const std::uint16_t full = fullWidthOf(b);
        if (mark == kVoicedMark && b != kVoicedMark && b != kSemiVoicedMark) {
            if (b == 0xB3) // ｳﾞ
                putSjis(out, kVu);
            else if (isVoiceable(b))
                putSjis(out, std::uint16_t(full + 1));
            else {
                putSjis(out, full);
                putSjis(out, fullWidthOf(kVoicedMark));
            }
            i += 2;
        } else if (mark == kSemiVoicedMark && b != kVoicedMark && b != kSemiVoicedMark) {
            if (isSemiVoiceable(b))
                putSjis(out, std::uint16_t(full + 2));
            else {
                putSjis(out, full);
                putSjis(out, fullWidthOf(kSemiVoicedMark));
            }
            i += 2;
        } else {
            putSjis(out, full);
            ++i;
        }
    }
    return out;
}

QByteArray SjisToJis(Bytes input, bool keepHalfWidth)
{
    QByteArray folded;
    Bytes in = input;
    if (!keepHalfWidth) {
        folded = SjisFoldKana(input);
        in = bytesOf(folded);
    }
    const std::uint8_t back = keepHalfWidth ? 'J' : 'B';
    QByteArray out;
    out.reserve(qsizetype(in.size() + in.size() / 2));
    bool dbl = false;
    std::size_t i = 0;
    while (i < in.size()) {
        const std::uint8_t b = in[i];
        if (isSjisLead(b) && i + 1 < in.size()) {
            if (!dbl) {
                put(out, {ESC, '$', 'B'});
                dbl = true;
            }
            const std::uint16_t jis = sjisToJisCode(b, in[i + 1]);
            out.append(char(jis >> 8));
            out.append(char(jis & 0xFF));
            i += 2;
            continue;
        }
        if (dbl) {
            put(out, {ESC, '(', back});
            dbl = false;
        }
        out.append(char(b));
        ++i;
    }
    return out;
}

} // namespace sw

namespace sw {

QString FoldKanaText(const QString &in)
{
    // The same correspondence as the byte-level folding, as characters: each half-width
    // katakana (U+FF61..U+FF9F) becomes its JIS X 0208 full-width equivalent, a voiceable
    // one followed by ﾞ or ﾟ the voiced or semi-voiced one (and ｳﾞ becomes ヴ).
    struct Table
    {
        QChar full[63];
        Table()
        {
            QStringDecoder euc("EUC-JP");
            for (int k = 0; k < 63; ++k) {
                const std::uint16_t jis = kFullWidth[k];
                const char bytes[2] = {char((jis >> 8) | 0x80), char((jis & 0xFF) | 0x80)};
                const QString s = euc.decode(QByteArrayView(bytes, 2));
                full[k] = s.size() == 1 ? s.at(0) : QChar(0xFFFD);
            }
        }
    };
    static const Table table;
    qsizetype i = 0;
    const qsizetype n = in.size();
    while (i < n && (in.at(i).unicode() < 0xFF61 || in.at(i).unicode() > 0xFF9F))
        ++i;
    if (i == n)
        return in;
    QString out = in.left(i);
    out.reserve(n);
    while (i < n) {
        const char16_t c = in.at(i).unicode();
        if (c < 0xFF61 || c > 0xFF9F) {
            out += QChar(c);
            ++i;
            continue;
        }
        const std::uint8_t k = std::uint8_t(c - 0xFF61 + 0xA1);
        const QChar full = table.full[k - 0xA1];
        const char16_t mark = i + 1 < n ? in.at(i + 1).unicode() : 0;
        if (mark == 0xFF9E && k == 0xB3) { // ｳﾞ
            out += QChar(0x30F4);
            i += 2;
        } else if (mark == 0xFF9E && isVoiceable(k)) {
            out += QChar(char16_t(full.unicode() + 1));
            i += 2;
        } else if (mark == 0xFF9F && isSemiVoiceable(k)) {
            out += QChar(char16_t(full.unicode() + 2));
            i += 2;
        } else {
            out += full;
            ++i;
        }
    }
    return out;
}

QByteArray declaredCharset(const QByteArray &body, const QByteArray &contentType)
{
    static const QRegularExpression charset(
        QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9_.:\\-]{1,40})"),
        QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = charset.match(QString::fromLatin1(contentType));
        m.hasMatch())
        return m.captured(1).toLatin1();
    // A page may say it in its head only: <meta charset="utf-8"> or the http-equiv form.
    const QString head = QString::fromLatin1(body.left(4096));
    static const QRegularExpression meta(QStringLiteral("<meta\\b[^>]*>"),
                                         QRegularExpression::CaseInsensitiveOption);
    for (auto it = meta.globalMatch(head); it.hasNext();) {
        if (const QRegularExpressionMatch m = charset.match(it.next().captured(0)); m.hasMatch())
            return m.captured(1).toLatin1();
    }
    return {};
}

QString decodePage(const QByteArray &body, const QByteArray &contentType, bool convertNewlines)
{
    const QByteArray declared = declaredCharset(body, contentType).toLower();
    if (declared.isEmpty() || declared == "euc-jp" || declared == "x-euc-jp" ||
        declared == "eucjp") {
        QByteArray bytes = EucFoldKana(body);
        if (convertNewlines)
            bytes = NormalizeNewlines(bytes);
        QStringDecoder decoder("EUC-JP");
        return decoder.decode(bytes);
    }
    QByteArray name = declared;
    if (name == "utf8")
        name = "utf-8";
    else if (name == "sjis" || name == "x-sjis" || name == "windows-31j" || name == "cp932" ||
             name == "ms_kanji")
        name = "Shift_JIS";
    QStringDecoder decoder(name.constData());
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8); // a name nobody knows: the web's own
    QString text = FoldKanaText(decoder.decode(body));
    if (convertNewlines) {
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    }
    return text;
}

} // namespace sw
