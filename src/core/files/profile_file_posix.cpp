// Profile files on disk, POSIX: reading whole files and saving them atomically.
#include "core/files/profile_file.h"

#include "core/files/profile_file_read.h"
#include "core/platform/file_size_signal_posix.h"
#include "core/platform/system_error.h"
#include "core/platform/write_all_posix.h"

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

// The temporary file beside the target: ".NAME.tmpPID-N", with NAME cut short (at a character
// boundary) where the whole would pass the folder's limit on a name's length, so that any name
// the target may have can be saved. The process number and the attempt keep it unique.
std::string temporaryName(const std::string &folder, const std::string &base, unsigned attempt)
{
    const std::string suffix = ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t nameMax = limit > 0 ? static_cast<std::size_t>(limit) : 255;
    std::string name = base;
    const std::size_t room = nameMax > suffix.size() + 1 ? nameMax - suffix.size() - 1 : 0;
    if (name.size() > room) {
        name.resize(room);
        // Do not leave half of a UTF-8 character at the end.
        std::size_t lead = name.size();
        while (lead > 0 && (static_cast<unsigned char>(name[lead - 1]) & 0xC0) == 0x80)
            --lead;
        if (lead > 0 && static_cast<unsigned char>(name[lead - 1]) >= 0xC0) {
            const auto c = static_cast<unsigned char>(name[lead - 1]);
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            if (name.size() - (lead - 1) < length)
                name.resize(lead - 1);
        }
    }
    return "." + name + suffix;
}

} // namespace

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
        setError(error, S_ISDIR(st.st_mode)
                            ? systemError("не удаётся прочитать", path, EISDIR)
                            : "не удаётся прочитать " + path + ": это не обычный файл");
        ::close(fd);
        return false;
    }
    std::string bytes;
    const bool read = readProfileBytes(
        path, static_cast<std::uint64_t>(st.st_size),
        [&](char *into, std::size_t room) -> std::ptrdiff_t {
            ssize_t n;
            while ((n = ::read(fd, into, room)) < 0 && errno == EINTR) {
            }
            if (n < 0)
                setError(error, systemError("не удаётся прочитать", path, errno));
            return n;
        },
        bytes, error);
    ::close(fd);
    if (!read)
        return false;
    *this = parse(bytes);
    return true;
}

std::string fileWriteProblem(const std::string &path)
{
    if (path.empty())
        return errnoText(ENOENT);
    struct stat st {
    };
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return errnoText(EISDIR);
        if (!S_ISREG(st.st_mode))
            return "это не обычный файл";
        // The superuser passes access(), so the permission bits are looked at as well.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
            return errnoText(EACCES);
    } else if (errno != ENOENT) {
        return errnoText(errno);
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const std::string probe = folder + "/.write-test-" + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? std::string() : errnoText(errno);
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
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

    FileSizeSignalGuard signalGuard;
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = folder + "/" + temporaryName(folder, baseOf(target), attempt);
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
