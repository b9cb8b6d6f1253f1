// The main window's frame: menus, tool bar, pages and status line, the start of the program,
// the port and line options, and closing.
#include "Main.h"

#include "About.h"
#include "MainAccessibility.h"
#include "MainPlacement.h"
#include "Messages.h"
#include "Pictures.h"
#include "ReportCommands.h"
#include "TrafficLog.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

TFKsb *FKsb = nullptr;
TFAbout *FAbout = nullptr;
TFrs232 *Frs232 = nullptr;

QStringList TFKsb::StartupArguments;

namespace
{

// The window is laid out in pixels for a 96 dpi screen and is never rescaled.
constexpr int clientWidthPx = 388;
constexpr int clientHeightPx = 545;
constexpr int speedBarHeightPx = 29;
constexpr int statusHeightPx = 19;
constexpr int windowFontPx = 12;

// The tool-bar buttons, in the bar's order, with their offsets in a fresh window: open and save,
// send and read, and exit stand in three groups.
struct SpeedButton {
    const char *name;
    int left;
    const char *hint;
};
constexpr SpeedButton speedButtons[] = {
    {"SILoad", 3, "открыть файл конфигурации"},
    {"SISave", 27, "сохранить конфигурацию в файл"},
    {"SIWrite", 91, "передать конфигурацию в KSB-7"},
    {"SIRead", 115, "прочитать конфигурацию из KSB-7"},
    {"SIExit", 171, "выход"},
};
constexpr int speedButtonWidthPx = 24;
constexpr int speedButtonHeightPx = 23;
constexpr int speedButtonTopPx = 3;

// The pictures of the tool-bar buttons, in the resources: a folder, a floppy disk, an arrow into
// the unit and an arrow out of it; the exit button shows its text "Ex". They are rendered for the
// screen's pixel ratio.
QIcon speedButtonIcon(int index, QSize size)
{
    static const char *const files[] = {"toolbar/open", "toolbar/save", "toolbar/write",
                                        "toolbar/read"};
    if (index < 0 || index >= int(std::size(files)))
        return {};
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(picture(QString::fromLatin1(files[index]), size, ratio));
    return icon;
}

} // namespace

TFKsb::TFKsb(QWidget *parent)
    : QMainWindow(parent),
      OpenDialog1(FileDialog::Open, QStringLiteral("Открытие файла конфигурации ..."),
                  QStringLiteral("файл конфигурации KSB-7"), QStringLiteral("*.txt"),
                  QStringLiteral("txt")),
      SaveDialog1(FileDialog::Save, QStringLiteral("Сохранение текущей конфигурации в файл ..."),
                  QStringLiteral("файл конфигурации KSB-7"), QStringLiteral("*.txt"),
                  QStringLiteral("txt")),
      ReportDialog(reportPdfDialog()), CsvDialog(settingsCsvDialog())
{
    setObjectName(QStringLiteral("FKsb"));
    setWindowTitle(QStringLiteral("Конфигуратор KSB-7."));
    // The pages are laid out in pixels; a font sized in pixels keeps every caption inside them
    // whatever font size the desktop is set to.
    QFont pixelFont = font();
    pixelFont.setPixelSize(windowFontPx);
    setFont(pixelFont);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    createFrame();
    nameControlsForAssistiveTechnology(this);
    connectInterlocks();
    createServiceCommands();
    FormStorage1 = std::make_unique<PlacementStore>(this);
    FormCreate();
}

TFKsb::~TFKsb()
{
    // A window that was on screen and never asked to close (the session ends, for example) still
    // leaves its placement behind.
    if (FormStorage1 && shownAtStart_ && !closeAnswered_)
        FormStorage1->Save();
}

void TFKsb::createFrame()
{
    createMenus();
    createSpeedBar();

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    PageControl1 = new PageControl(client);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    const char *const sheetNames[7] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4",
                                       "TabSheet5", "TabSheet6", "TabSheet7"};
    QWidget **sheets[7] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4,
                           &TabSheet5, &TabSheet6, &TabSheet7};
    for (int i = 0; i < 7; ++i) {
        *sheets[i] = new QWidget;
        (*sheets[i])->setObjectName(QLatin1String(sheetNames[i]));
        PageControl1->addPage(*sheets[i], QString::fromUtf8(qvoksb::PageCaptions[i]));
    }
    layout->addWidget(PageControl1, 1);

    StaticText1 = new QLabel(QStringLiteral("default.txt (заводская конфигурация)"), client);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setFixedHeight(statusHeightPx);
    // A file's name is shown as it stands, even one that looks like HTML.
    StaticText1->setTextFormat(Qt::PlainText);
    StaticText1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText1->setToolTip(QStringLiteral("имя текущего файла конфигурации"));
    QFont bold = StaticText1->font();
    bold.setBold(true);
    StaticText1->setFont(bold);
    QPalette grey = StaticText1->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    StaticText1->setPalette(grey);
    layout->addWidget(StaticText1);
    setCentralWidget(client);

    createPages();
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

    // The client area (tool bar, pages, status line) is fixed; the menu bar comes on top.
    setFixedSize(clientWidthPx, clientHeightPx + menuBar()->sizeHint().height());
}

