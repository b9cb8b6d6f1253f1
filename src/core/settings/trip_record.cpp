#include "core/settings/trip_record.h"

#include <array>

namespace qvoksb
{

namespace
{

struct CauseRow {
    unsigned code;
    std::string_view text;
};

// The events the unit records, by the code it stores in the top nine bits of register 529.
constexpr std::array<CauseRow, 35> causeTable = {{
    {0, "СОБЫТИЯ ОТСУТСТВУЮТ"},
    {1, "ВСЕ СОБЫТИЯ УДАЛЕНЫ"},
    {4, "РЕЛЕ ВЫКЛ. ОТКЛЮЧЕНО"},
    {5, "РЕЛЕ ВЫКЛ. ВКЛЮЧЕНО"},
    {6, "РЕЛЕ ВЫХ.1 ОТКЛЮЧЕНО"},
    {7, "РЕЛЕ ВЫХ.1 ВКЛЮЧЕНО"},
    {8, "РЕЛЕ ВЫХ.2 ОТКЛЮЧЕНО"},
    {9, "РЕЛЕ ВЫХ.2 ВКЛЮЧЕНО"},
    {10, "РЕЛЕ ВЫХ.3 ОТКЛЮЧЕНО"},
    {11, "РЕЛЕ ВЫХ.3 ВКЛЮЧЕНО"},
    {20, "ВХОД 1 НЕ АКТИВЕН"},
    {21, "ВХОД 1 АКТИВЕН"},
    {22, "ВХОД 2 НЕ АКТИВЕН"},
    {23, "ВХОД 2 АКТИВЕН"},
    {24, "ВХОД 3 НЕ АКТИВЕН"},
    {25, "ВХОД 3 АКТИВЕН"},
    {26, "ВЫКЛ. В СОСТОЯНИИ \"РАЗОМКНУТ\""},
    {27, "ВЫКЛ. В СОСТОЯНИИ \"ЗАМКНУТ\""},
    {32, "РАЗЪЕДИНИТЕЛЬ В СОСТОЯНИИ \"ЗАЗЕМЛЕН\""},
    {33, "ВЫКЛ. В СОСТОЯНИИ \"ЗАЗЕМЛЕН\""},
    {34, "ДИСТАНЦИОННОЕ ОТКЛЮЧЕНИЕ ВЫКЛ."},
    {35, "ОТКЛЮЧЕНИЕ ВЫКЛ. ПО ПОСЛЕД. КАНАЛУ СВЯЗИ"},
    {36, "БЛОКИРОВКА СБРОСА"},
    {37, "БЛОКИРОВКА ОТКЛЮЧЕНИЯ"},
    {40, "ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ"},
    {41, "ТОКОВАЯ ОТСЕЧКА В ФАЗАХ"},
    {42, "ТРЕВОГА - ТОКОВАЯ ПЕРЕГРУЗКА В ФАЗАХ"},
    {43, "ВРЕМЯЗАВИСИМАЯ МТЗ НА ЗЕМЛЮ"},
    {44, "ТОКОВАЯ ОТСЕЧКА НА ЗЕМЛЮ"},
    {45, "ТРЕВОГА - КОРОТКОЕ ЗАМЫКАНИЕ НА ЗЕМЛЮ"},
    {50, "РАЗЪЕДИНИТЕЛЬ ЗАБЛОКИРОВАН"},
    {51, "НЕСООТВЕТСТВИЕ Д.К. ВЫКЛЮЧАТЕЛЯ"},
    {52, "ПРЕВЫШЕНО КОЛ-ВО МЕХ. СРАБАТЫВАНИЙ ВЫКЛ."},
    {53, "ПРЕВЫШЕНА ВЕЛИЧИНА НАКОПЛЕННОГО ТОКА"},
    {54, "ИНФОРМАЦИЯ О ТЕХН. ОБСЛУЖИВАНИИ УДАЛЕНА"},
}};

} // namespace

TripRecord decodeTripRecord(uint16_t first, uint16_t second, uint16_t third)
{
    TripRecord trip;
    trip.cause = first >> 7;
    trip.year = (first & 0x7Fu) + 2000;
    trip.month = (second >> 10) & 0x0Fu;
    trip.day = (second >> 5) & 0x1Fu;
    trip.hour = second & 0x1Fu;
    trip.minute = (third >> 10) & 0x3Fu;
    trip.second = (third & 0x3FFu) / 10;
    return trip;
}

std::string_view knownTripCause(unsigned code)
{
    for (const CauseRow &row : causeTable)
        if (row.code == code)
            return row.text;
    return {};
}

std::string tripCauseText(unsigned code)
{
    const std::string_view known = knownTripCause(code);
    if (!known.empty())
        return std::string(known);
    return std::string(UnknownTripCausePrefix) + std::to_string(code);
}

std::string tripTimeText(const TripRecord &trip)
{
    return std::to_string(trip.day) + '.' + std::to_string(trip.month) + '.' +
           std::to_string(trip.year) + ' ' + std::to_string(trip.hour) + ':' +
           std::to_string(trip.minute) + ':' + std::to_string(trip.second);
}

} // namespace qvoksb
