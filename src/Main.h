#pragma once
// The main window of the configurator. The KSB-7's complete settings set lives in the controls of
// this window, one control per setting on seven pages; the configuration files and the register
// map read and write these controls directly, so their names are the names of the settings.
#include <QMainWindow>

#include "DifferenceWindow.h"
#include "FileDialog.h"
#include "LedIndicator.h"
#include "PageControl.h"
#include "PortChooser.h"
#include "core/link/net_link.h"
#include "RadioGroup.h"
#include "SpinEdit.h"
#include "Tag.h"
#include "core/exchange/exchange_engine.h"
#include "core/settings/settings_origin.h"
#include "core/settings/settings_set.h"

#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QToolBar;
class QToolButton;
class PlacementStore;
class TrafficLogWindow;
struct ReportHeader;

class TFrs232;

class TFKsb : public QMainWindow
{
    Q_OBJECT
public:
    explicit TFKsb(QWidget *parent = nullptr);
    ~TFKsb() override;

    // The program's command-line arguments after the program name; app sets them before the
    // main window is created, so that FormCreate can open the first one.
    static QStringList StartupArguments;

    // Placement restore, splash, then the window on screen: the order of a program start.
    void ShowAtStart();

    // Sets the item of a list from program code and, for the lists with a rule (ComboBox1 to
    // ComboBox8), runs that rule as a user's pick would. An index outside the list leaves the
    // list with no item chosen. Every loader and decoder sets lists through this.
    void SetListIndex(QComboBox *list, int index);

    // --- handlers ---------------------------------------------------------------------------
    void FormCreate();
    void FormShow();
    void SILoadClick();
    void SISaveClick();
    void SIWriteClick();
    void SIReadClick();
    void SIExitClick();
    void Button1Click();
    void Button2Click();
    void COM16Click(QAction *sender);
    void RTS1Click(QAction *sender);
    void N4Click();

    // Our own commands: the port chooser ("Выбор порта ...") and the exchange log
    // ("Журнал обмена"), and the hints of the port items naming their devices.
    void choosePort();
    // The gateway item: shows the gateway chosen last (hidden while there is none) and makes it
    // the current link when checked, in the one radio group with the port items.
    void GatewayItemClick();
    void showGatewayItem();
    // Whether the next exchange goes through the gateway, and the link's name: "COMn" or the
    // gateway's host:port.
    bool gatewayChosen() const;
    std::string currentLinkName() const;
    // Where the port chooser's list comes from: the system's ports unless a test gives its own.
    PortChooser::Lister ListPorts;
    void showTrafficLog();
    void describePorts();

    // Creates the exchange window with the given kind (99 write configuration, 100 read
    // configuration, 101 control command, 102 input/output state, 103 compare), hands it the
    // port and line options, the unit address and the window's settings, shows it modally and
    // destroys it. `prepare` runs before the window is shown. The result is empty when the port
    // did not open; applying it to the controls is the caller's.
    std::optional<qvoksb::exchange::Result>
    StartExchange(int tag, const std::function<void(TFrs232 &)> &prepare = {});

    // The eight lamps of the page of inputs and outputs, as a state read gives them.
    void showLamps(const qvoksb::exchange::Lamps &lamps);

    // --- comparing and verifying (Сервис, Настройки) ------------------------------------------
    // The write of the tool bar: the pre-write check, the exchange, and with "Проверять запись
    // чтением" on the read-back and its difference window.
    void writeConfiguration();
    // Asks before a write when the unit would receive values other than the window shows; true
    // when there is nothing to ask or the user wants the write anyway.
    bool confirmUnitCanCarry();
    // "Сравнить с блоком ...": reads the seven blocks, changes nothing, shows the differences.
    void compareWithUnit();
    // "Сравнить с файлом ...": opens a configuration file into a set and shows the differences.
    void compareWithFile();
    QAction *VerifyWrite = nullptr; // "Проверять запись чтением", kept in QvoKsb.ini
    QAction *CompareUnit = nullptr; // "Сравнить с блоком ..."
    QAction *CompareFile = nullptr; // "Сравнить с файлом ..."
    // Who answers the difference windows instead of the user, when set (a test, a benchmark).
    DifferenceWindow::Answer AnswerDifferences;

    // Interlocks.
    // The first state of every dependent setting, applied once by FormCreate in a fixed order.
    void applyStartupInterlocks();
    void ComboBox1Change(QComboBox *sender);
    void CheckBox1Click();
    void CheckBox7Click();
    void CheckBox8Click();
    void CheckBox12Click();
    void CheckBox16Click();
    void CheckBox20Click();
    void CheckBox24Click();
    void CheckBox28Click();
    void CheckBox32Click();
    void RxSpinEdit9Change(SpinEdit *sender);
    void RxSpinEdit11Change(SpinEdit *sender);

    // Configuration files.
    void SaveConfigFile();
    void LoadConfigFile();
    // Reads a whole configuration file; a bad one is reported as the open reports it.
    std::optional<qvoksb::SettingsSet> openConfigFile(const QString &name);

