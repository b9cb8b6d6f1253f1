// The main window's commands for finding the port and watching the traffic: the port chooser
// below the port items, the exchange log in "Сервис", and the port items' hints that say which
// device each port stands for.
#include "Main.h"

#include "Messages.h"
#include "PortChooser.h"
#include "TrafficLog.h"
#include "core/link/port_assignment.h"
#include "core/link/port_directory.h"

#include <QAction>
#include <QMenu>

void TFKsb::createPortCommands()
{
    MenuItem2->addSeparator();
    PortChooserItem = MenuItem2->addAction(QStringLiteral("Выбор порта ..."));
    PortChooserItem->setObjectName(QStringLiteral("PortChooserItem"));
    connect(PortChooserItem, &QAction::triggered, this, [this] { choosePort(); });
    // The hints are read when the menu opens, so a link made meanwhile (by the simulated unit,
    // by hand) shows too.
    MenuItem2->setToolTipsVisible(true);
    connect(MenuItem2, &QMenu::aboutToShow, this, [this] { describePorts(); });
    describePorts();

    TrafficLogItem = addServiceCommand(QStringLiteral("Журнал обмена"));
    TrafficLogItem->setObjectName(QStringLiteral("TrafficLogItem"));
    connect(TrafficLogItem, &QAction::triggered, this, [this] { showTrafficLog(); });
}

void TFKsb::describePorts()
{
    const std::vector<std::string> ports = qvoksb::portDescriptions(16);
    for (int n = 1; n <= 16; ++n) {
        const QString tip = QStringLiteral("COM%1: %2")
                                .arg(n)
                                .arg(QString::fromStdString(ports[static_cast<size_t>(n - 1)]));
        COM[n - 1]->setStatusTip(tip);
        // The description names the device a link leads to, whatever its name.
        COM[n - 1]->setToolTip(Messages::plainToolTip(tip));
    }
}

void TFKsb::choosePort()
{
    PortChooser dialog(FComPort, this, ListPorts);
    if (dialog.exec() != QDialog::Accepted)
        return;
    COM16Click(COM[dialog.chosenPort() - 1]);
    describePorts();
}

void TFKsb::showTrafficLog()
{
    // No parent: the exchange window blocks the main window only, and the log stays usable
    // beside it.
    if (!TrafficLog)
        TrafficLog = std::make_unique<TrafficLogWindow>();
    TrafficLog->show();
    TrafficLog->raise();
    TrafficLog->activateWindow();
}
