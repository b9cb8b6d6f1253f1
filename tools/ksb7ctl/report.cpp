#include "report.h"

#include "core/modbus/modbus_rtu.h"
#include "core/settings/settings_diff.h"

#include <cstdio>

namespace ksb7ctl
{

using qvoksb::Setting;
using qvoksb::SettingsSet;

namespace
{

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

void stateJson(Json &json, const std::array<uint16_t, 2> &state)
{
    json.key("outputs").open('{');
    for (int b = 0; b < 4; ++b)
        json.key(OutputKeys[b]).value(bool((state[0] >> b) & 1));
    json.close('}');
    json.key("inputs").open('{');
    for (int b = 0; b < 4; ++b)
        json.key(InputKeys[b]).value(bool((state[1] >> b) & 1));
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
        json.key("page").value(qvoksb::PageCaptions[int(r.page) - 1]);
        json.key("name").value(qvoksb::displayCaption(r.id));
        json.key("value").value(set.value(r.id));
        json.key("text").value(qvoksb::valueWithUnit(set, r.id));
        json.close('}');
    }
    json.close(']');
}

// The length of the well-formed UTF-8 character at text[at], or 0 for a byte that starts none
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = byte(at);
    if (c < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;
        high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    return length;
}

std::string hexEscape(unsigned char c)
{
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
    return escaped;
}

} // namespace

std::string visibleText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8Length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080..U+009F: C2 80..C2 9F in UTF-8.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c < 0x20 || c == 0x7F || c1) {
            out += hexEscape(c1 ? static_cast<unsigned char>(text[i + 1]) : c);
            i += c1 ? 2 : 1;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
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
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // JSON is UTF-8: a byte that is not part of a character (a file name in another
            // encoding) is written as the visible text \xNN.
            const std::size_t length = utf8Length(text, i);
            if (length == 0)
                text_ += "\\" + hexEscape(c);
            else
                text_.append(text, i, length);
            i += length ? length - 1 : 0;
            continue;
        }
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

std::string differenceLines(const std::vector<qvoksb::DifferenceRow> &rows,
                            const std::string &leftName, const std::string &rightName)
{
    std::string lines;
    for (const qvoksb::DifferenceRow &row : rows)
        lines += "[" + row.page + "] " + row.caption + " — " + leftName + " " +
                 visibleText(row.left) + ", " + rightName + " " + visibleText(row.right) + "\n";
    return lines;
}

void differencesJson(Json &json, const std::vector<qvoksb::DifferenceRow> &rows,
                     const char *leftKey, const char *rightKey)
{
    json.key("differences").open('[');
    for (const qvoksb::DifferenceRow &row : rows) {
        json.open('{');
        json.key("control").value(qvoksb::rowOf(row.setting).control);
        json.key("page").value(row.page);
        json.key("name").value(row.caption);
        json.key(leftKey).value(row.left);
        json.key(rightKey).value(row.right);
        json.close('}');
    }
    json.close(']');
}

std::vector<qvoksb::DifferenceRow> unitDifferences(const UnitResult &unit)
{
    if (!unit.settings || !unit.wanted)
        return {};
    return qvoksb::differenceRows(*unit.settings, *unit.wanted, qvoksb::Compared::Configuration);
}

