// Program start: the application's title and language, the main window, the message loop.
#include "AccessibleWidgets.h"
#include "Main.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

#include <exception>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AccessibleWidgets::install();
    // The name shown in the task bar and on the titles of plain message boxes.
    QApplication::setApplicationName(QStringLiteral("Конфигуратор KSB-7"));

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
                              QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
