// Time-current characteristics: the curves against the published formulas and constants, typed
// here once more, the resulting characteristic, the plot's points and the test sheet.
#include "core/settings/characteristics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

using namespace qvoksb::characteristics;

namespace
{

// The published forms: IEC 60255-151 t = TMS·k/(x^α − 1); ANSI and IAC t = M·(A + B/(x − C) +
// D/(x − C)² + E/(x − C)³).
struct Published {
    int index;
    double k, alpha;
    double a, b, c, d, e;
    double at(double m, double x) const
    {
        if (k > 0)
            return m * k / (std::pow(x, alpha) - 1);
        const double y = x - c;
        return m * (a + b / y + d / (y * y) + e / (y * y * y));
    }
};

const Published published[] = {
    {1, 0, 0, 0.1735, 0.6791, 0.80, -0.0800, 0.1271}, // ANSI moderately inverse
    {2, 0, 0, 0.0274, 2.2614, 0.30, -4.1899, 9.1272}, // ANSI normally inverse
    {3, 0, 0, 0.0615, 0.7989, 0.34, -0.2840, 4.0505}, // ANSI very inverse
    {4, 0, 0, 0.0399, 0.2294, 0.50, 3.0094, 0.7222},  // ANSI extremely inverse
    {5, 0, 0, 0.0428, 0.0609, 0.62, -0.0010, 0.0221}, // IAC short inverse
    {6, 0, 0, 0.2078, 0.8630, 0.80, -0.4180, 0.1947}, // IAC inverse
    {7, 0, 0, 0.0900, 0.7955, 0.10, -1.2885, 7.9586}, // IAC very inverse
    {8, 0, 0, 0.0040, 0.6379, 0.62, 1.7872, 0.2461},  // IAC extremely inverse
    {9, 0.05, 0.04, 0, 0, 0, 0, 0},                   // IEC short-time inverse
    {10, 0.14, 0.02, 0, 0, 0, 0, 0},                  // IEC standard inverse
    {11, 13.5, 1, 0, 0, 0, 0, 0},                     // IEC very inverse
    {12, 80, 2, 0, 0, 0, 0, 0},                       // IEC extremely inverse
};

// Phases: CT 200 A; time stage IEC standard inverse at 50 % (100 A), multiplier 1.0; cut-off
// 400 % (800 A) after 50 ms; alarm off. Earth: zero-sequence CT 50 A, all three stages active.
Settings sampleSettings()
{
    Settings s;
    s.phaseCtPrimaryA = 200;
    s.zeroSequenceCtPrimaryA = 50;
    s.earthByZeroSequence = true;
    s.phases.timeDependent = {true, 10, 50, 10, 1000};
    s.phases.cutOff = {true, 400, 50};
    s.phases.alarm = {false, 30, 5000};
    s.earth.timeDependent = {true, 0, 20, 10, 700};
    s.earth.cutOff = {true, 100, 0};
    s.earth.alarm = {true, 10, 2000};
    return s;
}

} // namespace

TEST(Curves, PublishedCheckValues)
{
    EXPECT_NEAR(*curveTimeS(10, 1.0, 2), 10.03, 0.005); // IEC standard inverse
    EXPECT_NEAR(*curveTimeS(4, 1.0, 2), 1.744, 0.0005); // ANSI extremely inverse
    EXPECT_NEAR(*curveTimeS(11, 1.0, 10), 1.5, 1e-9);   // IEC very inverse: 13.5 / 9
}

TEST(Curves, EveryCurveFollowsItsFormulaAndMultiplier)
{
    for (const Published &p : published)
        for (double m : {0.1, 1.0, 2.5, 20.0})
            for (double x : {1.05, 1.5, 2.0, 5.0, 10.0, 20.0}) {
                SCOPED_TRACE(testing::Message() << "curve " << p.index << " M " << m << " x " << x);
                const auto t = curveTimeS(p.index, m, x);
                ASSERT_TRUE(t.has_value());
                EXPECT_NEAR(*t, p.at(m, x), 1e-9 * p.at(m, x));
            }
}

