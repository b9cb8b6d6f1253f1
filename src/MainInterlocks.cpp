// Placeholder until the interlocks land: the handlers exist so that the window builds.
#include "Main.h"

#include <QLabel>

QLabel *TFKsb::labelFor(QWidget *) const
{
    return nullptr;
}
void TFKsb::connectInterlocks() {}
void TFKsb::applyStartupInterlocks() {}
void TFKsb::applyRelaySetRule(int) {}
void TFKsb::ComboBox1Change(QComboBox *) {}
void TFKsb::CheckBox1Click() {}
void TFKsb::CheckBox7Click() {}
void TFKsb::CheckBox8Click() {}
void TFKsb::CheckBox12Click() {}
void TFKsb::CheckBox16Click() {}
void TFKsb::CheckBox20Click() {}
void TFKsb::CheckBox24Click() {}
void TFKsb::CheckBox28Click() {}
void TFKsb::CheckBox32Click() {}
void TFKsb::RxSpinEdit9Change(SpinEdit *) {}
void TFKsb::RxSpinEdit11Change(SpinEdit *) {}
