#include "work_journal.h"

#include <filesystem>

namespace ksb7ctl
{

namespace journal = qvoksb::journal;

namespace
{

// The command line's words for the journal's: "diff" compares, "status" reads the state.
std::string kindOf(const std::string &command)
{
    if (command == "diff")
        return "compare";
    if (command == "status")
        return "state";
    return command; // read, write, trip, command
}

// A file as given, made absolute: the journal is read later from anywhere.
std::string absolute(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

} // namespace

journal::Record journalRecord(const Report &report, const UnitResult &unit,
                              const qvoksb::SettingsSet *written)
{
    journal::Record r;
    r.time = journal::timeNow();
    r.program = "ksb7ctl";
    r.port = report.port;
    r.address = unit.address;
    r.kind = kindOf(report.command);
    r.outcome = statusRow(unit.status).journalOutcome;
    r.message = unit.message;
    if (report.commandRow)
        r.message = std::string("«") + report.commandRow->caption + "»" +
                    (unit.message.empty() ? "" : ": " + unit.message);
    if (!report.file.empty())
        r.source = "файл " + absolute(report.file);
    else if (unit.settings)
        r.source = "блок " + report.port + ", адрес " + addressText(unit.address);
    if (!unit.file.empty())
        r.message += (r.message.empty() ? "" : "; ") + ("записан файл " + absolute(unit.file));
    if (written)
        r.sha256 = journal::configurationDigest(*written);
    else if (unit.settings)
        r.sha256 = journal::configurationDigest(*unit.settings);
    if (unit.wanted && unit.settings)
        r.differences = int(unit.differences.size());
    if (unit.trip)
        r.lastTrip =
            qvoksb::tripTimeText(*unit.trip) + ": " + qvoksb::tripCauseText(unit.trip->cause);
    return r;
}

} // namespace ksb7ctl
