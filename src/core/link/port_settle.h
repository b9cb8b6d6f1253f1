#pragma once
// A serial device wants a moment after it was closed before it is opened again (a USB adapter's
// driver, a unit that saw its line drop). Closing only notes the time; the next opening of the
// same device waits out what is left of the pause, so a window closing its port never stalls.
#include <string>

namespace qvoksb
{

void notePortClosed(const std::string &device);
// Waits until `settleMs` have passed since `device` was last closed by this process.
void waitForPortToSettle(const std::string &device, int settleMs);

} // namespace qvoksb
