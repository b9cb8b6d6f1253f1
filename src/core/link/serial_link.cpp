#include "core/link/serial_link.h"

#include "core/link/line_errors.h"
#include "core/link/port_directory.h"
#include "core/platform/system_error.h"

namespace qvoksb
{

SerialLink::SerialLink(SerialPort &port) : port_(port)
{
    port_.OnOpen = [this] {
        if (onOpen)
            onOpen();
    };
    port_.OnRxBuf = [this](const uint8_t *data, size_t count) {
        if (onReceived)
            onReceived({data, count});
    };
    port_.OnError = [this](uint32_t flags) {
        if (!onFault)
            return;
        const char *message = lineErrorMessage(flags);
        // A device error means the port has gone (an adapter pulled out).
        onFault({message ? message : "", (flags & CE_IOE) != 0, flags});
    };
}

SerialLink::~SerialLink()
{
    port_.OnOpen = nullptr;
    port_.OnRxBuf = nullptr;
    port_.OnError = nullptr;
}

std::string SerialLink::name() const
{
    return port_.DevicePath.empty() ? portEntryName(port_.PortNum) : port_.DevicePath;
}

void SerialLink::open()
{
    try {
        port_.Open();
    } catch (const SerialPortError &e) {
        throw LinkError("порт " + name() + " не открыт: " +
                            (e.systemError() ? errnoText(e.systemError())
                                             : std::string("устройство не принимает 9600 бит/с 8N1")),
                        e.systemError());
    }
}

void SerialLink::close()
{
    port_.Close();
}

bool SerialLink::send(std::span<const uint8_t> frame)
{
    port_.PurgeWrite();
    try {
        port_.WriteBuf(frame.data(), int(frame.size()));
        return true;
    } catch (const SerialPortError &) {
        // The queue cannot take the frame, or the port has gone: the line error says which.
        return false;
    }
}

} // namespace qvoksb
