// What the host tells the driver through its settings record.
#ifndef MAROVIN_HOST_MODEL_DRIVER_SETTINGS_H
#define MAROVIN_HOST_MODEL_DRIVER_SETTINGS_H

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

}  // namespace marovin_host

#endif
