// Configuration files: the complete settings set of pages 1 to 5 and the last-trip texts of
// page 6, saved to and opened from an INI-style text file in code page 1251.
//
// One table ties every key of the file to its control and its encoding; the writer walks it to
// produce the file and the reader walks it to put each value back, so both always agree.
#include "Main.h"

#include "Messages.h"
#include "cp1251.h"
#include "profile_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using qvoksb::ProfileFile;

namespace
{

enum class Encoding {
    Number, // spin edit: its whole value as a signed decimal integer
    Flag,   // check box: "1" ticked, "0" clear; any non-zero integer ticks it when read
    Index,  // drop-down list: the zero-based item index, "-1" for no choice
    Text,   // display field: the text as shown, never an error when read
};

enum Section {
    Configuration,
    Overcurrent,
    EarthFault,
    OutputRelays,
    DigitalInputs,
    LastTrip,
    SectionCount
};

// The section names are the captions of the pages (and of the group) that hold the controls.
constexpr const char *sectionNames[SectionCount] = {
    "КОНФИГУРАЦИЯ",  "УСТАВКИ МТЗ",    "УСТАВКИ ОЗЗ",
    "ВЫХОДНЫЕ РЕЛЕ", "ВХОДЫ ЦИФРОВЫЕ", "ИНФОРМАЦИЯ О ПОСЛЕДНЕМ ОТКЛЮЧЕНИИ",
};

// For Text rows the control number is 1 for EEvent and 2 for EDt.
struct Row {
    Section section;
    const char *key;
    Encoding encoding;
    int control;
};

// The 76 keys in the order they are written and read. Files in the field carry these names byte
// for byte: the three relay-mode keys of ВЫХ.1 to ВЫХ.3 are spelt with a Latin X (0x58), while
// every other "ВЫХ" has the Cyrillic Х, and the mechanical-operation group lists its ВЫКЛ box
// (CheckBox7) before the boxes of ВЫХ.1 to ВЫХ.3.
constexpr Row rows[] = {
    {Configuration, "Частота сети", Encoding::Number, 1},
    {Configuration, "Ток первичной обмотки применяемого ТТ", Encoding::Number, 2},
    {Configuration, "Способ выявления ОЗЗ", Encoding::Index, 1},
    {Configuration, "Ток первичной обмотки применяемого ТНП", Encoding::Number, 3},
    {Configuration, "Режим самодиагностики", Encoding::Index, 2},
    {Configuration, "Блокировка выключателя. Задержка", Encoding::Number, 4},
    {Configuration, "Доп. контакт выключателя ВЫХ1", Encoding::Flag, 1},
    {Configuration, "Доп. контакт выключателя ВЫХ2", Encoding::Flag, 2},
    {Configuration, "Доп. контакт выключателя ВЫХ3", Encoding::Flag, 3},
    {Configuration, "Доп. контакт выключателя. Задержка", Encoding::Number, 5},
    {Configuration, "Механ.Срабатыв.ВЫКЛ", Encoding::Flag, 7},
    {Configuration, "Механ.Срабатыв.ВЫХ1", Encoding::Flag, 4},
    {Configuration, "Механ.Срабатыв.ВЫХ2", Encoding::Flag, 5},
    {Configuration, "Механ.Срабатыв.ВЫХ3", Encoding::Flag, 6},
    {Configuration, "Число механ.срабатываний", Encoding::Number, 6},
    {Configuration, "Накопленный ток ВЫКЛ", Encoding::Flag, 8},
    {Configuration, "Накопленный ток ВЫХ1", Encoding::Flag, 9},
    {Configuration, "Накопленный ток ВЫХ2", Encoding::Flag, 10},
    {Configuration, "Накопленный ток ВЫХ3", Encoding::Flag, 11},
    {Configuration, "Величина накопленного тока", Encoding::Number, 7},

    {Overcurrent, "Времязависимая МТЗ в фазах ВЫКЛ", Encoding::Flag, 12},
    {Overcurrent, "Времязависимая МТЗ в фазах ВЫХ1", Encoding::Flag, 13},
    {Overcurrent, "Времязависимая МТЗ в фазах ВЫХ2", Encoding::Flag, 14},
    {Overcurrent, "Времязависимая МТЗ в фазах ВЫХ3", Encoding::Flag, 15},
    {Overcurrent, "Времязависимая МТЗ в фазах. Порог", Encoding::Number, 8},
    {Overcurrent, "Вид МТЗ в фазах", Encoding::Index, 3},
    {Overcurrent, "Времязависимая МТЗ в фазах. Задержка", Encoding::Number, 9},
    {Overcurrent, "Вид МТЗ в фазах. Множитель", Encoding::Number, 10},
    {Overcurrent, "Токовая отсечка в фазах ВЫКЛ", Encoding::Flag, 16},
    {Overcurrent, "Токовая отсечка в фазах ВЫХ1", Encoding::Flag, 17},
    {Overcurrent, "Токовая отсечка в фазах ВЫХ2", Encoding::Flag, 18},
    {Overcurrent, "Токовая отсечка в фазах ВЫХ3", Encoding::Flag, 19},
    {Overcurrent, "Токовая отсечка в фазах. Порог", Encoding::Number, 11},
    {Overcurrent, "Токовая отсечка в фазах. Задержка", Encoding::Number, 12},
    {Overcurrent, "Тревога-ТП в фазах ВЫКЛ", Encoding::Flag, 20},
    {Overcurrent, "Тревога-ТП в фазах ВЫХ1", Encoding::Flag, 21},
    {Overcurrent, "Тревога-ТП в фазах ВЫХ2", Encoding::Flag, 22},
    {Overcurrent, "Тревога-ТП в фазах ВЫХ3", Encoding::Flag, 23},
    {Overcurrent, "Тревога-ТП в фазах. Порог", Encoding::Number, 13},
    {Overcurrent, "Тревога-ТП в фазах. Задержка", Encoding::Number, 14},

    {EarthFault, "Времязависимая МТЗ на землю ВЫКЛ", Encoding::Flag, 24},
    {EarthFault, "Времязависимая МТЗ на землю ВЫХ1", Encoding::Flag, 25},
    {EarthFault, "Времязависимая МТЗ на землю ВЫХ2", Encoding::Flag, 26},
    {EarthFault, "Времязависимая МТЗ на землю ВЫХ3", Encoding::Flag, 27},
    {EarthFault, "Времязависимая МТЗ на землю. Порог", Encoding::Number, 15},
    {EarthFault, "Вид МТЗ на землю", Encoding::Index, 4},
    {EarthFault, "Времязависимая МТЗ на землю. Задержка", Encoding::Number, 16},
    {EarthFault, "Вид МТЗ на землю. Множитель", Encoding::Number, 17},
    {EarthFault, "Токовая отсечка на землю ВЫКЛ", Encoding::Flag, 28},
    {EarthFault, "Токовая отсечка на землю ВЫХ1", Encoding::Flag, 29},
    {EarthFault, "Токовая отсечка на землю ВЫХ2", Encoding::Flag, 30},
    {EarthFault, "Токовая отсечка на землю ВЫХ3", Encoding::Flag, 31},
    {EarthFault, "Токовая отсечка на землю. Порог", Encoding::Number, 18},
    {EarthFault, "Токовая отсечка на землю. Задержка", Encoding::Number, 19},
    {EarthFault, "Тревога-КЗ на землю ВЫКЛ", Encoding::Flag, 32},
    {EarthFault, "Тревога-КЗ на землю ВЫХ1", Encoding::Flag, 33},
    {EarthFault, "Тревога-КЗ на землю ВЫХ2", Encoding::Flag, 34},
    {EarthFault, "Тревога-КЗ на землю ВЫХ3", Encoding::Flag, 35},
    {EarthFault, "Тревога-КЗ на землю. Порог", Encoding::Number, 20},
    {EarthFault, "Тревога-КЗ на землю. Задержка", Encoding::Number, 21},

    {OutputRelays, "Режим работы реле ВЫКЛ", Encoding::Index, 5},
    {OutputRelays, "Длительность импульса реле ВЫКЛ", Encoding::Number, 22},
    {OutputRelays, "Режим работы реле ВЫX1", Encoding::Index, 6}, // Latin X (0x58)
    {OutputRelays, "Длительность импульса реле ВЫХ1", Encoding::Number, 23},
    {OutputRelays, "Режим работы реле ВЫX2", Encoding::Index, 7}, // Latin X (0x58)
    {OutputRelays, "Длительность импульса реле ВЫХ2", Encoding::Number, 24},
    {OutputRelays, "Режим работы реле ВЫX3", Encoding::Index, 8}, // Latin X (0x58)
    {OutputRelays, "Длительность импульса реле ВЫХ3", Encoding::Number, 25},

    {DigitalInputs, "Функция активации ВХОД1", Encoding::Index, 9},
    {DigitalInputs, "Состояние контактов при активации ВХОД1", Encoding::Index, 10},
    {DigitalInputs, "Функция активации ВХОД2", Encoding::Index, 11},
    {DigitalInputs, "Состояние контактов при активации ВХОД2", Encoding::Index, 12},
    {DigitalInputs, "Функция активации ВХОД3", Encoding::Index, 13},
    {DigitalInputs, "Состояние контактов при активации ВХОД3", Encoding::Index, 14},

    {LastTrip, "Причина отключения", Encoding::Text, 1},
    {LastTrip, "Дата и время", Encoding::Text, 2},
};
static_assert(std::size(rows) == 76, "a configuration file holds 76 keys");

// The names as they stand in the file, converted once from the source's UTF-8.
struct FileNames {
    std::string sections[SectionCount];
    std::vector<std::string> keys;
};

const FileNames &fileNames()
{
    static const FileNames names = [] {
        FileNames n;
        for (int s = 0; s < SectionCount; ++s)
            n.sections[s] = qvoksb::cp1251FromUtf8(sectionNames[s]);
        for (const Row &row : rows)
            n.keys.push_back(qvoksb::cp1251FromUtf8(row.key));
        return n;
    }();
    return names;
}

QLineEdit *textField(const TFKsb &w, int control)
{
    return control == 1 ? w.EEvent : w.EDt;
}

std::string textToFile(const QString &text)
{
    return qvoksb::cp1251FromUtf8(text.toStdString());
}

QString textFromFile(std::string_view bytes)
{
    return QString::fromStdString(qvoksb::cp1251ToUtf8(bytes));
}

// The value of one row as the file holds it.
std::string encode(const TFKsb &w, const Row &row)
{
    switch (row.encoding) {
    case Encoding::Number:
        return std::to_string(w.spinEdit(row.control)->value());
    case Encoding::Flag:
        return w.checkBox(row.control)->isChecked() ? "1" : "0";
    case Encoding::Index:
        return std::to_string(w.comboBox(row.control)->currentIndex());
    case Encoding::Text:
        return textToFile(textField(w, row.control)->text());
    }
    return {};
}

// An optionally signed decimal integer. Numbers too long for any setting saturate: they are still
// numbers, and every control clamps or rejects them as out of range.
std::optional<long long> parseInteger(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size())
        return std::nullopt;
    constexpr long long saturation = 1'000'000'000'000'000LL;
    long long v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        if (v < saturation)
            v = v * 10 + (c - '0');
    }
    return negative ? -v : v;
}

