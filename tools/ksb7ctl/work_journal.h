#pragma once
// ksb7ctl's records in the journal of work: one per unit and command, as the configurator keeps
// them, so that the journal window lists the command line's work beside the window's.
#include "core/records/journal.h"
#include "report.h"

namespace ksb7ctl
{

// The record of one unit's result. `written` is the set a write sent; null for other commands.
qvoksb::journal::Record journalRecord(const Report &report, const UnitResult &unit,
                                      const qvoksb::SettingsSet *written);

} // namespace ksb7ctl
