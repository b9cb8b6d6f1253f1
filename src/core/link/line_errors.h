#pragma once
// Line-error flags of a serial port and the messages the exchange window shows for them.
//
// The flags word carries the values of the Win32 communications error flags (CE_*), on every
// platform: the POSIX port layer translates its driver's error counters into the same bits.
// Messages are UTF-8.
#include <array>
#include <cstdint>

namespace qvoksb
{

enum LineErrorFlag : uint32_t {
    CE_RXOVER = 0x0001,   // receive queue overflow, or a character after the end-of-file character
    CE_OVERRUN = 0x0002,  // hardware overrun, next character lost
    CE_RXPARITY = 0x0004, // parity error
    CE_FRAME = 0x0008,    // framing error
    CE_BREAK = 0x0010,    // break condition on the line
    CE_TXFULL = 0x0100,   // transmit queue full
    CE_IOE = 0x0400,      // input/output error on the device (also: the device went away)
    CE_MODE = 0x8000,     // requested mode not supported
};

struct LineErrorRow {
    uint32_t flag;
    const char *message;
};

// In the order the exchange window tests the flags: when several are set, the message of the
// last one set in this order is the one left standing.
extern const std::array<LineErrorRow, 8> lineErrorTable;

// The message for a flags word: that of the last set flag in table order; nullptr when none of
// the eight flags is set (the window then only turns its text red).
const char *lineErrorMessage(uint32_t flags);

} // namespace qvoksb
