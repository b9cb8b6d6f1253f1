#include "core/link/port_assignment.h"

#include "core/link/port_directory.h"
#include "core/link/port_link_posix.h"
#include "core/platform/system_error.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qvoksb
{

namespace
{

std::string realPath(const std::string &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string folderError(const std::string &folder, int error)
{
    if (error == EACCES || error == EPERM || error == EROFS)
        return "Нет права записи в папку портов " + folder;
    if (error == ENOTDIR)
        return "Путь к папке портов " + folder + " занят файлом";
    return "Папка портов " + folder + " недоступна: " + errnoText(error);
}

// Unix98 pseudo-terminal slaves (/dev/pts/N) have these major numbers and no sysfs entry.
bool isPseudoTerminalMajor(unsigned major)
{
    return major >= 136 && major <= 143;
}

} // namespace

int makeFolders(const std::string &folder)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int pointLink(const std::string &link, const std::string &target)
{
    const std::string fresh = link + ".new-" + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0)
        return errno;
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        return error;
    }
    return 0;
}

std::string linkTarget(const std::string &path)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0)
        return {};
    target.resize(size_t(n));
    return target;
}

std::string portEntryTarget(int portNum)
{
    const std::string folder = portDirectory();
    const std::string entry = folder + "/" + portEntryName(portNum);
    struct stat st;
    if (folder.empty() || ::lstat(entry.c_str(), &st) != 0)
        return {};
    if (!S_ISLNK(st.st_mode))
        return entry;
    const std::string target = linkTarget(entry);
    return target.empty() ? entry : target;
}

std::vector<std::string> portDescriptions(int count)
{
    std::vector<std::string> out;
    for (int n = 1; n <= count; ++n) {
        const std::string target = portEntryTarget(n);
        out.push_back(target.empty() ? "встроенный порт " + serialDevicePath(n) : target);
    }
    return out;
}

std::string stableDeviceName(const std::string &path, const std::string &byIdFolder)
{
    const std::string device = realPath(path);
    if (device.empty())
        return {};
    DIR *dir = ::opendir(byIdFolder.c_str());
    if (!dir)
        return {};
    std::string found;
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string candidate = byIdFolder + "/" + name;
        if (realPath(candidate) == device) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string terminalProblem(const std::string &path)
{
    if (path.empty())
        return "Не указано устройство";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == EACCES ? "Нет доступа к " + path : "Нет такого устройства: " + path;
    if (!S_ISCHR(st.st_mode))
        return path + " — не последовательный порт (не терминал)";
    const unsigned major = ::major(st.st_rdev);
    const unsigned minor = ::minor(st.st_rdev);
    if (isPseudoTerminalMajor(major))
        return {};
    // The kernel files every terminal device, serial ports and USB adapters included, in the
    // class "tty".
    const std::string subsystem = realPath("/sys/dev/char/" + std::to_string(major) + ":" +
                                           std::to_string(minor) + "/subsystem");
    if (subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0)
        return {};
    return path + " — не последовательный порт (не терминал)";
}

bool deviceAccessible(const std::string &path)
{
    return ::access(path.c_str(), R_OK | W_OK) == 0;
}

std::string assignPortEntry(int portNum, const std::string &target)
{
    const std::string folder = portDirectory();
    if (folder.empty())
        return std::string("Нет папки портов: ") + noConfigHomeText;
    if (const int error = makeFolders(folder))
        return folderError(folder, error);
    // The entry is either the old one or the new one, never missing.
    if (const int error = pointLink(folder + "/" + portEntryName(portNum), target)) {
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
            return "В папке портов " + folder + " уже есть папка " + portEntryName(portNum);
        return folderError(folder, error);
    }
    return {};
}

// Short enough for the exchange window, where it stands below the two lines of its message.
std::string openFailureReason(int systemError)
{
    switch (systemError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "Нет такого устройства (адаптер отключён?)";
    case EBUSY:
    case EWOULDBLOCK:
        return "Порт занят другой программой";
    case EACCES:
    case EPERM:
        return "Нет прав на порт: нужна группа dialout";
    case ENOTTY:
        return "Это не последовательный порт";
    case 0:
        return "Порт не удалось настроить";
    default:
        return "Ошибка: " + errnoText(systemError);
    }
}

const char *const serialAccessHint = "Добавьте пользователя в группу dialout (sudo adduser $USER "
                                     "dialout) и войдите в систему заново.";

} // namespace qvoksb
