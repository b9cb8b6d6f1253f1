#include "BoardLine.h"

#include "core/link/line_errors.h"
#include "core/link/port_assignment.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace exchange = qvoksb::exchange;

namespace
{

// The lines held now (one per window of the units; there is one such window).
int heldLines = 0;
QPointer<BoardLine> lastHolder;

} // namespace

bool BoardLine::QtHandOff::post(std::function<void()> task)
{
    if (!owner)
        return false;
    return QMetaObject::invokeMethod(owner, std::move(task), Qt::QueuedConnection);
}

bool BoardLine::PortLine::send(std::span<const uint8_t> frame)
{
    port_.PurgeWrite();
    try {
        port_.WriteBuf(frame.data(), int(frame.size()));
        return true;
    } catch (const qvoksb::SerialPortError &) {
        return false; // the line error says why, when it knows
    }
}

BoardLine::BoardLine(QObject *parent) : QObject(parent), timer_(new QTimer(this))
{
    handOff_.owner = this;
    port_.setGuiHandOff(&handOff_);
    port_.OnRxBuf = [this](const uint8_t *data, size_t count) { received(data, count); };
    port_.OnError = [this](uint32_t flags) { lineError(flags); };
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (engine_)
            tick();
        else if (scan_)
            pollScan();
    });
}

BoardLine::~BoardLine()
{
    close();
}

bool BoardLine::held()
{
    return heldLines > 0;
}

void BoardLine::waitUntilFree()
{
    while (heldLines > 0 && lastHolder) {
        QEventLoop loop;
        connect(lastHolder.data(), &BoardLine::released, &loop, &QEventLoop::quit);
        connect(lastHolder.data(), &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

bool BoardLine::open(int portNum, bool dtr, bool rts, QString *problem)
{
    if (port_.Active())
        return true;
    port_.PortNum = portNum;
    port_.ControlDtr = dtr ? qvoksb::dtrEnabled : qvoksb::dtrDisabled;
    port_.ControlRts = rts ? qvoksb::rtsEnabled : qvoksb::rtsDisabled;
    portLost_ = false;
    try {
        port_.Open();
    } catch (const qvoksb::SerialPortError &e) {
        if (problem)
            *problem = QStringLiteral("Порт COM%1 занят другим приложением или недоступен: %2")
                           .arg(portNum)
                           .arg(QString::fromStdString(qvoksb::openFailureReason(e.systemError())));
        return false;
    }
    ++heldLines;
    lastHolder = this;
    return true;
}

void BoardLine::close()
{
    abort();
    if (!port_.Active())
        return;
    port_.Close();
    --heldLines;
    emit released();
}

void BoardLine::startScan(const exchange::ScanOptions &options)
{
    entries_.clear();
    result_.reset();
    scan_ = std::make_unique<exchange::Scan>(options, line_);
    if (!port_.Active()) {
        scan_.reset();
        QMetaObject::invokeMethod(this, &BoardLine::finished, Qt::QueuedConnection);
        return;
    }
    timer_->setSingleShot(true);
    pollScan();
}

void BoardLine::startExchange(exchange::Options options)
{
    entries_.clear();
    result_.reset();
    options.stepTimeout = StepTimeout;
    engine_ = std::make_unique<exchange::Engine>(options, line_);
    if (!port_.Active() || portLost_) {
        engine_->lineError("порт недоступен", true);
        end();
        return;
    }
    timer_->setSingleShot(false);
    timer_->start(int(exchange::TickInterval.count()));
}

void BoardLine::abort()
{
    if (engine_)
        engine_->abort();
    if (scan_)
        scan_->abort();
    if (running())
        end();
}

void BoardLine::received(const uint8_t *data, size_t count)
{
    const auto now = exchange::Clock::now();
    if (engine_)
        engine_->received({data, count}, now);
    if (scan_) {
        scan_->received({data, count}, now);
        pollScan();
    }
}

void BoardLine::lineError(uint32_t flags)
{
    const char *message = qvoksb::lineErrorMessage(flags);
    const bool lost = (flags & qvoksb::CE_IOE) != 0;
    portLost_ = portLost_ || lost;
    if (engine_) {
        engine_->lineError(message ? message : "", lost);
        if (engine_->finished())
            end();
    } else if (scan_) {
        scan_->lineError(message ? message : "", lost);
        if (scan_->finished())
            end();
    }
}

void BoardLine::tick()
{
    engine_->tick(exchange::Clock::now());
    emit progress(engine_->stepsDone(), engine_->stepsInAll());
    if (engine_->finished())
        end();
}

void BoardLine::pollScan()
{
    scan_->poll(exchange::Clock::now());
    emit progress(scan_->done(), scan_->inAll());
    if (scan_->finished()) {
        end();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(scan_->due() -
                                                                   exchange::Clock::now());
    timer_->start(int(std::max<long long>(0, wait.count())));
}

void BoardLine::end()
{
    timer_->stop();
    if (engine_) {
        result_ = engine_->result();
        engine_.reset();
    }
    if (scan_) {
        entries_ = scan_->entries();
        scan_.reset();
    }
    emit finished();
}
