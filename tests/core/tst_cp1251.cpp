// Code page 1251: the conversion both ways and the letter case of Latin and Cyrillic letters.
#include "core/files/cp1251.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace qvoksb;

namespace
{

std::string byteString(unsigned b)
{
    return std::string(1, static_cast<char>(b));
}

// Upper and lower case letters of the code page, pair by pair, written in UTF-8.
const char *const lowerLetters = "abcdefghijklmnopqrstuvwxyz"
                                 "абвгдеёжзийклмнопрстуфхцчшщъыьэюя"
                                 "ђѓљњќћџўјґєїіѕ";
const char *const upperLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                 "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
                                 "ЂЃЉЊЌЋЏЎЈҐЄЇІЅ";

} // namespace

TEST(Cp1251Table, KnownBytesDecodeToTheirCharacters)
{
    // Bytes of the code page chart, the Cyrillic letters that sit apart from А-я among them.
    const struct {
        unsigned byte;
        const char *utf8;
    } chart[] = {
        {0x41, "A"}, {0xC0, "А"}, {0xDF, "Я"}, {0xE0, "а"}, {0xFF, "я"}, {0xA8, "Ё"},
        {0xB8, "ё"}, {0xA1, "Ў"}, {0xA2, "ў"}, {0xAA, "Є"}, {0xBA, "є"}, {0xAF, "Ї"},
        {0xBF, "ї"}, {0xB2, "І"}, {0xB3, "і"}, {0xA5, "Ґ"}, {0xB4, "ґ"}, {0xA3, "Ј"},
        {0xBC, "ј"}, {0x8A, "Љ"}, {0x9A, "љ"}, {0x80, "Ђ"}, {0x90, "ђ"}, {0x88, "€"},
        {0xB9, "№"}, {0x96, "–"}, {0x97, "—"}, {0xAB, "«"}, {0xBB, "»"}, {0xA0, "\u00A0"},
        {0x99, "™"}, {0x85, "…"}, {0xB5, "µ"}, {0xBD, "Ѕ"}, {0xBE, "ѕ"},
    };
    for (const auto &c : chart) {
        SCOPED_TRACE(c.byte);
        EXPECT_EQ(cp1251ToUtf8(byteString(c.byte)), c.utf8);
        bool lossless = false;
        EXPECT_EQ(cp1251FromUtf8(c.utf8, &lossless), byteString(c.byte));
        EXPECT_TRUE(lossless);
    }
}

TEST(Cp1251Table, EveryAssignedByteSurvivesTheRoundTrip)
{
    std::set<char32_t> seen;
    for (unsigned b = 0; b < 256; ++b) {
        if (b == 0x98)
            continue;
        SCOPED_TRACE(b);
        bool lossless = false;
        const std::string utf8 = cp1251ToUtf8(byteString(b), &lossless);
        EXPECT_TRUE(lossless);
        EXPECT_EQ(cp1251FromUtf8(utf8, &lossless), byteString(b));
        EXPECT_TRUE(lossless);
        EXPECT_TRUE(seen.insert(cp1251ToUnicode(static_cast<char>(b))).second);
    }
    // A whole string, NUL included, in one go.
    std::string all;
    for (unsigned b = 0; b < 256; ++b)
        if (b != 0x98)
            all += static_cast<char>(b);
    EXPECT_EQ(cp1251FromUtf8(cp1251ToUtf8(all)), all);
}

TEST(Cp1251Table, UnassignedByteIsNeverProducedAndReportsLoss)
{
    bool lossless = true;
    EXPECT_EQ(cp1251ToUtf8("a\x98z", &lossless), "a\uFFFDz");
    EXPECT_FALSE(lossless);
    char out = 'x';
    EXPECT_FALSE(cp1251FromUnicode(0xFFFD, &out));
    EXPECT_EQ(out, 'x');
    EXPECT_EQ(cp1251FromUtf8("\uFFFD", &lossless), "?");
    EXPECT_FALSE(lossless);
}

TEST(Cp1251FromUtf8, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    bool lossless = true;
    EXPECT_EQ(cp1251FromUtf8("Ток 中 A", &lossless), "\xD2\xEE\xEA ? A");
    EXPECT_FALSE(lossless);
    EXPECT_EQ(cp1251FromUtf8("\U0001F600x", &lossless), "?x"); // one mark for four bytes
    EXPECT_FALSE(lossless);
    EXPECT_EQ(cp1251FromUtf8("ä", &lossless), "?"); // Latin-1, but not in this code page
    EXPECT_FALSE(lossless);
    EXPECT_EQ(cp1251FromUtf8("", &lossless), "");
    EXPECT_TRUE(lossless);
}

