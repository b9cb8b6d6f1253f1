#include "report.h"

#include "modbus_rtu.h"

#include <cstdio>

namespace ksb7ctl
{

using qvoksb::Setting;
using qvoksb::SettingsSet;

namespace
{

// A caption on one line, without the colon that ends it on the page.
std::string plainCaption(const char *caption)
{
    std::string text;
    for (const char *c = caption; *c; ++c) {
        if (*c == '\r')
            continue;
        text += *c == '\n' ? ' ' : *c;
    }
    while (!text.empty() && (text.back() == ':' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string withUnit(Setting s, const std::string &value)
{
    const char *unit = qvoksb::rowOf(s).unit;
    return *unit ? value + " " + unit : value;
}

constexpr const char *OutputCaptions[4] = {"ВЫКЛ.", "ВЫХОД-1", "ВЫХОД-2", "ВЫХОД-3"};
constexpr const char *InputCaptions[4] = {"ВХОД-1", "ВХОД-2", "ВХОД-3", "ВЫКЛ."};
constexpr const char *OutputKeys[4] = {"trip", "out1", "out2", "out3"};
constexpr const char *InputKeys[4] = {"in1", "in2", "in3", "breaker"};

std::string bitsLine(const char *title, uint16_t bits, const char *const (&captions)[4])
{
    std::string line = title;
    for (int b = 0; b < 4; ++b)
        line += std::string(" ") + captions[b] + "=" + ((bits >> b) & 1 ? "1" : "0");
    return line + "\n";
}

void tripJson(Json &json, const qvoksb::TripRecord &trip)
{
    json.key("trip").open('{');
    json.key("cause").value(int(trip.cause));
    json.key("causeText").value(qvoksb::tripCauseText(trip.cause));
    json.key("time").value(qvoksb::tripTimeText(trip));
    json.close('}');
}

void settingsJson(Json &json, const SettingsSet &set)
{
    json.key("settings").open('[');
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
        if (r.kind == qvoksb::Kind::Text)
            continue;
        json.open('{');
        json.key("control").value(r.control);
        json.key("page").value(settingPage(r.id));
        json.key("name").value(settingName(r.id));
        json.key("value").value(set.value(r.id));
        json.key("text").value(qvoksb::valueText(set, r.id));
        json.key("measure").value(r.unit);
        json.close('}');
    }
    json.close(']');
}

} // namespace

std::string settingPage(Setting s)
{
    return qvoksb::PageCaptions[int(qvoksb::rowOf(s).page) - 1];
}

std::string settingName(Setting s)
{
    const qvoksb::SettingRow &r = qvoksb::rowOf(s);
    std::string name = *r.group ? std::string(r.group) + ", " : std::string();
    name += plainCaption(r.caption);
    if (r.kind == qvoksb::Kind::RelayBox)
        name += std::string(" [") + qvoksb::RelayBoxCaptions[r.box] + "]";
    return name;
}

std::string addressText(int address)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02X", unsigned(address) & 0xFFu);
    return text;
}

// --- JSON ---------------------------------------------------------------------------------------

void Json::separate()
{
    if (!first_)
        text_ += ',';
    first_ = false;
}

Json &Json::open(char bracket)
{
    separate();
    text_ += bracket;
    first_ = true;
    return *this;
}

Json &Json::close(char bracket)
{
    text_ += bracket;
    first_ = false;
    return *this;
}

Json &Json::key(const std::string &name)
{
    value(name);
    text_ += ':';
    first_ = true;
    return *this;
}

Json &Json::value(const std::string &text)
{
    separate();
    text_ += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            text_ += "\\\"";
            break;
        case '\\':
            text_ += "\\\\";
            break;
        case '\n':
            text_ += "\\n";
            break;
        case '\r':
            text_ += "\\r";
            break;
        case '\t':
            text_ += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                text_ += escaped;
            } else {
                text_ += char(c);
            }
        }
    }
    text_ += '"';
    return *this;
}

Json &Json::value(long long number)
{
    separate();
    text_ += std::to_string(number);
    return *this;
}

Json &Json::value(bool flag)
{
    separate();
    text_ += flag ? "true" : "false";
    return *this;
}

// --- text ---------------------------------------------------------------------------------------

std::string differenceLines(const SettingsSet &a, const SettingsSet &b,
                            const std::vector<Setting> &which, const std::string &aName,
                            const std::string &bName)
{
    std::string lines;
    for (Setting s : which)
        lines += "[" + settingPage(s) + "] " + settingName(s) + ": " + aName + " " +
                 withUnit(s, qvoksb::valueText(a, s)) + ", " + bName + " " +
                 withUnit(s, qvoksb::valueText(b, s)) + "\n";
    return lines;
}

