#pragma once
// What the exchange tests share: a private home and port folder, the simulated unit on COM1, the
// real main window, the message boxes answered by the test, a log of what the exchange window
// showed while it was up, and the register image a set of controls must give in the unit.
//
// No test here ever opens a real serial device: the port folder is a temporary one and only
// ports with an entry in it are used.
#include "Main.h"
#include "Messages.h"
#include "Rs232.h"
#include "core/link/port_directory.h"
#include "core/link/serial_port.h"
#include "simulated_unit.h"
#include "unit_image.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace exchangetest
{

using Frame = std::vector<uint8_t>;

inline uint16_t wordAt(const Frame &f, size_t at)
{
    return f.size() >= at + 2 ? uint16_t(f[at] << 8 | f[at + 1]) : uint16_t(0xFFFF);
}

// The first register of each request, one entry for each run of copies of the same request.
inline std::vector<int> firstRegisters(const std::vector<Frame> &frames)
{
    std::vector<int> out;
    for (const Frame &f : frames)
        if (out.empty() || out.back() != int(wordAt(f, 2)))
            out.push_back(int(wordAt(f, 2)));
    return out;
}

inline QString hexOf(const Frame &f)
{
    QString s;
    for (uint8_t b : f)
        s += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
    return s.trimmed().toUpper();
}

// One look at the exchange window (or at its absence).
struct Look {
    qint64 ms = 0; // since the log started
    bool open = false;
    bool visible = false;
    QString text;
    bool red = false;
    int step = 0;
    bool portOpen = false;
    bool timerRunning = false;

    bool sameAs(const Look &o) const
    {
        return open == o.open && visible == o.visible && text == o.text && red == o.red &&
               step == o.step && portOpen == o.portOpen && timerRunning == o.timerRunning;
    }
};

// Looks at Frs232 every two milliseconds from the event loop the modal window runs, keeps every
// change, and can act on the window (press its button) as a user would. The action is called
// with each look while a window is up until it returns true.
class ExchangeLog
{
public:
    using Action = std::function<bool(TFrs232 &window, const Look &look)>;

    explicit ExchangeLog(Action action = {}) : action_(std::move(action))
    {
        clock_.start();
        timer_.setInterval(2);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { sample(); });
        timer_.start();
        sample();
    }

    void sample()
    {
        TFrs232 *x = Frs232;
        Look l;
        l.ms = clock_.elapsed();
        if (x) {
            l.open = true;
            l.visible = x->isVisible();
            l.text = x->Label1->text();
            l.red = x->labelIsRed();
            l.step = x->ProgressBar1->value();
            l.portOpen = x->linkActive();
            l.timerRunning = x->Timer1 && x->Timer1->isActive();
        }
        if (looks_.isEmpty() || !looks_.last().sameAs(l))
            looks_.append(l);
        if (x && action_ && !actionDone_)
            actionDone_ = action_(*x, l);
    }

    const QList<Look> &looks() const { return looks_; }
    qint64 elapsed() const { return clock_.elapsed(); }
    bool actionDone() const { return actionDone_; }

    // The texts the label showed after the window's own caption, each change once, in order.
    QStringList texts() const
    {
        QStringList out;
        for (const Look &l : looks_)
            if (l.open && l.text != QStringLiteral("Обмен с блоком KSB-7 ...") &&
                (out.isEmpty() || out.last() != l.text))
                out.append(l.text);
        return out;
    }
    bool showed(const QString &text) const { return texts().contains(text); }
    std::optional<Look> firstWhere(const std::function<bool(const Look &)> &p) const
    {
        for (const Look &l : looks_)
            if (p(l))
                return l;
        return std::nullopt;
    }
    std::optional<Look> lastOpen() const
    {
        for (auto it = looks_.rbegin(); it != looks_.rend(); ++it)
            if (it->open)
                return *it;
        return std::nullopt;
    }
    // When the window first became visible and when it was last seen up.
    qint64 shownAt() const
    {
        auto l = firstWhere([](const Look &x) { return x.visible; });
        return l ? l->ms : -1;
    }
    qint64 goneAt() const
    {
        bool seen = false;
        for (const Look &l : looks_) {
            seen = seen || l.visible;
            if (seen && !l.visible)
                return l.ms;
        }
        return -1;
    }
    bool anyWindow() const
    {
        return firstWhere([](const Look &l) { return l.open; }).has_value();
    }

private:
    Action action_;
    bool actionDone_ = false;
    QElapsedTimer clock_;
    QTimer timer_;
    QList<Look> looks_;
};

// Runs an event loop for this long, so that port events and timers go on meanwhile.
inline void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Hands a port's events to the GUI thread, for ports the tests open themselves.
struct TestHandOff : qvoksb::GuiHandOff {
    QObject context;
    bool post(std::function<void()> task) override
    {
        return QMetaObject::invokeMethod(&context, std::move(task), Qt::QueuedConnection);
    }
};

// The unit's configuration registers, in the order of the write steps.
inline const std::vector<int> &configurationRegisters()
{
    static const std::vector<int> regs = [] {
        std::vector<int> r;
        const std::pair<int, int> blocks[] = {{257, 3},  {267, 1}, {277, 6}, {384, 11},
                                              {395, 11}, {262, 5}, {269, 4}};
        for (auto [first, count] : blocks)
            for (int a = first; a < first + count; ++a)
                r.push_back(a);
        return r;
    }();
    return regs;
}

