// The host's side of the set-up calls: settings record, memories, callbacks, registrations.
#ifndef MAROVIN_HOST_DRIVER_SETUP_H
#define MAROVIN_HOST_DRIVER_SETUP_H

#include "DriverApi.h"
#include "HostModel.h"
#include "HostOptions.h"

#include <cstdint>
#include <vector>

namespace marovin_host {

const int kSettingsWords = 32;
const int kNotifyContext = 7;  // the host's tag that comes back in onceReadDone

// The memory blocks the host lends to the driver (it keeps their addresses only).
struct HostMemories {
    std::uint8_t bits[256] = {};
    std::uint16_t words[256] = {};
    std::uint16_t spare[64] = {};
};

// Fills the settings record from the options.
void fillSettings(const HostOptions &options, int *settings);
// SetComInfo, FlashLocalRegister and RegistCallBackFuncIntf, in that order.
void setUpDriver(const DriverApi &api, int *settings, HostMemories *memories);
// Builds the host variable list and has the driver rebuild its read list; returns its length.
int registerReadList(const DriverApi &api, const std::vector<ValueRow> &rows);
// Registers each once-read (mode 0); one the driver refuses is marked Rejected.
void registerOnceReads(const DriverApi &api, const HostOptions &options, std::vector<OnceReadItem> *items);

}  // namespace marovin_host

#endif
