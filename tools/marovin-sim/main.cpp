// marovin-sim: a PLC simulator speaking the driver's frames over a
// pseudo-terminal, a serial device or TCP.
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/time.h>

#include "DeviceModel.h"
#include "LinePace.h"
#include "MemoryText.h"
#include "MonotonicClock.h"
#include "Options.h"
#include "Port.h"

using marovin_device::DeviceModel;
using marovin_port::monotonicMs;
using marovin_sim::Animation;
using marovin_sim::AnimationKind;
using marovin_sim::Options;

namespace {

volatile std::sig_atomic_t g_stop = 0;

// Asks the main loop to finish.
void onSignal(int)
{
    g_stop = 1;
}

// Milliseconds since the epoch: what a clock animation stores.
long long wallMs()
{
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// Wall-clock time of day as HH:MM:SS.mmm for trace lines.
std::string timestamp()
{
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    std::tm tm{};
    const std::time_t t = tv.tv_sec;
    ::localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long>(tv.tv_usec / 1000));
    return buf;
}

// Bytes as [0A][00] (open = '[') or <4F> (open = '<').
std::string bracketed(const std::vector<std::uint8_t> &bytes, char open)
{
    const char close = open == '[' ? ']' : '>';
    std::string s;
    char buf[8];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%c%02X%c", open, b, close);
        s += buf;
    }
    return s;
}

struct FaultCounts {
    unsigned long long drop = 0, corrupt = 0, shortReply = 0, delay = 0, noise = 0, duplicate = 0;
};

class Simulator {
public:
    // server: the port when it is a TCP server (clients come and go), else null.
    Simulator(const Options &options, std::unique_ptr<marovin_port::Port> port,
              const marovin_port::TcpServerPort *server)
        : o_(options),
          port_(std::move(port)),
          server_(server),
          rng_(options.seed),
          pace_(options.lineRate, options.serial, options.responseDelayMs, &g_stop)
    {
    }

    DeviceModel &model() { return model_; }

    // Runs until a signal, --exit-after or --duration; returns the exit status.
    int run()
    {
        start_ = monotonicMs();
        nextTick_ = start_ + o_.tickMs;
        long long lastByte = start_;
        unsigned long connections = clients();
        bool reportedFailure = false;
        std::vector<std::uint8_t> in;
        while (!g_stop) {
            const long long now = monotonicMs();
            if (o_.duration > 0 && now - start_ >= static_cast<long long>(o_.duration * 1000.0))
                break;
            if (!o_.animations.empty() && now >= nextTick_) {
                animate(now);
                nextTick_ += o_.tickMs;
                if (nextTick_ <= now)
                    nextTick_ = now + o_.tickMs;
            }
            int wait = 100;
            if (!o_.animations.empty())
                wait = static_cast<int>(std::max<long long>(0, std::min<long long>(wait, nextTick_ - now)));
            pace_.awaitRequest(port_->fd());
            if (!port_->read(in, -1, wait, 0)) {
                if (!reportedFailure)
                    std::fprintf(stderr, "marovin-sim: %s: link failed, reopening\n", port_->describe().c_str());
                reportedFailure = true;
                if (!port_->reopen())
                    sleepMs(1000);
                continue;
            }
            if (reportedFailure && port_->isOpen()) {
                std::fprintf(stderr, "marovin-sim: %s: reopened\n", port_->describe().c_str());
                reportedFailure = false;
            }
            if (clients() != connections) {
                connections = clients();
                dropPartial("new client");
                if (o_.trace)
                    std::fprintf(stderr, "%s -- client %lu connected\n", timestamp().c_str(), connections);
            }
            if (in.empty()) {
                if (model_.pendingBytes() && monotonicMs() - lastByte >= o_.gapMs)
                    dropPartial("silence");
                continue;
            }
            pace_.received(in.size());
            lastByte = monotonicMs();
            if (serve(in))
                break;
        }
        return 0;
    }

    // Prints the summary to stderr.
    void summary() const
    {
        const marovin_device::Counters &c = model_.counters();
        std::fprintf(stderr,
                     "marovin-sim: summary after %.1f s\n"
                     "  requests      %llu\n"
                     "  replies sent  %llu\n"
                     "  skipped       %llu (frames for stations not served)\n"
                     "  broadcasts    %llu (remote writes to station 0, never answered)\n"
                     "  bad sums      %llu\n"
                     "  garbage bytes %llu\n"
                     "  unknown cmds  %llu\n"
                     "  faults        drop %llu, corrupt %llu, short %llu, delay %llu, noise %llu, duplicate %llu"
                     " (seed %llu)\n",
                     static_cast<double>(monotonicMs() - start_) / 1000.0, ull(c.requests), sent_, ull(c.skipped),
                     ull(c.broadcasts), ull(c.badSums), ull(c.garbageBytes), ull(c.unknown), faults_.drop,
                     faults_.corrupt, faults_.shortReply, faults_.delay, faults_.noise, faults_.duplicate,
                     static_cast<unsigned long long>(o_.seed));
    }

private:
    // Clients the TCP server accepted so far; 0 on other transports.
    unsigned long clients() const { return server_ ? server_->connections() : 0; }

