#pragma once
// Helpers for the frames the simulated unit sees and sends: the CRC it needs to build
// deliberately wrong replies, and the lines of its traffic print.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ksb7sim
{

// CRC-16/MODBUS of bytes. On the wire its low byte comes first, then its high byte.
uint16_t crc16(std::span<const uint8_t> bytes);
// Replaces the last two bytes of frame by the CRC of the bytes before them.
void refreshCrc(std::vector<uint8_t> &frame);

// "01 04 01 01 00 03 E0 37"
std::string hexBytes(std::span<const uint8_t> bytes);
// Wall-clock time with milliseconds, "14:03:07.512".
std::string timeStamp();

// A short reading of a request ("read 3 registers at 257", "write 11 registers at 384",
// "command 2 (remote trip)") and of a reply ("3 registers: 0640 0064 0064", "exception 3").
std::string describeRequest(std::span<const uint8_t> frame);
std::string describeReply(std::span<const uint8_t> frame);

} // namespace ksb7sim
