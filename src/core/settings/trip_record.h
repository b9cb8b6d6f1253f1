#pragma once
// The KSB-7's record of its last trip: three packed registers from 529, the cause code and the
// date and time of the trip, and the texts the main window shows for them (UTF-8).
#include <cstdint>
#include <string>
#include <string_view>

namespace qvoksb
{

struct TripRecord {
    unsigned cause = 0; // 0..511
    unsigned year = 0;  // 2000..2127
    unsigned month = 0; // 0..15 as the unit sends it; no range check
    unsigned day = 0;   // 0..31
    unsigned hour = 0;  // 0..31
    unsigned minute = 0;
    unsigned second = 0; // 0..102: the unit counts tenths of a second within the minute
};

// Register 529: cause (bits 15..7), year - 2000 (bits 6..0). Register 530: month (bits 13..10),
// day (9..5), hour (4..0). Register 531: minute (15..10), tenths of seconds (9..0).
TripRecord decodeTripRecord(uint16_t first, uint16_t second, uint16_t third);

// The text of a cause the unit knows, empty for any other code.
std::string_view knownTripCause(unsigned code);
inline constexpr std::string_view UnknownTripCausePrefix = "СОБЫТИЕ НЕИЗВЕСТНО - КОД СОБЫТИЯ: ";
// The known text, or the prefix followed by the code in decimal.
std::string tripCauseText(unsigned code);

// "day.month.year hour:minute:second", plain decimal numbers without leading zeros.
std::string tripTimeText(const TripRecord &trip);

} // namespace qvoksb
