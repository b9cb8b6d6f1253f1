#pragma once
// The window "Характеристики срабатывания": the time-current plot of the phase or earth
// protection beside its test sheet, both following the main window's settings as they change.
#include "characteristics.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabBar;
class QTableWidget;
class TFKsb;

// The plot on screen; the pointer over it reads out current, multiple and time.
class CharacteristicsView : public QWidget
{
    Q_OBJECT
public:
    explicit CharacteristicsView(QWidget *parent = nullptr);
    void setData(const qvoksb::characteristics::PlotData &data);
    const qvoksb::characteristics::PlotData &data() const { return data_; }

signals:
    // The primary current under the pointer, or 0 when the pointer left the plot's frame.
    void pointed(double currentA);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    qvoksb::characteristics::PlotData data_;
    double pointerX_ = -1;
};

class CharacteristicsWindow : public QWidget
{
    Q_OBJECT
public:
    // Reads its settings from `settings`, which also owns the window.
    explicit CharacteristicsWindow(TFKsb *settings);

    qvoksb::characteristics::Protection protection() const;
    const qvoksb::characteristics::Sheet &sheet() const { return sheet_; }

    // Recomputes plot and sheet from the main window's settings.
    void refresh();
    // Puts the sheet on the clipboard as tab-separated text with a header row.
    void copySheet() const;

    QTabBar *ProtectionTabs;
    CharacteristicsView *Plot;
    QLabel *Readout;
    QLabel *SheetReference;
    QTableWidget *SheetTable;
    QComboBox *SecondaryList; // rated secondary current of the CT (CharacteristicsSettings.h)
    QSpinBox *TolerancePercent; // the sheet's time tolerance: percent of the time ...
    QSpinBox *ToleranceMs;      // ... and at least this many milliseconds
    QPushButton *CopyButton;

private:
    void showReadout(double currentA);
    int ctSecondaryA() const;
    qvoksb::characteristics::Tolerance tolerance() const;
    void showSecondaryChoices();

    TFKsb *settingsWindow_;
    qvoksb::characteristics::Settings settings_;
    qvoksb::characteristics::Sheet sheet_;
};

// Adds "Характеристики срабатывания" to the menu "Сервис" of the main window. The command
// opens the window, or raises it when it is already open.
void addCharacteristicsCommand(TFKsb *window);
