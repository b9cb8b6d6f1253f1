// Every setting of the unit's documents reaches the configuration file, the registers and the
// report: the table below is written by hand from the documents' tables (control, file section
// and key, register, caption on its page), independently of the settings catalogue. A setting
// whose catalogue row is missing, or that one of the three leaves out, fails here.
#include "core/records/config_file.h"
#include "core/files/cp1251.h"
#include "core/settings/register_map.h"
#include "core/settings/settings_report.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <sstream>
#include <vector>

using namespace qvoksb;

namespace
{

struct Documented {
    std::string control;
    int section; // 1 "КОНФИГУРАЦИЯ" ... 6 "ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ"
    std::string key;
    int reg; // the register carrying it, 0 for none
    // The caption of its row on the page: for a relay box its set's, on the pages of the output
    // relays and inputs its frame's.
    std::string caption;
};

// The boxes of a relay-output set in the order ВЫКЛ, ВЫХ.1..3 (0: the set has no such box); each
// box's key is the prefix and its relay.
void relaySet(std::vector<Documented> &out, int section, const std::string &caption,
              const std::string &keyPrefix, int reg, std::array<int, 4> boxes)
{
    const char *const relays[] = {"ВЫКЛ", "ВЫХ1", "ВЫХ2", "ВЫХ3"};
    for (std::size_t k = 0; k < 4; ++k)
        if (boxes[k])
            out.push_back({"CheckBox" + std::to_string(boxes[k]), section, keyPrefix + relays[k],
                           reg, caption});
}

// The pages of the phase and the earth protections have one layout: the time-dependent stage,
// the cut-off and the alarm, each with its relays, in eleven registers from `reg`.
void protectionPage(std::vector<Documented> &out, int section, const std::string &where,
                    const std::string &alarm, int reg, int box, int spin, int list)
{
    const std::string time = "Времязависимая МТЗ " + where, cut = "Токовая отсечка " + where;
    const std::string kind = "Вид МТЗ " + where;
    const auto spinEdit = [&](int n) { return "RxSpinEdit" + std::to_string(spin + n); };
    relaySet(out, section, time + " (Реле):", time + " ", reg, {box, box + 1, box + 2, box + 3});
    out.push_back({spinEdit(0), section, time + ". Порог", reg + 1, time + ". Порог (%ТТ):"});
    out.push_back({"ComboBox" + std::to_string(list), section, kind, reg + 2, kind + ":"});
    out.push_back(
        {spinEdit(1), section, time + ". Задержка", reg + 4, time + ". Задержка (мсек):"});
    out.push_back(
        {spinEdit(2), section, kind + ". Множитель", reg + 3, kind + ". Множитель (x10):"});
    relaySet(out, section, cut + " (Реле):", cut + " ", reg + 5,
             {box + 4, box + 5, box + 6, box + 7});
    out.push_back({spinEdit(3), section, cut + ". Порог", reg + 6, cut + ". Порог (%ТТ):"});
    out.push_back({spinEdit(4), section, cut + ". Задержка", reg + 7, cut + ". Задержка (мсек):"});
    relaySet(out, section, alarm + " (Реле):", alarm + " ", reg + 8,
             {box + 8, box + 9, box + 10, box + 11});
    out.push_back({spinEdit(5), section, alarm + ". Порог", reg + 9, alarm + ". Порог (%ТТ):"});
    out.push_back(
        {spinEdit(6), section, alarm + ". Задержка", reg + 10, alarm + ". Задержка (мсек):"});
}

// The 76 settings in the order of the configuration file.
std::vector<Documented> documentedSettings()
{
    std::vector<Documented> out = {
        {"RxSpinEdit1", 1, "Частота сети", 257, "Частота сети (Гц):"},
        {"RxSpinEdit2", 1, "Ток первичной обмотки применяемого ТТ", 258,
         "Ток первичной обмотки применяемого ТТ (А):"},
        {"ComboBox1", 1, "Способ выявления ОЗЗ", 257, "Способ выявления ОЗЗ:"},
        {"RxSpinEdit3", 1, "Ток первичной обмотки применяемого ТНП", 259,
         "Ток первичной обмотки применяемого ТНП (А):"},
        {"ComboBox2", 1, "Режим самодиагностики", 257, "Режим самодиагностики (ВЫХ.3):"},
        {"RxSpinEdit4", 1, "Блокировка выключателя. Задержка", 267,
         "Блокировка выключателя. Задержка (мсек):"},
    };
    relaySet(out, 1, "Доп. контакт выключателя (Реле):", "Доп. контакт выключателя ", 277,
             {0, 1, 2, 3});
    out.push_back({"RxSpinEdit5", 1, "Доп. контакт выключателя. Задержка", 278,
                   "Доп. контакт выключателя. Задержка (мсек):"});
    relaySet(out, 1, "Превышение числа\r\nмехан.срабатываний (Реле):", "Механ.Срабатыв.", 279,
             {7, 4, 5, 6});
    out.push_back({"RxSpinEdit6", 1, "Число механ.срабатываний", 280, "Число механ.срабатываний:"});
    relaySet(out, 1, "Накопленный ток (Реле):", "Накопленный ток ", 281, {8, 9, 10, 11});
    out.push_back(
        {"RxSpinEdit7", 1, "Величина накопленного тока", 282, "Величина накопленного тока (кА):"});
    protectionPage(out, 2, "в фазах", "Тревога-ТП в фазах", 384, 12, 8, 3);
    protectionPage(out, 3, "на землю", "Тревога-КЗ на землю", 395, 24, 15, 4);
    // The relay-mode keys have a Latin X where the others have a Cyrillic Х.
    const char *const relays[] = {"ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3"};
    const char *const modeKeys[] = {"ВЫКЛ", "ВЫX1", "ВЫX2", "ВЫX3"};
    const char *const pulseKeys[] = {"ВЫКЛ", "ВЫХ1", "ВЫХ2", "ВЫХ3"};
    for (int k = 0; k < 4; ++k) {
        out.push_back({"ComboBox" + std::to_string(5 + k), 4,
                       std::string("Режим работы реле ") + modeKeys[k], 262, relays[k]});
        out.push_back({"RxSpinEdit" + std::to_string(22 + k), 4,
                       std::string("Длительность импульса реле ") + pulseKeys[k], 263 + k,
                       relays[k]});
    }
    for (int k = 1; k <= 3; ++k) {
        const std::string input = "ВХОД" + std::to_string(k);
        out.push_back({"ComboBox" + std::to_string(7 + 2 * k), 5, "Функция активации " + input,
                       269 + k, "ВХОД " + std::to_string(k)});
        out.push_back({"ComboBox" + std::to_string(8 + 2 * k), 5,
                       "Состояние контактов при активации " + input, 269,
                       "ВХОД " + std::to_string(k)});
    }
    out.push_back({"EEvent", 6, "Причина отключения", 0, "Причина откл:"});
    out.push_back({"EDt", 6, "Дата и время", 0, "Дата и время:"});
    return out;
}
const std::vector<Documented> documented = documentedSettings();

const char *const sectionNames[] = {"КОНФИГУРАЦИЯ",   "УСТАВКИ МТЗ",
                                    "УСТАВКИ ОЗЗ",    "ВЫХОДНЫЕ РЕЛЕ",
                                    "ВХОДЫ ЦИФРОВЫЕ", "ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ"};

// A fresh set with a last trip on record.
SettingsSet base()
{
    SettingsSet set;
    set.setText(Setting::EEvent, "ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ");
    set.setText(Setting::EDt, "11.6.2009 7:18:40");
    return set;
}

// That set with one setting moved off its factory value.
SettingsSet changed(const SettingRow &r)
{
    SettingsSet set = base();
    if (r.kind == Kind::Text)
        set.setText(r.id, "ТОКОВАЯ ОТСЕЧКА НА ЗЕМЛЮ");
    else if (r.kind == Kind::Numeric)
        set.setValue(r.id, r.start == r.max ? r.min : r.max);
    else
        set.setValue(r.id, r.start == 0 ? 1 : 0);
    return set;
}

// The file's entries by section and key (UTF-8), as a reader of the documents finds them.
std::map<std::pair<std::string, std::string>, std::string> entries(const SettingsSet &set)
{
    std::map<std::pair<std::string, std::string>, std::string> out;
    std::istringstream lines(cp1251ToUtf8(configFileBytes(set)));
    std::string line, section;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']')
            section = line.substr(1, line.size() - 2);
        else if (const std::size_t eq = line.find('='); eq != std::string::npos)
            out[{section, line.substr(0, eq)}] = line.substr(eq + 1);
    }
    return out;
}

