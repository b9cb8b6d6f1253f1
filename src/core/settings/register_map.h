#pragma once
// The register map: the seven configuration blocks of the unit packed from a settings set and
// decoded into one, by the register fields of the settings catalogue. Packing and decoding read
// the same fields, so they cannot disagree.
#include "core/modbus/modbus_rtu.h"
#include "core/settings/settings_set.h"

#include <array>
#include <cstdint>
#include <span>

namespace qvoksb::registers
{

inline constexpr std::size_t LargestBlock = 11;
using BlockValues = std::array<uint16_t, LargestBlock>;

// The registers of configuration block `step` (1..7) in address order; the block's count of them
// is modbus::ConfigurationBlocks[step - 1].count. Values are truncated to the register's units
// (a 250 ms pulse travels as 2, that is 200 ms); bit registers carry only their settings' bits
// and bit 9 of register 257, which the unit expects set.
BlockValues packBlock(int step, const SettingsSet &set);

// Puts the registers of block `step` into `set`. Numbers are clamped to the settings' ranges, an
// index beyond a list means no item; the earth-fault method keeps its value in `set` when neither
// of its bits is set.
void decodeBlock(int step, std::span<const uint16_t> registers, SettingsSet &set);

// The settings block `step` (1..7) carries, in catalogue order; empty for any other step.
std::span<const Setting> settingsOfBlock(int step);

// The function-16 request of write step 1..7, CRC included; 0 for any other step.
std::size_t buildWriteRequest(std::span<uint8_t> frame, uint8_t unit, int step,
                              const SettingsSet &set);

// The set as the unit would hold it after a write: every value that its register cannot carry
// exactly comes back as the unit would read it (55 Hz as 50 Hz, 250 ms as 200 ms).
SettingsSet asUnitHolds(const SettingsSet &set);

} // namespace qvoksb::registers
