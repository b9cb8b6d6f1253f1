#include "core/settings/characteristics.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qvoksb::characteristics
{

namespace
{

constexpr CurveRow definite()
{
    return {"", CurveForm::DefiniteTime, 0, 0, 0, 0, 0, 0, 0};
}

constexpr CurveRow iec(double k, double alpha)
{
    return {"", CurveForm::Iec, k, alpha, 0, 0, 0, 0, 0};
}

constexpr CurveRow five(double a, double b, double c, double d, double e)
{
    return {"", CurveForm::FiveConstant, 0, 0, a, b, c, d, e};
}

// The rows take their names from the characteristic list, by their place in it.
constexpr std::array<CurveRow, CharacteristicItems.size()>
named(std::array<CurveRow, CharacteristicItems.size()> rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].item = CharacteristicItems[i];
    return rows;
}

} // namespace

// The unit's characteristics. IEC 60255-151: short-time, standard, very and extremely inverse.
// ANSI: moderately, normally, very and extremely inverse; IAC: short, normal, very and extremely
// inverse, both in the five-constant form. Should the unit's own documentation give other
// constants, this table is the one place to correct them.
// clang-format off
constinit const std::array<CurveRow, CharacteristicItems.size()> curveTable = named({
    definite(),                                  // independent time: the stage's own delay
    //    A       B       C      D       E
    five(0.1735, 0.6791, 0.80, -0.0800, 0.1271), // ANSI moderately inverse
    five(0.0274, 2.2614, 0.30, -4.1899, 9.1272), // ANSI normally inverse
    five(0.0615, 0.7989, 0.34, -0.2840, 4.0505), // ANSI very inverse
    five(0.0399, 0.2294, 0.50,  3.0094, 0.7222), // ANSI extremely inverse
    five(0.0428, 0.0609, 0.62, -0.0010, 0.0221), // IAC short-time inverse
    five(0.2078, 0.8630, 0.80, -0.4180, 0.1947), // IAC inverse
    five(0.0900, 0.7955, 0.10, -1.2885, 7.9586), // IAC very inverse
    five(0.0040, 0.6379, 0.62,  1.7872, 0.2461), // IAC extremely inverse
    //   k     α
    iec(0.05, 0.04),                             // IEC short-time inverse
    iec(0.14, 0.02),                             // IEC-A standard inverse
    iec(13.5, 1),                                // IEC-B very inverse
    iec(80,   2),                                // IEC-C extremely inverse
});
// clang-format on

namespace
{

std::optional<double> positiveFinite(double t)
{
    if (std::isfinite(t) && t > 0)
        return t;
    return std::nullopt;
}

// A current at a threshold computed another way (1.5 × 40 A against 60 A) may differ in the
// last bit; it still counts as reaching it.
bool reaches(double currentA, double thresholdA)
{
    return currentA >= thresholdA * (1 - 1e-12);
}

// What every stage has: whether it is on, its pick-up and its definite delay.
DefiniteStageSettings definitePart(const ProtectionSettings &settings, Stage stage)
{
    switch (stage) {
    case Stage::TimeDependent:
        return {settings.timeDependent.active, settings.timeDependent.thresholdPercent,
                settings.timeDependent.delayMs};
    case Stage::CutOff:
        return settings.cutOff;
    case Stage::Alarm:
        return settings.alarm;
    }
    return {};
}

} // namespace

std::optional<double> curveTimeS(int index, double multiplier, double multiple)
{
    if (index < 0 || index >= int(curveTable.size()) || !(multiple >= curveStartMultiple))
        return std::nullopt;
    const CurveRow &row = curveTable[std::size_t(index)];
    const double x = std::min(multiple, curveEndMultiple);
    switch (row.form) {
    case CurveForm::Iec:
        return positiveFinite(multiplier * row.k / (std::pow(x, row.alpha) - 1));
    case CurveForm::FiveConstant: {
        const double y = x - row.c;
        return positiveFinite(multiplier *
                              (row.a + row.b / y + row.d / (y * y) + row.e / (y * y * y)));
    }
    case CurveForm::DefiniteTime:
        break;
    }
    return std::nullopt;
}

