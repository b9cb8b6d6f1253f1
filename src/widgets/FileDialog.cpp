#include "FileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

std::function<bool(FileDialog &)> FileDialog::executeHook;

FileDialog::FileDialog(Kind k, QString title, QString filterName, QString filterPattern,
                       QString defaultExt)
    : kind(k), Title(std::move(title)), FilterName(std::move(filterName)),
      FilterPattern(std::move(filterPattern)), DefaultExt(std::move(defaultExt))
{
}

bool FileDialog::Execute(QWidget *parent)
{
    if (executeHook)
        return executeHook(*this);
    QFileDialog dialog(parent, Title);
    dialog.setAcceptMode(kind == Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // The file to open need not exist: opening a missing file is reported by the loader.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(FilterName + QStringLiteral(" (") + FilterPattern + QStringLiteral(")"));
    dialog.setDefaultSuffix(DefaultExt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true); // the program asks itself
    dialog.setSizeGripEnabled(true);
    if (!FileName.isEmpty()) {
        const QFileInfo last(FileName);
        dialog.setDirectory(last.absolutePath());
        dialog.selectFile(last.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = dialog.selectedFiles().constFirst();
    return true;
}
