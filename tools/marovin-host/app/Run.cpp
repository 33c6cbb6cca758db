// Declared in the order they must outlive each other: the write queue before
// the outputs (network outputs hold it until they stop), the run's rows
// before the outputs that show them.
#include "app/Run.h"

#include "app/Summary.h"
#include "app/Wiring.h"
#include "line/Link.h"
#include "util/StopSignals.h"
#include "writes/CommandLineWrites.h"

#include <cstdio>

namespace marovin_host {

namespace {

// Prints the failure's message and hands back its exit code.
int report(const Failure &failure)
{
    std::fprintf(stderr, "marovin-host: %s\n", failure.message.c_str());
    return failure.code;
}

// Counts once-reads that ended at registration, with a message for each.
void countRejectedOnceReads(RunState *run)
{
    for (const OnceRead &item : run->onceReads) {
        if (item.state == OnceRead::Rejected) {
            ++run->stats.onceReadsFailed;
            std::fprintf(stderr, "marovin-host: once-read '%s' refused by the driver\n", item.entry.source.c_str());
        }
    }
}

}  // namespace

std::string linkText(const Link &link)
{
    return std::string(linkStateName(link.state())) + ", " + std::to_string(link.losses()) + " losses, " +
           std::to_string(link.reopenAttempts()) + " reopen attempts";
}

int exitCode(LoopEnd end, const RunStats &stats, const std::string &portText, SimulatorProcess *simulator,
             const DumpOutput *dump, const std::string &outputFailure)
{
    int code = kOk;
    if (end == LoopEnd::LinkLost || end == LoopEnd::SimulatorExited) {
        std::string why = std::string(loopEndText(end)) + " (" + portText + ")";
        const std::string tail = simulator ? simulator->errorTail() : std::string();
        if (!tail.empty())
            why += ": " + tail;
        code = report(Failure{kRuntimeFailure, why});
    } else if (stats.giveUps > 0 || stats.writesFailed > 0 || stats.onceReadsFailed > 0) {
        code = kGivenUp;
    }
    if (dump && !dump->error().empty()) {
        report(Failure{kRuntimeFailure, dump->error()});
        code = code == kOk ? kRuntimeFailure : code;
    }
    // A gateway that never reached its broker failed at what it was run for,
    // as a lost link does: 1, even when variables were given up too.
    if (!outputFailure.empty())
        code = report(Failure{kRuntimeFailure, outputFailure});
    return code;
}

namespace {

// The summary: figures of the run, and the line's efficiency where its rate is known.
void printRunSummary(const HostOptions &o, const RunStats &stats, const std::string &portText, Link &link,
                     LoopEnd end, const std::string &storeText)
{
    SummaryContext summary;
    summary.storeText = storeText;
    summary.portText = portText;
    summary.linkText = linkText(link);
    summary.stopReason = loopEndText(end);
    // A pseudo-terminal has a baud setting but no line rate.
    const bool realLine =
        (o.portKind == PortKind::Serial && o.serialDevice.compare(0, 9, "/dev/pts/") != 0) || o.rfc2217;
    const double givenRate = static_cast<double>(o.lineRate) / marovin_port::bitsPerCharacter(o.serial);
    summary.lineBytesPerSecond = o.lineRate > 0 ? givenRate : realLine ? link.port().bytesPerSecond() : 0.0;
    summary.turnaroundS = o.loop.turnaroundMs / 1000.0;
    printSummary(stdout, stats, summary);
}

// Everything after the outputs: the port, the driver's set-up, the loop and the report.
int runLine(HostOptions &o, Driver &driver, RunState &run, std::vector<WriteRequest> writes, WriteQueue &queue,
            Outputs &outputs, const RunOutputs &kept)
{
    installStopSignals();
    SimulatorProcess simulator;
    std::string portText;
    Failure failure;
    std::unique_ptr<marovin_port::Port> port = openPort(o, &simulator, &portText, &failure);
    if (!port)
        return report(failure);
    Link link(std::move(port));
    driver.setUp(o.driver);
    driver.registerReadList(run.rows);
    driver.registerOnceReads(&run.onceReads);
    countRejectedOnceReads(&run);
    submitCommandLineWrites(
        std::move(writes), queue, [&outputs](const std::string &text) { outputs.traceEvent(text); },
        [&outputs, &run](const std::string &text) {
            ++run.stats.writesFailed;
            outputs.notice(Notice(Notice::WriteFailed, text));
        });

    SimulatorProcess *started = o.portKind == PortKind::Simulator ? &simulator : nullptr;
    const LoopSettings settings = loopSettings(o, portText);
    const LoopEnd end = runExchangeLoop(settings, LoopParts{driver, link, started, queue, outputs}, run);
    outputs.finish(RunView{run.rows, run.stats, link.state(), portText, run.stats.endMs});
    const int code = exitCode(end, run.stats, portText, started, kept.dump, outputs.runFailure());
    if (kept.store)
        kept.store->close();
    printRunSummary(o, run.stats, portText, link, end, kept.store ? kept.store->summaryText() : std::string());
    if (started) {
        link.port().flushInput();
        outputs.traceEvent("SIM " + simulator.stop(3000));
    }
    return code;
}

}  // namespace

int runHost(HostOptions &o)
{
    Failure failure;
    std::unique_ptr<Driver> driver;
    HostVariables vars;
    std::vector<WriteRequest> writes;
    if (!prepareVariables(o, &driver, &vars, &writes, &failure))
        return report(failure);
    for (const std::string &warning : vars.warnings)
        std::fprintf(stderr, "marovin-host: note: %s\n", warning.c_str());
    RunState run;
    run.rows = std::move(vars.rows);
    run.onceReads = std::move(vars.onceReads);
    WriteQueue queue;
    Outputs outputs;
    RunOutputs kept;
    if (!addOutputs(o, run, queue, &outputs, &kept, &failure))
        return report(failure);
    return runLine(o, *driver, run, std::move(writes), queue, outputs, kept);
}

}  // namespace marovin_host
