#include "Options.h"

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

const char *usageText()
{
    return R"(Usage: marovin-sim [OPTIONS]
A PLC that answers the driver's request frames, for trying the driver and
marovin-host without hardware.

Transport (one of; default --pty):
  --pty                     pseudo-terminal; the first line on stdout is
                            "marovin-sim: pty /dev/pts/N"
  --serial DEV              a serial device, with
      --baud N              baud rate (default 9600)
      --parity N|E|O        parity (default N)
      --data-bits N         5 to 8 (default 8)
      --stop-bits N         1 or 2 (default 1)
      --rs485               kernel RS-485 direction control
  --tcp [HOST:]PORT         listen for one client at a time (HOST defaults
                            to 127.0.0.1; PORT 0 picks a free port)

Device:
  --stations LIST           stations answered: 1,2,5 or 1-4 or all (default 1)
  --remote                  descriptor frames (remote mode) instead of local requests
  --set S:A:ADDR=VALUE      initial value; A is the area code 0..5, ADDR hex for
                            areas 1..5 and the status-bit number for area 0;
                            VALUE decimal or 0x hex, a float for area 5 (repeatable)
  --memory FILE             initial values, one --set assignment a line, '#'
                            comments, and "animate S:A:ADDR=KIND" lines
  --animate S:A:ADDR=KIND   a value that changes every tick: counter, sine or
                            toggle (repeatable)
  --tick MS                 animation step (default 1000)
  --demo                    demo memory and animation on station 1
  --gap MS                  silence after which a partial frame is dropped (default 200)
  --line-rate BAUD          keep a serial line's pace on --pty or --tcp: requests
                            count as received once they would have crossed the
                            line, replies go out a character at a time (character
                            format from --data-bits, --parity, --stop-bits)
  --response-delay MS       the device's turnaround before each reply (default 0)

Faults (P in percent; at most one of drop/noise/short/corrupt per reply):
  --drop P                  no reply
  --noise P                 random bytes instead of the reply
  --short P                 the reply cut short
  --corrupt P               a wrong sum byte (a wrong byte instead of "O")
  --delay P:MS              the reply sent MS milliseconds late
  --fault-station N         inject faults only into replies for station N
  --faults-for N            inject faults only into the first N replies, then a clean line
  --seed N                  random seed (default: from the clock; printed on exit)

Run:
  --trace                   frames to stderr: received [08][00]..., sent <4F>
  --exit-after N            stop after N requests
  --duration S              stop after S seconds
  --dump-on-exit FILE       write the final memory in the --memory format
  --help                    this text

A summary goes to stderr on exit (SIGINT, SIGTERM, --exit-after, --duration).
Exit status: 0 done, 1 runtime failure, 2 usage error.
)";
}

