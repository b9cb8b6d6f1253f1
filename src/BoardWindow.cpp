#include "BoardWindow.h"

#include "BoardReport.h"
#include "FileNames.h"
#include "Main.h"
#include "Messages.h"
#include "ReportForm.h"
#include "UserSettings.h"
#include "WorkJournal.h"
#include "core/files/profile_file.h"
#include "core/modbus/address_list.h"
#include "core/records/config_file.h"
#include "core/records/journal.h"
#include "core/settings/settings_diff.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace exchange = qvoksb::exchange;
namespace board = qvoksb::board;
using exchange::Presence;

namespace
{

constexpr const char *Section = "Board";

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

QString hexAddress(uint8_t address)
{
    return qs(board::addressText(address));
}

// A key of one unit in the section: "Feeder_0A".
QByteArray unitKey(const char *what, uint8_t address)
{
    return QByteArray(what) + '_' + QByteArray::fromStdString(board::addressText(address));
}

// The lit lamps of a state read, by their captions on the page of inputs and outputs.
QString stateText(const exchange::ScanEntry &e)
{
    if (e.presence == Presence::Garbled)
        return QStringLiteral("ответ искажён: помехи или два блока с одним адресом");
    if (!e.lamps)
        return QStringLiteral("отказ блока (исключение %1)").arg(e.exceptionCode);
    QStringList outputs, inputs;
    for (size_t i = 0; i < exchange::LampCount; ++i)
        if ((*e.lamps)[i])
            (i < 4 ? outputs : inputs) << qs(std::string(exchange::LampCaptions[i]));
    const QString none = QStringLiteral("—");
    return QStringLiteral("выходы: %1; входы: %2")
        .arg(outputs.isEmpty() ? none : outputs.join(QStringLiteral(", ")),
             inputs.isEmpty() ? none : inputs.join(QStringLiteral(", ")));
}

QString tripText(const qvoksb::TripRecord &trip)
{
    return qs(qvoksb::tripTimeText(trip)) + QStringLiteral(": ") +
           qs(qvoksb::tripCauseText(trip.cause));
}

// What went wrong with a unit, in a word or two for its row.
QString failureText(const exchange::Result &r)
{
    switch (r.outcome) {
    case exchange::Outcome::NoAnswer:
        return QStringLiteral("нет ответа");
    case exchange::Outcome::Refused:
        return QStringLiteral("отказ блока (исключение %1)").arg(r.exceptionCode);
    case exchange::Outcome::PortLost:
        return QStringLiteral("порт пропал");
    case exchange::Outcome::Aborted:
        return QStringLiteral("прервано");
    case exchange::Outcome::Unverified:
        return QStringLiteral("записан, не проверен чтением");
    default:
        return qs(r.message);
    }
}

QString differenceText(size_t n)
{
    return n ? QStringLiteral("отличается (%1)").arg(n) : QStringLiteral("совпадает");
}

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

} // namespace

