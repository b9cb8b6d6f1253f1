// The exchange window's sequencing: opening the port, the 300 ms ticks of the four kinds of
// exchange, the reply accumulation, the outcome in the label, the pause and the closing.
//
// Each step takes at least two ticks: one sends the step's request, the next examines what came
// back. Configuration exchanges repeat a step for as long as it is not answered correctly; the
// command and the state read count every tick and give up on the ninth.
#include "Rs232.h"

#include "Main.h"
#include "TrafficLog.h"
#include "line_errors.h"
#include "port_assignment.h"
#include "register_map.h"
#include "settings_diff.h"

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

namespace modbus = qvoksb::modbus;

namespace
{

constexpr int tickMs = 300;
constexpr int outcomePauseMs = 1500;
constexpr double translucentOpacity = 178.0 / 255.0; // alpha 178 of 255

// Fewer bytes than this are no reply yet.
constexpr int32_t replyWaitingBytes = 4;

struct KindRow {
    int tag;
    const char *startMessage;
};
constexpr KindRow kinds[] = {
    {TFrs232::WriteConfiguration, "Запись параметров КОНФИГУРАЦИИ ..."},
    {TFrs232::ReadConfiguration, "Чтение параметров КОНФИГУРАЦИИ ..."},
    {TFrs232::ControlCommand, "Исполнение КОМАНДЫ УПРАВЛЕНИЯ ..."},
    {TFrs232::InputOutputState, "Чтение состояния ВХОДОВ/ВЫХОДОВ ..."},
    {TFrs232::CompareConfiguration, "Чтение параметров КОНФИГУРАЦИИ ..."},
};

constexpr unsigned allConfigurationBlocks = ((1u << modbus::WriteSteps) - 1) << 1;

// A configuration exchange repeats an unanswered step for ever; after this many requests without
// a reply the window says what to check.
constexpr int unansweredBeforeHint = 10;

// The frame last handed to the port and the bytes received since, for the log.
std::span<const uint8_t> sentFrame()
{
    return {RequestBuffer.data(),
            size_t(std::clamp<int32_t>(RequestLength, 0, TransactionBufferBytes))};
}
std::span<const uint8_t> heldReply()
{
    return {ReplyBuffer.data(), size_t(std::clamp<int32_t>(ReplyCount, 0, TransactionBufferBytes))};
}

const QString crcErrorText = QStringLiteral("!!! Ошибка CRC !!!");
const QString wrongReplyText = QStringLiteral("!!! Неверный ответ блока !!!");

} // namespace

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

void TFrs232::setupExchange()
{
    handOff_.window = this;
    VaComm1.setGuiHandOff(&handOff_);
    VaComm1.attachStore(&VaBuffer1);
    VaComm1.OnOpen = [this] { VaComm1Open(); };
    VaComm1.OnRxBuf = [this](const uint8_t *data, size_t count) { VaComm1RxBuf(data, count); };
    VaComm1.OnError = [this](uint32_t flags) { VaComm1Error(flags); };
    VaBuffer1.OnOverflow = [this] { VaBuffer1Overflow(); };

    QTimer **timers[] = {&Timer1, &Timer2, &Timer3, &Timer4};
    void (TFrs232::*ticks[])() = {&TFrs232::Timer1Timer, &TFrs232::Timer2Timer,
                                  &TFrs232::Timer3Timer, &TFrs232::Timer4Timer};
    for (int i = 0; i < 4; ++i) {
        auto *t = new QTimer(this);
        t->setObjectName(QStringLiteral("Timer%1").arg(i + 1));
        t->setInterval(tickMs);
        t->setTimerType(Qt::PreciseTimer);
        connect(t, &QTimer::timeout, this, ticks[i]);
        *timers[i] = t;
    }
    Label1->installEventFilter(this);
}

