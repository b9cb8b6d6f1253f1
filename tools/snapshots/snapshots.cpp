// Renders the main window on each of its seven pages, the splash, the exchange window (also
// refusing a write, and with its second lines), the characteristics window, the difference
// window, the port chooser and the exchange log to PNG files, so that the layout can be looked at
// without a display: qvoksb-snapshots <output folder>.
#include "About.h"
#include "CharacteristicsPlot.h"
#include "CharacteristicsWindow.h"
#include "DifferenceWindow.h"
#include "Main.h"
#include "PortChooser.h"
#include "Rs232.h"
#include "TrafficLog.h"
#include "core/modbus/modbus_rtu.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTranslator>

#include <algorithm>
#include <array>
#include <cstdio>

namespace
{

// Writes the picture and names the file; false, with the reason, when it cannot be written.
template <typename Picture> bool saved(const Picture &picture, const QString &file)
{
    if (!picture.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Конфигуратор KSB-7"));
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("snapshots");
    QDir().mkpath(out);

    TFKsb window;
    FKsb = &window;
    window.show();
    for (int i = 0; i < window.PageControl1->count(); ++i) {
        window.PageControl1->setCurrentIndex(i);
        QApplication::processEvents();
        const QString file = QStringLiteral("%1/page%2-%3.png")
                                 .arg(out)
                                 .arg(i + 1)
                                 .arg(window.PageControl1->page(i)->objectName());
        if (!saved(window.grab(), file))
            return 1;
    }

    // The splash as the screen shows it: the picture cut to its outline.
    TFAbout splash(&window);
    splash.show();
    QApplication::processEvents();
    QImage shaped(splash.size(), QImage::Format_ARGB32);
    shaped.fill(Qt::transparent);
    const QImage grabbed = splash.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QRegion outline = splash.mask();
    for (int y = 0; y < shaped.height(); ++y)
        for (int x = 0; x < shaped.width(); ++x)
            if (outline.contains(QPoint(x, y)))
                shaped.setPixel(x, y, grabbed.pixel(x, y));
    const QString file = out + QStringLiteral("/splash.png");
    if (!saved(shaped, file))
        return 1;
    // The exchange window in the middle of writing, as it stands over the main window.
    TFrs232 exchange(&window);
    exchange.Label1->setText(QStringLiteral("Запись уставок МТЗ ..."));
    exchange.ProgressBar1->setValue(4);
    const QString exchangeFile = out + QStringLiteral("/exchange.png");
    if (!saved(exchange.grab(), exchangeFile))
        return 1;

    // The characteristics window as it opens on a fresh start, on the earth tab.
    window.findChild<QAction *>(QStringLiteral("CharacteristicsCommand"))->trigger();
    if (auto *fresh = window.findChild<CharacteristicsWindow *>()) {
        fresh->ProtectionTabs->setCurrentIndex(1);
        QApplication::processEvents();
        const QString earthFile = out + QStringLiteral("/characteristics-earth.png");
        if (!saved(fresh->grab(), earthFile))
            return 1;
        fresh->ProtectionTabs->setCurrentIndex(0);
    }

    // The characteristics of a typical feeder: 200 A CTs, IEC standard inverse from 100 %, a
    // cut-off at 600 % after 0.1 s and the overload alarm at 80 %.
    window.RxSpinEdit2->setValue(200);
    window.SetListIndex(window.ComboBox3, 10);
    window.RxSpinEdit8->setValue(100);
    window.RxSpinEdit10->setValue(3);
    window.RxSpinEdit11->setValue(600);
    window.RxSpinEdit12->setValue(100);
    window.CheckBox21->setChecked(true);
    window.RxSpinEdit13->setValue(80);
    window.RxSpinEdit14->setValue(10000);
    window.findChild<QAction *>(QStringLiteral("CharacteristicsCommand"))->trigger();
    auto *curves = window.findChild<CharacteristicsWindow *>();
    if (curves) {
        // The pointer at 500 A, half-way up the plot, for the read-out under it.
        QApplication::processEvents();
        const CharacteristicsLayout l =
            characteristicsLayout(curves->Plot->rect(), curves->Plot->data());
        const QPointF at(l.xOf(500), l.area.center().y());
        QMouseEvent move(QEvent::MouseMove, at, curves->Plot->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(curves->Plot, &move);
    }
    QApplication::processEvents();
    const QString curvesFile = out + QStringLiteral("/characteristics.png");
    if (!saved(curves ? curves->grab() : QPixmap(), curvesFile))
        return 1;
    // The same at the window's smallest size: every text of the plot still whole.
    curves->resize(772, 440);
    QApplication::processEvents();
    const QString smallestFile = out + QStringLiteral("/characteristics-smallest.png");
    if (!saved(curves->grab(), smallestFile))
        return 1;

    // A write the unit refused part-way, and the difference window of a compare.
    TFrs232 refused(&window);
    refused.ProgressBar1->setValue(4);
    refused.Label1->setText(
        QStringLiteral("ОШИБКА: Блок отклонил запрос: недопустимое значение данных (код 3)\r\n"
                       "Запрос к регистрам 384–394\r\nБлок хранит частично записанную "
                       "конфигурацию!"));
    refused.VaComm1Error(0); // the line error without a text of its own: the label turns red
    qvoksb::SettingsSet unit = window.currentSettings();
    unit.setValue(qvoksb::Setting::RxSpinEdit8, 120);
    unit.setValue(qvoksb::Setting::ComboBox3, 2);
    unit.setValue(qvoksb::Setting::RxSpinEdit23, 700);
    DifferenceWindow differences(&window, DifferenceWindow::Source::Unit, window.currentSettings(),
                                 unit);
    differences.show();
    QApplication::processEvents();
    if (!saved(refused.grab(), out + QStringLiteral("/refused.png")) ||
        !saved(differences.grab(), out + QStringLiteral("/differences.png")))
        return 1;
    // The exchange window's second lines: a unit that does not answer, a port that will not open.
    exchange.Label1->setText(
        QStringLiteral("Запись параметров КОНФИГУРАЦИИ ...\nБлок не отвечает: "
                       "проверьте кабель, порт, адрес блока (hex) 1 и DTR/RTS"));
    exchange.ProgressBar1->setValue(1);
    const QString silentFile = out + QStringLiteral("/exchange-no-answer.png");
    TFrs232 failed(&window);
    failed.Label1->setText(QStringLiteral("Порт: СОМ3\r\nзанят другим приложением или недоступен!\n"
                                          "Нет прав на порт: нужна группа dialout"));
    QPalette red = failed.Label1->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    failed.Label1->setPalette(red);
    const QString failedFile = out + QStringLiteral("/exchange-port-failed.png");
    if (!saved(exchange.grab(), silentFile) || !saved(failed.grab(), failedFile))
        return 1;

    // The port chooser with an adapter and a built-in port, as a machine with both lists them.
    const auto adapterAndBuiltIn = [] {
        return QList<PortListing>{
            {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"),
             QStringLiteral("FTDI"), QStringLiteral("A1B2C3"),
             QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0")},
            {QStringLiteral("/dev/ttyS0"), QString(), QString(), QString(), QString()}};
    };
    PortChooser chooser(3, &window, adapterAndBuiltIn);
    chooser.Ports->selectRow(0);
    chooser.show();
    QApplication::processEvents();
    // The exchange log after the first step of a write and a refused one.
    TrafficLogWindow log;
    log.show();
    log.note(QStringLiteral("порт COM1 открыт: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-"
                            "if00-port0, 9600 8N1, DTR выкл., RTS выкл."));
    std::array<uint8_t, 256> frame{};
    const uint16_t values[] = {1600, 100, 100};
    const size_t length = qvoksb::modbus::buildWriteMultiple(frame, 1, 257, values);
    const std::span<const uint8_t> request(frame.data(), length);
    log.sent(request);
    log.received(request, request.first(6), QTime::currentTime());
    std::array<uint8_t, 8> echo{};
    std::copy_n(frame.begin(), 6, echo.begin());
    qvoksb::modbus::appendCrc(echo, 6);
    log.received(request, echo, QTime::currentTime());
    std::array<uint8_t, 5> refusal = {1, 0x90, 3, 0, 0};
    qvoksb::modbus::appendCrc(refusal, 3);
    log.sent(request);
    log.received(request, refusal, QTime::currentTime());
    log.note(QStringLiteral("порт COM1 закрыт"));
    log.flush();
    QApplication::processEvents();
    if (!saved(chooser.grab(), out + QStringLiteral("/port-chooser.png")) ||
        !saved(log.grab(), out + QStringLiteral("/exchange-log.png")))
        return 1;
    FKsb = nullptr;
    return 0;
}