void TFKsb::createMenus()
{
    auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };

    MenuItem1 = menuBar()->addMenu(QStringLiteral("&Файл"));
    MenuItem1->setObjectName(QStringLiteral("MenuItem1"));
    N1 = item(MenuItem1, "N1", QStringLiteral("Открыть файл конфигурации ..."));
    N2 = item(MenuItem1, "N2", QStringLiteral("Сохранить текущую конфигурацию ..."));
    N6 = MenuItem1->addSeparator();
    N6->setObjectName(QStringLiteral("N6"));
    NExit = item(MenuItem1, "NExit", QStringLiteral("Выход"));
    connect(N1, &QAction::triggered, this, [this] { SILoadClick(); });
    connect(N2, &QAction::triggered, this, [this] { SISaveClick(); });
    connect(NExit, &QAction::triggered, this, [this] { SIExitClick(); });

    MenuItem2 = menuBar()->addMenu(QStringLiteral("&Подключение"));
    MenuItem2->setObjectName(QStringLiteral("MenuItem2"));
    // One radio group for the sixteen ports. The group allows no item at all to be checked, as a
    // stored profile may say so; a click on the checked item keeps it checked (COM16Click).
    auto *ports = new QActionGroup(this);
    ports->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int n = 1; n <= 16; ++n) {
        // The first three ports are spelt with the Cyrillic letters С, О, М.
        const QString caption =
            n <= 3 ? QStringLiteral("СОМ %1").arg(n) : QStringLiteral("COM %1").arg(n);
        QAction *a =
            item(MenuItem2, QStringLiteral("COM%1").arg(n).toLatin1().constData(), caption);
        a->setCheckable(true);
        a->setChecked(n == 1);
        SetTag(a, n);
        ports->addAction(a);
        COM[n - 1] = a;
        connect(a, &QAction::triggered, this, [this, a] { COM16Click(a); });
    }

    MenuItem3 = menuBar()->addMenu(QStringLiteral("&Настройки"));
    MenuItem3->setObjectName(QStringLiteral("MenuItem3"));
    DTR1 = item(MenuItem3, "DTR1", QStringLiteral("DTR"));
    RTS1 = item(MenuItem3, "RTS1", QStringLiteral("RTS"));
    for (QAction *a : {DTR1, RTS1}) {
        a->setCheckable(true);
        // The menu has already toggled the mark; the handler toggles it itself, as a call from
        // code would, so the menu's toggle is undone first.
        connect(a, &QAction::triggered, this, [this, a] {
            a->setChecked(!a->isChecked());
            RTS1Click(a);
        });
    }
    SetTag(DTR1, 1);
    SetTag(RTS1, 2);

    // Our own commands beyond the unit's documents; the menu shows once it holds one.
    ServiceMenu = menuBar()->addMenu(QStringLiteral("&Сервис"));
    ServiceMenu->setObjectName(QStringLiteral("ServiceMenu"));
    ServiceMenu->menuAction()->setVisible(false);

    N3 = menuBar()->addMenu(QStringLiteral("&?"));
    N3->setObjectName(QStringLiteral("N3"));
    N4 = item(N3, "N4", QStringLiteral("О программе ..."));
    connect(N4, &QAction::triggered, this, [this] { N4Click(); });

    createCompareCommands();
    createPortCommands();
}

QAction *TFKsb::addServiceCommand(const QString &caption)
{
    ServiceMenu->menuAction()->setVisible(true);
    return ServiceMenu->addAction(caption);
}

void TFKsb::createSpeedBar()
{
    SpeedBar1 = new QToolBar(QStringLiteral("Меню"), this);
    SpeedBar1->setObjectName(QStringLiteral("SpeedBar1"));
    // Fixed in place: a movable bar draws a grip before the buttons, which would move them off
    // their offsets. An edge stored by an earlier run is still restored.
    SpeedBar1->setMovable(false);
    SpeedBar1->setFloatable(false);
    SpeedBar1->setAllowedAreas(Qt::AllToolBarAreas);
    SpeedBar1->setContentsMargins(0, 0, 0, 0);
    SpeedBar1->layout()->setContentsMargins(0, 0, 0, 0);
    SpeedBar1->layout()->setSpacing(0);

    // The buttons stand at fixed offsets on one section, as the store records them.
    speedSection_ = new QWidget(SpeedBar1);
    speedSection_->setObjectName(QStringLiteral("SpeedBar1Section"));
    QToolButton **fields[] = {&SILoad, &SISave, &SIWrite, &SIRead, &SIExit};
    for (int i = 0; i < 5; ++i) {
        auto *b = new QToolButton(speedSection_);
        b->setObjectName(QLatin1String(speedButtons[i].name));
        b->setToolTip(QString::fromUtf8(speedButtons[i].hint));
        b->setAccessibleName(b->toolTip()); // a picture button is named by its hint
        b->setIcon(speedButtonIcon(i, QSize(20, 18)));
        b->setIconSize(QSize(20, 18));
        b->setAutoRaise(true);
        b->setFixedSize(speedButtonWidthPx, speedButtonHeightPx);
        b->move(speedButtons[i].left, speedButtonTopPx);
        *fields[i] = b;
    }
    // The exit button also shows its text beside the picture.
    SIExit->setText(QStringLiteral("Ex"));
    SIExit->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SIExit->setIconSize(QSize(10, 14));
    SIExit->setIcon(QIcon());
    QFont exitFont = SIExit->font();
    exitFont.setBold(true);
    SIExit->setFont(exitFont);
    SpeedBar1->addWidget(speedSection_);
    layoutSpeedBar(Qt::Horizontal);
    connect(SpeedBar1, &QToolBar::orientationChanged, this,
            [this](Qt::Orientation o) { layoutSpeedBar(o); });

    connect(SILoad, &QToolButton::clicked, this, [this] { SILoadClick(); });
    connect(SISave, &QToolButton::clicked, this, [this] { SISaveClick(); });
    connect(SIWrite, &QToolButton::clicked, this, [this] { SIWriteClick(); });
    connect(SIRead, &QToolButton::clicked, this, [this] { SIReadClick(); });
    connect(SIExit, &QToolButton::clicked, this, [this] { SIExitClick(); });
    addToolBar(Qt::TopToolBarArea, SpeedBar1);
}