// The configuration registers the unit holds otherwise than these controls would give it,
// "register: unit value, window value" each.
inline QStringList unitDiffersFrom(const ksb7sim::SimulatedUnit &unit,
                                   const std::map<int, uint16_t> &image)
{
    QStringList wrong;
    for (int a : configurationRegisters())
        if (unit.reg(a) != image.at(a))
            wrong << QStringLiteral("%1: unit %2, controls %3")
                         .arg(a)
                         .arg(unit.reg(a))
                         .arg(image.at(a));
    return wrong;
}

// Presses "Прервать обмен" at the first look that satisfies `when`.
inline std::function<bool(TFrs232 &, const Look &)>
closeWhen(std::function<bool(const Look &)> when)
{
    return [when = std::move(when)](TFrs232 &x, const Look &l) {
        if (!when(l))
            return false;
        x.BExit->click();
        return true;
    };
}

// The state of every configuration control (spin edits 1..25, lists 1..14, boxes 1..35).
struct Controls {
    std::map<QString, int> values;

    static Controls of(const TFKsb &w)
    {
        Controls c;
        for (int n = 1; n <= 25; ++n)
            c.values[QStringLiteral("RxSpinEdit%1").arg(n)] = w.spinEdit(n)->value();
        for (int n = 1; n <= 14; ++n)
            c.values[QStringLiteral("ComboBox%1").arg(n)] = w.comboBox(n)->currentIndex();
        for (int n = 1; n <= 35; ++n)
            c.values[QStringLiteral("CheckBox%1").arg(n)] = w.checkBox(n)->isChecked();
        return c;
    }
    // "name: this vs other" for each control that differs.
    QStringList differencesFrom(const Controls &other) const
    {
        QStringList out;
        for (const auto &[name, v] : values)
            if (other.values.at(name) != v)
                out << QStringLiteral("%1: %2 vs %3").arg(name).arg(v).arg(other.values.at(name));
        return out;
    }
    int countDifferencesFrom(const Controls &other) const
    {
        return int(differencesFrom(other).size());
    }
};

// Sets every configuration control to a random value it can hold, as a user would pick them:
// lists first, then the boxes, then the numbers. The interlocks run on the way.
// Clicks button and says how long the click took, the modal exchange it starts included.
inline qint64 millisecondsOfClick(QAbstractButton *button)
{
    QElapsedTimer clock;
    clock.start();
    button->click();
    return clock.elapsed();
}

inline void randomise(TFKsb &w, std::mt19937 &rng)
{
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    for (int n = 1; n <= 14; ++n)
        w.SetListIndex(w.comboBox(n), below(w.comboBox(n)->count()));
    for (int n = 1; n <= 35; ++n)
        w.checkBox(n)->setChecked(below(2));
    for (int n = 1; n <= 25; ++n) {
        SpinEdit *s = w.spinEdit(n);
        const int steps = (s->maximum() - s->minimum()) / s->singleStep();
        s->setValueFromProgram(
            static_cast<long long>(s->minimum() + s->singleStep() * below(steps + 1)));
    }
}

// Every control at the top of what it holds: last items, all boxes checked, maxima.
inline void setToMaxima(TFKsb &w)
{
    for (int n = 1; n <= 14; ++n)
        w.SetListIndex(w.comboBox(n), w.comboBox(n)->count() - 1);
    for (int n = 1; n <= 35; ++n)
        w.checkBox(n)->setChecked(true);
    for (int n = 1; n <= 25; ++n)
        w.spinEdit(n)->setValueFromProgram(static_cast<long long>(w.spinEdit(n)->maximum()));
}

// The shared set-up of every exchange test: a fresh home and port folder, the simulated unit
// on COM1 and a fresh main window, message boxes answered by the test.
struct Harness {
    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<ksb7sim::SimulatedUnit> unit;
    std::unique_ptr<TFKsb> window;
    QList<QPair<Messages::Kind, QString>> boxes;
    bool answer = true;

    QString portDir() const { return home->filePath(QStringLiteral("ports")); }

    // Random settings made through the window's controls and put into the unit as a write
    // would leave them; then the window is changed in at least 20 settings. Returns what the
    // unit holds, as the controls showed it.
    Controls unitHoldsRandomSettings(std::mt19937 &rng)
    {
        randomise(*window, rng);
        const Controls held = Controls::of(*window);
        for (const auto &[a, v] : unitImageOf(*window))
            unit->setReg(a, v);
        do
            randomise(*window, rng);
        while (Controls::of(*window).countDifferencesFrom(held) < 20);
        return held;
    }

    // For a test's init(): a fresh unit and window, or the test fails with the reason.
    void startForTest()
    {
        std::string error;
        QVERIFY2(start(&error), error.c_str());
    }

    bool start(std::string *error)
    {
        home = std::make_unique<QTemporaryDir>();
        if (!home->isValid()) {
            *error = "no temporary folder";
            return false;
        }
        qputenv("XDG_CONFIG_HOME", home->path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", home->path().toLocal8Bit()); // the journal of work
        qputenv("QVOKSB_PORT_DIR", portDir().toLocal8Bit());
        QDir().mkpath(portDir());
        unit = std::make_unique<ksb7sim::SimulatedUnit>();
        if (!unit->start(1, 1, error))
            return false;
        window = std::make_unique<TFKsb>();
        FKsb = window.get();
        boxes.clear();
        answer = true;
        Messages::hook = [this](Messages::Kind kind, const QString &text) {
            boxes.append({kind, text});
            return answer;
        };
        return true;
    }

    void stop()
    {
        Messages::hook = nullptr;
        window.reset();
        FKsb = nullptr;
        unit.reset();
        home.reset();
    }

    std::vector<Frame> frames() const { return unit->receivedFrames(); }
};

} // namespace exchangetest