Settings settingsFrom(const SettingsSet &set)
{
    using S = Setting;
    auto v = [&set](Setting s) { return set.value(s); };
    Settings s;
    s.phaseCtPrimaryA = v(S::RxSpinEdit2);
    s.zeroSequenceCtPrimaryA = v(S::RxSpinEdit3);
    s.earthByZeroSequence = v(S::ComboBox1) != 0;
    // Relay sets 4 to 6 drive the phase stages, 7 to 9 the earth stages.
    s.phases.timeDependent = {relaySetActive(set, 4), v(S::ComboBox3), v(S::RxSpinEdit8),
                              v(S::RxSpinEdit10), v(S::RxSpinEdit9)};
    s.phases.cutOff = {relaySetActive(set, 5), v(S::RxSpinEdit11), v(S::RxSpinEdit12)};
    s.phases.alarm = {relaySetActive(set, 6), v(S::RxSpinEdit13), v(S::RxSpinEdit14)};
    s.earth.timeDependent = {relaySetActive(set, 7), v(S::ComboBox4), v(S::RxSpinEdit15),
                             v(S::RxSpinEdit17), v(S::RxSpinEdit16)};
    s.earth.cutOff = {relaySetActive(set, 8), v(S::RxSpinEdit18), v(S::RxSpinEdit19)};
    s.earth.alarm = {relaySetActive(set, 9), v(S::RxSpinEdit20), v(S::RxSpinEdit21)};
    return s;
}

Base base(const Settings &settings, Protection protection)
{
    const bool zeroSequence = protection == Protection::Earth && settings.earthByZeroSequence;
    const int primaryA = zeroSequence ? settings.zeroSequenceCtPrimaryA : settings.phaseCtPrimaryA;
    std::string text = zeroSequence ? "первичный ток ТНП " : "первичный ток ТТ фаз ";
    text += std::to_string(primaryA) + " А";
    return {double(std::max(primaryA, 0)), text};
}

const char *stageName(Stage stage)
{
    static constexpr const char *names[] = {"Времязависимая ступень", "Токовая отсечка", "Сигнал"};
    static_assert(std::size(names) == allStages.size());
    return names[size_t(stage)];
}

ProtectionCurves::ProtectionCurves(const Settings &settings, Protection protection)
    : settings_(protection == Protection::Phases ? settings.phases : settings.earth),
      base_(base(settings, protection))
{
}

bool ProtectionCurves::active(Stage stage) const
{
    return definitePart(settings_, stage).active;
}

double ProtectionCurves::pickupA(Stage stage) const
{
    return std::max(definitePart(settings_, stage).thresholdPercent, 0) / 100.0 * base_.primaryA;
}

bool ProtectionCurves::inverse() const
{
    const int index = settings_.timeDependent.characteristic;
    return index > 0 && index < int(curveTable.size());
}

double ProtectionCurves::startA(Stage stage) const
{
    const double pickup = pickupA(stage);
    return stage == Stage::TimeDependent && inverse() ? pickup * curveStartMultiple : pickup;
}

std::optional<double> ProtectionCurves::timeS(Stage stage, double currentA) const
{
    const double pickup = pickupA(stage);
    if (!active(stage) || !(pickup > 0) || !reaches(currentA, startA(stage)))
        return std::nullopt;
    // A list with no item chosen (a damaged file) names no characteristic at all.
    const int characteristic = settings_.timeDependent.characteristic;
    if (stage == Stage::TimeDependent &&
        (characteristic < 0 || characteristic >= int(curveTable.size())))
        return std::nullopt;
    if (stage == Stage::TimeDependent && inverse()) {
        // A current just at the start may come out a hair below 1.05 times the pick-up.
        const double multiple = std::max(currentA / pickup, curveStartMultiple);
        return curveTimeS(characteristic, settings_.timeDependent.multiplierX10 / 10.0, multiple);
    }
    const int delayMs = definitePart(settings_, stage).delayMs;
    // An instantaneous cut-off (0 ms) operates at once: zero is a valid time, a negative one not.
    if (delayMs < 0)
        return std::nullopt;
    return delayMs / 1000.0;
}

std::optional<ProtectionCurves::Trip> ProtectionCurves::trip(double currentA) const
{
    std::optional<Trip> best;
    for (Stage stage : allStages) {
        if (!stageTrips(stage))
            continue;
        if (const auto t = timeS(stage, currentA); t && (!best || *t < best->timeS))
            best = Trip{*t, stage};
    }
    return best;
}

