// The wiring: options to the objects of a run, each room given only its own
// part of what the command line said.
#ifndef MAROVIN_HOST_APP_WIRING_H
#define MAROVIN_HOST_APP_WIRING_H

#include "config/HostOptions.h"
#include "driver/Driver.h"
#include "driver/VariableSetup.h"
#include "line/SimulatorProcess.h"
#include "loop/ExchangeLoop.h"
#include "model/LoopSettings.h"
#include "loop/Outputs.h"
#include "outputs/DumpOutput.h"
#include "store/StoreOutput.h"
#include "writes/WriteQueue.h"

#include <memory>
#include <string>
#include <vector>

namespace marovin_host {

class Link;

enum ExitCode { kOk = 0, kRuntimeFailure = 1, kUsage = 2, kGivenUp = 3 };

// A failure of the wiring: its exit code and one line for people.
struct Failure {
    int code = kOk;
    std::string message;
};

// The loop's part of the options, with what it takes from the driver's and the port.
LoopSettings loopSettings(const HostOptions &o, const std::string &portText);

// Reads -v, --vars, --tags, -o and -w (the demo set without any, against the
// simulator), loads the driver and checks every address with it, and encodes
// the -w values.
bool prepareVariables(const HostOptions &o, std::unique_ptr<Driver> *driver, HostVariables *vars,
                      std::vector<WriteRequest> *writes, Failure *failure);

// Outputs the run itself speaks to after the loop: null when not wanted.
struct RunOutputs {
    DumpOutput *dump = nullptr;
    StoreOutput *store = nullptr;
};

// The outputs of the run (which hold on to its rows) in the order they hear
// of things, the store first: its consumers learn each change's place from it.
bool addOutputs(HostOptions &o, const RunState &run, WriteQueue &queue, Outputs *outputs, RunOutputs *kept,
                Failure *failure);

// Opens the port the options name; for the simulator, starts it first.
std::unique_ptr<marovin_port::Port> openPort(const HostOptions &o, SimulatorProcess *simulator,
                                             std::string *portText, Failure *failure);

// The summary's link line: final state, losses, reopen attempts.
std::string linkText(const Link &link);

// The exit code of a finished run, with a message for a runtime failure.
int exitCode(LoopEnd end, const RunStats &stats, const std::string &portText, SimulatorProcess *simulator,
             const DumpOutput *dump, const std::string &outputFailure);

}  // namespace marovin_host

#endif