TEST(Curves, OperateFromStartAndFlattenAboveTwentyTimes)
{
    for (const Published &p : published) {
        EXPECT_FALSE(curveTimeS(p.index, 1.0, 1.04)) << p.index;
        EXPECT_EQ(*curveTimeS(p.index, 1.0, 50), *curveTimeS(p.index, 1.0, 20)) << p.index;
    }
    EXPECT_FALSE(curveTimeS(0, 1.0, 2));  // definite time has no curve
    EXPECT_FALSE(curveTimeS(13, 1.0, 2)); // beyond the list
    EXPECT_FALSE(curveTimeS(-1, 1.0, 2));
    EXPECT_FALSE(curveTimeS(10, 1.0, std::nan("")));
    EXPECT_STREQ(curveTable[12].item, "IEC-C очень сильная зависимость");
}

TEST(Resulting, ShortestTrippingStageWinsAndCutOffActsFromItsThreshold)
{
    const ProtectionCurves phases(sampleSettings(), Protection::Phases);
    EXPECT_DOUBLE_EQ(phases.pickupA(Stage::TimeDependent), 100);
    EXPECT_FALSE(phases.trip(104)); // below 1.05 × pick-up
    const auto below = phases.trip(799);
    ASSERT_TRUE(below);
    EXPECT_EQ(below->stage, Stage::TimeDependent);
    EXPECT_NEAR(below->timeS, published[9].at(1, 7.99), 1e-9);
    const auto at = phases.trip(800);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->stage, Stage::CutOff);
    EXPECT_DOUBLE_EQ(at->timeS, 0.05);

    // A slow cut-off loses to a faster curve, and an alarm never trips even when fastest.
    Settings s = sampleSettings();
    s.phases.cutOff.delayMs = 2000;
    s.phases.timeDependent.multiplierX10 = 5; // 1.56 s at 9 ×, 1.13 s from 20 × on
    s.phases.alarm = {true, 10, 0};
    const ProtectionCurves slow(s, Protection::Phases);
    EXPECT_EQ(slow.trip(900)->stage, Stage::TimeDependent);
    EXPECT_EQ(slow.trip(1e6)->stage, Stage::TimeDependent); // flat at 20 × : 2.27 s
    EXPECT_DOUBLE_EQ(*slow.timeS(Stage::Alarm, 30), 0.0);
    EXPECT_FALSE(slow.trip(30));

    // Definite time from the pick-up itself; an inactive stage does not operate.
    const ProtectionCurves earth(sampleSettings(), Protection::Earth);
    EXPECT_DOUBLE_EQ(earth.pickupA(Stage::TimeDependent), 10); // 20 % of the 50 A ZSCT
    EXPECT_DOUBLE_EQ(earth.trip(10)->timeS, 0.7);
    EXPECT_EQ(earth.trip(50)->stage, Stage::CutOff);
    s.phases.timeDependent.active = false;
    EXPECT_EQ(ProtectionCurves(s, Protection::Phases).trip(900)->stage, Stage::CutOff);
    // A time stage without a characteristic (list left with no item) does not operate.
    s.phases.timeDependent = {true, -1, 50, 10, 1000};
    EXPECT_FALSE(ProtectionCurves(s, Protection::Phases).timeS(Stage::TimeDependent, 500));
}

