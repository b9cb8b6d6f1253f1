#pragma once
// Frames written out by hand in tests: bytes from hex text, and the test's own CRC, computed bit
// by bit without tables, so that the program's CRC is checked against something else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// "01 04 01 01" -> {0x01, 0x04, 0x01, 0x01}; spaces are optional.
inline Bytes hex(const char *text)
{
    Bytes out;
    for (const char *p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
        p += 2;
    }
    return out;
}

// CRC-16/MODBUS of the first length bytes.
inline uint16_t referenceCrc(const Bytes &bytes, size_t length)
{
    unsigned crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

// Replaces the last two bytes with the frame's correct CRC, low byte first.
inline Bytes withCrc(Bytes frame)
{
    const uint16_t crc = referenceCrc(frame, frame.size() - 2);
    frame[frame.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
    return frame;
}