// Puts one row's value into its control, which runs the control's own rule when what it shows
// changes. False when a numeric key is absent, empty or not an integer.
bool apply(TFKsb &w, const Row &row, const std::optional<std::string> &value)
{
    if (row.encoding == Encoding::Text) {
        textField(w, row.control)->setText(textFromFile(value.value_or(std::string())));
        return true;
    }
    if (!value || value->empty())
        return false;
    const std::optional<long long> n = parseInteger(*value);
    if (!n)
        return false;
    switch (row.encoding) {
    case Encoding::Number:
        w.spinEdit(row.control)->setValueFromProgram(*n);
        break;
    case Encoding::Flag:
        w.checkBox(row.control)->setChecked(*n != 0);
        break;
    case Encoding::Index:
        // An index outside the list leaves no item chosen; so does one beyond any int.
        w.SetListIndex(w.comboBox(row.control),
                       *n >= INT_MIN && *n <= INT_MAX ? static_cast<int>(*n) : -1);
        break;
    case Encoding::Text:
        break;
    }
    return true;
}

std::string localPath(const QString &name)
{
    return QFile::encodeName(name).toStdString();
}

// Reads the file and applies its values row by row; stops at the first bad numeric key, leaving
// the values applied before it in place. A file that cannot be read (a folder, a device, a pipe,
// no permission, far too large for a configuration) is an error like a missing key.
bool applyFile(TFKsb &w, const QString &name)
{
    ProfileFile file;
    if (!file.load(localPath(name)))
        return false;
    const FileNames &names = fileNames();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        if (!apply(w, row, file.value(names.sections[row.section], names.keys[i])))
            return false;
    }
    return true;
}

