// The exchange loop: ComCommunication, send, receive, DataCom, on one thread.
#ifndef MAROVIN_HOST_LOOP_EXCHANGE_LOOP_H
#define MAROVIN_HOST_LOOP_EXCHANGE_LOOP_H

#include "driver/Driver.h"
#include "line/Link.h"
#include "line/SimulatorProcess.h"
#include "model/LoopSettings.h"
#include "loop/Outputs.h"
#include "loop/StopRules.h"
#include "model/OnceRead.h"
#include "model/RunStats.h"
#include "model/TagRow.h"
#include "writes/WriteQueue.h"

#include <vector>

namespace marovin_host {

// The run's data that the loop keeps up to date; the wiring owns it.
struct RunState {
    std::vector<TagRow> rows;
    std::vector<OnceRead> onceReads;
    RunStats stats;
};

// What the loop drives and whom it tells.
struct LoopParts {
    Driver &driver;
    Link &link;
    SimulatorProcess *simulator;  // null unless the host started it
    WriteQueue &writes;
    Outputs &outputs;
};

// Runs until a stop condition holds; the last exchange is always finished.
// Writes still open at the end are answered Dropped; the outputs get a last
// refresh.
LoopEnd runExchangeLoop(const LoopSettings &settings, const LoopParts &parts, RunState &run);

}  // namespace marovin_host

#endif
