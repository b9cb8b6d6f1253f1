// Ports and the user's settings folder on Windows: port n is the device COMn itself, and
// "QvoKsb.ini" lives in the roaming application-data folder, as other Windows programs' files do.
#include "core/link/port_directory.h"

#include "core/platform/win_text.h"

#include <cstdlib>

namespace qvoksb
{

std::string configHome()
{
    const wchar_t *appData = _wgetenv(L"APPDATA");
    if (appData && *appData)
        return toUtf8(appData);
    const wchar_t *profile = _wgetenv(L"USERPROFILE");
    return toUtf8(profile ? profile : L".") + "\\AppData\\Roaming";
}

// Never used: there is always a folder for the settings.
const char *const noConfigHomeText = "не задана папка настроек: нет переменной APPDATA";

// Windows names its ports itself; there is no folder of links.
std::string portDirectory()
{
    return {};
}

std::string portEntryName(int portNum)
{
    return "COM" + std::to_string(portNum);
}

// The \\.\ prefix reaches COM10 and above too, which the bare name does not.
std::string serialDevicePath(int portNum)
{
    return "\\\\.\\" + portEntryName(portNum);
}

bool fileNamesAreUtf8()
{
    return true;
}

} // namespace qvoksb
