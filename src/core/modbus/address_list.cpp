#include "core/modbus/address_list.h"

#include "core/modbus/modbus_rtu.h"

#include <algorithm>
#include <array>

namespace qvoksb
{

namespace
{

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// One address; -1 when it is no number in the base, 0 when out of range.
int parseOne(std::string_view s, int base)
{
    s = trimmed(s);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && base != 10) {
        s.remove_prefix(2);
        base = 16;
    }
    if (base == 0)
        base = 10;
    if (s.empty())
        return -1;
    // However many digits: past the largest address the number is out of range, and counting
    // further would only overflow.
    int value = 0;
    bool tooLarge = false;
    for (char c : s) {
        const int d = digitValue(c);
        if (d >= base)
            return -1;
        if (!tooLarge)
            value = value * base + d;
        tooLarge = tooLarge || value > modbus::MaxUnitAddress;
    }
    return !tooLarge && value >= modbus::MinUnitAddress ? value : 0;
}

} // namespace

AddressList parseAddressList(std::string_view text, int base)
{
    AddressList list;
    const auto fail = [&](std::string why) {
        list.addresses.clear();
        list.problem = std::move(why);
        return list;
    };
    const std::string range = base == 16 ? "1..F7" : "1..247";
    if (trimmed(text).empty())
        return fail("пустой список адресов");
    std::array<bool, 256> seen{};
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        // A range's dash comes after its first digit, so "-5" is no range but a bad number.
        const size_t dash = item.find('-', 1);
        const int first = parseOne(item.substr(0, dash), base);
        const int last =
            dash == std::string_view::npos ? first : parseOne(item.substr(dash + 1), base);
        const std::string shown(trimmed(item));
        if (first < 0 || last < 0)
            return fail("неверный адрес «" + shown + "»");
        if (first == 0 || last == 0)
            return fail("адрес «" + shown + "» вне диапазона " + range);
        if (last < first)
            return fail("диапазон «" + shown + "» идёт в обратную сторону");
        for (int a = first; a <= last; ++a) {
            if (seen[size_t(a)])
                return fail("адрес «" + shown + "» указан дважды");
            seen[size_t(a)] = true;
            list.addresses.push_back(uint8_t(a));
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return list;
}

} // namespace qvoksb
