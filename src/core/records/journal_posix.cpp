// The journal's file on POSIX: where it lives, appending a record, reading it whole.
#include "core/records/journal.h"

#include "core/platform/file_size_signal_posix.h"
#include "core/platform/system_error.h"
#include "core/platform/write_all_posix.h"
#include "core/records/journal_read.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvoksb::journal
{
namespace
{

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void setError(std::string *error, const char *what, const std::string &path, int err)
{
    if (error)
        *error = std::string(what) + ' ' + path + ": " + errnoText(err);
}

// Creates every missing folder of `path`'s parent; the folders are the user's own (0700), as
// the data folder's convention asks.
void makeParents(const std::string &path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0700);
}

} // namespace

std::string journalPath()
{
    std::string home = env("XDG_DATA_HOME");
    // A relative folder is no data folder; it is ignored as the base-directory rules say.
    if (home.empty() || home.front() != '/') {
        home = env("HOME");
        // Without a home there is no data folder: never the root's "/.local/share".
        if (home.empty())
            return {};
        home += "/.local/share";
    }
    return home + "/QvoKsb/journal.jsonl";
}

std::string timeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[40];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string out(text, n);
    // "+0300" to "+03:00", as ISO 8601 writes the offset in an extended date-time.
    if (out.size() >= 5)
        out.insert(out.size() - 2, ":");
    return out;
}

bool append(const std::string &path, const Record &record, std::string *error)
{
    if (path.empty()) {
        if (error)
            *error = "журнал не ведётся: не задана папка данных (нет ни переменной HOME, ни "
                     "XDG_DATA_HOME)";
        return false;
    }
    makeParents(path);
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        setError(error, "не удаётся открыть журнал", path, errno);
        return false;
    }
    std::string line = recordLine(record) + '\n';
    struct stat st {
    };
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
        line.insert(0, "\n");
    // A record that would pass the file size limit is not begun: half a line would only be read
    // back as a damaged one. What the limit still cuts (another program appending meanwhile)
    // fails with EFBIG under the guard instead of ending the program.
    const FileSizeSignalGuard signalGuard;
    struct rlimit limit {
    };
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        std::uint64_t(st.st_size) + line.size() > std::uint64_t(limit.rlim_cur)) {
        ::close(fd);
        setError(error, "не удаётся записать журнал", path, EFBIG);
        return false;
    }
    // One write with O_APPEND: records of two programs appending at once do not interleave.
    const bool ok = writeAll(fd, line) && ::fdatasync(fd) == 0;
    const int err = errno;
    if (::close(fd) != 0 && ok) {
        setError(error, "не удаётся записать журнал", path, errno);
        return false;
    }
    if (!ok)
        setError(error, "не удаётся записать журнал", path, err);
    return ok;
}

Reading read(const std::string &path, const ReadProgress &progress)
{
    Reading failed;
    failed.ok = false;
    // Not blocking: a pipe or a terminal put where the journal should be does not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return {};
        setError(&failed.problem, "не удаётся открыть журнал", path, errno);
        return failed;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0) {
        setError(&failed.problem, "не удаётся прочитать журнал", path, errno);
        ::close(fd);
        return failed;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        failed.problem = "журнал " + path + " не прочитан: это не обычный файл";
        return failed;
    }
    // Only the end of a journal larger than the bound is read, from the line after the cut.
    const std::uint64_t size = std::uint64_t(st.st_size);
    const std::uint64_t start = size > MaxReadBytes ? size - MaxReadBytes : 0;
    LineCollector lines(start > 0);
    std::uint64_t done = 0;
    std::string chunk(std::size_t(1) << 16, '\0');
    // The size read at the start bounds the reading, however the file grows meanwhile.
    while (done < size - start) {
        const std::size_t room = std::size_t(std::min<std::uint64_t>(chunk.size(), size - start - done));
        const ssize_t n = ::pread(fd, chunk.data(), room, off_t(start + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            setError(&failed.problem, "не удаётся прочитать журнал", path, errno);
            ::close(fd);
            return failed;
        }
        if (n == 0)
            break;
        lines.feed(std::string_view(chunk.data(), std::size_t(n)));
        done += std::uint64_t(n);
        if (progress && !progress(done, size - start))
            break;
    }
    ::close(fd);
    return lines.finish();
}

} // namespace qvoksb::journal
