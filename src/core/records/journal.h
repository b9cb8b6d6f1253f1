#pragma once
// The journal of work: one record per exchange with a unit, of the configurator and of ksb7ctl,
// in one file that only ever grows. A commissioning day leaves a trace here even when nobody
// saved a file: what was written into which unit, read from it, compared with it, commanded.
//
// The file is JSON Lines (one JSON object per line, UTF-8, LF) in the user's data folder:
// $XDG_DATA_HOME/QvoKsb/journal.jsonl, else ~/.local/share/QvoKsb/journal.jsonl; on Windows
// %APPDATA%\QvoKsb\journal.jsonl. A record is appended with one write and flushed to disk before
// append() returns; nothing is ever rewritten, so a crash costs at most the record being
// written. A line that is not a record (cut short by a crash, edited by hand) is read as a damaged
// record and the rest of the file is still read.
//
// Reading is bounded, whatever the file holds: only a regular file is read, at most its last
// MaxReadBytes, and of those only the newest MaxRecords records are kept; a line longer than
// MaxLineBytes is a damaged record of which only the start is kept.
#include "core/settings/settings_set.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qvoksb::journal
{

struct Record {
    std::string time;     // local time of the end of the exchange, "2026-12-08T14:05:09+03:00"
    std::string program;  // "qvoksb" or "ksb7ctl"
    std::string port;     // "COM3", or a device path given to ksb7ctl
    int address = -1;     // Modbus address of the unit; -1 when not known
    std::string kind;     // one of Kinds' names
    std::string outcome;  // one of Outcomes' names
    std::string message;  // what the program told the user, one line; may be empty
    std::string source;   // where the settings came from: a file, the window, a unit read
    std::string sha256;   // configurationDigest() of the settings written or read; may be empty
    int differences = -1; // settings found different by a compare or a verification; -1: none made
    std::string lastTrip; // the last trip as read, "date time: cause"; may be empty

    // Set by reading only.
    int line = 0;         // the file's line (from 1)
    bool damaged = false; // the line is no record; `raw` holds its start
    std::string raw;
};

struct Name {
    const char *name;    // in the file
    const char *caption; // shown
};
// What an exchange did. Unknown names (from a newer program) are shown as they stand.
inline constexpr Name Kinds[] = {
    {"write", "запись"},    {"read", "чтение"},     {"compare", "сравнение"},
    {"command", "команда"}, {"state", "состояние"}, {"trip", "последнее отключение"},
};
inline constexpr Name Outcomes[] = {
    {"ok", "выполнено"},        {"differences", "различия"},
    {"refused", "отказ блока"}, {"no-reply", "нет ответа"},
    {"port", "сбой порта"},     {"aborted", "прервано"},
    {"file", "ошибка файла"},   {"unverified", "не проверено чтением"},
};
std::string kindCaption(std::string_view name);
std::string outcomeCaption(std::string_view name);

// The journal's file as described above.
std::string journalPath();
// The local time now as records hold it.
std::string timeNow();

// The digest of a configuration as it travels: the registers of the seven configuration
// blocks, in block order, each high byte first, as a write sends them and a read receives them.
// A write and a read of the same settings give the same digest.
std::string configurationDigest(const SettingsSet &set);

// Text as the journal keeps it: well-formed UTF-8 as it stands, every byte that starts no
// character (a file name in another encoding) as the visible text \xNN, as ksb7ctl prints it.
std::string validUtf8(std::string_view text);

// One record as its line, without the line end, and back. Unknown keys are skipped; a line that
// is not one JSON object of strings, integers and nulls, or has no time or kind, is damaged.
std::string recordLine(const Record &record);
Record parseRecord(std::string_view line);

// Appends one record to the file, creating its folder and the file as needed; when the file
// does not end in a line end (a record cut short), a line end comes first, so the new record is
// a line of its own. A record that would pass the process's file size limit is not begun, and
// the limit's signal never ends the program. False with *error (Russian) when it could not be
// written.
bool append(const std::string &path, const Record &record, std::string *error = nullptr);

inline constexpr std::size_t MaxRecords = 200000;
inline constexpr std::uint64_t MaxReadBytes = std::uint64_t(256) << 20;
inline constexpr std::size_t MaxLineBytes = std::size_t(64) << 10;

struct Reading {
    bool ok = true;              // false when the file exists but could not be read
    std::string problem;         // then why
    std::vector<Record> records; // the newest records, in file order, damaged lines included
    int damaged = 0;
    // The file holds older lines than those read: more than MaxRecords records, or more than
    // MaxReadBytes, of which only the end was read. Line numbers then count from the first
    // line read.
    bool older = false;
};
// Told now and then how many of the bytes to read have been read; false stops the reading,
// which then returns what it has.
using ReadProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// A missing file is an empty journal; anything but a regular file (a folder, a device, a pipe)
// is refused unread.
Reading read(const std::string &path, const ReadProgress &progress = {});
Reading parse(std::string_view bytes);

// The records as a CSV table with a header line, as the settings export writes one.
std::string csvText(const std::vector<const Record *> &records);

} // namespace qvoksb::journal
