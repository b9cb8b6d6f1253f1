#pragma once
// The window "Блоки на линии": the units of a switchboard on one line, side by side. A scan finds
// them; each row shows a unit's address as the page "УПРАВЛЕНИЕ" writes it, its state, its last
// trip, the SHA-256 of its settings as the journal of work writes it, the file assigned to it and
// how the unit compares with that file. The actions work on the selected rows as one batch with
// one progress bar and one "Прервать": scan, read into the files, compare with the files, write
// the files with verification, open one unit in the main window. A unit that fails marks its
// row and the batch goes on; "Прервать" stops after the unit under way. Every unit's exchange is
// one record in the journal of work.
//
// A unit's file is its own pick, or the file the name pattern gives in the folder of issued
// files. The folder, the pattern, the picks and the report form's fields of each unit are kept in
// QvoKsb.ini, section "Board".
#include "BoardLine.h"
#include "FileDialog.h"
#include "core/exchange/scan.h"
#include "core/records/board_plan.h"
#include "core/settings/settings_set.h"

#include <QString>
#include <QWidget>

#include <map>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class TFKsb;

class BoardWindow : public QWidget
{
    Q_OBJECT
public:
    explicit BoardWindow(TFKsb *main);
    ~BoardWindow() override;

    enum Column { AddressColumn, StateColumn, TripColumn, DigestColumn, FileColumn,
                  CompareColumn, OutcomeColumn, ColumnCount };
    enum class Action { None, Scan, Read, Compare, Write };

    QLineEdit *AddressEdit; // the addresses a scan asks, as ksb7ctl takes them: "1-F7"
    QSpinBox *TimeoutSpin;  // how long a scan waits for each address, ms
    QLineEdit *FolderEdit;  // the folder of issued files
    QPushButton *FolderButton;
    QLineEdit *PatternEdit; // a unit's file in that folder, %a the address
    QTableWidget *Table;
    QPushButton *ScanButton, *ReadButton, *CompareButton, *WriteButton, *OpenButton, *PickButton,
        *FeederButton, *ReportButton, *AbortButton;
    QProgressBar *Progress;
    QLabel *StatusLabel;

    FileDialog PickDialog; // a unit's own file
    FileDialog PdfDialog;  // the board's report as PDF
    FileDialog CsvDialog;  // ... and as CSV

    // The actions, as their buttons run them, on the selected rows (a scan on AddressEdit).
    void scan();
    void readIntoFiles();
    void compareWithFiles();
    void writeFiles();
    void openInMainWindow();
    void pickFile();
    void editFeeder();
    void showReport();
    void abortBatch();

    Action running() const { return action_; }
    // The addresses of the table's rows, top to bottom.
    std::vector<uint8_t> addresses() const;
    // The file assigned to the unit at this address (empty for none).
    QString fileOf(uint8_t address) const;
    // The board's record as the report and the CSV show it.
    std::vector<qvoksb::board::Row> reportRows() const;

signals:
    void batchFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Unit {
        uint8_t address = 0;
        qvoksb::exchange::Presence presence = qvoksb::exchange::Presence::Answers;
        QString state;
        QString trip;
        QString digest;
        QString compare; // совпадает / отличается (N) / не прочитан, or empty before any
        QString outcome; // of the last action on the unit
        QString date;    // of the last compare or verified write
        QString picked;  // the unit's own file, empty: by the pattern
        qvoksb::report::Labels labels;
    };
    struct Job {
        uint8_t address;
        QString file;
        std::optional<qvoksb::SettingsSet> set; // write and compare: the file's settings
    };

    Unit *unit(uint8_t address);
    std::vector<uint8_t> selectedAddresses() const;
    bool startBatch(Action action, std::vector<Job> jobs);
    // The jobs of the selected units with their files, checked; empty with a message shown when
    // anything is wrong, and then nothing is sent and nothing written.
    std::optional<std::vector<Job>> plan(Action action);
    void nextUnit();
    void unitDone();
    void scanDone();
    void finishBatch();
    void showRows();
    void setButtons();
    void restore();
    void storeUnit(const Unit &u);
    int stepsPerUnit() const;

    TFKsb *main_;
    BoardLine line_;
    std::vector<Unit> units_;
    Action action_ = Action::None;
    std::vector<Job> jobs_;
    size_t next_ = 0;
    bool abortAsked_ = false;
    int unitsDone_ = 0, unitsFailed_ = 0;
};
