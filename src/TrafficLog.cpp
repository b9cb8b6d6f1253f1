#include "TrafficLog.h"

#include "Messages.h"
#include "core/modbus/frame_describer.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QShowEvent>
#include <QTextBlock>
#include <QVBoxLayout>

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

TrafficLogWindow::TrafficLogWindow(QWidget *parent)
    : QWidget(parent, Qt::Window),
      SaveDialog(FileDialog::Save, QStringLiteral("Сохранение журнала обмена"),
                 QStringLiteral("текстовый файл"), QStringLiteral("*.txt"), QStringLiteral("txt"))
{
    setObjectName(QStringLiteral("TrafficLog"));
    setWindowTitle(QStringLiteral("Журнал обмена"));
    // The log does not keep the program running once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(760, 360);

    Lines = new QPlainTextEdit(this);
    Lines->setObjectName(QStringLiteral("Lines"));
    Lines->setReadOnly(true);
    Lines->setUndoRedoEnabled(false); // appended text is no edit to undo: keep no history of it
    Lines->setMaximumBlockCount(maxLines);
    // Long frames wrap at the window's edge. Without wrapping the view measures every new line
    // for its horizontal scroll bar, which makes each batch about three times as dear to show.
    Lines->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

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
    // One append for the whole batch: the view lays out and trims once.
    Lines->appendPlainText(pending_.join(QLatin1Char('\n')));
    pending_.clear();
}

QStringList TrafficLogWindow::lines() const
{
    QStringList out;
    const QTextDocument *doc = Lines->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        out.append(b.text());
    // An empty view is one empty block.
    if (out.size() == 1 && out.constFirst().isEmpty())
        out.clear();
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
    Lines->clear();
}

void TrafficLogWindow::saveClick()
{
    if (!SaveDialog.Execute(this))
        return;
    if (!saveTo(SaveDialog.FileName))
        Messages::Error(
            this, QStringLiteral("Не удалось записать журнал в файл %1").arg(SaveDialog.FileName));
}
