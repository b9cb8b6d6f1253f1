#pragma once
// The KSB-7's settings, each described once: the control that holds it on the main window's
// pages, its caption, kind, range, step, factory value and unit, where the configuration file
// keeps it and where the unit's registers carry it. The pages, the configuration file, the
// register map, the comparison, the report and the command-line tool all read these rows.
//
// Texts are UTF-8 here; the configuration file converts them to code page 1251 at its edge.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qvoksb
{

// The settings by the names of their controls, in the order of the pages (and of the file).
enum class Setting : uint8_t {
    // КОНФИГУРАЦИЯ
    RxSpinEdit1, RxSpinEdit2, ComboBox1, RxSpinEdit3, ComboBox2, RxSpinEdit4,
    CheckBox1, CheckBox2, CheckBox3, RxSpinEdit5,
    CheckBox7, CheckBox4, CheckBox5, CheckBox6, RxSpinEdit6,
    CheckBox8, CheckBox9, CheckBox10, CheckBox11, RxSpinEdit7,
    // УСТАВКИ МТЗ
    CheckBox12, CheckBox13, CheckBox14, CheckBox15, RxSpinEdit8, ComboBox3, RxSpinEdit9,
    RxSpinEdit10,
    CheckBox16, CheckBox17, CheckBox18, CheckBox19, RxSpinEdit11, RxSpinEdit12,
    CheckBox20, CheckBox21, CheckBox22, CheckBox23, RxSpinEdit13, RxSpinEdit14,
    // УСТАВКИ ОЗЗ
    CheckBox24, CheckBox25, CheckBox26, CheckBox27, RxSpinEdit15, ComboBox4, RxSpinEdit16,
    RxSpinEdit17,
    CheckBox28, CheckBox29, CheckBox30, CheckBox31, RxSpinEdit18, RxSpinEdit19,
    CheckBox32, CheckBox33, CheckBox34, CheckBox35, RxSpinEdit20, RxSpinEdit21,
    // ВЫХОДНЫЕ РЕЛЕ
    ComboBox5, RxSpinEdit22, ComboBox6, RxSpinEdit23, ComboBox7, RxSpinEdit24, ComboBox8,
    RxSpinEdit25,
    // ВХОДЫ ЦИФРОВЫЕ
    ComboBox9, ComboBox10, ComboBox11, ComboBox12, ComboBox13, ComboBox14,
    // УПРАВЛЕНИЕ: the last trip
    EEvent, EDt,
};
inline constexpr std::size_t SettingCount = 76;

enum class Page : uint8_t { Configuration = 1, Overcurrent, EarthFault, OutputRelays, DigitalInputs, Control };

enum class Kind : uint8_t {
    Numeric,  // spin edit: an integer in [min, max]
    Choice,   // drop-down list: an item index, -1 for no item chosen
    RelayBox, // one box of a relay-output set: 0 or 1
    Text,     // display text of the last trip
};

// The item lists of the drop-down lists.
enum class ItemList : uint8_t { None, EarthMethod, SelfDiagnosis, Characteristic, RelayMode, InputFunction, Contact };

// The items of the characteristic list (ComboBox3, ComboBox4); the curve constants of the
// characteristics follow their order.
inline constexpr std::array<const char *, 13> CharacteristicItems = {
    "НЕЗАВИСИМОЕ",
    "ANSI слабая зависимость",
    "ANSI нормальная зависимость",
    "ANSI сильная зависимость",
    "ANSI чрезвычайно сильная зависимость",
    "IAC слабая зависимость",
    "IAC нормальная зависимость",
    "IAC сильная зависимость",
    "IAC чрезвычайно сильная зависимость",
    "IEC слабая зависимость",
    "IEC-A нормальная зависимость",
    "IEC-B сильная зависимость",
    "IEC-C очень сильная зависимость",
};

// The configuration file's sections, in file order.
enum class FileSection : uint8_t { Configuration, Overcurrent, EarthFault, OutputRelays, DigitalInputs, LastTrip };
inline constexpr std::size_t FileSectionCount = 6;

// How a setting travels in its register.
enum class RegisterEncoding : uint8_t {
    None,         // not carried by the configuration blocks
    Plain,        // the value
    Tens,         // the value in units of 10 (ms), truncated
    Hundreds,     // the value in units of 100 (ms), truncated
    Index,        // the item index; no item chosen is 0xFFFF
    MaskBit,      // a relay box: its bit of the set's mask (0 ВЫКЛ, 1..3 ВЫХ.1..3)
    Frequency60,  // the bit set for 60 Hz; read back as 50 or 60
    ItemBits,     // one bit per item from `bit` up; reading takes the highest set bit, and with
                  // none set the list keeps its item
    FirstItemBit, // the bit set for item 0; a clear bit reads back as item 1
    IndexBit,     // the item index AND 1
};

struct RegisterField {
    uint16_t address = 0;
    uint8_t bit = 0;
    RegisterEncoding encoding = RegisterEncoding::None;
};

struct SettingRow {
    Setting id;
    const char *control;   // the control's name on the page
    Page page;
    const char *label;     // the name of the caption's label (a relay box: its set's label)
    const char *caption;   // the label's text; \r\n where the page breaks the line
    const char *group;     // the frame the row sits in on pages 4 and 5 ("ВЫКЛ", "ВХОД 1"), or ""
    Kind kind;
    int min, max, step, start; // step: the first step; some steps change with the value
    ItemList items;
    const char *unit;      // shown to a person: "мсек", "А", "%ТТ", "кА", "Гц" or ""
    FileSection section;
    const char *key;       // the configuration file's key in its section
    RegisterField reg;
    uint8_t relaySet;      // a relay box: its set 1..9; otherwise 0
    uint8_t box;           // a relay box: 0 ВЫКЛ, 1 ВЫХ.1, 2 ВЫХ.2, 3 ВЫХ.3
    const char *hint;      // pop-up hint of the control and its label, or ""
};

const std::array<SettingRow, SettingCount> &settingsCatalogue();
const SettingRow &rowOf(Setting s);
// The row of a control name ("RxSpinEdit9"); null for a name that is no stored setting.
const SettingRow *findRow(std::string_view control);

inline constexpr std::size_t indexOf(Setting s)
{
    return static_cast<std::size_t>(s);
}

// The items of a list, from index 0.
std::span<const char *const> itemsOf(ItemList list);

// A caption on one line (a line break becomes a space), without the colon that ends it on the
// page.
std::string plainCaption(std::string_view caption);
// A setting's name wherever it is printed (the report's tables aside, which show the frame and
// the relay as their rows and columns): its caption on one line, after the frame it sits in
// ("ВХОД 1: Функция активации") or before the relay of its box ("...: ВЫХ.1").
std::string displayCaption(Setting s);

extern const char *const FileSectionNames[FileSectionCount];
extern const char *const PageCaptions[7]; // by Page - 1: "КОНФИГУРАЦИЯ" ... "CСОСТОЯНИЕ ..."
extern const char *const RelayBoxCaptions[4]; // "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3"

// The nine relay-output sets: their boxes "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3" (the first set has
// no "ВЫКЛ" box: the auxiliary-contact alarm cannot trip the breaker).
struct RelaySet {
    int number;
    const char *label;
    bool hasTripBox;
    std::array<Setting, 4> boxes; // boxes[0] is meaningless when !hasTripBox
};
extern const std::array<RelaySet, 9> RelaySets;

} // namespace qvoksb
