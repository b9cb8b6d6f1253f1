#include "BoardLine.h"

#include "core/link/port_assignment.h"
#include "core/link/serial_link.h"

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

void BoardLine::LinkLine::discardInput()
{
    if (owner_.link_)
        owner_.link_->discardInput();
}

bool BoardLine::LinkLine::send(std::span<const uint8_t> frame)
{
    return owner_.link_ && owner_.link_->send(frame);
}

BoardLine::BoardLine(QObject *parent) : QObject(parent), timer_(new QTimer(this))
{
    handOff_.owner = this;
    port_.setGuiHandOff(&handOff_);
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

bool BoardLine::open(const Choice &choice, QString *problem)
{
    if (link_)
        return true;
    portLost_ = false;
    ready_ = false;
    if (choice.gateway) {
        link_ = std::make_unique<qvoksb::NetLink>(*choice.gateway, &handOff_);
    } else {
        port_.PortNum = choice.portNum;
        port_.ControlDtr = choice.dtr ? qvoksb::dtrEnabled : qvoksb::dtrDisabled;
        port_.ControlRts = choice.rts ? qvoksb::rtsEnabled : qvoksb::rtsDisabled;
        link_ = std::make_unique<qvoksb::SerialLink>(port_);
    }
    link_->onOpen = [this] { ready(); };
    link_->onReceived = [this](std::span<const uint8_t> bytes) { received(bytes); };
    link_->onFault = [this](const qvoksb::LinkFault &f) { fault(f); };
    try {
        link_->open();
    } catch (const qvoksb::LinkError &e) {
        if (problem)
            *problem = choice.gateway
                           ? QStringLiteral("Шлюз %1 недоступен: %2")
                                 .arg(QString::fromStdString(link_->name()),
                                      QString::fromUtf8(e.what()))
                           : QStringLiteral("Порт COM%1 занят другим приложением или "
                                            "недоступен: %2")
                                 .arg(choice.portNum)
                                 .arg(QString::fromStdString(
                                     qvoksb::openFailureReason(e.systemError())));
        link_.reset();
        return false;
    }
    ++heldLines;
    lastHolder = this;
    return true;
}

void BoardLine::close()
{
    abort();
    if (!link_)
        return;
    link_->close();
    link_.reset();
    ready_ = false;
    --heldLines;
    emit released();
}

void BoardLine::startScan(const exchange::ScanOptions &options)
{
    entries_.clear();
    result_.reset();
    scan_ = std::make_unique<exchange::Scan>(options, line_);
    if (!isOpen() || portLost_) {
        scan_->lineError("порт недоступен", true);
        QMetaObject::invokeMethod(this, &BoardLine::end, Qt::QueuedConnection);
        return;
    }
    timer_->setSingleShot(true);
    if (ready_)
        pollScan();
}

void BoardLine::startExchange(exchange::Options options)
{
    entries_.clear();
    result_.reset();
    options.stepTimeout = StepTimeout;
    engine_ = std::make_unique<exchange::Engine>(options, line_);
    if (!isOpen() || portLost_) {
        engine_->lineError("порт недоступен", true);
        QMetaObject::invokeMethod(this, &BoardLine::end, Qt::QueuedConnection);
        return;
    }
    timer_->setSingleShot(false);
    if (ready_)
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

void BoardLine::ready()
{
    ready_ = true;
    if (engine_)
        timer_->start(int(exchange::TickInterval.count()));
    else if (scan_)
        pollScan();
}

void BoardLine::received(std::span<const uint8_t> bytes)
{
    const auto now = exchange::Clock::now();
    if (engine_)
        engine_->received(bytes, now);
    if (scan_) {
        scan_->received(bytes, now);
        pollScan();
    }
}

void BoardLine::fault(const qvoksb::LinkFault &f)
{
    portLost_ = portLost_ || f.lost;
    if (engine_) {
        engine_->lineError(f.message, f.lost);
        if (engine_->finished())
            end();
    } else if (scan_) {
        scan_->lineError(f.message, f.lost);
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
    if (!running())
        return;
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
