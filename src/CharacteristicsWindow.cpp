#include "CharacteristicsWindow.h"

#include "CharacteristicsPlot.h"
#include "CharacteristicsSettings.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

using namespace qvoksb::characteristics;

namespace
{

QString text(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

// A control named for the tests and for screen readers.
template <typename Control>
Control *named(Control *control, const char *objectName, const QString &accessibleName)
{
    control->setObjectName(QString::fromLatin1(objectName));
    control->setAccessibleName(accessibleName);
    return control;
}

} // namespace

// --- the plot on screen
// ---------------------------------------------------------------------------

CharacteristicsView::CharacteristicsView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CharacteristicsView"));
    setMouseTracking(true);
    setMinimumSize(480, 360);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CharacteristicsView::setData(const PlotData &data)
{
    data_ = data;
    update();
}

void CharacteristicsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintCharacteristics(painter, rect(), data_);
    // A hairline under the pointer, to read the curves against.
    const CharacteristicsLayout l = characteristicsLayout(rect(), data_);
    if (pointerX_ >= l.area.left() && pointerX_ <= l.area.right()) {
        painter.setPen(QPen(QColor(80, 80, 80), 1, Qt::DotLine));
        painter.drawLine(QPointF(pointerX_, l.area.top()), QPointF(pointerX_, l.area.bottom()));
    }
}

void CharacteristicsView::mouseMoveEvent(QMouseEvent *event)
{
    const CharacteristicsLayout l = characteristicsLayout(rect(), data_);
    const QPointF p = event->position();
    const bool inside = l.area.contains(p);
    pointerX_ = inside ? p.x() : -1;
    update();
    emit pointed(inside ? l.currentAt(p.x()) : 0.0);
}

void CharacteristicsView::leaveEvent(QEvent *)
{
    pointerX_ = -1;
    update();
    emit pointed(0.0);
}

// --- the window
// -------------------------------------------------------------------------------------

CharacteristicsWindow::CharacteristicsWindow(const qvoksb::SettingsSet &settings, QWidget *owner)
    : QWidget(owner, Qt::Window), settings_(settingsFrom(settings))
{
    setObjectName(QStringLiteral("CharacteristicsWindow"));
    setWindowTitle(QStringLiteral("Характеристики срабатывания"));
    setAttribute(Qt::WA_DeleteOnClose);

    ProtectionTabs = new QTabBar(this);
    ProtectionTabs->setObjectName(QStringLiteral("ProtectionTabs"));
    ProtectionTabs->addTab(QStringLiteral("Фазы"));
    ProtectionTabs->addTab(QStringLiteral("Земля"));
    ProtectionTabs->setExpanding(false);

    Plot = new CharacteristicsView(this);
    Plot->setAccessibleName(QStringLiteral("График характеристик срабатывания"));
    Readout = new QLabel(this);
    Readout->setObjectName(QStringLiteral("Readout"));
    // A long read-out wraps rather than widening the window past its smallest size.
    Readout->setWordWrap(true);
    Readout->setMinimumHeight(Readout->fontMetrics().height() + 6);
    Readout->setText(QStringLiteral("Наведите указатель на график: ток, кратность и время."));

    auto *sheetCaption = new QLabel(QStringLiteral("<b>Проверочная таблица</b>"), this);
    SheetReference = new QLabel(this);
    SheetReference->setObjectName(QStringLiteral("SheetReference"));
    SheetReference->setWordWrap(true);
    SheetTable = named(new QTableWidget(this), "SheetTable", QStringLiteral("Проверочная таблица"));
    SheetTable->setColumnCount(int(sheetHeader.size()));
    QStringList header;
    for (const char *h : sheetHeader)
        header << QString::fromUtf8(h).replace(QStringLiteral(" ток"), QStringLiteral("\nток"));
    SheetTable->setHorizontalHeaderLabels(header);
    SheetTable->verticalHeader()->hide();
    SheetTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SheetTable->setSelectionMode(QAbstractItemView::NoSelection);
    SheetTable->setWordWrap(false);
    SheetTable->horizontalHeader()->setStretchLastSection(true);

    auto *secondaryLabel = new QLabel(QStringLiteral("Вторичный ток ТТ:"), this);
    SecondaryList = named(new QComboBox(this), "SecondaryList", QStringLiteral("Вторичный ток ТТ"));
    secondaryLabel->setBuddy(SecondaryList);
    auto *toleranceLabel = new QLabel(QStringLiteral("Допуск: ±"), this);
    TolerancePercent = named(new QSpinBox(this), "TolerancePercent",
                             QStringLiteral("Допуск по времени, процентов"));
    TolerancePercent->setRange(0, 50);
    TolerancePercent->setSuffix(QStringLiteral(" %"));
    toleranceLabel->setBuddy(TolerancePercent);
    auto *atLeastLabel = new QLabel(QStringLiteral("не менее ±"), this);
    ToleranceMs =
        named(new QSpinBox(this), "ToleranceMs", QStringLiteral("Допуск по времени, не менее, мс"));
    ToleranceMs->setRange(0, 1000);
    ToleranceMs->setSingleStep(10);
    ToleranceMs->setSuffix(QStringLiteral(" мс"));
    atLeastLabel->setBuddy(ToleranceMs);
    const Tolerance kept = storedTolerance();
    TolerancePercent->setValue(int(std::lround(kept.percent)));
    ToleranceMs->setValue(kept.ms);
    CopyButton = new QPushButton(QStringLiteral("Копировать"), this);
    CopyButton->setObjectName(QStringLiteral("CopyButton"));
    CopyButton->setToolTip(QStringLiteral("таблица в буфер обмена, столбцы через табуляцию"));

    auto *plotColumn = new QVBoxLayout;
    plotColumn->addWidget(Plot, 1);
    plotColumn->addWidget(Readout);
    auto *sheetButtons = new QHBoxLayout;
    sheetButtons->addWidget(secondaryLabel);
    sheetButtons->addWidget(SecondaryList);
    sheetButtons->addStretch(1);
    // The tolerance on a row of its own, so that the window keeps its smallest width.
    auto *toleranceRow = new QHBoxLayout;
    toleranceRow->addWidget(toleranceLabel);
    toleranceRow->addWidget(TolerancePercent);
    toleranceRow->addWidget(atLeastLabel);
    toleranceRow->addWidget(ToleranceMs);
    toleranceRow->addStretch(1);
    sheetButtons->addWidget(CopyButton);
    auto *sheetColumn = new QVBoxLayout;
    sheetColumn->addWidget(sheetCaption);
    sheetColumn->addWidget(SheetReference);
    sheetColumn->addWidget(SheetTable, 1);
    sheetColumn->addLayout(toleranceRow);
    sheetColumn->addLayout(sheetButtons);
    auto *columns = new QHBoxLayout;
    columns->addLayout(plotColumn, 3);
    columns->addLayout(sheetColumn, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ProtectionTabs);
    layout->addLayout(columns, 1);
    resize(1240, 680);

    connect(ProtectionTabs, &QTabBar::currentChanged, this, [this](int) {
        showSecondaryChoices();
        refresh();
    });
    connect(SecondaryList, &QComboBox::currentIndexChanged, this, [this](int) {
        storeSecondaryA(protection(), ctSecondaryA());
        refresh();
    });
    showSecondaryChoices();
    for (QSpinBox *box : {TolerancePercent, ToleranceMs})
        connect(box, &QSpinBox::valueChanged, this, [this] {
            storeTolerance(tolerance());
            refresh();
        });
    connect(CopyButton, &QPushButton::clicked, this, [this] { copySheet(); });
    connect(Plot, &CharacteristicsView::pointed, this, [this](double a) { showReadout(a); });
    refresh();
}

