#pragma once
// Windows code page 1251, the single-byte Cyrillic code page of the unit's configuration files,
// of the profile file and of every text the program shows.
//
// All 256 byte values decode: 0x00-0x7F are ASCII, 0x80-0xFF Cyrillic letters and punctuation.
// 0x98 is the one byte the code page leaves unassigned; it decodes to U+FFFD and is never produced
// by the encoder. Upper and lower case are the Cyrillic pairs the code page holds (А-Я/а-я, Ё/ё,
// Ђ/ђ, Ѓ/ѓ, Љ/љ, Њ/њ, Ќ/ќ, Ћ/ћ, Џ/џ, Ў/ў, Ј/ј, Ґ/ґ, Є/є, Ї/ї, І/і, Ѕ/ѕ) and the Latin letters.
#include <string>
#include <string_view>

namespace qvoksb
{

// Unicode scalar value of a cp1251 byte (U+FFFD for the unassigned 0x98).
char32_t cp1251ToUnicode(char c);
// cp1251 byte for a Unicode scalar value; false when the code page has no such character.
bool cp1251FromUnicode(char32_t cp, char *out);

// Unmappable characters and ill-formed UTF-8 become '?' (one per character or per maximal
// ill-formed subsequence), and *lossless, when given, tells whether that happened.
std::string cp1251FromUtf8(std::string_view utf8, bool *lossless = nullptr);
// The unassigned byte 0x98 becomes U+FFFD, and *lossless, when given, is then false.
std::string cp1251ToUtf8(std::string_view cp1251, bool *lossless = nullptr);

// The length of the well-formed UTF-8 character at text[at], 0 when a byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8CharLength(std::string_view text, std::size_t at);

char cp1251ToUpper(char c);
char cp1251ToLower(char c);
bool cp1251EqualNoCase(std::string_view a, std::string_view b);

} // namespace qvoksb
