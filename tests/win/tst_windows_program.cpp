// The program built for Windows, run under Wine by tools/wine-tests.sh on the offscreen platform:
// the main window with its pictures, the port chooser on the system's COM ports, a report saved
// into a folder with a Russian name, and the configuration written through COM1 to the simulated
// unit the runner keeps on the pseudo-terminal behind it.
#include "Main.h"
#include "PortChooser.h"
#include "Rs232.h"
#include "SettingsReport.h"
#include "core/pty_pair_win.h"
#include "core/modbus/modbus_rtu.h"
#include "testsupport.h"
#include "unit_image.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <windows.h>

#include <array>
#include <map>
#include <vector>

namespace
{

// Reads count registers from first of unit 1 through COM1 with plain Win32 calls: the unit's
// own answer, past the program's exchange code.
bool readUnit(uint16_t first, uint16_t count, std::map<int, uint16_t> *into, QString *why)
{
    const HANDLE port = serial_test::openRawComPort(1, 100, 500);
    if (port == INVALID_HANDLE_VALUE) {
        *why = QStringLiteral("COM1 does not open: %1").arg(GetLastError());
        return false;
    }
    std::array<uint8_t, 8> request{};
    qvoksb::modbus::buildRequest(request, 1, 4, first, count);
    DWORD n = 0;
    WriteFile(port, request.data(), DWORD(request.size()), &n, nullptr);
    std::vector<uint8_t> reply;
    const size_t want = qvoksb::modbus::readReplyBytes(count);
    for (int tries = 0; tries < 40 && reply.size() < want; ++tries) {
        uint8_t buf[256];
        if (ReadFile(port, buf, sizeof buf, &n, nullptr) && n > 0)
            reply.insert(reply.end(), buf, buf + n);
    }
    CloseHandle(port);
    std::vector<uint16_t> regs(count);
    if (!qvoksb::modbus::replyCrcOk(reply) || !qvoksb::modbus::readRegisters(reply, regs)) {
        *why = QStringLiteral("no readable reply for %1 (%2 bytes)").arg(first).arg(reply.size());
        return false;
    }
    for (uint16_t k = 0; k < count; ++k)
        (*into)[first + k] = regs[k];
    return true;
}

} // namespace

class TestWindowsProgram : public QObject
{
    Q_OBJECT

    OwnSettingsFolder home_; // QvoKsb.ini goes to %APPDATA%, of this run's own
    std::unique_ptr<MainWindowUnderTest> w_;
    MessageBoxes boxes_;

private slots:
    void init()
    {
        QVERIFY(home_.settingsHome.isValid());
        boxes_.clear();
        w_ = std::make_unique<MainWindowUnderTest>();
    }
    void cleanup() { w_.reset(); }

    void theToolBarButtonsShowTheirPictures()
    {
        // A build without Qt's SVG module carries them as PNG files rendered at build time.
        for (QToolButton *b : {w_->SILoad, w_->SISave, w_->SIWrite, w_->SIRead}) {
            const QImage image = b->icon().pixmap(QSize(20, 18)).toImage();
            QVERIFY2(!image.isNull(), qPrintable(b->objectName()));
            int painted = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    painted += qAlpha(image.pixel(x, y)) > 0;
            QVERIFY2(painted > image.width() * image.height() / 10, qPrintable(b->objectName()));
        }
    }

    void thePortChooserPicksAComPortPresentByItsNumber()
    {
        // The runner maps COM1 ... COM17 in Wine.
        PortChooser d(1, w_.get());
        QList<QTableWidgetItem *> found =
            d.Ports->findItems(QStringLiteral("COM5"), Qt::MatchExactly);
        QCOMPARE(found.size(), qsizetype(1));
        QVERIFY(!d.Path->isVisibleTo(&d));
        d.Ports->selectRow(found.first()->row());
        QCOMPARE(d.Number->value(), 5);
        d.accept();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.linkTarget(), QStringLiteral("COM5"));
        QVERIFY(boxes_.shown.isEmpty());
        // The port menu's hint names what the system has as COM5, not a device of another system.
        const QString hint = w_->COM[4]->statusTip();
        QVERIFY2(hint.startsWith(QStringLiteral("COM5: ")) &&
                     !hint.contains(QStringLiteral("встроенный порт")) &&
                     !hint.contains(QStringLiteral("нет в системе")),
                 qPrintable(hint));
    }

    void aPortBeyondCom16IsRefusedWithTheWayToRenumberIt()
    {
        PortChooser d(2, w_.get(), [] {
            return QList<PortListing>{{QStringLiteral("COM23"), QStringLiteral("USB Serial Port"),
                                       QStringLiteral("FTDI"), QString(), QString()}};
        });
        d.Ports->selectRow(0);
        d.accept();
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(boxes_.shown.size(), qsizetype(1));
        QVERIFY2(boxes_.shown.first().second.contains(QStringLiteral("диспетчере устройств")),
                 qPrintable(boxes_.shown.first().second));
    }

    void aReportIsSavedIntoAFolderWithARussianName()
    {
        const QString folder = home_.settingsHome.filePath(QStringLiteral("Отчёты КСБ-7"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/уставки.pdf");
        QString error;
        QVERIFY2(saveReportPdf(file,
                               settingsReport(w_->currentSettings(), w_->reportHeader(),
                                              QDateTime::currentDateTime()),
                               &error),
                 qPrintable(error));
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.read(5), QByteArray("%PDF-"));
    }

    void theFactorySettingsWrittenThroughCom1AreWhatTheUnitHolds()
    {
        if (qEnvironmentVariableIsEmpty("QVOKSB_TEST_UNIT_ON_COM1"))
            QSKIP("no simulated unit on COM1: run under tools/wine-tests.sh");
        QCOMPARE(w_->FComPort, 1);
        const std::map<int, uint16_t> expected = unitImageOf(*w_);
        w_->SIWrite->click(); // the modal exchange window runs to its end
        QVERIFY(Frs232 == nullptr);
        QVERIFY2(boxes_.shown.isEmpty(), qPrintable(boxes_.shown.value(0).second));
        std::map<int, uint16_t> held;
        const std::pair<uint16_t, uint16_t> blocks[] = {{257, 3},  {267, 1}, {277, 6}, {384, 11},
                                                        {395, 11}, {262, 5}, {269, 4}};
        for (auto [first, count] : blocks) {
            QString why;
            QVERIFY2(readUnit(first, count, &held, &why), qPrintable(why));
        }
        QStringList wrong;
        for (const auto &[reg, value] : expected)
            if (held.at(reg) != value)
                wrong << QStringLiteral("%1: unit %2, factory %3")
                             .arg(reg)
                             .arg(held.at(reg))
                             .arg(value);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }
};

QTEST_MAIN(TestWindowsProgram)
#include "tst_windows_program.moc"