// Builds the complete file from the controls and writes it in one piece: a temporary file beside
// the target, renamed over it only when everything is on disk, so a failure never leaves a
// partial file or loses the old one.
bool writeFile(const TFKsb &w, const QString &name)
{
    if (name.isEmpty())
        return false;
    ProfileFile file;
    const FileNames &names = fileNames();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        if (!file.setValue(names.sections[row.section], names.keys[i], encode(w, row)))
            return false;
    }
    return file.save(localPath(name));
}

} // namespace

void TFKsb::SISaveClick()
{
    if (!SaveDialog1.Execute(this))
        return;
    const QFileInfo target(SaveDialog1.FileName);
    // The old file is replaced only once the new one is complete (see writeFile), which ends with
    // the same file as deleting it first would.
    if (target.exists() && !target.isDir()) {
        if (!Messages::Confirm(this, QStringLiteral("Файл с именем:\n\r") + SaveDialog1.FileName +
                                         QStringLiteral("\n\rсуществует, перезаписать его?")))
            return;
    }
    SaveConfigFile();
}

void TFKsb::SaveConfigFile()
{
    bool written = false;
    try {
        written = writeFile(*this, SaveDialog1.FileName);
    } catch (...) {
        written = false;
    }
    if (!written) {
        Messages::Error(this, QStringLiteral("Внесенные изменения содержат ошибки и не могут быть "
                                             "записаны в файл конфигурации!"));
        return;
    }
    StaticText1->setText(QFileInfo(SaveDialog1.FileName).fileName());
    Messages::Information(this, QStringLiteral("Текущая конфигурация сохранена в файле:\r\n") +
                                    StaticText1->text());
}

void TFKsb::SILoadClick()
{
    if (!OpenDialog1.Execute(this))
        return;
    LoadConfigFile();
}

void TFKsb::LoadConfigFile()
{
    const QString name = OpenDialog1.FileName;
    bool loaded = false;
    try {
        loaded = applyFile(*this, name);
    } catch (...) {
        loaded = false;
    }
    const QString shortName = QFileInfo(name).fileName();
    if (!loaded) {
        Messages::Error(this, QStringLiteral("Файл конфигурации:\r\n") + shortName +
                                  QStringLiteral("\r\nсодержит ошибки!"));
        return;
    }
    StaticText1->setText(shortName);
}
