#include "core/files/profile_file.h"

#include "core/files/cp1251.h"
#include "core/files/profile_file_read.h"

#include <algorithm>

namespace qvoksb
{
namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool hasLineBreakOrNul(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool hasBlankEnd(std::string_view s)
{
    return !s.empty() && (isBlank(s.front()) || isBlank(s.back()));
}

bool isQuoted(std::string_view s)
{
    return s.size() >= 2 && s.front() == '"' && s.back() == '"';
}

// The lookup form of a name: every letter in upper case.
std::string folded(std::string_view name)
{
    std::string out(name);
    for (char &c : out)
        c = cp1251ToUpper(c);
    return out;
}

} // namespace

// --- names and values -------------------------------------------------------------------------

bool ProfileFile::isStorableSectionName(std::string_view section)
{
    return !section.empty() && !hasLineBreakOrNul(section) &&
           section.find(']') == std::string_view::npos && !hasBlankEnd(section);
}

bool ProfileFile::isStorableKey(std::string_view key)
{
    return !key.empty() && !hasLineBreakOrNul(key) && key.find('=') == std::string_view::npos &&
           key.front() != '[' && key.front() != ';' && key.front() != '#' && !hasBlankEnd(key);
}

bool ProfileFile::isStorableValue(std::string_view value)
{
    return value.size() <= maxValueLength && !hasLineBreakOrNul(value);
}

// --- reading ----------------------------------------------------------------------------------

std::optional<long long> parseInteger(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size())
        return std::nullopt;
    constexpr long long saturation = 1'000'000'000'000'000LL;
    long long v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        if (v < saturation)
            v = v * 10 + (c - '0');
    }
    return negative ? -v : v;
}

ProfileFile ProfileFile::parse(std::string_view bytes)
{
    ProfileFile profile;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);

    Section *current = nullptr; // null: entries here belong to no section and are skipped
    std::size_t pos = 0;
    int lineNumber = 0;
    while (pos < bytes.size()) {
        ++lineNumber;
        const std::size_t end = bytes.find_first_of("\r\n", pos);
        std::string_view line;
        if (end == std::string_view::npos) {
            line = bytes.substr(pos);
            pos = bytes.size();
        } else {
            line = bytes.substr(pos, end - pos);
            pos = end + 1;
            if (bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n')
                ++pos;
        }

        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        const bool binary = line.find('\0') != std::string_view::npos;
        // Only where it would count: a header, or an entry in a section.
        const bool counts =
            line.front() == '[' || (current && line.find('=') != std::string_view::npos);
        if (counts && profile.controlBytes_.size() < maxControlLines) {
            const auto control = std::find_if(line.begin(), line.end(), [](char c) {
                const auto b = static_cast<unsigned char>(c);
                return (b < 0x20 && b != '\t') || b == 0x7F;
            });
            if (control != line.end())
                profile.controlBytes_.push_back({lineNumber, static_cast<unsigned char>(*control)});
        }
        if (line.front() == '[') {
            current = nullptr;
            const std::size_t close = line.find(']');
            if (binary || close == std::string_view::npos)
                continue;
            const std::string_view name = trim(line.substr(1, close - 1));
            if (name.empty())
                continue;
            std::string key = folded(name);
            if (profile.sectionIndex_.count(key))
                continue; // a repeated section: the first one counts
            profile.sectionIndex_.emplace(std::move(key), profile.sections_.size());
            profile.sections_.push_back(Section{std::string(name), {}, {}});
            current = &profile.sections_.back();
            continue;
        }
        if (binary || !current)
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, eq));
        if (key.empty())
            continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (isQuoted(value))
            value = value.substr(1, value.size() - 2);
        addEntry(*current, key, value.substr(0, maxValueLength), lineNumber);
    }
    return profile;
}

void ProfileFile::addEntry(Section &section, std::string_view key, std::string_view value, int line)
{
    // try_emplace leaves an existing key alone: the first entry of a key counts.
    if (section.keyIndex.try_emplace(folded(key), section.entries.size()).second)
        section.entries.push_back(Entry{std::string(key), std::string(value), line});
}

int ProfileFile::lineOf(std::string_view section, std::string_view key) const
{
    const Section *s = findSection(section);
    const Entry *e = s ? findEntry(*s, key) : nullptr;
    return e ? e->line : 0;
}

