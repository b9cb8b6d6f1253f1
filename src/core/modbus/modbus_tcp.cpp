#include "core/modbus/modbus_tcp.h"

#include "core/modbus/modbus_rtu.h"

namespace qvoksb::modbus
{

namespace
{

uint16_t wordAt(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void putWord(std::vector<uint8_t> &out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

} // namespace

std::vector<uint8_t> mbapFromRtu(std::span<const uint8_t> rtu, uint16_t transaction)
{
    if (rtu.size() < MinimumFrameBytes)
        return {};
    const size_t length = rtu.size() - 2; // unit id and PDU
    if (length > MbapMaxLength)
        return {};
    std::vector<uint8_t> out;
    out.reserve(MbapHeaderBytes - 1 + length);
    putWord(out, transaction);
    putWord(out, 0); // protocol: Modbus
    putWord(out, static_cast<uint16_t>(length));
    out.insert(out.end(), rtu.begin(), rtu.begin() + static_cast<std::ptrdiff_t>(length));
    return out;
}

std::vector<MbapReader::Item> MbapReader::feed(std::span<const uint8_t> bytes)
{
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    std::vector<Item> items;
    // The length field is compared with the limits before anything is taken on its word.
    while (buffer_.size() >= MbapHeaderBytes - 1) {
        const std::span<const uint8_t> head(buffer_);
        const size_t length = wordAt(head, 4);
        if (wordAt(head, 2) != 0 || length < MbapMinLength || length > MbapMaxLength) {
            Item garbage;
            garbage.kind = Item::Garbage;
            garbage.wire.swap(buffer_);
            items.push_back(std::move(garbage));
            break;
        }
        const size_t whole = MbapHeaderBytes - 1 + length;
        if (buffer_.size() < whole)
            break;
        Item frame;
        frame.transaction = wordAt(head, 0);
        frame.wire.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(whole));
        frame.rtu.assign(frame.wire.begin() + MbapHeaderBytes - 1, frame.wire.end());
        frame.rtu.resize(frame.rtu.size() + 2);
        appendCrc(frame.rtu, length);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(whole));
        items.push_back(std::move(frame));
    }
    return items;
}

} // namespace qvoksb::modbus
