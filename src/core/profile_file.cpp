#include "profile_file.h"

#include "system_error.h"

#include "cp1251.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string systemError(const char *what, const std::string &path, int err)
{
    std::string text = what;
    text += ' ';
    text += path;
    text += ": ";
    text += errnoText(err);
    return text;
}

void setError(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
}

// Writing past the process's file size limit raises SIGXFSZ, which ends the process unless it is
// blocked; blocked, the write fails with EFBIG instead. While a save runs the signal is blocked
// for this thread, and a signal the save raised is taken off the pending set before the old mask
// comes back, so it is never delivered.
class FileSizeSignalGuard
{
public:
    FileSizeSignalGuard()
    {
        sigemptyset(&xfsz_);
        sigaddset(&xfsz_, SIGXFSZ);
        sigset_t pending;
        sigemptyset(&pending);
        blocked_ = pthread_sigmask(SIG_BLOCK, &xfsz_, &old_) == 0;
        // One already pending before the save is not ours to swallow.
        if (blocked_ && sigpending(&pending) == 0)
            wasPending_ = sigismember(&pending, SIGXFSZ) == 1;
    }
    ~FileSizeSignalGuard()
    {
        if (!blocked_)
            return;
        sigset_t pending;
        sigemptyset(&pending);
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
            const timespec now{0, 0};
            while (sigtimedwait(&xfsz_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    FileSizeSignalGuard(const FileSizeSignalGuard &) = delete;
    FileSizeSignalGuard &operator=(const FileSizeSignalGuard &) = delete;

private:
    sigset_t xfsz_;
    sigset_t old_;
    bool blocked_ = false;
    bool wasPending_ = false;
};

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The file a path names, through symbolic links; the path itself when it names nothing yet.
std::string resolvedTarget(const std::string &path)
{
    char *real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string out(real);
    std::free(real);
    return out;
}

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

void ProfileFile::addEntry(Section &section, std::string_view key, std::string_view value,
                           int line)
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

bool ProfileFile::load(const std::string &path, std::string *error, bool *missing)
{
    if (missing)
        *missing = false;
    // O_NONBLOCK keeps the open of a named pipe from waiting for a writer; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            if (missing)
                *missing = true;
            *this = ProfileFile();
            return true;
        }
        setError(error, systemError("не удаётся открыть", path, errno));
        return false;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0) {
        setError(error, systemError("не удаётся прочитать", path, errno));
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, S_ISDIR(st.st_mode) ? systemError("не удаётся прочитать", path, EISDIR)
                                            : "не удаётся прочитать " + path + ": это не обычный файл");
        ::close(fd);
        return false;
    }
    const std::string tooLarge = "не удаётся прочитать " + path + ": файл больше " +
                                 std::to_string(maxFileSize / (1024 * 1024)) + " МБ";
    if (static_cast<unsigned long long>(st.st_size) > maxFileSize) {
        setError(error, tooLarge);
        ::close(fd);
        return false;
    }

    // The size is only a hint: the file may change while it is read, so reading stops one byte
    // past the limit whatever fstat said.
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > maxFileSize)
                break;
            bytes.resize(std::min(bytes.size() * 2, maxFileSize + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setError(error, systemError("не удаётся прочитать", path, errno));
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (used > maxFileSize) {
        setError(error, tooLarge);
        return false;
    }
    bytes.resize(used);
    *this = parse(bytes);
    return true;
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

bool ProfileFile::save(const std::string &path, std::string *error) const
{
    return saveFileAtomically(path, serialize(), error);
}

bool saveFileAtomically(const std::string &path, std::string_view text, std::string *error)
{
    if (path.empty()) {
        setError(error, systemError("не удаётся записать", path, ENOENT));
        return false;
    }
    const std::string target = resolvedTarget(path);
    struct stat st {
    };
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            setError(error, systemError("не удаётся записать", path, EISDIR));
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            setError(error, "не удаётся записать " + path + ": это не обычный файл");
            return false;
        }
        // The superuser passes access(), so the permission bits are looked at as well.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.c_str(), W_OK)) {
            setError(error, systemError("не удаётся записать", path, EACCES));
            return false;
        }
    }

    const std::string folder = folderOf(target);
    const std::string stem = folder + "/." + baseOf(target) + ".tmp";

    FileSizeSignalGuard signalGuard;
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = stem + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        setError(error, systemError("не удаётся создать временный файл в папке", folder, errno));
        return false;
    }

    const auto fail = [&](const char *what, int err) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.c_str());
        setError(error, systemError(what, path, err));
        return false;
    };
    if (exists) {
        // Keep the owner and the mode of the file being replaced; a failure to keep the owner
        // (not the superuser) leaves the temporary file ours, as a new file would be.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            return fail("не удаётся задать права файла", errno);
    }
    if (!writeAll(fd, text))
        return fail("не удаётся записать", errno);
    if (::fsync(fd) != 0)
        return fail("не удаётся сохранить на диск", errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail("не удаётся записать", errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        setError(error, systemError("не удаётся заменить", path, err));
        return false;
    }
    // Make the rename itself durable. The new text is in place whatever this gives, so a folder
    // that cannot be synced (some file systems refuse) does not turn the save into a failure.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace qvoksb
