#pragma once
// What the exchange window and ksb7ctl need of a way to the unit, whatever it is: a serial port
// (SerialLink) or a gateway on the network (NetLink). Everything here belongs to the GUI thread
// (in ksb7ctl, its one thread): the calls, and the events, which reach it through the GuiHandOff
// the link was given.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>

namespace qvoksb
{

// What open() throws when the link cannot even be tried (a port that cannot be opened, a gateway
// address that is no address). The text is Russian, one line.
class LinkError : public std::runtime_error
{
public:
    explicit LinkError(const std::string &what, int systemError = 0)
        : std::runtime_error(what), systemError_(systemError)
    {
    }
    int systemError() const { return systemError_; }

private:
    int systemError_;
};

// A fault reported while the link is open.
struct LinkFault {
    std::string message;     // Russian, UTF-8; empty for a line error the table has no words for
    bool lost = false;       // the link is gone: nothing more can be sent until it is opened again
    uint32_t lineFlags = 0;  // a serial port's line-error flags; 0 on the network
};

// Bytes the link put on the wire or took off it, for the exchange log: only where they differ
// from the frames the engine sees (a Modbus TCP header), or were dropped before reaching it.
struct LinkTraffic {
    enum Kind { Sent, Received, Dropped } kind = Sent;
    std::span<const uint8_t> bytes;
    std::string meaning; // Russian, UTF-8
};

class Link
{
public:
    virtual ~Link() = default;

    // Starts the link. onOpen fires once it is ready to send: for a serial port before open()
    // returns, for a gateway when the connection stands (or onFault with lost set, when it cannot
    // be made). Throws LinkError when it cannot be tried at all.
    virtual void open() = 0;
    // Ends the link; no event of it fires afterwards. Nothing when not open.
    virtual void close() = 0;
    // Between open() and close(), even when the link has been lost meanwhile.
    virtual bool active() const = 0;
    // Hands a Modbus RTU frame (with its CRC) to the line; false when it could not take it.
    virtual bool send(std::span<const uint8_t> frame) = 0;
    // Drops what has been received and not yet handed to onReceived.
    virtual void discardInput() = 0;
    // The name the user knows the link by: "COM3", a device path, "host:port".
    virtual std::string name() const = 0;

    std::function<void()> onOpen;
    // Bytes as the engine reads them: a serial line's as they came, Modbus RTU frames on a
    // Modbus TCP connection.
    std::function<void(std::span<const uint8_t>)> onReceived;
    std::function<void(const LinkFault &)> onFault;
    std::function<void(const LinkTraffic &)> onTraffic;
};

} // namespace qvoksb
