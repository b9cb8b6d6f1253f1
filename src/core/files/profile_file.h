#pragma once
// An INI-style profile file held in memory: the configuration files and QvoKsb.ini.
//
// Every string is cp1251 bytes; names are compared with cp1251EqualNoCase, so "ВИД МТЗ" and
// "вид мтз" are the same key, while a Latin X and a Cyrillic Х are different letters.
//
// Reading:
//  - Lines end in LF, CR LF or a lone CR; the last line needs no line end. A UTF-8 byte order
//    mark at the very start is skipped.
//  - Spaces and tabs around a line, a name or a value do not count.
//  - A line starting with ';' or '#' is a comment; a blank line and a line without '=' are ignored.
//  - "[name]" starts a section; anything after the first ']' is ignored.
//  - "key=value" is split at the first '='; an entry with an empty key is ignored. One pair of
//    enclosing double quotes is removed from the value, and the value is then cut to
//    maxValueLength bytes, as the platform's profile reader cuts it.
//  - Entries belong to no section, and are ignored, before the first section header, after a
//    header that is broken (no ']', an empty name) and after a header that repeats an earlier
//    name in any letter case: as with the platform's profile functions, the first section of a
//    name is the one that counts. Within a section the first entry of a key counts and later
//    entries of the same key are dropped. The profile holds each name once, in the order of first
//    appearance.
//  - A line holding a NUL byte is not text and is skipped (a broken header when it starts with
//    '['), so that nothing read holds a byte that setValue would refuse.
//  - Parsing takes time linear in the size of the file.
//
// Writing: "[section]\r\nkey=value\r\n" with no spaces around '=' and no blank lines; comments
// and repeated names of the file that was read are not kept. A value that would not read back
// as itself (leading or trailing blanks, or enclosing double quotes of its own) is written in
// double quotes, so serialize() always parses back to the same sections, keys and values.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qvoksb
{

// A number as profile files hold it: an optionally signed decimal integer, nothing else (the
// reader has already removed blanks around a value). Numbers too long for any setting saturate:
// they are still numbers, and every setting clamps or rejects them as out of range.
std::optional<long long> parseInteger(std::string_view text);

// Writes `bytes` as the file `path`, atomically, as ProfileFile::save describes: a temporary file
// beside the target, synced and renamed over it; on any failure the old file stays whole, nothing
// is left behind and *error says why, in Russian.
bool saveFileAtomically(const std::string &path, std::string_view bytes, std::string *error = nullptr);

// Why a file could not be saved as path, in Russian, or empty when it can: the folder must exist
// and take a new file (tried with one, removed at once), and an existing path must be a file that
// may be replaced. Nothing is left behind.
std::string fileWriteProblem(const std::string &path);

class ProfileFile
{
public:
    static constexpr std::size_t maxValueLength = 2047;         // longer values are cut when read
    static constexpr std::size_t maxFileSize = 4 * 1024 * 1024; // load() refuses larger files

    static ProfileFile parse(std::string_view bytes);

    // Reads a whole file and replaces this profile with it. A missing file (or a path through a
    // missing folder) gives an empty profile and returns true. A path that exists but cannot be
    // read (a directory, a device, a pipe, no permission) or a file larger than maxFileSize
    // returns false with *error set (in Russian, UTF-8) and leaves this profile unchanged.
    // *missing tells a missing file from an empty one.
    bool load(const std::string &path, std::string *error = nullptr, bool *missing = nullptr);

    bool empty() const { return sections_.empty(); }
    std::vector<std::string> sectionNames() const;                     // file order
    std::vector<std::string> keyNames(std::string_view section) const; // file order, each once
    bool hasSection(std::string_view section) const;
    // An entry with an empty value is present and gives "" (valueOr does not fall back for it).
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::string valueOr(std::string_view section, std::string_view key,
                        std::string_view fallback) const;
    // The line (from 1) of the file an entry was read from; 0 for an entry not read from a file.
    int lineOf(std::string_view section, std::string_view key) const;
    // Bytes below 0x20 other than a tab, and DEL, on section headers and on the entry lines of a
    // section (whether or not the line could be read): the first of each of the first
    // maxControlLines such lines, with its line (from 1), in file order. Lines that are ignored
    // anyway do not count.
    struct ControlByte {
        int line = 0;
        unsigned char byte = 0;
    };
    static constexpr std::size_t maxControlLines = 8;
    const std::vector<ControlByte> &controlBytes() const { return controlBytes_; }

    // Replaces the value of an existing key (keeping its place) or appends the key at the end of
    // its section, appending a new section after the existing ones. Returns false and changes
    // nothing for a name or value that would not read back as given: CR, LF or NUL anywhere; a
    // section name that is empty, has ']' or blanks at either end; a key that is empty, contains
    // '=', starts with '[', ';' or '#', or has blanks at either end; a value longer than
    // maxValueLength (it would come back cut).
    bool setValue(std::string_view section, std::string_view key, std::string_view value);
    bool eraseSection(std::string_view section); // false when there was no such section

    static bool isStorableSectionName(std::string_view section);
    static bool isStorableKey(std::string_view key);
    static bool isStorableValue(std::string_view value);

    std::string serialize() const;

    // Writes the file atomically: the whole text goes to a temporary file beside the target, is
    // synced to disk and renamed over the target. When anything fails, the old file stays as it
    // was, the temporary file is removed and false comes back with *error set (the failing step,
    // the path and the system's reason, in Russian, UTF-8). Keeps the mode of an existing target; a symbolic link is
    // followed and the file it names is replaced. An existing target that is read-only (no write
    // permission bit, or no write access for this user) is refused, as the platform's own profile
    // writer refuses it. A file size limit of the process (ulimit -f) makes the save fail instead
    // of ending the process.
    bool save(const std::string &path, std::string *error = nullptr) const;

private:
    struct Entry {
        std::string key;
        std::string value;
        int line = 0; // where parse() found it; 0 when set by setValue
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        std::unordered_map<std::string, std::size_t> keyIndex; // folded key -> entries index
    };

    const Section *findSection(std::string_view name) const;
    Section &sectionFor(std::string_view name); // finds or appends
    static const Entry *findEntry(const Section &section, std::string_view key);
    static void addEntry(Section &section, std::string_view key, std::string_view value,
                         int line = 0);

    std::vector<Section> sections_;
    std::unordered_map<std::string, std::size_t> sectionIndex_; // folded name -> sections_ index
    std::vector<ControlByte> controlBytes_;
};

} // namespace qvoksb
