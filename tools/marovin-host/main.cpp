// marovin-host: loads the driver like a panel runtime, registers variables,
// runs the exchange loop and shows the values.
#include "Areas.h"
#include "Clock.h"
#include "CsvLog.h"
#include "DemoVariables.h"
#include "DriverApi.h"
#include "DriverSetup.h"
#include "DumpFile.h"
#include "ExchangeLoop.h"
#include "HostOptions.h"
#include "Link.h"
#include "SimulatorProcess.h"
#include "StopSignals.h"
#include "Summary.h"
#include "TraceLog.h"
#include "ValueTable.h"
#include "VariableSetup.h"
#include "VariableArgs.h"

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

// Parses -v/--vars, -o and -w into their records, in command-line order.
bool parseAllArgs(const HostOptions &o, std::vector<VariableArg> *variables, std::vector<VariableArg> *onceReads,
                   std::vector<WriteArg> *writes, std::string *error)
{
    for (const VariableSource &source : o.variables) {
        if (source.isFile) {
            if (!readVariableFile(source.text, variables, error))
                return false;
            continue;
        }
        VariableArg arg;
        if (!parseVariable(source.text, &arg, error))
            return false;
        variables->push_back(arg);
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

// Every value the host holds at the end: table rows and finished once-reads.
std::vector<std::pair<ValueRef, QByteArray>> heldValues(const DriverApi &api, const HostVariables &v)
{
    std::vector<std::pair<ValueRef, QByteArray>> values;
    for (const ValueRow &row : v.rows) {
        if (row.reads > 0)
            values.emplace_back(row.ref, row.bytes);
    }
    std::vector<ValueRow> onceRows;
    for (const OnceReadItem &item : v.onceReads) {
        if (item.state != OnceReadItem::Done)
            continue;
        for (int k = 0; k < item.arg.count; ++k) {
            ValueRow row;
            row.ref = item.first;
            row.ref.address = item.first.address + k * addressStep(item.first.area);
            onceRows.push_back(row);
        }
    }
    fetchValues(api, &onceRows);
    for (const ValueRow &row : onceRows)
        values.emplace_back(row.ref, row.bytes);
    return values;
}

// Counts once-reads and writes that ended at registration, with a message for each failure.
void countRegistrationOutcomes(const HostVariables &vars, RunStats *stats)
{
    for (const OnceReadItem &item : vars.onceReads) {
        if (item.state == OnceReadItem::Rejected) {
            ++stats->onceReadsFailed;
            std::fprintf(stderr, "marovin-host: once-read '%s' refused by the driver\n", item.arg.source.c_str());
        }
    }
    for (const WriteItem &w : vars.writes) {
        if (w.state == WriteItem::Cached)
            ++stats->writesCached;
        if (w.state == WriteItem::Failed) {
            ++stats->writesFailed;
            std::fprintf(stderr, "marovin-host: write %d:%s:%s=%s failed: SetRegisterData returned 0\n",
                         w.ref.station, areaName(w.ref.area), addressLabel(w.ref.area, w.ref.address).c_str(),
                         w.valueText.c_str());
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
    std::string error;
    if (!parseOptions(argc, argv, &o, &error)) {
        fail(kUsage, error);
        return kUsage;
    }
    if (o.help) {
        printUsage(stdout);
        return kOk;
    }
    if (o.version) {
        std::printf("marovin-host 1.0.0\n");
        return kOk;
    }

    std::vector<VariableArg> variableArgs;
    std::vector<VariableArg> onceArgs;
    std::vector<WriteArg> writeArgs;
    if (!parseAllArgs(o, &variableArgs, &onceArgs, &writeArgs, &error))
        return fail(kUsage, error);
    if (variableArgs.empty()) {
        if (o.portKind == PortKind::Simulator)
            variableArgs = demoVariables();
        else if (onceArgs.empty() && writeArgs.empty())
            return fail(kUsage, "no variables: give -v STATION:AREA:ADDR, --vars FILE, -w or -o");
    }

    DriverApi api;
    if (!loadDriver(o.libraryPath, &api, &error))
        return fail(kRuntimeFailure, error);

    HostVariables vars;
    if (!setUpVariables(api, o, variableArgs, onceArgs, writeArgs, &vars, &error))
        return fail(kUsage, error);
    for (const std::string &warning : vars.warnings)
        std::fprintf(stderr, "marovin-host: note: %s\n", warning.c_str());

    TraceLog trace;
    if (o.trace && !trace.open(o.traceFile, &error))
        return fail(kRuntimeFailure, error);
    CsvLog csv;
    if (!o.csvFile.empty() && !csv.open(o.csvFile, vars.rows, &error))
        return fail(kRuntimeFailure, error);

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
    registerWrites(api, o, &vars.writes);

    RunStats stats;
    countRegistrationOutcomes(vars, &stats);

    const bool inPlace = isatty(STDOUT_FILENO) && !trace.toStdout();
    ValueTable table(stdout, inPlace, !o.quiet);
    SimulatorProcess *started = o.portKind == PortKind::Simulator ? &simulator : nullptr;
    LoopContext context{api,       settings,       o,           link,  started, portText, vars.rows,
                        vars.onceReads, vars.writes, trace, table, csv,     stats};
    const LoopEnd end = runExchangeLoop(context);
    table.finish();

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

    if (!o.dumpFile.empty() && !writeDump(o.dumpFile, heldValues(api, vars), &error)) {
        std::fprintf(stderr, "marovin-host: %s\n", error.c_str());
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
        trace.event("SIM " + how);
    }
    return code;
}
