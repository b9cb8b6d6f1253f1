// Settings sets without a window: configuration files read whole or refused, the registers of
// a set, and what the unit keeps of a set. Expected values come from the unit's documents.
#include "core/records/config_file.h"
#include "core/files/cp1251.h"
#include "core/settings/register_map.h"
#include "core/settings/settings_diff.h"
#include "core/settings/settings_report.h"

#include <gtest/gtest.h>

#include <random>

using namespace qvoksb;
using enum Setting;

namespace
{

// A file in code page 1251 from UTF-8 lines, with its keys written by hand.
std::string fileOf(const std::string &utf8)
{
    return cp1251FromUtf8(utf8);
}

// Every numeric key of the factory file but the one given, which gets `value`.
std::string factoryWith(const std::string &key, const std::string &value)
{
    std::string bytes = configFileBytes(SettingsSet());
    const std::string k = cp1251FromUtf8(key) + "=";
    const std::size_t at = bytes.find(k);
    EXPECT_NE(at, std::string::npos) << key;
    const std::size_t end = bytes.find("\r\n", at);
    return bytes.replace(at + k.size(), end - at - k.size(), cp1251FromUtf8(value));
}

} // namespace

TEST(ConfigFile, ValuesAreClampedAndKeptAsTheUnitsDocumentsSay)
{
    const std::string bytes = factoryWith("Частота сети", "55");
    auto reading = parseConfigFile(factoryWith("Ток первичной обмотки применяемого ТТ", "7000"));
    ASSERT_TRUE(reading.ok) << reading.problem;
    EXPECT_EQ(reading.set.value(RxSpinEdit2), 5000);
    reading = parseConfigFile(bytes);
    EXPECT_EQ(reading.set.value(RxSpinEdit1), 55); // not moved onto the step of 10
    reading = parseConfigFile(factoryWith("Вид МТЗ в фазах", "13"));
    EXPECT_EQ(reading.set.value(ComboBox3), -1); // no item chosen
    reading = parseConfigFile(factoryWith("Токовая отсечка в фазах ВЫКЛ", "0"));
    EXPECT_EQ(reading.set.value(CheckBox16), 0); // the set says what the file says
    reading = parseConfigFile(factoryWith("Механ.Срабатыв.ВЫХ3", "-1"));
    EXPECT_EQ(reading.set.value(CheckBox6), 1);
}

TEST(ConfigFile, ABadFileIsRefusedWithOneRussianReason)
{
    EXPECT_EQ(parseConfigFile(factoryWith("Способ выявления ОЗЗ", "1,0")).problem,
              "строка 4: значение «1,0» ключа «Способ выявления ОЗЗ» не является целым числом");
    EXPECT_EQ(parseConfigFile(fileOf("[КОНФИГУРАЦИЯ]\r\nЧастота сети=50\r\n")).problem,
              "нет ключа «Ток первичной обмотки применяемого ТТ» в разделе [КОНФИГУРАЦИЯ]");
    // The same file as a text editor saves it by default.
    const std::string utf8 = "\xEF\xBB\xBF" + cp1251ToUtf8(configFileBytes(SettingsSet()));
    EXPECT_EQ(parseConfigFile(utf8).problem, "файл записан в кодировке UTF-8, а не в Windows-1251");
    EXPECT_EQ(readConfigFile("/nonexistent/folder/config.txt").problem, "файл не существует");
    // A NUL or another control byte is named with its line, not taken for a missing key.
    using namespace std::string_literals;
    EXPECT_EQ(parseConfigFile(factoryWith("Способ выявления ОЗЗ", "1\0"s)).problem,
              "строка 4: недопустимый символ с кодом 0x00 (нулевой байт)");
    EXPECT_EQ(parseConfigFile(factoryWith("Способ выявления ОЗЗ", "\x1b[2J1")).problem,
              "строка 4: недопустимый символ с кодом 0x1B");
    std::string header = configFileBytes(SettingsSet());
    header.insert(1, "\x01"); // in the first section's name
    EXPECT_EQ(parseConfigFile(header).problem, "строка 1: недопустимый символ с кодом 0x01");
    // A last-trip text is kept as it is, whatever it holds.
    const ConfigFileReading text =
        parseConfigFile(factoryWith("Причина отключения", "КЗ\x1b]0;x\x07"));
    ASSERT_TRUE(text.ok) << text.problem;
    EXPECT_EQ(text.set.text(EEvent), "КЗ\x1b]0;x\x07");
}

