// Option parsing: --name VALUE, --name=VALUE and the short -v/-w/-o forms.
#include "HostOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace marovin_host {

namespace {

// Walks argv, handing out option names and their values.
class ArgReader {
public:
    ArgReader(int argc, char **argv) : argc_(argc), argv_(argv) {}

    bool next()
    {
        if (index_ >= argc_)
            return false;
        std::string arg = argv_[index_++];
        inlineValue_.clear();
        hasInline_ = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const std::string::size_type eq = arg.find('=');
            if (eq != std::string::npos) {
                inlineValue_ = arg.substr(eq + 1);
                hasInline_ = true;
                arg = arg.substr(0, eq);
            }
        } else if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-') {
            inlineValue_ = arg.substr(2);
            hasInline_ = true;
            arg = arg.substr(0, 2);
        }
        name_ = arg;
        return true;
    }

    const std::string &name() const { return name_; }
    bool hasInline() const { return hasInline_; }

    // The option's value; false when it is missing.
    bool value(std::string *out)
    {
        if (hasInline_) {
            *out = inlineValue_;
            return true;
        }
        if (index_ >= argc_)
            return false;
        *out = argv_[index_++];
        return true;
    }

    // A value only if the next argument does not look like an option.
    bool optionalValue(std::string *out)
    {
        if (hasInline_) {
            *out = inlineValue_;
            return true;
        }
        if (index_ < argc_ && argv_[index_][0] != '-' && argv_[index_][0] != '\0') {
            *out = argv_[index_++];
            return true;
        }
        return false;
    }

private:
    int argc_;
    char **argv_;
    int index_ = 1;
    std::string name_;
    std::string inlineValue_;
    bool hasInline_ = false;
};

// A whole decimal number within [low, high].
bool toInt(const std::string &text, long low, long high, long *out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    *out = v;
    return true;
}

// A non-negative number of seconds.
bool toSeconds(const std::string &text, double *out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0) || v > 1e7)
        return false;
    *out = v;
    return true;
}

// Splits HOST:PORT; the host defaults to 127.0.0.1 when only a port is given.
bool splitHostPort(const std::string &text, std::string *host, int *port)
{
    const std::string::size_type colon = text.rfind(':');
    std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    *host = colon == std::string::npos || colon == 0 ? "127.0.0.1" : text.substr(0, colon);
    long p = 0;
    if (!toInt(portText, 1, 65535, &p))
        return false;
    *port = static_cast<int>(p);
    return true;
}

}  // namespace