BoardWindow::BoardWindow(TFKsb *main)
    : QWidget(main, Qt::Window),
      PickDialog(FileDialog::Open, QStringLiteral("Файл блока ..."),
                 QStringLiteral("файлы конфигурации"), QStringLiteral("*.txt"),
                 QStringLiteral("txt")),
      PdfDialog(FileDialog::Save, QStringLiteral("Сохранение отчёта по щиту ..."),
                QStringLiteral("документ PDF"), QStringLiteral("*.pdf"), QStringLiteral("pdf")),
      CsvDialog(FileDialog::Save, QStringLiteral("Отчёт по щиту в CSV ..."),
                QStringLiteral("таблица CSV"), QStringLiteral("*.csv"), QStringLiteral("csv")),
      main_(main)
{
    setObjectName(QStringLiteral("BoardWindow"));
    setWindowTitle(QStringLiteral("Блоки на линии"));
    setAttribute(Qt::WA_DeleteOnClose);

    const auto label = [this](const QString &text) {
        auto *l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    const auto button = [this](const char *name, const QString &text, void (BoardWindow::*slot)()) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };

    AddressEdit = new QLineEdit(QStringLiteral("1-F7"), this);
    AddressEdit->setObjectName(QStringLiteral("AddressEdit"));
    AddressEdit->setToolTip(QStringLiteral("адреса в шестнадцатеричном виде: 1-F7, 1,5,2A"));
    TimeoutSpin = new QSpinBox(this);
    TimeoutSpin->setObjectName(QStringLiteral("TimeoutSpin"));
    TimeoutSpin->setRange(20, 10000);
    TimeoutSpin->setSingleStep(50);
    TimeoutSpin->setSuffix(QStringLiteral(" мс"));
    TimeoutSpin->setValue(int(exchange::ScanTimeout.count()));
    TimeoutSpin->setToolTip(QStringLiteral("сколько ждать ответа каждого адреса при опросе; "
                                           "медленным шлюзам нужно больше"));
    FolderEdit = new QLineEdit(this);
    FolderEdit->setObjectName(QStringLiteral("FolderEdit"));
    FolderButton = new QPushButton(QStringLiteral("Выбрать ..."), this);
    FolderButton->setObjectName(QStringLiteral("FolderButton"));
    connect(FolderButton, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Папка выданных файлов"), FolderEdit->text());
        if (!folder.isEmpty())
            FolderEdit->setText(QDir::toNativeSeparators(folder));
    });
    PatternEdit = new QLineEdit(QStringLiteral("%a.txt"), this);
    PatternEdit->setObjectName(QStringLiteral("PatternEdit"));
    PatternEdit->setToolTip(QStringLiteral("имя файла блока в папке; %a - адрес блока, 0A"));

    auto *form = new QGridLayout;
    form->addWidget(label(QStringLiteral("Адреса:")), 0, 0);
    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(AddressEdit, 1);
    addressRow->addWidget(label(QStringLiteral("ожидание ответа:")));
    addressRow->addWidget(TimeoutSpin);
    form->addLayout(addressRow, 0, 1);
    form->addWidget(label(QStringLiteral("Папка выданных файлов:")), 1, 0);
    form->addWidget(FolderEdit, 1, 1);
    form->addWidget(FolderButton, 1, 2);
    form->addWidget(label(QStringLiteral("Имя файла блока:")), 2, 0);
    form->addWidget(PatternEdit, 2, 1);

    Table = new QTableWidget(0, ColumnCount, this);
    Table->setObjectName(QStringLiteral("BoardTable"));
    Table->setHorizontalHeaderLabels({QStringLiteral("Адрес"), QStringLiteral("Состояние"),
                                      QStringLiteral("Последнее отключение"),
                                      QStringLiteral("SHA-256"), QStringLiteral("Файл"),
                                      QStringLiteral("Сравнение"), QStringLiteral("Итог")});
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setWordWrap(false);
    Table->setTextElideMode(Qt::ElideMiddle);
    const int widths[ColumnCount] = {55, 230, 300, 160, 220, 120, 160};
    for (int c = 0; c < ColumnCount; ++c)
        Table->setColumnWidth(c, widths[c]);
    connect(Table, &QTableWidget::itemSelectionChanged, this, &BoardWindow::setButtons);

    ScanButton = button("ScanButton", QStringLiteral("Опросить линию"), &BoardWindow::scan);
    ReadButton = button("ReadButton", QStringLiteral("Прочитать в файлы"),
                        &BoardWindow::readIntoFiles);
    CompareButton = button("CompareButton", QStringLiteral("Сравнить с файлами"),
                           &BoardWindow::compareWithFiles);
    WriteButton = button("WriteButton", QStringLiteral("Записать файлы ..."),
                         &BoardWindow::writeFiles);
    OpenButton = button("OpenButton", QStringLiteral("Открыть в главном окне"),
                        &BoardWindow::openInMainWindow);
    PickButton = button("PickButton", QStringLiteral("Файл блока ..."), &BoardWindow::pickFile);
    FeederButton = button("FeederButton", QStringLiteral("Присоединение ..."),
                          &BoardWindow::editFeeder);
    ReportButton = button("ReportButton", QStringLiteral("Отчёт по щиту ..."),
                          &BoardWindow::showReport);
    AbortButton = button("AbortButton", QStringLiteral("Прервать"), &BoardWindow::abortBatch);

    auto *actions = new QHBoxLayout;
    for (QPushButton *b : {ScanButton, ReadButton, CompareButton, WriteButton, OpenButton})
        actions->addWidget(b);
    actions->addStretch();
    auto *rowActions = new QHBoxLayout;
    for (QPushButton *b : {PickButton, FeederButton, ReportButton})
        rowActions->addWidget(b);
    rowActions->addStretch();

    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("BoardProgress"));
    Progress->setRange(0, 1);
    Progress->setValue(0);
    StatusLabel = label(QString());
    StatusLabel->setObjectName(QStringLiteral("BoardStatus"));
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(Progress, 1);
    progressRow->addWidget(AbortButton);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(actions);
    layout->addWidget(Table, 1);
    layout->addLayout(rowActions);
    layout->addLayout(progressRow);
    layout->addWidget(StatusLabel);

    connect(&line_, &BoardLine::progress, this, [this](int done, int inAll) {
        if (action_ == Action::Scan) {
            Progress->setRange(0, std::max(1, inAll));
            Progress->setValue(done);
        } else {
            Progress->setValue(int(next_ - 1) * stepsPerUnit() + std::min(done, stepsPerUnit()));
        }
    });
    connect(&line_, &BoardLine::finished, this, [this] {
        if (action_ == Action::Scan)
            scanDone();
        else if (action_ != Action::None)
            unitDone();
    });
    for (QLineEdit *e : {FolderEdit, PatternEdit, AddressEdit})
        connect(e, &QLineEdit::editingFinished, this, [this] {
            storeValue(Section, "Folder", FolderEdit->text());
            storeValue(Section, "Pattern", PatternEdit->text());
            storeValue(Section, "Addresses", AddressEdit->text());
            showRows();
        });
    connect(FolderEdit, &QLineEdit::textChanged, this, &BoardWindow::showRows);
    connect(PatternEdit, &QLineEdit::textChanged, this, &BoardWindow::showRows);

    restore();
    resize(1280, 560);
}