TEST(Resulting, FactorySettingsSet)
{
    // The pages at a fresh start: phase and earth CTs of 100 A, zero sequence; phases ANSI
    // moderately inverse from 4 %, multiplier 10, delay 1000 ms, cut-off 40 % at 0 ms; earth the
    // same from 12 %; both alarms drive no relay.
    const Settings s = settingsFrom(qvoksb::SettingsSet());
    EXPECT_EQ(s.phaseCtPrimaryA, 100);
    EXPECT_EQ(s.zeroSequenceCtPrimaryA, 100);
    EXPECT_TRUE(s.earthByZeroSequence);
    const auto same = [](const TimeDependentStageSettings &a, const TimeDependentStageSettings &b) {
        return a.active == b.active && a.characteristic == b.characteristic &&
               a.thresholdPercent == b.thresholdPercent && a.multiplierX10 == b.multiplierX10 &&
               a.delayMs == b.delayMs;
    };
    EXPECT_TRUE(same(s.phases.timeDependent, {true, 1, 4, 10, 1000}));
    EXPECT_TRUE(same(s.earth.timeDependent, {true, 1, 12, 10, 1000}));
    for (const ProtectionSettings &p : {s.phases, s.earth}) {
        EXPECT_TRUE(p.cutOff.active);
        EXPECT_EQ(p.cutOff.thresholdPercent, 40);
        EXPECT_EQ(p.cutOff.delayMs, 0);
        EXPECT_FALSE(p.alarm.active);
    }
    EXPECT_EQ(s.phases.alarm.thresholdPercent, 4);
    EXPECT_EQ(s.earth.alarm.thresholdPercent, 12);

    // "ВЫХ.3" alone drives the earth alarm only while output 3 is free of the self-diagnosis.
    qvoksb::SettingsSet set;
    set.setValue(qvoksb::Setting::CheckBox35, 1);
    EXPECT_FALSE(settingsFrom(set).earth.alarm.active);
    set.setValue(qvoksb::Setting::ComboBox2, 1);
    EXPECT_TRUE(settingsFrom(set).earth.alarm.active);
    EXPECT_FALSE(settingsFrom(set).phases.alarm.active);
}

TEST(Resulting, EarthBaseFollowsTheMethod)
{
    Settings s = sampleSettings();
    EXPECT_DOUBLE_EQ(base(s, Protection::Earth).primaryA, 50);
    EXPECT_NE(base(s, Protection::Earth).text.find("ТНП 50 А"), std::string::npos);
    s.earthByZeroSequence = false;
    EXPECT_DOUBLE_EQ(base(s, Protection::Earth).primaryA, 200);
    EXPECT_DOUBLE_EQ(base(s, Protection::Phases).primaryA, 200);
}

