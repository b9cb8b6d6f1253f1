#pragma once
// The serial ports the system has now, as the port chooser lists them on Windows: the name COMn
// and what the driver tells about the adapter behind it. (On POSIX the chooser lists the devices
// with Qt's serial-port module.) Texts are UTF-8.
#include <string>
#include <vector>

namespace qvoksb
{

struct SystemPort {
    std::string name;         // "COM3"
    std::string description;  // the adapter's friendly name, "USB Serial Port (COM3)"
    std::string maker;        // the driver's manufacturer, "FTDI"
    std::string serialNumber; // the adapter's own serial number, when its USB identity has one
};

// Every port present, ordered by number (COM2 before COM10). Empty when there is none.
std::vector<SystemPort> systemPorts();

// The number n of a name "COMn" or "\\.\COMn" (any letter case); 0 when it is no such name.
int comPortNumber(const std::string &name);

} // namespace qvoksb