BoardWindow::~BoardWindow()
{
    // The main window closing ends a batch at once; its end reaches no half-destroyed window.
    line_.disconnect(this);
    line_.close();
}

// --- what is kept --------------------------------------------------------------------------------

void BoardWindow::restore()
{
    if (const QString v = storedValue(Section, "Folder"); !v.isEmpty())
        FolderEdit->setText(v);
    if (const QString v = storedValue(Section, "Pattern"); !v.isEmpty())
        PatternEdit->setText(v);
    if (const QString v = storedValue(Section, "Addresses"); !v.isEmpty())
        AddressEdit->setText(v);
    if (const int ms = storedValue(Section, "ScanTimeoutMs").toInt(); ms > 0)
        TimeoutSpin->setValue(ms);
    // The units of the last scan, until the next one: their files and feeders stay with them.
    const qvoksb::AddressList kept =
        qvoksb::parseAddressList(storedValue(Section, "Units").toStdString(), 16);
    for (uint8_t a : kept.addresses) {
        Unit u;
        u.address = a;
        u.state = QStringLiteral("не опрошен");
        units_.push_back(u);
    }
    for (Unit &u : units_) {
        u.picked = storedValue(Section, unitKey("File", u.address).constData());
        u.labels.object = storedValue(Section, unitKey("Object", u.address).constData()).toStdString();
        u.labels.feeder = storedValue(Section, unitKey("Feeder", u.address).constData()).toStdString();
        u.labels.serialNumber =
            storedValue(Section, unitKey("Serial", u.address).constData()).toStdString();
    }
    showRows();
}

