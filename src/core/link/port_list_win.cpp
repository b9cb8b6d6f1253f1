// The ports present, from the two places Windows keeps them: the registry's list of serial
// devices (HARDWARE\DEVICEMAP\SERIALCOMM, every port a driver has made, virtual ones and
// Wine's too), and the device manager's class "Ports", which adds the adapter's friendly name,
// its maker and its USB identity.
#include "core/link/port_list.h"

#include "core/platform/win_text.h"

#include <windows.h>
// after windows.h, which it needs
#include <setupapi.h>

#include <map>

namespace qvoksb
{

namespace
{

// The device manager's class "Ports (COM & LPT)".
const GUID portsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string text(const wchar_t *s)
{
    return toUtf8(std::wstring(s));
}

void fromSerialComm(std::map<int, SystemPort> *ports)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        wchar_t data[64];
        DWORD nameLen = 256, dataBytes = sizeof data - sizeof(wchar_t), type = 0;
        const LONG r = RegEnumValueW(key, i, name, &nameLen, nullptr, &type,
                                     reinterpret_cast<BYTE *>(data), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataBytes / sizeof(wchar_t)] = L'\0';
        const std::string port = text(data);
        if (const int n = comPortNumber(port))
            (*ports)[n].name = "COM" + std::to_string(n);
    }
    RegCloseKey(key);
}

std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA *dev, DWORD property)
{
    wchar_t buf[512] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, dev, property, &type, reinterpret_cast<BYTE *>(buf),
                                           sizeof buf - sizeof(wchar_t), nullptr) ||
        type != REG_SZ)
        return {};
    return text(buf);
}

// The adapter's serial number in its instance identity: USB\VID_0403&PID_6001\A50285BI (a
// generated one has '&' in it), FTDIBUS\VID_0403+PID_6001+A50285BIA\0000 (the last letter
// names the channel of a multi-port chip).
std::string serialNumberOf(const std::string &instance)
{
    const size_t first = instance.find('\\');
    const size_t last = instance.rfind('\\');
    if (first == std::string::npos || first == last)
        return {};
    const std::string bus = instance.substr(0, first);
    if (bus == "USB") {
        std::string serial = instance.substr(last + 1);
        return serial.find('&') == std::string::npos ? serial : std::string();
    }
    if (bus == "FTDIBUS") {
        const std::string ids = instance.substr(first + 1, last - first - 1);
        const size_t plus = ids.rfind('+');
        if (plus == std::string::npos)
            return {};
        std::string serial = ids.substr(plus + 1);
        if (serial.size() > 8)
            serial.pop_back();
        return serial;
    }
    return {};
}

void fromDeviceManager(std::map<int, SystemPort> *ports)
{
    const HDEVINFO set = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[64] = {};
        DWORD bytes = sizeof portName - sizeof(wchar_t), type = 0;
        const LONG r = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                        reinterpret_cast<BYTE *>(portName), &bytes);
        RegCloseKey(key);
        const int n = r == ERROR_SUCCESS && type == REG_SZ ? comPortNumber(text(portName)) : 0;
        if (!n)
            continue; // a printer port of the same class
        SystemPort &p = (*ports)[n];
        p.name = "COM" + std::to_string(n);
        p.description = deviceProperty(set, &dev, SPDRP_FRIENDLYNAME);
        if (p.description.empty())
            p.description = deviceProperty(set, &dev, SPDRP_DEVICEDESC);
        p.maker = deviceProperty(set, &dev, SPDRP_MFG);
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &dev, instance, 511, nullptr))
            p.serialNumber = serialNumberOf(text(instance));
    }
    SetupDiDestroyDeviceInfoList(set);
}

} // namespace

std::vector<SystemPort> systemPorts()
{
    std::map<int, SystemPort> byNumber;
    fromSerialComm(&byNumber);
    fromDeviceManager(&byNumber);
    std::vector<SystemPort> out;
    for (auto &[n, p] : byNumber)
        out.push_back(std::move(p));
    return out;
}

} // namespace qvoksb