    // Counter value for printf.
    static unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

    // Sleeps in short steps so a signal still ends the run promptly.
    static void sleepMs(int ms)
    {
        const long long end = monotonicMs() + ms;
        while (!g_stop && monotonicMs() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(50, end - monotonicMs())));
    }

    // Forgets a half-received frame, with a trace line.
    void dropPartial(const char *why)
    {
        const std::size_t n = model_.discardPartial();
        if (n && o_.trace)
            std::fprintf(stderr, "%s -- dropped %zu bytes of an incomplete frame (%s)\n", timestamp().c_str(), n,
                         why);
    }

    // Station a frame is addressed to.
    int stationOf(const std::vector<std::uint8_t> &f) const
    {
        if (o_.remote)
            return f.size() > 4 ? f[4] : -1;
        return f.size() > 2 ? (((f[1] << 8) | f[2]) >> 4) & 0xFF : -1;
    }

    // Feeds received bytes, answers every frame; true when the run is over.
    bool serve(const std::vector<std::uint8_t> &in)
    {
        std::vector<std::uint8_t> dropped;
        const std::uint64_t badBefore = model_.counters().badSums;
        const auto frames = model_.feed(in.data(), in.size(), &dropped);
        if (o_.trace && !dropped.empty())
            std::fprintf(stderr, "%s -- dropped %s%s\n", timestamp().c_str(), bracketed(dropped, '[').c_str(),
                         model_.counters().badSums != badBefore ? " (bad sum)" : " (no frame)");
        for (const auto &frame : frames) {
            const marovin_device::Counters before = model_.counters();
            if (o_.trace)
                std::fprintf(stderr, "%s rx %s\n", timestamp().c_str(), bracketed(frame, '[').c_str());
            std::vector<std::uint8_t> reply = model_.handle(frame);
            const marovin_device::Counters &after = model_.counters();
            if (reply.empty()) {
                if (o_.trace) {
                    const char *why = after.broadcasts != before.broadcasts ? "broadcast, no reply"
                                      : after.skipped != before.skipped     ? "station not served, no reply"
                                                                            : "no reply";
                    std::fprintf(stderr, "%s -- %s\n", timestamp().c_str(), why);
                }
            } else {
                send(stationOf(frame), reply);
            }
            if (o_.exitAfter > 0 && after.requests >= static_cast<std::uint64_t>(o_.exitAfter))
                return true;
            if (g_stop)
                return true;
        }
        return false;
    }

    // Sends a reply, possibly spoilt by an injected fault.
    void send(int station, std::vector<std::uint8_t> reply)
    {
        const char *fault = nullptr;
        int delayMs = 0;
        bool twice = false;
        const marovin_sim::FaultRates &f = o_.faults;
        ++repliesDue_;
        const bool faultWindow = f.forReplies == 0 || repliesDue_ <= f.forReplies;
        if (faultWindow && (f.station < 0 || f.station == station)) {
            std::uniform_real_distribution<double> percent(0.0, 100.0);
            const double r = percent(rng_);
            if (r < f.drop) {
                ++faults_.drop;
                if (o_.trace)
                    std::fprintf(stderr, "%s -- fault: drop %s\n", timestamp().c_str(),
                                 bracketed(reply, '<').c_str());
                return;
            }
            if (r < f.drop + f.noise) {
                ++faults_.noise;
                fault = "noise";
                std::uniform_int_distribution<std::size_t> length(1, 2 * reply.size());
                std::uniform_int_distribution<int> byte(0, 255);
                reply.assign(length(rng_), 0);
                for (auto &b : reply)
                    b = static_cast<std::uint8_t>(byte(rng_));
            } else if (r < f.drop + f.noise + f.shortReply) {
                ++faults_.shortReply;
                fault = "short";
                if (reply.size() > 1) {
                    std::uniform_int_distribution<std::size_t> length(1, reply.size() - 1);
                    reply.resize(length(rng_));
                } else {
                    reply.clear();
                }
            } else if (r < f.drop + f.noise + f.shortReply + f.corrupt) {
                ++faults_.corrupt;
                fault = "corrupt";
                std::uniform_int_distribution<int> flip(1, 255);
                reply.back() = static_cast<std::uint8_t>(reply.back() ^ flip(rng_));
            }
            if (f.delay > 0 && percent(rng_) < f.delay) {
                ++faults_.delay;
                if (o_.trace)
                    std::fprintf(stderr, "%s -- fault: delay %d ms\n", timestamp().c_str(), f.delayMs);
                delayMs = f.delayMs;
            }
            twice = f.duplicate > 0 && percent(rng_) < f.duplicate;
        }
        if (reply.empty()) {
            if (o_.trace)
                std::fprintf(stderr, "%s -- fault: %s, nothing sent\n", timestamp().c_str(), fault ? fault : "");
            return;
        }
        transmit(reply, delayMs, fault);
        if (twice) {
            ++faults_.duplicate;
            transmit(reply, o_.faults.duplicateMs, "duplicate");
        }
    }

    // Puts a reply on the line, extraMs after its turnaround, with a trace line.
    void transmit(const std::vector<std::uint8_t> &reply, int extraMs, const char *fault)
    {
        const bool ok = pace_.send(*port_, reply.data(), reply.size(), extraMs);
        if (ok)
            ++sent_;
        if (o_.trace)
            std::fprintf(stderr, "%s tx %s%s%s%s%s\n", timestamp().c_str(), bracketed(reply, '<').c_str(),
                         fault ? " (fault: " : "", fault ? fault : "", fault ? ")" : "",
                         ok ? "" : " (write failed)");
    }

    // One animation step for every animated variable.
    void animate(long long now)
    {
        const double seconds = static_cast<double>(now - start_) / 1000.0;
        const double phase = std::sin(2.0 * 3.14159265358979323846 * seconds / 20.0);
        for (const Animation &a : o_.animations) {
            const int s = a.key.station;
            const std::uint32_t addr = a.key.address;
            switch (a.key.area) {
            case 0: {
                const int bit = static_cast<int>(addr);
                const bool v = a.kind == AnimationKind::Sine ? phase > 0 : !model_.statusBit(s, bit);
                model_.setStatusBit(s, bit, v);
                break;
            }
            case 5: {
                float v = model_.decimalFloat(s, addr);
                if (a.kind == AnimationKind::Counter)
                    v = v + 1.0f >= 10000.0f ? 0.0f : v + 1.0f;
                else if (a.kind == AnimationKind::Toggle)
                    v = v == 0.0f ? 1.0f : 0.0f;
                else  // one decimal keeps the value exact in the decimal-float words
                    v = static_cast<float>(std::round((50.0 + 40.0 * phase) * 10.0) / 10.0);
                model_.setDecimalFloat(s, addr, v);
                break;
            }
            default: {
                std::uint32_t v = model_.areaValue(s, a.key.area, addr);
                if (a.kind == AnimationKind::Counter)
                    v = v + 1;
                else if (a.kind == AnimationKind::Toggle)
                    v = v == 0 ? 1 : 0;
                else if (a.kind == AnimationKind::Clock)
                    v = static_cast<std::uint32_t>(wallMs());
                else
                    v = static_cast<std::uint32_t>(std::lround(1000.0 + 1000.0 * phase));
                model_.setAreaValue(s, a.key.area, addr, v);
                break;
            }
            }
        }
    }

    const Options &o_;
    std::unique_ptr<marovin_port::Port> port_;
    const marovin_port::TcpServerPort *server_;
    DeviceModel model_;
    std::mt19937_64 rng_;
    FaultCounts faults_;
    long long repliesDue_ = 0;  // replies the device produced, spoilt or not
    unsigned long long sent_ = 0;
    long long start_ = 0;
    long long nextTick_ = 0;
    marovin_sim::LinePace pace_;
};