void BoardWindow::storeUnit(const Unit &u)
{
    // A store that fails costs only the offer next time.
    storeValue(Section, unitKey("File", u.address).constData(), u.picked);
    storeValue(Section, unitKey("Object", u.address).constData(), qs(u.labels.object));
    storeValue(Section, unitKey("Feeder", u.address).constData(), qs(u.labels.feeder));
    storeValue(Section, unitKey("Serial", u.address).constData(), qs(u.labels.serialNumber));
}

// --- the table -----------------------------------------------------------------------------------

BoardWindow::Unit *BoardWindow::unit(uint8_t address)
{
    for (Unit &u : units_)
        if (u.address == address)
            return &u;
    return nullptr;
}

std::vector<uint8_t> BoardWindow::addresses() const
{
    std::vector<uint8_t> out;
    for (const Unit &u : units_)
        out.push_back(u.address);
    return out;
}

std::vector<uint8_t> BoardWindow::selectedAddresses() const
{
    std::vector<uint8_t> out;
    for (int row = 0; row < Table->rowCount() && row < int(units_.size()); ++row)
        if (Table->selectionModel()->isRowSelected(row, QModelIndex()))
            out.push_back(units_[size_t(row)].address);
    return out;
}

QString BoardWindow::fileOf(uint8_t address) const
{
    for (const Unit &u : units_)
        if (u.address == address && !u.picked.isEmpty())
            return u.picked;
    if (FolderEdit->text().isEmpty() || PatternEdit->text().isEmpty())
        return {};
    return QDir(FolderEdit->text())
        .filePath(qs(board::fileNameFor(PatternEdit->text().toStdString(), address)));
}

void BoardWindow::showRows()
{
    const QList<uint8_t> selected = [this] {
        QList<uint8_t> s;
        for (uint8_t a : selectedAddresses())
            s << a;
        return s;
    }();
    Table->setRowCount(int(units_.size()));
    for (size_t i = 0; i < units_.size(); ++i) {
        const Unit &u = units_[i];
        const QString file = fileOf(u.address);
        const QString cells[ColumnCount] = {hexAddress(u.address), u.state, u.trip, u.digest,
                                            QDir::toNativeSeparators(file), u.compare, u.outcome};
        for (int c = 0; c < ColumnCount; ++c) {
            QTableWidgetItem *item = Table->item(int(i), c);
            if (!item) {
                item = new QTableWidgetItem;
                Table->setItem(int(i), c, item);
            }
            item->setText(cells[c]);
        }
        Table->item(int(i), FileColumn)
            ->setToolTip(u.picked.isEmpty() ? QStringLiteral("по имени в папке выданных файлов")
                                            : QStringLiteral("выбран для этого блока"));
    }
    Table->clearSelection();
    for (size_t i = 0; i < units_.size(); ++i)
        if (selected.contains(units_[i].address))
            Table->selectionModel()->select(Table->model()->index(int(i), 0),
                                            QItemSelectionModel::Select |
                                                QItemSelectionModel::Rows);
    setButtons();
}

void BoardWindow::setButtons()
{
    const bool idle = action_ == Action::None;
    const size_t chosen = selectedAddresses().size();
    for (QWidget *w : {static_cast<QWidget *>(ScanButton), static_cast<QWidget *>(AddressEdit),
                       static_cast<QWidget *>(TimeoutSpin),
                       static_cast<QWidget *>(FolderEdit), static_cast<QWidget *>(FolderButton),
                       static_cast<QWidget *>(PatternEdit), static_cast<QWidget *>(ReportButton)})
        w->setEnabled(idle);
    for (QPushButton *b : {ReadButton, CompareButton, WriteButton})
        b->setEnabled(idle && chosen > 0);
    for (QPushButton *b : {OpenButton, PickButton, FeederButton})
        b->setEnabled(idle && chosen == 1);
    AbortButton->setEnabled(!idle && !abortAsked_);
}

// --- the batches ---------------------------------------------------------------------------------