TEST(ConfigFile, AnyValidSetWritesAndReadsBackUnchanged)
{
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        SettingsSet set;
        for (const SettingRow &r : settingsCatalogue()) {
            if (r.kind == Kind::Text)
                set.setText(r.id, round % 2 ? "ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ" : "");
            else
                set.setValue(r.id, std::uniform_int_distribution<int>(r.min, r.max)(random));
        }
        const ConfigFileReading back = parseConfigFile(configFileBytes(set));
        ASSERT_TRUE(back.ok) << back.problem;
        EXPECT_EQ(back.set.differences(set), std::vector<Setting>{});
    }
}

TEST(RegisterMap, BlocksCarryTheUnitsLayout)
{
    SettingsSet set;
    set.setValue(RxSpinEdit1, 60);
    set.setValue(ComboBox1, 1);
    set.setValue(ComboBox2, 0);
    EXPECT_EQ(registers::packBlock(1, set)[0], 0x0641);
    set.setValue(ComboBox1, -1);
    set.setValue(ComboBox2, -1);
    set.setValue(RxSpinEdit1, 50);
    EXPECT_EQ(registers::packBlock(1, set)[0], 0x0200);

    set.setValue(RxSpinEdit9, 600000);
    set.setValue(RxSpinEdit10, 15);
    set.setValue(ComboBox3, -1);
    const auto phase = registers::packBlock(4, set);
    EXPECT_EQ(phase[386 - 384], 0xFFFF);
    EXPECT_EQ(phase[387 - 384], 15);    // the multiplier as shown, times ten
    EXPECT_EQ(phase[388 - 384], 60000); // tens of ms

    // Reading: neither method bit keeps the method, both give the second item.
    SettingsSet read;
    read.setValue(ComboBox1, 0);
    const uint16_t none[] = {0x0000, 100, 100};
    registers::decodeBlock(1, none, read);
    EXPECT_EQ(read.value(ComboBox1), 0);
    EXPECT_EQ(read.value(ComboBox2), 1);
    const uint16_t both[] = {0x0061, 7000, 1};
    registers::decodeBlock(1, both, read);
    EXPECT_EQ(read.value(ComboBox1), 1);
    EXPECT_EQ(read.value(RxSpinEdit1), 60);
    EXPECT_EQ(read.value(RxSpinEdit2), 5000);
    EXPECT_EQ(read.value(RxSpinEdit3), 5);
    // Register 277 has no ВЫКЛ box: its bit 0 changes nothing.
    const uint16_t supervision[] = {0x000F, 10, 0, 5, 0, 10};
    registers::decodeBlock(3, supervision, read);
    EXPECT_TRUE(read.checked(CheckBox1) && read.checked(CheckBox3));
}

TEST(RegisterMap, TheUnitKeepsOnlyWhatItsRegistersCarry)
{
    SettingsSet set;
    set.setValue(RxSpinEdit1, 55);
    set.setValue(RxSpinEdit22, 250);
    set.setValue(RxSpinEdit4, 155);
    const SettingsSet held = registers::asUnitHolds(set);
    EXPECT_EQ(held.differences(set),
              (std::vector<Setting>{RxSpinEdit1, RxSpinEdit4, RxSpinEdit22}));
    EXPECT_EQ(held.value(RxSpinEdit1), 50);
    EXPECT_EQ(held.value(RxSpinEdit4), 150);
    EXPECT_EQ(held.value(RxSpinEdit22), 200);
    EXPECT_EQ(registers::asUnitHolds(SettingsSet()), SettingsSet());
}

