#include "core/records/board_plan.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace qvoksb::board
{

namespace
{

constexpr std::array<const char *, 7> Header = {
    "Адрес", "Объект", "Присоединение", "Файл", "SHA-256", "Результат", "Дата"};

std::vector<std::string> fields(const Row &r)
{
    return {addressText(r.address), r.labels.object, r.labels.feeder, r.file, r.digest, r.result,
            r.date};
}

} // namespace

std::string addressText(int address)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", unsigned(address) & 0xFFu);
    return text;
}

std::string fileNameFor(const std::string &pattern, int address)
{
    const std::string mark = AddressMark;
    std::string name;
    for (std::size_t i = 0; i < pattern.size();) {
        if (pattern.compare(i, mark.size(), mark) == 0) {
            name += addressText(address);
            i += mark.size();
        } else {
            name += pattern[i++];
        }
    }
    return name;
}

std::string patternProblem(const std::string &pattern, std::size_t units)
{
    if (pattern.empty())
        return "не задан шаблон имени файла";
    if (units > 1 && pattern.find(AddressMark) == std::string::npos)
        return "в шаблоне имени файла «" + pattern + "» нет %a (адреса блока): все " +
               std::to_string(units) + " блока получили бы один файл";
    return {};
}

report::Table table(const std::vector<Row> &rows)
{
    report::Table t;
    t.header.assign(Header.begin(), Header.end());
    t.widths = {8, 15, 19, 15, 24, 13, 13};
    t.centred = {true, false, false, false, false, false, true};
    for (const Row &r : rows) {
        report::Row cells;
        std::vector<std::string> values = fields(r);
        // On paper the 64 digits stand in groups of 16, so that the column may wrap them.
        std::string &digest = values[4];
        for (std::size_t at = digest.size() / 16 * 16; at > 0; at -= 16)
            if (at < digest.size())
                digest.insert(at, " ");
        for (std::string &f : values)
            cells.push_back({std::move(f), false});
        t.rows.push_back(std::move(cells));
    }
    return t;
}

std::string csvText(const std::vector<Row> &rows)
{
    std::string out = "\xEF\xBB\xBF";
    const auto line = [&out](const std::vector<std::string> &values) {
        for (std::size_t i = 0; i < values.size(); ++i)
            out += (i ? ";" : "") + report::csvField(values[i]);
        out += "\r\n";
    };
    line({Header.begin(), Header.end()});
    for (const Row &r : rows)
        line(fields(r));
    return out;
}

} // namespace qvoksb::board