bool parseAnimation(const std::string &text, Animation *out, std::string *error)
{
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        *error = "\"" + text + "\" is not STATION:AREA:ADDR=counter|sine|toggle";
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
    else {
        *error = "animation \"" + kind + "\" is not counter, sine or toggle";
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

bool parseOptions(int argc, char **argv, Options *o, std::string *error)
{
    bool transportGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string inlineValue;
        bool hasInline = false;
        if (arg.compare(0, 2, "--") == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInline = true;
            }
        }
        // The option's argument, from "--opt=value" or the next word.
        auto value = [&](std::string *out) {
            if (hasInline) {
                *out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto setTransport = [&](Transport t) {
            if (transportGiven && o->transport != t) {
                *error = "choose one transport: --pty, --serial or --tcp";
                return false;
            }
            transportGiven = true;
            o->transport = t;
            return true;
        };
        auto flag = [&]() {
            if (hasInline) {
                *error = arg + " takes no value";
                return false;
            }
            return true;
        };
        std::string v;
        long long n = 0;
        if (arg == "--help" || arg == "-h") {
            o->help = true;
        } else if (arg == "--pty") {
            if (!flag() || !setTransport(Transport::Pty))
                return false;
        } else if (arg == "--serial") {
            if (!value(&o->serialDevice) || !setTransport(Transport::Serial))
                return false;
        } else if (arg == "--baud") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 1, 100000000, &n)) {
                *error = "--baud: \"" + v + "\" is not a baud rate";
                return false;
            }
            o->serial.baud = static_cast<int>(n);
        } else if (arg == "--parity") {
            if (!value(&v))
                return false;
            if (v != "N" && v != "E" && v != "O" && v != "n" && v != "e" && v != "o") {
                *error = "--parity must be N, E or O";
                return false;
            }
            o->serial.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
        } else if (arg == "--data-bits") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 5, 8, &n)) {
                *error = "--data-bits must be 5 to 8";
                return false;
            }
            o->serial.dataBits = static_cast<int>(n);
        } else if (arg == "--stop-bits") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 1, 2, &n)) {
                *error = "--stop-bits must be 1 or 2";
                return false;
            }
            o->serial.stopBits = static_cast<int>(n);
        } else if (arg == "--rs485") {
            if (!flag())
                return false;
            o->serial.rs485 = true;
        } else if (arg == "--tcp") {
            if (!value(&v) || !setTransport(Transport::Tcp))
                return false;
            const auto colon = v.rfind(':');
            std::string portText = v;
            if (colon != std::string::npos) {
                o->tcpHost = v.substr(0, colon);
                portText = v.substr(colon + 1);
                if (o->tcpHost.size() > 2 && o->tcpHost.front() == '[' && o->tcpHost.back() == ']')
                    o->tcpHost = o->tcpHost.substr(1, o->tcpHost.size() - 2);
                if (o->tcpHost.empty())
                    o->tcpHost = "127.0.0.1";
            }
            if (!parseInt(portText, 0, 65535, &n)) {
                *error = "--tcp: \"" + portText + "\" is not a port number";
                return false;
            }
            o->tcpPort = static_cast<int>(n);
        } else if (arg == "--stations") {
            if (!value(&v))
                return false;
            if (!parseStations(v, &o->stations, &o->allStations)) {
                *error = "--stations: \"" + v + "\" is not a list like 1,2,5 or 1-4 or all (stations 0..255)";
                return false;
            }
        } else if (arg == "--remote") {
            if (!flag())
                return false;
            o->remote = true;
        } else if (arg == "--set") {
            if (!value(&v))
                return false;
            marovin_device::Assignment a;
            std::string why;
            if (!marovin_device::parseAssignment(v, &a, &why)) {
                *error = "--set: " + why;
                return false;
            }
            o->sets.push_back(a);
        } else if (arg == "--memory") {
            if (!value(&v))
                return false;
            o->memoryFiles.push_back(v);
        } else if (arg == "--animate") {
            if (!value(&v))
                return false;
            Animation a;
            std::string why;
            if (!parseAnimation(v, &a, &why)) {
                *error = "--animate: " + why;
                return false;
            }
            o->animations.push_back(a);
        } else if (arg == "--tick" || arg == "--gap") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 1, 3600000, &n)) {
                *error = arg + " takes milliseconds (1 or more)";
                return false;
            }
            (arg == "--tick" ? o->tickMs : o->gapMs) = static_cast<int>(n);
        } else if (arg == "--line-rate" || arg == "--response-delay") {
            if (!value(&v))
                return false;
            if (!parseInt(v, arg == "--line-rate" ? 50 : 0, arg == "--line-rate" ? 100000000 : 60000, &n)) {
                *error = arg + (arg == "--line-rate" ? " takes a baud rate" : " takes milliseconds 0..60000");
                return false;
            }
            (arg == "--line-rate" ? o->lineRate : o->responseDelayMs) = static_cast<int>(n);
        } else if (arg == "--demo") {
            if (!flag())
                return false;
            o->demo = true;
        } else if (arg == "--drop" || arg == "--corrupt" || arg == "--short" || arg == "--noise") {
            if (!value(&v))
                return false;
            double p = 0;
            if (!parsePercent(v, &p)) {
                *error = arg + " takes a percentage 0..100";
                return false;
            }
            if (arg == "--drop")
                o->faults.drop = p;
            else if (arg == "--corrupt")
                o->faults.corrupt = p;
            else if (arg == "--short")
                o->faults.shortReply = p;
            else
                o->faults.noise = p;
        } else if (arg == "--delay") {
            if (!value(&v))
                return false;
            const auto colon = v.find(':');
            double p = 0;
            if (colon == std::string::npos || !parsePercent(v.substr(0, colon), &p) ||
                !parseInt(v.substr(colon + 1), 0, 600000, &n)) {
                *error = "--delay takes P:MS, e.g. 10:500";
                return false;
            }
            o->faults.delay = p;
            o->faults.delayMs = static_cast<int>(n);
        } else if (arg == "--fault-station") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 0, 255, &n)) {
                *error = "--fault-station takes a station 0..255";
                return false;
            }
            o->faults.station = static_cast<int>(n);
        } else if (arg == "--faults-for") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 1, 1000000000000LL, &n)) {
                *error = "--faults-for takes a number of replies";
                return false;
            }
            o->faults.forReplies = n;
        } else if (arg == "--seed") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 0, 0x7FFFFFFFFFFFFFFFLL, &n)) {
                *error = "--seed takes a non-negative integer";
                return false;
            }
            o->seed = static_cast<std::uint64_t>(n);
            o->seedGiven = true;
        } else if (arg == "--trace") {
            if (!flag())
                return false;
            o->trace = true;
        } else if (arg == "--exit-after") {
            if (!value(&v))
                return false;
            if (!parseInt(v, 1, 0x7FFFFFFFFFFFFFFFLL, &n)) {
                *error = "--exit-after takes a number of requests (1 or more)";
                return false;
            }
            o->exitAfter = n;
        } else if (arg == "--duration") {
            if (!value(&v))
                return false;
            if (!parseNumber(v, &o->duration) || o->duration <= 0) {
                *error = "--duration takes seconds (more than 0)";
                return false;
            }
        } else if (arg == "--dump-on-exit") {
            if (!value(&o->dumpFile))
                return false;
        } else {
            *error = "unknown option \"" + std::string(argv[i]) + "\"";
            return false;
        }
    }
    if (o->lineRate > 0 && o->transport == Transport::Serial) {
        *error = "--line-rate is for --pty and --tcp: a serial device keeps its own pace";
        return false;
    }
    if (o->faults.drop + o->faults.noise + o->faults.shortReply + o->faults.corrupt > 100.0) {
        *error = "--drop, --noise, --short and --corrupt add up to more than 100";
        return false;
    }
    return true;
}

}  // namespace marovin_sim