void differencesJson(Json &json, const SettingsSet &a, const SettingsSet &b,
                     const std::vector<Setting> &which, const char *aKey, const char *bKey)
{
    json.key("differences").open('[');
    for (Setting s : which) {
        json.open('{');
        json.key("control").value(qvoksb::rowOf(s).control);
        json.key("page").value(settingPage(s));
        json.key("name").value(settingName(s));
        json.key("measure").value(qvoksb::rowOf(s).unit);
        json.key(aKey).value(qvoksb::valueText(a, s));
        json.key(bKey).value(qvoksb::valueText(b, s));
        json.close('}');
    }
    json.close(']');
}

std::string unitText(const Report &report, const UnitResult &unit)
{
    if (unit.status != Status::Ok && unit.status != Status::Differences)
        return {};
    const std::string who = "адрес " + addressText(unit.address) + ": ";
    std::string text;
    if (report.command == "read" && unit.settings) {
        if (!unit.file.empty())
            return who + "записан файл " + unit.file + "\n";
        for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
            text += "[" + settingPage(r.id) + "] " +
                    (r.kind == qvoksb::Kind::Text ? plainCaption(r.caption) : settingName(r.id)) +
                    ": " + withUnit(r.id, qvoksb::valueText(*unit.settings, r.id)) + "\n";
    } else if (report.command == "write") {
        text = who + "записаны все 7 шагов";
        if (unit.verified)
            text += unit.differences.empty() ? ", проверка: совпадает" : ", проверка: различия";
        text += "\n";
    } else if (report.command == "diff" && unit.differences.empty()) {
        text = who + "совпадает с файлом\n";
    } else if (report.command == "status" && unit.state) {
        text = bitsLine("ВЫХОДНЫЕ РЕЛЕ:", (*unit.state)[0], OutputCaptions) +
               bitsLine("ЦИФРОВЫЕ ВХОДЫ:", (*unit.state)[1], InputCaptions);
    } else if (report.command == "trip" && unit.trip) {
        text = qvoksb::tripTimeText(*unit.trip) + "  " + qvoksb::tripCauseText(unit.trip->cause) +
               "\n";
    } else if (report.command == "command" && report.commandRow) {
        text = who + "команда «" + report.commandRow->caption + "» выполнена\n";
    }
    if (unit.settings && unit.wanted)
        text += differenceLines(*unit.settings, *unit.wanted, unit.differences, "блок", "файл");
    return text;
}

std::string reportJson(const Report &report)
{
    Json json;
    json.open('{');
    json.key("command").value(report.command);
    json.key("port").value(report.port);
    json.key("pace").value(report.pace);
    if (!report.file.empty())
        json.key("file").value(report.file);
    if (report.commandRow)
        json.key("name").value(report.commandRow->name).key("code").value(report.commandRow->code);
    json.key("exit").value(report.exitCode);
    json.key("units").open('[');
    for (const UnitResult &u : report.units) {
        json.open('{');
        json.key("address").value(u.address);
        json.key("result").value(statusName(u.status));
        json.key("exit").value(exitCodeOf(u.status));
        if (!u.message.empty())
            json.key("message").value(u.message);
        if (u.failedStep)
            json.key("failedStep").value(u.failedStep);
        json.key("lastAcceptedStep").value(u.lastAccepted);
        if (!u.file.empty())
            json.key("output").value(u.file);
        if (report.command == "write")
            json.key("verified").value(u.verified);
        if (u.state) {
            json.key("outputs").open('{');
            for (int b = 0; b < 4; ++b)
                json.key(OutputKeys[b]).value(bool(((*u.state)[0] >> b) & 1));
            json.close('}');
            json.key("inputs").open('{');
            for (int b = 0; b < 4; ++b)
                json.key(InputKeys[b]).value(bool(((*u.state)[1] >> b) & 1));
            json.close('}');
        }
        if (u.trip)
            tripJson(json, *u.trip);
        if (u.settings && report.command == "read")
            settingsJson(json, *u.settings);
        if (u.settings && u.wanted)
            differencesJson(json, *u.settings, *u.wanted, u.differences, "device", "file");
        json.close('}');
    }
    json.close(']');
    json.close('}');
    return json.text() + "\n";
}

} // namespace ksb7ctl
