// The outputs, in the order they hear of things: store, trace, CSV, table,
// dump, web panel, MQTT (JSON topics, or a Sparkplug edge node), historian.
#include "app/Wiring.h"

#include "historian/Historian.h"
#include "mqtt/MqttOutput.h"
#include "outputs/CsvOutput.h"
#include "outputs/TableOutput.h"
#include "outputs/TraceOutput.h"
#include "sparkplug/SparkplugNode.h"
#include "web/WebOutput.h"

#include <unistd.h>

#include <cstdio>

namespace marovin_host {

namespace {

// The web panel, started; false with the failure.
bool addWeb(HostOptions &o, const RunState &run, WriteQueue &queue, const Outbox *store, Outputs *outputs,
            Failure *failure)
{
    std::string error;
    if (!resolveHttpOptions(&o.http, run.rows.size(), &error)) {
        *failure = Failure{kUsage, error};
        return false;
    }
    std::unique_ptr<WebOutput> web = WebOutput::start(o.http, run.rows, queue, store, &error);
    if (!web) {
        *failure = Failure{kRuntimeFailure, error};
        return false;
    }
    std::fprintf(stderr, "marovin-host: web panel on %s%s\n", web->url().c_str(), o.http.writes ? " (writes on)" : "");
    if (o.http.writes)
        queue.keepOpen();
    outputs->add(std::move(web));
    return true;
}

// The store, first of the outputs; and the historian, which needs it.
bool addStore(HostOptions &o, const RunState &run, Outputs *outputs, StoreOutput **store, Failure *failure)
{
    if (!o.store.enabled())
        return true;
    std::string error;
    if (o.historian.enabled() && !completeHistorianOptions(&o.historian, &error)) {
        *failure = Failure{kUsage, error};
        return false;
    }
    auto output = std::make_unique<StoreOutput>(o.store, run.rows);
    *store = output.get();
    outputs->add(std::move(output));
    return true;
}

}  // namespace

bool addOutputs(HostOptions &o, const RunState &run, WriteQueue &queue, Outputs *outputs, RunOutputs *kept,
                Failure *failure)
{
    if (!addStore(o, run, outputs, &kept->store, failure))
        return false;
    std::string error;
    bool traceOnStdout = false;
    if (o.trace) {
        std::unique_ptr<TraceOutput> trace = TraceOutput::open(o.traceFile, &error);
        if (!trace) {
            *failure = Failure{kRuntimeFailure, error};
            return false;
        }
        traceOnStdout = trace->toStdout();
        outputs->add(std::move(trace));
    }
    if (!o.csvFile.empty()) {
        std::unique_ptr<CsvOutput> csv = CsvOutput::open(o.csvFile, run.rows, &error);
        if (!csv) {
            *failure = Failure{kRuntimeFailure, error};
            return false;
        }
        outputs->add(std::move(csv));
    }
    const bool inPlace = isatty(STDOUT_FILENO) && !traceOnStdout;
    outputs->add(std::make_unique<TableOutput>(stdout, inPlace, !o.quiet));
    if (!o.dumpFile.empty()) {
        if (!dumpWritable(o.dumpFile, &error)) {
            *failure = Failure{kRuntimeFailure, error};
            return false;
        }
        auto output = std::make_unique<DumpOutput>(o.dumpFile, run.onceReads);
        kept->dump = output.get();
        outputs->add(std::move(output));
    }
    if (o.http.enabled() && !addWeb(o, run, queue, kept->store, outputs, failure))
        return false;
    if (o.sparkplug.enabled()) {
        std::unique_ptr<SparkplugNode> node =
            SparkplugNode::create(o.mqtt, o.sparkplug, run.rows, queue, kept->store, &error);
        if (!node) {
            *failure = Failure{kUsage, error};
            return false;
        }
        outputs->add(std::move(node));
    } else if (o.mqtt.enabled()) {
        std::unique_ptr<MqttOutput> mqtt = MqttOutput::create(o.mqtt, o.ha, run.rows, queue, kept->store, &error);
        if (!mqtt) {
            *failure = Failure{kUsage, error};
            return false;
        }
        outputs->add(std::move(mqtt));
    }
    if (o.historian.enabled())
        outputs->add(std::make_unique<Historian>(o.historian, *kept->store));
    return true;
}

}  // namespace marovin_host