int BoardWindow::stepsPerUnit() const
{
    switch (action_) {
    case Action::Read:
        return qvoksb::modbus::LastTripStep;
    case Action::Compare:
        return qvoksb::modbus::WriteSteps;
    case Action::Write:
        return 2 * qvoksb::modbus::WriteSteps;
    default:
        return 1;
    }
}

std::optional<std::vector<BoardWindow::Job>> BoardWindow::plan(Action action)
{
    const std::vector<uint8_t> chosen = selectedAddresses();
    if (chosen.empty()) {
        Messages::Information(this, QStringLiteral("Выберите блоки в таблице."));
        return std::nullopt;
    }
    // Two units at one address answer together: whatever is sent there reaches both.
    QStringList conflicts;
    for (uint8_t a : chosen)
        if (unit(a)->presence == Presence::Garbled)
            conflicts << hexAddress(a);
    if (!conflicts.isEmpty()) {
        Messages::Error(this, QStringLiteral("По адресу %1 ответ искажён: возможно, там два блока "
                                             "с одним адресом.\nРазведите адреса и опросите линию "
                                             "снова. Ничего не отправлено.")
                                  .arg(conflicts.join(QStringLiteral(", "))));
        return std::nullopt;
    }
    size_t byPattern = 0;
    for (uint8_t a : chosen)
        byPattern += unit(a)->picked.isEmpty();
    if (byPattern > 0) {
        const QString folder = FolderEdit->text();
        const QFileInfo info(folder);
        QString problem;
        if (folder.isEmpty())
            problem = QStringLiteral("Не выбрана папка выданных файлов.");
        else if (!info.isDir())
            problem = QStringLiteral("Папки выданных файлов нет:\n%1").arg(folder);
        else if (!info.isReadable())
            problem = QStringLiteral("Папка выданных файлов не читается:\n%1").arg(folder);
        else if (const std::string why =
                     board::patternProblem(PatternEdit->text().toStdString(), byPattern);
                 !why.empty())
            problem = qs(why);
        if (!problem.isEmpty()) {
            Messages::Error(this, problem + QStringLiteral("\nНичего не отправлено."));
            return std::nullopt;
        }
    }
    std::vector<Job> jobs;
    QStringList problems, existing, listing;
    std::vector<QString> files;
    for (uint8_t a : chosen) {
        Job job{a, fileOf(a), std::nullopt};
        const std::string path = coreFileName(job.file);
        if (std::find(files.begin(), files.end(), job.file) != files.end())
            problems << QStringLiteral("адрес %1: файл %2 назначен и другому блоку")
                            .arg(hexAddress(a), job.file);
        files.push_back(job.file);
        if (action == Action::Read) {
            if (const std::string why = qvoksb::fileWriteProblem(path); !why.empty())
                problems << QStringLiteral("адрес %1: файл %2 не записать: %3")
                                .arg(hexAddress(a), job.file, qs(why));
            else if (QFileInfo::exists(job.file))
                existing << job.file;
        } else {
            const qvoksb::ConfigFileReading reading = qvoksb::readConfigFile(path);
            if (!reading.ok)
                problems << QStringLiteral("адрес %1: файл %2: %3")
                                .arg(hexAddress(a), job.file, qs(reading.problem));
            else
                job.set = qvoksb::withFixedValues(reading.set);
        }
        listing << QStringLiteral("адрес %1 ← %2").arg(hexAddress(a), job.file);
        jobs.push_back(std::move(job));
    }
    if (!problems.isEmpty()) {
        Messages::Error(this, problems.join(QLatin1Char('\n')) +
                                  QStringLiteral("\nНичего не отправлено."));
        return std::nullopt;
    }
    if (!existing.isEmpty() &&
        !Messages::Confirm(this, QStringLiteral("Эти файлы существуют и будут перезаписаны "
                                                "прочитанными параметрами:\n") +
                                     existing.join(QLatin1Char('\n')) +
                                     QStringLiteral("\nПродолжить?")))
        return std::nullopt;
    if (action == Action::Write &&
        !Messages::Confirm(this, QStringLiteral("Записать в блоки их файлы и проверить запись "
                                                "чтением?\n") +
                                     listing.join(QLatin1Char('\n'))))
        return std::nullopt;
    return jobs;
}

