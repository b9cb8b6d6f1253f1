#pragma once
// The exchange log ("Журнал обмена"): every frame the exchange window sends and receives, with
// the time in milliseconds, the bytes and what they mean, and the port's opening, closing and line
// errors. A window of its own that is not modal, so that it stays open beside the exchange
// window; it keeps the last maxLines lines and saves them as UTF-8 text.
//
// Recording happens only while the window is open: the exchange window, handed the log by whoever
// creates it, asks recording(), so a closed log costs one test per frame. Lines are collected and
// put on screen in batches by a timer, so that neither a fast exchange nor a flood of noise waits
// for the view. The view is a list of rows of one height over a ring of the lines kept: a batch
// costs its own lines, whatever the log holds, and only the rows in sight are painted.
#include "FileDialog.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <span>
#include <vector>

class QListView;
class QPushButton;
class TrafficLineDelegate;

// The lines on screen, oldest first: a ring that drops the oldest line for each one past its
// capacity.
class TrafficLogModel : public QAbstractListModel
{
public:
    explicit TrafficLogModel(int capacity, QObject *parent = nullptr);
    void append(const QStringList &batch);
    void clear();
    QStringList lines() const;
    const QString &line(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    std::vector<QString> ring_;
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::size_t appended_ = 0; // lines ever put in, the dropped ones too
};

class TrafficLogWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maxLines = 5000;
    static constexpr int batchMs = 1000; // lines reach the screen at most this late

    explicit TrafficLogWindow(QWidget *parent = nullptr);
    ~TrafficLogWindow() override;

    // True while the log is open (also minimised).
    bool recording() const { return recording_; }

    // A request handed to the port.
    void sent(std::span<const uint8_t> request);
    // The bytes examined as the answer to request; arrived is when the first of them came.
    void received(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                  const QTime &arrived);
    // Bytes thrown away unexamined (a late answer to an earlier request, ...) and why.
    void discarded(std::span<const uint8_t> bytes, const QString &why, const QTime &arrived);
    // The port opened or closed, a line error, a port that would not open.
    void note(const QString &text, bool problem = false);

    // Every line kept, oldest first, including those still waiting for the screen.
    QStringList lines() const;
    // Writes the lines as UTF-8 text, one per line; false when the file cannot be written.
    bool saveTo(const QString &path);
    void clearLines();
    // Puts the waiting lines on screen now.
    void flush();

    QListView *Lines;
    QPushButton *SaveButton;  // "Сохранить ..."
    QPushButton *ClearButton; // "Очистить"
    FileDialog SaveDialog;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void add(QString line);
    void saveClick();
    void copySelection();

    bool recording_ = false;
    QStringList pending_;
    QTimer batch_;
    TrafficLogModel model_;
    TrafficLineDelegate *delegate_;
    qsizetype longest_ = 0; // characters of the longest line shown since the last clearing
};