TEST(Sheet, RowsAndCurrentsOfOneSettingsSet)
{
    const Sheet sheet = testSheet(sampleSettings(), Protection::Phases, 5);
    // Below and above the 100 A pick-up, five multiples, below and above the 800 A cut-off,
    // the unused alarm.
    ASSERT_EQ(sheet.rows.size(), 10u);
    const double currents[] = {95, 105, 150, 200, 300, 500, 760, 840, 1000};
    const RowKind kinds[] = {RowKind::NoOperation, RowKind::PickUp, RowKind::Check,
                             RowKind::Check,       RowKind::Check,  RowKind::Check,
                             RowKind::NoOperation, RowKind::PickUp, RowKind::Check};
    for (int i = 0; i < 9; ++i) {
        const SheetRow &r = sheet.rows[std::size_t(i)];
        EXPECT_DOUBLE_EQ(*r.primaryA, currents[i]);
        EXPECT_DOUBLE_EQ(*r.multiple, currents[i] / 100);
        EXPECT_DOUBLE_EQ(*r.secondaryA, currents[i] / 200 * 5);
        EXPECT_EQ(r.kind, kinds[i]) << i;
    }
    EXPECT_EQ(sheet.rows[0].stage, "Времязависимая ступень: не должна сработать");
    EXPECT_FALSE(sheet.rows[0].timeS);
    // IEC standard inverse at 1.05 times: 0.14 / (1.05^0.02 − 1).
    EXPECT_NEAR(*sheet.rows[1].timeS, 0.14 / (std::pow(1.05, 0.02) - 1), 1e-9);
    EXPECT_NEAR(*sheet.rows[3].timeS, 10.03, 0.005);
    EXPECT_EQ(sheet.rows[5].stage, "Времязависимая ступень");
    EXPECT_EQ(sheet.rows[6].stage, "Токовая отсечка: не должна сработать");
    EXPECT_EQ(sheet.rows[7].stage, "Токовая отсечка"); // just above the 800 A cut-off
    EXPECT_DOUBLE_EQ(*sheet.rows[8].timeS, 0.05);
    EXPECT_EQ(sheet.rows[9].stage, "Сигнал: не используется");
    EXPECT_FALSE(sheet.rows[9].primaryA);
    // The allowed range: ±5 % of the time, but at least ±30 ms.
    EXPECT_NEAR(*sheet.rows[3].minS, *sheet.rows[3].timeS * 0.95, 1e-9);
    EXPECT_NEAR(*sheet.rows[3].maxS, *sheet.rows[3].timeS * 1.05, 1e-9);
    EXPECT_NEAR(*sheet.rows[8].minS, 0.02, 1e-9);
    EXPECT_NEAR(*sheet.rows[8].maxS, 0.08, 1e-9);
    const Sheet wide = testSheet(sampleSettings(), Protection::Phases, 5, {10, 100});
    EXPECT_NEAR(*wide.rows[8].minS, 0, 1e-9); // never below zero
    EXPECT_NEAR(*wide.rows[3].maxS, *wide.rows[3].timeS * 1.1, 1e-9);

    const Sheet oneAmp = testSheet(sampleSettings(), Protection::Phases, 1);
    EXPECT_DOUBLE_EQ(*oneAmp.rows[2].secondaryA, 0.75);
    const Sheet primaryOnly = testSheet(sampleSettings(), Protection::Phases, 0);
    EXPECT_FALSE(primaryOnly.rows[2].secondaryA);

    const std::string text = sheetText(sheet);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "Кратность\tПервичный ток, А\tВторичный ток, А\tВремя, с\tСтупень\tДопуск, "
              "с\tИзмерено, с\tГоден");
    EXPECT_NE(text.find("\n2,00\t200\t5,00\t10,0\tВремязависимая ступень\t9,53–10,5\t\t\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\t\t\t\tСигнал: не используется\t\t\t\n"), std::string::npos);
    EXPECT_NE(text.find("\nДопуск по времени: ±5 % от расчётного, не менее ±30 мс\n"),
              std::string::npos);
    EXPECT_NE(
        text.find("\nIEC-A нормальная зависимость: t = M · k / (x^α − 1), k = 0,14, α = 0,02, "
                  "M = 1 (уставка 10, x10)"),
        std::string::npos)
        << text;

    // The earth sheet: the alarm's rows come first, the alarm with its own delay.
    const Sheet earth = testSheet(sampleSettings(), Protection::Earth, 5);
    ASSERT_EQ(earth.rows.size(), 11u);
    EXPECT_DOUBLE_EQ(*earth.rows[0].primaryA, 4.75);
    EXPECT_EQ(earth.rows[0].stage, "Сигнал: не должна сработать");
    EXPECT_DOUBLE_EQ(*earth.rows[1].primaryA, 5.25);
    EXPECT_DOUBLE_EQ(*earth.rows[1].timeS, 2.0);
    EXPECT_EQ(earth.rows[1].stage, "Сигнал");
    EXPECT_EQ(earth.formula, "НЕЗАВИСИМОЕ: t = 0,7 с от Iср");

    // No stage in use: nothing drawn, nothing to inject, three lines saying so.
    Settings off = sampleSettings();
    off.earth.timeDependent.active = off.earth.cutOff.active = off.earth.alarm.active = false;
    const Sheet none = testSheet(off, Protection::Earth, 5);
    ASSERT_EQ(none.rows.size(), 3u);
    EXPECT_EQ(none.rows[1].stage, "Токовая отсечка: не используется");
    const PlotData empty = plotData(off, Protection::Earth);
    EXPECT_TRUE(empty.stages.empty() && empty.resulting.empty());
    EXPECT_GE(empty.currentMaxA, empty.currentMinA * 10);
}

