#pragma once
// "Выбор порта ...": the serial ports present now, with their makers' names, and the port number
// 1 to 16 to give one of them. OK points the entry COMn of the port folder at the device (at its
// stable /dev/serial/by-id/ name when it has one), so that the port item COMn opens it from then
// on. A path can be typed too: a pseudo-terminal, for one, is never listed.
// On Windows, which has no port folder, a picked port COMn gives its own number, and OK makes it
// the current port.
#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

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
    // What the entry was pointed at, once accepted ("COMn" on Windows).
    QString linkTarget() const { return linkTarget_; }

    // Checks the path and writes the link; on any failure says why and stays open, and the port
    // folder is as it was.
    void accept() override;

    QTableWidget *Ports;
    QLineEdit *Path;
    QSpinBox *Number;

private:
    QList<PortListing> listed_;
    QString linkTarget_;
    bool linkFolder_ = true;
};
