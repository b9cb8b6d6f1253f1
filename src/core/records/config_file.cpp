#include "core/records/config_file.h"

#include "core/files/cp1251.h"
#include "core/files/profile_file.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace qvoksb
{

namespace
{

// The names as they stand in the file, converted once from the source's UTF-8.
struct FileNames {
    std::vector<std::string> sections;
    std::vector<std::string> keys; // by catalogue row
};

const FileNames &fileNames()
{
    static const FileNames names = [] {
        FileNames n;
        for (const char *s : FileSectionNames)
            n.sections.push_back(cp1251FromUtf8(s));
        for (const SettingRow &r : settingsCatalogue())
            n.keys.push_back(cp1251FromUtf8(r.key));
        return n;
    }();
    return names;
}

const std::string &sectionOf(const SettingRow &r)
{
    return fileNames().sections[std::size_t(r.section)];
}

std::string quoted(std::string_view cp1251)
{
    constexpr std::size_t shown = 40;
    std::string text = cp1251ToUtf8(cp1251.substr(0, shown));
    if (cp1251.size() > shown)
        text += "…";
    return "«" + text + "»";
}

// A file whose names read as UTF-8 (a text editor's default) holds our sections in the wrong
// code page: say so rather than "no section".
bool looksLikeUtf8(const ProfileFile &profile)
{
    for (const std::string &name : profile.sectionNames()) {
        bool lossless = false;
        const std::string asCp1251 = cp1251FromUtf8(name, &lossless);
        if (!lossless || asCp1251 == name)
            continue;
        for (const std::string &ours : fileNames().sections)
            if (cp1251EqualNoCase(asCp1251, ours))
                return true;
    }
    return false;
}

// Why a numeric row's entry is refused, or nothing when it is good.
std::optional<std::string> refusal(const ProfileFile &profile, const SettingRow &r,
                                   const std::string &key, const std::optional<std::string> &value)
{
    const std::string section = sectionOf(r);
    const std::string where = " «" + std::string(r.key) + "» ";
    if (!value) {
        if (!profile.hasSection(section))
            return "нет раздела [" + std::string(FileSectionNames[std::size_t(r.section)]) + "]";
        return "нет ключа" + where + "в разделе [" +
               FileSectionNames[std::size_t(r.section)] + "]";
    }
    const std::string line = "строка " + std::to_string(profile.lineOf(section, key)) + ": ";
    if (value->empty())
        return line + "у ключа" + where + "нет значения";
    return line + "значение " + quoted(*value) + " ключа" + where + "не является целым числом";
}

ConfigFileReading fromProfile(const ProfileFile &profile)
{
    ConfigFileReading reading;
    const FileNames &names = fileNames();
    // A NUL or another control byte means a damaged or binary file: a line holding NUL is not
    // even read (without this the reason would be a key that seems to be missing), and one in a
    // name or a number spoils it. Only the last-trip texts keep such bytes as they are, as
    // every text is kept; whoever shows them makes them harmless.
    std::vector<int> textLines;
    for (const SettingRow &r : settingsCatalogue())
        if (r.kind == Kind::Text)
            textLines.push_back(profile.lineOf(sectionOf(r), names.keys[indexOf(r.id)]));
    for (const ProfileFile::ControlByte &control : profile.controlBytes()) {
        if (std::find(textLines.begin(), textLines.end(), control.line) != textLines.end())
            continue;
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", control.byte);
        reading.problem = "строка " + std::to_string(control.line) +
                          ": недопустимый символ с кодом " + code +
                          (control.byte ? "" : " (нулевой байт)");
        return reading;
    }
    SettingsSet set;
    for (const SettingRow &r : settingsCatalogue()) {
        const std::string &key = names.keys[indexOf(r.id)];
        const std::optional<std::string> value = profile.value(sectionOf(r), key);
        if (r.kind == Kind::Text) {
            set.setText(r.id, cp1251ToUtf8(value.value_or(std::string())));
            continue;
        }
        const std::optional<long long> n =
            value && !value->empty() ? parseInteger(*value) : std::nullopt;
        if (!n) {
            reading.problem = looksLikeUtf8(profile)
                                  ? "файл записан в кодировке UTF-8, а не в Windows-1251"
                                  : *refusal(profile, r, key, value);
            return reading;
        }
        set.setValue(r.id, *n);
    }
    reading.ok = true;
    reading.set = set;
    return reading;
}

} // namespace

ConfigFileReading parseConfigFile(std::string_view bytes)
{
    return fromProfile(ProfileFile::parse(bytes));
}

ConfigFileReading readConfigFile(const std::string &path)
{
    ProfileFile profile;
    std::string error;
    bool missing = false;
    if (!profile.load(path, &error, &missing)) {
        ConfigFileReading reading;
        reading.problem = error;
        return reading;
    }
    if (missing) {
        ConfigFileReading reading;
        reading.problem = "файл не существует";
        return reading;
    }
    return fromProfile(profile);
}

namespace
{

bool toProfile(const SettingsSet &set, ProfileFile &profile, std::string *problem)
{
    const FileNames &names = fileNames();
    for (const SettingRow &r : settingsCatalogue()) {
        const std::string value = r.kind == Kind::Text ? cp1251FromUtf8(set.text(r.id))
                                                       : std::to_string(set.value(r.id));
        if (!profile.setValue(sectionOf(r), names.keys[indexOf(r.id)], value)) {
            if (problem)
                *problem = "значение ключа «" + std::string(r.key) + "» нельзя записать в файл";
            return false;
        }
    }
    return true;
}

} // namespace

std::string configFileBytes(const SettingsSet &set)
{
    ProfileFile profile;
    toProfile(set, profile, nullptr);
    return profile.serialize();
}

bool writeConfigFile(const std::string &path, const SettingsSet &set, std::string *problem)
{
    ProfileFile profile;
    return toProfile(set, profile, problem) && profile.save(path, problem);
}

} // namespace qvoksb