TEST(SettingsSet, OutputThreeCountsOnlyWhenTheSelfDiagnosisLeavesItFree)
{
    SettingsSet set; // self-diagnosis "ДА" takes output 3
    set.setValue(CheckBox7, 0);
    set.setValue(CheckBox6, 1);
    EXPECT_FALSE(relaySetActive(set, 2));
    set.setValue(ComboBox2, 1);
    EXPECT_TRUE(relaySetActive(set, 2));
    EXPECT_TRUE(relaySetActive(SettingsSet(), 4)); // the phase stage trips at start
    EXPECT_EQ(valueText(SettingsSet(), ComboBox3), "ANSI слабая зависимость");
    EXPECT_EQ(valueText(ComboBox3, -1), "не выбрано");
}

TEST(SettingsDiff, ALastTripTextDiffersOnlyInItsOwnRow)
{
    SettingsSet read; // the unit's blocks read without the last trip
    SettingsSet file;
    file.setText(EEvent, "СОБЫТИЯ ОТСУТСТВУЮТ");
    file.setValue(RxSpinEdit2, 200);
    const auto rows = differenceRows(read, file, Compared::Everything);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].setting, RxSpinEdit2);
    EXPECT_EQ(rows[1].setting, EEvent);
    EXPECT_EQ(differenceCount(read, file, Compared::Configuration), 1u);
}

// The CSV says "не используется" exactly where the interlocks leave a setting unused: at the
// factory values the settings the unit's documents list as disabled at start, and in random
// sets wherever settingInUse() says so.
TEST(SettingsReport, TheCsvMarksTheSettingsTheInterlocksLeaveUnused)
{
    const auto unusedInCsv = [](const SettingsSet &set) {
        const std::string csv = report::csvText(set);
        std::vector<Setting> unused;
        std::size_t at = csv.find("\r\n") + 2; // after the header
        for (const SettingRow &r : settingsCatalogue()) {
            const std::size_t end = csv.find("\r\n", at);
            const std::string line = csv.substr(at, end - at);
            EXPECT_EQ(line.find(";\"" + displayCaption(r.id) + "\";"), line.find(';')) << line;
            if (line.ends_with(";\"не используется\""))
                unused.push_back(r.id);
            at = end + 2;
        }
        EXPECT_EQ(at, csv.size());
        return unused;
    };
    EXPECT_EQ(
        unusedInCsv(SettingsSet()),
        std::vector<Setting>({CheckBox3,    RxSpinEdit5,  CheckBox6,    RxSpinEdit6,  CheckBox11,
                              RxSpinEdit7,  CheckBox15,   RxSpinEdit9,  CheckBox19,   CheckBox23,
                              RxSpinEdit13, RxSpinEdit14, CheckBox27,   RxSpinEdit16, CheckBox31,
                              CheckBox35,   RxSpinEdit20, RxSpinEdit21, RxSpinEdit22, RxSpinEdit23,
                              RxSpinEdit24, ComboBox8,    RxSpinEdit25}));
    std::mt19937 rng(20261209);
    for (int round = 0; round < 200; ++round) {
        SettingsSet set;
        for (const SettingRow &r : settingsCatalogue())
            if (r.kind == Kind::RelayBox || r.kind == Kind::Choice)
                set.setValue(r.id, std::uniform_int_distribution<>(r.min, r.max)(rng));
        std::vector<Setting> expected;
        for (const SettingRow &r : settingsCatalogue())
            if (!settingInUse(set, r.id))
                expected.push_back(r.id);
        EXPECT_EQ(unusedInCsv(set), expected) << round;
    }
}

// The relay matrix marks the "ВЫХ.3" column while the self-diagnosis ("ДА") holds output 3.
TEST(SettingsReport, TheRelayMatrixMarksOutputThreeWhileTheSelfDiagnosisHoldsIt)
{
    SettingsSet set; // "ДА" at start
    const report::Table held = report::relayMatrix(set, {});
    EXPECT_EQ(held.header.back(), "ВЫХ.3 *");
    EXPECT_NE(held.note.find("Выход 3 занят самодиагностикой"), std::string::npos);
    set.setValue(ComboBox2, 1); // "НЕТ"
    const report::Table free = report::relayMatrix(set, {});
    EXPECT_EQ(free.header.back(), "ВЫХ.3");
    EXPECT_EQ(free.note, "");
}
