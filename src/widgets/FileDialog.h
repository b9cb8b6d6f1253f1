#pragma once
// A file open or save dialog that keeps its settings and the last file name chosen between uses.
#include <QString>
#include <functional>

class QWidget;

class FileDialog
{
public:
    enum Kind { Open, Save };

    FileDialog(Kind kind, QString title, QString filterName, QString filterPattern,
               QString defaultExt);

    // Shows the dialog; true when the user chose a file, which is then in FileName.
    bool Execute(QWidget *parent);

    QString FileName;
    const Kind kind;
    const QString Title;
    const QString FilterName;
    const QString FilterPattern;
    const QString DefaultExt;

    // Tests replace the interactive dialog: the hook plays the user and returns the answer.
    static std::function<bool(FileDialog &)> executeHook;
};
