#pragma once
// The register map of a KSB-7 as the simulated unit keeps it: which registers exist, which of
// them a master may write, which values the unit accepts, what it holds after a fresh start,
// and how the last-trip record is packed into three registers.
#include "core/modbus/modbus_rtu.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace ksb7sim
{

// Register addresses (protocol addresses, as sent on the wire). The command register takes a
// command code with function 6 and reads back 0; register 517 holds the output relays (bit 0
// "ВЫКЛ.", bits 1..3 "ВЫХ.1".."ВЫХ.3"), 518 the inputs (bits 0..2 inputs 1..3, bit 3 the breaker
// "ВЫКЛ."); 529..531 the cause, date and time of the last trip.
constexpr int CommandRegister = qvoksb::modbus::CommandRegister;
constexpr int OutputStateRegister = qvoksb::modbus::StateBlock.first;
constexpr int InputStateRegister = OutputStateRegister + 1;
constexpr int LastTripRegister = qvoksb::modbus::LastTripBlock.first;
constexpr int FirstRegister = CommandRegister;
constexpr int LastRegister = LastTripRegister + 2;
constexpr int RegisterCount = LastRegister - FirstRegister + 1;

// Registers that take part in the configuration and whose settings change the unit's behaviour.
constexpr int SystemModeRegister = 257; // bit 0 60 Hz, bit 5/6 earth-fault method, bit 10 self-test
constexpr int RelayModeRegister = 262;  // bits 0, 2, 4, 6: ВЫКЛ, ВЫХ.1..3 in pulse mode
constexpr int TripPulseRegister = 263; // 263..266: pulse lengths of ВЫКЛ, ВЫХ.1..3 in 100 ms

// Trip causes the simulated unit records itself.
enum TripCause : uint16_t {
    CauseEventsDeleted = 1,
    CauseSerialLinkTrip = 35,
    CausePhaseTimeOvercurrent = 40,
    CauseMaintenanceCleared = 54,
};

struct Block {
    int first;
    int count;
    bool writable;
    const char *name;
};

// The blocks in address order: the command register, the seven configuration blocks, the
// input/output state and the last trip.
std::span<const Block> blocks();
const Block *blockContaining(int address); // nullptr between the blocks

// Empty when the unit accepts value in register address, else why it refuses it.
std::string refusal(int address, uint16_t value);
// What a fresh unit holds in register address (0 outside the map).
uint16_t initialValue(int address);

struct TripRecord {
    int cause = 0;
    int year = 2000;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int subMinute = 0; // tenths of a second within the minute, 0..599
};

// Register 529: cause in bits 15..7, year - 2000 in bits 6..0. Register 530: month in 13..10,
// day in 9..5, hour in 4..0. Register 531: minute in 15..10, tenths of a second in 9..0.
std::array<uint16_t, 3> packTrip(const TripRecord &trip);
TripRecord unpackTrip(uint16_t w0, uint16_t w1, uint16_t w2);
// The record of a trip with this cause at this moment of the unit's (local) clock.
TripRecord tripAt(int cause, std::chrono::system_clock::time_point when);
// "40 at 11.6.2009 7:18:40", the way the configurator shows it.
std::string describeTrip(const TripRecord &trip);

} // namespace ksb7sim
