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
#include <QActionGroup>
#include <QMenu>

void TFKsb::createPortCommands()
{
    // The gateway joins the ports' radio group: checking it unchecks the port, and a port
    // checked afterwards unchecks it.
    GatewayItem = MenuItem2->addAction(QString());
    GatewayItem->setObjectName(QStringLiteral("GatewayItem"));
    GatewayItem->setCheckable(true);
    if (QActionGroup *ports = COM[0]->actionGroup())
        ports->addAction(GatewayItem);
    connect(GatewayItem, &QAction::triggered, this, [this] { GatewayItemClick(); });
    showGatewayItem();

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
    dialog.setGateway(FGateway, gatewayChosen());
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.chosenGateway()) {
        FGateway = dialog.chosenGateway();
        showGatewayItem();
        GatewayItemClick();
        return;
    }
    COM16Click(COM[dialog.chosenPort() - 1]);
    describePorts();
}

void TFKsb::GatewayItemClick()
{
    // Like a port item: a click on the checked item keeps it checked.
    if (FGateway)
        GatewayItem->setChecked(true);
}

void TFKsb::showGatewayItem()
{
    GatewayItem->setVisible(FGateway.has_value());
    if (!FGateway) {
        GatewayItem->setChecked(false);
        return;
    }
    const QString name = QString::fromStdString(qvoksb::gatewayName(*FGateway));
    GatewayItem->setText(name);
    const std::string_view mode = qvoksb::gatewayModeName(FGateway->mode);
    const QString tip = QStringLiteral("Сетевой шлюз %1, %2")
                            .arg(name, QString::fromUtf8(mode.data(), qsizetype(mode.size())));
    GatewayItem->setStatusTip(tip);
    GatewayItem->setToolTip(tip);
}

bool TFKsb::gatewayChosen() const
{
    return FGateway && GatewayItem && GatewayItem->isChecked();
}

std::string TFKsb::currentLinkName() const
{
    return gatewayChosen() ? qvoksb::gatewayName(*FGateway) : "COM" + std::to_string(FComPort);
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
