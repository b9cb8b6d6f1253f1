#include "core/settings/settings_catalogue.h"

#include "core/modbus/modbus_rtu.h"

#include <string_view>

namespace qvoksb
{

namespace
{

using enum Setting;
using K = Kind;
using L = ItemList;
using F = FileSection;
using E = RegisterEncoding;

constexpr const char *earthMethodItems[] = {"УТЕЧКА", "НУЛЕВАЯ ПОСЛЕДОВАТЕЛЬНОСТЬ"};
constexpr const char *selfDiagnosisItems[] = {"ДА", "НЕТ"};
constexpr const char *relayModeItems[] = {"ЗАЩЕЛКА", "ИМПУЛЬСНЫЙ"};
constexpr const char *inputFunctionItems[] = {
    "НЕТ",
    "ВЫКЛЮЧАТЕЛЬ ЗАЗЕМЛЕН",
    "ВНЕШНИЙ СБРОС",
    "ДИСТАНЦИОННОЕ ОТКЛЮЧЕНИЕ",
    "БЛОКИРОВКА ВЫКЛЮЧАТЕЛЯ",
    "АКТИВИРОВАТЬ ВЫХОД 1",
    "АКТИВИРОВАТЬ ВЫХОД 2",
    "АКТИВИРОВАТЬ ВЫХОД 3",
};
constexpr const char *contactItems[] = {"ЗАМКНУТ", "РАЗОМКНУТ"};

constexpr const char *multiplierHint =
    "значение должно быть в 10 раз больше реально записываемого в блок";

// Row builders: one line per setting below. The order of the arguments follows SettingRow.
constexpr SettingRow number(Setting id, const char *control, Page page, const char *label,
                            const char *caption, int min, int max, int step, int start,
                            const char *unit, F section, const char *key, RegisterField reg,
                            const char *group = "", const char *hint = "")
{
    return {id,  control, page,        label,   caption, group, K::Numeric, min, max, step,
            start, L::None, unit,      section, key,     reg,   0,          0,   hint};
}
constexpr SettingRow choice(Setting id, const char *control, Page page, const char *label,
                            const char *caption, ItemList items, int start, F section,
                            const char *key, RegisterField reg, const char *group = "")
{
    const int last = items == L::Characteristic  ? int(CharacteristicItems.size()) - 1
                     : items == L::InputFunction ? 7
                                                 : 1;
    return {id,    control, page, label,   caption, group, K::Choice, -1, last, 1,
            start, items,   "",   section, key,     reg,   0,         0,  ""};
}
// The boxes of relay set `set`, captioned by `label`; the file keys are the set's key stem
// followed by "ВЫКЛ", "ВЫХ1", "ВЫХ2", "ВЫХ3".
constexpr SettingRow relayBox(Setting id, const char *control, Page page, int set,
                              const char *label, const char *caption, int box, bool start,
                              F section, const char *key, uint16_t reg)
{
    return {id,     control, page, label,   caption, "",
            K::RelayBox, 0, 1, 1, start ? 1 : 0, L::None, "", section, key,
            {reg, uint8_t(box), E::MaskBit}, uint8_t(set), uint8_t(box), ""};
}
constexpr SettingRow text(Setting id, const char *control, const char *label,
                          const char *caption, const char *key)
{
    return {id, control, Page::Control, label, caption, "", K::Text, 0, 0, 0, 0, L::None, "",
            F::LastTrip, key, {}, 0, 0, ""};
}

constexpr RegisterField reg(uint16_t address, E encoding = E::Plain, uint8_t bit = 0)
{
    return {address, bit, encoding};
}

constexpr Page P1 = Page::Configuration, P2 = Page::Overcurrent, P3 = Page::EarthFault,
               P4 = Page::OutputRelays, P5 = Page::DigitalInputs;

constexpr const char *set1 = "Доп. контакт выключателя (Реле):";
constexpr const char *set2 = "Превышение числа\r\nмехан.срабатываний (Реле):";
constexpr const char *set3 = "Накопленный ток (Реле):";
constexpr const char *set4 = "Времязависимая МТЗ в фазах (Реле):";
constexpr const char *set5 = "Токовая отсечка в фазах (Реле):";
constexpr const char *set6 = "Тревога-ТП в фазах (Реле):";
constexpr const char *set7 = "Времязависимая МТЗ на землю (Реле):";
constexpr const char *set8 = "Токовая отсечка на землю (Реле):";
constexpr const char *set9 = "Тревога-КЗ на землю (Реле):";
constexpr const char *mode = "Режим работы:";
constexpr const char *pulse = "Длительность импульса (мсек):";
constexpr const char *function = "Функция активации:";
constexpr const char *contact = "Состояние контактов при активации:";

// One row per setting, in the order of the pages, which is also the order of the configuration
// file's keys. Files in the field carry the keys byte for byte: the three relay-mode keys of
// ВЫХ.1 to ВЫХ.3 are spelt with a Latin X (0x58), every other "ВЫХ" with the Cyrillic Х.
// The registers: which block and bit carries the setting, and in what units.
constexpr std::array<SettingRow, SettingCount> rows = {{
    // --- КОНФИГУРАЦИЯ -------------------------------------------------------------------------
    number(RxSpinEdit1, "RxSpinEdit1", P1, "LSystem1", "Частота сети (Гц):", 50, 60, 10, 50, "Гц",
           F::Configuration, "Частота сети", reg(257, E::Frequency60, 0)),
    number(RxSpinEdit2, "RxSpinEdit2", P1, "LSystem2", "Ток первичной обмотки применяемого ТТ (А):",
           5, 5000, 5, 100, "А", F::Configuration, "Ток первичной обмотки применяемого ТТ",
           reg(258)),
    choice(ComboBox1, "ComboBox1", P1, "LSystem3", "Способ выявления ОЗЗ:", L::EarthMethod, 1,
           F::Configuration, "Способ выявления ОЗЗ", reg(257, E::ItemBits, 5)),
    number(RxSpinEdit3, "RxSpinEdit3", P1, "LSystem4",
           "Ток первичной обмотки применяемого ТНП (А):", 5, 5000, 5, 100, "А", F::Configuration,
           "Ток первичной обмотки применяемого ТНП", reg(259)),
    choice(ComboBox2, "ComboBox2", P1, "LSystem6", "Режим самодиагностики (ВЫХ.3):",
           L::SelfDiagnosis, 0, F::Configuration, "Режим самодиагностики",
           reg(257, E::FirstItemBit, 10)),
    number(RxSpinEdit4, "RxSpinEdit4", P1, "LSystem7", "Блокировка выключателя. Задержка (мсек):",
           50, 1000, 10, 150, "мсек", F::Configuration, "Блокировка выключателя. Задержка",
           reg(267, E::Tens)),
    relayBox(CheckBox1, "CheckBox1", P1, 1, "LSystem8", set1, 1, false, F::Configuration,
             "Доп. контакт выключателя ВЫХ1", 277),
    relayBox(CheckBox2, "CheckBox2", P1, 1, "LSystem8", set1, 2, false, F::Configuration,
             "Доп. контакт выключателя ВЫХ2", 277),
    relayBox(CheckBox3, "CheckBox3", P1, 1, "LSystem8", set1, 3, false, F::Configuration,
             "Доп. контакт выключателя ВЫХ3", 277),
    number(RxSpinEdit5, "RxSpinEdit5", P1, "LSystem9", "Доп. контакт выключателя. Задержка (мсек):",
           10, 2500, 5, 1000, "мсек", F::Configuration, "Доп. контакт выключателя. Задержка",
           reg(278)),
    relayBox(CheckBox7, "CheckBox7", P1, 2, "LSystem10", set2, 0, false, F::Configuration,
             "Механ.Срабатыв.ВЫКЛ", 279),
    relayBox(CheckBox4, "CheckBox4", P1, 2, "LSystem10", set2, 1, false, F::Configuration,
             "Механ.Срабатыв.ВЫХ1", 279),
    relayBox(CheckBox5, "CheckBox5", P1, 2, "LSystem10", set2, 2, false, F::Configuration,
             "Механ.Срабатыв.ВЫХ2", 279),
    relayBox(CheckBox6, "CheckBox6", P1, 2, "LSystem10", set2, 3, false, F::Configuration,
             "Механ.Срабатыв.ВЫХ3", 279),
    number(RxSpinEdit6, "RxSpinEdit6", P1, "LSystem11", "Число механ.срабатываний:", 5, 9995, 5,
           3000, "", F::Configuration, "Число механ.срабатываний", reg(280)),
    relayBox(CheckBox8, "CheckBox8", P1, 3, "LSystem12", set3, 0, false, F::Configuration,
             "Накопленный ток ВЫКЛ", 281),
    relayBox(CheckBox9, "CheckBox9", P1, 3, "LSystem12", set3, 1, false, F::Configuration,
             "Накопленный ток ВЫХ1", 281),
    relayBox(CheckBox10, "CheckBox10", P1, 3, "LSystem12", set3, 2, false, F::Configuration,
             "Накопленный ток ВЫХ2", 281),
    relayBox(CheckBox11, "CheckBox11", P1, 3, "LSystem12", set3, 3, false, F::Configuration,
             "Накопленный ток ВЫХ3", 281),
    number(RxSpinEdit7, "RxSpinEdit7", P1, "LSystem13", "Величина накопленного тока (кА):", 10,
           5000, 1, 300, "кА", F::Configuration, "Величина накопленного тока", reg(282)),

    // --- УСТАВКИ МТЗ --------------------------------------------------------------------------
    relayBox(CheckBox12, "CheckBox12", P2, 4, "LMTZ1", set4, 0, true, F::Overcurrent,
             "Времязависимая МТЗ в фазах ВЫКЛ", 384),
    relayBox(CheckBox13, "CheckBox13", P2, 4, "LMTZ1", set4, 1, false, F::Overcurrent,
             "Времязависимая МТЗ в фазах ВЫХ1", 384),
    relayBox(CheckBox14, "CheckBox14", P2, 4, "LMTZ1", set4, 2, false, F::Overcurrent,
             "Времязависимая МТЗ в фазах ВЫХ2", 384),
    relayBox(CheckBox15, "CheckBox15", P2, 4, "LMTZ1", set4, 3, false, F::Overcurrent,
             "Времязависимая МТЗ в фазах ВЫХ3", 384),
    number(RxSpinEdit8, "RxSpinEdit8", P2, "LMTZ2", "Времязависимая МТЗ в фазах. Порог (%ТТ):", 4,
           300, 1, 4, "%ТТ", F::Overcurrent, "Времязависимая МТЗ в фазах. Порог", reg(385)),
    choice(ComboBox3, "ComboBox3", P2, "LMTZ3", "Вид МТЗ в фазах:", L::Characteristic, 1,
           F::Overcurrent, "Вид МТЗ в фазах", reg(386, E::Index)),
    number(RxSpinEdit9, "RxSpinEdit9", P2, "LMTZ4", "Времязависимая МТЗ в фазах. Задержка (мсек):",
           50, 600000, 100, 1000, "мсек", F::Overcurrent, "Времязависимая МТЗ в фазах. Задержка",
           reg(388, E::Tens)),
    number(RxSpinEdit10, "RxSpinEdit10", P2, "LMTZ5", "Вид МТЗ в фазах. Множитель (x10):", 1, 200,
           1, 10, "", F::Overcurrent, "Вид МТЗ в фазах. Множитель", reg(387), "", multiplierHint),
    relayBox(CheckBox16, "CheckBox16", P2, 5, "LMTZ6", set5, 0, true, F::Overcurrent,
             "Токовая отсечка в фазах ВЫКЛ", 389),
    relayBox(CheckBox17, "CheckBox17", P2, 5, "LMTZ6", set5, 1, false, F::Overcurrent,
             "Токовая отсечка в фазах ВЫХ1", 389),
    relayBox(CheckBox18, "CheckBox18", P2, 5, "LMTZ6", set5, 2, false, F::Overcurrent,
             "Токовая отсечка в фазах ВЫХ2", 389),
    relayBox(CheckBox19, "CheckBox19", P2, 5, "LMTZ6", set5, 3, false, F::Overcurrent,
             "Токовая отсечка в фазах ВЫХ3", 389),
    number(RxSpinEdit11, "RxSpinEdit11", P2, "LMTZ7", "Токовая отсечка в фазах. Порог (%ТТ):", 4,
           1800, 1, 40, "%ТТ", F::Overcurrent, "Токовая отсечка в фазах. Порог", reg(390)),
    number(RxSpinEdit12, "RxSpinEdit12", P2, "LMTZ8", "Токовая отсечка в фазах. Задержка (мсек):",
           0, 2000, 10, 0, "мсек", F::Overcurrent, "Токовая отсечка в фазах. Задержка", reg(391)),
    relayBox(CheckBox20, "CheckBox20", P2, 6, "LMTZ9", set6, 0, false, F::Overcurrent,
             "Тревога-ТП в фазах ВЫКЛ", 392),
    relayBox(CheckBox21, "CheckBox21", P2, 6, "LMTZ9", set6, 1, false, F::Overcurrent,
             "Тревога-ТП в фазах ВЫХ1", 392),
    relayBox(CheckBox22, "CheckBox22", P2, 6, "LMTZ9", set6, 2, false, F::Overcurrent,
             "Тревога-ТП в фазах ВЫХ2", 392),
    relayBox(CheckBox23, "CheckBox23", P2, 6, "LMTZ9", set6, 3, false, F::Overcurrent,
             "Тревога-ТП в фазах ВЫХ3", 392),
    number(RxSpinEdit13, "RxSpinEdit13", P2, "LMTZ10", "Тревога-ТП в фазах. Порог (%ТТ):", 4, 300,
           1, 4, "%ТТ", F::Overcurrent, "Тревога-ТП в фазах. Порог", reg(393)),
    number(RxSpinEdit14, "RxSpinEdit14", P2, "LMTZ11", "Тревога-ТП в фазах. Задержка (мсек):", 50,
           600000, 100, 1000, "мсек", F::Overcurrent, "Тревога-ТП в фазах. Задержка",
           reg(394, E::Tens)),

    // --- УСТАВКИ ОЗЗ --------------------------------------------------------------------------
    relayBox(CheckBox24, "CheckBox24", P3, 7, "LOZZ1", set7, 0, true, F::EarthFault,
             "Времязависимая МТЗ на землю ВЫКЛ", 395),
    relayBox(CheckBox25, "CheckBox25", P3, 7, "LOZZ1", set7, 1, false, F::EarthFault,
             "Времязависимая МТЗ на землю ВЫХ1", 395),
    relayBox(CheckBox26, "CheckBox26", P3, 7, "LOZZ1", set7, 2, false, F::EarthFault,
             "Времязависимая МТЗ на землю ВЫХ2", 395),
    relayBox(CheckBox27, "CheckBox27", P3, 7, "LOZZ1", set7, 3, false, F::EarthFault,
             "Времязависимая МТЗ на землю ВЫХ3", 395),
    number(RxSpinEdit15, "RxSpinEdit15", P3, "LOZZ2", "Времязависимая МТЗ на землю. Порог (%ТТ):",
           4, 300, 1, 12, "%ТТ", F::EarthFault, "Времязависимая МТЗ на землю. Порог", reg(396)),
    choice(ComboBox4, "ComboBox4", P3, "LOZZ3", "Вид МТЗ на землю:", L::Characteristic, 1,
           F::EarthFault, "Вид МТЗ на землю", reg(397, E::Index)),
    number(RxSpinEdit16, "RxSpinEdit16", P3, "LOZZ4",
           "Времязависимая МТЗ на землю. Задержка (мсек):", 50, 600000, 100, 1000, "мсек",
           F::EarthFault, "Времязависимая МТЗ на землю. Задержка", reg(399, E::Tens)),
    number(RxSpinEdit17, "RxSpinEdit17", P3, "LOZZ5", "Вид МТЗ на землю. Множитель (x10):", 1, 200,
           1, 10, "", F::EarthFault, "Вид МТЗ на землю. Множитель", reg(398), "", multiplierHint),
    relayBox(CheckBox28, "CheckBox28", P3, 8, "LOZZ6", set8, 0, true, F::EarthFault,
             "Токовая отсечка на землю ВЫКЛ", 400),
    relayBox(CheckBox29, "CheckBox29", P3, 8, "LOZZ6", set8, 1, false, F::EarthFault,
             "Токовая отсечка на землю ВЫХ1", 400),
    relayBox(CheckBox30, "CheckBox30", P3, 8, "LOZZ6", set8, 2, false, F::EarthFault,
             "Токовая отсечка на землю ВЫХ2", 400),
    relayBox(CheckBox31, "CheckBox31", P3, 8, "LOZZ6", set8, 3, false, F::EarthFault,
             "Токовая отсечка на землю ВЫХ3", 400),
    number(RxSpinEdit18, "RxSpinEdit18", P3, "LOZZ7", "Токовая отсечка на землю. Порог (%ТТ):", 4,
           1800, 1, 40, "%ТТ", F::EarthFault, "Токовая отсечка на землю. Порог", reg(401)),
    number(RxSpinEdit19, "RxSpinEdit19", P3, "LOZZ8", "Токовая отсечка на землю. Задержка (мсек):",
           0, 2000, 10, 0, "мсек", F::EarthFault, "Токовая отсечка на землю. Задержка", reg(402)),
    relayBox(CheckBox32, "CheckBox32", P3, 9, "LOZZ9", set9, 0, false, F::EarthFault,
             "Тревога-КЗ на землю ВЫКЛ", 403),
    relayBox(CheckBox33, "CheckBox33", P3, 9, "LOZZ9", set9, 1, false, F::EarthFault,
             "Тревога-КЗ на землю ВЫХ1", 403),
    relayBox(CheckBox34, "CheckBox34", P3, 9, "LOZZ9", set9, 2, false, F::EarthFault,
             "Тревога-КЗ на землю ВЫХ2", 403),
    relayBox(CheckBox35, "CheckBox35", P3, 9, "LOZZ9", set9, 3, false, F::EarthFault,
             "Тревога-КЗ на землю ВЫХ3", 403),
    number(RxSpinEdit20, "RxSpinEdit20", P3, "LOZZ10", "Тревога-КЗ на землю. Порог (%ТТ):", 4, 300,
           1, 12, "%ТТ", F::EarthFault, "Тревога-КЗ на землю. Порог", reg(404)),
    number(RxSpinEdit21, "RxSpinEdit21", P3, "LOZZ11", "Тревога-КЗ на землю. Задержка (мсек):", 50,
           600000, 100, 1000, "мсек", F::EarthFault, "Тревога-КЗ на землю. Задержка",
           reg(405, E::Tens)),

    // --- ВЫХОДНЫЕ РЕЛЕ: relay modes in register 262 (bits 0, 2, 4, 6), pulses in 100 ms -------
    choice(ComboBox5, "ComboBox5", P4, "LDO1", mode, L::RelayMode, 0, F::OutputRelays,
           "Режим работы реле ВЫКЛ", reg(262, E::IndexBit, 0), "ВЫКЛ"),
    number(RxSpinEdit22, "RxSpinEdit22", P4, "LDO2", pulse, 100, 2000, 100, 200, "мсек",
           F::OutputRelays, "Длительность импульса реле ВЫКЛ", reg(263, E::Hundreds), "ВЫКЛ"),
    choice(ComboBox6, "ComboBox6", P4, "LDO3", mode, L::RelayMode, 0, F::OutputRelays,
           "Режим работы реле ВЫX1", reg(262, E::IndexBit, 2), "ВЫХ.1"), // Latin X
    number(RxSpinEdit23, "RxSpinEdit23", P4, "LDO4", pulse, 100, 2000, 100, 200, "мсек",
           F::OutputRelays, "Длительность импульса реле ВЫХ1", reg(264, E::Hundreds), "ВЫХ.1"),
    choice(ComboBox7, "ComboBox7", P4, "LDO5", mode, L::RelayMode, 0, F::OutputRelays,
           "Режим работы реле ВЫX2", reg(262, E::IndexBit, 4), "ВЫХ.2"), // Latin X
    number(RxSpinEdit24, "RxSpinEdit24", P4, "LDO6", pulse, 100, 2000, 100, 200, "мсек",
           F::OutputRelays, "Длительность импульса реле ВЫХ2", reg(265, E::Hundreds), "ВЫХ.2"),
    choice(ComboBox8, "ComboBox8", P4, "LDO7", mode, L::RelayMode, 0, F::OutputRelays,
           "Режим работы реле ВЫX3", reg(262, E::IndexBit, 6), "ВЫХ.3"), // Latin X
    number(RxSpinEdit25, "RxSpinEdit25", P4, "LDO8", pulse, 100, 2000, 100, 200, "мсек",
           F::OutputRelays, "Длительность импульса реле ВЫХ3", reg(266, E::Hundreds), "ВЫХ.3"),

    // --- ВХОДЫ ЦИФРОВЫЕ: contact states in register 269 (bits 0..2), functions in 270..272 ----
    choice(ComboBox9, "ComboBox9", P5, "LDI1", function, L::InputFunction, 0, F::DigitalInputs,
           "Функция активации ВХОД1", reg(270, E::Index), "ВХОД 1"),
    choice(ComboBox10, "ComboBox10", P5, "LDI2", contact, L::Contact, 0, F::DigitalInputs,
           "Состояние контактов при активации ВХОД1", reg(269, E::IndexBit, 0), "ВХОД 1"),
    choice(ComboBox11, "ComboBox11", P5, "LDI3", function, L::InputFunction, 2, F::DigitalInputs,
           "Функция активации ВХОД2", reg(271, E::Index), "ВХОД 2"),
    choice(ComboBox12, "ComboBox12", P5, "LDI4", contact, L::Contact, 0, F::DigitalInputs,
           "Состояние контактов при активации ВХОД2", reg(269, E::IndexBit, 1), "ВХОД 2"),
    choice(ComboBox13, "ComboBox13", P5, "LDI5", function, L::InputFunction, 1, F::DigitalInputs,
           "Функция активации ВХОД3", reg(272, E::Index), "ВХОД 3"),
    choice(ComboBox14, "ComboBox14", P5, "LDI6", contact, L::Contact, 0, F::DigitalInputs,
           "Состояние контактов при активации ВХОД3", reg(269, E::IndexBit, 2), "ВХОД 3"),

    // --- УПРАВЛЕНИЕ: the last trip as read from the unit ---------------------------------------
    text(EEvent, "EEvent", "Label4", "Причина откл:", "Причина отключения"),
    text(EDt, "EDt", "Label3", "Дата и время:", "Дата и время"),
}};

// --- checks of the table, at compile time ------------------------------------------------------

constexpr bool sameText(const char *a, const char *b)
{
    return std::string_view(a) == std::string_view(b);
}

// Rows stand at the place of their name, so rows[indexOf(s)] is the row of s.
constexpr bool rowsInEnumOrder()
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (indexOf(rows[i].id) != i)
            return false;
    return true;
}
static_assert(rowsInEnumOrder());

// Every row has a key of its own in its section, and the sections come in file order.
constexpr bool fileKeysOnce()
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0 && rows[i].section < rows[i - 1].section)
            return false;
        for (std::size_t j = 0; j < i; ++j)
            if (rows[i].section == rows[j].section && sameText(rows[i].key, rows[j].key))
                return false;
    }
    return true;
}
static_assert(rows.size() == 76 && fileKeysOnce(), "the configuration file holds 76 keys");

