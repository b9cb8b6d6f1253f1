#include "core/files/cp1251.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace qvoksb
{
namespace
{

constexpr char32_t replacementChar = 0xFFFD;

// 0x80 to 0xBF of the code page; 0xC0-0xFF are А-я in alphabetical order (U+0410-U+044F), and
// Ё/ё sit apart at 0xA8/0xB8.
constexpr std::array<char16_t, 64> punctuationAndLetters = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 0x98 (0x98 unassigned)
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // 0xB8
};

constexpr char32_t unicodeOf(unsigned byte)
{
    if (byte < 0x80)
        return byte;
    if (byte >= 0xC0)
        return 0x0410 + (byte - 0xC0);
    return punctuationAndLetters[byte - 0x80];
}

struct Mapping {
    char16_t unicode;
    unsigned char byte;
};

// The upper half sorted by code point, for encoding; the unassigned byte is left out.
constexpr std::array<Mapping, 127> encodeTable = [] {
    std::array<Mapping, 127> table{};
    std::size_t n = 0;
    for (unsigned b = 0x80; b < 0x100; ++b) {
        if (unicodeOf(b) != replacementChar)
            table[n++] = {char16_t(unicodeOf(b)), static_cast<unsigned char>(b)};
    }
    std::sort(table.begin(), table.end(),
              [](const Mapping &x, const Mapping &y) { return x.unicode < y.unicode; });
    return table;
}();

constexpr int byteOf(char32_t cp)
{
    if (cp < 0x80)
        return int(cp);
    if (cp > 0xFFFF)
        return -1;
    const auto *it = std::lower_bound(
        encodeTable.begin(), encodeTable.end(), cp,
        [](const Mapping &m, char32_t value) { return char32_t(m.unicode) < value; });
    return it != encodeTable.end() && it->unicode == cp ? it->byte : -1;
}

// Unicode case pairs of the Cyrillic block: Ѐ-Џ/ѐ-џ are 0x50 apart, А-Я/а-я 0x20, Ґ/ґ adjacent.
constexpr char32_t unicodeUpper(char32_t cp)
{
    if (cp >= 'a' && cp <= 'z')
        return cp - 0x20;
    if (cp >= 0x0430 && cp <= 0x044F)
        return cp - 0x20;
    if (cp >= 0x0450 && cp <= 0x045F)
        return cp - 0x50;
    if (cp == 0x0491)
        return 0x0490;
    return cp;
}

constexpr char32_t unicodeLower(char32_t cp)
{
    if (cp >= 'A' && cp <= 'Z')
        return cp + 0x20;
    if (cp >= 0x0410 && cp <= 0x042F)
        return cp + 0x20;
    if (cp >= 0x0400 && cp <= 0x040F)
        return cp + 0x50;
    if (cp == 0x0490)
        return 0x0491;
    return cp;
}

// A byte maps to the byte of its case partner when the code page holds the partner.
template <typename CaseMap> constexpr std::array<unsigned char, 256> caseTable(CaseMap map)
{
    std::array<unsigned char, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        const int partner = byteOf(map(unicodeOf(b)));
        table[b] = static_cast<unsigned char>(partner >= 0 ? partner : int(b));
    }
    return table;
}

constexpr auto upperTable = caseTable(unicodeUpper);
constexpr auto lowerTable = caseTable(unicodeLower);

static_assert(byteOf(0x0410) == 0xC0 && byteOf(0x044F) == 0xFF && byteOf(0x0401) == 0xA8);
static_assert(upperTable[0xE0] == 0xC0 && upperTable[0xB8] == 0xA8 && upperTable[0xBC] == 0xA3);
static_assert(upperTable[0x90] == 0x80 && upperTable[0xB5] == 0xB5 && upperTable['x'] == 'X');
static_assert(lowerTable[0xA8] == 0xB8 && lowerTable[0xB2] == 0xB3);

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        // Every character of the code page lies in the Basic Multilingual Plane.
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Decodes one well-formed UTF-8 character at s[i]. Returns the number of bytes it takes, or, for
// an ill-formed sequence, minus the length of its maximal ill-formed subpart (at least one byte):
// overlong forms, surrogates, code points above U+10FFFF and cut-off sequences are ill-formed.
int decodeUtf8(std::string_view s, std::size_t i, char32_t *cp)
{
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    if (lead < 0xC2 || lead > 0xF4)
        return -1; // a continuation byte, an overlong two-byte lead, or beyond U+10FFFF
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    *cp = lead & (0x7F >> length);
    // The allowed range of the second byte: E0 and F0 would start overlong forms below it, ED
    // surrogates and F4 code points above U+10FFFF beyond it.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (int k = 1; k < length; ++k) {
        if (i + k >= s.size())
            return -k;
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (c < low || c > high)
            return -k;
        low = 0x80;
        high = 0xBF;
        *cp = (*cp << 6) | (c & 0x3F);
    }
    return length;
}

} // namespace

char32_t cp1251ToUnicode(char c)
{
    return unicodeOf(static_cast<unsigned char>(c));
}

bool cp1251FromUnicode(char32_t cp, char *out)
{
    const int b = byteOf(cp);
    if (b < 0)
        return false;
    *out = static_cast<char>(b);
    return true;
}

std::size_t utf8CharLength(std::string_view text, std::size_t at)
{
    char32_t cp = 0;
    const int n = decodeUtf8(text, at, &cp);
    return n > 0 ? std::size_t(n) : 0;
}

std::string cp1251FromUtf8(std::string_view utf8, bool *lossless)
{
    std::string out;
    out.reserve(utf8.size());
    bool exact = true;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const int n = decodeUtf8(utf8, i, &cp);
        char b;
        if (n > 0 && cp1251FromUnicode(cp, &b)) {
            out += b;
        } else {
            out += '?';
            exact = false;
        }
        i += static_cast<std::size_t>(n > 0 ? n : -n);
    }
    if (lossless)
        *lossless = exact;
    return out;
}

std::string cp1251ToUtf8(std::string_view cp1251, bool *lossless)
{
    std::string out;
    out.reserve(cp1251.size() * 2);
    bool exact = true;
    for (char c : cp1251) {
        const char32_t cp = cp1251ToUnicode(c);
        exact = exact && cp != replacementChar;
        appendUtf8(out, cp);
    }
    if (lossless)
        *lossless = exact;
    return out;
}

char cp1251ToUpper(char c)
{
    return static_cast<char>(upperTable[static_cast<unsigned char>(c)]);
}

char cp1251ToLower(char c)
{
    return static_cast<char>(lowerTable[static_cast<unsigned char>(c)]);
}

bool cp1251EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return upperTable[static_cast<unsigned char>(x)] ==
                      upperTable[static_cast<unsigned char>(y)];
           });
}

} // namespace qvoksb
