// Byte transports over loopback: a pseudo-terminal pair (the master and its
// slave opened as a serial device) and a TCP server with a client.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Port.h"

using marovin_port::Port;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Milliseconds since `start`.
long long elapsedMs(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Bytes of a text.
Bytes text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

// Under qemu-arm user emulation the timing bounds get loose; the transports
// themselves work (pty ioctls and sockets are passed through).
bool underQemu()
{
    return std::getenv("MAROVIN_UNDER_QEMU") != nullptr;
}

// Slack allowed above a timeout.
int slackMs()
{
    return underQemu() ? 1500 : 400;
}

struct PtyPair {
    std::unique_ptr<Port> master, slave;
    std::string path;
};

// A pty master and its slave opened through openSerial.
PtyPair openPair(const marovin_port::SerialOptions &options = {})
{
    PtyPair p;
    std::string error;
    p.master = marovin_port::openPtyMaster(&p.path, &error);
    EXPECT_TRUE(p.master) << error;
    if (!p.master)
        return p;
    p.slave = marovin_port::openSerial(p.path, options, &error);
    EXPECT_TRUE(p.slave) << error;
    return p;
}

// Reads until `count` bytes are in or two seconds passed.
Bytes readAll(Port &port, std::size_t count)
{
    Bytes all, part;
    const auto start = std::chrono::steady_clock::now();
    while (all.size() < count && elapsedMs(start) < 2000) {
        if (!port.read(part, static_cast<int>(count - all.size()), 200, 50))
            break;
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace

TEST(PtyPort, RoundTripsBothWays)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    EXPECT_EQ(p.master->describe(), "pty " + p.path);
    EXPECT_EQ(p.path.rfind("/dev/pts/", 0), 0u) << p.path;

    Bytes big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);  // every byte value, no line discipline in the way
    const Bytes messages[] = {text("hello"), Bytes{0x0A, 0x0D, 0x00, 0x11, 0x13, 0x03, 0x7F, 0xFF}, big};
    for (const Bytes &m : messages) {
        ASSERT_TRUE(p.master->write(m.data(), m.size()));
        EXPECT_EQ(readAll(*p.slave, m.size()), m);
        ASSERT_TRUE(p.slave->write(m.data(), m.size()));
        EXPECT_EQ(readAll(*p.master, m.size()), m);
    }
}

TEST(PtyPort, MasterOutlivesItsPeers)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    p.slave.reset();
    // No peer: a read times out quietly instead of failing with EIO.
    Bytes out;
    EXPECT_TRUE(p.master->read(out, -1, 50, 10));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(p.master->isOpen());

    std::string error;
    auto next = marovin_port::openSerial(p.path, {}, &error);
    ASSERT_TRUE(next) << error;
    const Bytes m = text("again");
    ASSERT_TRUE(next->write(m.data(), m.size()));
    EXPECT_EQ(readAll(*p.master, m.size()), m);
}

TEST(PtyPort, SlaveSeesTheMasterGoAway)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    p.master.reset();
    Bytes out;
    EXPECT_FALSE(p.slave->read(out, -1, 500, 10));
    EXPECT_FALSE(p.slave->isOpen());
}

TEST(PortRead, WaitsForTheFirstByteThenForGaps)
{
    struct Row {
        const char *what;
        int wanted, firstMs, interMs;
        int laterDelayMs;      // the second burst comes this late; -1: no second burst
        std::size_t expected;  // bytes returned by the first read
    };
    // A burst of 3 bytes is waiting; 2 more may follow.
    const Row rows[] = {
        {"stops at wanted", 2, 500, 200, -1, 2},
        {"takes what is waiting", -1, 500, 0, -1, 3},
        {"gap longer than the inter-byte time ends the read", -1, 500, 50, 700, 3},
        {"gap shorter than the inter-byte time joins the bursts", -1, 500, 600, 100, 5},
        {"wanted reached across bursts", 5, 500, 600, 100, 5},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        PtyPair p = openPair();
        ASSERT_TRUE(p.master && p.slave);
        const Bytes first = text("abc"), second = text("de");
        ASSERT_TRUE(p.master->write(first.data(), first.size()));
        std::thread later;
        if (row.laterDelayMs >= 0)
            later = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.laterDelayMs));
                p.master->write(second.data(), second.size());
            });
        Bytes out;
        EXPECT_TRUE(p.slave->read(out, row.wanted, row.firstMs, row.interMs));
        if (later.joinable())
            later.join();
        EXPECT_EQ(out.size(), row.expected);
        const Bytes all = text("abcde");
        EXPECT_EQ(out, Bytes(all.begin(), all.begin() + static_cast<long>(std::min(out.size(), all.size()))));
        // Nothing read is lost: the rest comes with the next read.
        Bytes rest;
        EXPECT_TRUE(p.slave->read(rest, -1, 300, 50));
        const std::size_t total = row.laterDelayMs >= 0 ? 5 : 3;
        EXPECT_EQ(out.size() + rest.size(), total);
    }
}

