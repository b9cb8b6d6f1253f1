#include "JournalWindow.h"

#include "FileNames.h"
#include "Messages.h"
#include "core/files/profile_file.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace journal = qvoksb::journal;

namespace
{

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

QString addressText(int address)
{
    return address < 0 ? QString()
                       : QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper();
}

// "2026-12-08T14:05:09+03:00" as "08.12.2026 14:05:09"; anything else as it stands.
QString timeText(const std::string &time)
{
    if (time.size() < 19 || time[4] != '-' || time[7] != '-' || time[10] != 'T')
        return qs(time);
    return qs(time.substr(8, 2) + '.' + time.substr(5, 2) + '.' + time.substr(0, 4) + ' ' +
              time.substr(11, 8));
}

} // namespace

// --- the model --------------------------------------------------------------------------------

void JournalModel::setRecords(std::vector<journal::Record> records)
{
    records_ = std::move(records);
    setFilter(filter_);
}

void JournalModel::setFilter(const Filter &filter)
{
    beginResetModel();
    filter_ = filter;
    rows_.clear();
    for (int i = int(records_.size()) - 1; i >= 0; --i)
        if (passes(records_[std::size_t(i)]))
            rows_.push_back(i);
    endResetModel();
}

bool JournalModel::passes(const journal::Record &r) const
{
    if (r.damaged)
        return filter_.address < 0 && filter_.kind.isEmpty() && filter_.firstDate.isEmpty() &&
               filter_.lastDate.isEmpty();
    if (filter_.address >= 0 && r.address != filter_.address)
        return false;
    if (!filter_.kind.isEmpty() && filter_.kind != qs(r.kind))
        return false;
    const QString date = qs(r.time.substr(0, 10));
    if (!filter_.firstDate.isEmpty() && date < filter_.firstDate)
        return false;
    if (!filter_.lastDate.isEmpty() && date > filter_.lastDate)
        return false;
    return true;
}

std::vector<const journal::Record *> JournalModel::shown() const
{
    std::vector<const journal::Record *> out;
    out.reserve(rows_.size());
    for (int i : rows_)
        out.push_back(&records_[std::size_t(i)]);
    return out;
}

int JournalModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int JournalModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return {};
    const journal::Record &r = records_[std::size_t(rows_[std::size_t(index.row())])];
    if (role == Qt::ForegroundRole && r.damaged)
        return QColor(Qt::darkRed);
    // Messages, file names and damaged lines are outside text: the tip shows them as they stand.
    if (role == Qt::ToolTipRole && (index.column() == Message || index.column() == Source))
        return Messages::plainToolTip(data(index, Qt::DisplayRole).toString());
    if (role != Qt::DisplayRole)
        return {};
    if (r.damaged) {
        if (index.column() == Outcome)
            return QStringLiteral("повреждённая строка %1").arg(r.line);
        if (index.column() == Message)
            return QString::fromUtf8(r.raw.data(), qsizetype(r.raw.size()));
        return {};
    }
    switch (index.column()) {
    case Time:
        return timeText(r.time);
    case Program:
        return qs(r.program);
    case Port:
        return qs(r.port);
    case Address:
        return addressText(r.address);
    case Kind:
        return qs(journal::kindCaption(r.kind));
    case Outcome:
        return qs(journal::outcomeCaption(r.outcome));
    case Message:
        return qs(r.message);
    case Source:
        return qs(r.source);
    case Digest:
        return qs(r.sha256.substr(0, 16));
    case Differences:
        return r.differences < 0 ? QVariant() : QVariant(r.differences);
    case LastTrip:
        return qs(r.lastTrip);
    default:
        return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const captions[ColumnCount] = {"Время",
                                                      "Программа",
                                                      "Порт",
                                                      "Адрес",
                                                      "Действие",
                                                      "Итог",
                                                      "Сообщение",
                                                      "Источник настроек",
                                                      "SHA-256",
                                                      "Различий",
                                                      "Последнее отключение"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return {};
    return QString::fromUtf8(captions[section]);
}

// --- the window -------------------------------------------------------------------------------

JournalWindow::JournalWindow(QString path, QWidget *parent)
    : QWidget(parent, Qt::Window),
      ExportDialog(FileDialog::Save, QStringLiteral("Экспорт журнала работ в CSV ..."),
                   QStringLiteral("таблица CSV"), QStringLiteral("*.csv"), QStringLiteral("csv")),
      path_(std::move(path))
{
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Журнал работ"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    const auto labelled = [this](QHBoxLayout *row, const QString &caption, QWidget *control) {
        auto *label = new QLabel(caption, this);
        label->setBuddy(control);
        row->addWidget(label);
        row->addWidget(control);
    };
    auto *filters = new QHBoxLayout;
    AddressFilter = new QComboBox(this);
    AddressFilter->setObjectName(QStringLiteral("AddressFilter"));
    AddressFilter->setAccessibleName(QStringLiteral("Адрес блока"));
    labelled(filters, QStringLiteral("&Адрес:"), AddressFilter);
    KindFilter = new QComboBox(this);
    KindFilter->setObjectName(QStringLiteral("KindFilter"));
    KindFilter->setAccessibleName(QStringLiteral("Действие"));
    KindFilter->addItem(QStringLiteral("все"));
    for (const journal::Name &k : journal::Kinds)
        KindFilter->addItem(QString::fromUtf8(k.caption), QString::fromUtf8(k.name));
    labelled(filters, QStringLiteral("&Действие:"), KindFilter);
    FirstDate = new QDateEdit(this);
    FirstDate->setObjectName(QStringLiteral("FirstDate"));
    FirstDate->setAccessibleName(QStringLiteral("Дата с"));
    LastDate = new QDateEdit(this);
    LastDate->setObjectName(QStringLiteral("LastDate"));
    LastDate->setAccessibleName(QStringLiteral("Дата по"));
    for (QDateEdit *d : {FirstDate, LastDate}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    }
    labelled(filters, QStringLiteral("&с:"), FirstDate);
    labelled(filters, QStringLiteral("&по:"), LastDate);
    filters->addStretch();
    ReloadButton = new QPushButton(QStringLiteral("&Обновить"), this);
    ReloadButton->setObjectName(QStringLiteral("ReloadButton"));
    ExportButton = new QPushButton(QStringLiteral("&Экспорт в CSV ..."), this);
    ExportButton->setObjectName(QStringLiteral("ExportButton"));
    filters->addWidget(ReloadButton);
    filters->addWidget(ExportButton);

    Table = new QTableView(this);
    Table->setObjectName(QStringLiteral("JournalTable"));
    Table->setAccessibleName(QStringLiteral("Записи журнала, новые сверху"));
    Table->setModel(&Model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setAlternatingRowColors(true);
    Table->setWordWrap(false);
    Table->verticalHeader()->hide();
    // Rows of one height and fixed column widths: a journal of 100 000 records opens at once.
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    const int widths[JournalModel::ColumnCount] = {140, 70,  60,  50, 90, 100,
                                                   260, 220, 130, 70, 200};
    for (int c = 0; c < JournalModel::ColumnCount; ++c)
        Table->setColumnWidth(c, widths[c]);
    Table->horizontalHeader()->setStretchLastSection(true);

    Summary = new QLabel(this);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Summary->setTextFormat(Qt::PlainText);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(Table, 1);
    layout->addWidget(Summary);
    resize(1000, 560);

    reload();
    connect(AddressFilter, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    connect(KindFilter, &QComboBox::currentIndexChanged, this, [this] { applyFilter(); });
    connect(FirstDate, &QDateEdit::dateChanged, this, [this] { applyFilter(); });
    connect(LastDate, &QDateEdit::dateChanged, this, [this] { applyFilter(); });
    connect(ReloadButton, &QPushButton::clicked, this, [this] { reload(); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { exportClick(); });
}

JournalWindow::~JournalWindow()
{
    if (job_)
        job_->stop = true;
}

void JournalWindow::reload()
{
    if (job_)
        job_->stop = true;
    job_.reset();
    const std::string path = coreFileName(path_);
    const QFileInfo file(path_);
    if (!file.isFile() || file.size() < quickReadBytes) {
        showReading(journal::read(path));
        return;
    }
    auto job = std::make_shared<ReadJob>();
    job_ = job;
    ReloadButton->setEnabled(false);
    ExportButton->setEnabled(false);
    Summary->setText(QStringLiteral("Чтение журнала ...  Файл: ") + path_);
    QPointer<JournalWindow> self(this);
    // The thread hands the window how far it has come and then the records; a window closed or
    // reloaded meanwhile stops the thread and takes nothing from it.
    QThreadPool::globalInstance()->start([job, path, self] {
        auto reading = std::make_shared<journal::Reading>(
            journal::read(path, [&](std::uint64_t done, std::uint64_t total) {
                const int percent = total ? int(done * 100 / total) : 100;
                if (job->percent.exchange(percent) != percent)
                    QMetaObject::invokeMethod(
                        qApp,
                        [job, self, percent] {
                            if (self && self->job_ == job)
                                self->Summary->setText(
                                    QStringLiteral("Чтение журнала: %1 %  Файл: %2")
                                        .arg(percent)
                                        .arg(self->path_));
                        },
                        Qt::QueuedConnection);
                return !job->stop;
            }));
        QMetaObject::invokeMethod(
            qApp,
            [job, self, reading] {
                if (!self || self->job_ != job)
                    return;
                self->job_.reset();
                self->ReloadButton->setEnabled(true);
                self->ExportButton->setEnabled(true);
                self->showReading(std::move(*reading));
            },
            Qt::QueuedConnection);
    });
}

void JournalWindow::showReading(journal::Reading reading)
{
    // The filter's choices are what the journal holds: its addresses and the span of its dates.
    std::set<int> addresses;
    QString first, last;
    for (const journal::Record &r : reading.records) {
        if (r.damaged)
            continue;
        if (r.address >= 0)
            addresses.insert(r.address);
        const QString date = qs(r.time.substr(0, 10));
        if (QDate::fromString(date, Qt::ISODate).isValid()) {
            if (first.isEmpty() || date < first)
                first = date;
            if (last.isEmpty() || date > last)
                last = date;
        }
    }
    const QVariant chosen = AddressFilter->currentData();
    // A bound at the end of the old span follows the journal's new span; one the user moved stays.
    const bool firstAtEnd = !loaded_ || FirstDate->date() == FirstDate->minimumDate();
    const bool lastAtEnd = !loaded_ || LastDate->date() == LastDate->maximumDate();
    loaded_ = true;
    {
        const QSignalBlocker blockAddress(AddressFilter), blockFirst(FirstDate),
            blockLast(LastDate);
        AddressFilter->clear();
        AddressFilter->addItem(QStringLiteral("все"), -1);
        for (int a : addresses)
            AddressFilter->addItem(addressText(a), a);
        AddressFilter->setCurrentIndex(std::max(0, AddressFilter->findData(chosen)));
        const QDate today = QDate::currentDate();
        const QDate firstDate = first.isEmpty() ? today : QDate::fromString(first, Qt::ISODate);
        const QDate lastDate = last.isEmpty() ? today : QDate::fromString(last, Qt::ISODate);
        FirstDate->setDateRange(firstDate, std::max(lastDate, firstDate));
        LastDate->setDateRange(firstDate, std::max(lastDate, firstDate));
        if (firstAtEnd)
            FirstDate->setDate(FirstDate->minimumDate());
        if (lastAtEnd)
            LastDate->setDate(LastDate->maximumDate());
    }
    QString summary = reading.ok ? QStringLiteral("Записей: %1")
                                       .arg(reading.records.size() - std::size_t(reading.damaged))
                                 : qs(reading.problem);
    if (reading.damaged)
        summary += QStringLiteral(", повреждённых строк: %1").arg(reading.damaged);
    if (reading.older)
        summary += QStringLiteral(" (показаны последние %1 записей; более старые записи файла не "
                                  "прочитаны)")
                       .arg(reading.records.size());
    Summary->setText(summary + QStringLiteral(".  Файл: ") + path_);
    Model.setRecords(std::move(reading.records));
    applyFilter();
}

void JournalWindow::applyFilter()
{
    JournalModel::Filter filter;
    filter.address =
        AddressFilter->currentData().isValid() ? AddressFilter->currentData().toInt() : -1;
    filter.kind = KindFilter->currentData().toString();
    // Dates at the ends of the journal's span bound nothing: a line without a readable date
    // still shows while the whole span is chosen.
    if (FirstDate->date() > FirstDate->minimumDate())
        filter.firstDate = FirstDate->date().toString(Qt::ISODate);
    if (LastDate->date() < LastDate->maximumDate())
        filter.lastDate = LastDate->date().toString(Qt::ISODate);
    Model.setFilter(filter);
}

bool JournalWindow::exportTo(const QString &path, QString *problem)
{
    std::string why;
    if (qvoksb::saveFileAtomically(coreFileName(path), journal::csvText(Model.shown()), &why))
        return true;
    if (problem)
        *problem = qs(why);
    return false;
}

void JournalWindow::exportClick()
{
    if (!ExportDialog.Execute(this))
        return;
    const QString name = ExportDialog.FileName;
    if (QFile::exists(name) &&
        !Messages::Confirm(this, QStringLiteral("Файл с именем:\n") + name +
                                     QStringLiteral("\nсуществует, перезаписать его?")))
        return;
    QString problem;
    if (exportTo(name, &problem))
        Messages::Information(this, QStringLiteral("Журнал работ сохранён в файле:\n") + name);
    else
        Messages::Error(this, QStringLiteral("Журнал работ не сохранён:\n") + problem);
}
