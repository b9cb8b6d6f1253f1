#include "port_directory.h"

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
    return env("HOME") + "/.config";
}

std::string portDirectory()
{
    std::string dir = env("QVOKSB_PORT_DIR");
    if (!dir.empty())
        return dir;
    return configHome() + "/QvoKsb/ports";
}

std::string portEntryName(int portNum)
{
    return "COM" + std::to_string(portNum);
}

std::string serialDevicePath(int portNum)
{
    std::string entry = portDirectory() + "/" + portEntryName(portNum);
    struct stat st;
    // lstat: a dangling link is still the user's choice of device and must not fall back.
    if (::lstat(entry.c_str(), &st) == 0)
        return entry;
    return "/dev/ttyS" + std::to_string(portNum - 1);
}

bool fileNamesAreUtf8()
{
    return false;
}

} // namespace qvoksb
