#pragma once
// SHA-256 (FIPS 180-4): the digest the journal of exchanges keeps of the configuration a unit
// received or sent, so that two records can be told to hold the same settings or not.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qvoksb
{

class Sha256
{
public:
    using Digest = std::array<uint8_t, 32>;

    Sha256();
    void update(std::span<const uint8_t> bytes);
    void update(std::string_view bytes);
    // The digest of everything given; the object is spent afterwards.
    Digest finish();

    static Digest of(std::string_view bytes);
    static std::string hex(const Digest &digest); // 64 lower-case hex digits

private:
    void block(const uint8_t *chunk);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    uint64_t length_ = 0; // bytes so far
};

} // namespace qvoksb
