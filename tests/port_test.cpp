// Byte transports over loopback: a pseudo-terminal pair (the master and its
// slave opened as a serial device) and a TCP server with a client; and the
// host:port forms the tools take.
#include <gtest/gtest.h>

#include <termios.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "HostPort.h"
#include "Port.h"

using marovin_port::Port;
using Bytes = std::vector<std::uint8_t>;

namespace {

long long elapsedMs(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

Bytes text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

// Under qemu-arm the timing bounds get loose; the transports themselves work.
int slackMs()
{
    return std::getenv("MAROVIN_UNDER_QEMU") ? 1500 : 400;
}

// A pty master and its slave opened through openSerial.
struct PtyPair {
    explicit PtyPair(const marovin_port::SerialOptions &options = {})
    {
        std::string error;
        master = marovin_port::openPtyMaster(&path, &error);
        EXPECT_TRUE(master) << error;
        if (master)
            slave = marovin_port::openSerial(path, options, &error);
        EXPECT_TRUE(slave) << error;
    }
    std::unique_ptr<Port> master, slave;
    std::string path;
};

// Reads until `count` bytes are in or two seconds passed.
Bytes readAll(Port &port, std::size_t count)
{
    Bytes all, part;
    const auto start = std::chrono::steady_clock::now();
    while (all.size() < count && elapsedMs(start) < 2000 && port.read(part, static_cast<int>(count - all.size()), 200, 50))
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Writes `bytes` to `port` after `ms` milliseconds, on a thread of its own.
std::thread later(Port &port, Bytes bytes, int ms)
{
    return std::thread([&port, bytes, ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        port.write(bytes.data(), bytes.size());
    });
}

TEST(PtyPort, RoundTripsAndPeersComingAndGoing)
{
    PtyPair p;
    ASSERT_TRUE(p.master && p.slave);
    EXPECT_EQ(p.master->describe(), "pty " + p.path);
    EXPECT_EQ(p.path.rfind("/dev/pts/", 0), 0u) << p.path;
    Bytes big(10000);
    std::iota(big.begin(), big.end(), std::uint8_t{0});  // every byte value: no line discipline in the way
    for (const Bytes &m : {text("hello"), Bytes{0x0A, 0x0D, 0x00, 0x11, 0x13, 0x03, 0x7F, 0xFF}, big}) {
        ASSERT_TRUE(p.master->write(m.data(), m.size()));
        EXPECT_EQ(readAll(*p.slave, m.size()), m);
        std::thread sender = later(*p.slave, m, 0);
        Bytes out;
        EXPECT_TRUE(p.master->read(out, -1, 1000, 300)) << "an unknown length takes more than one bufferful";
        sender.join();
        EXPECT_EQ(out, m);
    }
    // The master outlives its peers: no peer, a read times out quietly; a new one is heard.
    p.slave.reset();
    Bytes out;
    EXPECT_TRUE(p.master->read(out, -1, 50, 10) && out.empty() && p.master->isOpen());
    std::string error;
    auto next = marovin_port::openSerial(p.path, {}, &error);
    ASSERT_TRUE(next) << error;
    ASSERT_TRUE(next->write(big.data(), 5));
    EXPECT_EQ(readAll(*p.master, 5), Bytes(big.begin(), big.begin() + 5));
    // The slave sees the master go away, and closes.
    p.master.reset();
    EXPECT_FALSE(next->read(out, -1, 500, 10));
    EXPECT_FALSE(next->isOpen());
}

TEST(PortRead, WaitsForTheFirstByteThenForGaps)
{
    // A burst of 3 bytes is waiting; 2 more may follow.
    const struct {
        const char *what;
        int wanted, firstMs, interMs, laterMs;  // laterMs: when the second burst comes; -1: never
        std::size_t expected;                   // bytes returned by the first read
    } rows[] = {
        {"stops at wanted", 2, 500, 200, -1, 2},
        {"takes what is waiting", -1, 500, 0, -1, 3},
        {"a gap longer than the inter-byte time ends the read", -1, 500, 50, 700, 3},
        {"a gap shorter than the inter-byte time joins the bursts", -1, 500, 600, 100, 5},
        {"wanted reached across bursts", 5, 500, 600, 100, 5},
    };
    for (const auto &r : rows) {
        for (bool into : {false, true}) {
            SCOPED_TRACE(std::string(r.what) + (into ? ", readInto" : ", read"));
            PtyPair p;
            ASSERT_TRUE(p.master && p.slave);
            ASSERT_TRUE(p.master->write(text("abc").data(), 3));
            std::thread second = r.laterMs >= 0 ? later(*p.master, text("de"), r.laterMs) : std::thread();
            Bytes out(16, 0);
            if (into)
                out.resize(static_cast<std::size_t>(std::max(0L, p.slave->readInto(out.data(), r.wanted < 0 ? 16 : r.wanted,
                                                                                 r.firstMs, r.interMs))));
            else
                EXPECT_TRUE(p.slave->read(out, r.wanted, r.firstMs, r.interMs));
            if (second.joinable())
                second.join();
            EXPECT_EQ(out, text(std::string("abcde", r.expected)));
            // Nothing is lost unseen: the rest comes with the next read, except
            // what readInto got in the same chunk past its buffer, which it counts.
            Bytes rest;
            EXPECT_TRUE(p.slave->read(rest, -1, 300, 50));
            const std::size_t dropped = p.slave->takeDiscarded();
            EXPECT_EQ(dropped, into && r.wanted >= 0 ? 3 - std::min<std::size_t>(3, r.wanted) : 0u);
            EXPECT_EQ(out.size() + rest.size() + dropped, r.laterMs >= 0 ? 5u : 3u);
        }
    }
}

// Does nothing: the signal only has to interrupt a wait.
void ignoreSignal(int) {}

// Sends SIGUSR1 to this thread every few milliseconds for a while; the handler
// is installed without SA_RESTART, so each signal cuts a poll() short.
class SignalRain {
public:
    SignalRain() : target_(pthread_self())
    {
        struct sigaction action {};
        action.sa_handler = &ignoreSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGUSR1, &action, &previous_);
        thread_ = std::thread([this] {
            const auto start = std::chrono::steady_clock::now();
            for (; !stop_ && elapsedMs(start) < 1500; ++sent_) {
                pthread_kill(target_, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~SignalRain()
    {
        stop_ = true;
        thread_.join();
        sigaction(SIGUSR1, &previous_, nullptr);
    }
    std::atomic<int> sent_{0};

private:
    pthread_t target_;
    struct sigaction previous_ {};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(PortRead, TimeoutsSignalsFlushAndTheEndOfThePeer)
{
    PtyPair p;
    ASSERT_TRUE(p.master && p.slave);
    std::uint8_t buffer[16];
    for (int timeout : {0, 50, 250}) {
        Bytes out = text("stale");
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(p.slave->read(out, 10, timeout, 20)) << timeout;
        const long long took = elapsedMs(start);
        EXPECT_TRUE(out.empty()) << "the output is replaced, also on a timeout";
        EXPECT_TRUE(took >= timeout - 1 && took <= timeout + slackMs()) << timeout << ": " << took;
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(p.slave->readInto(buffer, sizeof buffer, timeout, 20), 0) << "nothing came: not a failure";
        EXPECT_LE(elapsedMs(start), timeout + slackMs());
    }
    // Signals neither cut a wait short nor split a reply.
    const Bytes reply = text("0123456789ABC");
    // The pieces come 60 ms apart; a loaded machine may stretch that, a signal every 5 ms may not split it.
    const int gapMs = 300 + slackMs();
    for (bool into : {false, true}) {
        SCOPED_TRACE(into ? "readInto" : "read");
        SignalRain rain;
        const auto start = std::chrono::steady_clock::now();
        Bytes out(32, 0);
        EXPECT_TRUE(into ? p.slave->readInto(out.data(), 8, 300, 20) == 0 : p.slave->read(out, 8, 300, 20) && out.empty());
        const long long took = elapsedMs(start);
        EXPECT_GT(rain.sent_, 2) << "the wait was interrupted";
        // A resumed wait counts from its first interruption, a few ms in.
        EXPECT_TRUE(took >= 299 && took <= 600 + slackMs()) << took;
        // One writer for both pieces: two delayed threads may run out of order on a busy machine.
        std::thread writer([&] {
            later(*p.master, Bytes(reply.begin(), reply.begin() + 5), 60).join();
            later(*p.master, Bytes(reply.begin() + 5, reply.end()), 60).join();
        });
        out.assign(32, 0);
        if (into)
            out.resize(static_cast<std::size_t>(std::max(0L, p.slave->readInto(out.data(), reply.size(), 1000, gapMs))));
        else
            EXPECT_TRUE(p.slave->read(out, -1, 1000, gapMs));
        writer.join();
        EXPECT_EQ(out, reply);
    }
    // A flush drops what came late; the peer's end ends the port.
    ASSERT_TRUE(p.master->write(text("late reply").data(), 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.slave->flushInput();
    Bytes out;
    EXPECT_TRUE(p.slave->read(out, -1, 100, 10) && out.empty()) << "a late reply is gone";
    p.master.reset();
    EXPECT_EQ(p.slave->readInto(buffer, sizeof buffer, 500, 10), -1);
    EXPECT_FALSE(p.slave->isOpen());
}

TEST(SerialPort, DescribesAndRejectsItsSettings)
{
    PtyPair p({921600, 8, 'E'});
    ASSERT_TRUE(p.slave);
    EXPECT_EQ(p.slave->describe(), p.path + " 921600 8E1");
    EXPECT_DOUBLE_EQ(p.slave->bytesPerSecond(), 921600.0 / 11.0);
    const struct {
        marovin_port::SerialOptions options;
        const char *message;
    } rows[] = {{{12345}, "baud"}, {{9600, 9}, "data bits"}, {{9600, 8, 'X'}, "parity"},
                {{9600, 8, 'N', 3}, "stop bits"}};
    for (const auto &r : rows) {
        std::string error;
        EXPECT_FALSE(marovin_port::openSerial(p.path, r.options, &error)) << r.message;
        EXPECT_NE(error.find(r.message), std::string::npos) << error;
    }
    for (const char *device : {"/dev/null", "/nonexistent/tty"}) {
        std::string error;
        EXPECT_FALSE(marovin_port::openSerial(device, {}, &error));
        EXPECT_NE(error.find(device[1] == 'd' ? "not a serial device" : device), std::string::npos) << error;
    }
}

// What the device gets: every listed rate, and the rate and stop bits of each row, reach its
// termios settings (a pseudo-terminal keeps 8 data bits without parity whatever it is told).
TEST(SerialPort, SettingsReachTheDevice)
{
    const struct {
        marovin_port::SerialOptions options;
        speed_t speed;
        tcflag_t stop;
    } rows[] = {{{9600, 8, 'N', 1}, B9600, 0}, {{19200, 7, 'E', 2}, B19200, CSTOPB}, {{200, 5, 'o', 1}, B200, 0},
                {{115200, 6, 'N', 2}, B115200, CSTOPB}};
    // The slave's settings once opened with these options.
    const auto settings = [](const marovin_port::SerialOptions &options, termios *tio) {
        PtyPair p(options);
        return p.slave && ::tcgetattr(p.slave->fd(), tio) == 0;
    };
    for (const auto &r : rows) {
        termios tio{};
        ASSERT_TRUE(settings(r.options, &tio)) << r.options.baud;
        EXPECT_EQ(::cfgetospeed(&tio), r.speed) << r.options.baud;
        EXPECT_EQ(tio.c_cflag & CSTOPB, r.stop) << r.options.baud;
    }
    const std::vector<int> &rates = marovin_port::supportedBaudRates();
    EXPECT_TRUE(std::is_sorted(rates.begin(), rates.end())) << "listed to users in increasing order";
    for (int rate : rates) {
        termios tio{};
        EXPECT_TRUE(settings({rate}, &tio)) << rate;
    }
}

TEST(TcpPort, ServerAndClientsComingAndGoing)
{
    std::string error;
    auto server = marovin_port::openTcpServer("", 0, &error);  // loopback by default
    ASSERT_TRUE(server) << error;
    const int port = server->localPort();
    EXPECT_EQ(server->describe(), "tcp server 127.0.0.1:" + std::to_string(port));
    // No client yet: a read waits and returns nothing, without failing; a write fails.
    Bytes out;
    std::uint8_t buffer[16];
    EXPECT_TRUE(server->read(out, -1, 50, 10) && out.empty() && !server->hasPeer());
    EXPECT_EQ(server->readInto(buffer, 4, 30, 10), 0);
    EXPECT_FALSE(server->write(buffer, 1));
    EXPECT_FALSE(marovin_port::openTcpServer("127.0.0.1", port, &error)) << "the port is taken";
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
    for (unsigned long n = 1; n <= 3; ++n) {
        auto client = marovin_port::openTcpClient("127.0.0.1", port, &error);
        ASSERT_TRUE(client) << error;
        EXPECT_EQ(client->describe(), "tcp 127.0.0.1:" + std::to_string(port));
        const Bytes m = text("client " + std::to_string(n));
        ASSERT_TRUE(client->write(m.data(), m.size()));
        EXPECT_EQ(readAll(*server, m.size()), m);
        EXPECT_TRUE(server->hasPeer());
        EXPECT_EQ(server->connections(), n);
        ASSERT_TRUE(server->write(m.data(), 4));
        EXPECT_EQ(client->readInto(buffer, 4, 500, 50), 4);
        client.reset();
        // The departure is noticed by either kind of read, which is not a failure of the server.
        if (n == 2)
            EXPECT_EQ(server->readInto(buffer, 4, 500, 10), 0);
        else
            EXPECT_TRUE(server->read(out, -1, 500, 10));
        EXPECT_TRUE(!server->hasPeer() && server->isOpen());
    }
    // A client notices the server going, and reconnects when it is back.
    auto client = marovin_port::openTcpClient("127.0.0.1", port, &error);
    ASSERT_TRUE(client) << error;
    server->read(out, -1, 200, 10);  // accept
    server.reset();
    EXPECT_EQ(client->readInto(buffer, 4, 1000, 10), -1);
    EXPECT_FALSE(client->isOpen());
    EXPECT_FALSE(client->reopen()) << "nobody listens";
    EXPECT_FALSE(marovin_port::openTcpClient("127.0.0.1", port, &error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    EXPECT_FALSE(marovin_port::openTcpClient("127.0.0.1", 0, &error) || error.empty());
    EXPECT_TRUE(marovin_port::openTcpClient("127.0.0.1", 65535, &error) || error.find("cannot connect") == 0) << error;
    server = marovin_port::openTcpServer("127.0.0.1", port, &error);
    ASSERT_TRUE(server) << error;
    ASSERT_TRUE(client->reopen());
    ASSERT_TRUE(client->write(text("back").data(), 4));
    EXPECT_EQ(readAll(*server, 4), text("back"));
    // A peer that stops reading: a long write gives up after the stall limit.
    const Bytes flood(64 << 20, 0x55);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client->write(flood.data(), flood.size()));
    EXPECT_LT(elapsedMs(start), 2000 + slackMs());
}

TEST(HostPort, EachFormItsDefaultsAndRefusals)
{
    using marovin_port::HostCheck;
    using Rules = marovin_port::HostPortRules;
    const std::string host = Rules().defaultHost;  // HOST DEFAULT-PORT ANY-PORT EMPTY-HOST CHECK
    // [HOST:]PORT, ":PORT" on the default host, the resolver judges the host
    const Rules connect{host, -1, false, true, HostCheck::Any};
    const Rules listen{host, -1, true};  // [ADDR:]PORT, port 0 for any
    const Rules any{host, -1, true, true, HostCheck::Any};  // and the host as written, ":PORT" on the default host
    const Rules broker{host, 1883, false, false, HostCheck::Name};  // HOST[:PORT], [V6] only in brackets
    // port < 0: refused, with `host` the message.
    const struct {
        const char *text;
        const marovin_port::HostPortRules &rules;
        const char *host;
        int port;
    } rows[] = {
        {"502", connect, "127.0.0.1", 502},          {"plc-1.lan:00502", connect, "plc-1.lan", 502},
        {":502", connect, "127.0.0.1", 502},         {"[::1]:502", connect, "::1", 502},
        {"::1:65535", listen, "::1", 65535},         {"0", listen, "127.0.0.1", 0},
        {"[]:0", any, "[]", 0},                      {"broker", broker, "broker", 1883},
        {"[::1]", broker, "::1", 1883},              {"[::1]:1884", broker, "::1", 1884},
        {"0", connect, "\"0\" is not a port number", -1},
        {"65536", listen, "\"65536\" is not a port number", -1},
        {"123456", listen, "\"123456\" is not a port number", -1},
        {"-0", any, "\"-0\" is not a port number", -1},
        {"", connect, "\"\" is not a port number", -1},
        {"h:", connect, "\"\" is not a port number", -1},
        {"x:y", listen, "\"y\" is not a port number", -1},
        {":80", listen, "\"\" is not a host name or address", -1},
        {"a b:80", listen, "\"a b\" is not a host name or address", -1},
        {"[]:80", listen, "\"[]\" is not a host name or address", -1},
        {"", broker, "\"\" is not a host name or address", -1},
        {"::1", broker, "\"\" is not a host name or address", -1},
        {"[::1]x", broker, "\"[::1]x\" is not a host name or address", -1},
        {"[zz]:1", broker, "\"[zz]\" is not a host name or address", -1},
        {"a/b", broker, "\"a/b\" is not a host name or address", -1},
        {"a:1:2", broker, "\"1:2\" is not a port number", -1},
        {"a:0", broker, "\"0\" is not a port number", -1},
    };
    for (const auto &r : rows) {
        std::string host = "kept", why;
        int port = -7;
        const bool ok = marovin_port::parseHostPort(r.text, r.rules, &host, &port, &why);
        if (r.port >= 0)
            EXPECT_TRUE(ok && host == r.host && port == r.port) << r.text << ": " << host << " " << port << " " << why;
        else
            EXPECT_TRUE(!ok && why == r.host && host == "kept" && port == -7) << r.text << ": " << why;
    }
}

}  // namespace