bool parseOptions(int argc, char **argv, HostOptions *o, std::string *error)
{
    ArgReader args(argc, argv);
    while (args.next()) {
        const std::string &name = args.name();
        std::string value;
        long n = 0;

        // Options that take no value.
        if (name == "-h" || name == "--help") {
            o->help = true;
            continue;
        }
        if (name == "--version") {
            o->version = true;
            continue;
        }
        if (name == "--multi-station" || name == "--remote" || name == "--rs485" || name == "--quiet" ||
            name == "-q") {
            if (args.hasInline()) {
                *error = "option " + name + " takes no value";
                return false;
            }
            if (name == "--multi-station")
                o->multiStation = true;
            else if (name == "--remote")
                o->remote = true;
            else if (name == "--rs485")
                o->serial.rs485 = true;
            else
                o->quiet = true;
            continue;
        }
        if (name == "--trace") {
            o->trace = true;
            if (args.optionalValue(&value))
                o->traceFile = value;
            continue;
        }

        // Every other option takes a value.
        static const char *const kValued[] = {
            "--lib",      "--station",   "--retries",  "--max-units", "--write-mode", "--link",     "-v",
            "--var",      "--vars",      "-w",         "--write",     "-o",           "--once",     "--serial",
            "--baud",     "--data-bits", "--parity",   "--stop-bits", "--tcp",        "--sim",      "--sim-args",
            "--sim-log",  "--turnaround", "--timeout", "--inter-byte", "--refresh",   "--csv",      "--dump",
            "--cycles",   "--duration",  "--link-timeout", "--rfc2217", "--line-rate"};
        bool known = false;
        for (const char *k : kValued)
            known = known || name == k;
        if (!known) {
            *error = "unknown option " + name + " (see --help)";
            return false;
        }
        if (!args.value(&value)) {
            *error = "option " + name + " needs a value";
            return false;
        }
        const std::string bad = "bad value for " + name + ": '" + value + "'";
        auto integer = [&](long low, long high) {
            if (!toInt(value, low, high, &n)) {
                *error = bad + " (expected " + std::to_string(low) + ".." + std::to_string(high) + ")";
                return false;
            }
            return true;
        };

        if (name == "--lib") {
            o->libraryPath = value;
        } else if (name == "--station") {
            if (!integer(0, 255))
                return false;
            o->station = static_cast<int>(n);
        } else if (name == "--retries") {
            if (!integer(0, 1000))
                return false;
            o->retries = static_cast<int>(n);
        } else if (name == "--max-units") {
            if (!integer(1, 1024))
                return false;
            o->maxUnits = static_cast<int>(n);
        } else if (name == "--write-mode") {
            if (value == "plc") {
                o->writeMode = 2;
            } else if (value == "cache") {
                o->writeMode = 1;
            } else {
                *error = bad + " (expected plc or cache)";
                return false;
            }
        } else if (name == "--link") {
            if (!integer(0, 255))
                return false;
            o->linkNo = static_cast<int>(n);
        } else if (name == "-v" || name == "--var") {
            o->variables.push_back({false, value});
        } else if (name == "--vars") {
            o->variables.push_back({true, value});
        } else if (name == "-w" || name == "--write") {
            o->writes.push_back(value);
        } else if (name == "-o" || name == "--once") {
            o->onceReads.push_back(value);
        } else if (name == "--serial") {
            o->portKind = PortKind::Serial;
            o->serialDevice = value;
        } else if (name == "--baud") {
            if (!integer(50, 4000000))
                return false;
            o->serial.baud = static_cast<int>(n);
        } else if (name == "--data-bits") {
            if (!integer(5, 8))
                return false;
            o->serial.dataBits = static_cast<int>(n);
        } else if (name == "--parity") {
            if (value != "N" && value != "E" && value != "O" && value != "n" && value != "e" && value != "o") {
                *error = bad + " (expected N, E or O)";
                return false;
            }
            o->serial.parity = static_cast<char>(value[0] & ~0x20);
        } else if (name == "--stop-bits") {
            if (!integer(1, 2))
                return false;
            o->serial.stopBits = static_cast<int>(n);
        } else if (name == "--tcp" || name == "--rfc2217") {
            o->portKind = PortKind::Tcp;
            o->rfc2217 = name == "--rfc2217";
            if (!splitHostPort(value, &o->tcpHost, &o->tcpPort)) {
                *error = bad + " (expected HOST:PORT)";
                return false;
            }
        } else if (name == "--line-rate") {
            if (!integer(50, 4000000))
                return false;
            o->lineRate = static_cast<int>(n);
        } else if (name == "--sim") {
            o->simPath = value;
        } else if (name == "--sim-args") {
            o->simArgs = value;
        } else if (name == "--sim-log") {
            o->simLog = value;
        } else if (name == "--turnaround") {
            if (!integer(0, 60000))
                return false;
            o->turnaroundMs = static_cast<int>(n);
        } else if (name == "--timeout") {
            if (!integer(1, 600000))
                return false;
            o->timeoutMs = static_cast<int>(n);
        } else if (name == "--inter-byte") {
            if (!integer(1, 60000))
                return false;
            o->interByteMs = static_cast<int>(n);
        } else if (name == "--refresh") {
            if (!integer(10, 3600000))
                return false;
            o->refreshMs = static_cast<int>(n);
        } else if (name == "--csv") {
            o->csvFile = value;
        } else if (name == "--dump") {
            o->dumpFile = value;
        } else if (name == "--cycles") {
            if (!integer(1, 1000000000))
                return false;
            o->cycles = n;
        } else if (name == "--duration") {
            if (!toSeconds(value, &o->durationS)) {
                *error = bad + " (expected seconds)";
                return false;
            }
        } else if (name == "--link-timeout") {
            if (!toSeconds(value, &o->linkTimeoutS)) {
                *error = bad + " (expected seconds)";
                return false;
            }
        } else {
            *error = "unknown option " + name + " (see --help)";
            return false;
        }
    }
    return true;
}

