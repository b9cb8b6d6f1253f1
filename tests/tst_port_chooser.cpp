// The port chooser: the listed ports (a list of the test's own), a pseudo-terminal typed as a
// path and linked as a port the exchange then reaches the simulated unit through, and bad input
// that leaves the port folder as it was.
#include "PortChooser.h"
#include "exchange_harness.h"

#include <QApplication>
#include <QFile>
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

    void schedule()
    {
        QTimer::singleShot(0, [this] {
            auto *d = qobject_cast<PortChooser *>(QApplication::activeModalWidget());
            QVERIFY(d);
            d->Path->setText(path);
            d->Number->setValue(number);
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
        DialogUser user{terminal, 5};
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
        DialogUser user{path, 1};
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
};

QTEST_MAIN(TestPortChooser)
#include "tst_port_chooser.moc"
