#pragma once
// The settings the characteristics are drawn from, as the main window's controls hold them, and
// the signals of those controls, so that the curves follow every change at once.
#include "characteristics.h"

#include <functional>

class QObject;
class TFKsb;

qvoksb::characteristics::Settings characteristicsSettings(const TFKsb &window);

// Calls `changed` after any change of a setting that characteristicsSettings reads; the
// connections end with `context`.
void connectCharacteristicsSettings(const TFKsb &window, QObject *context,
                                    const std::function<void()> &changed);