// The demo set on station 1, shared with marovin-host's default variables.
void addDemo(Options *o)
{
    const char *values[] = {
        "1:1:10=0",     "1:1:11=1234", "1:1:12=0x1234", "1:1:13=65535", "1:2:20=123456",
        "1:3:30=4321",  "1:4:40=0x12345678", "1:5:50=50", "1:0:2=1", "1:0:12=0",
        "1:0:25=1",     "1:0:29=0",
    };
    std::vector<marovin_device::Assignment> demo;
    for (const char *text : values) {
        marovin_device::Assignment a;
        std::string error;
        marovin_device::parseAssignment(text, &a, &error);
        demo.push_back(a);
    }
    // Explicit --set values come after the demo and win.
    o->sets.insert(o->sets.begin(), demo.begin(), demo.end());
    const char *animations[] = {"1:1:10=counter", "1:5:50=sine", "1:0:29=toggle"};
    std::vector<Animation> anims;
    for (const char *text : animations) {
        Animation a;
        std::string error;
        marovin_sim::parseAnimation(text, &a, &error);
        anims.push_back(a);
    }
    o->animations.insert(o->animations.begin(), anims.begin(), anims.end());
}

// Adds the memory files, then the demo, before the command line's values, and
// picks a seed; -1 to go on, else the exit status after a message.
int loadMemory(Options *o)
{
    // Memory files first, so that --set on the command line overrides them.
    std::vector<marovin_device::Assignment> fileSets;
    std::vector<Animation> fileAnimations;
    std::string error;
    for (const std::string &path : o->memoryFiles) {
        bool unreadable = false;
        if (!marovin_sim::loadMemoryFile(path, &fileSets, &fileAnimations, &error, &unreadable)) {
            std::fprintf(stderr, "marovin-sim: %s\n", error.c_str());
            return unreadable ? 1 : 2;
        }
    }
    o->sets.insert(o->sets.begin(), fileSets.begin(), fileSets.end());
    o->animations.insert(o->animations.begin(), fileAnimations.begin(), fileAnimations.end());
    if (o->demo) {
        addDemo(o);
        if (!o->allStations && !o->stations.count(1))
            std::fprintf(stderr, "marovin-sim: warning: --demo fills station 1, which --stations does not serve\n");
    }
    if (!o->seedGiven)
        o->seed =
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000007ULL;
    return -1;
}