TEST(PortRead, TimesOutWithoutData)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    for (int timeout : {0, 50, 250}) {
        Bytes out = text("stale");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(p.slave->read(out, 10, timeout, 20)) << timeout;
        const long long took = elapsedMs(start);
        EXPECT_TRUE(out.empty()) << "the output is replaced, also on a timeout";
        EXPECT_GE(took, timeout - 1) << timeout;
        EXPECT_LE(took, timeout + slackMs()) << timeout;
    }
}

TEST(PortRead, FlushInputDropsWaitingBytes)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    const Bytes late = text("late reply");
    ASSERT_TRUE(p.master->write(late.data(), late.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p.slave->flushInput();
    Bytes out;
    EXPECT_TRUE(p.slave->read(out, -1, 100, 10));
    EXPECT_TRUE(out.empty());
    const Bytes fresh = text("fresh");
    ASSERT_TRUE(p.master->write(fresh.data(), fresh.size()));
    EXPECT_EQ(readAll(*p.slave, fresh.size()), fresh);
}

namespace {

// Does nothing: the signal only has to interrupt a wait.
void ignoreSignal(int) {}

// Sends SIGUSR1 to one thread every few milliseconds for a while (so that a
// wait that restarts in full at each signal still ends); the handler is
// installed without SA_RESTART, so each signal cuts a poll() short.
class SignalRain {
public:
    explicit SignalRain(pthread_t target, int forMs = 1500) : target_(target)
    {
        struct sigaction action {};
        action.sa_handler = &ignoreSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGUSR1, &action, &previous_);
        thread_ = std::thread([this, forMs] {
            const auto start = std::chrono::steady_clock::now();
            while (!stop_ && elapsedMs(start) < forMs) {
                pthread_kill(target_, SIGUSR1);
                ++sent_;
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
    int sent() const { return sent_; }

private:
    pthread_t target_;
    struct sigaction previous_ {};
    std::atomic<bool> stop_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

}  // namespace

TEST(PortRead, ReadIntoTakesAReplyInItsBuffer)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    const Bytes reply = text("reply of 13 b");
    std::uint8_t buffer[32] = {};

    // Nothing came: 0 bytes after the first-byte wait, not a failure.
    EXPECT_EQ(p.slave->readInto(buffer, reply.size(), 30, 20), 0);

    // All of it in one burst: what came with it is no reply, dropped and counted.
    const Bytes both = text("reply of 13 bEXTRA");
    ASSERT_TRUE(p.master->write(both.data(), both.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(p.slave->readInto(buffer, reply.size(), 500, 50), static_cast<long>(reply.size()));
    EXPECT_EQ(Bytes(buffer, buffer + reply.size()), reply);
    EXPECT_EQ(p.slave->takeDiscarded(), 5u);
    EXPECT_EQ(p.slave->takeDiscarded(), 0u);
    EXPECT_EQ(p.slave->readInto(buffer, reply.size(), 30, 20), 0);

    // Two chunks with a gap shorter than the inter-byte time make one reply.
    ASSERT_TRUE(p.master->write(reply.data(), 6));
    std::thread rest([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        p.master->write(reply.data() + 6, reply.size() - 6);
    });
    const long joined = p.slave->readInto(buffer, reply.size(), 500, 400);
    rest.join();
    ASSERT_EQ(joined, static_cast<long>(reply.size()));
    EXPECT_EQ(Bytes(buffer, buffer + reply.size()), reply);

    // A gap longer than the inter-byte time ends the read after the first chunk.
    ASSERT_TRUE(p.master->write(reply.data(), 6));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        p.master->write(reply.data() + 6, reply.size() - 6);
    });
    const long cut = p.slave->readInto(buffer, reply.size(), 500, 30);
    late.join();
    EXPECT_EQ(cut, 6);
    EXPECT_EQ(readAll(*p.slave, reply.size() - 6), Bytes(reply.begin() + 6, reply.end()));

    // The peer gone: -1, and the serial port closes.
    p.master.reset();
    EXPECT_EQ(p.slave->readInto(buffer, reply.size(), 500, 10), -1);
    EXPECT_FALSE(p.slave->isOpen());
}

TEST(PortRead, ReadIntoOverTcp)
{
    std::string error;
    auto server = marovin_port::openTcpServer("127.0.0.1", 0, &error);
    ASSERT_TRUE(server) << error;
    std::uint8_t buffer[16] = {};
    // No client yet: nothing, without failing.
    EXPECT_EQ(server->readInto(buffer, 4, 30, 10), 0);
    auto client = marovin_port::openTcpClient("127.0.0.1", server->localPort(), &error);
    ASSERT_TRUE(client) << error;
    const Bytes ping = text("ping"), pong = text("pong");
    ASSERT_TRUE(client->write(ping.data(), ping.size()));
    ASSERT_EQ(server->readInto(buffer, ping.size(), 500, 50), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 4), ping);
    ASSERT_TRUE(server->write(pong.data(), pong.size()));
    ASSERT_EQ(client->readInto(buffer, pong.size(), 500, 50), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 4), pong);
    server.reset();
    EXPECT_EQ(client->readInto(buffer, 4, 1000, 10), -1);
    EXPECT_FALSE(client->isOpen());
}

TEST(PortRead, SignalsDoNotCutTheFirstByteWaitShort)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    const int timeout = 300;
    for (bool into : {false, true}) {
        SCOPED_TRACE(into ? "readInto" : "read");
        SignalRain rain(pthread_self());
        const auto start = std::chrono::steady_clock::now();
        Bytes out;
        std::uint8_t buffer[8];
        const bool ok = into ? p.slave->readInto(buffer, sizeof buffer, timeout, 20) == 0
                             : p.slave->read(out, 8, timeout, 20) && out.empty();
        const long long took = elapsedMs(start);
        EXPECT_TRUE(ok);
        EXPECT_GT(rain.sent(), 10) << "the wait was interrupted many times";
        EXPECT_GE(took, timeout - 1);
        // A resumed wait counts from its first interruption, a few ms in.
        EXPECT_LE(took, 2 * timeout + slackMs());
    }
}

TEST(PortRead, SignalsDoNotLoseOrSplitAReply)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    const Bytes reply = text("0123456789ABC");
    for (bool into : {false, true}) {
        SCOPED_TRACE(into ? "readInto" : "read");
        SignalRain rain(pthread_self());
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            p.master->write(reply.data(), 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            p.master->write(reply.data() + 5, reply.size() - 5);
        });
        Bytes out;
        std::uint8_t buffer[32] = {};
        if (into) {
            const long got = p.slave->readInto(buffer, reply.size(), 1000, 300);
            ASSERT_GE(got, 0);
            out.assign(buffer, buffer + got);
        } else {
            EXPECT_TRUE(p.slave->read(out, -1, 1000, 300));
        }
        sender.join();
        EXPECT_EQ(out, reply);
    }
}

