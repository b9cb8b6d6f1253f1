#pragma once
// The exchange log ("Журнал обмена"): every frame the exchange window sends and receives, with
// the time in milliseconds, the bytes and what they mean, and the port's opening, closing and line
// errors. A window of its own that is not modal, so that it stays open beside the exchange
// window; it keeps the last maxLines lines and saves them as UTF-8 text.
//
// Recording happens only while the window is open: the exchange window, handed the log by whoever
// creates it, asks recording(), so a closed log costs one test per frame. Lines are collected and
// put on screen in batches by a timer, so that neither a fast exchange nor a flood of noise waits
// for the text view.
#include "FileDialog.h"

#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <span>

class QPlainTextEdit;
class QPushButton;

class TrafficLogWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maxLines = 5000;
    static constexpr int batchMs = 500; // lines reach the screen at most this late

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

    QPlainTextEdit *Lines;
    QPushButton *SaveButton;  // "Сохранить ..."
    QPushButton *ClearButton; // "Очистить"
    FileDialog SaveDialog;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void add(QString line);
    void saveClick();

    bool recording_ = false;
    QStringList pending_;
    QTimer batch_;
};
