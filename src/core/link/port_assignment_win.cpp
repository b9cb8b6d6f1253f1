// Ports on Windows: port n is the system's own COMn, so there is no folder of links to keep. The
// port chooser lists the ports present and takes the number of the one picked; the reasons for
// a failed open are the ones CreateFile gives for a COM port.
#include "core/link/port_assignment.h"

#include "core/link/port_directory.h"
#include "core/link/port_list.h"
#include "core/platform/win_text.h"

#include <windows.h>

namespace qvoksb
{

// No entry: port n is always the device \\.\COMn itself.
std::string portEntryTarget(int)
{
    return {};
}

std::vector<std::string> portDescriptions(int count)
{
    std::vector<std::string> out(static_cast<size_t>(count), "нет в системе");
    for (const SystemPort &port : systemPorts()) {
        const int n = comPortNumber(port.name);
        if (n >= 1 && n <= count)
            out[static_cast<size_t>(n - 1)] =
                port.description.empty() ? "последовательный порт" : port.description;
    }
    return out;
}

// Windows keeps an adapter's number (it remembers it by the adapter's USB identity), so the
// name COMn is the stable one already.
std::string stableDeviceName(const std::string &, const std::string &)
{
    return {};
}

std::string terminalProblem(const std::string &path)
{
    if (path.empty())
        return "Не указан порт";
    const int n = comPortNumber(path);
    if (!n)
        return path + " — не последовательный порт (ожидается COM1 ... COM16)";
    for (const SystemPort &p : systemPorts())
        if (comPortNumber(p.name) == n)
            return {};
    return "Нет такого порта: COM" + std::to_string(n) + " (адаптер отключён?)";
}

// A COM port has no per-user permissions to look at beforehand; a port another program holds
// shows when it is opened.
bool deviceAccessible(const std::string &)
{
    return true;
}

std::string assignPortEntry(int portNum, const std::string &target)
{
    if (comPortNumber(target) == portNum)
        return {};
    return "Номер порта назначает Windows: " + target + " нельзя сделать портом COM" +
           std::to_string(portNum) +
           ". Номер меняют в диспетчере устройств (свойства порта, "
           "«Дополнительно»).";
}

// systemError is the GetLastError code of the failed CreateFile or of the set-up after it.
// A COM port is opened exclusively: one that another program holds gives "access denied" (or a
// sharing violation from some virtual-port drivers).
std::string openFailureReason(int systemError)
{
    switch (static_cast<DWORD>(systemError)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return "Нет такого порта (адаптер отключён?)";
    case ERROR_ACCESS_DENIED:
        return "Доступ к порту запрещён: порт открыт другой программой";
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_PIPE_BUSY:
        return "Порт занят другой программой";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_BAD_COMMAND:
        return "Это не последовательный порт";
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
        return "Адаптер не отвечает (переподключите его)";
    case 0:
        return "Порт не удалось настроить";
    default:
        return "Ошибка: " + systemErrorText(static_cast<DWORD>(systemError));
    }
}

const char *const serialAccessHint =
    "Закройте программу, которая держит порт (терминал, другой конфигуратор), и повторите.";

} // namespace qvoksb
