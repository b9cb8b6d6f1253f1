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

unsigned word(std::span<const uint8_t> frame, size_t at)
{
    return static_cast<unsigned>(frame[at]) << 8 | frame[at + 1];
}

std::string plural(unsigned count, const char *one)
{
    return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

const char *exceptionName(unsigned code)
{
    switch (code) {
    case 1:
        return "illegal function";
    case 2:
        return "illegal data address";
    case 3:
        return "illegal data value";
    case 4:
        return "server device failure";
    case 5:
        return "acknowledge";
    case 6:
        return "server device busy";
    default:
        return nullptr;
    }
}

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

std::string hexBytes(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
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

std::string describeRequest(std::span<const uint8_t> frame)
{
    if (frame.size() < 4)
        return "too short for a frame";
    const unsigned function = frame[1];
    switch (function) {
    case FunctionReadHolding:
    case FunctionReadInput:
        if (frame.size() < 8)
            break;
        return "read " + plural(word(frame, 4), "register") + " at " +
               std::to_string(word(frame, 2)) +
               (function == FunctionReadHolding ? " (holding)" : "");
    case FunctionWriteSingle: {
        if (frame.size() < 8)
            break;
        const unsigned address = word(frame, 2);
        const unsigned value = word(frame, 4);
        if (address == CommandRegister) {
            const char *name = commandName(static_cast<uint16_t>(value));
            return "command " + std::to_string(value) + " (" + (name ? name : "unknown") + ")";
        }
        return "write " + std::to_string(value) + " to register " + std::to_string(address);
    }
    case FunctionWriteMultiple:
        if (frame.size() < 9)
            break;
        return "write " + plural(word(frame, 4), "register") + " at " +
               std::to_string(word(frame, 2));
    default:
        return "function " + std::to_string(function);
    }
    return "function " + std::to_string(function) + ", truncated";
}

std::string describeReply(std::span<const uint8_t> frame)
{
    if (frame.size() < 4)
        return "too short for a frame";
    const unsigned function = frame[1];
    if (function & 0x80) {
        const unsigned code = frame.size() >= 5 ? frame[2] : 0;
        const char *name = exceptionName(code);
        return "exception " + std::to_string(code) + (name ? std::string(" (") + name + ")" : "");
    }
    switch (function) {
    case FunctionReadHolding:
    case FunctionReadInput: {
        const unsigned count = frame[2] / 2;
        if (frame.size() < 5 + 2 * size_t(count))
            return "read reply, too short for its byte count";
        std::string text = plural(count, "register") + ":";
        for (unsigned k = 0; k < count; ++k) {
            char value[8];
            std::snprintf(value, sizeof value, " %04X", word(frame, 3 + 2 * k));
            text += value;
        }
        return text;
    }
    case FunctionWriteSingle:
        if (frame.size() < 8)
            break;
        return "wrote " + std::to_string(word(frame, 4)) + " to register " +
               std::to_string(word(frame, 2));
    case FunctionWriteMultiple:
        if (frame.size() < 8)
            break;
        return "wrote " + plural(word(frame, 4), "register") + " at " +
               std::to_string(word(frame, 2));
    default:
        return "function " + std::to_string(function);
    }
    return "function " + std::to_string(function) + ", truncated";
}

} // namespace ksb7sim
