#include "TrafficLog.h"

#include "Messages.h"
#include "core/modbus/frame_describer.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QListView>
#include <QPainter>
#include <QStaticText>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

// A row is one line of plain text and nothing else. Every batch scrolls all the rows in sight,
// so each line is laid out once, when it first comes into sight, and then only drawn: the lines
// in sight keep their layout, found by the line's number. Every row is as wide as the longest
// line: with rows of one size the view asks one row for its size, and a long frame must still be
// reachable with the horizontal scroll bar.
class TrafficLineDelegate : public QStyledItemDelegate
{
public:
    static constexpr int marginPx = 3;
    static constexpr int keptLayouts = 400; // more than a screen's rows
    using QStyledItemDelegate::QStyledItemDelegate;
    int widthPx = 0;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        return {widthPx + 2 * marginPx, option.fontMetrics.height() + 2};
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        if (selected)
            painter->fillRect(option.rect, option.palette.highlight());
        painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                                 : option.palette.color(QPalette::Text));
        const quint64 number = index.data(Qt::UserRole).toULongLong();
        auto laid = layouts_.find(number);
        if (laid == layouts_.end()) {
            if (layouts_.size() >= keptLayouts)
                layouts_.clear();
            QStaticText text(index.data().toString());
            text.setTextFormat(Qt::PlainText); // a line is never read as HTML
            text.setPerformanceHint(QStaticText::AggressiveCaching);
            text.prepare(painter->transform(), option.font);
            laid = layouts_.insert(number, text);
        }
        const int top = option.rect.top() + (option.rect.height() - option.fontMetrics.height()) / 2;
        painter->setFont(option.font);
        painter->drawStaticText(option.rect.left() + marginPx, top, *laid);
    }
    void forget() { layouts_.clear(); }
    void widen(int px, const QModelIndex &any)
    {
        widthPx = px;
        emit sizeHintChanged(any);
    }

private:
    mutable QHash<quint64, QStaticText> layouts_;
};

namespace
{

QString stamp(const QTime &t)
{
    return t.toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

// --- the lines ---------------------------------------------------------------------------------

TrafficLogModel::TrafficLogModel(int capacity, QObject *parent)
    : QAbstractListModel(parent), ring_(std::size_t(capacity))
{
}

void TrafficLogModel::append(const QStringList &batch)
{
    const std::size_t capacity = ring_.size();
    const std::size_t n = std::min<std::size_t>(std::size_t(batch.size()), capacity);
    if (n == 0)
        return;
    if (const std::size_t drop = count_ + n > capacity ? count_ + n - capacity : 0; drop > 0) {
        beginRemoveRows({}, 0, int(drop) - 1);
        first_ = (first_ + drop) % capacity;
        count_ -= drop;
        endRemoveRows();
    }
    beginInsertRows({}, int(count_), int(count_ + n) - 1);
    for (qsizetype i = batch.size() - qsizetype(n); i < batch.size(); ++i)
        ring_[(first_ + count_++) % capacity] = batch.at(i);
    appended_ += n;
    endInsertRows();
}

void TrafficLogModel::clear()
{
    beginResetModel();
    for (QString &line : ring_)
        line.clear();
    // The lines' numbers go on counting, so that no number names two lines.
    first_ = count_ = 0;
    endResetModel();
}

const QString &TrafficLogModel::line(int row) const
{
    return ring_[(first_ + std::size_t(row)) % ring_.size()];
}

QStringList TrafficLogModel::lines() const
{
    QStringList out;
    out.reserve(qsizetype(count_));
    for (std::size_t row = 0; row < count_; ++row)
        out.append(line(int(row)));
    return out;
}

int TrafficLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(count_);
}

QVariant TrafficLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(count_))
        return {};
    if (role == Qt::DisplayRole)
        return line(index.row());
    if (role == Qt::UserRole) // the line's number since the log was made: a row's lines change
        return quint64(appended_ - count_ + std::size_t(index.row()));
    return {};
}

// --- the window --------------------------------------------------------------------------------

