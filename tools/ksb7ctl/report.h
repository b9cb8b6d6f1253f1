#pragma once
// ksb7ctl's output: readable UTF-8 text, or one JSON document for scripts.
#include "core/exchange/scan.h"
#include "operations.h"
#include "core/settings/settings_diff.h"

#include <string>
#include <string_view>
#include <vector>

namespace ksb7ctl
{

// A text from a file, the unit or the command line as it may go to a terminal: control
// characters (C0, DEL, C1) and bytes that are not UTF-8 shown as \xNN, so that nothing in it
// acts on the terminal.
std::string visibleText(std::string_view text);

// An address as the configurator shows it, in hexadecimal: "0A".
std::string addressText(int address);

// A growing JSON text; strings are escaped, UTF-8 passes unchanged, a byte that is not UTF-8
// becomes the text \xNN.
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
    std::string journalError; // why the journal of work was not written; empty when it was
};

// A unit's result in words, for standard output (failures go to standard error separately).
std::string unitText(const Report &report, const UnitResult &unit);
// The settings the unit holds otherwise than the file would make it hold.
std::vector<qvoksb::DifferenceRow> unitDifferences(const UnitResult &unit);
// One line per difference: "[page] caption — left-name value, right-name value".
std::string differenceLines(const std::vector<qvoksb::DifferenceRow> &rows,
                            const std::string &leftName, const std::string &rightName);
void differencesJson(Json &json, const std::vector<qvoksb::DifferenceRow> &rows,
                     const char *leftKey, const char *rightKey);
std::string reportJson(const Report &report);

// The scan: one line for each address that answers or gave garbled bytes (silent ones are left
// out), the exit code of the whole, and the JSON of every address asked.
std::string scanText(const qvoksb::exchange::ScanEntry &entry);
int scanExitCode(const std::vector<qvoksb::exchange::ScanEntry> &entries);
std::string scanJson(const Report &report, const std::vector<qvoksb::exchange::ScanEntry> &entries,
                     int exitCode);

} // namespace ksb7ctl
