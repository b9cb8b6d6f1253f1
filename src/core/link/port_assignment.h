#pragma once
// Assigning a serial device to a port number: the entry COMn of the port folder (see
// port_directory.h), what a device is called in words, and why a port would not open. Texts for
// the user are Russian, UTF-8.
//
// On Windows there is no port folder: port n is the system's COMn. There no port has an entry,
// a device has no other stable name, the only target port n can be given is COMn itself, and a
// "device" is a port name, COMn or \\.\COMn.
#include <string>
#include <vector>

namespace qvoksb
{

// What the entry COMn stands for: the target of the link, the entry itself when it is a device
// node, empty when there is no entry (the port is then the built-in one, serialDevicePath()).
std::string portEntryTarget(int portNum);

// What the ports 1 ... count are, for the hints of the port menu: on POSIX what the entry stands
// for, else "встроенный порт /dev/ttyS<n-1>"; on Windows the adapter the system calls COMn, else
// that there is no such port now.
std::vector<std::string> portDescriptions(int count);

// The name under byIdFolder that leads to the same device as path (an adapter keeps it whichever
// USB socket it is plugged into); empty when there is none.
std::string stableDeviceName(const std::string &path,
                             const std::string &byIdFolder = "/dev/serial/by-id");

// Empty when path names an existing terminal device; otherwise why it cannot be a serial port.
// The device is not opened: opening a serial port already drives its modem lines.
std::string terminalProblem(const std::string &path);

// True when this user may read and write the device.
bool deviceAccessible(const std::string &path);

// Makes the entry COMn of the port folder a link to target, creating the folder when needed.
// The old entry is replaced in one step, so a failure leaves it as it was. Returns empty on
// success, else the reason.
std::string assignPortEntry(int portNum, const std::string &target);

// Why the port could not be opened, in one short line, from the system error the serial layer
// reported (SerialPortError::systemError(): errno on POSIX, a GetLastError() code on Windows): no
// such device, held by another program, no permission (on POSIX the group that gives it), not a
// serial port.
std::string openFailureReason(int systemError);

// What a user without access to the serial devices does about it.
extern const char *const serialAccessHint;

} // namespace qvoksb
