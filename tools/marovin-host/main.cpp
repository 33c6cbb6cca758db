// marovin-host: loads the driver like a panel runtime, registers variables,
// runs the exchange loop and shows the values.
#include "Areas.h"
#include "Clock.h"
#include "CommandLineWrites.h"
#include "CsvOutput.h"
#include "DemoVariables.h"
#include "DriverApi.h"
#include "DriverSetup.h"
#include "DumpOutput.h"
#include "ExchangeLoop.h"
#include "HostOptions.h"
#include "Link.h"
#include "MqttOutput.h"
#include "Outputs.h"
#include "PendingWrites.h"
#include "SimulatorProcess.h"
#include "StopSignals.h"
#include "Summary.h"
#include "TableOutput.h"
#include "Tags.h"
#include "TraceOutput.h"
#include "VariableSetup.h"
#include "VariableArgs.h"
#include "WebOutput.h"
#include "WriteQueue.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace marovin_host;

namespace {

enum ExitCode { kOk = 0, kRuntimeFailure = 1, kUsage = 2, kGivenUp = 3 };

const int kSimulatorStartMs = 5000;

// Prints a one-line message and hands back the exit code.
int fail(int code, const std::string &message)
{
    std::fprintf(stderr, "marovin-host: %s\n", message.c_str());
    return code;
}

// Parses -v, --vars, --tags, -o and -w into their records.
bool parseAllArgs(const HostOptions &o, std::vector<VariableArg> *variables, std::vector<VariableArg> *onceReads,
                  std::vector<WriteArg> *writes, std::string *error)
{
    for (const std::string &text : o.variables) {
        VariableArg arg;
        if (!parseVariable(text, &arg, error))
            return false;
        variables->push_back(arg);
    }
    for (const std::string &path : o.variableFiles) {
        if (!readVariableFile(path, variables, error))
            return false;
    }
    for (const std::string &path : o.tagFiles) {
        if (!readTagFile(path, variables, error))
            return false;
    }
    for (const std::string &text : o.onceReads) {
        VariableArg arg;
        if (!parseVariable(text, &arg, error, "once-read"))
            return false;
        onceReads->push_back(arg);
    }
    for (const std::string &text : o.writes) {
        WriteArg arg;
        if (!parseWrite(text, &arg, error))
            return false;
        writes->push_back(arg);
    }
    return true;
}

// Opens the port the options name; for the simulator, starts it first.
std::unique_ptr<marovin_port::Port> openPort(const HostOptions &o, SimulatorProcess *simulator, std::string *portText,
                                             std::string *error)
{
    std::unique_ptr<marovin_port::Port> port;
    switch (o.portKind) {
    case PortKind::Serial:
        port = marovin_port::openSerial(o.serialDevice, o.serial, error);
        if (!port)
            *error = "serial port: " + *error;
        break;
    case PortKind::Tcp:
        port = o.rfc2217 ? marovin_port::openRfc2217(o.tcpHost, o.tcpPort, o.serial, error)
                         : marovin_port::openTcpClient(o.tcpHost, o.tcpPort, error);
        if (!port)
            *error = (o.rfc2217 ? "rfc2217 port: " : "tcp port: ") + *error;
        break;
    case PortKind::Simulator: {
        std::vector<std::string> args;
        if (!splitArguments(o.simArgs, &args, error))
            return nullptr;
        if (o.remote && std::find(args.begin(), args.end(), "--remote") == args.end())
            args.push_back("--remote");
        if (o.lineRate > 0 && std::find(args.begin(), args.end(), "--line-rate") == args.end())
            args.insert(args.end(), {"--line-rate", std::to_string(o.lineRate), "--data-bits",
                                     std::to_string(o.serial.dataBits), "--parity", std::string(1, o.serial.parity),
                                     "--stop-bits", std::to_string(o.serial.stopBits)});
        const std::string path = o.simPath.empty() ? defaultSimulatorPath() : o.simPath;
        std::string ptyPath;
        if (!simulator->start(path, args, o.simLog, kSimulatorStartMs, &ptyPath, error))
            return nullptr;
        port = marovin_port::openSerial(ptyPath, o.serial, error);
        if (!port)
            *error = "cannot open the simulator's pty " + ptyPath + ": " + *error;
        break;
    }
    }
    if (port) {
        *portText = port->describe();
        if (o.portKind == PortKind::Simulator)
            *portText += " (marovin-sim)";
    }
    return port;
}

// Counts once-reads that ended at registration, with a message for each.
void countRegistrationOutcomes(const HostVariables &vars, RunStats *stats)
{
    for (const OnceReadItem &item : vars.onceReads) {
        if (item.state == OnceReadItem::Rejected) {
            ++stats->onceReadsFailed;
            std::fprintf(stderr, "marovin-host: once-read '%s' refused by the driver\n", item.arg.source.c_str());
        }
    }
}

// The summary's link line: final state, losses, reopen attempts.
std::string linkText(const Link &link)
{
    return std::string(linkStateName(link.state())) + ", " + std::to_string(link.losses()) + " losses, " +
           std::to_string(link.reopenAttempts()) + " reopen attempts";
}

}  // namespace

