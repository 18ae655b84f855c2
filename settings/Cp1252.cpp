#include "settings/Cp1252.h"

#include <QString>

#include <algorithm>
#include <array>
#include <iterator>

namespace {

// The characters that the code page puts at 0x80 to 0x9F; the rest of its
// upper half is Latin-1's.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t fromByte(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t(byte);
}

// The byte for `c`, or '?' when the code page lacks it.
char toByte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    const auto *found = std::find(std::begin(kHigh), std::end(kHigh), c);
    return found != std::end(kHigh) ? char(0x80 + (found - std::begin(kHigh))) : '?';
}

} // namespace

QByteArray toCp1252(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(int(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // No character past U+FFFF is in the code page: one "?" for the pair.
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        bytes += c.isSurrogate() ? '?' : toByte(c.unicode());
    }
    return bytes;
}

QByteArray toUpperCp1252(QByteArray text)
{
    // Unicode's capitals, kept where the code page has them.
    static const std::array<char, 256> upper = [] {
        std::array<char, 256> table{};
        for (int byte = 0; byte < 256; ++byte) {
            const char16_t capital = QChar(fromByte((unsigned char)byte)).toUpper().unicode();
            const char mapped = toByte(capital);
            table[byte] = mapped == '?' && capital != u'?' ? char(byte) : mapped;
        }
        return table;
    }();
    for (char &c : text)
        c = upper[(unsigned char)c];
    return text;
}
