#include "WorkJournal.h"

#include "Main.h"
#include "Messages.h"
#include "Rs232.h"
#include "journal.h"
#include "settings_diff.h"

#include <QDateTime>
#include <QLabel>

namespace exchange = qvoksb::exchange;
namespace journal = qvoksb::journal;

namespace
{

const char *kindOf(int tag)
{
    switch (tag) {
    case TFrs232::WriteConfiguration:
        return "write";
    case TFrs232::ReadConfiguration:
        return "read";
    case TFrs232::CompareConfiguration:
        return "compare";
    case TFrs232::ControlCommand:
        return "command";
    case TFrs232::InputOutputState:
        return "state";
    default:
        return "";
    }
}

const char *outcomeOf(exchange::Outcome outcome)
{
    switch (outcome) {
    case exchange::Outcome::Done:
        return "ok";
    case exchange::Outcome::Differences:
        return "differences";
    case exchange::Outcome::Unverified:
        return "unverified";
    case exchange::Outcome::Refused:
        return "refused";
    case exchange::Outcome::NoAnswer:
        return "no-reply";
    case exchange::Outcome::Aborted:
        return "aborted";
    case exchange::Outcome::PortLost:
    case exchange::Outcome::Running:
        break;
    }
    return "port";
}

} // namespace

void recordExchange(TFKsb &window, const TFrs232 &done)
{
    const int tag = Tag(&done);
    journal::Record r;
    r.time = journal::timeNow();
    r.program = "qvoksb";
    r.port = "COM" + std::to_string(window.FComPort);
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
    const qvoksb::SettingsSet current = window.currentSettings();
    if (tag == TFrs232::WriteConfiguration) {
        r.source = qvoksb::originText(window.Origin, current);
        r.sha256 = journal::configurationDigest(done.Settings);
        if (result && result->verify && result->settings)
            r.differences = int(result->differences.size());
    } else if (tag == TFrs232::CompareConfiguration) {
        r.source = qvoksb::originText(window.Origin, current);
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

    static bool reported = false;
    std::string why;
    if (!journal::append(journal::journalPath(), r, &why) && !reported) {
        reported = true;
        Messages::Error(&window,
                        QStringLiteral("Журнал работ не записан:\n") + QString::fromStdString(why));
    }
}