// The bits of its register a row carries.
constexpr uint16_t bitsOf(const SettingRow &r)
{
    switch (r.reg.encoding) {
    case E::None:
        return 0;
    case E::Plain:
    case E::Tens:
    case E::Hundreds:
    case E::Index:
        return 0xFFFF;
    case E::ItemBits:
        return uint16_t(((1u << (r.max + 1)) - 1) << r.reg.bit);
    case E::MaskBit:
    case E::Frequency60:
    case E::FirstItemBit:
    case E::IndexBit:
        return uint16_t(1u << r.reg.bit);
    }
    return 0;
}

// Every register of the seven blocks carries at least one setting, no bit carries two, every
// row but the last-trip texts lies in a block, and a relay box sits on its own bit of its set.
constexpr bool registersOnce()
{
    for (const modbus::Block &block : modbus::ConfigurationBlocks) {
        for (int address = block.first; address < block.first + block.count; ++address) {
            uint16_t used = 0;
            for (const SettingRow &r : rows) {
                if (r.reg.address != address)
                    continue;
                if (used & bitsOf(r))
                    return false;
                used |= bitsOf(r);
            }
            if (used == 0)
                return false;
        }
    }
    for (const SettingRow &r : rows) {
        if (r.kind == K::Text) {
            if (r.reg.encoding != E::None)
                return false;
            continue;
        }
        bool inBlock = false;
        for (const modbus::Block &block : modbus::ConfigurationBlocks)
            inBlock = inBlock || (r.reg.address >= block.first &&
                                  r.reg.address < block.first + block.count);
        if (!inBlock)
            return false;
        if ((r.kind == K::RelayBox) != (r.reg.encoding == E::MaskBit))
            return false;
        if (r.kind == K::RelayBox && r.reg.bit != r.box)
            return false;
    }
    return true;
}
static_assert(registersOnce(), "every register bit of the blocks is carried once");