TEST(Cp1251FromUtf8, IllFormedSequencesBecomeOneMarkPerMaximalPart)
{
    const struct {
        const char *input;
        const char *expected;
    } cases[] = {
        {"\x80", "?"},                // a lone continuation byte
        {"a\xD0", "a?"},              // a sequence cut off at the end
        {"\xE0\xA0", "?"},            // cut off after a valid second byte
        {"\xE2\x82z", "?z"},          // interrupted by an ASCII byte
        {"\xC0\xAF", "??"},           // overlong '/'
        {"\xE0\x80\xAF", "???"},      // overlong, three bytes
        {"\xED\xA0\x80", "???"},      // a surrogate
        {"\xF4\x90\x80\x80", "????"}, // above U+10FFFF
        {"\xF5\x80", "??"},           // a lead byte that never starts a character
        {"\xD0\x90\xFF\xD0\x91", "\xC0?\xC1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input);
        bool lossless = true;
        EXPECT_EQ(cp1251FromUtf8(c.input, &lossless), c.expected);
        EXPECT_FALSE(lossless);
    }
}

TEST(Cp1251Case, LettersMapToTheirPartners)
{
    const std::string lower = cp1251FromUtf8(lowerLetters);
    const std::string upper = cp1251FromUtf8(upperLetters);
    ASSERT_EQ(lower.size(), upper.size());
    for (std::size_t i = 0; i < lower.size(); ++i) {
        SCOPED_TRACE(cp1251ToUtf8(lower.substr(i, 1)));
        EXPECT_EQ(cp1251ToUpper(lower[i]), upper[i]);
        EXPECT_EQ(cp1251ToUpper(upper[i]), upper[i]);
        EXPECT_EQ(cp1251ToLower(upper[i]), lower[i]);
        EXPECT_EQ(cp1251ToLower(lower[i]), lower[i]);
    }
}

TEST(Cp1251Case, EveryOtherByteStaysAsItIs)
{
    const std::string lower = cp1251FromUtf8(lowerLetters);
    const std::string upper = cp1251FromUtf8(upperLetters);
    for (unsigned b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        if (lower.find(c) != std::string::npos || upper.find(c) != std::string::npos)
            continue;
        SCOPED_TRACE(b);
        EXPECT_EQ(cp1251ToUpper(c), c);
        EXPECT_EQ(cp1251ToLower(c), c);
    }
}

TEST(Cp1251Case, EqualNoCase)
{
    const std::string key = cp1251FromUtf8("Частота сети");
    EXPECT_TRUE(cp1251EqualNoCase(key, cp1251FromUtf8("ЧАСТОТА СЕТИ")));
    EXPECT_TRUE(cp1251EqualNoCase(key, cp1251FromUtf8("чАСТОТА сЕТИ")));
    EXPECT_TRUE(cp1251EqualNoCase(cp1251FromUtf8("Ёлка Ґ Ї"), cp1251FromUtf8("ёЛКА ґ ї")));
    EXPECT_TRUE(cp1251EqualNoCase("FormVersion", "FORMVERSION"));
    EXPECT_TRUE(cp1251EqualNoCase("", ""));

    EXPECT_FALSE(cp1251EqualNoCase(key, cp1251FromUtf8("Частота сет")));
    EXPECT_FALSE(cp1251EqualNoCase(cp1251FromUtf8("Ё"), cp1251FromUtf8("е")));
    // The Latin X of the relay-mode keys is not the Cyrillic Х.
    EXPECT_FALSE(cp1251EqualNoCase(cp1251FromUtf8("ВЫX1"), cp1251FromUtf8("ВЫХ1")));
    EXPECT_FALSE(cp1251EqualNoCase(cp1251FromUtf8("ВЫx1"), cp1251FromUtf8("ВЫх1")));
    // Outside А-я the case partners are not 0x20 apart: µ (B5) is no partner of the bullet (95),
    // nor ё (B8) of the unassigned byte 98.
    EXPECT_FALSE(cp1251EqualNoCase("\xB5", "\x95"));
    EXPECT_FALSE(cp1251EqualNoCase("\xB8", "\x98"));
    EXPECT_FALSE(cp1251EqualNoCase(std::string("a\0b", 3), std::string("a\0c", 3)));
}
