#include "PortChooser.h"

#include "FileNames.h"
#include "Messages.h"
#include "core/link/port_assignment.h"
#include "core/link/port_directory.h"
#include "core/link/port_list.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

PortChooser::PortChooser(int portNum, QWidget *parent, const Lister &lister) : QDialog(parent)
{
    setObjectName(QStringLiteral("PortChooser"));
    setWindowTitle(QStringLiteral("Выбор порта"));
    listed_ = lister ? lister() : systemPorts();
    // Without a port folder (Windows) the system numbers the ports: a port is picked by its own
    // number, and there is neither a path to type nor a link to make.
    linkFolder_ = !qvoksb::portDirectory().empty();

    Ports = new QTableWidget(int(listed_.size()), 5, this);
    Ports->setObjectName(QStringLiteral("Ports"));
    Ports->setAccessibleName(QStringLiteral("Последовательные порты"));
    Ports->setHorizontalHeaderLabels(
        {QStringLiteral("Устройство"), QStringLiteral("Описание"), QStringLiteral("Изготовитель"),
         QStringLiteral("Серийный номер"), QStringLiteral("Постоянное имя")});
    Ports->setSelectionBehavior(QAbstractItemView::SelectRows);
    Ports->setSelectionMode(QAbstractItemView::SingleSelection);
    Ports->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Ports->verticalHeader()->hide();
    Ports->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < listed_.size(); ++row) {
        const PortListing &p = listed_.at(row);
        const QString cells[] = {p.device, p.description, p.maker, p.serialNumber, p.stableName};
        for (int col = 0; col < 5; ++col)
            Ports->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    Ports->setColumnHidden(4, !linkFolder_);
    Ports->resizeColumnsToContents();

    auto *none =
        new QLabel(QStringLiteral("Последовательные порты не найдены: подключите "
                                  "адаптер и откройте окно снова%1.")
                       .arg(linkFolder_ ? QStringLiteral(", или укажите путь") : QString()),
                   this);
    none->setWordWrap(true);
    none->setVisible(listed_.isEmpty());

    Path = new QLineEdit(this);
    Path->setObjectName(QStringLiteral("Path"));
    Path->setPlaceholderText(QStringLiteral("/dev/ttyUSB0, /dev/pts/3 ..."));
    Number = new QSpinBox(this);
    Number->setObjectName(QStringLiteral("Number"));
    Number->setRange(1, 16);
    Number->setValue(portNum);
    Number->setPrefix(QStringLiteral("COM"));

    // A picked row fills the path with the name that survives replugging, when there is one.
    connect(Ports, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = Ports->currentRow();
        if (row < 0 || row >= listed_.size())
            return;
        const PortListing &p = listed_.at(row);
        Path->setText(p.stableName.isEmpty() ? p.device : p.stableName);
        const int n = qvoksb::comPortNumber(p.device.toStdString());
        if (!linkFolder_ && n >= Number->minimum() && n <= Number->maximum())
            Number->setValue(n);
    });
    connect(Ports, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Устройство:"), Path);
    form->addRow(QStringLiteral("Номер порта:"), Number);
    form->setRowVisible(Path, linkFolder_);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PortChooser::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PortChooser::reject);

    GatewayBox = new QGroupBox(QStringLiteral("Сетевой шлюз"), this);
    GatewayBox->setObjectName(QStringLiteral("GatewayBox"));
    GatewayBox->setCheckable(true);
    GatewayBox->setChecked(false);
    GatewayHost = new QLineEdit(GatewayBox);
    GatewayHost->setObjectName(QStringLiteral("GatewayHost"));
    GatewayHost->setPlaceholderText(QStringLiteral("192.168.1.50, gw-feeder7, fe80::1 ..."));
    GatewayPort = new QSpinBox(GatewayBox);
    GatewayPort->setObjectName(QStringLiteral("GatewayPort"));
    GatewayPort->setRange(1, 65535);
    GatewayPort->setValue(qvoksb::modbus::ModbusTcpPort);
    GatewayMode = new QComboBox(GatewayBox);
    GatewayMode->setObjectName(QStringLiteral("GatewayMode"));
    // In the order of qvoksb::GatewayMode.
    for (const auto mode : {qvoksb::GatewayMode::RtuOverTcp, qvoksb::GatewayMode::ModbusTcp}) {
        const std::string_view name = qvoksb::gatewayModeName(mode);
        GatewayMode->addItem(QString::fromUtf8(name.data(), qsizetype(name.size())));
    }
    auto *gatewayForm = new QFormLayout(GatewayBox);
    gatewayForm->addRow(QStringLiteral("Узел:"), GatewayHost);
    gatewayForm->addRow(QStringLiteral("Порт TCP:"), GatewayPort);
    gatewayForm->addRow(QStringLiteral("Режим:"), GatewayMode);
    // The serial port's part means nothing while the gateway is chosen.
    connect(GatewayBox, &QGroupBox::toggled, this, [this](bool gateway) {
        Ports->setEnabled(!gateway);
        Path->setEnabled(!gateway);
        Number->setEnabled(!gateway);
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Ports, 1);
    layout->addWidget(none);
    layout->addLayout(form);
    layout->addWidget(GatewayBox);
    layout->addWidget(buttons);
    resize(720, 320);
}

