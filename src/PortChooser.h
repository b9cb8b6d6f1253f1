#pragma once
// "Выбор порта ...": the serial ports present now, with their makers' names, and the port number
// 1 to 16 to give one of them. OK points the entry COMn of the port folder at the device (at its
// stable /dev/serial/by-id/ name when it has one), so that the port item COMn opens it from then
// on. A path can be typed too: a pseudo-terminal, for one, is never listed.
// On Windows, which has no port folder, a picked port COMn gives its own number, and OK makes it
// the current port.
// Below, "Сетевой шлюз": a unit behind a serial-to-Ethernet gateway, by host (a name, an IPv4 or
// IPv6 address), TCP port and mode. Checked, OK makes the gateway the current link and leaves
// the port folder alone.
#include "core/link/net_link.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QSpinBox;
class QTableWidget;

// One serial port as the system lists it.
struct PortListing {
    QString device;      // "/dev/ttyUSB0"; on Windows "COM3"
    QString description; // the adapter's own name
    QString maker;
    QString serialNumber;
    QString stableName; // "/dev/serial/by-id/usb-...", empty when there is none
};

class PortChooser : public QDialog
{
    Q_OBJECT
public:
    using Lister = std::function<QList<PortListing>()>;
    static QList<PortListing> systemPorts();

    // portNum: the number offered at first, the port chosen now. The list comes from `lister`,
    // the system's ports unless another is given (a test's own list).
    explicit PortChooser(int portNum, QWidget *parent = nullptr, const Lister &lister = {});

    int chosenPort() const;
    // The gateway offered at first, and whether it is the current link.
    void setGateway(const std::optional<qvoksb::Gateway> &gateway, bool chosen);
    // Once accepted with "Сетевой шлюз" checked: the gateway; otherwise empty.
    const std::optional<qvoksb::Gateway> &chosenGateway() const { return chosenGateway_; }
    // What the entry was pointed at, once accepted ("COMn" on Windows).
    QString linkTarget() const { return linkTarget_; }

    // Checks the path and writes the link; on any failure says why and stays open, and the port
    // folder is as it was.
    void accept() override;

    QTableWidget *Ports;
    QLineEdit *Path;
    QSpinBox *Number;
    QGroupBox *GatewayBox; // checkable: the gateway rather than a serial port
    QLineEdit *GatewayHost;
    QSpinBox *GatewayPort;
    QComboBox *GatewayMode; // "RTU поверх TCP", "Modbus TCP"

private:
    bool acceptGateway();
    std::optional<qvoksb::Gateway> chosenGateway_;
    QList<PortListing> listed_;
    QString linkTarget_;
    bool linkFolder_ = true;
};