    // --- the settings as a set
    // -------------------------------------------------------------------- Every control of the
    // settings catalogue read into a set.
    qvoksb::SettingsSet currentSettings() const;
    // Only these settings of the window read into `set`.
    void readSettings(qvoksb::SettingsSet &set, std::span<const qvoksb::Setting> which) const;
    // Puts a set into the controls in catalogue order, as a user or a file would: every check
    // box and spin edit runs its rule when what it shows changes, every list with a rule runs
    // it. The phase cut-off's trip box stays checked whatever the set says.
    void applySettings(const qvoksb::SettingsSet &set);
    // Where the settings came from, for the report and the journal of work; opening or
    // saving a file, a read and a load from the unit set it.
    qvoksb::SettingsOrigin Origin;
    void setOriginFile(const QString &fileName);
    void setOriginUnit();
    // What a settings report says beside the settings: origin, address, port, and the CT
    // secondaries and tolerance chosen for the test sheets.
    ReportHeader reportHeader() const;
    // Calls `changed` after any change of one of these settings in its control; the connections
    // end with `context`.
    void followSettings(std::span<const qvoksb::Setting> which, QObject *context,
                        const std::function<void()> &changed) const;
    // The control of a setting.
    QWidget *settingControl(qvoksb::Setting s) const
    {
        return settingControls_[qvoksb::indexOf(s)];
    }

    // --- the settings, by page (the numbered names of the settings catalogue) ------------------
    // Page 1 "КОНФИГУРАЦИЯ"
    SpinEdit *RxSpinEdit1, *RxSpinEdit2, *RxSpinEdit3, *RxSpinEdit4, *RxSpinEdit5, *RxSpinEdit6,
        *RxSpinEdit7;
    QComboBox *ComboBox1, *ComboBox2;
    QLineEdit *Edit1;
    QLabel *LSystem1, *LSystem2, *LSystem3, *LSystem4, *LSystem5, *LSystem6, *LSystem7, *LSystem8,
        *LSystem9, *LSystem10, *LSystem11, *LSystem12, *LSystem13;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3;             // set 1: ВЫХ.1..3
    QCheckBox *CheckBox7, *CheckBox4, *CheckBox5, *CheckBox6; // set 2: ВЫКЛ, ВЫХ.1..3
    QCheckBox *CheckBox8, *CheckBox9, *CheckBox10, *CheckBox11;
    // Page 2 "УСТАВКИ МТЗ"
    SpinEdit *RxSpinEdit8, *RxSpinEdit9, *RxSpinEdit10, *RxSpinEdit11, *RxSpinEdit12, *RxSpinEdit13,
        *RxSpinEdit14;
    QComboBox *ComboBox3;
    QLabel *LMTZ1, *LMTZ2, *LMTZ3, *LMTZ4, *LMTZ5, *LMTZ6, *LMTZ7, *LMTZ8, *LMTZ9, *LMTZ10, *LMTZ11;
    QCheckBox *CheckBox12, *CheckBox13, *CheckBox14, *CheckBox15;
    QCheckBox *CheckBox16, *CheckBox17, *CheckBox18, *CheckBox19;
    QCheckBox *CheckBox20, *CheckBox21, *CheckBox22, *CheckBox23;
    // Page 3 "УСТАВКИ ОЗЗ"
    SpinEdit *RxSpinEdit15, *RxSpinEdit16, *RxSpinEdit17, *RxSpinEdit18, *RxSpinEdit19,
        *RxSpinEdit20, *RxSpinEdit21;
    QComboBox *ComboBox4;
    QLabel *LOZZ1, *LOZZ2, *LOZZ3, *LOZZ4, *LOZZ5, *LOZZ6, *LOZZ7, *LOZZ8, *LOZZ9, *LOZZ10, *LOZZ11;
    QCheckBox *CheckBox24, *CheckBox25, *CheckBox26, *CheckBox27;
    QCheckBox *CheckBox28, *CheckBox29, *CheckBox30, *CheckBox31;
    QCheckBox *CheckBox32, *CheckBox33, *CheckBox34, *CheckBox35;
    // Page 4 "ВЫХОДНЫЕ РЕЛЕ"
    QGroupBox *GroupBox2, *GroupBox3, *GroupBox4, *GroupBox1;
    QComboBox *ComboBox5, *ComboBox6, *ComboBox7, *ComboBox8;
    SpinEdit *RxSpinEdit22, *RxSpinEdit23, *RxSpinEdit24, *RxSpinEdit25;
    QLabel *LDO1, *LDO2, *LDO3, *LDO4, *LDO5, *LDO6, *LDO7, *LDO8;
    // Page 5 "ВХОДЫ ЦИФРОВЫЕ"
    QGroupBox *GroupBox5, *GroupBox6, *GroupBox7;
    QComboBox *ComboBox9, *ComboBox10, *ComboBox11, *ComboBox12, *ComboBox13, *ComboBox14;
    QLabel *LDI1, *LDI2, *LDI3, *LDI4, *LDI5, *LDI6;
    // Page 6 "УПРАВЛЕНИЕ"
    RadioGroup *RadioGroup1;
    QPushButton *Button1;
    QGroupBox *GroupBox9, *GroupBox8;
    QLineEdit *EEvent, *EDt;
    QLabel *Label4, *Label3, *Label1, *Label2;
    SpinEdit *RxSpinEdit26, *RxSpinEdit27;
    // Page 7 "CСОСТОЯНИЕ ВХОДОВ/ВЫХОДОВ"
    QLabel *StaticText9, *StaticText2;
    LedIndicator *VrBlinkLedBit1, *VrBlinkLedBit2, *VrBlinkLedBit3, *VrBlinkLedBit4;
    LedIndicator *VrBlinkLed1, *VrBlinkLed2, *VrBlinkLed3, *VrBlinkLed4;
    QPushButton *Button2;

