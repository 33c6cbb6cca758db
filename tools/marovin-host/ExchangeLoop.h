// The exchange loop: ComCommunication, send, receive, DataCom, on one thread.
#ifndef MAROVIN_HOST_EXCHANGE_LOOP_H
#define MAROVIN_HOST_EXCHANGE_LOOP_H

#include "DriverApi.h"
#include "HostModel.h"
#include "HostOptions.h"
#include "Link.h"
#include "Outputs.h"
#include "PendingWrites.h"
#include "SimulatorProcess.h"

#include <string>
#include <vector>

namespace marovin_host {

enum class LoopEnd { Cycles, Duration, Signal, NothingLeft, LinkLost, SimulatorExited };

// Text for the summary's "stopped" line.
const char *loopEndText(LoopEnd end);

struct LoopContext {
    const DriverApi &api;
    int *settings;
    const HostOptions &options;
    Link &link;
    SimulatorProcess *simulator;  // null unless the host started it
    std::string portText;
    std::vector<ValueRow> &rows;
    std::vector<OnceReadItem> &onceReads;
    PendingWrites &writes;
    Outputs &outputs;
    RunStats &stats;
};

// Runs until a stop condition holds; the last exchange is always finished.
LoopEnd runExchangeLoop(LoopContext &context);
// Fetches every row's value with GetRegisterData.
void fetchValues(const DriverApi &api, std::vector<ValueRow> *rows);

}  // namespace marovin_host

#endif
