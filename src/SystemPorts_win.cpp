// The COM ports present, as the core reads them from the system.
#include "PortChooser.h"

#include "core/link/port_list.h"

QList<PortListing> PortChooser::systemPorts()
{
    QList<PortListing> out;
    for (const qvoksb::SystemPort &port : qvoksb::systemPorts()) {
        PortListing p;
        p.device = QString::fromStdString(port.name);
        p.description = QString::fromStdString(port.description);
        p.maker = QString::fromStdString(port.maker);
        p.serialNumber = QString::fromStdString(port.serialNumber);
        out.append(p);
    }
    return out;
}
