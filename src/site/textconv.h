#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>

namespace sw {

// Byte-level conversions between EUC-JP, ISO-2022-JP (JIS) and Shift_JIS, with the
// folding of half-width katakana into full-width katakana that every page parser relies
// on. Each works on exactly the bytes it is given: malformed or truncated input is
// passed through as well as possible and never read past its end.
using Bytes = std::span<const std::uint8_t>;

QByteArray EucFoldKana(Bytes in);
QByteArray EucToJis(Bytes in, bool keepHalfWidth);
QByteArray JisToSjis(Bytes in);
QByteArray NormalizeNewlines(Bytes in);
QByteArray SjisFoldKana(Bytes in);
QByteArray SjisToJis(Bytes in, bool keepHalfWidth);
QByteArray JisToEuc(Bytes in);

inline Bytes bytesOf(const QByteArray &a)
{
    return {reinterpret_cast<const std::uint8_t *>(a.constData()), std::size_t(a.size())};
}
inline QByteArray EucFoldKana(const QByteArray &in)
{
    return EucFoldKana(bytesOf(in));
}
inline QByteArray EucToJis(const QByteArray &in, bool keep)
{
    return EucToJis(bytesOf(in), keep);
}
inline QByteArray JisToSjis(const QByteArray &in)
{
    return JisToSjis(bytesOf(in));
}
inline QByteArray NormalizeNewlines(const QByteArray &in)
{
    return NormalizeNewlines(bytesOf(in));
}
inline QByteArray SjisFoldKana(const QByteArray &in)
{
    return SjisFoldKana(bytesOf(in));
}
inline QByteArray SjisToJis(const QByteArray &in, bool keep)
{
    return SjisToJis(bytesOf(in), keep);
}
inline QByteArray JisToEuc(const QByteArray &in)
{
    return JisToEuc(bytesOf(in));
}

// The folding as text, for pages that arrive in another encoding (UTF-8): every half-width
// katakana becomes full width, merged with a following voiced or semi-voiced mark.
QString FoldKanaText(const QString &in);

// A page's bytes as text: in the charset its answer's Content-Type names, else the one its
// <meta> names, else EUC-JP (the site's classic pages). Half-width katakana come out full
// width whatever the charset: folded on the bytes of an EUC-JP page, on the text of others.
QString decodePage(const QByteArray &body, const QByteArray &contentType, bool convertNewlines);
// The charset a page declares ("UTF-8", "EUC-JP", …), empty when it declares none.
QByteArray declaredCharset(const QByteArray &body, const QByteArray &contentType);

// The JIS X 0208 code (row and cell, 0x2121..0x7E7E) of the full-width equivalent of
// the half-width katakana byte k (0xA1..0xDF).
std::uint16_t fullWidthOf(std::uint8_t k);

} // namespace sw
