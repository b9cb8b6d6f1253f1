#pragma once
// Modbus TCP framing: the same requests and replies as on the serial line, each behind a 7-byte
// MBAP header (transaction id, protocol id 0, the count of the bytes that follow, unit id) and
// without a CRC, since TCP already guards the bytes. A converting gateway turns such a request
// into an RTU frame for the unit whose address is the unit id, and the unit's reply back.
//
// The master's side is written here as translation: an RTU frame in, its MBAP twin out, and a
// stream of MBAP replies in, the RTU frames they stand for out (the CRC computed again), so that
// the exchange engine sees the same frames on every line.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qvoksb::modbus
{

inline constexpr uint16_t ModbusTcpPort = 502;
inline constexpr size_t MbapHeaderBytes = 7;
// The length field counts the unit id and the PDU: at least a function code, at most the 253
// bytes a PDU may hold.
inline constexpr size_t MbapMinLength = 2;
inline constexpr size_t MbapMaxLength = 254;

// The MBAP request for an RTU frame (unit address, PDU, two CRC bytes; the CRC is dropped
// unchecked: the frame is our own). Empty when the frame is too short or too long to carry.
std::vector<uint8_t> mbapFromRtu(std::span<const uint8_t> rtu, uint16_t transaction);

// Cuts a TCP stream into MBAP frames.
class MbapReader
{
public:
    struct Item {
        enum Kind {
            Frame,   // a whole ADU: transaction and rtu are set
            Garbage, // a header no Modbus TCP peer sends; the stream cannot be followed further
        } kind = Frame;
        uint16_t transaction = 0;
        std::vector<uint8_t> wire; // the bytes as they came
        std::vector<uint8_t> rtu;  // unit id, PDU and the CRC of them
    };

    // Takes the next bytes of the stream; whole frames and garbage come out in order. After
    // garbage the rest of what was buffered is thrown away with it: a stream whose length
    // fields cannot be trusted has no next frame to find.
    std::vector<Item> feed(std::span<const uint8_t> bytes);
    // Bytes of a frame not yet whole.
    size_t pending() const { return buffer_.size(); }
    void reset() { buffer_.clear(); }

private:
    std::vector<uint8_t> buffer_;
};

} // namespace qvoksb::modbus