bool BoardWindow::startBatch(Action action, std::vector<Job> jobs)
{
    QString problem;
    BoardLine::Choice choice;
    choice.portNum = main_->FComPort;
    choice.dtr = main_->FDtrOn != 0;
    choice.rts = main_->FRtsOn != 0;
    if (main_->gatewayChosen())
        choice.gateway = main_->FGateway;
    if (!line_.open(choice, &problem)) {
        Messages::Error(this, problem);
        return false;
    }
    action_ = action;
    jobs_ = std::move(jobs);
    next_ = 0;
    abortAsked_ = false;
    unitsDone_ = unitsFailed_ = 0;
    Progress->setRange(0, std::max<int>(1, int(jobs_.size()) * stepsPerUnit()));
    Progress->setValue(0);
    for (const Job &j : jobs_)
        if (Unit *u = unit(j.address))
            u->outcome = QStringLiteral("ждёт");
    showRows();
    return true;
}

void BoardWindow::scan()
{
    if (action_ != Action::None)
        return;
    const qvoksb::AddressList list =
        qvoksb::parseAddressList(AddressEdit->text().toStdString(), 16);
    if (list.addresses.empty()) {
        Messages::Error(this, QStringLiteral("Адреса: ") + qs(list.problem));
        return;
    }
    if (!startBatch(Action::Scan, {}))
        return;
    StatusLabel->setText(QStringLiteral("Опрос линии ..."));
    exchange::ScanOptions options;
    options.addresses = list.addresses;
    options.timeout = exchange::Milliseconds(TimeoutSpin->value());
    storeValue(Section, "ScanTimeoutMs", QString::number(TimeoutSpin->value()));
    line_.startScan(options);
}

void BoardWindow::readIntoFiles()
{
    if (action_ == Action::None)
        if (auto jobs = plan(Action::Read); jobs && startBatch(Action::Read, std::move(*jobs)))
            nextUnit();
}

void BoardWindow::compareWithFiles()
{
    if (action_ == Action::None)
        if (auto jobs = plan(Action::Compare);
            jobs && startBatch(Action::Compare, std::move(*jobs)))
            nextUnit();
}

void BoardWindow::writeFiles()
{
    if (action_ == Action::None)
        if (auto jobs = plan(Action::Write); jobs && startBatch(Action::Write, std::move(*jobs)))
            nextUnit();
}

void BoardWindow::nextUnit()
{
    if (abortAsked_ || next_ >= jobs_.size() || line_.portLost()) {
        finishBatch();
        return;
    }
    const Job &job = jobs_[next_++];
    Unit *u = unit(job.address);
    u->outcome = QStringLiteral("идёт обмен ...");
    showRows();
    StatusLabel->setText(QStringLiteral("Блок %1: %2 из %3")
                             .arg(hexAddress(job.address))
                             .arg(next_)
                             .arg(jobs_.size()));
    exchange::Options o;
    o.address = job.address;
    switch (action_) {
    case Action::Read:
        o.kind = exchange::Kind::Read;
        break;
    case Action::Compare:
        o.kind = exchange::Kind::Compare;
        o.settings = *job.set;
        break;
    default:
        o.kind = exchange::Kind::Write;
        o.settings = *job.set;
        o.verify = true;
        break;
    }
    line_.startExchange(o);
}

