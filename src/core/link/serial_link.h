#pragma once
// A serial port as a Link: the port's own events and calls under the link's names.
#include "core/link/link.h"
#include "core/link/serial_port.h"

namespace qvoksb
{

class SerialLink : public Link
{
public:
    // The port stays the caller's (its settings, its hand-off); the link drives it.
    explicit SerialLink(SerialPort &port);
    ~SerialLink() override;

    // Throws LinkError, Russian, with the port's system error.
    void open() override;
    void close() override;
    bool active() const override { return port_.Active(); }
    // Drops what is still queued, then queues the frame.
    bool send(std::span<const uint8_t> frame) override;
    void discardInput() override { port_.PurgeRead(); }
    std::string name() const override;

    SerialPort &port() { return port_; }

private:
    SerialPort &port_;
};

} // namespace qvoksb
