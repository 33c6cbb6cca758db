// What the host tells the driver through its settings record.
#ifndef MAROVIN_HOST_DRIVER_DRIVER_SETTINGS_H
#define MAROVIN_HOST_DRIVER_DRIVER_SETTINGS_H

namespace marovin_host {

struct DriverSettings {
    int station = 1;  // the default station
    bool multiStation = false;
    int retries = 2;
    int maxUnits = 8;
    int writeMode = 2;  // 2: queue writes for the PLC; 1: cache only
    bool remote = false;
    int linkNo = 0;
};

const int kSettingsWords = 32;
const int kNotifyContext = 7;  // the host's tag that comes back in onceReadDone

// Fills the settings record (kSettingsWords words); words not set are zero.
void fillSettings(const DriverSettings &settings, int *record);

}  // namespace marovin_host

#endif