void BoardWindow::unitDone()
{
    const Job &job = jobs_[next_ - 1];
    Unit *u = unit(job.address);
    const exchange::Result r = line_.result().value_or(exchange::Result{});
    bool ok = false;
    if (action_ == Action::Read && r.outcome == exchange::Outcome::Done && r.settings) {
        std::string why;
        if (qvoksb::writeConfigFile(coreFileName(job.file), *r.settings, &why)) {
            ok = true;
            u->outcome = QStringLiteral("прочитан в файл");
            u->compare.clear(); // the file now holds what the unit holds
        } else {
            u->outcome = QStringLiteral("файл не записан: ") + qs(why);
        }
    } else if (action_ == Action::Compare && r.outcome == exchange::Outcome::Done && r.settings) {
        ok = true;
        u->compare = differenceText(
            qvoksb::differenceCount(*job.set, *r.settings, qvoksb::Compared::Configuration));
        u->outcome = QStringLiteral("сравнен");
        u->date = now();
    } else if (action_ == Action::Write && (r.outcome == exchange::Outcome::Done ||
                                            r.outcome == exchange::Outcome::Differences)) {
        ok = r.outcome == exchange::Outcome::Done;
        u->compare = differenceText(r.differences.size());
        u->outcome = ok ? QStringLiteral("записан, проверен")
                        : QStringLiteral("записан, при проверке различия");
        u->date = now();
    } else {
        u->outcome = failureText(r);
        if (action_ != Action::Read)
            u->compare = QStringLiteral("не прочитан");
    }
    if (r.settings)
        u->digest = qs(qvoksb::journal::configurationDigest(*r.settings));
    else if (action_ == Action::Write && r.written && r.outcome == exchange::Outcome::Done)
        u->digest = qs(qvoksb::journal::configurationDigest(*r.written));
    if (r.lastTrip)
        u->trip = tripText(*r.lastTrip);
    ++(ok ? unitsDone_ : unitsFailed_);
    recordUnitExchange(line_.linkName(), r, coreFileName(job.file),
                       job.set ? &*job.set : nullptr, this);
    Progress->setValue(int(next_) * stepsPerUnit());
    showRows();
    nextUnit();
}

void BoardWindow::scanDone()
{
    const std::vector<exchange::ScanEntry> &entries = line_.entries();
    std::vector<Unit> found;
    for (const exchange::ScanEntry &e : entries) {
        if (e.presence == Presence::Silent)
            continue;
        Unit u;
        if (const Unit *known = unit(e.address))
            u = *known;
        u.address = e.address;
        u.presence = e.presence;
        u.state = stateText(e);
        if (e.lastTrip)
            u.trip = tripText(*e.lastTrip);
        u.outcome.clear();
        found.push_back(std::move(u));
    }
    // A unit asked for the first time takes its kept file and feeder, if it had any before.
    for (Unit &u : found) {
        if (!unit(u.address)) {
            u.picked = storedValue(Section, unitKey("File", u.address).constData());
            u.labels.object =
                storedValue(Section, unitKey("Object", u.address).constData()).toStdString();
            u.labels.feeder =
                storedValue(Section, unitKey("Feeder", u.address).constData()).toStdString();
            u.labels.serialNumber =
                storedValue(Section, unitKey("Serial", u.address).constData()).toStdString();
        }
    }
    units_ = std::move(found);
    QStringList list;
    for (const Unit &u : units_)
        list << hexAddress(u.address);
    storeValue(Section, "Units", list.join(QLatin1Char(',')));
    const bool lost = line_.portLost();
    const bool aborted = abortAsked_;
    line_.close();
    action_ = Action::None;
    const size_t garbled = size_t(std::count_if(units_.begin(), units_.end(), [](const Unit &u) {
        return u.presence == Presence::Garbled;
    }));
    QString text = QStringLiteral("Найдено блоков: %1").arg(units_.size() - garbled);
    if (garbled)
        text += QStringLiteral("; адресов с искажённым ответом: %1").arg(garbled);
    if (aborted)
        text += QStringLiteral(" (опрос прерван)");
    if (lost)
        text += QStringLiteral(" (порт пропал, опрос прерван)");
    StatusLabel->setText(text);
    Progress->setValue(Progress->maximum());
    showRows();
    emit batchFinished();
}

