// Exchanges per second over a pseudo-terminal, side by side in one run:
//   echo     raw write/read of 10 and 13 bytes (the floor)
//   modbus   libmodbus RTU client <-> libmodbus RTU server, one-register reads
//   harness  the driver's exchange loop over tools/port <-> the device model
//   host     marovin-host <-> marovin-sim (an external command, see --host-cmd)
// Each peer runs in its own process. Rounds alternate the kinds so that they
// share the machine's noise.
//
//   marovin-bench-pty [--exchanges N] [--rounds R] [--only a,b] [--host-cmd CMD] [--cpu C]
//   marovin-bench-pty --client KIND N    one client for callgrind (collection
//                                        toggled around its loop only)
//   marovin-bench-pty --serve KIND       a server alone on a new pty
//   marovin-bench-pty --connect KIND PTY N   a client alone against PTY
#include "BenchDriver.h"
#include "DeviceModel.h"
#include "Port.h"

#include <modbus.h>
#include <valgrind/callgrind.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const int kRequestBytes = 10;  // the driver's read request
const int kReplyBytes = 13;    // and its reply for a 16-bit value

double nowSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void die(const std::string &what)
{
    std::fprintf(stderr, "marovin-bench-pty: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

extern "C" void onTerm(int)
{
    _exit(0);
}

// A pty whose slave is raw; the master is what the server side uses.
struct Pty {
    int master = -1;
    int slave = -1;  // kept open so the master never reads EIO between peers
    std::string path;
};

Pty openPty()
{
    Pty p;
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0)
        die("posix_openpt");
    char name[128];
    if (::ptsname_r(p.master, name, sizeof name) != 0)
        die("ptsname");
    p.path = name;
    p.slave = ::open(name, O_RDWR | O_NOCTTY);
    if (p.slave < 0)
        die("open " + p.path);
    termios t{};
    ::tcgetattr(p.slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(p.slave, TCSANOW, &t);
    return p;
}

// Runs `serve` in a child process on the master side; returns its pid.
pid_t startServer(const Pty &pty, const std::function<void(int master)> &serve)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        die("fork");
    if (pid == 0) {
        std::signal(SIGTERM, onTerm);
        serve(pty.master);
        _exit(0);
    }
    return pid;
}

void stopServer(pid_t pid, Pty &pty)
{
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(pty.master);
    ::close(pty.slave);
}

bool readExactly(int fd, unsigned char *buf, int n)
{
    int got = 0;
    while (got < n) {
        const ssize_t r = ::read(fd, buf + got, static_cast<size_t>(n - got));
        if (r > 0)
            got += static_cast<int>(r);
        else if (r < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

bool writeAll(int fd, const unsigned char *buf, int n)
{
    int done = 0;
    while (done < n) {
        const ssize_t r = ::write(fd, buf + done, static_cast<size_t>(n - done));
        if (r > 0)
            done += static_cast<int>(r);
        else if (r < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- echo

void echoServe(int master)
{
    unsigned char in[kRequestBytes];
    unsigned char out[kReplyBytes] = {};
    while (readExactly(master, in, kRequestBytes))
        if (!writeAll(master, out, kReplyBytes))
            break;
}

// Returns exchanges per second; `warm` exchanges are not timed.
double echoClient(const std::string &path, long n, long warm, bool toggle)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        die("open " + path);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    unsigned char req[kRequestBytes] = {8, 0, 0x10, 0xB0, 4, 0, 0x11, 0, 0x10, 0xED};
    unsigned char rep[kReplyBytes];
    double start = 0;
    for (long i = -warm; i < n; ++i) {
        if (i == 0) {
            start = nowSeconds();
            if (toggle)
                CALLGRIND_TOGGLE_COLLECT;
        }
        if (!writeAll(fd, req, kRequestBytes) || !readExactly(fd, rep, kReplyBytes))
            die("echo");
    }
    if (toggle)
        CALLGRIND_TOGGLE_COLLECT;
    const double rate = n / (nowSeconds() - start);
    ::close(fd);
    return rate;
}

// ---------------------------------------------------------------- libmodbus

void modbusServe(int master)
{
    modbus_t *ctx = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);
    modbus_mapping_t *map = modbus_mapping_new(0, 0, 100, 0);
    if (!ctx || !map)
        _exit(1);
    modbus_set_slave(ctx, 1);
    modbus_set_socket(ctx, master);
    for (int i = 0; i < 100; ++i)
        map->tab_registers[i] = static_cast<uint16_t>(0x1200 + i);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        const int rc = modbus_receive(ctx, query);
        if (rc > 0)
            modbus_reply(ctx, query, rc, map);
        else if (rc < 0 && errno != EMBBADCRC && errno != EMBBADDATA && errno != ETIMEDOUT && errno != EINTR)
            break;
    }
}

double modbusClient(const std::string &path, long n, long warm, bool toggle)
{
    modbus_t *ctx = modbus_new_rtu(path.c_str(), 115200, 'N', 8, 1);
    if (!ctx)
        die("modbus_new_rtu");
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 5, 0);
    if (modbus_connect(ctx) != 0)
        die("modbus_connect " + path);
    uint16_t reg = 0;
    double start = 0;
    for (long i = -warm; i < n; ++i) {
        if (i == 0) {
            start = nowSeconds();
            if (toggle)
                CALLGRIND_TOGGLE_COLLECT;
        }
        if (modbus_read_registers(ctx, static_cast<int>((i + warm) % 10), 1, &reg) != 1)
            die("modbus_read_registers");
    }
    if (toggle)
        CALLGRIND_TOGGLE_COLLECT;
    const double rate = n / (nowSeconds() - start);
    modbus_close(ctx);
    modbus_free(ctx);
    return rate;
}

// ---------------------------------------------------------------- driver over tools/port

void deviceServe(int master)
{
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) & ~O_NONBLOCK);
    marovin_device::DeviceModel model;
    for (int a = 0; a < 10; ++a)
        model.setAreaValue(1, 1, static_cast<std::uint32_t>(0x10 + a), 0x1200u + static_cast<unsigned>(a));
    unsigned char buf[256];
    for (;;) {
        const ssize_t r = ::read(master, buf, sizeof buf);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        for (const auto &frame : model.feed(buf, static_cast<size_t>(r))) {
            const std::vector<std::uint8_t> reply = model.handle(frame);
            if (!reply.empty() && !writeAll(master, reply.data(), static_cast<int>(reply.size())))
                return;
        }
    }
}

// The exchange loop of a host: ComCommunication, send, read the reply, DataCom.
double harnessClient(const std::string &path, long n, long warm, bool toggle)
{
    using namespace marovin_bench;
    setUpDriver(2);
    resetDriver();
    QList<HOSTVAR> host;
    for (int a = 0; a < 10; ++a) {
        HOSTVAR h{0, 1, 1, 0, QString::number(0x10 + a, 16), QStringLiteral("v"), 1};
        host.append(h);
    }
    ReCreatReadVarList(&host);

    std::string error;
    marovin_port::SerialOptions options;
    options.baud = 115200;
    std::unique_ptr<marovin_port::Port> port = marovin_port::openSerial(path, options, &error);
    if (!port) {
        std::fprintf(stderr, "marovin-bench-pty: %s\n", error.c_str());
        std::exit(1);
    }
    // Kept from one exchange to the next: the reply is read straight into it.
    QByteArray reply;
    double start = 0;
    for (long i = -warm; i < n;) {
        if (i == 0 && start == 0) {
            start = nowSeconds();
            if (toggle)
                CALLGRIND_TOGGLE_COLLECT;
        }
        Protocol *p = ComCommunication();
        if (!p)
            continue;
        if (!port->write(reinterpret_cast<const std::uint8_t *>(p->frame.constData()),
                         static_cast<size_t>(p->requestLength)))
            die("write");
        if (reply.size() != p->replyLength)
            reply.resize(p->replyLength);
        const long got = port->readInto(reinterpret_cast<std::uint8_t *>(reply.data()),
                                        static_cast<size_t>(p->replyLength), 1000, 50);
        if (got != p->replyLength)
            die("read");
        if (DataCom(&reply, reply.size())->status != 1) {
            std::fprintf(stderr, "marovin-bench-pty: bad reply\n");
            std::exit(1);
        }
        ++i;
    }
    if (toggle)
        CALLGRIND_TOGGLE_COLLECT;
    const double rate = n / (nowSeconds() - start);
    port.reset();
    resetDriver();
    return rate;
}

// ---------------------------------------------------------------- marovin-host + marovin-sim

// One run of the host command with {N} replaced by n: wall time and the
// exchanges it reports in its summary ("exchanges: E").
struct HostRun {
    double seconds = -1;
    long exchanges = 0;
};

HostRun runHost(const std::string &cmd, long n)
{
    std::string c = cmd;
    const std::string key = "{N}";
    for (size_t at; (at = c.find(key)) != std::string::npos;)
        c.replace(at, key.size(), std::to_string(n));
    c += " 2>&1";
    HostRun run;
    const double start = nowSeconds();
    FILE *p = ::popen(c.c_str(), "r");
    if (!p)
        return run;
    char line[512];
    while (std::fgets(line, sizeof line, p))
        std::sscanf(line, "exchanges: %ld", &run.exchanges);
    const int rc = ::pclose(p);
    run.seconds = nowSeconds() - start;
    if (rc != 0 || run.exchanges <= 0) {
        std::fprintf(stderr, "marovin-bench-pty: host command failed (%d): %s\n", rc, c.c_str());
        run.seconds = -1;
    }
    return run;
}

// Exchanges per second of the host command: the slope between a short and a
// long run, so that start-up and the simulator's launch cancel out. `n` is
// the exchanges wanted; the command's {N} counts read cycles of its single
// variable, two exchanges each.
double hostRate(const std::string &cmd, long n)
{
    const long cycles = n / 2 > 1 ? n / 2 : 2;
    const HostRun a = runHost(cmd, cycles / 4 > 0 ? cycles / 4 : 1);
    const HostRun b = runHost(cmd, cycles);
    if (a.seconds < 0 || b.seconds < 0 || b.seconds <= a.seconds || b.exchanges <= a.exchanges)
        return -1;
    return double(b.exchanges - a.exchanges) / (b.seconds - a.seconds);
}

using Client = double (*)(const std::string &, long, long, bool);
using Serve = void (*)(int);

double measure(Serve serve, Client client, long n, long warm, bool toggle)
{
    Pty pty = openPty();
    const pid_t pid = startServer(pty, serve);
    const double rate = client(pty.path, n, warm, toggle);
    stopServer(pid, pty);
    return rate;
}

struct Kind {
    const char *name;
    Serve serve;
    Client client;
    const char *what;
};

const Kind kKinds[] = {
    {"echo", echoServe, echoClient, "raw write 10 / read 13 bytes (floor)"},
    {"modbus", modbusServe, modbusClient, "libmodbus RTU client <-> server, read 1 register (8/7 bytes)"},
    {"harness", deviceServe, harnessClient, "driver loop over tools/port <-> device model (10/13 bytes)"},
};

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: marovin-bench-pty [--exchanges N] [--rounds R] [--only echo,modbus,harness,host]\n"
                 "                         [--host-cmd 'CMD with {N}'] [--cpu C]\n"
                 "       marovin-bench-pty --client echo|modbus|harness N\n"
                 "       marovin-bench-pty --serve echo|modbus|harness\n"
                 "       marovin-bench-pty --connect echo|modbus|harness PTY N\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    long n = 20000;
    int rounds = 3;
    std::string only = "echo,modbus,harness,host";
    std::string hostCmd;
    int cpu = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--client" && i + 2 < argc) {
            const std::string kind = argv[i + 1];
            const long count = std::atol(argv[i + 2]);
            for (const Kind &k : kKinds)
                if (kind == k.name) {
                    std::printf("client %s n=%ld rate=%.0f/s\n", k.name, count, measure(k.serve, k.client, count, 50, true));
                    return 0;
                }
            return usage();
        }
        if (a == "--serve" && i + 1 < argc) {
            // A peer on its own, for pairing with other programs.
            const std::string kind = argv[i + 1];
            for (const Kind &k : kKinds)
                if (kind == k.name) {
                    Pty pty = openPty();
                    std::printf("serving %s on %s\n", k.name, pty.path.c_str());
                    std::fflush(stdout);
                    k.serve(pty.master);
                    return 0;
                }
            return usage();
        }
        if (a == "--connect" && i + 3 < argc) {
            const std::string kind = argv[i + 1];
            for (const Kind &k : kKinds)
                if (kind == k.name) {
                    std::printf("client %s rate=%.0f/s\n", k.name, k.client(argv[i + 2], std::atol(argv[i + 3]), 200, false));
                    return 0;
                }
            return usage();
        }
        if (i + 1 >= argc)
            return usage();
        const std::string v = argv[++i];
        if (a == "--exchanges")
            n = std::atol(v.c_str());
        else if (a == "--rounds")
            rounds = std::atoi(v.c_str());
        else if (a == "--only")
            only = v;
        else if (a == "--host-cmd")
            hostCmd = v;
        else if (a == "--cpu")
            cpu = std::atoi(v.c_str());
        else
            return usage();
    }
    if (n < 4 || rounds < 1)
        return usage();
    if (cpu >= 0) {
        // Both peers on one CPU: no cross-CPU wake-ups, far steadier figures.
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        if (::sched_setaffinity(0, sizeof set, &set) != 0)
            die("sched_setaffinity");
    }
    auto wanted = [&](const std::string &name) { return ("," + only + ",").find("," + name + ",") != std::string::npos; };

    std::map<std::string, std::vector<double>> rates;
    for (int r = 0; r < rounds; ++r) {
        for (const Kind &k : kKinds)
            if (wanted(k.name))
                rates[k.name].push_back(measure(k.serve, k.client, n, 200, false));
        if (wanted("host") && !hostCmd.empty()) {
            const double rate = hostRate(hostCmd, n);
            if (rate > 0)
                rates["host"].push_back(rate);
        }
    }

    std::printf("pty exchanges per second, median of %d rounds of %ld exchanges, %s\n", rounds, n,
                cpu >= 0 ? ("all peers on CPU " + std::to_string(cpu)).c_str() : "peers on any CPU");
    const double modbus = median(rates["modbus"]);
    auto report = [&](const char *name, const char *what) {
        const std::vector<double> &v = rates[name];
        const double m = median(v);
        const double lo = v.empty() ? 0 : *std::min_element(v.begin(), v.end());
        const double hi = v.empty() ? 0 : *std::max_element(v.begin(), v.end());
        std::printf("pty %-8s %10.0f /s  x%.2f of libmodbus  (rounds %.0f..%.0f)  %s\n", name, m,
                    modbus > 0 ? m / modbus : 0.0, lo, hi, what);
    };
    for (const Kind &k : kKinds)
        if (wanted(k.name))
            report(k.name, k.what);
    if (wanted("host") && !hostCmd.empty())
        report("host", "marovin-host <-> marovin-sim (slope of two runs)");
    return 0;
}
