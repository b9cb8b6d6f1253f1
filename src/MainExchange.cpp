// Placeholder until the exchange window lands.
#include "Main.h"

void TFKsb::StartExchange(int) {}
void TFKsb::SIWriteClick() {}
void TFKsb::SIReadClick() {}
void TFKsb::Button1Click() {}
void TFKsb::Button2Click() {}