int main(int argc, char **argv)
{
    HostOptions o;
    const int parsed = parseOptions(argc, argv, &o);
    if (parsed >= 0)
        return parsed;

    std::string error;
    std::vector<VariableArg> variableArgs;
    std::vector<VariableArg> onceArgs;
    std::vector<WriteArg> writeArgs;
    if (!parseAllArgs(o, &variableArgs, &onceArgs, &writeArgs, &error))
        return fail(kUsage, error);
    if (variableArgs.empty()) {
        if (o.portKind == PortKind::Simulator)
            variableArgs = demoVariables();
        else if (onceArgs.empty() && writeArgs.empty())
            return fail(kUsage, "no variables: give -v STATION:AREA:ADDR, --vars FILE, --tags FILE, -w or -o");
    }

    DriverApi api;
    if (!loadDriver(o.libraryPath, &api, &error))
        return fail(kRuntimeFailure, error);

    HostVariables vars;
    if (!setUpVariables(api, o, variableArgs, onceArgs, writeArgs, &vars, &error))
        return fail(kUsage, error);
    for (const std::string &warning : vars.warnings)
        std::fprintf(stderr, "marovin-host: note: %s\n", warning.c_str());

    // Declared before the outputs: network outputs hold it until they stop.
    WriteQueue writeQueue;
    // Outputs, in the order they hear of things.
    Outputs outputs;
    bool traceOnStdout = false;
    if (o.trace) {
        std::unique_ptr<TraceOutput> trace = TraceOutput::open(o.traceFile, &error);
        if (!trace)
            return fail(kRuntimeFailure, error);
        traceOnStdout = trace->toStdout();
        outputs.add(std::move(trace));
    }
    if (!o.csvFile.empty()) {
        std::unique_ptr<CsvOutput> csv = CsvOutput::open(o.csvFile, vars.rows, &error);
        if (!csv)
            return fail(kRuntimeFailure, error);
        outputs.add(std::move(csv));
    }
    const bool inPlace = isatty(STDOUT_FILENO) && !traceOnStdout;
    outputs.add(std::make_unique<TableOutput>(stdout, inPlace, !o.quiet));
    DumpOutput *dump = nullptr;
    if (!o.dumpFile.empty()) {
        auto output = std::make_unique<DumpOutput>(o.dumpFile, api, vars.onceReads);
        dump = output.get();
        outputs.add(std::move(output));
    }
    if (o.http.enabled()) {
        if (!resolveHttpOptions(&o.http, vars.rows.size(), &error))
            return fail(kUsage, error);
        std::unique_ptr<WebOutput> web = WebOutput::start(o.http, vars.rows, writeQueue, &error);
        if (!web)
            return fail(kRuntimeFailure, error);
        std::fprintf(stderr, "marovin-host: web panel on %s%s\n", web->url().c_str(),
                     o.http.writes ? " (writes on)" : "");
        if (o.http.writes)
            writeQueue.keepOpen();
        outputs.add(std::move(web));
    }
    if (o.mqtt.enabled()) {
        std::unique_ptr<MqttOutput> mqtt = MqttOutput::create(o.mqtt, vars.rows, writeQueue, outputs, &error);
        if (!mqtt)
            return fail(kUsage, error);
        outputs.add(std::move(mqtt));
    }

    installStopSignals();
    SimulatorProcess simulator;
    std::string portText;
    std::unique_ptr<marovin_port::Port> port = openPort(o, &simulator, &portText, &error);
    if (!port)
        return fail(kRuntimeFailure, error);
    Link link(std::move(port));

    int settings[kSettingsWords];
    HostMemories memories;
    fillSettings(o, settings);
    setUpDriver(api, settings, &memories);
    registerReadList(api, vars.rows);
    registerOnceReads(api, o, &vars.onceReads);

    RunStats stats;
    countRegistrationOutcomes(vars, &stats);
    PendingWrites writes(api, o.writeMode != 2, writeQueue, stats, outputs);
    submitCommandLineWrites(std::move(vars.writes), writeQueue, outputs);

    SimulatorProcess *started = o.portKind == PortKind::Simulator ? &simulator : nullptr;
    LoopContext context{api, settings, o, link, started, portText, vars.rows, vars.onceReads, writes, outputs, stats};
    const LoopEnd end = runExchangeLoop(context);
    outputs.finish(RunView{vars.rows, stats, link.state(), portText, stats.endMs});

    int code = kOk;
    if (end == LoopEnd::LinkLost || end == LoopEnd::SimulatorExited) {
        std::string why = std::string(loopEndText(end)) + " (" + portText + ")";
        const std::string tail = o.portKind == PortKind::Simulator ? simulator.errorTail() : std::string();
        if (!tail.empty())
            why += ": " + tail;
        std::fprintf(stderr, "marovin-host: %s\n", why.c_str());
        code = kRuntimeFailure;
    } else if (stats.giveUps > 0 || stats.writesFailed > 0 || stats.onceReadsFailed > 0) {
        code = kGivenUp;
    }
    if (dump && !dump->error().empty()) {
        std::fprintf(stderr, "marovin-host: %s\n", dump->error().c_str());
        code = code == kOk ? kRuntimeFailure : code;
    }

    SummaryContext summary;
    summary.portText = portText;
    summary.linkText = linkText(link);
    summary.stopReason = loopEndText(end);
    // A pseudo-terminal has a baud setting but no line rate.
    const bool realLine =
        (o.portKind == PortKind::Serial && o.serialDevice.compare(0, 9, "/dev/pts/") != 0) || o.rfc2217;
    const double givenRate = static_cast<double>(o.lineRate) / marovin_port::bitsPerCharacter(o.serial);
    summary.lineBytesPerSecond = o.lineRate > 0 ? givenRate : realLine ? link.port().bytesPerSecond() : 0.0;
    summary.turnaroundS = o.turnaroundMs / 1000.0;
    printSummary(stdout, stats, summary);

    if (o.portKind == PortKind::Simulator) {
        link.port().flushInput();
        const std::string how = simulator.stop(3000);
        outputs.traceEvent("SIM " + how);
    }
    return code;
}