// Opens the transport the options ask for; *server is the port when it is a
// TCP server, *where the first line to print. Null with a message on failure.
std::unique_ptr<marovin_port::Port> openPort(const Options &o, const marovin_port::TcpServerPort **server,
                                             std::string *where, std::string *error)
{
    switch (o.transport) {
    case marovin_sim::Transport::Pty: {
        std::string path;
        std::unique_ptr<marovin_port::Port> port = marovin_port::openPtyMaster(&path, error);
        *where = "pty " + path;
        return port;
    }
    case marovin_sim::Transport::Serial: {
        std::unique_ptr<marovin_port::Port> port = marovin_port::openSerial(o.serialDevice, o.serial, error);
        if (port)
            *where = "serial " + port->describe();
        return port;
    }
    case marovin_sim::Transport::Tcp:
        break;
    }
    std::unique_ptr<marovin_port::TcpServerPort> port = marovin_port::openTcpServer(o.tcpHost, o.tcpPort, error);
    *server = port.get();
    if (port)
        *where = "tcp " + o.tcpHost + ":" + std::to_string(port->localPort());
    return port;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    const int parsed = marovin_sim::parseOptions(argc, argv, &o);
    if (parsed >= 0)
        return parsed;
    const int loaded = loadMemory(&o);
    if (loaded >= 0)
        return loaded;

    std::string error;
    const marovin_port::TcpServerPort *server = nullptr;
    std::string where;
    std::unique_ptr<marovin_port::Port> port = openPort(o, &server, &where, &error);
    if (!port) {
        std::fprintf(stderr, "marovin-sim: %s\n", error.c_str());
        return 1;
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed terminal stops as cleanly (summary, --dump-on-exit), unless ignored (nohup).
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_DFL)
        sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator sim(o, std::move(port), server);
    DeviceModel &model = sim.model();
    model.setRemote(o.remote);
    model.setHeaderEcho(!o.noEcho);
    if (o.allStations)
        model.serveAllStations();
    else
        model.setStations(o.stations);
    for (const marovin_device::Assignment &a : o.sets)
        marovin_device::apply(model, a);

    std::printf("marovin-sim: %s\n", where.c_str());
    std::fflush(stdout);
    if (o.trace) {
        std::string stations = o.allStations ? "all" : "";
        for (int s : o.stations)
            if (!o.allStations)
                stations += (stations.empty() ? "" : ",") + std::to_string(s);
        std::fprintf(stderr, "%s -- %s mode, stations %s, seed %llu\n", timestamp().c_str(),
                     o.remote ? "remote" : "local", stations.c_str(), static_cast<unsigned long long>(o.seed));
    }

    int status = sim.run();
    sim.summary();
    if (!o.dumpFile.empty()) {
        std::ofstream out(o.dumpFile, std::ios::binary | std::ios::trunc);
        out << marovin_device::dumpMemoryText(model);
        out.close();
        if (!out) {
            std::fprintf(stderr, "marovin-sim: cannot write %s: %s\n", o.dumpFile.c_str(), std::strerror(errno));
            status = 1;
        }
    }
    return status;
}
