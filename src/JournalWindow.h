#pragma once
// "Журнал работ": the journal of every exchange with a unit, of this program and of ksb7ctl,
// newest first, filtered by address, action and date, and exported as a CSV table. A window of
// its own beside the main one; it reads the journal when opened and on "Обновить". A journal
// large enough to take a noticeable time is read on a thread of its own, the window showing how
// far it has come; only the newest records are read (journal.h), and the window says so.
#include "FileDialog.h"
#include "core/records/journal.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTableView;

// The journal's records as table rows: those passing the filter, newest first. A damaged line
// is a row of its own that names its line; having no address, action or date, it passes only
// while the filter lets everything pass.
class JournalModel : public QAbstractTableModel
{
public:
    enum Column {
        Time,
        Program,
        Port,
        Address,
        Kind,
        Outcome,
        Message,
        Source,
        Digest,
        Differences,
        LastTrip,
        ColumnCount
    };
    struct Filter {
        int address = -1;  // -1: every address
        QString kind;      // empty: every action
        QString firstDate; // "2026-12-08"; empty: no bound
        QString lastDate;
    };

    void setRecords(std::vector<qvoksb::journal::Record> records);
    void setFilter(const Filter &filter);
    const std::vector<qvoksb::journal::Record> &records() const { return records_; }
    // The rows shown, in their order.
    std::vector<const qvoksb::journal::Record *> shown() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    bool passes(const qvoksb::journal::Record &record) const;

    std::vector<qvoksb::journal::Record> records_; // file order
    std::vector<int> rows_;                        // indexes into records_, newest first
    Filter filter_;
};

class JournalWindow : public QWidget
{
    Q_OBJECT
public:
    // A journal smaller than this reads within about a tenth of a second; a larger one is read
    // off the window's thread.
    static constexpr qint64 quickReadBytes = 4 << 20;

    explicit JournalWindow(QString path, QWidget *parent = nullptr);
    ~JournalWindow() override;

    // Reads the journal again and keeps the filter; a large journal is still being read on return.
    void reload();
    // True while a large journal is read.
    bool reading() const { return job_ != nullptr; }
    // Writes the rows shown as CSV; false with *problem when the file could not be written.
    bool exportTo(const QString &path, QString *problem);

    QComboBox *AddressFilter;
    QComboBox *KindFilter;
    QDateEdit *FirstDate;
    QDateEdit *LastDate;
    QPushButton *ReloadButton;
    QPushButton *ExportButton;
    QTableView *Table;
    QLabel *Summary;
    JournalModel Model;
    FileDialog ExportDialog;

private:
    struct ReadJob {
        std::atomic<bool> stop{false};
        std::atomic<int> percent{-1};
    };
    void showReading(qvoksb::journal::Reading reading);
    void applyFilter();
    void exportClick();

    QString path_;
    bool loaded_ = false;
    std::shared_ptr<ReadJob> job_;
};
