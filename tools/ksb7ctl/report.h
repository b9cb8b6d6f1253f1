#pragma once
// ksb7ctl's output: readable UTF-8 text, or one JSON document for scripts.
#include "operations.h"

#include <string>
#include <vector>

namespace ksb7ctl
{

// A setting named as the pages name it: its page, its frame, its caption and relay box.
std::string settingPage(qvoksb::Setting s);
std::string settingName(qvoksb::Setting s);
// An address as the configurator shows it, in hexadecimal: "0A".
std::string addressText(int address);

// A growing JSON text; strings are escaped, UTF-8 passes unchanged.
class Json
{
public:
    Json &open(char bracket);  // '{' or '['
    Json &close(char bracket); // '}' or ']'
    Json &key(const std::string &name);
    Json &value(const std::string &text);
    Json &value(const char *text) { return value(std::string(text)); }
    Json &value(long long number);
    Json &value(int number) { return value(static_cast<long long>(number)); }
    Json &value(bool flag);
    const std::string &text() const { return text_; }

private:
    void separate();
    std::string text_;
    bool first_ = true;
};

struct Report {
    std::string command; // read, write, diff, status, trip, command
    std::string port;
    std::string pace;
    std::string file; // write, diff: the file given
    const CommandRow *commandRow = nullptr;
    std::vector<UnitResult> units;
    int exitCode = 0;
};

// A unit's result in words, for standard output (failures go to standard error separately).
std::string unitText(const Report &report, const UnitResult &unit);
// The differences between two sets, one line each: "[page] name: a, b" with the two sides named.
std::string differenceLines(const qvoksb::SettingsSet &a, const qvoksb::SettingsSet &b,
                            const std::vector<qvoksb::Setting> &which, const std::string &aName,
                            const std::string &bName);
void differencesJson(Json &json, const qvoksb::SettingsSet &a, const qvoksb::SettingsSet &b,
                     const std::vector<qvoksb::Setting> &which, const char *aKey, const char *bKey);
std::string reportJson(const Report &report);

} // namespace ksb7ctl
