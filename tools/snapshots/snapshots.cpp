// Renders the main window on each of its seven pages, the splash, the exchange window (also
// refusing a write), the characteristics window and the difference window to PNG files, so that
// the layout can be looked at without a display: qvoksb-snapshots <output folder>.
#include "About.h"
#include "CharacteristicsPlot.h"
#include "CharacteristicsWindow.h"
#include "DifferenceWindow.h"
#include "Main.h"
#include "Rs232.h"

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
#include <QTranslator>

#include <cstdio>

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
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
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
    if (!shaped.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    }
    std::printf("%s\n", qPrintable(file));
    // The exchange window in the middle of writing, as it stands over the main window.
    TFrs232 exchange(&window);
    exchange.Label1->setText(QStringLiteral("Запись уставок МТЗ ..."));
    exchange.ProgressBar1->setValue(4);
    const QString exchangeFile = out + QStringLiteral("/exchange.png");
    if (!exchange.grab().save(exchangeFile)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(exchangeFile));
        return 1;
    }
    std::printf("%s\n", qPrintable(exchangeFile));

    // The characteristics window as it opens on a fresh start, on the earth tab.
    window.findChild<QAction *>(QStringLiteral("CharacteristicsCommand"))->trigger();
    if (auto *fresh = window.findChild<CharacteristicsWindow *>()) {
        fresh->ProtectionTabs->setCurrentIndex(1);
        QApplication::processEvents();
        const QString earthFile = out + QStringLiteral("/characteristics-earth.png");
        if (!fresh->grab().save(earthFile)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(earthFile));
            return 1;
        }
        std::printf("%s\n", qPrintable(earthFile));
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
    if (!curves || !curves->grab().save(curvesFile)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(curvesFile));
        return 1;
    }
    std::printf("%s\n", qPrintable(curvesFile));

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
    for (auto [widget, name] :
         {std::pair<QWidget *, const char *>{&refused, "refused"}, {&differences, "differences"}}) {
        const QString f = out + QStringLiteral("/%1.png").arg(QLatin1String(name));
        if (!widget->grab().save(f)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(f));
            return 1;
        }
        std::printf("%s\n", qPrintable(f));
    }
    FKsb = nullptr;
    return 0;
}
