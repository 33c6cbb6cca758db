// marovin-host's command line, read with CLI11; every option may also come
// from a --config file (key = value, the option's long name as key).
#include "config/CommandLineGroups.h"

#include "CliChecks.h"
#include "ConfigFile.h"
#include "HostPort.h"

#include <map>

namespace marovin_host {

namespace {

using marovin_port::integerIn;
using marovin_port::seconds;

const char *const kDescription =
    "Drives libMarovin.so.1 like a panel runtime: registers variables, runs the exchange\n"
    "loop on a serial line, a TCP serial-device server or the bundled simulator, and shows\n"
    "the values live.\n";

const char *const kFooter =
    "Variables: ADDR is hex for areas 1..5 and the decimal status-bit number for area 0;\n"
    "AREA is 0..5 or bit|w16|d32|w16b|d32b|float; COUNT is a number of values.\n"
    "Tag file lines: NAME = STATION:AREA:ADDR[:COUNT] [rw] [type=T] [scale=K] [offset=B] [unit=U]\n"
    "[deadband=D] [min-interval=MS] (see marovin-tags(5)).\n"
    "Port: without --serial, --tcp or --rfc2217 the bundled simulator runs on a pseudo-terminal.\n"
    "--rfc2217 sets the server's line from --baud, --data-bits, --parity and --stop-bits.\n"
    "--line-rate is for the summary's efficiency; it also paces the bundled simulator.\n"
    "Stop: Ctrl-C finishes the current exchange and prints the summary.\n"
    "Config file: one option a line as NAME = VALUE (long name without dashes; lists as\n"
    "[\"a\", \"b\"]; flags as true); the command line wins over the file.\n"
    "Exit codes: 0 ok, 1 runtime failure, 2 usage error, 3 variables given up or writes failed.\n";

// HOST:PORT of --tcp and --rfc2217; the host defaults to 127.0.0.1 when only a port is given.
bool splitHostPort(const std::string &text, std::string *host, int *port)
{
    marovin_port::HostPortRules rules;
    rules.emptyHost = true;
    rules.hostCheck = marovin_port::HostCheck::Any;
    return marovin_port::parseHostPort(text, rules, host, port);
}

void addDriverOptions(CLI::App &app, HostOptions *o)
{
    const char *g = "Driver";
    app.add_option("--lib", o->libraryPath, "driver library (default: the one built beside this tool)")
        ->type_name("PATH")
        ->group(g);
    app.add_option("--station", o->driver.station, "default station (1)")->check(integerIn(0, 255))->type_name("N")->group(g);
    app.add_flag("--multi-station", o->driver.multiStation, "every variable keeps its own station")->group(g);
    app.add_option("--retries", o->driver.retries, "repeats before a variable is given up (2)")
        ->check(integerIn(0, 1000))
        ->type_name("N")
        ->group(g);
    app.add_option("--max-units", o->driver.maxUnits, "largest request in units (8)")
        ->check(integerIn(1, 1024))
        ->type_name("N")
        ->group(g);
    app.add_option("--write-mode", o->driver.writeMode, "queue writes for the PLC (plc) or only store them (cache)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, int>{{"plc", 2}, {"cache", 1}}).description(""))
        ->type_name("plc|cache")
        ->group(g);
    app.add_flag("--remote", o->driver.remote, "remote mode (descriptor frames)")->group(g);
    app.add_option("--link", o->driver.linkNo, "local link number (0)")->check(integerIn(0, 255))->type_name("N")->group(g);
}

void addVariableOptions(CLI::App &app, HostOptions *o)
{
    const char *g = "Variables";
    app.add_option("-v,--var", o->variables, "read cyclically (repeatable)")
        ->type_name("STATION:AREA:ADDR[:COUNT]")
        ->group(g);
    app.add_option("--vars", o->variableFiles, "one variable per line, '#' comments")->type_name("FILE")->group(g);
    app.add_option("--tags", o->tagFiles, "named tags, one a line, '#' comments (see below)")
        ->type_name("FILE")
        ->group(g);
    app.add_option("-w,--write", o->writes, "write once at start (repeatable)")
        ->type_name("STATION:AREA:ADDR=VALUE[,VALUE...]")
        ->group(g);
    app.add_option("-o,--once", o->onceReads, "read once and report (repeatable)")
        ->type_name("STATION:AREA:ADDR[:COUNT]")
        ->group(g);
}

void addPortOptions(CLI::App &app, HostOptions *o, std::string *tcp, std::string *rfc2217)
{
    const char *g = "Port";
    CLI::Option *serial = app.add_option("--serial", o->serialDevice, "a serial line")->type_name("DEV")->group(g);
    marovin_port::addSerialOptions(app, &o->serial, g);
    CLI::Option *plain =
        app.add_option("--tcp", *tcp, "a serial-device server")->type_name("HOST:PORT")->group(g)->excludes(serial);
    app.add_option("--rfc2217", *rfc2217, "a serial-device server with COM port control (RFC 2217)")
        ->type_name("HOST:PORT")
        ->group(g)
        ->excludes(serial)
        ->excludes(plain);
    app.add_option("--sim", o->simPath, "simulator to start (default: marovin-sim beside this tool)")
        ->type_name("PATH")
        ->group(g);
    app.add_option("--sim-args", o->simArgs, "simulator arguments (\"--demo\")")->type_name("\"ARGS\"")->group(g);
    app.add_option("--sim-log", o->simLog, "simulator output (its trace, its summary) into FILE")
        ->type_name("FILE")
        ->group(g);
    app.add_option("--line-rate", o->lineRate, "the line's rate behind a pty or TCP port (see below)")
        ->check(integerIn(50, 4000000))
        ->type_name("BAUD")
        ->group(g);
    app.add_option("--turnaround", o->loop.turnaroundMs, "pause between a reply and the next request (0)")
        ->check(integerIn(0, 60000))
        ->type_name("MS")
        ->group(g);
    app.add_option("--timeout", o->loop.timeoutMs, "reply timeout (1000)")
        ->check(integerIn(1, 600000))
        ->type_name("MS")
        ->group(g);
    app.add_option("--inter-byte", o->loop.interByteMs, "silence that ends a reply (50)")
        ->check(integerIn(1, 60000))
        ->type_name("MS")
        ->group(g);
    app.add_option("--rt-priority", o->loop.rtPriority, "real-time priority of the exchange thread (0: none)")
        ->check(integerIn(0, 99))
        ->type_name("N")
        ->group(g);
    app.add_option("--link-timeout", o->loop.linkTimeoutS, "end the run when the link stays down this long (30)")
        ->check(seconds())
        ->type_name("S")
        ->group(g);
}

void addOutputOptions(CLI::App &app, HostOptions *o, CLI::Option **trace)
{
    const char *g = "Output";
    app.add_option("--refresh", o->loop.refreshMs, "table refresh period (250)")
        ->check(integerIn(10, 3600000))
        ->type_name("MS")
        ->group(g);
    app.add_flag("-q,--quiet", o->quiet, "no table")->group(g);
    *trace = app.add_option("--trace", o->traceFile, "every frame in hex, with time and status")
                 ->expected(0, 1)
                 ->type_name("[FILE]")
                 ->group(g);
    app.add_option("--csv", o->csvFile, "timestamped values per refresh, appended")->type_name("FILE")->group(g);
    app.add_option("--dump", o->dumpFile, "final values as STATION:AREA:ADDR=VALUE lines")->type_name("FILE")->group(g);
}

void addStopOptions(CLI::App &app, HostOptions *o)
{
    const char *g = "Stop";
    app.add_option("--cycles", o->loop.cycles, "after N completed read cycles")
        ->check(integerIn(1, 1000000000))
        ->type_name("N")
        ->group(g);
    app.add_option("--duration", o->loop.durationS, "after S seconds (0: no limit)")
        ->check(seconds())
        ->type_name("S")
        ->group(g);
}

}  // namespace

void addCoreOptions(CLI::App &app, HostOptions *o, std::string *tcp, std::string *rfc2217, CLI::Option **trace)
{
    addDriverOptions(app, o);
    addVariableOptions(app, o);
    addPortOptions(app, o, tcp, rfc2217);
    addOutputOptions(app, o, trace);
    addStopOptions(app, o);
}

int parseOptions(int argc, char **argv, HostOptions *o, std::FILE *out, std::FILE *err)
{
    CLI::App app(kDescription, "marovin-host");
    app.footer(kFooter);
    app.formatter(std::make_shared<marovin_port::PlainFormatter>());
    app.get_formatter()->column_width(32);
    app.set_version_flag("--version", "marovin-host " MAROVIN_VERSION);
    app.set_config("--config", "", "read options from FILE (see below)")->type_name("FILE");
    app.allow_config_extras(CLI::config_extras_mode::error);

    std::string tcp;
    std::string rfc2217;
    CLI::Option *trace = nullptr;
    addCoreOptions(app, o, &tcp, &rfc2217, &trace);
    addHttpOptions(app, &o->http);
    addMqttOptions(app, &o->mqtt);
    addStoreOptions(app, &o->store, &o->historian);
    CLI::Option *haDiscovery = addPlantOptions(app, o);

    const int code = marovin_port::parseWithConfigPlaces(app, argc, argv, "marovin-host", out, err);
    if (code >= 0)
        return code;
    if (!tcp.empty() && !splitHostPort(tcp, &o->tcpHost, &o->tcpPort)) {
        std::fprintf(err, "marovin-host: --tcp: bad value '%s' (expected HOST:PORT)\n", tcp.c_str());
        return 2;
    }
    if (!rfc2217.empty() && !splitHostPort(rfc2217, &o->tcpHost, &o->tcpPort)) {
        std::fprintf(err, "marovin-host: --rfc2217: bad value '%s' (expected HOST:PORT)\n", rfc2217.c_str());
        return 2;
    }
    std::string error;
    if (!completePlantOptions(haDiscovery, o, &error)) {
        std::fprintf(err, "marovin-host: %s\n", error.c_str());
        return 2;
    }
    o->rfc2217 = !rfc2217.empty();
    o->portKind = !o->serialDevice.empty()           ? PortKind::Serial
                  : !tcp.empty() || !rfc2217.empty() ? PortKind::Tcp
                                                     : PortKind::Simulator;
    // A config file says "trace = true" for standard output, "trace = false" for none.
    o->trace = trace->count() > 0 && o->traceFile != "false";
    if (o->traceFile == "true" || o->traceFile == "false")
        o->traceFile.clear();
    return -1;
}

}  // namespace marovin_host
