#pragma once
// What ksb7ctl does with one unit on the line: read, write, compare, state, last trip and the
// commands, each as the configurator's exchange window does it, with one result per unit.
#include "core/exchange/exchange_engine.h"
#include "core/settings/settings_set.h"
#include "core/settings/trip_record.h"
#include "unit_link.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ksb7ctl
{

// Exit codes, documented in --help, the README and the manual page. ExitBadInput means that
// nothing was sent; what goes wrong after something was sent has a code of its own.
enum ExitCode {
    ExitDone = 0,
    ExitDifferences = 1,
    ExitLink = 2,
    ExitBadInput = 3,
    ExitRefused = 4,
    ExitFileFailed = 5,
};

enum class Status {
    Ok,
    Differences, // diff or write --verify found some
    Refused,     // the unit answered a step with an exception
    Silent,      // a step got no correct answer in time
    PortLost,    // the port device went away
    PortFailed,  // the port could not be opened
    FileFailed,  // the file could not be written
};
// How one unit's status is reported: its word in the JSON, the program's exit code and the
// journal of work's outcome.
struct StatusRow {
    Status status;
    const char *name;
    int exitCode;
    const char *journalOutcome;
};
const StatusRow &statusRow(Status status);
inline int exitCodeOf(Status status)
{
    return statusRow(status).exitCode;
}
inline const char *statusName(Status status) // for JSON
{
    return statusRow(status).name;
}

struct CommandRow {
    const char *name;    // on the command line
    int code;            // the value written to the command register
    const char *caption; // the configurator's radio item
};
extern const std::array<CommandRow, 7> Commands;
const CommandRow *findCommand(const std::string &name);

struct UnitResult {
    int address = 0;
    Status status = Status::Ok;
    std::string message;                         // a failure in one Russian line
    int failedStep = 0;                          // the step that failed
    int lastAccepted = 0;                        // the last step answered correctly before it
    std::optional<qvoksb::SettingsSet> settings; // read, diff, write --verify: as the unit holds
    std::optional<qvoksb::TripRecord> trip;
    std::optional<qvoksb::SettingsSet> wanted; // diff, write --verify: what the file makes it hold
    std::vector<qvoksb::Setting> differences;  // between settings and wanted
    std::optional<std::array<uint16_t, 2>> state; // registers 517 (outputs), 518 (inputs)
    std::string file;                             // read -o: the file written
    bool verified = false;
};

// The steps' names in the user's words: 1..7 the configuration blocks, 8 the last trip, 99 the
// state, 0 the command.
std::string stepName(int step);

// The configuration settings (no last-trip texts) that differ between two sets.
std::vector<qvoksb::Setting> configurationDifferences(const qvoksb::SettingsSet &a,
                                                      const qvoksb::SettingsSet &b);

class UnitOperations
{
public:
    UnitOperations(UnitLink &link, uint8_t address, Progress progress)
        : link_(link), address_(address), progress_(std::move(progress))
    {
    }
    // The seven blocks and, with withTrip, the last trip; the set starts from the factory
    // values, and the last-trip texts are the configurator's.
    UnitResult read(bool withTrip);
    UnitResult write(const qvoksb::SettingsSet &set, bool verify);
    UnitResult diff(const qvoksb::SettingsSet &file);
    UnitResult state();
    UnitResult lastTrip();
    UnitResult command(const CommandRow &command);

private:
    // Runs one exchange of the engine: its result when it succeeded; when it failed, nothing, and
    // `result` says why.
    std::optional<qvoksb::exchange::Result> run(qvoksb::exchange::Options options,
                                                UnitResult &result);

    UnitLink &link_;
    uint8_t address_;
    Progress progress_;
};

} // namespace ksb7ctl