int PortChooser::chosenPort() const
{
    return Number->value();
}

void PortChooser::setGateway(const std::optional<qvoksb::Gateway> &gateway, bool chosen)
{
    if (gateway) {
        GatewayHost->setText(QString::fromStdString(gateway->host));
        GatewayPort->setValue(gateway->port);
        GatewayMode->setCurrentIndex(gateway->mode == qvoksb::GatewayMode::ModbusTcp ? 1 : 0);
    }
    GatewayBox->setChecked(gateway && chosen);
}

bool PortChooser::acceptGateway()
{
    qvoksb::Gateway gateway;
    gateway.host = GatewayHost->text().trimmed().toStdString();
    // An IPv6 address may come with the brackets of a URL.
    if (gateway.host.size() > 2 && gateway.host.front() == '[' && gateway.host.back() == ']')
        gateway.host = gateway.host.substr(1, gateway.host.size() - 2);
    gateway.port = GatewayPort->value();
    gateway.mode = GatewayMode->currentIndex() == 1 ? qvoksb::GatewayMode::ModbusTcp
                                                    : qvoksb::GatewayMode::RtuOverTcp;
    if (const std::string problem = qvoksb::gatewayProblem(gateway); !problem.empty()) {
        Messages::Error(this, QString::fromStdString(problem));
        return false;
    }
    chosenGateway_ = gateway;
    return true;
}

void PortChooser::accept()
{
    chosenGateway_.reset();
    if (GatewayBox->isChecked()) {
        if (acceptGateway())
            QDialog::accept();
        return;
    }
    if (!linkFolder_) {
        const int row = Ports->currentRow();
        if (row >= 0 && row < listed_.size()) {
            const int n = qvoksb::comPortNumber(listed_.at(row).device.toStdString());
            if (n < Number->minimum() || n > Number->maximum()) {
                Messages::Error(this, QStringLiteral("Программа работает с портами COM1 ... COM16. "
                                                     "Назначьте адаптеру один из этих номеров в "
                                                     "диспетчере устройств (свойства порта, "
                                                     "«Дополнительно»)."));
                return;
            }
        }
        const std::string port = qvoksb::portEntryName(chosenPort());
        if (const std::string problem = qvoksb::terminalProblem(port); !problem.empty()) {
            Messages::Error(this, QString::fromStdString(problem));
            return;
        }
        linkTarget_ = QString::fromStdString(port);
        QDialog::accept();
        return;
    }
    const QString typed = Path->text().trimmed();
    const std::string path =
        typed.isEmpty() ? std::string() : coreFileName(QFileInfo(typed).absoluteFilePath());
    // The device may have gone since the list was read (an adapter pulled out).
    if (const std::string problem = qvoksb::terminalProblem(path); !problem.empty()) {
        Messages::Error(this, QString::fromStdString(problem));
        return;
    }
    const std::string stable = qvoksb::stableDeviceName(path);
    const std::string target = stable.empty() ? path : stable;
    if (const std::string error = qvoksb::assignPortEntry(chosenPort(), target); !error.empty()) {
        Messages::Error(this, QString::fromStdString(error));
        return;
    }
    linkTarget_ = fromCoreFileName(target);
    if (!qvoksb::deviceAccessible(target))
        Messages::Information(this,
                              QStringLiteral("Нет доступа к %1.\n%2")
                                  .arg(linkTarget_, QString::fromUtf8(qvoksb::serialAccessHint)));
    QDialog::accept();
}
