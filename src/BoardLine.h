#pragma once
// The line to the units of a switchboard, as the window "Блоки на линии" uses it: it keeps the
// port, or the connection to a gateway on the network, open for a whole batch and runs one scan or one exchange of the core at a time on it, the
// exchange on the configurator's 300 ms ticks, the scan whenever bytes come or its time-out is
// due. While a batch holds the line, the main window's exchanges wait for it.
#include "core/exchange/exchange_engine.h"
#include "core/exchange/scan.h"
#include "core/link/link.h"
#include "core/link/net_link.h"
#include "core/link/serial_port.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

class QTimer;

class BoardLine : public QObject
{
    Q_OBJECT
public:
    // A step without a correct answer for this long gives up, so that a unit that stays silent
    // or has gone lets the batch go on to the next one.
    static constexpr qvoksb::exchange::Milliseconds StepTimeout{3000};

    explicit BoardLine(QObject *parent = nullptr);
    ~BoardLine() override;

    // The way to the units, as the main window has it chosen.
    struct Choice {
        int portNum = 1;
        bool dtr = false;
        bool rts = false;
        std::optional<qvoksb::Gateway> gateway; // instead of the port, when set
    };
    // Opens the link and holds the line; false with the reason in words. A gateway's connection
    // is made meanwhile: what is started before it stands waits for it.
    bool open(const Choice &choice, QString *problem);
    // Closes the link and lets the main window's exchanges go on.
    void close();
    bool isOpen() const { return link_ && link_->active(); }
    bool portLost() const { return portLost_; }
    // "COM3", or the gateway's host:port.
    std::string linkName() const { return link_ ? link_->name() : std::string(); }

    // One at a time; finished() when it has ended.
    void startScan(const qvoksb::exchange::ScanOptions &options);
    void startExchange(qvoksb::exchange::Options options);
    // Stops the running scan or exchange at once (a batch stops between units instead).
    void abort();
    bool running() const { return engine_ || scan_; }

    // After finished(): the exchange's result, or the scan's entries.
    const std::optional<qvoksb::exchange::Result> &result() const { return result_; }
    const std::vector<qvoksb::exchange::ScanEntry> &entries() const { return entries_; }

    // True while a window of the units holds a line; the main window's exchanges then wait.
    static bool held();
    // Waits in an event loop until no line is held.
    static void waitUntilFree();

signals:
    void progress(int done, int inAll);
    void finished();
    void released();

private:
    struct QtHandOff : qvoksb::GuiHandOff {
        QPointer<QObject> owner;
        bool post(std::function<void()> task) override;
    };
    class LinkLine : public qvoksb::exchange::Line
    {
    public:
        explicit LinkLine(BoardLine &owner) : owner_(owner) {}
        void discardInput() override;
        bool send(std::span<const uint8_t> frame) override;

    private:
        BoardLine &owner_;
    };

    void received(std::span<const uint8_t> bytes);
    void fault(const qvoksb::LinkFault &fault);
    void ready();
    void tick();
    void pollScan();
    void end();

    QtHandOff handOff_; // before the port: its threads stop before the hand-off goes
    qvoksb::SerialPort port_;
    std::unique_ptr<qvoksb::Link> link_;
    bool ready_ = false; // the link has opened
    LinkLine line_{*this};
    QTimer *timer_;
    std::unique_ptr<qvoksb::exchange::Engine> engine_;
    std::unique_ptr<qvoksb::exchange::Scan> scan_;
    std::optional<qvoksb::exchange::Result> result_;
    std::vector<qvoksb::exchange::ScanEntry> entries_;
    bool portLost_ = false;
};
