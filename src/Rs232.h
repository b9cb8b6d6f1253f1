#pragma once
// The exchange window and the device link's frames. The main window creates one TFrs232 for each
// exchange with the unit, sets its Tag to the kind of exchange and its port options, shows it
// modally and destroys it; the window then paces the transactions of that kind.
//
// Every frame goes through four program-wide buffers that outlive the windows: the request to send
// and the reply being accumulated. Building a request reads the main window's controls (through
// FKsb), decoding a reply writes them, both by the register map in Rs232RegisterMap.cpp.
#include "modbus_rtu.h"
#include "serial_port.h"
#include "settings_set.h"

#include <QDialog>
#include <QPointer>
#include <QTime>

#include <array>
#include <cstddef>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// A pause that keeps the windows alive: it waits in an event loop of its own until the time has
// passed, so windows repaint, port events arrive and buttons work meanwhile. With `endsWith`
// it ends early when that window closes.
void Delay(int milliseconds, QDialog *endsWith = nullptr);

// The frame sent next, RequestLength bytes of it, CRC included; and the bytes received since the
// last reply was examined.
inline constexpr size_t TransactionBufferBytes = 4096;
extern std::array<uint8_t, TransactionBufferBytes> RequestBuffer;
extern int32_t RequestLength;
extern std::array<uint8_t, TransactionBufferBytes> ReplyBuffer;
extern int32_t ReplyCount;

class TFrs232 : public QDialog
{
    Q_OBJECT
public:
    // The exchange kinds, carried in the window's Tag.
    enum Kind {
        WriteConfiguration = 99,    // write steps 1..7
        ReadConfiguration = 100,    // read steps 1..8
        ControlCommand = 101,       // command step 0
        InputOutputState = 102,     // status step 99
        CompareConfiguration = 103, // read steps 1..7 into ReadSettings only
    };
    static constexpr int FirstStep = 1; // the step counter starts here ...
    static constexpr int LastStep = 9;  // ... and the bar ends here

    explicit TFrs232(QWidget *owner = nullptr);
    ~TFrs232() override;

    // --- frames (program-wide buffers) -------------------------------------------------------
    // The CRC of a run with the first byte on the wire in the high half of the result.
    static uint16_t Crc16(const uint8_t *bytes, uint16_t length);
    // An 8-byte function-4 or function-6 request in RequestBuffer; RequestLength becomes 8.
    static void MakeRequest(uint8_t address, uint8_t function, uint16_t reg, uint16_t countOrValue);
    // The function-16 request of write step 1..7 from the controls; steps 4..7 set Label1 first.
    // Any other step leaves RequestLength at 0.
    void MakeWriteRequest(int step);
    // The request of step 0 (command, value = RadioGroup1's Tag), 1..8 (configuration blocks and
    // last trip) or 99 (input/output state); steps 4..8 and 99 set Label1 first. Any other step
    // leaves RequestLength at 0.
    void MakeReadRequest(int step);
    // True when ReplyCount is at least 4 and the last two received bytes are the CRC of the
    // bytes before them.
    static bool ReplyCrcOk();
    // The received bytes measured against the request that was sent: correct, the unit's
    // exception, malformed, or a CRC error. Only a correct reply should be decoded.
    static qvoksb::modbus::ReplyCheck ClassifyReply();
    // Decodes the reply of read step 1..8 or status step 99. The configuration blocks (steps
    // 1..7) collect into ReadSettings, which a configuration read puts into the main window's
    // controls when step 7 is in; the last trip and the state go to their fields at once.
    // The reply must be the correct answer to that step's request; anything else, and any error
    // while the controls take the values, shows "Параметры конфигурации содержат ошибки!" and
    // returns false.
    bool ParseReadReply(int step);
    // The unit's settings as read so far, starting from the window's when the exchange began
    // (a field the registers leave open keeps the window's value).
    qvoksb::SettingsSet ReadSettings;
    // A write reads its seven blocks back when this is set by the main window before showing,
    // and compares them with what it sent.
    bool VerifyWrite = false;
    // After the window closed: true when all seven blocks were read back or compared and
    // decoded, so that ReadSettings is what the unit holds; WrittenSettings is what a write sent,
    // as the unit's registers carry it.
    bool UnitSettingsComplete = false;
    qvoksb::SettingsSet WrittenSettings;
    // How many settings the unit holds differently from what was written (after a verified
    // write), and whether the unit refused a write block part-way.
    int VerifyDifferences = 0;
    bool WriteRefused = false;
    // EEvent's text for a cause code of the last trip.
    static void ShowTripCause(uint16_t code);

    // Appends received bytes to ReplyBuffer as far as there is room; returns how many it took.
    static size_t AppendReply(const uint8_t *data, size_t count);
    // Empties ReplyBuffer after a reply has been examined.
    static void ClearReply();
    // The unit address of the next request: RxSpinEdit26.
    static uint8_t UnitAddress();

    // --- the window --------------------------------------------------------------------------
private:
    // Hands the port's events to this window's thread as queued calls. Declared before the
    // port, so that it is destroyed after the port's event thread has stopped using it.
    struct QtHandOff : qvoksb::GuiHandOff {
        QPointer<QObject> window;
        bool post(std::function<void()> task) override;
    };
    QtHandOff handOff_;

public:
    // The port: its number and lines are set by the main window before showing; the window
    // opens it when shown and closes it when it closes.
    qvoksb::SerialPort VaComm1;
    qvoksb::ReceiveStore VaBuffer1;

    QLabel *Label1;
    QProgressBar *ProgressBar1; // its position is the step counter
    QPushButton *BExit;
    // One 300 ms timer per kind; the one of the window's kind runs while the port is open.
    QTimer *Timer1 = nullptr; // write configuration
    QTimer *Timer2 = nullptr; // read configuration
    QTimer *Timer3 = nullptr; // control command
    QTimer *Timer4 = nullptr; // input/output state

    void BExitClick();
    void FormShow();
    void FormClose();
    void VaComm1Open();
    void VaComm1RxBuf(const uint8_t *data, size_t count);
    void VaComm1Error(uint32_t flags);
    void VaBuffer1Overflow();
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Label1MouseDown();

    // True once an error has turned the label's text red.
    bool labelIsRed() const;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

public slots:
    // Every way of closing (the button, Escape, the end of an exchange) closes the port.
    void done(int result) override;

private:
    enum class Examined { Correct, Repeat, Refused };

    void setupExchange();
    QTimer *kindTimer() const;
    int step() const;
    void setStep(int p);
    bool replyWaiting() const;
    void sendRequest(const std::function<void()> &build);
    void finishExamining();
    Examined examine();
    void refuse(const qvoksb::modbus::ReplyCheck &check);
    bool decode(int stepNumber);
    void stopTimers();
    void decodeConfiguration(int step);
    void finishWith(const QString &text, bool red);
    void showError(const QString &text);
    void fitLabel();

    void startReadBack();
    void finishReadBack();
    int lastReadStep() const;

    void noAnswerHint(bool show);
    void logNote(const QString &text, bool problem = false);

    bool shown_ = false;
    bool decoding_ = false;
    bool verifying_ = false;     // a write is reading its blocks back
    unsigned decodedBlocks_ = 0; // bit n: read step n decoded
    QString refusalText_;
    int requestsSinceReply_ = 0; // requests sent since a reply last waited at a tick
    QTime replyArrivedAt_;       // when the first byte of the waiting reply came (log only)
};
