#include "Options.h"

#include "CliChecks.h"
#include "ConfigFile.h"
#include "HostPort.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace marovin_sim {

namespace {

// Whole-text integer in [low, high].
bool parseInt(const std::string &text, long long low, long long high, long long *out)
{
    long long v = 0;
    const char *end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, v, 10);
    if (text.empty() || r.ec != std::errc() || r.ptr != end || v < low || v > high)
        return false;
    *out = v;
    return true;
}

// Whole-text non-negative decimal number.
bool parseNumber(const std::string &text, double *out)
{
    double v = 0;
    const char *end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, v);
    if (text.empty() || r.ec != std::errc() || r.ptr != end || !(v >= 0))
        return false;
    *out = v;
    return true;
}

// A fault rate in percent, 0..100.
bool parsePercent(const std::string &text, double *out)
{
    return parseNumber(text, out) && *out <= 100.0;
}

// "1,2,5", "1-4", "all".
bool parseStations(const std::string &text, std::set<int> *out, bool *all)
{
    out->clear();
    *all = false;
    if (text == "all") {
        *all = true;
        return true;
    }
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto dash = item.find('-');
        long long a = 0, b = 0;
        if (dash == std::string::npos) {
            if (!parseInt(item, 0, 255, &a))
                return false;
            b = a;
        } else if (!parseInt(item.substr(0, dash), 0, 255, &a) || !parseInt(item.substr(dash + 1), 0, 255, &b) ||
                   b < a) {
            return false;
        }
        for (long long s = a; s <= b; ++s)
            out->insert(static_cast<int>(s));
    }
    return !out->empty();
}

}  // namespace

bool parseAnimation(const std::string &text, Animation *out, std::string *error)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        *error = "\"" + text + "\" is not STATION:AREA:ADDR=counter|sine|toggle|clock";
        return false;
    }
    if (!marovin_device::parseKey(text.substr(0, eq), &out->key, error))
        return false;
    const std::string kind = marovin_device::stripLine(text.substr(eq + 1));
    if (kind == "counter")
        out->kind = AnimationKind::Counter;
    else if (kind == "sine")
        out->kind = AnimationKind::Sine;
    else if (kind == "toggle")
        out->kind = AnimationKind::Toggle;
    else if (kind == "clock")
        out->kind = AnimationKind::Clock;
    else {
        *error = "animation \"" + kind + "\" is not counter, sine, toggle or clock";
        return false;
    }
    if (out->kind == AnimationKind::Clock && (out->key.area < 1 || out->key.area > 4)) {
        *error = "a clock animation needs a word area (1..4)";
        return false;
    }
    return true;
}

