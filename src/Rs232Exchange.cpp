// The exchange window's part of an exchange: opening the port, the 300 ms ticks that drive the
// core's exchange engine, the received bytes handed to it, its label and step counter on screen,
// the pause after the outcome and the closing. What is sent, when, and what a reply means is the
// engine's; the window only shows it.
#include "Rs232.h"

#include "Tag.h"
#include "TrafficLog.h"
#include "core/link/line_errors.h"
#include "core/link/port_assignment.h"
#include "core/link/serial_link.h"
#include "core/modbus/frame_describer.h"

#include <QEventLoop>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace exchange = qvoksb::exchange;

namespace
{

constexpr double translucentOpacity = 178.0 / 255.0; // alpha 178 of 255

QString fromStd(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

void TFrs232::PortLine::discardInput()
{
    if (w.link_)
        w.link_->discardInput();
}

bool TFrs232::PortLine::send(std::span<const uint8_t> frame)
{
    // The link has gone or cannot take the frame; its fault says why when it knows.
    return w.link_ && w.link_->send(frame);
}

void TFrs232::PortLine::logSent(std::span<const uint8_t> frame)
{
    if (TrafficLogWindow *log = w.recordingLog())
        log->sent(frame);
}

void TFrs232::PortLine::logExamined(std::span<const uint8_t> request,
                                    std::span<const uint8_t> reply)
{
    if (TrafficLogWindow *log = w.recordingLog())
        log->received(request, reply, w.replyArrivedAt_);
}

void TFrs232::PortLine::logDiscarded(std::span<const uint8_t> bytes, std::string_view why)
{
    if (TrafficLogWindow *log = w.recordingLog())
        log->discarded(bytes, fromStd(why), w.replyArrivedAt_);
}

// Events of the port reach the window on the GUI thread as queued calls; a call still queued
// when the window goes away is dropped with it.
bool TFrs232::QtHandOff::post(std::function<void()> task)
{
    if (!window)
        return false;
    return QMetaObject::invokeMethod(window, std::move(task), Qt::QueuedConnection);
}

void Delay(int milliseconds, QDialog *endsWith)
{
    // Waits in an event loop of its own: the windows repaint, port events arrive and buttons
    // work, and no core is kept busy meanwhile.
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    if (endsWith)
        QObject::connect(endsWith, &QDialog::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

TFrs232::~TFrs232() = default;

void TFrs232::setupExchange()
{
    handOff_.window = this;
    VaComm1.setGuiHandOff(&handOff_);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(int(exchange::TickInterval.count()));
    Timer1->setTimerType(Qt::PreciseTimer);
    connect(Timer1, &QTimer::timeout, this, &TFrs232::Timer1Timer);
    Label1->installEventFilter(this);
}

exchange::Options TFrs232::options() const
{
    exchange::Options o;
    // The engine's kind for each window kind, from WriteConfiguration on; any other Tag reads.
    using enum exchange::Kind;
    static constexpr exchange::Kind kinds[] = {Write, Read, Command, State, Compare};
    static_assert(CompareConfiguration - WriteConfiguration + 1 == std::size(kinds));
    const int index = Tag(this) - WriteConfiguration;
    o.kind = index >= 0 && index < int(std::size(kinds)) ? kinds[index] : Read;
    o.address = UnitAddress;
    o.settings = Settings;
    o.verify = VerifyWrite;
    o.commandCode = CommandCode;
    return o;
}

void TFrs232::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect r = frameGeometry();
            r.moveCenter(screen->availableGeometry().center());
            move(r.topLeft());
        }
        // Opening runs once the window is on screen, so that the port-busy message is seen.
        QMetaObject::invokeMethod(this, &TFrs232::FormShow, Qt::QueuedConnection);
    }
}

void TFrs232::FormShow()
{
    setWindowOpacity(translucentOpacity);
    // A fresh engine: nothing an earlier exchange left behind is taken as an answer to this one.
    engine_ = std::make_unique<exchange::Engine>(options(), line_);
    if (Gateway) {
        openGateway();
        return;
    }
    link_ = std::make_unique<qvoksb::SerialLink>(VaComm1);
    link_->onOpen = [this] { VaComm1Open(); };
    link_->onReceived = [this](std::span<const uint8_t> b) { VaComm1RxBuf(b.data(), b.size()); };
    link_->onFault = [this](const qvoksb::LinkFault &fault) { VaComm1Error(fault.lineFlags); };
    try {
        link_->open();
    } catch (const qvoksb::LinkError &e) {
        engine_.reset();
        Timer1->stop();
        // A link in the port folder names the device the user chose; that is what to look for.
        std::string device = qvoksb::portEntryTarget(VaComm1.PortNum);
        if (device.empty())
            device = VaComm1.devicePath();
        const QString why = QString::fromStdString(qvoksb::openFailureReason(e.systemError()));
        // "СОМ" in Cyrillic letters, as the menu spells the first ports; the reason below.
        showError(QStringLiteral("Порт: СОМ%1\r\nзанят другим приложением или недоступен!\n%2")
                      .arg(VaComm1.PortNum)
                      .arg(why));
        logNote(QStringLiteral("порт COM%1 (%2) не открыт: %3")
                    .arg(VaComm1.PortNum)
                    .arg(QString::fromStdString(device), why),
                true);
        return;
    }
    logNote(QStringLiteral("порт COM%1 открыт: %2, 9600 8N1, DTR %3, RTS %4")
                .arg(VaComm1.PortNum)
                .arg(QString::fromStdString(VaComm1.devicePath()))
                .arg(VaComm1.ControlDtr == qvoksb::dtrEnabled ? QStringLiteral("вкл.")
                                                              : QStringLiteral("выкл."))
                .arg(VaComm1.ControlRts == qvoksb::rtsEnabled ? QStringLiteral("вкл.")
                                                              : QStringLiteral("выкл.")));
    showEngine();
}

void TFrs232::VaComm1Open()
{
    linkOpen_ = true;
    Timer1->start();
}

QString TFrs232::linkName() const
{
    return Gateway ? QString::fromStdString(qvoksb::gatewayName(*Gateway))
                   : QStringLiteral("COM%1").arg(VaComm1.PortNum);
}

void TFrs232::openGateway()
{
    const QString mode = fromStd(qvoksb::gatewayModeName(Gateway->mode));
    auto net = std::make_unique<qvoksb::NetLink>(*Gateway, &handOff_);
    net->onOpen = [this, mode] {
        logNote(QStringLiteral("шлюз %1 (%2): соединение установлено").arg(linkName(), mode));
        VaComm1Open();
    };
    net->onReceived = [this](std::span<const uint8_t> b) { VaComm1RxBuf(b.data(), b.size()); };
    net->onFault = [this](const qvoksb::LinkFault &fault) { linkFault(fault); };
    net->onTraffic = [this](const qvoksb::LinkTraffic &traffic) { linkTraffic(traffic); };
    link_ = std::move(net);
    try {
        link_->open();
    } catch (const qvoksb::LinkError &e) {
        linkFault({e.what(), true, 0});
        return;
    }
    logNote(QStringLiteral("шлюз %1 (%2): соединение ...").arg(linkName(), mode));
    showEngine();
}

void TFrs232::linkFault(const qvoksb::LinkFault &fault)
{
    const QString message = QString::fromStdString(fault.message);
    if (!linkOpen_) {
        // The connection could not be made: as with a port that does not open, nothing was
        // sent and the reason stays until the user closes.
        engine_.reset();
        Timer1->stop();
        showError(QStringLiteral("Сетевой шлюз %1\r\nнедоступен!\n%2").arg(linkName(), message));
        logNote(QStringLiteral("шлюз %1 недоступен: %2").arg(linkName(), message), true);
        return;
    }
    logNote(message, true);
    if (!engine_)
        return;
    engine_->lineError(fault.message, fault.lost);
    showEngine();
    if (engine_->finished())
        afterEngine();
}

void TFrs232::linkTraffic(const qvoksb::LinkTraffic &traffic)
{
    TrafficLogWindow *log = recordingLog();
    if (!log)
        return;
    const QString bytes = QString::fromStdString(qvoksb::modbus::hexBytes(traffic.bytes));
    const QString meaning = QString::fromStdString(traffic.meaning);
    switch (traffic.kind) {
    case qvoksb::LinkTraffic::Sent:
        log->note(QStringLiteral("→ %1  %2").arg(bytes, meaning));
        break;
    case qvoksb::LinkTraffic::Received:
        log->note(QStringLiteral("← %1  %2").arg(bytes, meaning));
        break;
    case qvoksb::LinkTraffic::Dropped:
        log->discarded(traffic.bytes, meaning, QTime::currentTime());
        break;
    }
}

void TFrs232::VaComm1RxBuf(const uint8_t *data, size_t count)
{
    if (!engine_)
        return;
    if (engine_->held().empty() && recordingLog())
        replyArrivedAt_ = QTime::currentTime();
    engine_->received({data, count}, exchange::Clock::now());
}

void TFrs232::VaComm1Error(uint32_t flags)
{
    const char *message = qvoksb::lineErrorMessage(flags);
    logNote(QStringLiteral("ошибка линии 0x%1: %2")
                .arg(flags, 4, 16, QLatin1Char('0'))
                .arg(message ? QString::fromUtf8(message) : QStringLiteral("без описания")),
            true);
    // After the outcome (in the closing pause) the exchange is over: an error then changes
    // nothing and opens no second pause.
    if (!engine_ || engine_->finished())
        return;
    // A device error means the port has gone (an adapter pulled out): no later request can
    // reach the unit, so the exchange stops and the message stays until the user closes.
    engine_->lineError(message ? message : "", (flags & qvoksb::CE_IOE) != 0);
    showEngine();
    if (engine_->finished())
        afterEngine();
}

void TFrs232::Timer1Timer()
{
    if (!engine_ || engine_->finished()) {
        Timer1->stop();
        return;
    }
    engine_->tick(exchange::Clock::now());
    showEngine();
    if (engine_->finished())
        afterEngine();
}

void TFrs232::showEngine()
{
    const QString text = QString::fromStdString(engine_->label());
    if (engine_->labelRed() && !labelIsRed())
        showError(text);
    else if (Label1->text() != text) {
        Label1->setText(text);
        fitLabel();
    }
    ProgressBar1->setValue(engine_->bar());
}

void TFrs232::afterEngine()
{
    Timer1->stop();
    result_ = engine_->result();
    switch (engine_->closing()) {
    case exchange::Closing::AtOnce:
        close();
        break;
    case exchange::Closing::AfterPause: {
        // The outcome stays readable for the pause, but a user who closes the window meanwhile
        // gets the main window back at once rather than after the pause.
        QPointer<TFrs232> self(this);
        Delay(int(exchange::OutcomePause.count()), this);
        if (self && isVisible())
            close();
        break;
    }
    case exchange::Closing::WaitForUser:
        break;
    }
}

TrafficLogWindow *TFrs232::recordingLog() const
{
    return Log && Log->recording() ? Log.data() : nullptr;
}

void TFrs232::logNote(const QString &text, bool problem)
{
    if (TrafficLogWindow *log = recordingLog())
        log->note(text, problem);
}

void TFrs232::showError(const QString &text)
{
    // Once red, the text stays red for the rest of the window's life.
    QPalette p = Label1->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    Label1->setPalette(p);
    Label1->setText(text);
    fitLabel();
}

void TFrs232::fitLabel()
{
    // The text stands between the bar and the button. An error longer than that band (a refusal
    // that names its block and the partial configuration) makes the window taller, the button
    // moving down with it, rather than hiding lines behind them.
    const int top = ProgressBar1->geometry().bottom() + 1;
    const int band = BExit->y() - top;
    const QRect needed = QFontMetrics(Label1->font())
                             .boundingRect(QRect(0, 0, width() - 8, 1000),
                                           int(Qt::AlignCenter | Qt::TextWordWrap), Label1->text());
    if (needed.height() <= band)
        return;
    const int grow = needed.height() - band;
    setFixedSize(width(), height() + grow);
    Label1->resize(size());
    BExit->move(BExit->x(), BExit->y() + grow);
    Label1->setContentsMargins(0, top, 0, height() - BExit->y());
}

bool TFrs232::labelIsRed() const
{
    return Label1->palette().color(QPalette::WindowText) == QColor(Qt::red);
}

bool TFrs232::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label1 && event->type() == QEvent::MouseButtonPress) {
        Label1MouseDown();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFrs232::Label1MouseDown()
{
    // A press on the label moves the window as a press on a title bar would.
    if (isMaximized())
        return;
    if (QWindow *w = windowHandle())
        w->startSystemMove();
}

void TFrs232::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TFrs232::FormClose()
{
    Timer1->stop();
    if (engine_) {
        // Closed by the user while the exchange went on: steps already sent stay sent.
        engine_->abort();
        result_ = engine_->result();
    }
    if (!link_ || !link_->active())
        return;
    // Bytes that came after the last examining tick are in the log too.
    if (engine_ && !engine_->held().empty())
        line_.logDiscarded(engine_->held(), "после конца обмена");
    link_->close();
    logNote(Gateway ? QStringLiteral("соединение со шлюзом %1 закрыто").arg(linkName())
                    : QStringLiteral("порт COM%1 закрыт").arg(VaComm1.PortNum));
}
