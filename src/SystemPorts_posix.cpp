// The serial devices present, from Qt's serial-port module; the program's own layer opens and
// drives them.
#include "PortChooser.h"

#include "core/link/port_assignment.h"

#include <QSerialPortInfo>

QList<PortListing> PortChooser::systemPorts()
{
    QList<PortListing> out;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        PortListing p;
        p.device = info.systemLocation();
        p.description = info.description();
        p.maker = info.manufacturer();
        p.serialNumber = info.serialNumber();
        p.stableName = QString::fromStdString(qvoksb::stableDeviceName(p.device.toStdString()));
        out.append(p);
    }
    return out;
}
