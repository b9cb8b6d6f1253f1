// Profile-file reader on arbitrary bytes: whatever it makes of them must be storable, must write
// out and read back as the same sections, keys and values, and must write out the same again.
#include "core/files/cp1251.h"
#include "core/files/profile_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace
{

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_profile: %s\n", what);
        std::abort();
    }
}

// Text of the code page survives a trip through UTF-8, all but the unassigned byte, which comes
// back as '?' and is reported.
void checkText(const std::string &text)
{
    bool lossless = false;
    const std::string back = qvoksb::cp1251FromUtf8(qvoksb::cp1251ToUtf8(text, &lossless));
    std::string expected = text;
    for (char &c : expected)
        if (c == '\x98')
            c = '?';
    check(back == expected, "code page text changed on its way through UTF-8");
    check(lossless == (text.find('\x98') == std::string::npos), "loss of 0x98 misreported");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using qvoksb::ProfileFile;
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const ProfileFile first = ProfileFile::parse(bytes);
    const std::string text = first.serialize();
    const ProfileFile second = ProfileFile::parse(text);

    const auto sections = first.sectionNames();
    check(second.sectionNames() == sections, "sections differ after writing and reading");
    for (const std::string &s : sections) {
        check(ProfileFile::isStorableSectionName(s), "section name that cannot be written");
        check(first.hasSection(s) && second.hasSection(s), "listed section not found");
        const auto keys = first.keyNames(s);
        check(second.keyNames(s) == keys, "keys differ after writing and reading");
        for (const std::string &k : keys) {
            check(ProfileFile::isStorableKey(k), "key that cannot be written");
            const auto v = first.value(s, k);
            check(v.has_value(), "listed key not found");
            check(ProfileFile::isStorableValue(*v), "value that cannot be written");
            check(second.value(s, k) == v, "value differs after writing and reading");
            checkText(*v);
        }
        checkText(s);
    }
    check(second.serialize() == text, "second writing differs from the first");

    // Setting every value again through the checked path changes nothing.
    ProfileFile copy = second;
    for (const std::string &s : sections)
        for (const std::string &k : copy.keyNames(s))
            check(copy.setValue(s, k, *copy.value(s, k)), "stored value refused");
    check(copy.serialize() == text, "rewriting the values changed the text");
    return 0;
}