std::map<int, uint16_t> registersOf(const SettingsSet &set)
{
    std::map<int, uint16_t> out;
    for (int step = 1; step <= 7; ++step) {
        const auto block = registers::packBlock(step, set);
        const modbus::Block where = modbus::ConfigurationBlocks[std::size_t(step - 1)];
        for (std::size_t k = 0; k < where.count; ++k)
            out[where.first + int(k)] = block[k];
    }
    return out;
}

// The first cells of the report's rows (the captions and frames) and all of its text.
struct ReportText {
    std::set<std::string> rowHeads;
    std::string all;
};
ReportText reportOf(const SettingsSet &set)
{
    ReportText out;
    for (const report::Table &t : report::buildDocument(set, report::Facts{}).tables) {
        for (const std::string &h : t.header)
            out.all += h + "|";
        for (const report::Row &row : t.rows) {
            if (!row.empty())
                out.rowHeads.insert(row[0].text);
            for (const report::Cell &c : row)
                out.all += c.text + "|";
        }
    }
    return out;
}

// A caption as the report prints it: on one line, without the colon, a setting in tenths
// without its "(x10)" (the report gives the value the unit applies).
std::string printed(std::string caption)
{
    if (const std::size_t crlf = caption.find("\r\n"); crlf != std::string::npos)
        caption.replace(crlf, 2, " ");
    if (caption.back() == ':')
        caption.pop_back();
    if (const std::size_t tenths = caption.find(" (x10)"); tenths != std::string::npos)
        caption.erase(tenths);
    return caption;
}

} // namespace

