// The interlocks between the settings, driven through the real window: clicks, key presses on the
// spin edits, values and list items written by code the way the loader and the decoder write them.
// The expected states come from the test's own copy of the rule tables, keyed by control name.
#include "Main.h"
#include "core/settings/interlocks.h"
#include "core/settings/settings_set.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <memory>
#include <tuple>
#include <vector>

namespace
{

// Every setting with the caption at its left, as the pages show them.
const std::vector<std::pair<const char *, const char *>> captions = {
    {"RxSpinEdit1", "LSystem1"},  {"RxSpinEdit2", "LSystem2"}, {"ComboBox1", "LSystem3"},
    {"RxSpinEdit3", "LSystem4"},  {"Edit1", "LSystem5"},       {"ComboBox2", "LSystem6"},
    {"RxSpinEdit4", "LSystem7"},  {"RxSpinEdit5", "LSystem9"}, {"RxSpinEdit6", "LSystem11"},
    {"RxSpinEdit7", "LSystem13"}, {"RxSpinEdit8", "LMTZ2"},    {"ComboBox3", "LMTZ3"},
    {"RxSpinEdit9", "LMTZ4"},     {"RxSpinEdit10", "LMTZ5"},   {"RxSpinEdit11", "LMTZ7"},
    {"RxSpinEdit12", "LMTZ8"},    {"RxSpinEdit13", "LMTZ10"},  {"RxSpinEdit14", "LMTZ11"},
    {"RxSpinEdit15", "LOZZ2"},    {"ComboBox4", "LOZZ3"},      {"RxSpinEdit16", "LOZZ4"},
    {"RxSpinEdit17", "LOZZ5"},    {"RxSpinEdit18", "LOZZ7"},   {"RxSpinEdit19", "LOZZ8"},
    {"RxSpinEdit20", "LOZZ10"},   {"RxSpinEdit21", "LOZZ11"},  {"ComboBox5", "LDO1"},
    {"RxSpinEdit22", "LDO2"},     {"ComboBox6", "LDO3"},       {"RxSpinEdit23", "LDO4"},
    {"ComboBox7", "LDO5"},        {"RxSpinEdit24", "LDO6"},    {"ComboBox8", "LDO7"},
    {"RxSpinEdit25", "LDO8"},     {"ComboBox9", "LDI1"},       {"ComboBox10", "LDI2"},
    {"ComboBox11", "LDI3"},       {"ComboBox12", "LDI4"},      {"ComboBox13", "LDI5"},
    {"ComboBox14", "LDI6"},       {"EEvent", "Label4"},        {"EDt", "Label3"},
    {"RxSpinEdit26", "Label1"},   {"RxSpinEdit27", "Label2"},
};

// The captions of the nine relay rows; they name a row and are never switched off.
const char *const rowCaptions[] = {"LSystem8", "LSystem10", "LSystem12", "LMTZ1", "LMTZ6",
                                   "LMTZ9",    "LOZZ1",     "LOZZ6",     "LOZZ9"};

struct RelaySet {
    int number;
    std::array<int, 4> boxes; // "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3"; 0 = the set has no such box
    std::vector<const char *> settings;
    const char *list = nullptr; // characteristic of a time-dependent function
    const char *delay = nullptr;
    const char *multiplier = nullptr;
};

const std::vector<RelaySet> relaySets = {
    {1, {0, 1, 2, 3}, {"RxSpinEdit5"}},
    {2, {7, 4, 5, 6}, {"RxSpinEdit6"}},
    {3, {8, 9, 10, 11}, {"RxSpinEdit7"}},
    {4, {12, 13, 14, 15}, {"RxSpinEdit8", "ComboBox3"}, "ComboBox3", "RxSpinEdit9", "RxSpinEdit10"},
    {5, {16, 17, 18, 19}, {}},
    {6, {20, 21, 22, 23}, {"RxSpinEdit13", "RxSpinEdit14"}},
    {7,
     {24, 25, 26, 27},
     {"RxSpinEdit15", "ComboBox4"},
     "ComboBox4",
     "RxSpinEdit16",
     "RxSpinEdit17"},
    {8, {28, 29, 30, 31}, {"RxSpinEdit18", "RxSpinEdit19"}},
    {9, {32, 33, 34, 35}, {"RxSpinEdit20", "RxSpinEdit21"}},
};

const char *const delaySpins[] = {"RxSpinEdit9", "RxSpinEdit14", "RxSpinEdit16", "RxSpinEdit21"};
const char *const thresholdSpins[] = {"RxSpinEdit11", "RxSpinEdit18"};

int delayStep(int v)
{
    return v < 1000 ? 10 : v < 10000 ? 100 : 1000;
}

int thresholdStep(int v)
{
    return v >= 100 ? 10 : 1;
}

QString boxName(int n)
{
    return QStringLiteral("CheckBox%1").arg(n);
}

const char *captionOf(const QString &control)
{
    for (const auto &[c, l] : captions)
        if (control == QLatin1String(c))
            return l;
    return nullptr;
}

// What the window must show: the enabled state of every label and control, from the current
// values and from the last evaluation of each relay set. A relay set is evaluated when one of its
// boxes changes, not when output 3 is taken or released, so its activity is history.
class Model
{
public:
    explicit Model(TFKsb &w) : w_(w)
    {
        for (QWidget *c : w.findChildren<QWidget *>())
            if (!c->objectName().isEmpty())
                widgets_.insert(c->objectName(), c);
        for (const RelaySet &s : relaySets) {
            active_[s.number] = evaluate(s);
            // The set is evaluated again whenever one of its boxes changes its checked state.
            for (int n : s.boxes)
                if (n)
                    QObject::connect(box(n), &QAbstractButton::toggled, &guard_,
                                     [this, &s] { active_[s.number] = evaluate(s); });
        }
    }