TrafficLogWindow::TrafficLogWindow(QWidget *parent)
    : QWidget(parent, Qt::Window),
      SaveDialog(FileDialog::Save, QStringLiteral("Сохранение журнала обмена"),
                 QStringLiteral("текстовый файл"), QStringLiteral("*.txt"), QStringLiteral("txt")),
      model_(maxLines)
{
    setObjectName(QStringLiteral("TrafficLog"));
    setWindowTitle(QStringLiteral("Журнал обмена"));
    // The log does not keep the program running once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(760, 360);

    Lines = new QListView(this);
    Lines->setObjectName(QStringLiteral("Lines"));
    Lines->setAccessibleName(QStringLiteral("Кадры обмена"));
    Lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Lines->setUniformItemSizes(true);
    Lines->setWordWrap(false);
    Lines->setTextElideMode(Qt::ElideNone);
    Lines->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Lines->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Lines->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    delegate_ = new TrafficLineDelegate(Lines);
    Lines->setItemDelegate(delegate_);
    Lines->setModel(&model_);
    // The selected lines as text, as a text view would copy them.
    auto *copy = new QShortcut(QKeySequence::Copy, Lines);
    copy->setContext(Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, [this] { copySelection(); });

    SaveButton = new QPushButton(QStringLiteral("Сохранить ..."), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    ClearButton = new QPushButton(QStringLiteral("Очистить"), this);
    ClearButton->setObjectName(QStringLiteral("ClearButton"));
    connect(SaveButton, &QPushButton::clicked, this, [this] { saveClick(); });
    connect(ClearButton, &QPushButton::clicked, this, [this] { clearLines(); });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(ClearButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Lines, 1);
    layout->addLayout(buttons);

    batch_.setSingleShot(true);
    batch_.setInterval(batchMs);
    connect(&batch_, &QTimer::timeout, this, &TrafficLogWindow::flush);
}

TrafficLogWindow::~TrafficLogWindow() = default;

void TrafficLogWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    recording_ = true;
}

void TrafficLogWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A minimised log goes on recording; only closing it stops.
    if (!event->spontaneous() && recording_) {
        flush();
        recording_ = false;
    }
}

void TrafficLogWindow::add(QString line)
{
    pending_.append(std::move(line));
    // More than the window keeps would only be trimmed again on screen.
    if (pending_.size() > maxLines)
        pending_.erase(pending_.begin(), pending_.begin() + (pending_.size() - maxLines));
    if (!batch_.isActive())
        batch_.start();
}

void TrafficLogWindow::sent(std::span<const uint8_t> request)
{
    add(stamp(QTime::currentTime()) + QStringLiteral(" → ") +
        fromStd(qvoksb::modbus::hexBytes(request)) + QStringLiteral("  ") +
        fromStd(qvoksb::modbus::describeRequest(request)));
}

void TrafficLogWindow::received(std::span<const uint8_t> request, std::span<const uint8_t> reply,
                                const QTime &arrived)
{
    add(stamp(arrived.isValid() ? arrived : QTime::currentTime()) + QStringLiteral(" ← ") +
        fromStd(qvoksb::modbus::hexBytes(reply)) + QStringLiteral("  ") +
        fromStd(qvoksb::modbus::describeReply(request, reply)));
}

void TrafficLogWindow::discarded(std::span<const uint8_t> bytes, const QString &why,
                                 const QTime &arrived)
{
    add(stamp(arrived.isValid() ? arrived : QTime::currentTime()) + QStringLiteral(" ← ") +
        fromStd(qvoksb::modbus::hexBytes(bytes)) + QStringLiteral("  отброшено: ") + why);
}

void TrafficLogWindow::note(const QString &text, bool problem)
{
    add(stamp(QTime::currentTime()) + (problem ? QStringLiteral(" !! ") : QStringLiteral(" == ")) +
        text);
}

void TrafficLogWindow::flush()
{
    batch_.stop();
    if (pending_.isEmpty())
        return;
    // The view follows the newest line unless the user has scrolled away from it.
    QScrollBar *bar = Lines->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    const auto longest = std::max_element(
        pending_.cbegin(), pending_.cend(),
        [](const QString &a, const QString &b) { return a.size() < b.size(); });
    // One insertion for the whole batch.
    model_.append(pending_);
    if (longest->size() > longest_) {
        longest_ = longest->size();
        delegate_->widen(Lines->fontMetrics().horizontalAdvance(*longest), model_.index(0));
    }
    pending_.clear();
    if (following)
        Lines->scrollToBottom();
}

void TrafficLogWindow::copySelection()
{
    QModelIndexList rows = Lines->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList text;
    for (const QModelIndex &row : rows)
        text << model_.line(row.row());
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text.join(QLatin1Char('\n')));
}

QStringList TrafficLogWindow::lines() const
{
    QStringList out = model_.lines();
    out.append(pending_);
    if (out.size() > maxLines)
        out.erase(out.begin(), out.begin() + (out.size() - maxLines));
    return out;
}

bool TrafficLogWindow::saveTo(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = lines().join(QLatin1Char('\n')).toUtf8();
    text.append('\n');
    file.write(text);
    return file.commit();
}

void TrafficLogWindow::clearLines()
{
    pending_.clear();
    batch_.stop();
    model_.clear();
    longest_ = 0;
    delegate_->widthPx = 0;
    delegate_->forget();
}

void TrafficLogWindow::saveClick()
{
    if (!SaveDialog.Execute(this))
        return;
    if (!saveTo(SaveDialog.FileName))
        Messages::Error(
            this, QStringLiteral("Не удалось записать журнал в файл %1").arg(SaveDialog.FileName));
}