TEST(PortRead, UnknownLengthTakesMoreThanOneBufferful)
{
    PtyPair p = openPair();
    ASSERT_TRUE(p.master && p.slave);
    Bytes big(10000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 13 + 1);
    std::thread sender([&] { p.master->write(big.data(), big.size()); });
    Bytes out;
    EXPECT_TRUE(p.slave->read(out, -1, 1000, 300));
    sender.join();
    EXPECT_EQ(out, big);
}

TEST(SerialPort, DescribesAndRejectsItsSettings)
{
    marovin_port::SerialOptions even;
    even.baud = 921600;
    even.parity = 'E';
    PtyPair p = openPair(even);
    ASSERT_TRUE(p.slave);
    EXPECT_EQ(p.slave->describe(), p.path + " 921600 8E1");
    EXPECT_DOUBLE_EQ(p.slave->bytesPerSecond(), 921600.0 / 11.0);

    struct Row {
        int baud, dataBits;
        char parity;
        int stopBits;
        const char *message;
    };
    const Row rows[] = {
        {12345, 8, 'N', 1, "baud"},
        {9600, 9, 'N', 1, "data bits"},
        {9600, 8, 'X', 1, "parity"},
        {9600, 8, 'N', 3, "stop bits"},
    };
    for (const Row &row : rows) {
        marovin_port::SerialOptions o;
        o.baud = row.baud;
        o.dataBits = row.dataBits;
        o.parity = row.parity;
        o.stopBits = row.stopBits;
        std::string error;
        EXPECT_FALSE(marovin_port::openSerial(p.path, o, &error)) << row.message;
        EXPECT_NE(error.find(row.message), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(marovin_port::openSerial("/dev/null", {}, &error));
    EXPECT_NE(error.find("not a serial device"), std::string::npos) << error;
    EXPECT_FALSE(marovin_port::openSerial("/nonexistent/tty", {}, &error));
    EXPECT_NE(error.find("/nonexistent/tty"), std::string::npos) << error;

    const std::vector<int> &rates = marovin_port::supportedBaudRates();
    for (int rate : {9600, 115200, 921600})
        EXPECT_NE(std::find(rates.begin(), rates.end(), rate), rates.end()) << rate;
}

TEST(TcpPort, ServerAndClientRoundTrip)
{
    std::string error;
    auto server = marovin_port::openTcpServer("127.0.0.1", 0, &error);
    ASSERT_TRUE(server) << error;
    const int port = server->localPort();
    ASSERT_GT(port, 0);
    EXPECT_EQ(server->describe(), "tcp server 127.0.0.1:" + std::to_string(port));
    EXPECT_FALSE(server->hasPeer());
    // No client yet: a read waits and returns nothing, without failing.
    Bytes out;
    EXPECT_TRUE(server->read(out, -1, 50, 10));
    EXPECT_TRUE(out.empty());
    const Bytes early = text("x");
    EXPECT_FALSE(server->write(early.data(), early.size())) << "no client to write to";

    auto client = marovin_port::openTcpClient("127.0.0.1", port, &error);
    ASSERT_TRUE(client) << error;
    EXPECT_EQ(client->describe(), "tcp 127.0.0.1:" + std::to_string(port));
    const Bytes ping = text("08 00 10 ping"), pong = text("pong");
    ASSERT_TRUE(client->write(ping.data(), ping.size()));
    EXPECT_EQ(readAll(*server, ping.size()), ping);
    EXPECT_TRUE(server->hasPeer());
    EXPECT_EQ(server->connections(), 1u);
    ASSERT_TRUE(server->write(pong.data(), pong.size()));
    EXPECT_EQ(readAll(*client, pong.size()), pong);
}

TEST(TcpPort, ServerTakesTheNextClientWhenOneLeaves)
{
    std::string error;
    auto server = marovin_port::openTcpServer("", 0, &error);  // loopback by default
    ASSERT_TRUE(server) << error;
    EXPECT_NE(server->describe().find("127.0.0.1"), std::string::npos);
    const int port = server->localPort();
    for (unsigned long n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        auto client = marovin_port::openTcpClient("127.0.0.1", port, &error);
        ASSERT_TRUE(client) << error;
        const Bytes m = text("client " + std::to_string(n));
        ASSERT_TRUE(client->write(m.data(), m.size()));
        EXPECT_EQ(readAll(*server, m.size()), m);
        EXPECT_EQ(server->connections(), n);
        client.reset();
        // The departure is noticed by a read, which is not a failure of the server.
        Bytes out;
        EXPECT_TRUE(server->read(out, -1, 500, 10));
        EXPECT_FALSE(server->hasPeer());
        EXPECT_TRUE(server->isOpen());
    }
}

TEST(TcpPort, ClientNoticesTheServerGoingAndReconnects)
{
    std::string error;
    auto server = marovin_port::openTcpServer("127.0.0.1", 0, &error);
    ASSERT_TRUE(server) << error;
    const int port = server->localPort();
    auto client = marovin_port::openTcpClient("127.0.0.1", port, &error);
    ASSERT_TRUE(client) << error;
    Bytes out;
    server->read(out, -1, 200, 10);  // accept
    server.reset();

    EXPECT_FALSE(client->read(out, -1, 1000, 10));
    EXPECT_FALSE(client->isOpen());
    EXPECT_FALSE(client->reopen()) << "nobody listens";

    server = marovin_port::openTcpServer("127.0.0.1", port, &error);
    ASSERT_TRUE(server) << error;
    ASSERT_TRUE(client->reopen());
    const Bytes m = text("back");
    ASSERT_TRUE(client->write(m.data(), m.size()));
    EXPECT_EQ(readAll(*server, m.size()), m);
}

TEST(TcpPort, ReportsWhatCannotBeOpened)
{
    std::string error;
    auto server = marovin_port::openTcpServer("127.0.0.1", 0, &error);
    ASSERT_TRUE(server) << error;
    const int port = server->localPort();
    // The port is taken.
    EXPECT_FALSE(marovin_port::openTcpServer("127.0.0.1", port, &error));
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
    server.reset();
    // Nobody listens any more.
    EXPECT_FALSE(marovin_port::openTcpClient("127.0.0.1", port, &error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    EXPECT_FALSE(marovin_port::openTcpClient("127.0.0.1", 0, &error));
    EXPECT_FALSE(error.empty());
}
