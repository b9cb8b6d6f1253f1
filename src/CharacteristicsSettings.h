#pragma once
// The settings the characteristics are drawn from, out of the main window's current settings set,
// and the signals of the controls that hold them, so that the curves follow every change at once.
#include "characteristics.h"

#include <functional>

class QObject;
class TFKsb;

qvoksb::characteristics::Settings characteristicsSettings(const TFKsb &window);

// Calls `changed` after any change of a setting that characteristicsSettings reads; the
// connections end with `context`.
void connectCharacteristicsSettings(const TFKsb &window, QObject *context,
                                    const std::function<void()> &changed);