TEST(CatalogueRows, EveryDocumentedSettingHasItsRow)
{
    ASSERT_EQ(documented.size(), SettingCount);
    std::set<std::string> controls;
    for (const Documented &d : documented) {
        controls.insert(d.control);
        const SettingRow *r = findRow(d.control);
        ASSERT_NE(r, nullptr) << d.control;
    }
    EXPECT_EQ(controls.size(), SettingCount);
}

TEST(CatalogueRows, EverySettingIsWrittenToItsKeyOfTheFile)
{
    const auto factory = entries(base());
    EXPECT_EQ(factory.size(), SettingCount); // 76 keys, nothing else
    for (const Documented &d : documented) {
        const SettingRow &r = *findRow(d.control);
        const std::pair<std::string, std::string> where{sectionNames[d.section - 1], d.key};
        ASSERT_TRUE(factory.count(where)) << d.control << " " << d.key;
        const auto file = entries(changed(r));
        const SettingsSet set = changed(r);
        const std::string expected =
            r.kind == Kind::Text ? set.text(r.id) : std::to_string(set.value(r.id));
        EXPECT_EQ(file.at(where), expected) << d.control;
        EXPECT_NE(file.at(where), factory.at(where)) << d.control;
    }
}

TEST(CatalogueRows, EverySettingTravelsInItsRegister)
{
    const auto factory = registersOf(base());
    for (const Documented &d : documented) {
        const auto moved = registersOf(changed(*findRow(d.control)));
        std::set<int> differing;
        for (const auto &[address, value] : moved)
            if (factory.at(address) != value)
                differing.insert(address);
        EXPECT_EQ(differing, d.reg ? std::set<int>{d.reg} : std::set<int>{}) << d.control;
    }
}

TEST(CatalogueRows, EverySettingIsInTheReport)
{
    const ReportText factory = reportOf(base());
    for (const Documented &d : documented) {
        const SettingRow &r = *findRow(d.control);
        EXPECT_TRUE(factory.rowHeads.count(printed(d.caption))) << d.control << " " << d.caption;
        EXPECT_NE(reportOf(changed(r)).all, factory.all) << d.control;
    }
}
