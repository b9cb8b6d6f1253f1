#pragma once
// Where serial port n ("COMn") lives on a POSIX machine.
//
// The port directory holds one entry per port, named COM1 ... COM16: a device node or a symbolic
// link to one (ln -s /dev/ttyUSB0 ~/.config/QvoKsb/ports/COM3). It is $QVOKSB_PORT_DIR when set,
// else $XDG_CONFIG_HOME/QvoKsb/ports, else ~/.config/QvoKsb/ports. A port without an entry there
// is the built-in serial port /dev/ttyS<n-1>.
#include <string>

namespace qvoksb {

std::string configHome();             // $XDG_CONFIG_HOME, else $HOME/.config
std::string portDirectory();          // as described above
std::string portEntryName(int portNum); // "COM<n>"
std::string serialDevicePath(int portNum); // the entry when it exists, else /dev/ttyS<n-1>

} // namespace qvoksb