    // --- the frame ------------------------------------------------------------------------------
    QToolBar *SpeedBar1;
    QToolButton *SILoad, *SISave, *SIWrite, *SIRead, *SIExit;
    PageControl *PageControl1;
    QWidget *TabSheet1, *TabSheet2, *TabSheet3, *TabSheet4, *TabSheet5, *TabSheet6, *TabSheet7;
    QLabel *StaticText1;
    QMenu *MenuItem1, *MenuItem2, *MenuItem3, *N3;
    QMenu *ServiceMenu; // "Сервис", between "Настройки" and "?"
    // Appends a command to "Сервис" and shows the menu.
    QAction *addServiceCommand(const QString &caption);
    QAction *N1, *N2, *N6, *NExit, *DTR1, *RTS1, *N4;
    std::array<QAction *, 16> COM{};    // COM[0] is the menu item COM1 ... COM[15] is COM16
    QAction *GatewayItem = nullptr;     // the gateway "host:port", below COM 16
    QAction *PortChooserItem = nullptr; // "Выбор порта ...", below the port items
    QAction *TrafficLogItem = nullptr;  // "Журнал обмена" in "Сервис"
    // A window of its own beside the exchange window while open; made at the first showing.
    std::unique_ptr<TrafficLogWindow> TrafficLog;
    FileDialog OpenDialog1;
    FileDialog SaveDialog1;
    FileDialog ReportDialog; // the settings report as PDF
    FileDialog CsvDialog;    // the settings as a CSV table
    std::unique_ptr<PlacementStore> FormStorage1;

    // Port and line options of the next exchange; they follow the menu check marks.
    int FComPort = 1;
    int FDtrOn = 0;
    int FRtsOn = 0;
    // The gateway on the network the port chooser was given last; kept in QvoKsb.ini.
    std::optional<qvoksb::Gateway> FGateway;

    // Every spin edit, list and check box by its number (RxSpinEdit1 is spinEdit(1)).
    SpinEdit *spinEdit(int n) const { return spinEdits_.at(n - 1); }
    QComboBox *comboBox(int n) const { return comboBoxes_.at(n - 1); }
    QCheckBox *checkBox(int n) const { return checkBoxes_.at(n - 1); }
    QLabel *labelFor(QWidget *control) const;

    // The tool bar's buttons in their order, the section that holds them, and their layout for
    // the bar's orientation (the placement store restores and saves them).
    QList<QToolButton *> speedBarButtons() const;
    QWidget *speedBarSection() const { return speedSection_; }
    void layoutSpeedBar(Qt::Orientation orientation);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createFrame();
    void createMenus();
    void createCompareCommands();
    void createPortCommands();
    // "Характеристики срабатывания", "Отчёт о настройках ...", "Экспорт в CSV ...", "Блоки на
    // линии", "Журнал работ" in "Сервис", and the windows they open.
    void createServiceCommands();
    void showCharacteristics();
    void showJournal();
    // "Блоки на линии": the units of a switchboard on one line.
    void showBoard();
    void createSpeedBar();
    void createPages();
    // The rows of the catalogue's settings on one page, top to bottom.
    void createSettingRows(qvoksb::Page page, QWidget *tab);
    QWidget *createSettingControl(const qvoksb::SettingRow &row, QWidget *parent);
    QHBoxLayout *createRelayRow(QWidget *host, const qvoksb::RelaySet &set, QLabel *caption);
    void createControlPage();
    void readSetting(qvoksb::SettingsSet &set, const qvoksb::SettingRow &row) const;
    void createStatePage();
    void connectInterlocks();
    void applyRelaySetRule(int set);
    bool FormClose();

    std::array<QWidget *, qvoksb::SettingCount> settingControls_{};
    std::array<QLabel *, qvoksb::SettingCount> settingLabels_{}; // null for the relay boxes
    std::array<SpinEdit *, 27> spinEdits_{};
    std::array<QComboBox *, 14> comboBoxes_{};
    std::array<QCheckBox *, 35> checkBoxes_{};
    QWidget *speedSection_ = nullptr;
    bool closeAnswered_ = false;
    bool shownAtStart_ = false;
};

// The program's windows: the main window for the whole run; the splash and the exchange window
// while they exist, otherwise null.
class TFAbout;
class TFrs232;
extern TFKsb *FKsb;
extern TFAbout *FAbout;
extern TFrs232 *Frs232;
