#include "core/link/port_directory.h"

#include <cstdlib>
#include <sys/stat.h>

namespace qvoksb {

static std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string configHome()
{
    std::string home = env("XDG_CONFIG_HOME");
    if (!home.empty())
        return home;
    home = env("HOME");
    // Without a home the settings have no place: never the root's "/.config".
    return home.empty() ? std::string() : home + "/.config";
}

std::string portDirectory()
{
    std::string dir = env("QVOKSB_PORT_DIR");
    if (!dir.empty())
        return dir;
    const std::string home = configHome();
    return home.empty() ? std::string() : home + "/QvoKsb/ports";
}

const char *const noConfigHomeText =
    "не задана папка настроек: нет ни переменной HOME, ни XDG_CONFIG_HOME";

std::string portEntryName(int portNum)
{
    return "COM" + std::to_string(portNum);
}

std::string serialDevicePath(int portNum)
{
    const std::string dir = portDirectory();
    const std::string entry = dir + "/" + portEntryName(portNum);
    struct stat st;
    // lstat: a dangling link is still the user's choice of device and must not fall back.
    if (!dir.empty() && ::lstat(entry.c_str(), &st) == 0)
        return entry;
    return "/dev/ttyS" + std::to_string(portNum - 1);
}

bool fileNamesAreUtf8()
{
    return false;
}

} // namespace qvoksb