QList<QToolButton *> TFKsb::speedBarButtons() const
{
    return {SILoad, SISave, SIWrite, SIRead, SIExit};
}

void TFKsb::layoutSpeedBar(Qt::Orientation orientation)
{
    // Along a side edge the section turns: what was the left offset becomes the top offset.
    int extent = 0;
    for (QToolButton *b : speedBarButtons()) {
        if (orientation == Qt::Horizontal && b->x() < b->y())
            b->move(b->y(), b->x());
        else if (orientation == Qt::Vertical && b->y() < b->x())
            b->move(b->y(), b->x());
        if (b->isVisibleTo(speedSection_))
            extent = std::max(extent, orientation == Qt::Horizontal ? b->x() + b->width()
                                                                    : b->y() + b->height());
    }
    extent = std::max(extent + speedButtonTopPx, 2 * speedButtonTopPx);
    if (orientation == Qt::Horizontal)
        speedSection_->setFixedSize(extent, speedBarHeightPx);
    else
        speedSection_->setFixedSize(speedBarHeightPx, extent);
}

void TFKsb::FormCreate()
{
    applyStartupInterlocks();
    // A file named on the command line is opened before anything is shown; further arguments are
    // ignored.
    if (!StartupArguments.isEmpty()) {
        OpenDialog1.FileName = StartupArguments.constFirst();
        LoadConfigFile();
    }
}

void TFKsb::ShowAtStart()
{
    const bool placed = FormStorage1->Restore();
    FormShow();
    if (!placed) {
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    shownAtStart_ = true;
    show();
}

void TFKsb::FormShow()
{
    FAbout = new TFAbout(this);
    FAbout->exec();
    delete FAbout;
    FAbout = nullptr;

    FComPort = 1;
    FDtrOn = 0;
    FRtsOn = 0;
    // The options follow the check marks: a checked port item gives the port, the checked line
    // items the lines.
    for (QAction *a : findChildren<QAction *>()) {
        if (!a->isChecked())
            continue;
        if (a->actionGroup())
            FComPort = Tag(a);
        else if (Tag(a) == 1)
            FDtrOn = 1;
        else if (Tag(a) == 2)
            FRtsOn = 1;
    }
    PageControl1->setActivePage(TabSheet1);
}

void TFKsb::COM16Click(QAction *sender)
{
    FComPort = Tag(sender);
    sender->setChecked(true);
}

void TFKsb::RTS1Click(QAction *sender)
{
    sender->setChecked(!sender->isChecked());
    const int on = sender->isChecked() ? 1 : 0;
    if (Tag(sender) == 1)
        FDtrOn = on;
    else if (Tag(sender) == 2)
        FRtsOn = on;
}

void TFKsb::N4Click()
{
    // The line breaks are the unit's documentation's own, LF CR included.
    Messages::Plain(
        this,
        QStringLiteral("Программа позволяет конфигурировать блок KSB-7:\r\n"
                       "- через любой интерфейс: СОМ1(RS232); СОМ2(RS485) или СОМ3(RS485);\n\r"
                       "- с адресом Modbus, указанным на странице \"УПРАВЛЕНИЕ\";\n\r"
                       "- при фиксированной скорости обмена: 9600 бит/с.\r\n\r\n"
                       "Печать уставок возможна только после сохранения их в TXT-файл."));
}

void TFKsb::SIExitClick()
{
    close();
}

bool TFKsb::FormClose()
{
    return Messages::Confirm(this, QStringLiteral("Вы действительно хотите выйти из программы без "
                                                  "сохранения текущей конфигурации?"));
}

void TFKsb::closeEvent(QCloseEvent *event)
{
    // The placement is written on every close request, before the question and whatever the
    // answer.
    FormStorage1->Save();
    if (FormClose()) {
        closeAnswered_ = true;
        event->accept();
    } else {
        event->ignore();
    }
}