QTimer *TFrs232::kindTimer() const
{
    switch (Tag(this)) {
    case WriteConfiguration:
        return Timer1;
    case ReadConfiguration:
    case CompareConfiguration:
        return Timer2;
    case ControlCommand:
        return Timer3;
    case InputOutputState:
        return Timer4;
    default:
        return nullptr;
    }
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
    // Bytes an earlier exchange left behind (a late reply, bytes received during its pause)
    // are no answer to this one.
    ClearReply();
    VaBuffer1.clear();
    if (FKsb)
        ReadSettings = FKsb->currentSettings();
    try {
        VaComm1.Open();
    } catch (const qvoksb::SerialPortError &e) {
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
    for (const KindRow &k : kinds)
        if (k.tag == Tag(this))
            Label1->setText(QString::fromUtf8(k.startMessage));
}

void TFrs232::VaComm1Open()
{
    if (QTimer *t = kindTimer())
        t->start();
}

void TFrs232::VaComm1RxBuf(const uint8_t *data, size_t count)
{
    if (ReplyCount == 0 && TrafficLogWindow::recording())
        replyArrivedAt_ = QTime::currentTime();
    // A full accumulator drops what does not fit; the reply then fails its check and the step
    // is repeated.
    AppendReply(data, count);
}

void TFrs232::VaComm1Error(uint32_t flags)
{
    const char *message = qvoksb::lineErrorMessage(flags);
    // A device error means the port has gone (an adapter pulled out): no later request can
    // reach the unit, so the exchange stops and the message stays until the user closes.
    if (flags & qvoksb::CE_IOE)
        stopTimers();
    showError(message ? QString::fromUtf8(message) : Label1->text());
    logNote(QStringLiteral("ошибка линии 0x%1: %2")
                .arg(flags, 4, 16, QLatin1Char('0'))
                .arg(message ? QString::fromUtf8(message) : QStringLiteral("без описания")),
            true);
}

void TFrs232::VaBuffer1Overflow()
{
    showError(QString::fromUtf8(qvoksb::receiveStoreOverflowMessage));
    logNote(QString::fromUtf8(qvoksb::receiveStoreOverflowMessage), true);
}

void TFrs232::logNote(const QString &text, bool problem)
{
    if (TrafficLogWindow *log = TrafficLogWindow::recording())
        log->note(text, problem);
}

void TFrs232::noAnswerHint(bool show)
{
    const QString hint =
        QStringLiteral("\nБлок не отвечает: проверьте кабель, порт, адрес блока (hex) %1 и DTR/RTS")
            .arg(QString::number(UnitAddress(), 16).toUpper());
    QString text = Label1->text();
    const bool shown = text.endsWith(hint);
    if (show && !shown) {
        Label1->setText(text + hint);
        fitLabel();
    } else if (!show && shown)
        Label1->setText(text.chopped(hint.size()));
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

int TFrs232::step() const
{
    return ProgressBar1->value();
}

void TFrs232::setStep(int p)
{
    ProgressBar1->setValue(p);
}

bool TFrs232::replyWaiting() const
{
    return ReplyCount >= replyWaitingBytes;
}

void TFrs232::sendRequest(const std::function<void()> &build)
{
    VaComm1.PurgeWrite();
    build();
    if (RequestLength <= 0)
        return;
    const bool configuration = Tag(this) == WriteConfiguration || Tag(this) == ReadConfiguration ||
                               Tag(this) == CompareConfiguration;
    // The label keeps its own text; the hint is a second line below it, in the usual colour.
    if (configuration && requestsSinceReply_ >= unansweredBeforeHint)
        noAnswerHint(true);
    ++requestsSinceReply_;
    try {
        VaComm1.WriteBuf(RequestBuffer.data(), RequestLength);
        if (TrafficLogWindow *log = TrafficLogWindow::recording())
            log->sent(sentFrame());
    } catch (const qvoksb::SerialPortError &) {
        // The port has gone or cannot take the frame; the line error says why when it knows.
        showError(QStringLiteral("ОШИБКА: Запрос не передан в порт!"));
    }
}

void TFrs232::finishExamining()
{
    VaComm1.PurgeRead();
    ClearReply();
}

void TFrs232::refuse(const modbus::ReplyCheck &check)
{
    // The unit refused the step: nothing after it may look like success, so the exchange stops
    // here and the window waits for the user.
    stopTimers();
    const std::string_view meaning = modbus::exceptionMeaning(check.exceptionCode);
    QString text = QStringLiteral("ОШИБКА: Блок отклонил запрос: %1 (код %2)")
                       .arg(QString::fromUtf8(meaning.data(), qsizetype(meaning.size())))
                       .arg(check.exceptionCode);
    const int p = step();
    const bool configuration = Tag(this) != ControlCommand && Tag(this) != InputOutputState;
    if (configuration && p >= 1 && p <= modbus::WriteSteps) {
        const modbus::Block block = modbus::ConfigurationBlocks[size_t(p - 1)];
        text += QStringLiteral("\r\nЗапрос к регистрам %1–%2")
                    .arg(block.first)
                    .arg(block.first + block.count - 1);
    }
    // The unit takes each block whole or not at all, and the blocks before this one are in.
    const bool partial = Tag(this) == WriteConfiguration && !verifying_ && p > 1;
    if (partial) {
        text += QStringLiteral("\r\nБлок хранит частично записанную конфигурацию!");
        WriteRefused = true;
    }
    showError(text);
    refusalText_ = text;
    if (partial && VerifyWrite)
        startReadBack();
}

// A write with verification reads the seven blocks back the way a read does, into ReadSettings.
void TFrs232::startReadBack()
{
    stopTimers();
    WrittenSettings = qvoksb::registers::asUnitHolds(FKsb ? FKsb->currentSettings() : ReadSettings);
    ReadSettings = FKsb ? FKsb->currentSettings() : WrittenSettings;
    decodedBlocks_ = 0;
    verifying_ = true;
    setStep(FirstStep);
    if (refusalText_.isEmpty())
        Label1->setText(QStringLiteral("Проверка записи чтением ..."));
    Timer2->start();
}

int TFrs232::lastReadStep() const
{
    // A read goes on to the last trip; a compare and a read-back end with the seventh block.
    return Tag(this) == ReadConfiguration ? LastStep : LastStep - 1;
}

void TFrs232::finishReadBack()
{
    Timer2->stop();
    UnitSettingsComplete = decodedBlocks_ == allConfigurationBlocks;
    if (!verifying_) {
        finishWith(QStringLiteral("Чтение всех параметров успешно завершено!"), false);
        return;
    }
    if (UnitSettingsComplete)
        VerifyDifferences = int(qvoksb::differenceCount(WrittenSettings, ReadSettings,
                                                        qvoksb::Compared::Configuration));
    if (!refusalText_.isEmpty()) {
        // The refusal stays the outcome; the window waits for the user as after any refusal.
        showError(refusalText_);
        return;
    }
    if (!UnitSettingsComplete)
        finishWith(QStringLiteral("ОШИБКА: Записанные значения не удалось проверить!"), true);
    else if (VerifyDifferences == 0)
        finishWith(QStringLiteral("Все параметры успешно записаны!"), false);
    else
        finishWith(
            QStringLiteral("ОШИБКА: Блок хранит другие значения (%1)").arg(VerifyDifferences),
            true);
}

void TFrs232::stopTimers()
{
    for (QTimer *t : {Timer1, Timer2, Timer3, Timer4})
        t->stop();
}

void TFrs232::finishWith(const QString &text, bool red)
{
    if (red)
        showError(text);
    else
        Label1->setText(text);
    // The outcome stays readable for the pause, as Delay would keep it, but a user who closes
    // the window meanwhile gets the main window back at once rather than after the pause.
    QPointer<TFrs232> self(this);
    Delay(outcomePauseMs, this);
    if (self && isVisible())
        close();
}

// The reply is examined: true when it is the step's correct answer. A CRC error or a frame
// that does not answer the request leaves its text and the step is repeated; the unit's refusal
// stops the exchange.
TFrs232::Examined TFrs232::examine()
{
    if (requestsSinceReply_ > unansweredBeforeHint) // the hint is up: the unit answers again
        noAnswerHint(false);
    requestsSinceReply_ = 0;
    if (TrafficLogWindow *log = TrafficLogWindow::recording())
        log->received(sentFrame(), heldReply(), replyArrivedAt_);
    if (!ReplyCrcOk()) {
        Label1->setText(crcErrorText);
        return Examined::Repeat;
    }
    const modbus::ReplyCheck check = ClassifyReply();
    switch (check.kind) {
    case modbus::ReplyKind::Correct:
        return Examined::Correct;
    case modbus::ReplyKind::Exception:
        refuse(check);
        return Examined::Refused;
    case modbus::ReplyKind::Malformed:
        Label1->setText(wrongReplyText);
        return Examined::Repeat;
    case modbus::ReplyKind::CrcError:
        break;
    }
    Label1->setText(crcErrorText);
    return Examined::Repeat;
}

bool TFrs232::decode(int stepNumber)
{
    // A decode may open a message box, which keeps the timer running; ticks meanwhile are
    // ignored so that the reply is not decoded twice.
    decoding_ = true;
    QPointer<TFrs232> self(this);
    const bool ok = ParseReadReply(stepNumber);
    if (self)
        decoding_ = false;
    return ok;
}

void TFrs232::Timer1Timer()
{
    if (decoding_)
        return;
    const int p = step();
    if (p >= LastStep - 1) {
        if (VerifyWrite) {
            startReadBack();
            return;
        }
        setStep(p + 1);
        Timer1->stop();
        finishWith(QStringLiteral("Все параметры успешно записаны!"), false);
        return;
    }
    if (!replyWaiting()) {
        sendRequest([this, p] { MakeWriteRequest(p); });
        return;
    }
    const Examined e = examine();
    if (e == Examined::Correct)
        setStep(p + 1);
    finishExamining();
}

void TFrs232::Timer2Timer()
{
    if (decoding_)
        return;
    const int p = step();
    if (p >= lastReadStep()) {
        finishReadBack();
        return;
    }
    if (!replyWaiting()) {
        sendRequest([this, p] { MakeReadRequest(p); });
        return;
    }
    const Examined e = examine();
    if (e == Examined::Correct) {
        QPointer<TFrs232> self(this);
        // A block the controls refuse is reported and the reading goes on; it is no part of
        // what the unit is known to hold.
        const bool decoded = decode(p);
        if (!self)
            return;
        if (decoded)
            decodedBlocks_ |= 1u << p;
        setStep(p + 1);
    }
    finishExamining();
}

void TFrs232::Timer3Timer()
{
    const int p = step();
    if (p >= LastStep) {
        Timer3->stop();
        finishWith(QStringLiteral("Исполнение команды прервано!"), true);
        return;
    }
    setStep(p + 1);
    if (!replyWaiting()) {
        sendRequest([this] { MakeReadRequest(modbus::CommandStep); });
        return;
    }
    const Examined e = examine();
    finishExamining();
    if (e == Examined::Correct) {
        setStep(LastStep);
        Timer3->stop();
        finishWith(QStringLiteral("Команда успешно выполнена!"), false);
    }
}

void TFrs232::Timer4Timer()
{
    if (decoding_)
        return;
    const int p = step();
    if (p >= LastStep) {
        Timer4->stop();
        finishWith(QStringLiteral("Чтение состояний прервано!"), true);
        return;
    }
    setStep(p + 1);
    if (!replyWaiting()) {
        sendRequest([this] { MakeReadRequest(modbus::StateStep); });
        return;
    }
    const Examined e = examine();
    if (e == Examined::Correct) {
        setStep(LastStep);
        Timer4->stop();
        QPointer<TFrs232> self(this);
        decode(modbus::StateStep);
        if (!self)
            return;
        finishExamining();
        close(); // the LEDs show the outcome; no text, no pause
        return;
    }
    finishExamining();
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
    stopTimers();
    if (!VaComm1.Active())
        return;
    // Bytes that came after the last examining tick are in the log too.
    if (TrafficLogWindow *log = TrafficLogWindow::recording(); log && ReplyCount > 0)
        log->received(sentFrame(), heldReply(), replyArrivedAt_);
    VaComm1.Close();
    logNote(QStringLiteral("порт COM%1 закрыт").arg(VaComm1.PortNum));
}