Stage ProtectionCurves::referenceStage() const
{
    for (Stage stage : allStages)
        if (active(stage))
            return stage;
    return Stage::TimeDependent;
}

// --- the plot -----------------------------------------------------------------------------------

namespace
{

double decadeBelow(double v)
{
    return std::pow(10.0, std::floor(std::log10(v) + 1e-9));
}

double decadeAbove(double v)
{
    return std::pow(10.0, std::ceil(std::log10(v) - 1e-9));
}

// The current axis ends on 1, 2 or 5 times a power of ten, a little beyond the pick-ups, so that
// no pick-up line runs along the frame.
double niceBelow(double v)
{
    const double decade = decadeBelow(v);
    for (double step : {5.0, 2.0, 1.0})
        if (decade * step <= v * (1 + 1e-9))
            return decade * step;
    return decade;
}

double niceAbove(double v)
{
    const double decade = decadeBelow(v);
    for (double step : {1.0, 2.0, 5.0})
        if (decade * step >= v * (1 - 1e-9))
            return decade * step;
    return decade * 10;
}

constexpr int samplesPerDecade = 60;

std::string stageLegend(const ProtectionCurves &curves, Stage stage)
{
    std::string text = std::string(stageName(stage)) + ": ";
    text += formatSignificant(curves.pickupA(stage)) + " А, ";
    if (stage == Stage::TimeDependent && curves.inverse()) {
        const TimeDependentStageSettings &s = curves.settings().timeDependent;
        text += curveTable[std::size_t(s.characteristic)].item;
        // The setting holds tenths exactly: 10 is 1,0.
        const int tenths = std::max(s.multiplierX10, 0);
        text += ", множитель " + std::to_string(tenths / 10) + "," + std::to_string(tenths % 10);
    } else {
        const auto t = curves.timeS(stage, curves.startA(stage) * 2);
        text += t ? formatSignificant(*t) + " с" : std::string("—");
    }
    return text;
}

} // namespace

PlotData plotData(const Settings &settings, Protection protection)
{
    const ProtectionCurves curves(settings, protection);
    PlotData data;
    data.baseText = curves.baseCurrent().text;
    data.referenceStage = curves.referenceStage();
    data.referenceA = curves.referenceA();

    // The current axis spans every active stage's start and reaches well past the end of the
    // inverse curve, the cut-off and the alarm.
    double lowA = 0, highA = 0;
    for (Stage stage : allStages) {
        const double start = curves.startA(stage);
        if (!curves.active(stage) || !(start > 0))
            continue;
        const double end = stage == Stage::TimeDependent && curves.inverse()
                               ? curves.pickupA(stage) * curveEndMultiple * 1.5
                               : start * 3;
        const double pickup = curves.pickupA(stage);
        lowA = lowA > 0 ? std::min(lowA, pickup) : pickup;
        highA = std::max(highA, end);
    }
    if (data.referenceA > 0)
        highA = std::max(highA, data.referenceA * 10);
    if (!(lowA > 0)) {
        lowA = data.referenceA > 0 ? data.referenceA : 1;
        highA = lowA * 10;
    }
    data.currentMinA = niceBelow(lowA * 0.95);
    data.currentMaxA = std::max(niceAbove(highA), data.currentMinA * 10);

    // Sample the axis evenly on a log scale, and add each stage's start so that the steps of
    // the resulting characteristic stand upright.
    std::vector<double> currents;
    const double decades = std::log10(data.currentMaxA / data.currentMinA);
    const int n = int(std::ceil(decades * samplesPerDecade));
    for (int i = 0; i <= n; ++i)
        currents.push_back(i == n ? data.currentMaxA
                                  : data.currentMinA * std::pow(10.0, decades * i / n));
    std::vector<double> starts;
    for (Stage stage : allStages)
        if (curves.active(stage) && curves.startA(stage) > 0) {
            starts.push_back(curves.startA(stage));
            if (stage == Stage::TimeDependent && curves.inverse())
                starts.push_back(curves.pickupA(stage) * curveEndMultiple);
        }
    currents.insert(currents.end(), starts.begin(), starts.end());
    std::sort(currents.begin(), currents.end());
    currents.erase(std::unique(currents.begin(), currents.end()), currents.end());

    double lowS = 0, highS = 0;
    auto note = [&](double t) {
        if (t > 0)
            lowS = lowS > 0 ? std::min(lowS, t) : t;
        else
            data.zeroTime = true;
        highS = std::max(highS, t);
    };
    for (Stage stage : allStages) {
        if (!curves.active(stage))
            continue;
        StageCurve curve{stage, curves.startA(stage), {}, stageLegend(curves, stage)};
        for (double c : currents)
            if (const auto t = curves.timeS(stage, c)) {
                curve.points.push_back({c, *t});
                note(*t);
            }
        if (!curve.points.empty())
            data.stages.push_back(std::move(curve));
    }
    for (double c : currents) {
        const bool start = std::find(starts.begin(), starts.end(), c) != starts.end();
        if (start && !data.resulting.empty())
            if (const auto before = curves.trip(c * (1 - 1e-9)))
                data.resulting.push_back({c, before->timeS});
        if (const auto t = curves.trip(c))
            data.resulting.push_back({c, t->timeS});
    }

    // A time on a decade gets the decade below it, so that no line runs along the frame.
    data.timeMinS = lowS > 0 ? std::max(decadeBelow(lowS * 0.999), 0.01) : 0.01;
    data.timeMaxS = std::max(highS > 0 ? decadeAbove(highS * 1.01) : 10.0, data.timeMinS * 100);
    return data;
}

