// The main window's commands in "Сервис" that open windows of their own on its settings: the
// characteristics, the settings report and the CSV export, the journal of work. The windows are
// handed the settings and what else they show; they know nothing of this window.
#include "Main.h"

#include "BoardWindow.h"
#include "CharacteristicsSettings.h"
#include "CharacteristicsWindow.h"
#include "FileNames.h"
#include "JournalWindow.h"
#include "ReportCommands.h"
#include "WorkJournal.h"
#include "core/records/journal.h"

#include <QAction>
#include <QLabel>

namespace characteristics = qvoksb::characteristics;

void TFKsb::createServiceCommands()
{
    QAction *curves = addServiceCommand(QStringLiteral("Характеристики срабатывания"));
    curves->setObjectName(QStringLiteral("CharacteristicsCommand"));
    connect(curves, &QAction::triggered, this, [this] { showCharacteristics(); });

    QAction *report = addServiceCommand(QStringLiteral("Отчёт о настройках ..."));
    report->setObjectName(QStringLiteral("ReportCommand"));
    connect(report, &QAction::triggered, this,
            [this] { showSettingsReport(currentSettings(), reportHeader(), ReportDialog, this); });
    QAction *csv = addServiceCommand(QStringLiteral("Экспорт в CSV ..."));
    csv->setObjectName(QStringLiteral("CsvCommand"));
    connect(csv, &QAction::triggered, this,
            [this] { exportSettingsCsv(currentSettings(), Origin, CsvDialog, this); });

    QAction *board = addServiceCommand(QStringLiteral("Блоки на линии"));
    board->setObjectName(QStringLiteral("BoardCommand"));
    connect(board, &QAction::triggered, this, [this] { showBoard(); });

    QAction *journal = addServiceCommand(QStringLiteral("Журнал работ"));
    journal->setObjectName(QStringLiteral("JournalCommand"));
    connect(journal, &QAction::triggered, this, [this] { showJournal(); });
}

ReportHeader TFKsb::reportHeader() const
{
    ReportHeader h;
    h.origin = Origin;
    h.addressCaption = Label1->text().toStdString();
    h.addressText = RxSpinEdit26->text().toStdString();
    h.portText = gatewayChosen()                               ? currentLinkName()
                 : FComPort >= 1 && FComPort <= int(COM.size())
                     ? COM[std::size_t(FComPort - 1)]->text().remove(QLatin1Char('&')).toStdString()
                     : std::string("не выбран");
    // The CT secondaries and the tolerance chosen in the characteristics window.
    h.phaseSecondaryA = storedSecondaryA(characteristics::Protection::Phases);
    h.earthSecondaryA = storedSecondaryA(characteristics::Protection::Earth);
    h.tolerance = storedTolerance();
    return h;
}

void TFKsb::showCharacteristics()
{
    // A closed window is hidden until its deletion; it does not count as open.
    CharacteristicsWindow *open = nullptr;
    for (auto *w : findChildren<CharacteristicsWindow *>(QString(), Qt::FindDirectChildrenOnly))
        if (w->isVisible())
            open = w;
    if (!open) {
        open = new CharacteristicsWindow(currentSettings(), this);
        // The curves follow every change of the settings they are drawn from at once.
        followSettings(characteristicsInputs(), open,
                       [this, open] { open->setSettings(currentSettings()); });
        open->show();
    }
    if (open->isMinimized())
        open->showNormal();
    open->raise();
    open->activateWindow();
}

void TFKsb::showJournal()
{
    // The last exchange's record may still be on its way to the file.
    waitForJournal();
    auto *open = findChild<JournalWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!open)
        open = new JournalWindow(fromCoreFileName(qvoksb::journal::journalPath()), this);
    else
        open->reload();
    if (open->isMinimized())
        open->showNormal();
    open->show();
    open->raise();
    open->activateWindow();
}

void TFKsb::showBoard()
{
    auto *open = findChild<BoardWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!open)
        open = new BoardWindow(this);
    if (open->isMinimized())
        open->showNormal();
    open->show();
    open->raise();
    open->activateWindow();
}