    template <class T = QWidget> T *get(const QString &name) const
    {
        auto *w = qobject_cast<T *>(widgets_.value(name));
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    QCheckBox *box(int n) const { return get<QCheckBox>(boxName(n)); }
    QComboBox *list(int n) const { return get<QComboBox>(QStringLiteral("ComboBox%1").arg(n)); }
    int index(int n) const { return list(n)->currentIndex(); }
    bool output3Free() const { return index(2) != 0; }

    bool evaluate(const RelaySet &s) const
    {
        bool on = false;
        for (int i = 0; i < 3; ++i)
            on = on || (s.boxes[i] && box(s.boxes[i])->isChecked());
        return on || (box(s.boxes[3])->isChecked() && output3Free());
    }

    QHash<QString, bool> expected() const
    {
        QHash<QString, bool> e;
        auto both = [&e](const QString &control, bool on) {
            e[control] = on;
            if (const char *l = captionOf(control))
                e[QLatin1String(l)] = on;
        };
        for (const auto &[c, l] : captions)
            both(QLatin1String(c), true);
        for (const char *l : rowCaptions)
            e[QLatin1String(l)] = true;
        both(QStringLiteral("Edit1"), false);
        both(QStringLiteral("RxSpinEdit27"), false);
        both(QStringLiteral("RxSpinEdit3"), index(1) != 0);
        for (const RelaySet &s : relaySets) {
            for (int i = 0; i < 4; ++i)
                if (s.boxes[i])
                    e[boxName(s.boxes[i])] = i < 3 || output3Free();
            for (const char *c : s.settings)
                both(QLatin1String(c), active_[s.number]);
            if (s.list) {
                const int i = index(s.number == 4 ? 3 : 4);
                both(QLatin1String(s.delay), active_[s.number] && i == 0);
                both(QLatin1String(s.multiplier), active_[s.number] && i != 0);
            }
        }
        both(QStringLiteral("ComboBox8"), output3Free());
        both(QStringLiteral("RxSpinEdit25"), output3Free() && index(8) != 0);
        both(QStringLiteral("RxSpinEdit22"), index(5) != 0);
        both(QStringLiteral("RxSpinEdit23"), index(6) != 0);
        both(QStringLiteral("RxSpinEdit24"), index(7) != 0);
        return e;
    }

    // Every difference between the window and the expected states, one per line.
    QString differences() const
    {
        QStringList out;
        const QHash<QString, bool> e = expected();
        for (auto it = e.begin(); it != e.end(); ++it)
            if (get(it.key())->isEnabled() != it.value())
                out << QStringLiteral("%1 enabled %2, expected %3")
                           .arg(it.key())
                           .arg(get(it.key())->isEnabled())
                           .arg(it.value());
        for (const auto &[c, l] : captions)
            if (w_.labelFor(get(QLatin1String(c))) != get(QLatin1String(l)))
                out << QStringLiteral("labelFor(%1) is not %2").arg(QLatin1String(c), l);
        if (!box(16)->isChecked())
            out << QStringLiteral("CheckBox16 cleared");
        // Each delay and each threshold steps as its value calls for.
        const auto checkSteps = [&](const auto &spins, int (*step)(int)) {
            for (const char *name : spins) {
                auto *s = get<SpinEdit>(QLatin1String(name));
                if (s->singleStep() != step(s->value()))
                    out << QStringLiteral("%1 at %2 steps %3")
                               .arg(name)
                               .arg(s->value())
                               .arg(s->singleStep());
            }
        };
        checkSteps(delaySpins, delayStep);
        checkSteps(thresholdSpins, thresholdStep);
        return out.join(QLatin1Char('\n'));
    }

    bool active(int set) const { return active_[set]; }

private:
    TFKsb &w_;
    QHash<QString, QWidget *> widgets_;
    std::array<bool, 10> active_{};
    QObject guard_;
};

// The page that holds a control, made current, so that a click lands on the control itself.
void bringToFront(TFKsb &w, QWidget *control)
{
    for (int i = 0; i < w.PageControl1->count(); ++i)
        if (w.PageControl1->page(i)->isAncestorOf(control))
            w.PageControl1->setCurrentIndex(i);
}

void userClick(TFKsb &w, QCheckBox *box)
{
    bringToFront(w, box);
    QVERIFY(box->isVisible());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

void userPick(TFKsb &w, QComboBox *list, int index)
{
    bringToFront(w, list);
    QVERIFY(list->isEnabled());
    while (list->currentIndex() < index)
        QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index)
        QTest::keyClick(list, Qt::Key_Up);
}

// A settings set with random relay boxes (about a third checked) and list items (none chosen
// among them), as a file or the unit may give it.
qvoksb::SettingsSet randomBoxesAndLists(QRandomGenerator &rng)
{
    qvoksb::SettingsSet set;
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
        if (r.kind == qvoksb::Kind::RelayBox)
            set.setValue(r.id, rng.bounded(10) < 3);
        else if (r.kind == qvoksb::Kind::Choice)
            set.setValue(r.id, rng.bounded(-1, r.max + 1));
    return set;
}

} // namespace

class TestInterlocks : public QObject
{
    Q_OBJECT