// --- the test sheet -----------------------------------------------------------------------------

const std::array<const char *, 8> sheetHeader = {
    "Кратность", "Первичный ток, А", "Вторичный ток, А", "Время, с",
    "Ступень",   "Допуск, с",        "Измерено, с",      "Годен"};

namespace
{

// A constant as the formula prints it: as few digits as it has, with a decimal comma.
std::string constantText(double value)
{
    char text[32];
    std::string s(text, std::to_chars(text, text + sizeof text, value).ptr);
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

std::string formulaOf(const ProtectionSettings &settings)
{
    const TimeDependentStageSettings &td = settings.timeDependent;
    if (!td.active || td.characteristic < 0 || td.characteristic >= int(curveTable.size()))
        return {};
    const CurveRow &row = curveTable[std::size_t(td.characteristic)];
    const std::string m = "M = " + constantText(td.multiplierX10 / 10.0) + " (уставка " +
                          std::to_string(td.multiplierX10) + ", x10)";
    const std::string range = "; x = I/Iср от " + constantText(curveStartMultiple) + " до " +
                              constantText(curveEndMultiple) + ", выше 20 время как при 20";
    switch (row.form) {
    case CurveForm::Iec:
        return std::string(row.item) + ": t = M · k / (x^α − 1), k = " + constantText(row.k) +
               ", α = " + constantText(row.alpha) + ", " + m + range;
    case CurveForm::FiveConstant:
        return std::string(row.item) +
               ": t = M · (A + B/(x − C) + D/(x − C)² + E/(x − C)³), A = " + constantText(row.a) +
               ", B = " + constantText(row.b) + ", C = " + constantText(row.c) +
               ", D = " + constantText(row.d) + ", E = " + constantText(row.e) + ", " + m + range;
    case CurveForm::DefiniteTime:
        break;
    }
    return std::string(row.item) + ": t = " + constantText(td.delayMs / 1000.0) + " с от Iср";
}

} // namespace

std::string toleranceText(const Tolerance &tolerance)
{
    return "Допуск по времени: ±" + constantText(tolerance.percent) +
           " % от расчётного, не менее ±" + std::to_string(tolerance.ms) + " мс";
}

Sheet testSheet(const Settings &settings, Protection protection, int ctSecondaryA,
                const Tolerance &tolerance)
{
    const ProtectionCurves curves(settings, protection);
    const double reference = curves.referenceA();
    const double basePrimary = curves.baseCurrent().primaryA;
    Sheet sheet;
    sheet.reference =
        "Iср = " + formatSignificant(reference) + " А: " + stageName(curves.referenceStage());
    sheet.tolerance = toleranceText(tolerance);
    sheet.formula = formulaOf(curves.settings());

    auto row = [&](double currentA, std::optional<ProtectionCurves::Trip> operation,
                   RowKind kind = RowKind::Check) {
        SheetRow r;
        r.kind = kind;
        r.primaryA = currentA;
        if (reference > 0)
            r.multiple = currentA / reference;
        if (basePrimary > 0 && ctSecondaryA > 0)
            r.secondaryA = currentA / basePrimary * ctSecondaryA;
        if (operation) {
            r.timeS = operation->timeS;
            const double slack =
                std::max(operation->timeS * tolerance.percent / 100, tolerance.ms / 1000.0);
            r.minS = std::max(0.0, operation->timeS - slack);
            r.maxS = operation->timeS + slack;
            r.stage = stageName(operation->stage);
        } else {
            r.stage = "не срабатывает";
        }
        sheet.rows.push_back(std::move(r));
    };

    // With no stage in use there is nothing to inject for.
    if (reference > 0 && curves.active(curves.referenceStage()))
        for (double m : sheetMultiples)
            row(m * reference, curves.trip(m * reference));
    for (Stage stage : allStages) {
        if (!curves.active(stage) || !(curves.pickupA(stage) > 0))
            continue;
        // Just below the threshold the stage must not operate, whatever else does.
        SheetRow below;
        below.kind = RowKind::NoOperation;
        below.primaryA = curves.pickupA(stage) * sheetBelowThreshold;
        if (reference > 0)
            below.multiple = *below.primaryA / reference;
        if (basePrimary > 0 && ctSecondaryA > 0)
            below.secondaryA = *below.primaryA / basePrimary * ctSecondaryA;
        below.stage = std::string(stageName(stage)) + ": " + NoOperationText;
        sheet.rows.push_back(std::move(below));
        const double current = curves.pickupA(stage) * sheetAboveThreshold;
        // Just above a tripping stage's threshold the resulting characteristic decides; the
        // alarm row shows the alarm itself, which trips nothing.
        if (stage == Stage::Alarm) {
            const auto t = curves.timeS(stage, current);
            row(current, t ? std::optional(ProtectionCurves::Trip{*t, stage}) : std::nullopt,
                RowKind::PickUp);
        } else {
            row(current, curves.trip(current), RowKind::PickUp);
        }
    }
    // A test set steps the current up: the rows in rising current.
    std::stable_sort(
        sheet.rows.begin(), sheet.rows.end(),
        [](const SheetRow &a, const SheetRow &b) { return *a.primaryA < *b.primaryA; });
    for (Stage stage : allStages)
        if (!curves.active(stage)) {
            SheetRow r;
            r.stage = std::string(stageName(stage)) + ": не используется";
            sheet.rows.push_back(std::move(r));
        }
    return sheet;
}

std::string formatSignificant(double value)
{
    if (!std::isfinite(value))
        return {};
    if (value == 0)
        return "0";
    // Decimals for three significant figures; a value that rounds up to the next power of ten
    // (9.996 to 10.0) loses one.
    int decimals = std::max(0, 2 - int(std::floor(std::log10(std::fabs(value)))));
    // to_chars, not printf: the C locale of a Qt program may write a comma already.
    char text[64];
    auto print = [&] {
        return std::string(
            text,
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr);
    };
    std::string s = print();
    double rounded = 0;
    std::from_chars(s.data(), s.data() + s.size(), rounded);
    if (decimals > 0 && std::fabs(rounded) >= std::pow(10.0, 3 - decimals) - 1e-12) {
        --decimals;
        s = print();
    }
    std::replace(s.begin(), s.end(), '.', ',');
    return s;
}

std::array<std::string, 8> sheetCells(const SheetRow &row)
{
    auto cell = [](const std::optional<double> &v) {
        return v ? formatSignificant(*v) : std::string();
    };
    const std::string range =
        row.minS && row.maxS ? cell(row.minS) + "–" + cell(row.maxS) : std::string();
    return {cell(row.multiple),
            cell(row.primaryA),
            cell(row.secondaryA),
            cell(row.timeS),
            row.stage,
            range,
            "",
            ""};
}

std::string sheetText(const Sheet &sheet)
{
    std::string text;
    auto line = [&text](const auto &cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i)
                text += '\t';
            text += cells[i];
        }
        text += '\n';
    };
    line(sheetHeader);
    for (const SheetRow &row : sheet.rows)
        line(sheetCells(row));
    text += sheet.tolerance + '\n';
    if (!sheet.formula.empty())
        text += sheet.formula + '\n';
    return text;
}

} // namespace qvoksb::characteristics
