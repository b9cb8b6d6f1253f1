// The window's settings as a set: read from every control, or put into them as a user would.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

using qvoksb::Kind;
using qvoksb::SettingsSet;

SettingsSet TFKsb::currentSettings() const
{
    SettingsSet set;
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
        readSetting(set, r);
    return set;
}

void TFKsb::readSettings(SettingsSet &set, std::span<const qvoksb::Setting> which) const
{
    for (qvoksb::Setting s : which)
        readSetting(set, qvoksb::rowOf(s));
}

void TFKsb::readSetting(SettingsSet &set, const qvoksb::SettingRow &r) const
{
    QWidget *c = settingControl(r.id);
    switch (r.kind) {
    case Kind::Numeric:
        set.setValue(r.id, static_cast<SpinEdit *>(c)->value());
        break;
    case Kind::Choice:
        set.setValue(r.id, static_cast<QComboBox *>(c)->currentIndex());
        break;
    case Kind::RelayBox:
        set.setValue(r.id, static_cast<QCheckBox *>(c)->isChecked());
        break;
    case Kind::Text:
        set.setText(r.id, static_cast<QLineEdit *>(c)->text().toStdString());
        break;
    }
}

void TFKsb::applySettings(const SettingsSet &set)
{
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
        QWidget *c = settingControl(r.id);
        switch (r.kind) {
        case Kind::Numeric:
            static_cast<SpinEdit *>(c)->setValueFromProgram(
                static_cast<long long>(set.value(r.id)));
            break;
        case Kind::Choice:
            SetListIndex(static_cast<QComboBox *>(c), set.value(r.id));
            break;
        case Kind::RelayBox:
            static_cast<QCheckBox *>(c)->setChecked(set.checked(r.id));
            break;
        case Kind::Text:
            static_cast<QLineEdit *>(c)->setText(QString::fromStdString(set.text(r.id)));
            break;
        }
    }
}

void TFKsb::followSettings(std::span<const qvoksb::Setting> which, QObject *context,
                           const std::function<void()> &changed) const
{
    for (qvoksb::Setting s : which) {
        QWidget *c = settingControl(s);
        switch (qvoksb::rowOf(s).kind) {
        case Kind::Numeric:
            connect(static_cast<SpinEdit *>(c), &QSpinBox::valueChanged, context, changed);
            break;
        case Kind::Choice:
            connect(static_cast<QComboBox *>(c), &QComboBox::currentIndexChanged, context, changed);
            break;
        case Kind::RelayBox:
            connect(static_cast<QCheckBox *>(c), &QAbstractButton::toggled, context, changed);
            break;
        case Kind::Text:
            connect(static_cast<QLineEdit *>(c), &QLineEdit::textChanged, context, changed);
            break;
        }
    }
}