bool loadMemoryFile(const std::string &path, std::vector<marovin_device::Assignment> *sets,
                    std::vector<Animation> *animations, std::string *error, bool *unreadable)
{
    *unreadable = false;
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        *unreadable = true;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string body = marovin_device::stripLine(line);
        if (body.empty())
            continue;
        std::string why;
        bool ok = false;
        if (body.compare(0, 8, "animate ") == 0) {
            Animation a;
            ok = parseAnimation(body.substr(8), &a, &why);
            if (ok)
                animations->push_back(a);
        } else {
            marovin_device::Assignment a;
            ok = marovin_device::parseAssignment(body, &a, &why);
            if (ok)
                sets->push_back(a);
        }
        if (!ok) {
            *error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

namespace {

const char *const kDescription =
    "A PLC that answers the driver's request frames, for trying the driver and\n"
    "marovin-host without hardware.\n";

const char *const kFooter =
    "Transport: one of --pty (the default; the first line on stdout is\n"
    "\"marovin-sim: pty /dev/pts/N\"), --serial or --tcp.\n"
    "--set: A is the area code 0..5, ADDR hex for areas 1..5 and the status-bit number\n"
    "for area 0, VALUE decimal or 0x hex (a float for area 5).\n"
    "--line-rate: requests count as received once they would have crossed the line,\n"
    "replies go out a character at a time (character format from --data-bits,\n"
    "--parity, --stop-bits).\n"
    "Faults: at most one of drop/noise/short/corrupt per reply.\n"
    "A summary goes to stderr on exit (SIGINT, SIGTERM, SIGHUP, --exit-after, --duration).\n"
    "Config file: one option a line as NAME = VALUE (long name without dashes).\n"
    "Exit status: 0 done, 1 runtime failure, 2 usage error.\n";

// A check that runs parse on the text and passes its message on.
template <typename Parse>
CLI::Validator checkWith(Parse parse)
{
    return CLI::Validator(
        [parse](std::string &text) {
            std::string why;
            return parse(text, &why) ? std::string() : why;
        },
        "");
}

// A percentage 0..100 into *out.
CLI::Option *addPercent(CLI::App &app, const char *name, double *out, const char *help)
{
    return app
        .add_option_function<std::string>(
            name, [out](const std::string &v) { parsePercent(v, out); }, help)
        ->check(checkWith([](const std::string &v, std::string *why) {
            double p = 0;
            *why = "takes a percentage 0..100";
            return parsePercent(v, &p);
        }))
        ->type_name("P")
        ->group("Faults");
}

// --tcp [HOST:]PORT: HOST 127.0.0.1 when left out or empty, PORT 0 for any
// free port; the host goes to the resolver as written, which judges it.
marovin_port::HostPortRules listenRules()
{
    marovin_port::HostPortRules rules;
    rules.anyPort = true;
    rules.emptyHost = true;
    rules.hostCheck = marovin_port::HostCheck::Any;
    return rules;
}

void addTransportOptions(CLI::App &app, Options *o, std::string *tcp)
{
    const char *g = "Transport";
    CLI::Option *pty = app.add_flag("--pty", "pseudo-terminal (default)")->group(g);
    CLI::Option *serial = app.add_option("--serial", o->serialDevice, "a serial device")->type_name("DEV")->group(g);
    marovin_port::addSerialOptions(app, &o->serial, g);
    CLI::Option *t = app.add_option("--tcp", *tcp,
                                    "listen for one client at a time (HOST 127.0.0.1; PORT 0: any)")
                         ->type_name("[HOST:]PORT")
                         ->group(g);
    pty->excludes(serial)->excludes(t);
    serial->excludes(t);
}

void addDeviceOptions(CLI::App &app, Options *o)
{
    const char *g = "Device";
    app.add_option_function<std::string>(
           "--stations", [o](const std::string &v) { parseStations(v, &o->stations, &o->allStations); },
           "stations answered: 1,2,5 or 1-4 or all (1)")
        ->check(checkWith([](const std::string &v, std::string *why) {
            std::set<int> s;
            bool all = false;
            *why = "\"" + v + "\" is not a list like 1,2,5 or 1-4 or all (stations 0..255)";
            return parseStations(v, &s, &all);
        }))
        ->type_name("LIST")
        ->group(g);
    app.add_flag("--remote", o->remote, "descriptor frames (remote mode) instead of local requests")->group(g);
    app.add_flag("--no-echo", o->noEcho, "read replies carry zeros where they repeat the request's header")->group(g);
    app.add_option_function<std::vector<std::string>>(
           "--set",
           [o](const std::vector<std::string> &all) {
               for (const std::string &v : all) {
                   marovin_device::Assignment a;
                   std::string why;
                   marovin_device::parseAssignment(v, &a, &why);
                   o->sets.push_back(a);
               }
           },
           "initial value (repeatable; see below)")
        ->check(checkWith([](const std::string &v, std::string *why) {
            marovin_device::Assignment a;
            return marovin_device::parseAssignment(v, &a, why);
        }))
        ->type_name("S:A:ADDR=VALUE")
        ->group(g);
    app.add_option("--memory", o->memoryFiles,
                   "--set assignments and \"animate S:A:ADDR=KIND\" lines, '#' comments")
        ->type_name("FILE")
        ->group(g);
    app.add_option_function<std::vector<std::string>>(
           "--animate",
           [o](const std::vector<std::string> &all) {
               for (const std::string &v : all) {
                   Animation a;
                   std::string why;
                   parseAnimation(v, &a, &why);
                   o->animations.push_back(a);
               }
           },
           "a value that changes every tick: counter, sine, toggle or clock (repeatable)")
        ->check(checkWith([](const std::string &v, std::string *why) {
            Animation a;
            return parseAnimation(v, &a, why);
        }))
        ->type_name("S:A:ADDR=KIND")
        ->group(g);
    app.add_option("--tick", o->tickMs, "animation step (1000)")
        ->check(marovin_port::integerIn(1, 3600000))
        ->type_name("MS")
        ->group(g);
    app.add_flag("--demo", o->demo, "demo memory and animation on station 1")->group(g);
    app.add_option("--gap", o->gapMs, "silence after which a partial frame is dropped (200)")
        ->check(marovin_port::integerIn(1, 3600000))
        ->type_name("MS")
        ->group(g);
    app.add_option("--line-rate", o->lineRate, "keep a serial line's pace on --pty or --tcp (see below)")
        ->check(marovin_port::integerIn(50, 100000000))
        ->type_name("BAUD")
        ->group(g);
    app.add_option("--response-delay", o->responseDelayMs, "the device's turnaround before each reply (0)")
        ->check(marovin_port::integerIn(0, 60000))
        ->type_name("MS")
        ->group(g);
}

// An option "P:MS": a fault rate in percent and a time.
void addPercentAndMs(CLI::App &app, const char *name, double *percent, int *ms, const char *help)
{
    app.add_option_function<std::string>(
           name,
           [percent, ms](const std::string &v) {
               const auto colon = v.find(':');
               long long n = 0;
               parsePercent(v.substr(0, colon), percent);
               parseInt(v.substr(colon + 1), 0, 600000, &n);
               *ms = static_cast<int>(n);
           },
           help)
        ->check(checkWith([](const std::string &v, std::string *why) {
            const auto colon = v.find(':');
            double p = 0;
            long long n = 0;
            *why = "takes P:MS, e.g. 10:500";
            return colon != std::string::npos && parsePercent(v.substr(0, colon), &p) &&
                   parseInt(v.substr(colon + 1), 0, 600000, &n);
        }))
        ->type_name("P:MS")
        ->group("Faults");
}

void addFaultOptions(CLI::App &app, Options *o)
{
    const char *g = "Faults";
    addPercent(app, "--drop", &o->faults.drop, "no reply");
    addPercent(app, "--noise", &o->faults.noise, "random bytes instead of the reply");
    addPercent(app, "--short", &o->faults.shortReply, "the reply cut short");
    addPercent(app, "--corrupt", &o->faults.corrupt, "a wrong sum byte (a wrong byte instead of \"O\")");
    addPercentAndMs(app, "--delay", &o->faults.delay, &o->faults.delayMs, "the reply sent MS milliseconds late");
    addPercentAndMs(app, "--duplicate", &o->faults.duplicate, &o->faults.duplicateMs,
                    "the reply sent again, MS milliseconds after it");
    app.add_option("--fault-station", o->faults.station, "inject faults only into replies for station N")
        ->check(marovin_port::integerIn(0, 255))
        ->type_name("N")
        ->group(g);
    app.add_option("--faults-for", o->faults.forReplies, "inject faults only into the first N replies")
        ->check(marovin_port::integerIn(1, 1000000000000LL))
        ->type_name("N")
        ->group(g);
    app.add_option("--seed", o->seed, "random seed (default: from the clock; printed on exit)")
        ->check(marovin_port::integerIn(0, 0x7FFFFFFFFFFFFFFFLL))
        ->type_name("N")
        ->group(g);
}

void addRunOptions(CLI::App &app, Options *o)
{
    const char *g = "Run";
    app.add_flag("--trace", o->trace, "frames to stderr: received [08][00]..., sent <4F>")->group(g);
    app.add_option("--exit-after", o->exitAfter, "stop after N requests")
        ->check(marovin_port::integerIn(1, 0x7FFFFFFFFFFFFFFFLL))
        ->type_name("N")
        ->group(g);
    app.add_option("--duration", o->duration, "stop after S seconds")
        ->check(checkWith([](const std::string &v, std::string *why) {
            double d = 0;
            *why = "takes seconds (more than 0)";
            return parseNumber(v, &d) && d > 0;
        }))
        ->type_name("S")
        ->group(g);
    app.add_option("--dump-on-exit", o->dumpFile, "write the final memory in the --memory format")
        ->type_name("FILE")
        ->group(g);
}

}  // namespace

int parseOptions(int argc, char **argv, Options *o, std::FILE *out, std::FILE *err)
{
    CLI::App app(kDescription, "marovin-sim");
    app.footer(kFooter);
    app.formatter(std::make_shared<marovin_port::PlainFormatter>());
    app.get_formatter()->column_width(30);
    app.set_version_flag("--version", "marovin-sim " MAROVIN_VERSION);
    app.set_config("--config", "", "read options from FILE")->type_name("FILE");
    app.allow_config_extras(CLI::config_extras_mode::error);
    std::string tcp;
    addTransportOptions(app, o, &tcp);
    addDeviceOptions(app, o);
    addFaultOptions(app, o);
    addRunOptions(app, o);

    const int code = marovin_port::parseWithConfigPlaces(app, argc, argv, "marovin-sim", out, err);
    if (code >= 0)
        return code;
    o->seedGiven = app.count("--seed") > 0;
    o->transport = !o->serialDevice.empty() ? Transport::Serial : !tcp.empty() ? Transport::Tcp : Transport::Pty;
    std::string why;
    if (!tcp.empty() && !marovin_port::parseHostPort(tcp, listenRules(), &o->tcpHost, &o->tcpPort, &why)) {
        std::fprintf(err, "marovin-sim: --tcp: %s\n", why.c_str());
        return 2;
    }
    if (o->lineRate > 0 && o->transport == Transport::Serial) {
        std::fprintf(err, "marovin-sim: --line-rate is for --pty and --tcp: a serial device keeps its own pace\n");
        return 2;
    }
    if (o->faults.drop + o->faults.noise + o->faults.shortReply + o->faults.corrupt > 100.0) {
        std::fprintf(err, "marovin-sim: --drop, --noise, --short and --corrupt add up to more than 100\n");
        return 2;
    }
    return -1;
}

}  // namespace marovin_sim
