// Placeholder until the configuration files land.
#include "Main.h"

void TFKsb::SILoadClick() {}
void TFKsb::SISaveClick() {}
void TFKsb::SaveConfigFile() {}
void TFKsb::LoadConfigFile() {}
