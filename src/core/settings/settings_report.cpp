#include "core/settings/settings_report.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace qvoksb::report
{

namespace
{

const char *pageCaption(Page page)
{
    return PageCaptions[static_cast<int>(page) - 1];
}

bool onPage(const SettingRow &r, Page page)
{
    return r.page == page;
}

// The relay set a box belongs to.
const RelaySet &relaySetOf(const SettingRow &box)
{
    return RelaySets[box.relaySet - 1];
}

bool selfDiagnosisHoldsOutput3(const SettingsSet &set)
{
    // While the self-diagnosis ("ДА") drives output 3, the interlocks leave the "ВЫХ.3" boxes
    // unused.
    return !settingInUse(set, RelaySets[0].boxes[3]);
}

// The outputs a set drives as one value ("ВЫКЛ, ВЫХ.1", "нет"), and which of them the unit
// ignores because their box is switched off.
std::pair<Cell, Cell> relaySetCells(const SettingsSet &set, const RelaySet &rs,
                                    const std::array<bool, SettingCount> &unused)
{
    std::string on, ignored;
    for (int box = rs.hasTripBox ? 0 : 1; box < 4; ++box) {
        const Setting s = rs.boxes[std::size_t(box)];
        if (!set.checked(s))
            continue;
        on += (on.empty() ? "" : ", ") + std::string(RelayBoxCaptions[box]);
        if (unused[indexOf(s)])
            ignored += (ignored.empty() ? "" : ", ") + std::string(RelayBoxCaptions[box]);
    }
    Cell value{on.empty() ? "нет" : on, false};
    Cell note{ignored.empty() ? "" : ignored + ": " + UnusedMark, !ignored.empty()};
    return {value, note};
}

// The settings of pages 1 to 3: one row per setting, a relay set as one row in its place.
// The mark of a caption whose setting counts tenths of what the unit applies.
constexpr const char *TenthsMark = " (x10)";

// Tenths as a decimal with a comma: 3 is "0,3", 10 is "1", 25 is "2,5".
std::string tenthsText(int tenths)
{
    const int whole = tenths / 10, tenth = std::abs(tenths % 10);
    std::string text = (tenths < 0 && whole == 0 ? "-" : "") + std::to_string(whole);
    if (tenth)
        text += "," + std::to_string(tenth);
    return text;
}

Table settingsTable(const SettingsSet &set, const std::array<bool, SettingCount> &unused,
                    Page page)
{
    Table t;
    t.title = pageCaption(page);
    t.header = {"Параметр", "Значение", "Ед. изм.", "Примечание"};
    t.widths = {46, 26, 10, 18};
    t.centred = {false, false, false, false};
    int lastSet = 0;
    for (const SettingRow &r : settingsCatalogue()) {
        if (!onPage(r, page))
            continue;
        if (r.kind == Kind::RelayBox) {
            if (r.relaySet == lastSet)
                continue;
            lastSet = r.relaySet;
            auto [value, note] = relaySetCells(set, relaySetOf(r), unused);
            t.rows.push_back({{plainCaption(r.caption)}, value, {""}, note});
            continue;
        }
        const bool off = unused[indexOf(r.id)];
        std::string caption = plainCaption(r.caption);
        std::string value = valueText(set, r.id);
        std::string note = off ? UnusedMark : "";
        // A setting in tenths ("Множитель (x10)") is printed as the value the unit applies,
        // with the setting as the page holds it beside it.
        if (const std::size_t scaled = caption.find(TenthsMark); scaled != std::string::npos) {
            caption.erase(scaled, std::string_view(TenthsMark).size());
            note = "уставка " + value + " (x10)" + (off ? std::string("; ") + UnusedMark : "");
            value = tenthsText(set.value(r.id));
        }
        t.rows.push_back({{caption, off}, {value, off}, {r.unit, off}, {note, off}});
    }
    return t;
}

// Pages 4 and 5: one row per frame ("ВЫКЛ", "ВХОД 1"), one column per caption within it.
Table groupTable(const SettingsSet &set, const std::array<bool, SettingCount> &unused, Page page,
                 const char *groupHeading)
{
    Table t;
    t.title = pageCaption(page);
    t.header = {groupHeading};
    std::vector<std::string> groups;
    for (const SettingRow &r : settingsCatalogue()) {
        if (!onPage(r, page))
            continue;
        const std::string caption = plainCaption(r.caption);
        if (std::find(t.header.begin(), t.header.end(), caption) == t.header.end())
            t.header.push_back(caption);
        if (groups.empty() || groups.back() != r.group)
            groups.emplace_back(r.group);
    }
    t.widths.assign(t.header.size(), int(80 / (t.header.size() - 1)));
    t.widths[0] = 20;
    t.centred.assign(t.header.size(), false);
    for (const std::string &g : groups) {
        Row row(t.header.size());
        row[0].text = g;
        for (const SettingRow &r : settingsCatalogue()) {
            if (!onPage(r, page) || g != r.group)
                continue;
            const auto column = std::size_t(
                std::find(t.header.begin(), t.header.end(), plainCaption(r.caption)) -
                t.header.begin());
            const bool off = unused[indexOf(r.id)];
            std::string text = valueText(set, r.id);
            if (*r.unit)
                text += std::string(" ") + r.unit;
            if (off)
                text += std::string(" (") + UnusedMark + ")";
            row[column] = {text, off};
        }
        t.rows.push_back(std::move(row));
    }
    return t;
}

Table lastTripTable(const SettingsSet &set)
{
    Table t;
    t.title = FileSectionNames[std::size_t(FileSection::LastTrip)];
    t.header = {"Параметр", "Значение"};
    t.widths = {30, 70};
    t.centred = {false, false};
    for (Setting s : {Setting::EDt, Setting::EEvent})
        t.rows.push_back({{plainCaption(rowOf(s).caption)}, {set.text(s)}});
    return t;
}

// A whole or decimal number, signed or not: left bare so that a spreadsheet counts with it.
bool isNumber(std::string_view text)
{
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    const std::size_t point = text.find_first_of(".,");
    if (point != std::string_view::npos && (point == 0 || point + 1 == text.size()))
        return false;
    int points = 0;
    return !text.empty() && std::all_of(text.begin(), text.end(), [&points](char c) {
        return (c >= '0' && c <= '9') || ((c == '.' || c == ',') && ++points == 1);
    });
}

} // namespace

Table relayMatrix(const SettingsSet &set, const std::array<bool, SettingCount> &unused)
{
    const bool held = selfDiagnosisHoldsOutput3(set);
    Table t;
    t.title = "Матрица выходных реле";
    t.header = {"Функция"};
    for (const char *box : RelayBoxCaptions)
        t.header.emplace_back(box);
    if (held)
        t.header[4] += " *";
    t.widths = {52, 12, 12, 12, 12};
    t.centred = {false, true, true, true, true};
    for (const RelaySet &rs : RelaySets) {
        Row row{{plainCaption(rowOf(rs.boxes[1]).caption)}};
        for (int box = 0; box < 4; ++box) {
            const Setting s = rs.boxes[std::size_t(box)];
            if (box == 0 && !rs.hasTripBox)
                row.push_back({"—"});
            else
                row.push_back({set.checked(s) ? "×" : "", unused[indexOf(s)]});
        }
        t.rows.push_back(std::move(row));
    }
    if (held)
        t.note = std::string("* ") + plainCaption(rowOf(Setting::ComboBox2).caption) + ": " +
                 valueText(set, Setting::ComboBox2) +
                 ". Выход 3 занят самодиагностикой блока, отметки столбца «" +
                 RelayBoxCaptions[3] + "» не действуют.";
    return t;
}

Document buildDocument(const SettingsSet &set, const Facts &facts)
{
    Document d;
    const std::size_t changed = set.differences(SettingsSet()).size();
    const auto filled = [](const std::string &text) { return text.empty() ? BlankField : text; };
    d.facts = {
        {LabelCaptions[0], filled(facts.labels.object)},
        {LabelCaptions[1], filled(facts.labels.feeder)},
        {LabelCaptions[2], filled(facts.labels.serialNumber)},
        {facts.sourceCaption, facts.source},
        {"Дата и время отчёта", facts.reportTime},
        {plainCaption(facts.addressCaption), facts.addressText},
        {"Порт", facts.portText},
        {"Отличий от заводских настроек", changed ? std::to_string(changed) : "нет"},
    };
    d.tables.push_back(settingsTable(set, facts.unused, Page::Configuration));
    d.tables.push_back(settingsTable(set, facts.unused, Page::Overcurrent));
    d.tables.push_back(settingsTable(set, facts.unused, Page::EarthFault));
    d.tables.push_back(relayMatrix(set, facts.unused));
    d.tables.push_back(groupTable(set, facts.unused, Page::OutputRelays, "Реле"));
    d.tables.push_back(groupTable(set, facts.unused, Page::DigitalInputs, "Вход"));
    if (!set.text(Setting::EEvent).empty() || !set.text(Setting::EDt).empty())
        d.tables.push_back(lastTripTable(set));
    return d;
}

namespace
{

// What a spreadsheet may take for the start of a formula or a command.
bool startsFormula(std::string_view text)
{
    if (!text.empty() && (text.front() == '\t' || text.front() == '\r'))
        return true;
    const std::size_t at = text.find_first_not_of(" \t");
    return at != std::string_view::npos &&
           std::string_view("=+-@").find(text[at]) != std::string_view::npos;
}

// Control characters other than line breaks and tabs (C0, DEL and, in UTF-8, C1) become U+FFFD, so
// that nothing in a cell steers the program that shows it.
std::string withoutControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t') || c == 0x7F || c1) {
            out += "\xEF\xBF\xBD";
            i += c1 ? 1 : 0;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string csvField(std::string_view text)
{
    if (text.empty() || isNumber(text))
        return std::string(text);
    std::string field = startsFormula(text) ? "'" : "";
    // A spreadsheet that splits on semicolons (the file's own separator) or commas starts a cell
    // after each of them, and one that ignores the quotes a row after each line break: what
    // follows them is guarded the same.
    for (std::size_t i = 0; i < text.size(); ++i) {
        field += text[i];
        const bool cellStart = text[i] == ',' || text[i] == ';' || text[i] == '\n' ||
                               (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
        if (cellStart && startsFormula(text.substr(i + 1)))
            field += '\'';
    }
    std::string quoted = "\"";
    for (char c : withoutControls(field)) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string csvText(const SettingsSet &set)
{
    std::string out = "\xEF\xBB\xBF";
    const auto line = [&out](const std::array<std::string, 5> &fields) {
        for (std::size_t i = 0; i < fields.size(); ++i)
            out += (i ? ";" : "") + csvField(fields[i]);
        out += "\r\n";
    };
    line({CsvHeader[0], CsvHeader[1], CsvHeader[2], CsvHeader[3], CsvHeader[4]});
    for (const SettingRow &r : settingsCatalogue()) {
        line({pageCaption(r.page), displayCaption(r.id), valueText(set, r.id), r.unit,
              settingInUse(set, r.id) ? "" : UnusedMark});
    }
    return out;
}

} // namespace qvoksb::report
