#pragma once
// Unit addresses as a person lists them on a command line: "1,2,5-9", single addresses and
// ranges separated by commas, kept in the order given. Several units share one line (a
// multi-drop bus), each answering only to its own address.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qvoksb
{

struct AddressList {
    std::vector<uint8_t> addresses; // empty when the text was refused
    std::string problem;            // why, in one Russian line (UTF-8)
};

// Numbers are read in `base`: 16 for addresses as the configurator shows them ("F7", "0xF7"),
// 10 for plain decimal; base 0 takes decimal, or hexadecimal with "0x". Every address must lie
// in 1..247, a range must not run backwards, and no address may appear twice.
AddressList parseAddressList(std::string_view text, int base);

} // namespace qvoksb
