// Race-free access to the host's settings record and to the driver flags that
// the exchange thread and the screen threads both touch. The record keeps its
// plain-int layout; only the accesses are atomic.
#ifndef MAROVIN_SETTINGS_H
#define MAROVIN_SETTINGS_H

#include "Marovin.h"

namespace marovin {

// The settings record, or null before SetComInfo.
inline int *settingsRecord()
{
    return __atomic_load_n(&PLC_driver.settings, __ATOMIC_ACQUIRE);
}

inline void setSettingsRecord(int *record)
{
    __atomic_store_n(&PLC_driver.settings, record, __ATOMIC_RELEASE);
}

// Word `word` of the settings record; the record must be set.
inline int setting(int word)
{
    return __atomic_load_n(settingsRecord() + word, __ATOMIC_RELAXED);
}

inline void setSetting(int word, int value)
{
    __atomic_store_n(settingsRecord() + word, value, __ATOMIC_RELAXED);
}

// Adds `delta` to a settings word and returns the new value.
inline int addSetting(int word, int delta)
{
    return __atomic_add_fetch(settingsRecord() + word, delta, __ATOMIC_RELAXED);
}

inline bool commFailed()
{
    return __atomic_load_n(&PLC_driver.commFailed, __ATOMIC_RELAXED);
}

inline void setCommFailed(bool failed)
{
    __atomic_store_n(&PLC_driver.commFailed, failed, __ATOMIC_RELAXED);
}

// Station a driver-made variable uses: its own, or the default in single-station operation.
inline int effectiveStation(int station)
{
    return setting(MarovinSettings::multiStation) != 0 ? station
                                                       : setting(MarovinSettings::defaultStation);
}

}  // namespace marovin

#endif