void BoardWindow::finishBatch()
{
    for (size_t i = next_; i < jobs_.size(); ++i)
        if (Unit *u = unit(jobs_[i].address))
            u->outcome = line_.portLost() ? QStringLiteral("не выполнено: порт пропал")
                                          : QStringLiteral("не выполнено: прервано");
    const size_t left = jobs_.size() - next_;
    line_.close();
    action_ = Action::None;
    jobs_.clear();
    QString text = QStringLiteral("Выполнено: %1, со сбоем: %2").arg(unitsDone_).arg(unitsFailed_);
    if (left)
        text += QStringLiteral(", не начато: %1").arg(left);
    StatusLabel->setText(text);
    showRows();
    emit batchFinished();
}

void BoardWindow::abortBatch()
{
    if (action_ == Action::None || abortAsked_)
        return;
    abortAsked_ = true;
    setButtons();
    if (action_ == Action::Scan) {
        line_.abort(); // a scan asks nothing that changes a unit: it stops at once
        return;
    }
    StatusLabel->setText(StatusLabel->text() +
                         QStringLiteral(" - прерывание после этого блока"));
}

// --- one unit ------------------------------------------------------------------------------------

void BoardWindow::openInMainWindow()
{
    const std::vector<uint8_t> chosen = selectedAddresses();
    if (action_ != Action::None || chosen.size() != 1)
        return;
    main_->RxSpinEdit26->setValue(chosen[0]);
    main_->raise();
    main_->activateWindow();
    main_->SIReadClick();
}

void BoardWindow::pickFile()
{
    const std::vector<uint8_t> chosen = selectedAddresses();
    if (action_ != Action::None || chosen.size() != 1)
        return;
    Unit *u = unit(chosen[0]);
    PickDialog.FileName = fileOf(u->address);
    if (!PickDialog.Execute(this))
        return;
    u->picked = PickDialog.FileName;
    u->compare.clear();
    storeUnit(*u);
    showRows();
}

void BoardWindow::editFeeder()
{
    const std::vector<uint8_t> chosen = selectedAddresses();
    if (action_ != Action::None || chosen.size() != 1)
        return;
    Unit *u = unit(chosen[0]);
    ReportForm form(this);
    form.setWindowTitle(QStringLiteral("Присоединение блока %1").arg(hexAddress(u->address)));
    form.ObjectEdit->setText(qs(u->labels.object));
    form.FeederEdit->setText(qs(u->labels.feeder));
    form.SerialEdit->setText(qs(u->labels.serialNumber));
    if (form.exec() != QDialog::Accepted)
        return;
    u->labels = form.labels();
    storeUnit(*u);
}

std::vector<board::Row> BoardWindow::reportRows() const
{
    std::vector<board::Row> rows;
    for (const Unit &u : units_) {
        board::Row r;
        r.address = u.address;
        r.labels = u.labels;
        // A file in the folder of issued files by its name, which the report's header completes.
        const QFileInfo file(fileOf(u.address));
        const bool inFolder = !FolderEdit->text().isEmpty() &&
                              file.absolutePath() == QFileInfo(FolderEdit->text()).absoluteFilePath();
        r.file = (inFolder ? file.fileName() : QDir::toNativeSeparators(file.filePath())).toStdString();
        r.digest = u.digest.toStdString();
        r.result = u.compare.toStdString();
        r.date = u.date.toStdString();
        rows.push_back(std::move(r));
    }
    return rows;
}

void BoardWindow::showReport()
{
    if (action_ != Action::None)
        return;
    BoardReport report;
    report.rows = reportRows();
    report.port = main_->currentLinkName();
    report.folder = FolderEdit->text().toStdString();
    report.time = now().toStdString();
    showBoardReport(report, PdfDialog, CsvDialog, this);
}

void BoardWindow::closeEvent(QCloseEvent *event)
{
    if (action_ != Action::None) {
        Messages::Information(this, QStringLiteral("Идёт работа с блоками: дождитесь её конца "
                                                   "или нажмите «Прервать»."));
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