constexpr bool startsInRange()
{
    for (const SettingRow &r : rows)
        if (r.kind != K::Text && (r.start < r.min || r.start > r.max || r.start < 0))
            return false;
    return true;
}
static_assert(startsInRange());

} // namespace

const char *const FileSectionNames[FileSectionCount] = {
    "КОНФИГУРАЦИЯ",  "УСТАВКИ МТЗ",    "УСТАВКИ ОЗЗ",
    "ВЫХОДНЫЕ РЕЛЕ", "ВХОДЫ ЦИФРОВЫЕ", "ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ",
};

// The seventh caption begins with a Latin C followed by the Cyrillic word.
const char *const PageCaptions[7] = {
    "КОНФИГУРАЦИЯ",   "УСТАВКИ МТЗ", "УСТАВКИ ОЗЗ", "ВЫХОДНЫЕ РЕЛЕ",
    "ВХОДЫ ЦИФРОВЫЕ", "УПРАВЛЕНИЕ",  "CСОСТОЯНИЕ ВХОДОВ/ВЫХОДОВ",
};

const char *const RelayBoxCaptions[4] = {"ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3"};

constexpr std::array<RelaySet, 9> RelaySets = {{
    {1, "LSystem8", false, {CheckBox1, CheckBox1, CheckBox2, CheckBox3}},
    {2, "LSystem10", true, {CheckBox7, CheckBox4, CheckBox5, CheckBox6}},
    {3, "LSystem12", true, {CheckBox8, CheckBox9, CheckBox10, CheckBox11}},
    {4, "LMTZ1", true, {CheckBox12, CheckBox13, CheckBox14, CheckBox15}},
    {5, "LMTZ6", true, {CheckBox16, CheckBox17, CheckBox18, CheckBox19}},
    {6, "LMTZ9", true, {CheckBox20, CheckBox21, CheckBox22, CheckBox23}},
    {7, "LOZZ1", true, {CheckBox24, CheckBox25, CheckBox26, CheckBox27}},
    {8, "LOZZ6", true, {CheckBox28, CheckBox29, CheckBox30, CheckBox31}},
    {9, "LOZZ9", true, {CheckBox32, CheckBox33, CheckBox34, CheckBox35}},
}};

