#include "traffic.h"

#include "unit_registers.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace ksb7sim
{

namespace
{

constexpr std::array<uint16_t, 256> makeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ 0xA001 : value >> 1;
        table[i] = static_cast<uint16_t>(value);
    }
    return table;
}

constexpr std::array<uint16_t, 256> crcTable = makeCrcTable();

constexpr uint16_t crcOf(const char *text)
{
    uint16_t crc = 0xFFFF;
    for (; *text; ++text)
        crc = static_cast<uint16_t>((crc >> 8) ^
                                    crcTable[(crc ^ static_cast<uint8_t>(*text)) & 0xFF]);
    return crc;
}
static_assert(crcOf("123456789") == 0x4B37, "CRC-16/MODBUS check value");

} // namespace

uint16_t crc16(std::span<const uint8_t> bytes)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : bytes)
        crc = static_cast<uint16_t>((crc >> 8) ^ crcTable[(crc ^ byte) & 0xFF]);
    return crc;
}

void refreshCrc(std::vector<uint8_t> &frame)
{
    if (frame.size() < 2)
        return;
    const uint16_t crc = crc16(std::span(frame).first(frame.size() - 2));
    frame[frame.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
}

std::string timeStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    return text;
}

} // namespace ksb7sim
