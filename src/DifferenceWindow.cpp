#include "DifferenceWindow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using qvoksb::Compared;

namespace
{

QString utf8(const std::string &text)
{
    return QString::fromStdString(text);
}

} // namespace

DifferenceWindow::DifferenceWindow(QWidget *parent, Source source, const qvoksb::SettingsSet &first,
                                   const qvoksb::SettingsSet &other, const QString &fileName)
    : QDialog(parent), source_(source), first_(first), other_(other),
      // The unit holds no last-trip texts among its settings; a file does.
      compared_(source == Source::File ? Compared::Everything : Compared::Configuration)
{
    setObjectName(QStringLiteral("DifferenceWindow"));
    switch (source) {
    case Source::Unit:
        setWindowTitle(QStringLiteral("Сравнение с блоком"));
        break;
    case Source::File:
        setWindowTitle(QStringLiteral("Сравнение с файлом ") + fileName);
        break;
    case Source::Verification:
        setWindowTitle(QStringLiteral("Проверка записи чтением"));
        break;
    }

    summary_ = new QLabel(this);
    table_ = new QTableWidget(0, 4, this);
    table_->setAccessibleName(QStringLiteral("Параметры"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Страница"), QStringLiteral("Параметр"),
         source == Source::Verification ? QStringLiteral("Записано") : QStringLiteral("В окне"),
         source == Source::File ? QStringLiteral("В файле") : QStringLiteral("В блоке")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    ShowAll = new QCheckBox(QStringLiteral("показать все параметры"), this);
    connect(ShowAll, &QCheckBox::toggled, this, &DifferenceWindow::fillTable);

    auto *buttons = new QDialogButtonBox(this);
    auto add = [&](const QString &caption, Choice choice) {
        QPushButton *b = buttons->addButton(caption, QDialogButtonBox::ActionRole);
        connect(b, &QPushButton::clicked, this, [this, choice] {
            choice_ = choice;
            accept();
        });
        return b;
    };
    if (source == Source::File) {
        add(QStringLiteral("Загрузить файл"), Choice::LoadFile);
    } else {
        add(QStringLiteral("Записать в блок"), Choice::WriteToUnit);
        add(QStringLiteral("Загрузить из блока"), Choice::LoadFromUnit);
    }
    add(QStringLiteral("Закрыть"), Choice::Close)->setDefault(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summary_);
    layout->addWidget(table_, 1);
    layout->addWidget(ShowAll);
    layout->addWidget(buttons);
    resize(860, 420);

    const std::size_t count = qvoksb::differenceCount(first_, other_, compared_);
    if (count > 0)
        summary_->setText(QStringLiteral("Различаются параметры: %1").arg(count));
    else if (source == Source::Verification)
        summary_->setText(QStringLiteral("Блок хранит все записанные значения."));
    else
        summary_->setText(source == Source::File
                              ? QStringLiteral("Настройки в окне и в файле совпадают.")
                              : QStringLiteral("Настройки в окне и в блоке совпадают."));
    fillTable();
}

QString DifferenceWindow::summary() const
{
    return summary_->text();
}

void DifferenceWindow::fillTable()
{
    rows_ = qvoksb::differenceRows(first_, other_, compared_, ShowAll->isChecked());
    table_->setRowCount(int(rows_.size()));
    for (int i = 0; i < int(rows_.size()); ++i) {
        const qvoksb::DifferenceRow &r = rows_[std::size_t(i)];
        const QString cells[] = {utf8(r.page), utf8(r.caption), utf8(r.left), utf8(r.right)};
        for (int c = 0; c < 4; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (r.differs && ShowAll->isChecked()) {
                QFont f = item->font();
                f.setBold(true);
                item->setFont(f);
            }
            table_->setItem(i, c, item);
        }
    }
    table_->resizeColumnToContents(0);
    table_->resizeColumnToContents(2);
    table_->resizeColumnToContents(3);
}

DifferenceWindow::Choice DifferenceWindow::ask()
{
    choice_ = Choice::Close;
    exec();
    return choice_;
}