void printUsage(std::FILE *out)
{
    std::fputs(
        "usage: marovin-host [options]\n"
        "Drives libMarovin.so.1 like a panel runtime: registers variables, runs the exchange\n"
        "loop on a serial line, a TCP serial-device server or the bundled simulator, and shows\n"
        "the values live.\n"
        "\n"
        "Driver:\n"
        "  --lib PATH              driver library (default: the one built beside this tool,\n"
        "                          then libMarovin.so.1 on the library search path)\n"
        "  --station N             default station (1)\n"
        "  --multi-station         every variable keeps its own station\n"
        "  --retries N             repeats before a variable is given up (2)\n"
        "  --max-units N           largest request in units (8)\n"
        "  --write-mode plc|cache  queue writes for the PLC (plc) or only store them (cache)\n"
        "  --remote                remote mode (descriptor frames)\n"
        "  --link N                local link number (0)\n"
        "Variables (ADDR: hex for areas 1..5, decimal status-bit number for area 0;\n"
        "AREA: 0..5 or bit|w16|d32|w16b|d32b|float; COUNT: number of values):\n"
        "  -v STATION:AREA:ADDR[:COUNT]   read cyclically (repeatable)\n"
        "  --vars FILE                    one variable per line, '#' comments\n"
        "  -w STATION:AREA:ADDR=VALUE[,VALUE...]   write once at start (repeatable)\n"
        "  -o STATION:AREA:ADDR[:COUNT]   read once and report (repeatable)\n"
        "Port (default: start the bundled simulator on a pseudo-terminal):\n"
        "  --serial DEV [--baud N] [--data-bits N] [--parity N|E|O] [--stop-bits N] [--rs485]\n"
        "  --tcp HOST:PORT         a serial-device server\n"
        "  --rfc2217 HOST:PORT     a serial-device server with COM port control (telnet, RFC 2217);\n"
        "                          the line is set from --baud, --data-bits, --parity, --stop-bits\n"
        "  --sim PATH              simulator to start (default: marovin-sim built beside this tool)\n"
        "  --sim-args \"ARGS\"       simulator arguments (\"--demo\")\n"
        "  --sim-log FILE          simulator output (its trace, its summary) into FILE\n"
        "  --line-rate BAUD        the line's rate behind a pty or TCP port, for the summary's\n"
        "                          efficiency; also paces the bundled simulator\n"
        "  --turnaround MS         pause between a reply and the next request (0)\n"
        "  --timeout MS            reply timeout (1000)\n"
        "  --inter-byte MS         silence that ends a reply (50)\n"
        "  --link-timeout S        end the run when the link stays down this long (30)\n"
        "Output:\n"
        "  --refresh MS            table refresh period (250)\n"
        "  -q, --quiet             no table\n"
        "  --trace [FILE]          every frame in hex, with time and status\n"
        "  --csv FILE              timestamped values per refresh\n"
        "  --dump FILE             final values as STATION:AREA:ADDR=VALUE lines\n"
        "Stop:\n"
        "  --cycles N              after N completed read cycles\n"
        "  --duration S            after S seconds\n"
        "  Ctrl-C                  finish the current exchange and print the summary\n"
        "Exit codes: 0 ok, 1 runtime failure, 2 usage error, 3 variables given up or writes failed.\n",
        out);
}

}  // namespace marovin_host
