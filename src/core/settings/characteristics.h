#pragma once
// Time-current characteristics of the KSB-7's overcurrent protections: the curve table, the trip
// time of each stage and of the protection as a whole, the points of a log-log plot and the
// commissioning test sheet. Texts are UTF-8.
//
// Each of the two protections (phases, earth) has three stages:
// - the time-dependent stage: above its pick-up, an inverse-time curve scaled by the multiplier,
//   or the definite delay for "НЕЗАВИСИМОЕ";
// - the cut-off: from its threshold on, its delay;
// - the alarm: from its threshold on, its delay; it signals and does not trip the breaker.
// Thresholds are percentages of the rated current of the base transformer, whose primary current
// turns them into amperes.
#include "core/settings/settings_set.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace qvoksb::characteristics
{

// --- the curves ---------------------------------------------------------------------------------

enum class CurveForm {
    DefiniteTime, // the stage's delay
    Iec,          // t = M · k / (x^α − 1)
    FiveConstant, // t = M · (A + B/(x − C) + D/(x − C)² + E/(x − C)³)
};

struct CurveRow {
    const char *item; // the item of the characteristic list (settings_catalogue.h)
    CurveForm form;
    double k, alpha;      // Iec
    double a, b, c, d, e; // FiveConstant
};

// One row per item of the characteristic list, in list order (index 0 to 12).
extern const std::array<CurveRow, CharacteristicItems.size()> curveTable;

// Inverse curves are drawn and operate from 1.05 times the pick-up; above 20 times it the time
// stays at its value for 20 times.
inline constexpr double curveStartMultiple = 1.05;
inline constexpr double curveEndMultiple = 20.0;

// The time of inverse curve `index` (1..12) at `multiple` times the pick-up with the curve
// multiplier `multiplier` (the setting ÷ 10). No value below the curve's start, for a definite-time
// or unknown index, or when the formula gives no finite positive time.
std::optional<double> curveTimeS(int index, double multiplier, double multiple);

// --- settings -----------------------------------------------------------------------------------

struct TimeDependentStageSettings {
    bool active = false;
    int characteristic = 0;   // index in the characteristic list
    int thresholdPercent = 0; // pick-up, % of the base transformer's rated current
    int multiplierX10 = 10;   // ten times the curve multiplier
    int delayMs = 0;          // definite delay of "НЕЗАВИСИМОЕ"
};

struct DefiniteStageSettings {
    bool active = false;
    int thresholdPercent = 0;
    int delayMs = 0;
};

struct ProtectionSettings {
    TimeDependentStageSettings timeDependent;
    DefiniteStageSettings cutOff;
    DefiniteStageSettings alarm;
};

enum class Protection { Phases, Earth };

struct Settings {
    int phaseCtPrimaryA = 100;
    int zeroSequenceCtPrimaryA = 100;
    bool earthByZeroSequence = true; // earth-fault method "НУЛЕВАЯ ПОСЛЕДОВАТЕЛЬНОСТЬ"
    ProtectionSettings phases;
    ProtectionSettings earth;
};

// The characteristics' settings out of a complete settings set: the base currents and the
// earth-fault method of page 1, the stages of pages 2 and 3, each stage active as its relay set.
Settings settingsFrom(const SettingsSet &set);

// The transformer whose primary current is 100 % for a protection's thresholds: the phase CTs,
// or for the earth stages the zero-sequence CT when the method is "НУЛЕВАЯ ПОСЛЕДОВАТЕЛЬНОСТЬ".
struct Base {
    double primaryA;
    std::string text; // e.g. "первичный ток ТТ 100 А"
};
Base base(const Settings &settings, Protection protection);

// --- stages and the resulting characteristic ----------------------------------------------------

enum class Stage { TimeDependent, CutOff, Alarm };
inline constexpr std::array<Stage, 3> allStages = {Stage::TimeDependent, Stage::CutOff,
                                                   Stage::Alarm};

const char *stageName(Stage stage); // "Времязависимая ступень", "Токовая отсечка", "Сигнал"
inline bool stageTrips(Stage stage)
{
    return stage != Stage::Alarm;
}

// One protection's settings turned into amperes and seconds.
class ProtectionCurves
{
public:
    ProtectionCurves(const Settings &settings, Protection protection);

    bool active(Stage stage) const;
    // Pick-up current of a stage in primary amperes.
    double pickupA(Stage stage) const;
    // The current from which the stage operates: its pick-up, or 1.05 times it for an inverse
    // curve.
    double startA(Stage stage) const;
    bool inverse() const; // the time-dependent stage follows an inverse curve
    // The stage's time at a primary current; none below its start, for an inactive stage, or
    // when its time is not finite and positive.
    std::optional<double> timeS(Stage stage, double currentA) const;

    struct Trip {
        double timeS;
        Stage stage;
    };
    // The resulting trip characteristic: the shortest time of the active stages that trip.
    std::optional<Trip> trip(double currentA) const;

    // The current that the multiples of plot and sheet refer to: the pick-up of the
    // time-dependent stage, else of the cut-off, else of the alarm, whichever is active first.
    Stage referenceStage() const;
    double referenceA() const { return pickupA(referenceStage()); }

    const Base &baseCurrent() const { return base_; }
    const ProtectionSettings &settings() const { return settings_; }

private:
    ProtectionSettings settings_;
    Base base_;
};

// --- the plot -----------------------------------------------------------------------------------

struct Point {
    double currentA;
    double timeS;
};
using Polyline = std::vector<Point>;

struct StageCurve {
    Stage stage;
    double startA;
    Polyline points; // from the stage's start to the right end of the current axis
    std::string legend; // the stage with its settings, e.g. "Токовая отсечка: 400 А, 0,0500 с"
};

struct PlotData {
    double currentMinA = 1, currentMaxA = 10; // decades
    double timeMinS = 0.01, timeMaxS = 10;    // decades
    double referenceA = 1;
    Stage referenceStage = Stage::TimeDependent;
    std::vector<StageCurve> stages; // the active stages only
    Polyline resulting;             // empty when no stage trips
    bool zeroTime = false;          // a stage operates without delay (0 s, off the log scale)
    std::string baseText;
};

PlotData plotData(const Settings &settings, Protection protection);

// --- the test sheet -----------------------------------------------------------------------------

// How far a measured time may lie from the expected one: the larger of `percent` of it and `ms`,
// either way.
struct Tolerance {
    double percent = 5;
    int ms = 30;
};
// "Допуск по времени: ±5 % от расчётного, не менее ±30 мс"
std::string toleranceText(const Tolerance &tolerance);

enum class RowKind {
    Check,       // a multiple of the reference current
    PickUp,      // just above a stage's threshold: the stage starts
    NoOperation, // just below it: the stage must not operate
};

struct SheetRow {
    RowKind kind = RowKind::Check;
    std::optional<double> multiple; // of the reference current
    std::optional<double> primaryA;
    std::optional<double> secondaryA;
    std::optional<double> timeS;
    std::optional<double> minS, maxS; // the allowed range of the measured time
    // What operates, "не срабатывает", "<stage>: не должна сработать", "<stage>: не используется"
    std::string stage;
};

struct Sheet {
    std::vector<SheetRow> rows;
    std::string reference; // what the multiples refer to: "Iср = 100 А: Времязависимая ступень"
    std::string tolerance; // toleranceText()
    // The time-dependent stage's formula with its constants and setting; empty when unused.
    std::string formula;
};

// Rows at 1.5, 2, 3, 5 and 10 times the reference current; for each active stage a row just
// below its threshold (0.95 times: it must not operate) and one just above it (1.05 times: the
// stage starts), in rising current; then a line for each inactive stage. Rows with a time carry
// its allowed range by `tolerance`.
// Secondary currents for a transformer of `ctSecondaryA` (1 or 5) rated secondary current; none
// for 0, the primary current alone.
Sheet testSheet(const Settings &settings, Protection protection, int ctSecondaryA,
                const Tolerance &tolerance = {});

inline constexpr std::array<double, 5> sheetMultiples = {1.5, 2, 3, 5, 10};
inline constexpr double sheetAboveThreshold = 1.05;
inline constexpr double sheetBelowThreshold = 0.95;
inline constexpr const char *NoOperationText = "не должна сработать";

// Numbers as the sheet shows them, with a decimal comma: a time to three significant figures,
// currents and multiples to three significant figures as well ("10,0", "1,74", "0,0500", "512").
std::string formatSignificant(double value);
// The cells of a row: multiple, primary A, secondary A, time s, stage, allowed range, and the
// empty cells "Измерено, с" and "Годен" the tester fills in; empty where none.
std::array<std::string, 8> sheetCells(const SheetRow &row);
// Header row and rows, tab-separated, one line each ending in "\n"; then the tolerance and the
// formula, one line each.
std::string sheetText(const Sheet &sheet);
extern const std::array<const char *, 8> sheetHeader;

} // namespace qvoksb::characteristics
