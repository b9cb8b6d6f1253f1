#pragma once
// The window's exchanges in the journal of work (journal.h): one record per write, read,
// compare, command and state read, made from the exchange window's result once it has closed,
// with the port, the address and the origin of the settings the window that ran it holds.
#include "core/exchange/exchange_engine.h"
#include "core/settings/settings_origin.h"

#include <string>

class QWidget;
class TFrs232;

// Appends the record of the exchange `done` ran, for a window that holds `current`, which came
// from `origin`. The record is written and flushed to disk by one writer
// thread in the order of the exchanges, so that the window never waits for the disk; a journal
// that cannot be written is reported once per run, over `owner` while it exists, and the work
// goes on.
void recordExchange(const TFrs232 &done, const qvoksb::SettingsSet &current,
                    const qvoksb::SettingsOrigin &origin, QWidget *owner);
// Appends the record of one unit's exchange in a batch of the window of the units on a line, on
// the link named `link` ("COM3", a gateway's host:port): `file` is the file a write or compare took its settings from (`fileSet`, as
// the unit was to hold them) or the file a read was saved to.
void recordUnitExchange(const std::string &link, const qvoksb::exchange::Result &result,
                        const std::string &file, const qvoksb::SettingsSet *fileSet,
                        QWidget *owner);
// Waits until every record handed over is in the file (before the journal is read back).
void waitForJournal();
