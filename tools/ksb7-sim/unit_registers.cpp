#include "unit_registers.h"

#include "core/exchange/exchange_engine.h"

#include <algorithm>
#include <ctime>

namespace ksb7sim
{

namespace
{

enum class Rule {
    Range,    // low..high
    Bits,     // only the bits of mask may be set
    Index,    // a list index below count
    Command,  // one of the command codes
    ReadOnly, // written by the unit itself
};

struct RegisterRow {
    int address;
    Rule rule;
    unsigned low;  // Range: minimum
    unsigned high; // Range: maximum; Bits: mask; Index: item count
    uint16_t initial;
    const char *name;
};

// One row per register the unit has. Times and lengths are in the register's own units: the
// unit keeps the lockout delay and the stage delays in 10 ms, the relay pulses in 100 ms. The
// initial values are those of a fresh unit, the same as a fresh configurator.
constexpr RegisterRow registerRows[] = {
    {128, Rule::Command, 0, 0, 0, "command"},

    {257, Rule::Bits, 0, 0x0661, 0x0640, "system mode"},
    {258, Rule::Range, 5, 5000, 100, "CT primary current, A"},
    {259, Rule::Range, 5, 5000, 100, "zero-sequence CT primary current, A"},

    {262, Rule::Bits, 0, 0x0055, 0x0000, "relay modes"},
    {263, Rule::Range, 1, 20, 2, "trip relay pulse, x100 ms"},
    {264, Rule::Range, 1, 20, 2, "output 1 pulse, x100 ms"},
    {265, Rule::Range, 1, 20, 2, "output 2 pulse, x100 ms"},
    {266, Rule::Range, 1, 20, 2, "output 3 pulse, x100 ms"},

    {267, Rule::Range, 5, 100, 15, "breaker lockout delay, x10 ms"},

    {269, Rule::Bits, 0, 0x0007, 0x0000, "input contact states"},
    {270, Rule::Index, 0, 8, 0, "input 1 function"},
    {271, Rule::Index, 0, 8, 2, "input 2 function"},
    {272, Rule::Index, 0, 8, 1, "input 3 function"},

    // The auxiliary-contact alarm cannot drive the trip relay: bit 0 has no meaning there.
    {277, Rule::Bits, 0, 0x000E, 0x0000, "aux contact relays"},
    {278, Rule::Range, 10, 2500, 1000, "aux contact delay, ms"},
    {279, Rule::Bits, 0, 0x000F, 0x0000, "operation count relays"},
    {280, Rule::Range, 5, 9995, 3000, "operation count limit"},
    {281, Rule::Bits, 0, 0x000F, 0x0000, "accumulated current relays"},
    {282, Rule::Range, 10, 5000, 300, "accumulated current limit, kA"},

    {384, Rule::Bits, 0, 0x000F, 0x0001, "phase time stage relays"},
    {385, Rule::Range, 4, 300, 4, "phase time stage threshold, %CT"},
    {386, Rule::Index, 0, 13, 1, "phase time stage curve"},
    {387, Rule::Range, 1, 200, 10, "phase time stage multiplier x10"},
    {388, Rule::Range, 5, 60000, 100, "phase time stage delay, x10 ms"},
    {389, Rule::Bits, 0, 0x000F, 0x0001, "phase cut-off relays"},
    {390, Rule::Range, 4, 1800, 40, "phase cut-off threshold, %CT"},
    {391, Rule::Range, 0, 2000, 0, "phase cut-off delay, ms"},
    {392, Rule::Bits, 0, 0x000F, 0x0000, "phase overload alarm relays"},
    {393, Rule::Range, 4, 300, 4, "phase overload alarm threshold, %CT"},
    {394, Rule::Range, 5, 60000, 100, "phase overload alarm delay, x10 ms"},

    {395, Rule::Bits, 0, 0x000F, 0x0001, "earth time stage relays"},
    {396, Rule::Range, 4, 300, 12, "earth time stage threshold, %CT"},
    {397, Rule::Index, 0, 13, 1, "earth time stage curve"},
    {398, Rule::Range, 1, 200, 10, "earth time stage multiplier x10"},
    {399, Rule::Range, 5, 60000, 100, "earth time stage delay, x10 ms"},
    {400, Rule::Bits, 0, 0x000F, 0x0001, "earth cut-off relays"},
    {401, Rule::Range, 4, 1800, 40, "earth cut-off threshold, %CT"},
    {402, Rule::Range, 0, 2000, 0, "earth cut-off delay, ms"},
    {403, Rule::Bits, 0, 0x000F, 0x0000, "earth short-circuit alarm relays"},
    {404, Rule::Range, 4, 300, 12, "earth short-circuit alarm threshold, %CT"},
    {405, Rule::Range, 5, 60000, 100, "earth short-circuit alarm delay, x10 ms"},

    {517, Rule::ReadOnly, 0, 0, 0, "output state"},
    {518, Rule::ReadOnly, 0, 0, 0, "input state"},
    {529, Rule::ReadOnly, 0, 0, 0, "last trip cause and year"},
    {530, Rule::ReadOnly, 0, 0, 0, "last trip month, day, hour"},
    {531, Rule::ReadOnly, 0, 0, 0, "last trip minute, second"},
};

constexpr Block blockTable[] = {
    {128, 1, true, "command"},
    {257, 3, true, "system"},
    {262, 5, true, "output relays"},
    {267, 1, true, "breaker lockout"},
    {269, 4, true, "digital inputs"},
    {277, 6, true, "breaker supervision"},
    {384, 11, true, "phase overcurrent"},
    {395, 11, true, "earth fault"},
    {517, 2, false, "input/output state"},
    {529, 3, false, "last trip"},
};

const RegisterRow *rowOf(int address)
{
    for (const RegisterRow &row : registerRows) {
        if (row.address == address)
            return &row;
    }
    return nullptr;
}

std::string hex4(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x0000";
    for (int i = 0; i < 4; ++i)
        text[5 - i] = digits[(value >> (4 * i)) & 0xF];
    return text;
}

} // namespace

std::span<const Block> blocks()
{
    return blockTable;
}

const Block *blockContaining(int address)
{
    for (const Block &block : blockTable) {
        if (address >= block.first && address < block.first + block.count)
            return &block;
    }
    return nullptr;
}

std::string refusal(int address, uint16_t value)
{
    const RegisterRow *row = rowOf(address);
    if (!row)
        return "no register " + std::to_string(address);
    const std::string what = "register " + std::to_string(address) + " (" + row->name + ")";
    switch (row->rule) {
    case Rule::Range:
        if (value < row->low || value > row->high)
            return what + " = " + std::to_string(value) + ", outside " + std::to_string(row->low) +
                   ".." + std::to_string(row->high);
        return {};
    case Rule::Bits:
        if (value & ~row->high)
            return what + " = " + hex4(value) + ", bits outside " + hex4(row->high);
        // The earth-fault method is either leakage (bit 5) or zero sequence (bit 6), never both.
        if (address == SystemModeRegister && (value & 0x0060) == 0x0060)
            return what + " = " + hex4(value) + ", both earth-fault methods";
        return {};
    case Rule::Index:
        if (value >= row->high)
            return what + " = " + std::to_string(value) + ", list has " +
                   std::to_string(row->high) + " items";
        return {};
    case Rule::Command:
        if (!qvoksb::exchange::commandOfCode(value))
            return "unknown command " + std::to_string(value);
        return {};
    case Rule::ReadOnly:
        return what + " is read-only";
    }
    return {};
}

uint16_t initialValue(int address)
{
    const RegisterRow *row = rowOf(address);
    return row ? row->initial : 0;
}

std::array<uint16_t, 3> packTrip(const TripRecord &trip)
{
    const unsigned year = static_cast<unsigned>(std::clamp(trip.year - 2000, 0, 127));
    const auto field = [](int value, unsigned mask) { return static_cast<unsigned>(value) & mask; };
    return {
        static_cast<uint16_t>(field(trip.cause, 0x1FF) << 7 | year),
        static_cast<uint16_t>(field(trip.month, 0xF) << 10 | field(trip.day, 0x1F) << 5 |
                              field(trip.hour, 0x1F)),
        static_cast<uint16_t>(field(trip.minute, 0x3F) << 10 | field(trip.subMinute, 0x3FF)),
    };
}

TripRecord unpackTrip(uint16_t w0, uint16_t w1, uint16_t w2)
{
    TripRecord trip;
    trip.cause = w0 >> 7;
    trip.year = (w0 & 0x7F) + 2000;
    trip.month = (w1 >> 10) & 0x0F;
    trip.day = (w1 >> 5) & 0x1F;
    trip.hour = w1 & 0x1F;
    trip.minute = (w2 >> 10) & 0x3F;
    trip.subMinute = w2 & 0x3FF;
    return trip;
}

TripRecord tripAt(int cause, std::chrono::system_clock::time_point when)
{
    using namespace std::chrono;
    const std::time_t seconds = system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto tenths = duration_cast<milliseconds>(when.time_since_epoch()).count() % 1000 / 100;
    TripRecord trip;
    trip.cause = cause;
    trip.year = local.tm_year + 1900;
    trip.month = local.tm_mon + 1;
    trip.day = local.tm_mday;
    trip.hour = local.tm_hour;
    trip.minute = local.tm_min;
    // A leap second (tm_sec 60) would not fit the unit's 0..599 count.
    trip.subMinute = std::min(local.tm_sec, 59) * 10 + static_cast<int>(tenths);
    return trip;
}

std::string describeTrip(const TripRecord &trip)
{
    return std::to_string(trip.cause) + " at " + std::to_string(trip.day) + "." +
           std::to_string(trip.month) + "." + std::to_string(trip.year) + " " +
           std::to_string(trip.hour) + ":" + std::to_string(trip.minute) + ":" +
           std::to_string(trip.subMinute / 10);
}

} // namespace ksb7sim
