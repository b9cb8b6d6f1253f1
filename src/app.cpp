// Program start: the application's title and language, the main window, the message loop.
#include "AccessibleWidgets.h"
#include "Main.h"
#include "Pictures.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <exception>

// The program's icon for its windows and the task bar, the same picture as the desktop's menu
// entry shows.
static QIcon programIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(picture(QStringLiteral("icons/qvoksb"), QSize(size, size)));
    return icon;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AccessibleWidgets::install();
    // The name shown in the task bar and on the titles of plain message boxes.
    QApplication::setApplicationName(QStringLiteral("Конфигуратор KSB-7"));
    // Ties the windows to the menu entry installed as org.qvoksb.qvoksb.desktop.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.qvoksb.qvoksb"));
    QApplication::setWindowIcon(programIcon());

    // Everything the user reads is Russian, the toolkit's own buttons and dialogs too.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QTranslator qtbase;
    if (qtbase.load(QStringLiteral("qtbase_ru"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtbase);

    try {
        TFKsb::StartupArguments = QApplication::arguments().mid(1);
        TFKsb window;
        FKsb = &window;
        window.ShowAtStart();
        const int rc = QApplication::exec();
        FKsb = nullptr;
        return rc;
    } catch (const std::exception &e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromUtf8(e.what()));
        return 1;
    }
}
