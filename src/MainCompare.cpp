// Comparing before writing and verifying after: the window's settings beside the unit's or a
// file's, the check of what the unit cannot carry before a write, and the read-back after it.
#include "Main.h"

#include "DifferenceWindow.h"
#include "Messages.h"
#include "Rs232.h"
#include "core/settings/settings_diff.h"

#include <QFileInfo>
#include <QLabel>
#include <QMenu>

using qvoksb::SettingsSet;

namespace
{

// After the user's choice in a difference window: what the main window does.
void act(TFKsb &w, DifferenceWindow::Choice choice, const SettingsSet &other,
         const QString &fileName)
{
    switch (choice) {
    case DifferenceWindow::Choice::WriteToUnit:
        w.writeConfiguration();
        break;
    case DifferenceWindow::Choice::LoadFromUnit:
        w.applySettings(other);
        w.setOriginUnit();
        break;
    case DifferenceWindow::Choice::LoadFile:
        w.applySettings(other);
        w.StaticText1->setText(fileName);
        w.setOriginFile(fileName);
        break;
    case DifferenceWindow::Choice::Close:
        break;
    }
}

void showDifferences(TFKsb &w, DifferenceWindow::Source source, const SettingsSet &first,
                     const SettingsSet &other, const QString &fileName = {})
{
    DifferenceWindow::Choice choice;
    {
        DifferenceWindow window(&w, source, first, other, fileName);
        choice = w.AnswerDifferences ? w.AnswerDifferences(window) : window.ask();
    }
    act(w, choice, other, fileName);
}

} // namespace

void TFKsb::createCompareCommands()
{
    VerifyWrite = MenuItem3->addAction(QStringLiteral("Проверять запись чтением"));
    VerifyWrite->setObjectName(QStringLiteral("VerifyWrite"));
    VerifyWrite->setCheckable(true);

    CompareUnit = addServiceCommand(QStringLiteral("Сравнить с блоком ..."));
    CompareUnit->setObjectName(QStringLiteral("CompareUnit"));
    connect(CompareUnit, &QAction::triggered, this, [this] { compareWithUnit(); });
    CompareFile = addServiceCommand(QStringLiteral("Сравнить с файлом ..."));
    CompareFile->setObjectName(QStringLiteral("CompareFile"));
    connect(CompareFile, &QAction::triggered, this, [this] { compareWithFile(); });
}

bool TFKsb::confirmUnitCanCarry()
{
    const SettingsSet set = currentSettings();
    const std::vector<qvoksb::DifferenceRow> rows = qvoksb::valuesTheUnitCannotCarry(set);
    if (rows.empty())
        return true;
    QString text = QStringLiteral("Блок получит не те значения, что показаны в окне:\r\n");
    for (const qvoksb::DifferenceRow &r : rows) {
        const bool noItem =
            qvoksb::rowOf(r.setting).kind == qvoksb::Kind::Choice && set.value(r.setting) < 0;
        text += QStringLiteral("\r\n") + QString::fromStdString(r.page + ", " + r.caption + ": ") +
                (noItem ? QStringLiteral("пункт не выбран")
                        : QString::fromStdString(r.left) + QStringLiteral(" будет записано как ") +
                              QString::fromStdString(r.right));
    }
    text += QStringLiteral("\r\n\r\nЗаписать всё равно?");
    return Messages::Confirm(this, text);
}

void TFKsb::writeConfiguration()
{
    if (!confirmUnitCanCarry())
        return;
    const auto result = StartExchange(TFrs232::WriteConfiguration, [this](TFrs232 &x) {
        x.VerifyWrite = VerifyWrite->isChecked();
    });
    // Only a complete read-back is shown: never values of blocks that did not arrive. A write
    // the unit refused part-way shows what the unit holds now.
    if (!result || !result->verify || !result->settings || !result->written)
        return;
    const bool refusedWrite =
        result->outcome == qvoksb::exchange::Outcome::Refused && !result->failedInReadBack;
    if (!result->differences.empty() || refusedWrite)
        showDifferences(*this, DifferenceWindow::Source::Verification, *result->written,
                        *result->settings);
}

void TFKsb::compareWithUnit()
{
    const auto result = StartExchange(TFrs232::CompareConfiguration);
    // An aborted, silent or refusing exchange compares nothing.
    if (result && result->settings)
        showDifferences(*this, DifferenceWindow::Source::Unit, currentSettings(),
                        *result->settings);
}

void TFKsb::compareWithFile()
{
    if (!OpenDialog1.Execute(this))
        return;
    if (const auto file = openConfigFile(OpenDialog1.FileName))
        showDifferences(*this, DifferenceWindow::Source::File, currentSettings(), *file,
                        QFileInfo(OpenDialog1.FileName).fileName());
}
