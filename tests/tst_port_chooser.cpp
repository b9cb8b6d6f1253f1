// The port chooser: the listed ports (a list of the test's own), a pseudo-terminal typed as a
// path and linked as a port the exchange then reaches the simulated unit through, and bad input
// that leaves the port folder as it was; a gateway on the network chosen there, kept in
// QvoKsb.ini, and the exchanges through it.
#include "MainPlacement.h"
#include "PortChooser.h"
#include "TrafficLog.h"
#include "core/records/journal.h"
#include "exchange_harness.h"
#include "gateway.h"
#include "loopback_listener.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace exchangetest;

namespace
{

const QList<PortListing> fakePorts = {
    {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"),
     QStringLiteral("A1B2C3"),
     QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0")},
    {QStringLiteral("/dev/ttyS0"), QString(), QString(), QString(), QString()},
};

// Plays the user in the dialog the main window opens: fills it, then presses OK (or, when the
// dialog refuses, Cancel). Returns whether OK was taken.
struct DialogUser {
    QString path;
    int number = 1;
    bool accepted = false;
    // When set, the user checks "Сетевой шлюз" and types this one instead.
    std::optional<qvoksb::Gateway> gateway;

    void schedule()
    {
        QTimer::singleShot(0, [this] {
            auto *d = qobject_cast<PortChooser *>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->Path->setText(path);
            d->Number->setValue(number);
            if (gateway) {
                d->GatewayBox->setChecked(true);
                d->GatewayHost->setText(QString::fromStdString(gateway->host));
                d->GatewayPort->setValue(gateway->port);
                d->GatewayMode->setCurrentIndex(gateway->mode == qvoksb::GatewayMode::ModbusTcp);
            }
            d->accept();
            accepted = d->result() == QDialog::Accepted;
            if (!accepted)
                d->reject();
        });
    }
};

} // namespace

class TestPortChooser : public QObject
{
    Q_OBJECT

    Harness h_;
    TFKsb &w() { return *h_.window; }

    QString entry(int n) const { return h_.portDir() + QStringLiteral("/COM%1").arg(n); }

private slots:
    void init()
    {
        std::string error;
        QVERIFY2(h_.start(&error), error.c_str());
        w().ListPorts = [] { return fakePorts; };
    }
    void cleanup() { h_.stop(); }

    void listsThePortsAndAPickedRowGivesItsStableName()
    {
        PortChooser d(4, &w(), [] { return fakePorts; });
        QCOMPARE(d.Ports->rowCount(), 2);
        QCOMPARE(d.Ports->item(0, 1)->text(), QStringLiteral("FT232R USB UART"));
        QCOMPARE(d.Ports->item(0, 2)->text(), QStringLiteral("FTDI"));
        QCOMPARE(d.Ports->item(0, 3)->text(), QStringLiteral("A1B2C3"));
        QCOMPARE(d.Number->value(), 4);
        d.Ports->selectRow(0);
        QCOMPARE(d.Path->text(), fakePorts[0].stableName);
        d.Ports->selectRow(1);
        QCOMPARE(d.Path->text(), QStringLiteral("/dev/ttyS0"));
    }

    void aTypedPseudoTerminalBecomesThePortAndTheExchangeReachesTheUnit()
    {
        const QString terminal = QString::fromStdString(h_.unit->devicePath());
        QVERIFY(terminal.startsWith(QStringLiteral("/dev/pts/")));
        DialogUser user{terminal, 5, false, {}};
        user.schedule();
        w().PortChooserItem->trigger();
        QVERIFY(user.accepted);
        QCOMPARE(QFileInfo(entry(5)).symLinkTarget(), terminal);
        QCOMPARE(w().FComPort, 5);
        QVERIFY(w().COM[4]->isChecked());
        QVERIFY(!w().COM[0]->isChecked());
        QCOMPARE(w().COM[4]->statusTip(), QStringLiteral("COM5: ") + terminal);
        QCOMPARE(w().COM[5]->statusTip(), QStringLiteral("COM6: встроенный порт /dev/ttyS5"));

        // The unit's own link goes, so only COM5 can reach it.
        QVERIFY(QFile::remove(entry(1)));
        h_.unit->setInputs(0x1);
        w().Button2->click();
        QCOMPARE(h_.frames().size(), size_t(1));
        QVERIFY(w().VrBlinkLedBit1->isLit()); // input 1, as the unit reported it
    }

