// The port of the run: a serial line, a TCP or RFC 2217 server, or the
// bundled simulator on a pseudo-terminal.
#include "app/Wiring.h"

#include "util/Text.h"

#include <algorithm>

namespace marovin_host {

namespace {

const int kSimulatorStartMs = 5000;

// The simulator's arguments: --sim-args, and what the host's options ask of it.
bool simulatorArguments(const HostOptions &o, std::vector<std::string> *args, std::string *error)
{
    if (!splitArguments(o.simArgs, args, error))
        return false;
    if (o.driver.remote && std::find(args->begin(), args->end(), "--remote") == args->end())
        args->push_back("--remote");
    if (o.lineRate > 0 && std::find(args->begin(), args->end(), "--line-rate") == args->end())
        args->insert(args->end(), {"--line-rate", std::to_string(o.lineRate), "--data-bits",
                                   std::to_string(o.serial.dataBits), "--parity", std::string(1, o.serial.parity),
                                   "--stop-bits", std::to_string(o.serial.stopBits)});
    return true;
}

// Starts the simulator and opens its pty.
std::unique_ptr<marovin_port::Port> openSimulator(const HostOptions &o, SimulatorProcess *simulator,
                                                  std::string *error)
{
    std::vector<std::string> args;
    if (!simulatorArguments(o, &args, error))
        return nullptr;
    const std::string path = o.simPath.empty() ? defaultSimulatorPath() : o.simPath;
    std::string ptyPath;
    if (!simulator->start(path, args, o.simLog, kSimulatorStartMs, &ptyPath, error))
        return nullptr;
    std::unique_ptr<marovin_port::Port> port = marovin_port::openSerial(ptyPath, o.serial, error);
    if (!port)
        *error = "cannot open the simulator's pty " + ptyPath + ": " + *error;
    return port;
}

}  // namespace

std::unique_ptr<marovin_port::Port> openPort(const HostOptions &o, SimulatorProcess *simulator,
                                             std::string *portText, Failure *failure)
{
    std::unique_ptr<marovin_port::Port> port;
    std::string error;
    switch (o.portKind) {
    case PortKind::Serial:
        port = marovin_port::openSerial(o.serialDevice, o.serial, &error);
        if (!port)
            error = "serial port: " + error;
        break;
    case PortKind::Tcp:
        port = o.rfc2217 ? marovin_port::openRfc2217(o.tcpHost, o.tcpPort, o.serial, &error)
                         : marovin_port::openTcpClient(o.tcpHost, o.tcpPort, &error);
        if (!port)
            error = (o.rfc2217 ? "rfc2217 port: " : "tcp port: ") + error;
        break;
    case PortKind::Simulator:
        port = openSimulator(o, simulator, &error);
        break;
    }
    if (!port) {
        *failure = Failure{kRuntimeFailure, error};
        return nullptr;
    }
    *portText = port->describe();
    if (o.portKind == PortKind::Simulator)
        *portText += " (marovin-sim)";
    return port;
}

}  // namespace marovin_host
