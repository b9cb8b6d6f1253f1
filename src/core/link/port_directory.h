#pragma once
// Where serial port n ("COMn") lives, and the folder of the user's settings ("QvoKsb.ini").
//
// On Windows port n is the device \\.\COMn, and the settings folder is %APPDATA%; the port
// directory is not needed there and is empty. Strings are UTF-8 on Windows.
//
// On POSIX the port directory holds one entry per port, named COM1 ... COM16: a device node or
// a symbolic link to one (ln -s /dev/ttyUSB0 ~/.config/QvoKsb/ports/COM3). It is $QVOKSB_PORT_DIR when set,
// else $XDG_CONFIG_HOME/QvoKsb/ports, else ~/.config/QvoKsb/ports. A port without an entry there
// is the built-in serial port /dev/ttyS<n-1>.
#include <string>

namespace qvoksb {

// POSIX: $XDG_CONFIG_HOME, else $HOME/.config, else empty; Windows: %APPDATA%.
std::string configHome();
// As described above; empty on POSIX when neither $QVOKSB_PORT_DIR nor a settings folder is set.
std::string portDirectory();
// Why there is no settings folder (configHome() empty), for the user.
extern const char *const noConfigHomeText;
std::string portEntryName(int portNum); // "COM<n>"
std::string serialDevicePath(int portNum); // the entry when it exists, else /dev/ttyS<n-1>
// How the core's file names are encoded: UTF-8 on Windows (the core speaks UTF-16 to the system),
// the locale's encoding on POSIX (the bytes go to the system as they are).
bool fileNamesAreUtf8();

} // namespace qvoksb
