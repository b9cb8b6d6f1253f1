#include "core/settings/register_map.h"

#include <vector>

namespace qvoksb::registers
{

namespace
{

using E = RegisterEncoding;

constexpr uint16_t AlwaysSetRegister = 257;
constexpr int AlwaysSetBit = 9;

uint16_t bitValue(bool set, int bit)
{
    return set ? uint16_t(1u << bit) : uint16_t(0);
}

// The bits this setting contributes to its register.
uint16_t pack(const SettingRow &r, int v)
{
    switch (r.reg.encoding) {
    case E::None:
        return 0;
    case E::Plain:
        return uint16_t(v);
    case E::Tens:
        return uint16_t(v / 10);
    case E::Hundreds:
        return uint16_t(v / 100);
    case E::Index:
        return uint16_t(v); // no item chosen (-1) travels as 0xFFFF
    case E::MaskBit:
        return bitValue(v != 0, r.reg.bit);
    case E::Frequency60:
        return bitValue(v == 60, r.reg.bit);
    case E::ItemBits:
        return v >= 0 && v <= r.max ? uint16_t(1u << (r.reg.bit + v)) : uint16_t(0);
    case E::FirstItemBit:
        return bitValue(v == 0, r.reg.bit);
    case E::IndexBit:
        return bitValue(v & 1, r.reg.bit); // no item chosen (-1) sets the bit
    }
    return 0;
}

void decode(const SettingRow &r, uint16_t value, SettingsSet &set)
{
    const auto bit = [&](int b) { return (value >> b) & 1; };
    switch (r.reg.encoding) {
    case E::None:
        break;
    case E::Plain:
    case E::Index:
        set.setValue(r.id, value);
        break;
    case E::Tens:
        set.setValue(r.id, static_cast<long long>(value) * 10);
        break;
    case E::Hundreds:
        set.setValue(r.id, static_cast<long long>(value) * 100);
        break;
    case E::MaskBit:
        set.setValue(r.id, bit(r.reg.bit));
        break;
    case E::Frequency60:
        set.setValue(r.id, bit(r.reg.bit) ? 60 : 50);
        break;
    case E::ItemBits:
        for (int item = 0; item <= r.max && r.reg.bit + item < 16; ++item)
            if (bit(r.reg.bit + item))
                set.setValue(r.id, item); // the highest set bit wins
        break;
    case E::FirstItemBit:
        set.setValue(r.id, bit(r.reg.bit) ? 0 : 1);
        break;
    case E::IndexBit:
        set.setValue(r.id, bit(r.reg.bit));
        break;
    }
}

modbus::Block blockOf(int step)
{
    return step >= 1 && step <= modbus::WriteSteps
               ? modbus::ConfigurationBlocks[std::size_t(step - 1)]
               : modbus::Block{0, 0};
}

bool inBlock(const SettingRow &r, modbus::Block b)
{
    return r.reg.encoding != E::None && r.reg.address >= b.first &&
           r.reg.address < b.first + b.count;
}

} // namespace

std::span<const Setting> settingsOfBlock(int step)
{
    static const auto blocks = [] {
        std::array<std::vector<Setting>, modbus::WriteSteps> b;
        for (int s = 1; s <= modbus::WriteSteps; ++s)
            for (const SettingRow &r : settingsCatalogue())
                if (inBlock(r, blockOf(s)))
                    b[std::size_t(s - 1)].push_back(r.id);
        return b;
    }();
    if (step < 1 || step > modbus::WriteSteps)
        return {};
    return blocks[std::size_t(step - 1)];
}

BlockValues packBlock(int step, const SettingsSet &set)
{
    BlockValues values{};
    const modbus::Block block = blockOf(step);
    if (block.count == 0)
        return values;
    for (const SettingRow &r : settingsCatalogue())
        if (inBlock(r, block))
            values[r.reg.address - block.first] |= pack(r, set.value(r.id));
    if (AlwaysSetRegister >= block.first && AlwaysSetRegister < block.first + block.count)
        values[AlwaysSetRegister - block.first] |= bitValue(true, AlwaysSetBit);
    return values;
}

void decodeBlock(int step, std::span<const uint16_t> registers, SettingsSet &set)
{
    const modbus::Block block = blockOf(step);
    if (block.count == 0 || registers.size() < block.count)
        return;
    for (const SettingRow &r : settingsCatalogue())
        if (inBlock(r, block))
            decode(r, registers[r.reg.address - block.first], set);
}

std::size_t buildWriteRequest(std::span<uint8_t> frame, uint8_t unit, int step,
                              const SettingsSet &set)
{
    const modbus::Block block = blockOf(step);
    if (block.count == 0)
        return 0;
    const BlockValues values = packBlock(step, set);
    return modbus::buildWriteMultiple(frame, unit, block.first,
                                      std::span(values.data(), block.count));
}

SettingsSet asUnitHolds(const SettingsSet &set)
{
    SettingsSet held = set;
    for (int step = 1; step <= modbus::WriteSteps; ++step) {
        const BlockValues values = packBlock(step, set);
        decodeBlock(step, std::span(values.data(), blockOf(step).count), held);
    }
    return held;
}

} // namespace qvoksb::registers