std::string unitText(const Report &report, const UnitResult &unit)
{
    if (unit.status != Status::Ok && unit.status != Status::Differences)
        return {};
    const std::string who = "адрес " + addressText(unit.address) + ": ";
    std::string text;
    if (report.command == "read" && unit.settings) {
        if (!unit.file.empty())
            return who + "записан файл " + visibleText(unit.file) + "\n";
        for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
            text += std::string("[") + qvoksb::PageCaptions[int(r.page) - 1] + "] " +
                    qvoksb::displayCaption(r.id) + ": " +
                    visibleText(qvoksb::valueWithUnit(*unit.settings, r.id)) + "\n";
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
        text = visibleText(qvoksb::tripTimeText(*unit.trip)) + "  " +
               visibleText(qvoksb::tripCauseText(unit.trip->cause)) + "\n";
    } else if (report.command == "command" && report.commandRow) {
        text = who + "команда «" + report.commandRow->caption + "» выполнена\n";
    }
    if (unit.settings && unit.wanted)
        text += differenceLines(unitDifferences(unit), "блок", "файл");
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
    if (!report.journalError.empty())
        json.key("journalError").value(report.journalError);
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
        if (u.state)
            stateJson(json, *u.state);
        if (u.trip)
            tripJson(json, *u.trip);
        if (u.settings && report.command == "read")
            settingsJson(json, *u.settings);
        if (u.settings && u.wanted)
            differencesJson(json, unitDifferences(u), "device", "file");
        json.close('}');
    }
    json.close(']');
    json.close('}');
    return json.text() + "\n";
}

namespace
{

const char *presenceName(qvoksb::exchange::Presence presence)
{
    switch (presence) {
    case qvoksb::exchange::Presence::Answers:
        return "answers";
    case qvoksb::exchange::Presence::Garbled:
        return "garbled";
    case qvoksb::exchange::Presence::Silent:
        break;
    }
    return "silent";
}

} // namespace

std::string scanText(const qvoksb::exchange::ScanEntry &entry)
{
    using qvoksb::exchange::Presence;
    const std::string who = "адрес " + addressText(entry.address) + ": ";
    if (entry.presence == Presence::Garbled)
        return who + "ответ искажён (" + visibleText(entry.trouble) +
               "): помехи на линии или два блока с одним адресом\n";
    if (entry.presence != Presence::Answers)
        return {};
    std::string text = who;
    if (entry.state) {
        std::string outputs = bitsLine("ВЫХОДНЫЕ РЕЛЕ:", (*entry.state)[0], OutputCaptions);
        std::string inputs = bitsLine("ЦИФРОВЫЕ ВХОДЫ:", (*entry.state)[1], InputCaptions);
        outputs.pop_back();
        inputs.pop_back();
        text += outputs + "; " + inputs;
    } else {
        text += "блок отклонил чтение состояния (исключение " +
                std::to_string(entry.exceptionCode) + ")";
    }
    if (entry.lastTrip)
        text += "; последнее отключение: " + visibleText(qvoksb::tripTimeText(*entry.lastTrip)) +
                "  " + visibleText(qvoksb::tripCauseText(entry.lastTrip->cause));
    return text + "\n";
}

int scanExitCode(const std::vector<qvoksb::exchange::ScanEntry> &entries)
{
    using qvoksb::exchange::Presence;
    bool answers = false, garbled = false;
    for (const qvoksb::exchange::ScanEntry &e : entries) {
        answers = answers || e.presence == Presence::Answers;
        garbled = garbled || e.presence == Presence::Garbled;
    }
    return garbled ? ExitDifferences : answers ? ExitDone : ExitLink;
}

std::string scanJson(const Report &report, const std::vector<qvoksb::exchange::ScanEntry> &entries,
                     int exitCode)
{
    Json json;
    json.open('{');
    json.key("command").value("scan");
    json.key("port").value(report.port);
    json.key("exit").value(exitCode);
    json.key("addresses").open('[');
    for (const qvoksb::exchange::ScanEntry &e : entries) {
        json.open('{');
        json.key("address").value(int(e.address));
        json.key("result").value(presenceName(e.presence));
        json.key("tries").value(e.tries);
        if (e.exceptionCode)
            json.key("exception").value(int(e.exceptionCode));
        if (!e.trouble.empty())
            json.key("message").value(e.trouble);
        if (e.state)
            stateJson(json, *e.state);
        if (e.lastTrip)
            tripJson(json, *e.lastTrip);
        json.close('}');
    }
    json.close(']');
    json.close('}');
    return json.text() + "\n";
}

} // namespace ksb7ctl