    std::unique_ptr<ShownMainWindow> w_;
    std::unique_ptr<Model> m_;

    QString stateProblems() const { return m_->differences(); }

private slots:
    void init()
    {
        w_ = std::make_unique<ShownMainWindow>();
        QVERIFY(w_->settingsHome.isValid());
        m_ = std::make_unique<Model>(*w_);
        QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    }

    void cleanup()
    {
        m_.reset();
        w_.reset();
    }

    void opensInTheStartState()
    {
        // The enabled state of every label and control as a fresh window shows it.
        const char *const disabled[] = {
            "LSystem5",     "Edit1",        "LSystem9",     "RxSpinEdit5",  "LSystem11",
            "RxSpinEdit6",  "LSystem13",    "RxSpinEdit7",  "LMTZ4",        "RxSpinEdit9",
            "LMTZ10",       "RxSpinEdit13", "LMTZ11",       "RxSpinEdit14", "LOZZ4",
            "RxSpinEdit16", "LOZZ10",       "RxSpinEdit20", "LOZZ11",       "RxSpinEdit21",
            "LDO2",         "RxSpinEdit22", "LDO4",         "RxSpinEdit23", "LDO6",
            "RxSpinEdit24", "LDO7",         "ComboBox8",    "LDO8",         "RxSpinEdit25",
            "Label2",       "RxSpinEdit27", "CheckBox3",    "CheckBox6",    "CheckBox11",
            "CheckBox15",   "CheckBox19",   "CheckBox23",   "CheckBox27",   "CheckBox31",
            "CheckBox35"};
        QSet<QString> off;
        for (const char *n : disabled)
            off.insert(QLatin1String(n));
        QStringList wrong;
        auto check = [&](const QString &name) {
            const bool on = !off.contains(name);
            if (m_->get(name)->isEnabled() != on)
                wrong << name;
        };
        for (const auto &[c, l] : captions) {
            check(QLatin1String(c));
            check(QLatin1String(l));
        }
        for (const char *l : rowCaptions)
            check(QLatin1String(l));
        for (int n = 1; n <= 35; ++n)
            check(boxName(n));
        check(QStringLiteral("Button1"));
        check(QStringLiteral("Button2"));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char(' '))));

        // The first items of the lists, and the steps the rules start from.
        const int items[] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0};
        for (int n = 1; n <= 14; ++n)
            QCOMPARE(m_->index(n), items[n - 1]);
        for (const char *name : delaySpins)
            QCOMPARE(m_->get<SpinEdit>(QLatin1String(name))->singleStep(), 100);
        for (const char *name : thresholdSpins)
            QCOMPARE(m_->get<SpinEdit>(QLatin1String(name))->singleStep(), 1);
        QVERIFY(m_->box(12)->isChecked() && m_->box(16)->isChecked());
        QVERIFY(m_->box(24)->isChecked() && m_->box(28)->isChecked());
        QVERIFY2(stateProblems().isEmpty(), qPrintable(stateProblems()));
    }

    void relaySetFollowsEachBox_data()
    {
        QTest::addColumn<int>("set");
        for (const RelaySet &s : relaySets)
            if (s.number != 5)
                QTest::addRow("set %d", s.number) << s.number;
    }

    // Each box alone activates its set when clicked and deactivates it when clicked again; the
    // parameters keep their values meanwhile.
    void relaySetFollowsEachBox()
    {
        QFETCH(int, set);
        const RelaySet &s = *std::find_if(relaySets.begin(), relaySets.end(),
                                          [set](const RelaySet &r) { return r.number == set; });
        userPick(*w_, m_->list(2), 1); // "НЕТ": output 3 is free and counts
        for (int b : s.boxes)
            if (b && m_->box(b)->isChecked())
                userClick(*w_, m_->box(b));
        for (const char *c : s.settings)
            QVERIFY2(!m_->get(QLatin1String(c))->isEnabled(), c);

        QHash<QString, int> values;
        for (const char *c : s.settings)
            if (auto *spin = qobject_cast<SpinEdit *>(m_->get(QLatin1String(c))))
                values[QLatin1String(c)] = spin->value();
        for (int b : s.boxes) {
            if (!b)
                continue;
            userClick(*w_, m_->box(b));
            QVERIFY(m_->box(b)->isChecked());
            for (const char *c : s.settings) {
                QVERIFY2(m_->get(QLatin1String(c))->isEnabled(), qPrintable(boxName(b)));
                QVERIFY(m_->get(QLatin1String(captionOf(QLatin1String(c))))->isEnabled());
            }
            userClick(*w_, m_->box(b));
            QVERIFY(!m_->box(b)->isChecked());
            for (const char *c : s.settings)
                QVERIFY2(!m_->get(QLatin1String(c))->isEnabled(), qPrintable(boxName(b)));
        }
        for (auto it = values.begin(); it != values.end(); ++it)
            QCOMPARE(m_->get<SpinEdit>(it.key())->value(), it.value());

        // A value written by code runs the rule just as a click does.
        m_->box(s.boxes[1])->setChecked(true);
        QVERIFY(m_->get(QLatin1String(s.settings.front()))->isEnabled());
        m_->box(s.boxes[1])->setChecked(false);
        QVERIFY(!m_->get(QLatin1String(s.settings.front()))->isEnabled());

        // With self-diagnosis on, a checked "ВЫХ.3" alone does not count.
        userPick(*w_, m_->list(2), 0);
        m_->box(s.boxes[3])->setChecked(true);
        QVERIFY(m_->box(s.boxes[3])->isChecked());
        QVERIFY(!m_->box(s.boxes[3])->isEnabled());
        QVERIFY(!m_->get(QLatin1String(s.settings.front()))->isEnabled());
        QVERIFY2(stateProblems().isEmpty(), qPrintable(stateProblems()));
    }

    void output3ReleasedAndTakenBack()
    {
        // Output 3 free, the mechanical-count alarm on "ВЫХ.3" alone.
        userPick(*w_, m_->list(2), 1);
        QVERIFY(m_->box(6)->isEnabled());
        userClick(*w_, m_->box(6));
        QVERIFY(m_->get("RxSpinEdit6")->isEnabled() && m_->get("LSystem11")->isEnabled());

        // Taken back by the self-diagnosis: the box is disabled but stays checked, and the set
        // keeps its state until one of its boxes changes.
        userPick(*w_, m_->list(2), 0);
        QVERIFY(!m_->box(6)->isEnabled());
        QVERIFY(m_->box(6)->isChecked());
        QVERIFY(m_->get("RxSpinEdit6")->isEnabled() && m_->get("LSystem11")->isEnabled());
        userClick(*w_, m_->box(4));
        QVERIFY(m_->get("RxSpinEdit6")->isEnabled());
        userClick(*w_, m_->box(4));
        QVERIFY(!m_->get("RxSpinEdit6")->isEnabled() && !m_->get("LSystem11")->isEnabled());
        QVERIFY(m_->box(6)->isChecked());
    }

    void output3RelayMode()
    {
        QVERIFY(!m_->get("ComboBox8")->isEnabled());
        userPick(*w_, m_->list(2), 1);
        QVERIFY(m_->get("LDO7")->isEnabled() && m_->get("ComboBox8")->isEnabled());
        QVERIFY(!m_->get("LDO8")->isEnabled() && !m_->get("RxSpinEdit25")->isEnabled());
        for (int n : {3, 6, 11, 15, 19, 23, 27, 31, 35})
            QVERIFY2(m_->box(n)->isEnabled(), qPrintable(boxName(n)));

        userPick(*w_, m_->list(8), 1); // "ИМПУЛЬСНЫЙ"
        QVERIFY(m_->get("LDO8")->isEnabled() && m_->get("RxSpinEdit25")->isEnabled());

        // Self-diagnosis on again takes the mode list and the pulse length with it, and a pulse
        // mode written into the disabled list by code leaves the pulse length disabled.
        userPick(*w_, m_->list(2), 0);
        QVERIFY(!m_->get("ComboBox8")->isEnabled() && !m_->get("RxSpinEdit25")->isEnabled());
        w_->SetListIndex(m_->list(8), 0);
        w_->SetListIndex(m_->list(8), 1);
        QVERIFY(!m_->get("LDO8")->isEnabled() && !m_->get("RxSpinEdit25")->isEnabled());
        QCOMPARE(m_->index(8), 1);
        w_->SetListIndex(m_->list(2), 1);
        QVERIFY(m_->get("LDO8")->isEnabled() && m_->get("RxSpinEdit25")->isEnabled());
    }

    void timeDependentFunction_data()
    {
        QTest::addColumn<QList<int>>("boxes");
        QTest::addColumn<int>("list");
        QTest::addColumn<QStringList>("function");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QString>("multiplier");
        QTest::newRow("phase") << QList<int>{12, 13} << 3
                               << QStringList{"LMTZ2", "RxSpinEdit8", "LMTZ3", "ComboBox3"}
                               << "RxSpinEdit9"
                               << "RxSpinEdit10";
        QTest::newRow("earth") << QList<int>{24, 25} << 4
                               << QStringList{"LOZZ2", "RxSpinEdit15", "LOZZ3", "ComboBox4"}
                               << "RxSpinEdit16"
                               << "RxSpinEdit17";
    }

    void timeDependentFunction()
    {
        QFETCH(QList<int>, boxes);
        QFETCH(int, list);
        QFETCH(QStringList, function);
        QFETCH(QString, delay);
        QFETCH(QString, multiplier);
        // "on" or "off" for a setting and its caption together, "split" when they disagree.
        auto state = [this](const QString &control) {
            const bool c = m_->get(control)->isEnabled();
            if (m_->get(QLatin1String(captionOf(control)))->isEnabled() != c)
                return QStringLiteral("split");
            return c ? QStringLiteral("on") : QStringLiteral("off");
        };

        userClick(*w_, m_->box(boxes[1]));
        userClick(*w_, m_->box(boxes[0])); // "ВЫКЛ" cleared, "ВЫХ.1" still drives
        for (const QString &c : function)
            QVERIFY2(m_->get(c)->isEnabled(), qPrintable(c));
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("off/on"));

        userClick(*w_, m_->box(boxes[1])); // now no relay at all
        for (const QString &c : function)
            QVERIFY2(!m_->get(c)->isEnabled(), qPrintable(c));
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("off/off"));

        // The characteristic changed while the function is idle (a file, the unit) offers neither
        // the delay nor the multiplier.
        w_->SetListIndex(m_->list(list), 0);
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("off/off"));
        w_->SetListIndex(m_->list(list), 7);
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("off/off"));
        w_->SetListIndex(m_->list(list), 0);

        userClick(*w_, m_->box(boxes[0]));
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("on/off"));
        userPick(*w_, m_->list(list), 4);
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("off/on"));
        userPick(*w_, m_->list(list), 0);
        QCOMPARE(state(delay) + "/" + state(multiplier), QStringLiteral("on/off"));
        QVERIFY2(stateProblems().isEmpty(), qPrintable(stateProblems()));
    }

    void cutOffAlwaysTripsTheBreaker()
    {
        QSignalSpy toggles(m_->box(16), &QAbstractButton::toggled);
        userClick(*w_, m_->box(16));
        QVERIFY(m_->box(16)->isChecked());
        QCOMPARE(toggles.count(), 2); // cleared by the click, checked again at once

        m_->box(16)->setChecked(false); // as a loaded file would
        QVERIFY(m_->box(16)->isChecked());
        QCOMPARE(toggles.count(), 4);

        // The other relays only add to it; the cut-off's settings never switch off.
        userClick(*w_, m_->box(17));
        userClick(*w_, m_->box(17));
        for (const char *c : {"LMTZ7", "RxSpinEdit11", "LMTZ8", "RxSpinEdit12"})
            QVERIFY2(m_->get(c)->isEnabled(), c);
    }

    void listRules_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<QString>("control");
        QTest::newRow("earth-fault method") << 1 << "RxSpinEdit3";
        QTest::newRow("trip relay mode") << 5 << "RxSpinEdit22";
        QTest::newRow("output 1 mode") << 6 << "RxSpinEdit23";
        QTest::newRow("output 2 mode") << 7 << "RxSpinEdit24";
    }

    // Index 0 disables the dependant, any other choice (even none) enables it, whether the user
    // picks the item or code sets it.
    void listRules()
    {
        QFETCH(int, list);
        QFETCH(QString, control);
        QWidget *c = m_->get(control);
        QWidget *label = m_->get(QLatin1String(captionOf(control)));
        const bool startOn = list == 1;
        QCOMPARE(c->isEnabled(), startOn);

        userPick(*w_, m_->list(list), startOn ? 0 : 1);
        QCOMPARE(c->isEnabled(), !startOn);
        QCOMPARE(label->isEnabled(), !startOn);
        w_->SetListIndex(m_->list(list), startOn ? 1 : 0);
        QCOMPARE(c->isEnabled(), startOn);
        QCOMPARE(label->isEnabled(), startOn);

        // An index the list does not have leaves no item chosen, which is not index 0.
        w_->SetListIndex(m_->list(list), 0);
        w_->SetListIndex(m_->list(list), 9);
        QCOMPARE(m_->index(list), -1);
        QVERIFY(c->isEnabled() && label->isEnabled());
        w_->SetListIndex(m_->list(list), -5);
        QCOMPARE(m_->index(list), -1);
    }

    void setListIndexRunsTheRuleForAnUnchangedIndex()
    {
        // A list set to the index it already has still gets its rule run: a state left behind
        // by anything else is put right.
        m_->get("RxSpinEdit10")->setEnabled(false);
        m_->get("LSystem4")->setEnabled(false);
        w_->SetListIndex(m_->list(3), m_->index(3));
        w_->SetListIndex(m_->list(1), m_->index(1));
        QVERIFY(m_->get("RxSpinEdit10")->isEnabled() && m_->get("LMTZ5")->isEnabled());
        QVERIFY(m_->get("LSystem4")->isEnabled());
        // The lists without a rule are only set.
        w_->SetListIndex(m_->list(11), 7);
        QCOMPARE(m_->index(11), 7);
        QVERIFY2(stateProblems().isEmpty(), qPrintable(stateProblems()));
    }

    void plainIndexFromCodeRunsNoRule()
    {
        // Only the user's pick and SetListIndex run a list's rule; a bare index written by code
        // leaves the dependants as they were until the rule is run.
        QVERIFY(m_->get("RxSpinEdit3")->isEnabled());
        m_->list(1)->setCurrentIndex(0);
        QVERIFY(m_->get("RxSpinEdit3")->isEnabled());
        w_->ComboBox1Change(m_->list(1));
        QVERIFY(!m_->get("RxSpinEdit3")->isEnabled());
        QVERIFY(!m_->get("LSystem4")->isEnabled());
    }

    void rulesWhileTheWindowIsDisabled()
    {
        // A loader or decoder may write the settings while the window takes no input; the rules
        // go by each control's own state, not by the window's.
        w_->setEnabled(false);
        w_->SetListIndex(m_->list(2), 1);
        m_->box(12)->setChecked(false);
        m_->box(15)->setChecked(true); // "ВЫХ.3" alone, output 3 free
        w_->SetListIndex(m_->list(3), 0);
        w_->SetListIndex(m_->list(8), 1);
        m_->box(33)->setChecked(true);
        w_->setEnabled(true);
        QVERIFY(m_->get("RxSpinEdit8")->isEnabled() && m_->get("RxSpinEdit9")->isEnabled());
        QVERIFY(m_->get("RxSpinEdit25")->isEnabled() && m_->get("RxSpinEdit20")->isEnabled());
        QVERIFY2(stateProblems().isEmpty(), qPrintable(stateProblems()));
    }

    // The delays step by 10, 100 or 1000 and the thresholds by 1 or 10, by the value they leave.
    void stepsByValue_data()
    {
        QTest::addColumn<QString>("spin");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<QList<int>>("values");
        for (const char *s : delaySpins) {
            QTest::addRow("%s 990 up", s) << s << 990 << int(Qt::Key_Up) << QList<int>{1000, 1100};
            QTest::addRow("%s 1000 down", s)
                << s << 1000 << int(Qt::Key_Down) << QList<int>{900, 890};
            QTest::addRow("%s 9900 up", s)
                << s << 9900 << int(Qt::Key_Up) << QList<int>{10000, 11000};
            QTest::addRow("%s 10000 down", s)
                << s << 10000 << int(Qt::Key_Down) << QList<int>{9000, 8900};
        }
        QTest::newRow("bottom") << "RxSpinEdit9" << 60 << int(Qt::Key_Down) << QList<int>{50, 50};
        QTest::newRow("top") << "RxSpinEdit14" << 599500 << int(Qt::Key_Up)
                             << QList<int>{600000, 600000};
        // 9999, only reachable from a file or the unit, steps by 100 and so returns among the
        // hundreds.
        QTest::newRow("9999 down")
            << "RxSpinEdit16" << 9999 << int(Qt::Key_Down) << QList<int>{9899, 9799};
        QTest::newRow("9999 up") << "RxSpinEdit21" << 9999 << int(Qt::Key_Up)
                                 << QList<int>{10099, 11099};
        for (const char *s : thresholdSpins) {
            QTest::addRow("%s 99 up", s) << s << 99 << int(Qt::Key_Up) << QList<int>{100, 110};
            QTest::addRow("%s 100 down", s) << s << 100 << int(Qt::Key_Down) << QList<int>{90, 89};
            QTest::addRow("%s bottom", s) << s << 5 << int(Qt::Key_Down) << QList<int>{4, 4};
            QTest::addRow("%s top", s) << s << 1790 << int(Qt::Key_Up) << QList<int>{1800, 1800};
        }
    }

    void stepsByValue()
    {
        QFETCH(QString, spin);
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(QList<int>, values);
        // Give the delays' functions a relay and independent time so that the delays are editable.
        w_->SetListIndex(m_->list(3), 0);
        w_->SetListIndex(m_->list(4), 0);
        m_->box(20)->setChecked(true);
        m_->box(32)->setChecked(true);
        auto *s = m_->get<SpinEdit>(spin);
        QVERIFY(s->isEnabled());
        s->setValueFromProgram(static_cast<long long>(from));
        QCOMPARE(s->value(), from);
        for (int v : values) {
            QTest::keyClick(s, Qt::Key(key));
            QCOMPARE(s->value(), v);
        }
    }

    void stepsOfValuesWrittenByCode()
    {
        auto *cut11 = m_->get<SpinEdit>("RxSpinEdit11");
        auto *cut18 = m_->get<SpinEdit>("RxSpinEdit18");
        cut18->setValueFromProgram(250LL);
        QCOMPARE(cut18->singleStep(), 10);
        QCOMPARE(cut11->singleStep(), 1); // each threshold keeps its own step
        cut11->setValueFromProgram(99.6); // rounds to 100
        QCOMPARE(cut11->value(), 100);
        QCOMPARE(cut11->singleStep(), 10);
        cut18->setValueFromProgram(-3LL); // clamps to 4
        QCOMPARE(cut18->singleStep(), 1);

        auto *d9 = m_->get<SpinEdit>("RxSpinEdit9");
        d9->setValueFromProgram(700000LL); // disabled, yet a loaded value still sets its step
        QVERIFY(!d9->isEnabled());
        QCOMPARE(d9->value(), 600000);
        QCOMPARE(d9->singleStep(), 1000);
        d9->setValueFromProgram(999LL);
        QCOMPARE(d9->singleStep(), 10);
        d9->setValueFromProgram(9999LL);
        QCOMPARE(d9->singleStep(), 100);
        QCOMPARE(m_->get<SpinEdit>("RxSpinEdit14")->singleStep(), 100);
    }

    // Random settings in random order, by user and by code; after every change the window must
    // agree with the rule tables, no rule may have changed a value, and the phase cut-off stays
    // on the trip relay.
    void randomisedInvariants()
    {
        QRandomGenerator rng(20240517);
        // The values the test wrote; the rules may change none of them.
        QHash<QString, int> values;
        QList<SpinEdit *> spins;
        for (int n = 1; n <= 27; ++n)
            spins << m_->get<SpinEdit>(QStringLiteral("RxSpinEdit%1").arg(n));
        auto snapshot = [&] {
            QHash<QString, int> v;
            for (SpinEdit *s : spins)
                v[s->objectName()] = s->value();
            for (int n = 1; n <= 14; ++n)
                v[m_->list(n)->objectName()] = m_->index(n);
            for (int n = 1; n <= 35; ++n)
                v[boxName(n)] = m_->box(n)->isChecked();
            return v;
        };
        values = snapshot();
        // Steps of the spin edits without a step rule never change.
        QHash<QString, int> fixedSteps;
        for (SpinEdit *s : spins)
            fixedSteps[s->objectName()] = s->singleStep();

        QSet<QString> reached;
        const int rounds = 4000;
        for (int round = 0; round < rounds; ++round) {
            const QHash<QString, bool> enabled = m_->expected();
            QString what;
            switch (rng.bounded(6)) {
            case 0: { // a box written by code
                const int n = rng.bounded(1, 36);
                const bool checked = rng.bounded(2);
                what = QStringLiteral("%1 set %2").arg(boxName(n)).arg(checked);
                m_->box(n)->setChecked(checked);
                values[boxName(n)] = n == 16 || checked;
                break;
            }
            case 1: { // a box clicked by the user; a disabled one does not respond
                const int n = rng.bounded(1, 36);
                what = QStringLiteral("%1 clicked").arg(boxName(n));
                m_->box(n)->click();
                if (enabled.value(boxName(n)))
                    values[boxName(n)] = n == 16 || !values[boxName(n)];
                break;
            }
            case 2: { // a number from a file or the unit, sometimes out of range
                SpinEdit *s = spins[rng.bounded(spins.size())];
                const int span = s->maximum() - s->minimum();
                const long long v =
                    s->minimum() - span / 8 + static_cast<long long>(rng.bounded(span + span / 4));
                what = QStringLiteral("%1 written %2").arg(s->objectName()).arg(v);
                s->setValueFromProgram(v);
                values[s->objectName()] = int(std::clamp<long long>(v, s->minimum(), s->maximum()));
                break;
            }
            case 3: { // a key press on an editable spin edit
                SpinEdit *s = spins[rng.bounded(spins.size())];
                if (!enabled.value(s->objectName()))
                    continue;
                const bool up = rng.bounded(2);
                const QString name = s->objectName();
                const int v = values[name];
                int step = fixedSteps[name];
                if (std::find(std::begin(delaySpins), std::end(delaySpins), name) !=
                    std::end(delaySpins))
                    step = delayStep(v);
                if (std::find(std::begin(thresholdSpins), std::end(thresholdSpins), name) !=
                    std::end(thresholdSpins))
                    step = thresholdStep(v);
                what = QStringLiteral("%1 key %2").arg(name, up ? "up" : "down");
                QTest::keyClick(s, up ? Qt::Key_Up : Qt::Key_Down);
                values[name] = qBound(s->minimum(), v + (up ? step : -step), s->maximum());
                break;
            }
            case 4: { // a list set by the loader or the decoder
                const int n = rng.bounded(1, 15);
                const int count = m_->list(n)->count();
                const int i = rng.bounded(-1, count + 2);
                what = QStringLiteral("ComboBox%1 set %2").arg(n).arg(i);
                w_->SetListIndex(m_->list(n), i);
                values[m_->list(n)->objectName()] = i >= 0 && i < count ? i : -1;
                break;
            }
            default: { // the next or the previous item picked by the user
                const int n = rng.bounded(1, 15);
                QComboBox *list = m_->list(n);
                if (!enabled.value(list->objectName()))
                    continue;
                const bool down = rng.bounded(2);
                what = QStringLiteral("ComboBox%1 key %2").arg(n).arg(down ? "down" : "up");
                const int i = values[list->objectName()];
                QTest::keyClick(list, down ? Qt::Key_Down : Qt::Key_Up);
                if (down && i + 1 < list->count())
                    values[list->objectName()] = i + 1;
                else if (!down && i > 0)
                    values[list->objectName()] = i - 1;
                break;
            }
            }
            const QHash<QString, int> now = snapshot();
            QStringList changed;
            for (auto it = values.begin(); it != values.end(); ++it)
                if (now.value(it.key()) != it.value())
                    changed << QStringLiteral("%1 is %2, expected %3")
                                   .arg(it.key())
                                   .arg(now.value(it.key()))
                                   .arg(it.value());
            QVERIFY2(
                changed.isEmpty(),
                qPrintable(
                    QStringLiteral("round %1, %2:\n%3").arg(round).arg(what, changed.join('\n'))));
            reached.insert(m_->output3Free() ? "output 3 free" : "output 3 taken");
            for (const auto &[set, list, name] :
                 {std::tuple{4, 3, "phase"}, std::tuple{7, 4, "earth"}})
                reached.insert(QLatin1String(name) + (!m_->active(set)       ? " idle"
                                                      : m_->index(list) == 0 ? " delay"
                                                                             : " multiplier"));
            for (const RelaySet &s : relaySets)
                if (m_->active(s.number) != m_->evaluate(s))
                    reached.insert(QStringLiteral("set left as it was"));
            for (int n = 1; n <= 14; ++n)
                if (m_->index(n) < 0)
                    reached.insert(QStringLiteral("no item chosen"));
            const QString problems = stateProblems();
            QVERIFY2(
                problems.isEmpty(),
                qPrintable(QStringLiteral("round %1, %2:\n%3").arg(round).arg(what, problems)));
        }
        // The run went through the states that matter.
        for (const char *state : {"output 3 free", "output 3 taken", "phase idle", "phase delay",
                                  "phase multiplier", "earth idle", "earth delay",
                                  "earth multiplier", "set left as it was", "no item chosen"})
            QVERIFY2(reached.contains(QLatin1String(state)), state);
    }

    // Random settings sets put into the window as a file or the unit would; then every rule of
    // the core's table is run through the window in a random order, and once more one by one,
    // and every setting's enabled state agrees with what the core answers for the set the
    // window holds.
    void coreRulesAgreeWithTheWindow()
    {
        namespace core = qvoksb;
        QRandomGenerator rng(20261209);
        // The triggers: a relay set's number (0 for none) or a list.
        std::vector<std::pair<int, const core::SettingRow *>> triggers;
        for (const core::interlocks::Rule &r : core::interlocks::rules()) {
            const bool bySet = r.when == core::interlocks::When::RelaySetActive;
            const std::pair t{bySet ? int(r.relaySet) : 0, bySet ? nullptr : &core::rowOf(r.list)};
            if (std::find(triggers.begin(), triggers.end(), t) == triggers.end())
                triggers.push_back(t);
        }
        const auto run = [&](const std::pair<int, const core::SettingRow *> &t) {
            if (t.second) { // a list's rule, as the loader runs it
                auto *list = m_->get<QComboBox>(QLatin1String(t.second->control));
                w_->SetListIndex(list, list->currentIndex());
                return;
            }
            // A relay set's rule runs on any change of one of its boxes: change one and back.
            auto *box = static_cast<QCheckBox *>(
                w_->settingControl(core::RelaySets[std::size_t(t.first - 1)].boxes[1]));
            box->toggle();
            box->toggle();
        };
        const auto disagreement = [&] {
            const core::SettingsSet held = w_->currentSettings();
            QStringList out;
            for (const core::SettingRow &r : core::settingsCatalogue()) {
                const bool inUse = core::settingInUse(held, r.id);
                QWidget *c = w_->settingControl(r.id);
                QLabel *l = w_->labelFor(c);
                if (c->isEnabled() != inUse || (l && l->isEnabled() != inUse))
                    out << QStringLiteral("%1 enabled %2, in use %3")
                               .arg(QLatin1String(r.control))
                               .arg(c->isEnabled())
                               .arg(inUse);
            }
            if (!core::relaySetActive(held, 5))
                out << QStringLiteral("the phase cut-off trips no relay");
            return out.join(QLatin1Char('\n'));
        };
        int idle = 0, held3 = 0;
        for (int round = 0; round < 300; ++round) {
            w_->applySettings(randomBoxesAndLists(rng));
            // Each rule once, in any order, settles the window; after that no rule changes it.
            std::vector order = triggers;
            std::shuffle(order.begin(), order.end(), rng);
            for (const auto &t : order)
                run(t);
            QString problems = disagreement();
            QVERIFY2(problems.isEmpty(),
                     qPrintable(QStringLiteral("round %1:\n%2").arg(round).arg(problems)));
            std::shuffle(order.begin(), order.end(), rng);
            for (const auto &t : order) {
                run(t);
                problems = disagreement();
                QVERIFY2(
                    problems.isEmpty(),
                    qPrintable(QStringLiteral("round %1, again:\n%2").arg(round).arg(problems)));
            }
            const core::SettingsSet now = w_->currentSettings();
            idle += !core::relaySetActive(now, 4) || !core::relaySetActive(now, 7);
            held3 +=
                now.checked(core::Setting::CheckBox6) && now.value(core::Setting::ComboBox2) == 0;
        }
        // The runs went through idle functions and through output 3 held with its box checked.
        QVERIFY(idle > 10 && held3 > 10);
    }

    // The window keeps fixed what the core keeps fixed, the values the command-line tool puts
    // into what it reads and writes: a set put into the window reads back as the core's
    // withFixedValues() of it, and that has the phase cut-off tripping the breaker.
    void theWindowKeepsTheValuesTheCoreKeeps()
    {
        QRandomGenerator rng(20261210);
        int cleared = 0;
        for (int round = 0; round < 40; ++round) {
            const qvoksb::SettingsSet set = randomBoxesAndLists(rng);
            cleared += !set.checked(qvoksb::Setting::CheckBox16);
            w_->applySettings(set);
            const qvoksb::SettingsSet fixed = qvoksb::withFixedValues(set);
            QVERIFY(fixed.checked(qvoksb::Setting::CheckBox16));
            QVERIFY2(w_->currentSettings() == fixed, qPrintable(QString::number(round)));
        }
        QVERIFY(cleared > 10);
    }

    void aListTakesTheWheelOnlyWithTheFocus()
    {
        w_->PageControl1->setActivePage(w_->TabSheet2);
        QComboBox *list = w_->ComboBox3;
        const auto roll = [list] {
            const QPointF at(list->width() / 2.0, list->height() / 2.0);
            QWheelEvent down(at, list->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                             Qt::NoScrollPhase, false);
            QApplication::sendEvent(list, &down);
        };
        w_->Button1->setFocus();
        roll();
        QCOMPARE(list->currentIndex(), 1);
        QVERIFY(!w_->RxSpinEdit9->isEnabled()); // no rule ran either
        list->setFocus();
        QVERIFY(list->hasFocus());
        roll();
        QCOMPARE(list->currentIndex(), 2);
    }
};

QTEST_MAIN(TestInterlocks)
#include "tst_interlocks.moc"
