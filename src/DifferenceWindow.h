#pragma once
// The difference window: the settings of the main window beside those of the unit or of a
// configuration file, one row per setting that differs (or per setting, on request), with the
// buttons that act on the comparison.
#include "core/settings/settings_diff.h"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QLabel;
class QTableWidget;

class DifferenceWindow : public QDialog
{
    Q_OBJECT
public:
    // What the other set is.
    enum class Source {
        Unit,         // read from the unit by a compare
        File,         // opened from a configuration file
        Verification, // read back after a write; the first set is what was written
    };
    // What the user chose.
    enum class Choice { Close, WriteToUnit, LoadFromUnit, LoadFile };

    DifferenceWindow(QWidget *parent, Source source, const qvoksb::SettingsSet &first,
                     const qvoksb::SettingsSet &other, const QString &fileName = {});

    // Shows the window modally and returns the choice.
    Choice ask();
    // Who answers a difference window instead of the user (a test, a benchmark).
    using Answer = std::function<Choice(DifferenceWindow &window)>;

    // The rows the table shows now, and the one-line summary above it.
    const std::vector<qvoksb::DifferenceRow> &rows() const { return rows_; }
    QString summary() const;
    Source source() const { return source_; }
    // The "показать все параметры" box.
    QCheckBox *ShowAll;

private:
    void fillTable();

    Source source_;
    qvoksb::SettingsSet first_;
    qvoksb::SettingsSet other_;
    qvoksb::Compared compared_;
    std::vector<qvoksb::DifferenceRow> rows_;
    QLabel *summary_;
    QTableWidget *table_;
    Choice choice_ = Choice::Close;
};
