#pragma once

#include <QByteArray>

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

// The JIS X 0208 code (row and cell, 0x2121..0x7E7E) of the full-width equivalent of
// the half-width katakana byte k (0xA1..0xDF).
std::uint16_t fullWidthOf(std::uint8_t k);

} // namespace sw
