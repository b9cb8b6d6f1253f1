// The exchange window end to end: the real main window talks through a pseudo-terminal to the
// simulated unit, as it would to a unit on a cable.
#include "Main.h"
#include "Messages.h"
#include "Rs232.h"
#include "simulated_unit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace
{

// Watches the exchange window while it is up: calls probe every few milliseconds with the
// window (null when none is open) until probe returns true.
class Watcher
{
public:
    explicit Watcher(std::function<bool(TFrs232 *)> probe) : probe_(std::move(probe))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (probe_(Frs232))
                timer_.stop();
        });
        timer_.start();
    }

private:
    std::function<bool(TFrs232 *)> probe_;
    QTimer timer_;
};

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<ksb7sim::SimulatedUnit> unit_;
    std::unique_ptr<TFKsb> window_;
    QList<QPair<Messages::Kind, QString>> boxes_;
    bool answer_ = true;

    TFKsb &w() { return *window_; }

private slots:
    void init()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QVERIFY(home_->isValid());
        qputenv("XDG_CONFIG_HOME", home_->path().toLocal8Bit());
        qputenv("QVOKSB_PORT_DIR", home_->filePath(QStringLiteral("ports")).toLocal8Bit());
        unit_ = std::make_unique<ksb7sim::SimulatedUnit>();
        std::string error;
        QVERIFY2(unit_->start(1, 1, &error), error.c_str());
        window_ = std::make_unique<TFKsb>();
        FKsb = window_.get();
        boxes_.clear();
        answer_ = true;
        Messages::hook = [this](Messages::Kind kind, const QString &text) {
            boxes_.append({kind, text});
            return answer_;
        };
    }

    void cleanup()
    {
        Messages::hook = nullptr;
        window_.reset();
        FKsb = nullptr;
        unit_.reset();
    }

    void writeConfigurationReachesTheUnit()
    {
        w().RxSpinEdit2->setValue(400);
        w().SetListIndex(w().ComboBox1, 0);
        QString lastText;
        int lastStep = 0;
        Watcher watch([&](TFrs232 *x) {
            if (x) {
                lastText = x->Label1->text();
                lastStep = x->ProgressBar1->value();
            }
            return false;
        });
        QElapsedTimer clock;
        clock.start();
        w().SIWriteClick();
        QVERIFY(Frs232 == nullptr);
        QCOMPARE(lastText, QStringLiteral("Все параметры успешно записаны!"));
        QCOMPARE(lastStep, 9);
        QCOMPARE(unit_->receivedFrames().size(), size_t(7));
        QCOMPARE(unit_->reg(258), uint16_t(400));
        QVERIFY(clock.elapsed() >= 4500 + 1500);
    }

    void readConfigurationFillsTheControls()
    {
        unit_->setReg(258, 1250);
        w().SIReadClick();
        QCOMPARE(w().RxSpinEdit2->value(), 1250);
        QVERIFY(!w().EEvent->text().isEmpty());
        QVERIFY(!w().EDt->text().isEmpty());
        QCOMPARE(unit_->receivedFrames().size(), size_t(8));
    }

    void statusLightsTheLeds()
    {
        unit_->setInputs(0x5);
        w().Button2Click();
        QVERIFY(w().VrBlinkLedBit1->isLit());
        QVERIFY(!w().VrBlinkLedBit2->isLit());
        QVERIFY(w().VrBlinkLedBit3->isLit());
    }

    void silentUnitCommandGivesUp()
    {
        ksb7sim::Faults f;
        f.silent = true;
        unit_->setFaults(f);
        w().RadioGroup1->setItemIndex(0);
        QString lastText;
        bool red = false;
        Watcher watch([&](TFrs232 *x) {
            if (x) {
                lastText = x->Label1->text();
                red = x->labelIsRed();
            }
            return false;
        });
        w().Button1Click();
        QCOMPARE(lastText, QStringLiteral("Исполнение команды прервано!"));
        QVERIFY(red);
        QCOMPARE(unit_->receivedFrames().size(), size_t(8));
    }
};

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
