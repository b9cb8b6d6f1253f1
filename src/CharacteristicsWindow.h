#pragma once
// The window "Характеристики срабатывания": the time-current plot of the phase or earth
// protection beside its test sheet, both following the settings they are handed as they change.
#include "core/settings/characteristics.h"
#include "core/settings/settings_set.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabBar;
class QTableWidget;

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
    // Shows the characteristics of `settings`; `owner` owns the window.
    explicit CharacteristicsWindow(const qvoksb::SettingsSet &settings, QWidget *owner = nullptr);

    qvoksb::characteristics::Protection protection() const;
    const qvoksb::characteristics::Sheet &sheet() const { return sheet_; }

    // Plot and sheet of these settings from now on (CharacteristicsSettings.h names those that
    // matter).
    void setSettings(const qvoksb::SettingsSet &settings);
    // Recomputes plot and sheet.
    void refresh();
    // Puts the sheet on the clipboard as tab-separated text with a header row.
    void copySheet() const;

    QTabBar *ProtectionTabs;
    CharacteristicsView *Plot;
    QLabel *Readout;
    QLabel *SheetReference;
    QTableWidget *SheetTable;
    QComboBox *SecondaryList;   // rated secondary current of the CT (CharacteristicsSettings.h)
    QSpinBox *TolerancePercent; // the sheet's time tolerance: percent of the time ...
    QSpinBox *ToleranceMs;      // ... and at least this many milliseconds
    QPushButton *CopyButton;

private:
    void showReadout(double currentA);
    int ctSecondaryA() const;
    qvoksb::characteristics::Tolerance tolerance() const;
    void showSecondaryChoices();

    qvoksb::characteristics::Settings settings_;
    qvoksb::characteristics::Sheet sheet_;
};
