#pragma once
// The window's exchanges in the journal of work (journal.h): one record per write, read,
// compare, command and state read, made from the exchange window's result once it has closed,
// with the port, the address and the origin of the settings the main window holds.
class TFKsb;
class TFrs232;

// Appends the record of the exchange `done` ran. The record is written and flushed to disk by
// one writer thread in the order of the exchanges, so that the window never waits for the disk;
// a journal that cannot be written is reported once per run, and the work goes on.
void recordExchange(TFKsb &window, const TFrs232 &done);
// Waits until every record handed over is in the file (before the journal is read back).
void waitForJournal();
