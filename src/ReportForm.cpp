#include "ReportForm.h"

#include "UserSettings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace
{

constexpr const char *Section = "SettingsReport";
constexpr const char *Keys[4] = {"Object", "Feeder", "SerialNumber", "Tester"};

std::string *field(qvoksb::report::Labels &labels, int i)
{
    std::string *fields[4] = {&labels.object, &labels.feeder, &labels.serialNumber, &labels.tester};
    return fields[i];
}

} // namespace

ReportForm::ReportForm(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ReportForm"));
    setWindowTitle(QString::fromUtf8(qvoksb::report::Title));
    auto *form = new QFormLayout;
    const auto edit = [&](const char *name, int caption) {
        auto *line = new QLineEdit(this);
        line->setObjectName(QString::fromLatin1(name));
        line->setMaxLength(200);
        line->setMinimumWidth(320);
        const QString text = QString::fromUtf8(qvoksb::report::LabelCaptions[std::size_t(caption)]);
        line->setAccessibleName(text);
        form->addRow(QLatin1Char('&') + text + QLatin1Char(':'), line);
        return line;
    };
    ObjectEdit = edit("ObjectEdit", 0);
    FeederEdit = edit("FeederEdit", 1);
    SerialEdit = edit("SerialEdit", 2);
    TesterEdit = edit("TesterEdit", 3);
    const qvoksb::report::Labels kept = stored();
    QLineEdit *edits[4] = {ObjectEdit, FeederEdit, SerialEdit, TesterEdit};
    qvoksb::report::Labels copy = kept;
    for (int i = 0; i < 4; ++i)
        edits[i]->setText(QString::fromStdString(*field(copy, i)));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

qvoksb::report::Labels ReportForm::labels() const
{
    qvoksb::report::Labels labels;
    const QLineEdit *edits[4] = {ObjectEdit, FeederEdit, SerialEdit, TesterEdit};
    for (int i = 0; i < 4; ++i)
        *field(labels, i) = edits[i]->text().simplified().toStdString();
    return labels;
}

bool ReportForm::ask()
{
    if (exec() != QDialog::Accepted)
        return false;
    // A store that fails costs only the offer next time; the report is still made.
    store(labels());
    return true;
}

qvoksb::report::Labels ReportForm::stored()
{
    qvoksb::report::Labels labels;
    for (int i = 0; i < 4; ++i)
        *field(labels, i) = storedValue(Section, Keys[i]).toStdString();
    return labels;
}

bool ReportForm::store(const qvoksb::report::Labels &labels, QString *problem)
{
    qvoksb::report::Labels copy = labels;
    for (int i = 0; i < 4; ++i)
        if (!storeValue(Section, Keys[i], QString::fromStdString(*field(copy, i)), problem))
            return false;
    return true;
}
