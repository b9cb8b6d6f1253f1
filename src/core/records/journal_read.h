#pragma once
// Reading the journal's bytes into records within the bounds journal.h states, the same on every
// platform; only the platforms' journal files and journal.cpp include this.
#include "core/records/journal.h"

#include <string>
#include <string_view>
#include <vector>

namespace qvoksb::journal
{

// Takes the journal's bytes in chunks of any size and keeps the newest MaxRecords records of
// the lines they hold. Nothing but the line being read and the records kept stays in memory.
class LineCollector
{
public:
    // startsInside: the bytes begin somewhere inside the file, so the first line, cut at its
    // start, is skipped.
    explicit LineCollector(bool startsInside = false);
    void feed(std::string_view bytes);
    // The last line, also without a line end, and the records in file order.
    Reading finish();

private:
    void take(std::string_view line, int number);

    std::string partial_;     // the start of a line whose end has not come yet
    bool skipping_ = false;   // the rest of the current line is not kept
    bool cutStart_ = false;   // the current line is the one cut at the start of the bytes
    int lineNumber_ = 0;      // of the last line ended
    std::vector<Record> kept_; // once full, a ring whose oldest record is at next_
    std::size_t next_ = 0;
    bool older_ = false;
};

} // namespace qvoksb::journal