namespace
{

// The sets name the boxes their rows name: each box once, in its set, at its place, under its
// set's caption, and a set has a "ВЫКЛ" box exactly when a row puts one there.
constexpr bool relaySetsMatchTheRows()
{
    for (std::size_t i = 0; i < RelaySets.size(); ++i) {
        const RelaySet &rs = RelaySets[i];
        if (rs.number != int(i) + 1)
            return false;
        for (std::size_t box = rs.hasTripBox ? 0 : 1; box < rs.boxes.size(); ++box) {
            const SettingRow &r = rows[indexOf(rs.boxes[box])];
            if (r.kind != K::RelayBox || r.relaySet != rs.number || r.box != box ||
                std::string_view(r.label) != rs.label)
                return false;
        }
    }
    for (const SettingRow &r : rows) {
        if (r.kind != K::RelayBox)
            continue;
        if (r.relaySet < 1 || r.relaySet > RelaySets.size())
            return false;
        const RelaySet &rs = RelaySets[r.relaySet - 1];
        if (rs.boxes[r.box] != r.id || (r.box == 0 && !rs.hasTripBox))
            return false;
    }
    return true;
}
static_assert(relaySetsMatchTheRows(), "the relay sets hold the boxes their rows name");

} // namespace

const std::array<SettingRow, SettingCount> &settingsCatalogue()
{
    return rows;
}

