// The MQTT output driven as the loop drives it, against a mosquitto started
// here on a free loopback port: each change's message, dead-band and
// min-interval, retained state, availability and the will, the status, /set
// writes and their answers, every tag again after a lost session; and the
// Sparkplug edge node on the same broker.
#include "mqtt/MqttOutput.h"
#include "sparkplug/SparkplugNode.h"

#include "SparkplugB.pb.h"
#include "Until.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>

using namespace marovin_host;

namespace {

// The read time every change of these tests says.
const long long kWall = 1700000000123LL;
const std::string kTs = "\"ts\":\"2023-11-14T22:13:20.123Z\"";

// Port 0: a free loopback port. Otherwise the port when something listens on it, or 0.
int loopback(int port)
{
    sockaddr_in a{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    auto *sa = reinterpret_cast<sockaddr *>(&a);
    const bool ok = port ? ::connect(fd, sa, len) == 0 : ::bind(fd, sa, len) == 0 && ::getsockname(fd, sa, &len) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}

// A mosquitto of its own in a temporary folder.
struct Broker {
    char dir[32] = "/tmp/mqtt-unit-XXXXXX";
    const int port = loopback(0);
    pid_t pid = -1;
    Broker()
    {
        EXPECT_TRUE(::mkdtemp(dir));
        std::ofstream(conf()) << "listener " << port << " 127.0.0.1\nallow_anonymous true\nlog_dest none\n";
        if ((pid = ::fork()) == 0) {
            ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf().c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        EXPECT_TRUE(until([this] { return loopback(port) == port; })) << "mosquitto did not start";
    }
    ~Broker()
    {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        ::unlink(conf().c_str());
        ::rmdir(dir);
    }
    std::string conf() const { return std::string(dir) + "/mosquitto.conf"; }
};

// A broker URL, TLS, host, port, user, password and its file, three TLS files, prefix, client id.
MqttOptions options(int port, const std::string &clientId)
{
    return MqttOptions{"mqtt://127.0.0.1", false, "127.0.0.1", port, "", "", "", "", "", "", "t", clientId};
}

struct Message { std::string payload; bool retained; long long atMs; };

// A client of the test's own that records what comes on its filter, subscribed once constructed.
struct Client {
    std::mutex mutex;
    std::map<std::string, std::vector<Message>> got;  // by topic
    std::unique_ptr<MqttConnection> c;
    Client(int port, const std::string &id, const std::string &filter)
    {
        MqttConnection::Events e;
        e.message = [this](const std::string &t, const std::string &p, bool r) {
            std::lock_guard<std::mutex> lock(mutex);
            got[t].push_back(Message{p, r, monotonicMs()});
        };
        std::string error;
        c = MqttConnection::create(options(port, id), "", "", e, &error);
        c->start();
        EXPECT_TRUE(until([this] { return c->connected(); }));
        if (filter.empty())
            return;
        // The broker answers in order: the probe comes after the retained messages of the filter.
        c->subscribe(filter);
        c->subscribe("probe/" + id);
        c->publish("probe/" + id, "", false);
        EXPECT_TRUE(until([this, id] { return !on("probe/" + id).empty(); }));
    }
    std::vector<Message> on(const std::string &topic)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return got[topic];
    }
    std::string last(const std::string &topic)
    {
        const std::vector<Message> all = on(topic);
        return all.empty() ? std::string() : all.back().payload;
    }
};

// {"status":S,"ts":...,"value":V} as a change read at kWall says it.
std::string state(const std::string &value, const char *status = "ok")
{
    return "{\"status\":\"" + std::string(status) + "\"," + kTs + ",\"value\":" + value + "}";
}

// Row i read as raw with status, told to out as the loop tells a change.
void tell(Output &out, std::vector<TagRow> &rows, std::size_t i, std::uint32_t raw, int status = 1)
{
    rows[i].value = decodeValue(rows[i].ref.area, rows[i].tag, raw);
    rows[i].reads++;
    rows[i].lastStatus = status;
    rows[i].lastReadMs = monotonicMs();
    const std::uint32_t changed[] = {static_cast<std::uint32_t>(i)};
    out.changed(ChangeView{rows, changed, 1, Moment{monotonicMs(), kWall}});
}

class MqttOutputTest : public ::testing::Test {
protected:
    Broker broker;
    std::vector<TagRow> rows;
    RunStats stats;
    const std::string portText = "tcp:plc";
    WriteQueue queue;
    Client sub{broker.port, "sub", "t/#"};
    std::unique_ptr<MqttOutput> out;

    void SetUp() override
    {
        // STATION AREA ADDRESS, NAME WRITABLE UNSIGNED SCALE OFFSET UNIT DEAD-BAND MIN-INTERVAL, UNREAD
        rows = {
            {{1, 1, 0x11}, {"speed", true, false, 0.1, 0, "", 0, 0}, -1, 0, 0, {}},
            {{1, 2, 0x20}, {"big", false, false, 1, 0, "", 0, 0}, -1, 0, 0, {}},
            {{1, 2, 0x28}, {"cnt", false, false, 1, 0, "", 3, 0}, -1, 0, 0, {}},
            {{1, 1, 0x13}, {"held", true, false, 1, 0, "", 0, 300}, -1, 0, 0, {}},
            {{1, 5, 0x50}, {"sp", true, false, 1, 0, "", 0, 0}, -1, 0, 0, {}},
        };
        // A write the broker kept from before: not acted on when it arrives.
        sub.c->publish("t/sp/set", "1", true);
        ASSERT_TRUE(until([&] { return sub.last("t/sp/set") == "1"; }));
        std::string error;
        out = MqttOutput::create(options(broker.port, "gw"), HaDiscoveryOptions(), rows, queue, nullptr, &error);
        ASSERT_TRUE(out) << error;
        EXPECT_TRUE(queue.open());
        ASSERT_TRUE(until([&] { return sub.on("t/sp").size() == 1; }, [&] { refresh(); }));
        EXPECT_EQ(out->runFailure(), "");
    }
    RunView view(LinkState link = LinkState::Up) { return RunView{rows, stats, link, portText, monotonicMs()}; }
    void refresh() { out->refresh(view()); }
    void change(std::size_t i, std::uint32_t raw, int status = 1) { tell(*out, rows, i, raw, status); }
};

TEST_F(MqttOutputTest, ChangesGoAsReadRetainedWithStatusAndAvailability)
{
    const std::string pending = sub.last("t/big");  // before its first read: no value
    EXPECT_TRUE(pending.rfind("{\"status\":\"pending\",\"ts\":\"", 0) == 0 && pending.find("value") == std::string::npos) << pending;
    // ROW RAW STATUS MESSAGE
    const struct { std::size_t row; std::uint32_t raw; int status; std::string payload; } cases[] = {
        {0, 1234, 1, state("123.4")}, {1, 123456, 1, state("123456")}, {4, 0x41480000, 1, state("12.5")},
        {0, 1234, 41, state("123.4", "noreply")}, {1, 0xFFFFFFFF, 100, state("-1", "accepted")},
    };
    for (const auto &c : cases) {
        change(c.row, c.raw, c.status);
        EXPECT_TRUE(until([&] { return sub.last("t/" + rows[c.row].tag.name) == c.payload; })) << c.payload;
    }
    Client late(broker.port, "late", "t/#");
    for (const char *topic : {"t/speed", "t/big", "t/sp", "t/availability", "t/station1/availability", "t/status"})
        EXPECT_TRUE(!late.on(topic).empty() && late.on(topic)[0].retained) << topic;
    EXPECT_EQ(late.last("t/big") + late.last("t/availability") + late.last("t/station1/availability"),
              state("-1", "accepted") + "onlineonline");
    EXPECT_NE(late.last("t/status").find("\"link\":\"up\",\"once_reads\""), std::string::npos) << late.last("t/status");
    EXPECT_NE(late.last("t/status").find("\"port\":\"tcp:plc\""), std::string::npos);
    // The link down: the station offline, its tags say so, the status too.
    out->linkChanged(view(LinkState::Down));
    EXPECT_TRUE(until([&] { return sub.last("t/station1/availability") == "offline"; }));
    EXPECT_TRUE(until([&] { return sub.last("t/big").find("{\"status\":\"link down\",") == 0; }));
    EXPECT_TRUE(until([&] { return sub.last("t/status").find("\"link\":\"down\"") != std::string::npos; }));
    // Every message acknowledged: the clean stop does not wait out its 2 s.
    const long long stopAt = monotonicMs();
    out->finish(view(LinkState::Down));
    EXPECT_LT(monotonicMs() - stopAt, 1500);
    EXPECT_TRUE(until([&] { return sub.last("t/availability") == "offline"; }));
    EXPECT_EQ(out->runFailure(), "");
    std::string error;
    // An id that is no UTF-8 is refused by libmosquitto: an error, not a crash.
    EXPECT_FALSE(MqttOutput::create(options(broker.port, "\xff"), HaDiscoveryOptions(), rows, queue, nullptr, &error));
    EXPECT_EQ(error, "--mqtt-client-id: libmosquitto refused '\xff'");
    rows[0].tag.name = "status";  // a tag on the gateway's own topic
    EXPECT_FALSE(MqttOutput::create(options(broker.port, "x"), HaDiscoveryOptions(), rows, queue, nullptr, &error));
    EXPECT_EQ(error, "tag 'status' would publish on t/status, the gateway's own topic: rename it");
}

TEST_F(MqttOutputTest, DeadBandAndMinIntervalThinTheChanges)
{
    // cnt has a dead-band of 3: steps smaller than that since the last value sent stay home.
    for (const std::uint32_t raw : {10, 11, 12, 13, 14, 15, 20})
        change(2, raw);
    change(2, 20, 100);  // the same value with another status goes
    change(0, 7);       // a fence: what cnt got came before
    ASSERT_TRUE(until([&] { return sub.last("t/speed") == state("0.7"); }));
    std::vector<std::string> cnt;
    for (const Message &m : sub.on("t/cnt"))
        cnt.push_back(m.payload);
    cnt.erase(cnt.begin());  // the first, pending, after connecting
    EXPECT_EQ(cnt, (std::vector<std::string>{state("10"), state("13"), state("20"), state("20", "accepted")}));
    // held: at most one message per 300 ms, and the latest value goes when it ends.
    for (const std::uint32_t raw : {1, 2, 3})
        change(3, raw);
    ASSERT_TRUE(until([&] { return sub.last("t/held") == state("3"); }));
    const std::vector<Message> held = sub.on("t/held");
    for (std::size_t k = 1; k < held.size(); ++k) {
        EXPECT_NE(held[k].payload, state("2"));
        EXPECT_GE(held[k].atMs - held[k - 1].atMs, 250) << k;
    }
}

TEST_F(MqttOutputTest, SetWritesReachTheQueueAndEachIsAnswered)
{
    const std::string retained = "{\"error\":\"a retained write is not acted on\",\"ok\":false}";
    EXPECT_TRUE(until([&] { return sub.last("t/sp/set/result") == retained; }));
    // TAG PAYLOAD BYTES (none: refused) OUTCOME ANSWER
    const WriteOutcome open = WriteOutcome::Dropped;  // left open until the output finishes
    const struct { const char *tag, *payload; std::string bytes; WriteOutcome outcome; const char *answer; } cases[] = {
        {"nope", "5", "", open, "{\"error\":\"unknown tag 'nope'\",\"ok\":false}"},
        {"big", "5", "", open, "{\"error\":\"tag 'big' is not writable\",\"ok\":false}"},
        {"sp", "abc", "", open, "{\"error\":\"expected a number or {\\\"value\\\": number}\",\"ok\":false}"},
        {"speed", "1e9", "", open, "{\"error\":\"out of range: '1000000000' is outside -3276.8..3276.7\",\"ok\":false}"},
        {"speed", "{\"value\":55.54,\"id\":7}", std::string("\x2B\x02", 2), WriteOutcome::Acknowledged, "{\"id\":7,\"ok\":true,\"value\":55.5}"},
        {"held", "{\"value\":2,\"id\":\"x\"}", std::string("\x02\x00", 2), WriteOutcome::GivenUp,
         "{\"error\":\"not acknowledged\",\"id\":\"x\",\"ok\":false}"},
        {"sp", "12.5", std::string("\x00\x00\x48\x41", 4), open, "{\"error\":\"dropped: the gateway stopped\",\"ok\":false}"},
    };
    for (const auto &c : cases) {
        const std::string topic = std::string("t/") + c.tag + "/set";
        sub.c->publish(topic, c.payload, false);
        if (!c.bytes.empty()) {
            ASSERT_TRUE(until([&] { return queue.pending(); })) << c.payload;
            std::deque<WriteRequest> taken = queue.take();
            ASSERT_EQ(taken.size(), 1u);
            EXPECT_EQ(std::make_tuple(taken[0].bytes, taken[0].label, taken[0].count),
                      std::make_tuple(c.bytes, std::string(c.tag), static_cast<int>(c.bytes.size() + 1) / 2)) << c.payload;
            if (c.outcome == open)
                out->finish(view());
            else
                taken[0].done(WriteResult{c.outcome, 0, "not acknowledged"});
        }
        EXPECT_TRUE(until([&] { return sub.last(topic + "/result") == c.answer; })) << c.answer;
    }
    EXPECT_EQ(sub.on("t/speed/set/result").size(), 2u);
    Client late(broker.port, "late", "t/+/set/result");
    EXPECT_EQ(late.got.size(), 1u);  // the probe's only: answers are not retained
}

TEST_F(MqttOutputTest, ALostSessionSaysOfflineAndEveryTagGoesAgain)
{
    change(1, 123456);
    ASSERT_TRUE(until([&] { return sub.last("t/big") == state("123456"); }));
    // A second client with the gateway's id takes the session over: the broker tells the will.
    Client(broker.port, "gw", "").c->stop("", "", 0);
    EXPECT_TRUE(until([&] { return sub.on("t/availability").size() >= 3 && sub.on("t/big").size() >= 3; }, [&] { refresh(); }));
    std::string seen;
    for (const Message &m : sub.on("t/availability"))
        seen += m.payload + " ";
    EXPECT_EQ(seen, "online offline online ");
    EXPECT_NE(sub.last("t/big").find("\"value\":123456}"), std::string::npos) << sub.last("t/big");
    std::vector<Notice> notices;
    out->collectNotices(notices);
    std::string told;
    for (const Notice &n : notices)
        told += n.text + "\n";
    const std::string up = "MQTT connected to 127.0.0.1:" + std::to_string(broker.port) + "\n";
    EXPECT_EQ(told, up + "MQTT: connection to 127.0.0.1:" + std::to_string(broker.port) + " lost; reconnecting\n" + up);
    // A stop is true only when the broker acknowledged all before the DISCONNECT
    // (what a QoS 0 sender may count as delivered): not from a broker that takes nothing.
    Client a(broker.port, "a", ""), b(broker.port, "b", "");
    const bool up2 = a.c->stop("t/x", "1", 2000);
    ::kill(broker.pid, SIGSTOP);
    EXPECT_EQ(std::make_pair(up2, b.c->stop("t/x", "2", 300)), std::make_pair(true, false));
    ::kill(broker.pid, SIGCONT);
}

}  // namespace

// The Sparkplug edge node on the same broker: births (seq 0, bdSeq, a metric
// per tag with its alias and datatype), a DDATA by alias with the read time
// and the next seq, a Rebirth on NCMD without a new session, NDEATH at a stop.
TEST(SparkplugNodeTest, BirthsDataRebirthAndDeath)
{
    namespace spb = marovin::sparkplug;
    Broker broker;
    Client sub(broker.port, "spsub", "spBv1.0/#");
    std::vector<TagRow> rows = {
        {{1, 1, 0x11}, {"speed", true, false, 0.1, 0, "", 0, 0}, -1, 0, 0, {}},
        {{2, 2, 0x20}, {"big", false, true, 1, 0, "", 0, 0}, -1, 0, 0, {}},
    };
    WriteQueue queue;
    std::string error;
    auto node = SparkplugNode::create(options(broker.port, "edge"), SparkplugOptions{"g", "n", "", ""}, rows, queue,
                                      nullptr, &error);
    ASSERT_TRUE(node) << error;
    RunStats stats;
    const std::string port = "tcp:plc";
    const auto view = [&] { return RunView{rows, stats, LinkState::Up, port, monotonicMs()}; };
    const auto got = [&](const std::string &kind, std::size_t k) {
        spb::Payload p;
        const std::vector<Message> all = sub.on("spBv1.0/g/" + kind);
        EXPECT_TRUE(k < all.size() && p.ParseFromString(all[k].payload) && !all[k].retained) << kind << " " << k;
        return p;
    };
    ASSERT_TRUE(until([&] { return !sub.on("spBv1.0/g/DBIRTH/n/station2").empty(); }, [&] { node->refresh(view()); }));
    const spb::Payload birth = got("NBIRTH/n", 0), s1 = got("DBIRTH/n/station1", 0), s2 = got("DBIRTH/n/station2", 0);
    EXPECT_EQ(std::make_tuple(birth.seq(), birth.metrics(0).name(), birth.metrics(0).long_value()),
              std::make_tuple(0u, "bdSeq", 0u));
    EXPECT_EQ(s1.seq() + s2.seq(), 3u);
    ASSERT_EQ(s1.metrics_size(), 1);
    EXPECT_EQ(s1.metrics(0).name() + "/" + std::to_string(s1.metrics(0).alias()), "speed/100");
    EXPECT_TRUE(s1.metrics(0).datatype() == spb::Double && s1.metrics(0).is_null());
    EXPECT_TRUE(s2.metrics(0).alias() == 101 && s2.metrics(0).datatype() == spb::UInt32);
    tell(*node, rows, 0, 1234);
    ASSERT_TRUE(until([&] { return !sub.on("spBv1.0/g/DDATA/n/station1").empty(); }));
    const spb::Payload data = got("DDATA/n/station1", 0);
    ASSERT_EQ(data.metrics_size(), 1);
    EXPECT_TRUE(data.seq() == 3 && !data.metrics(0).has_name() && data.metrics(0).alias() == 100);
    EXPECT_TRUE(data.metrics(0).double_value() == 123.4 && data.metrics(0).timestamp() == static_cast<unsigned long long>(kWall));
    spb::Payload rebirth;
    spb::Payload::Metric *m = rebirth.add_metrics();
    m->set_name("Node Control/Rebirth");
    m->set_datatype(spb::Boolean);
    m->set_boolean_value(true);
    sub.c->publish("spBv1.0/g/NCMD/n", rebirth.SerializeAsString(), false);
    ASSERT_TRUE(until([&] { return sub.on("spBv1.0/g/DBIRTH/n/station1").size() == 2; }, [&] { node->refresh(view()); }));
    EXPECT_TRUE(got("NBIRTH/n", 1).seq() == 0 && got("NBIRTH/n", 1).metrics(0).long_value() == 0);
    EXPECT_EQ(got("DBIRTH/n/station1", 1).metrics(0).double_value(), 123.4);
    node->finish(view());
    ASSERT_TRUE(until([&] { return !sub.on("spBv1.0/g/NDEATH/n").empty(); }));
    EXPECT_EQ(got("NDEATH/n", 0).metrics(0).long_value(), 0u);
}