TEST(Sheet, ThreeSignificantFiguresWithADecimalComma)
{
    const std::pair<double, const char *> shown[] = {
        {10.0297, "10,0"}, {1.7443, "1,74"},   {0.05, "0,0500"}, {512.4, "512"},
        {9.996, "10,0"},   {0.09996, "0,100"}, {0, "0"},         {12345, "12345"}};
    for (const auto &[value, text] : shown)
        EXPECT_EQ(formatSignificant(value), text) << value;
}

TEST(Plot, EveryCombinationTheSettingsAllowDrawsFiniteValues)
{
    // The extremes of each setting's range, on both tabs, including an inactive stage, the
    // cut-off below the pick-up and a multiplier of 0.1.
    for (int characteristic = 0; characteristic < 13; ++characteristic)
        for (int multiplier : {1, 200})
            for (int threshold : {4, 300})
                for (int cutOff : {4, 1800})
                    for (int delay : {0, 50, 600000})
                        for (bool active : {false, true}) {
                            Settings s;
                            s.phaseCtPrimaryA = threshold == 4 ? 5 : 5000;
                            s.earthByZeroSequence = false;
                            s.phases.timeDependent = {active, characteristic, threshold, multiplier,
                                                      std::max(delay, 50)};
                            s.phases.cutOff = {true, cutOff, std::min(delay, 2000)};
                            s.phases.alarm = {!active, threshold, std::max(delay, 50)};
                            s.earth = s.phases;
                            for (Protection p : {Protection::Phases, Protection::Earth}) {
                                const PlotData d = plotData(s, p);
                                ASSERT_GT(d.currentMinA, 0);
                                ASSERT_GE(d.currentMaxA, d.currentMinA * 10);
                                ASSERT_GE(d.timeMinS, 0.01);
                                ASSERT_GE(d.timeMaxS, d.timeMinS * 100);
                                ASSERT_FALSE(d.resulting.empty());
                                for (const StageCurve &c : d.stages)
                                    for (const Point &pt : c.points)
                                        ASSERT_TRUE(std::isfinite(pt.timeS) && pt.timeS >= 0 &&
                                                    pt.timeS <= d.timeMaxS &&
                                                    pt.currentA >= d.currentMinA &&
                                                    pt.currentA <= d.currentMaxA);
                                for (const SheetRow &r : testSheet(s, p, 5).rows)
                                    ASSERT_TRUE(!r.timeS || std::isfinite(*r.timeS));
                            }
                        }
}

TEST(Plot, ResultingCharacteristicStepsUprightAtTheCutOff)
{
    const PlotData d = plotData(sampleSettings(), Protection::Phases);
    ASSERT_EQ(d.stages.size(), 2u); // alarm off: not drawn
    bool step = false;
    for (std::size_t i = 1; i < d.resulting.size(); ++i) {
        ASSERT_GE(d.resulting[i].currentA, d.resulting[i - 1].currentA);
        ASSERT_LE(d.resulting[i].timeS, d.resulting[i - 1].timeS + 1e-12);
        if (d.resulting[i].currentA == 800 && d.resulting[i - 1].currentA == 800)
            step = d.resulting[i].timeS == 0.05 &&
                   std::fabs(d.resulting[i - 1].timeS - published[9].at(1, 8)) < 1e-6;
    }
    EXPECT_TRUE(step);
    EXPECT_DOUBLE_EQ(d.resulting.front().currentA, 105);
    // An instantaneous stage is marked, for the plot's band at 0 s.
    EXPECT_FALSE(d.zeroTime);
    EXPECT_TRUE(plotData(sampleSettings(), Protection::Earth).zeroTime);
    // The axis starts below the 100 A pick-up and ends past 20 times it.
    EXPECT_DOUBLE_EQ(d.currentMinA, 50);
    EXPECT_DOUBLE_EQ(d.currentMaxA, 5000);
}