const SettingRow &rowOf(Setting s)
{
    return rows[indexOf(s)];
}

const SettingRow *findRow(std::string_view control)
{
    for (const SettingRow &r : rows)
        if (control == r.control)
            return &r;
    return nullptr;
}

std::span<const char *const> itemsOf(ItemList list)
{
    switch (list) {
    case L::None:
        return {};
    case L::EarthMethod:
        return earthMethodItems;
    case L::SelfDiagnosis:
        return selfDiagnosisItems;
    case L::Characteristic:
        return CharacteristicItems;
    case L::RelayMode:
        return relayModeItems;
    case L::InputFunction:
        return inputFunctionItems;
    case L::Contact:
        return contactItems;
    }
    return {};
}

std::string plainCaption(std::string_view caption)
{
    std::string out;
    for (const char c : caption) {
        if (c == '\r')
            continue;
        out += c == '\n' ? ' ' : c;
    }
    while (!out.empty() && (out.back() == ':' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::string displayCaption(Setting s)
{
    const SettingRow &r = rowOf(s);
    const std::string caption = plainCaption(r.caption);
    if (r.kind == Kind::RelayBox)
        return caption + ": " + RelayBoxCaptions[r.box];
    if (r.group[0] != '\0')
        return std::string(r.group) + ": " + caption;
    return caption;
}

} // namespace qvoksb
