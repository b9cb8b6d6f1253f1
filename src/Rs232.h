#pragma once
// The exchange window. The main window creates one TFrs232 for each exchange with the unit, sets
// its Tag to the kind of exchange, its port options and what the exchange needs (the settings to
// write, the command), shows it modally, takes the result and destroys it. The window opens the
// port, runs the exchange engine of the core on its 300 ms ticks and shows the engine's label and
// step counter; it never touches the main window's controls: the main window applies the result.
#include "core/exchange/exchange_engine.h"
#include "core/link/link.h"
#include "core/link/net_link.h"
#include "core/link/serial_port.h"
#include "core/settings/settings_set.h"

#include <QDialog>
#include <QPointer>
#include <QTime>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TrafficLogWindow;

// A pause that keeps the windows alive: it waits in an event loop of its own until the time has
// passed, so windows repaint, port events arrive and buttons work meanwhile. With `endsWith`
// it ends early when that window closes.
void Delay(int milliseconds, QDialog *endsWith = nullptr);

class TFrs232 : public QDialog
{
    Q_OBJECT
public:
    // The exchange kinds, carried in the window's Tag.
    enum Kind {
        WriteConfiguration = 99,    // write steps 1..7, read back with VerifyWrite
        ReadConfiguration = 100,    // read steps 1..8
        ControlCommand = 101,       // command step 0
        InputOutputState = 102,     // status step 99
        CompareConfiguration = 103, // read steps 1..7, for a difference window
    };
    static constexpr int FirstStep = 1; // the step counter starts here ...
    static constexpr int LastStep = 9;  // ... and the bar ends here

    explicit TFrs232(QWidget *owner = nullptr);
    ~TFrs232() override;

    // --- set by the main window before showing ---------------------------------------------
    uint8_t UnitAddress = qvoksb::modbus::MinUnitAddress;
    // A write writes these; a read or compare decodes the unit's blocks into a copy of them.
    qvoksb::SettingsSet Settings;
    bool VerifyWrite = false; // a write reads its blocks back and compares
    uint16_t CommandCode = 0; // the command's value for register 128
    // The exchange log; the window records into it while it is open.
    QPointer<TrafficLogWindow> Log;
    // When set, the exchange goes through this gateway on the network instead of the port.
    std::optional<qvoksb::Gateway> Gateway;
    // The name the user knows the link by: "COM3", or the gateway's host:port.
    QString linkName() const;
    // The port (or the connection to the gateway) is open.
    bool linkActive() const { return link_ && link_->active(); }

    // --- after the window closed -------------------------------------------------------------
    // The exchange's result; empty when the port never opened.
    const std::optional<qvoksb::exchange::Result> &result() const { return result_; }

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
    // opens it (or the gateway) when shown and closes it when it closes.
    qvoksb::SerialPort VaComm1;

    QLabel *Label1;
    QProgressBar *ProgressBar1; // its position is the step counter
    QPushButton *BExit;
    // The 300 ms tick; it runs while the port is open and the exchange goes on.
    QTimer *Timer1 = nullptr;

    void BExitClick();
    void FormShow();
    void FormClose();
    void VaComm1Open();
    void VaComm1RxBuf(const uint8_t *data, size_t count);
    void VaComm1Error(uint32_t flags);
    // A fault of the link: the port's line errors go to VaComm1Error; the network's come here.
    void linkFault(const qvoksb::LinkFault &fault);
    void linkTraffic(const qvoksb::LinkTraffic &traffic);
    void Timer1Timer();
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
    // The port as the engine sees it, with the exchange log beside it.
    class PortLine : public qvoksb::exchange::Line
    {
    public:
        explicit PortLine(TFrs232 &window) : w(window) {}
        void discardInput() override;
        bool send(std::span<const uint8_t> frame) override;
        void logSent(std::span<const uint8_t> frame) override;
        void logExamined(std::span<const uint8_t> request, std::span<const uint8_t> reply) override;
        void logDiscarded(std::span<const uint8_t> bytes, std::string_view why) override;

    private:
        TFrs232 &w;
    };

    void setupExchange();
    qvoksb::exchange::Options options() const;
    void showEngine();
    void afterEngine();
    void showError(const QString &text);
    void openGateway();
    void fitLabel();
    void logNote(const QString &text, bool problem = false);
    TrafficLogWindow *recordingLog() const;

    PortLine line_{*this};
    // The port, or the gateway, as the exchange uses it; made when the window is shown.
    std::unique_ptr<qvoksb::Link> link_;
    bool linkOpen_ = false;
    std::unique_ptr<qvoksb::exchange::Engine> engine_;
    std::optional<qvoksb::exchange::Result> result_;
    bool shown_ = false;
    bool finishing_ = false;
    QTime replyArrivedAt_; // when the first byte of the bytes held came (log only)
};
