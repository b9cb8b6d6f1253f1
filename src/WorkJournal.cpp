#include "WorkJournal.h"

#include "Messages.h"
#include "Rs232.h"
#include "Tag.h"
#include "core/records/journal.h"
#include "core/settings/settings_diff.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace exchange = qvoksb::exchange;
namespace journal = qvoksb::journal;

namespace
{

// The journal's words for the exchange window's kinds and for the engine's outcomes.
const char *kindOf(int tag)
{
    static constexpr std::pair<int, const char *> kinds[] = {
        {TFrs232::WriteConfiguration, "write"},     {TFrs232::ReadConfiguration, "read"},
        {TFrs232::CompareConfiguration, "compare"}, {TFrs232::ControlCommand, "command"},
        {TFrs232::InputOutputState, "state"},
    };
    for (const auto &[kindTag, word] : kinds)
        if (kindTag == tag)
            return word;
    return "";
}

const char *outcomeOf(exchange::Outcome outcome)
{
    static constexpr std::pair<exchange::Outcome, const char *> outcomes[] = {
        {exchange::Outcome::Done, "ok"},
        {exchange::Outcome::Differences, "differences"},
        {exchange::Outcome::Unverified, "unverified"},
        {exchange::Outcome::Refused, "refused"},
        {exchange::Outcome::NoAnswer, "no-reply"},
        {exchange::Outcome::Aborted, "aborted"},
    };
    for (const auto &[known, word] : outcomes)
        if (known == outcome)
            return word;
    return "port"; // the port lost, or failed to open
}

// One thread, so that records reach the file in the order of the exchanges.
QThreadPool &writer()
{
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    pool.setExpiryTimeout(-1);
    return pool;
}

// Hands the record to the writer thread; a failure is reported once per run over `owner`.
void appendRecord(const journal::Record &r, QWidget *owner)
{
    writer().start([owner = QPointer<QWidget>(owner), r, path = journal::journalPath()] {
        std::string why;
        // At the program's end the application may be gone; the record is lost either way.
        if (journal::append(path, r, &why) || !QCoreApplication::instance())
            return;
        QMetaObject::invokeMethod(
            qApp,
            [owner, why] {
                static bool reported = false;
                if (reported || !owner)
                    return;
                reported = true;
                Messages::Error(owner, QStringLiteral("Журнал работ не записан:\n") +
                                           QString::fromStdString(why));
            },
            Qt::QueuedConnection);
    });
}

} // namespace

void recordExchange(const TFrs232 &done, const qvoksb::SettingsSet &current,
                    const qvoksb::SettingsOrigin &origin, QWidget *owner)
{
    const int tag = Tag(&done);
    journal::Record r;
    r.time = journal::timeNow();
    r.program = "qvoksb";
    r.port = done.linkName().toStdString(); // "COMn", or the gateway's host:port
    r.address = done.UnitAddress;
    r.kind = kindOf(tag);
    const std::optional<exchange::Result> &result = done.result();
    // A port that never opened leaves its reason on the window's label.
    r.outcome = result ? outcomeOf(result->outcome) : "port";
    r.message = result ? result->message : done.Label1->text().simplified().toStdString();
    if (tag == TFrs232::ControlCommand) {
        for (const exchange::CommandRow &c : exchange::Commands)
            if (c.code == done.CommandCode)
                r.message = "«" + std::string(c.caption) + "»" +
                            (r.message.empty() ? "" : ": " + r.message);
    }
    if (tag == TFrs232::WriteConfiguration) {
        r.source = qvoksb::originText(origin, current);
        r.sha256 = journal::configurationDigest(done.Settings);
        if (result && result->verify && result->settings)
            r.differences = int(result->differences.size());
    } else if (tag == TFrs232::CompareConfiguration) {
        r.source = qvoksb::originText(origin, current);
        if (result && result->settings) {
            r.sha256 = journal::configurationDigest(*result->settings);
            r.differences = int(qvoksb::differenceCount(current, *result->settings,
                                                        qvoksb::Compared::Configuration));
        }
    } else if (tag == TFrs232::ReadConfiguration && result && result->settings) {
        qvoksb::SettingsOrigin unit;
        unit.kind = qvoksb::SettingsOrigin::Kind::Unit;
        unit.port = r.port;
        unit.address = r.address;
        unit.time =
            QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")).toStdString();
        unit.set = *result->settings;
        r.source = qvoksb::originText(unit, unit.set);
        r.sha256 = journal::configurationDigest(*result->settings);
    }
    if (result && result->lastTrip)
        r.lastTrip = qvoksb::tripTimeText(*result->lastTrip) + ": " +
                     qvoksb::tripCauseText(result->lastTrip->cause);

    appendRecord(r, owner);
}

void recordUnitExchange(const std::string &link, const exchange::Result &result, const std::string &file,
                        const qvoksb::SettingsSet *fileSet, QWidget *owner)
{
    journal::Record r;
    r.time = journal::timeNow();
    r.program = "qvoksb";
    r.port = link;
    r.address = result.address;
    r.kind = result.kind == exchange::Kind::Write     ? "write"
             : result.kind == exchange::Kind::Compare ? "compare"
                                                      : "read";
    r.outcome = outcomeOf(result.outcome);
    r.message = result.message;
    r.source = file;
    if (result.kind == exchange::Kind::Write) {
        r.sha256 = journal::configurationDigest(result.written ? *result.written
                                                               : fileSet ? *fileSet
                                                                         : qvoksb::SettingsSet());
        if (result.verify && result.settings)
            r.differences = int(result.differences.size());
    } else if (result.settings) {
        r.sha256 = journal::configurationDigest(*result.settings);
        if (result.kind == exchange::Kind::Compare && fileSet)
            r.differences = int(qvoksb::differenceCount(*fileSet, *result.settings,
                                                        qvoksb::Compared::Configuration));
    }
    if (result.lastTrip)
        r.lastTrip = qvoksb::tripTimeText(*result.lastTrip) + ": " +
                     qvoksb::tripCauseText(result.lastTrip->cause);
    appendRecord(r, owner);
}

void waitForJournal()
{
    writer().waitForDone();
}