    void badInputSaysWhyAndLeavesTheLinks_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("folderIsAFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing device") << QStringLiteral("/dev/ttyUSB-pulled-out") << false
                                        << QStringLiteral("Нет такого устройства: "
                                                          "/dev/ttyUSB-pulled-out");
        QTest::newRow("not a terminal") << QStringLiteral("/dev/null") << false
                                        << QStringLiteral("/dev/null — не последовательный "
                                                          "порт (не терминал)");
        QTest::newRow("a plain file") << QStringLiteral("FILE") << false << QStringLiteral("FILE");
        QTest::newRow("folder unwritable") << QString() << true << QString();
    }
    void badInputSaysWhyAndLeavesTheLinks()
    {
        QFETCH(QString, path);
        QFETCH(bool, folderIsAFile);
        QFETCH(QString, message);
        const QString terminal = QString::fromStdString(h_.unit->devicePath());
        const QString before = QFileInfo(entry(1)).symLinkTarget();
        QTemporaryDir scratch;
        const QString plainFile = scratch.filePath(QStringLiteral("plain"));
        QFile(plainFile).open(QIODevice::WriteOnly);
        if (path == QStringLiteral("FILE")) {
            path = plainFile;
            message = plainFile + QStringLiteral(" — не последовательный порт (не терминал)");
        }
        if (folderIsAFile) {
            // A port folder whose path runs through a file cannot be made, even by root.
            path = terminal;
            qputenv("QVOKSB_PORT_DIR", (plainFile + QStringLiteral("/ports")).toLocal8Bit());
            message = QStringLiteral("Путь к папке портов %1/ports занят файлом").arg(plainFile);
        }
        DialogUser user{path, 1, false, {}};
        user.schedule();
        w().PortChooserItem->trigger();
        qputenv("QVOKSB_PORT_DIR", h_.portDir().toLocal8Bit());
        QVERIFY(!user.accepted);
        QCOMPARE(h_.boxes.size(), 1);
        QCOMPARE(h_.boxes.first().first, Messages::Kind::Error);
        QCOMPARE(h_.boxes.first().second, message);
        QCOMPARE(QFileInfo(entry(1)).symLinkTarget(), before);
        QCOMPARE(
            QDir(h_.portDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
            QStringList{QStringLiteral("COM1")});
    }

    void aGatewayBecomesTheLinkOfEveryExchange_data()
    {
        QTest::addColumn<bool>("modbusTcp");
        QTest::newRow("RTU over TCP") << false;
        QTest::newRow("Modbus TCP") << true;
    }
    void aGatewayBecomesTheLinkOfEveryExchange()
    {
        QFETCH(bool, modbusTcp);
        ksb7sim::TcpGateway gateway(modbusTcp ? ksb7sim::TcpGateway::Mode::ModbusTcp
                                              : ksb7sim::TcpGateway::Mode::RtuOverTcp,
                                    [this] { return h_.unit->devicePath(); });
        std::string error;
        QVERIFY2(gateway.start(0, &error), error.c_str());
        const qvoksb::GatewayMode mode =
            modbusTcp ? qvoksb::GatewayMode::ModbusTcp : qvoksb::GatewayMode::RtuOverTcp;
        DialogUser user{QString(), 3, false, qvoksb::Gateway{"127.0.0.1", gateway.port(), mode}};
        user.schedule();
        w().PortChooserItem->trigger();
        QVERIFY(user.accepted);
        const QString name = QString::fromStdString(gateway.name());
        QVERIFY(w().GatewayItem->isVisible());
        QVERIFY(w().GatewayItem->isChecked());
        QCOMPARE(w().GatewayItem->text(), name);
        QVERIFY(!w().COM[0]->isChecked());
        QCOMPARE(w().FComPort, 1); // the port is left as it was

        // The unit's own link goes: only the gateway can reach it.
        QVERIFY(QFile::remove(entry(1)));
        w().TrafficLogItem->trigger();
        h_.unit->setReg(385, 120);
        w().SIRead->click();
        QCOMPARE(w().RxSpinEdit8->value(), 120);
        h_.unit->setInputs(0x1);
        w().Button2->click();
        QVERIFY(w().VrBlinkLedBit1->isLit());
        w().TrafficLog->flush();
        const QString log = w().TrafficLog->lines().join(QLatin1Char('\n'));
        QVERIFY2(log.contains(QStringLiteral("шлюз %1").arg(name)), qPrintable(log));
        QCOMPARE(log.contains(QStringLiteral("MBAP: транзакция 1,")), modbusTcp);

        const auto journal = qvoksb::journal::read(qvoksb::journal::journalPath());
        QVERIFY(journal.ok);
        QVERIFY(!journal.records.empty());
        QCOMPARE(QString::fromStdString(journal.records.back().port), name);

        // Kept in QvoKsb.ini: a window started afterwards has the gateway checked.
        w().FormStorage1->Save();
        TFKsb again;
        again.FormStorage1->Restore();
        QVERIFY(again.gatewayChosen());
        QCOMPARE(again.GatewayItem->text(), name);
        QCOMPARE(again.FGateway->mode, mode);
        // A port item checked clears the gateway's check, and the next exchange takes the port.
        w().COM[0]->trigger();
        QVERIFY(!w().GatewayItem->isChecked());
        QVERIFY(w().GatewayItem->isVisible());
    }

    void anUnreachableOrBadGatewayIsToldAndNothingIsSent()
    {
        // Bad input: the dialog says why and stays open; the menu stays as it was.
        DialogUser user{QString(), 1, false, qvoksb::Gateway{"  ", 502}};
        user.schedule();
        w().PortChooserItem->trigger();
        QVERIFY(!user.accepted);
        QCOMPARE(h_.boxes.size(), 1);
        QVERIFY2(h_.boxes.first().second.contains(QStringLiteral("не указан адрес шлюза")),
                 qPrintable(h_.boxes.first().second));
        QVERIFY(!w().GatewayItem->isVisible());
        QVERIFY(w().COM[0]->isChecked());

        // Nobody listens: the exchange window says so and keeps it until closed.
        LoopbackListener closed;
        w().FGateway = qvoksb::Gateway{"127.0.0.1", closed.closeListening()};
        w().showGatewayItem();
        w().GatewayItem->trigger();
        ExchangeLog log([](TFrs232 &x, const Look &l) {
            if (!l.red)
                return false;
            x.BExit->click();
            return true;
        });
        w().Button2->click();
        QVERIFY2(log.texts().join(QLatin1Char(' ')).contains(QStringLiteral("отказал в соединении")),
                 qPrintable(log.texts().join(QLatin1Char('|'))));
        QVERIFY(h_.frames().empty());
    }
};

QTEST_MAIN(TestPortChooser)
#include "tst_port_chooser.moc"