void CharacteristicsWindow::setSettings(const qvoksb::SettingsSet &settings)
{
    settings_ = settingsFrom(settings);
    refresh();
}

Protection CharacteristicsWindow::protection() const
{
    return ProtectionTabs->currentIndex() == 1 ? Protection::Earth : Protection::Phases;
}

Tolerance CharacteristicsWindow::tolerance() const
{
    return {double(TolerancePercent->value()), ToleranceMs->value()};
}

int CharacteristicsWindow::ctSecondaryA() const
{
    return SecondaryList->currentData().toInt();
}

void CharacteristicsWindow::showSecondaryChoices()
{
    const QSignalBlocker quiet(SecondaryList);
    SecondaryList->clear();
    for (int a : secondaryChoices(protection()))
        SecondaryList->addItem(
            a ? QStringLiteral("%1 А").arg(a) : QStringLiteral("только первичный"), a);
    SecondaryList->setCurrentIndex(SecondaryList->findData(storedSecondaryA(protection())));
}

void CharacteristicsWindow::refresh()
{
    Plot->setData(plotData(settings_, protection()));
    sheet_ = testSheet(settings_, protection(), ctSecondaryA(), tolerance());

    QString note =
        QStringLiteral("Кратность к току срабатывания %1. %2 %3.")
            .arg(text(sheet_.reference), secondaryNote(ctSecondaryA()), text(sheet_.tolerance));
    if (!sheet_.formula.empty())
        note += QLatin1Char(' ') + text(sheet_.formula) + QLatin1Char('.');
    SheetReference->setText(note);
    SheetTable->setRowCount(int(sheet_.rows.size()));
    for (int r = 0; r < int(sheet_.rows.size()); ++r) {
        const auto cells = sheetCells(sheet_.rows[std::size_t(r)]);
        for (int c = 0; c < int(cells.size()); ++c) {
            auto *item = new QTableWidgetItem(text(cells[std::size_t(c)]));
            item->setTextAlignment(c < 4 ? Qt::AlignRight | Qt::AlignVCenter
                                         : Qt::AlignLeft | Qt::AlignVCenter);
            SheetTable->setItem(r, c, item);
        }
    }
    SheetTable->resizeColumnsToContents();
}

void CharacteristicsWindow::copySheet() const
{
    QGuiApplication::clipboard()->setText(text(sheetText(sheet_)));
}

void CharacteristicsWindow::showReadout(double currentA)
{
    if (!(currentA > 0)) {
        Readout->setText(QStringLiteral("Наведите указатель на график: ток, кратность и время."));
        return;
    }
    const ProtectionCurves curves(settings_, protection());
    QString line = QStringLiteral("I = %1 А").arg(text(formatSignificant(currentA)));
    if (curves.referenceA() > 0)
        line += QStringLiteral(" (%1 × Iср)")
                    .arg(text(formatSignificant(currentA / curves.referenceA())));
    if (const auto trip = curves.trip(currentA))
        line +=
            QStringLiteral(";  отключение через %1 с (%2)")
                .arg(text(formatSignificant(trip->timeS)), text(stageName(trip->stage)).toLower());
    else
        line += QStringLiteral(";  не отключает");
    if (const auto alarm = curves.timeS(Stage::Alarm, currentA))
        line += QStringLiteral(";  сигнал через %1 с").arg(text(formatSignificant(*alarm)));
    Readout->setText(line);
}