// --- lookup -----------------------------------------------------------------------------------

const ProfileFile::Section *ProfileFile::findSection(std::string_view name) const
{
    const auto it = sectionIndex_.find(folded(name));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const ProfileFile::Entry *ProfileFile::findEntry(const Section &section, std::string_view key)
{
    const auto it = section.keyIndex.find(folded(key));
    return it == section.keyIndex.end() ? nullptr : &section.entries[it->second];
}

std::vector<std::string> ProfileFile::sectionNames() const
{
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section &s : sections_)
        names.push_back(s.name);
    return names;
}

std::vector<std::string> ProfileFile::keyNames(std::string_view section) const
{
    std::vector<std::string> names;
    if (const Section *s = findSection(section)) {
        names.reserve(s->entries.size());
        for (const Entry &e : s->entries)
            names.push_back(e.key);
    }
    return names;
}

bool ProfileFile::hasSection(std::string_view section) const
{
    return findSection(section) != nullptr;
}

std::optional<std::string> ProfileFile::value(std::string_view section, std::string_view key) const
{
    const Section *s = findSection(section);
    if (!s)
        return std::nullopt;
    const Entry *e = findEntry(*s, key);
    if (!e)
        return std::nullopt;
    return e->value;
}

std::string ProfileFile::valueOr(std::string_view section, std::string_view key,
                                 std::string_view fallback) const
{
    std::optional<std::string> v = value(section, key);
    return v ? std::move(*v) : std::string(fallback);
}

// --- changing ---------------------------------------------------------------------------------

ProfileFile::Section &ProfileFile::sectionFor(std::string_view name)
{
    const auto [it, added] = sectionIndex_.try_emplace(folded(name), sections_.size());
    if (added)
        sections_.push_back(Section{std::string(name), {}, {}});
    return sections_[it->second];
}

bool ProfileFile::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    if (!isStorableSectionName(section) || !isStorableKey(key) || !isStorableValue(value))
        return false;
    Section &s = sectionFor(section);
    const auto it = s.keyIndex.find(folded(key));
    if (it != s.keyIndex.end())
        s.entries[it->second].value = std::string(value); // the key keeps its place and spelling
    else
        addEntry(s, key, value);
    return true;
}

bool ProfileFile::eraseSection(std::string_view section)
{
    const auto it = sectionIndex_.find(folded(section));
    if (it == sectionIndex_.end())
        return false;
    const std::size_t index = it->second;
    sectionIndex_.erase(it);
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(index));
    for (auto &[name, i] : sectionIndex_) {
        if (i > index)
            --i;
    }
    return true;
}

// --- writing ----------------------------------------------------------------------------------

std::string ProfileFile::serialize() const
{
    std::string out;
    for (const Section &s : sections_) {
        out += '[';
        out += s.name;
        out += "]\r\n";
        for (const Entry &e : s.entries) {
            out += e.key;
            out += '=';
            // Reading trims blanks and removes one pair of quotes, so such a value goes in quotes.
            if (hasBlankEnd(e.value) || isQuoted(e.value)) {
                out += '"';
                out += e.value;
                out += '"';
            } else {
                out += e.value;
            }
            out += "\r\n";
        }
    }
    return out;
}

bool readProfileBytes(const std::string &path, std::uint64_t sizeHint,
                      const ProfileByteReader &readSome, std::string &bytes, std::string *error)
{
    constexpr std::size_t limit = ProfileFile::maxFileSize;
    const auto tooLarge = [&] {
        if (error)
            *error = "не удаётся прочитать " + path + ": файл больше " +
                     std::to_string(limit / (1024 * 1024)) + " МБ";
        return false;
    };
    if (sizeHint > limit)
        return tooLarge();
    bytes.assign(static_cast<std::size_t>(sizeHint) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > limit)
                break;
            bytes.resize(std::min(bytes.size() * 2, limit + 1));
        }
        const std::ptrdiff_t got = readSome(bytes.data() + used, bytes.size() - used);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    if (used > limit)
        return tooLarge();
    bytes.resize(used);
    return true;
}

bool ProfileFile::save(const std::string &path, std::string *error) const
{
    return saveFileAtomically(path, serialize(), error);
}

} // namespace qvoksb
