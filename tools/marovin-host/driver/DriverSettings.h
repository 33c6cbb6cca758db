// The driver's settings record as the host fills it.
#ifndef MAROVIN_HOST_DRIVER_DRIVER_SETTINGS_H
#define MAROVIN_HOST_DRIVER_DRIVER_SETTINGS_H

#include "model/DriverSettings.h"

namespace marovin_host {

const int kSettingsWords = 32;
const int kNotifyContext = 7;  // the host's tag that comes back in onceReadDone

// Fills the settings record (kSettingsWords words); words not set are zero.
void fillSettings(const DriverSettings &settings, int *record);

}  // namespace marovin_host

#endif
