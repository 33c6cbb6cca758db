// The exchange loop with the real driver against a device model behind a
// scripted port: replies, silences, junk, a lost link, writes and their
// answers, changes as they are read, stop rules. No waits on a real line.
#include "DeviceModel.h"
#include "HostRows.h"
#include "driver/Driver.h"
#include "line/Link.h"
#include "loop/ExchangeLoop.h"
#include "loop/RowIndex.h"
#include "model/Status.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace marovin_host;

namespace {

// What the line does with the next request.
enum class Act { Answer, Silence, Junk, LoseLink };

// A port whose replies come from the device model, or not, as scripted.
class ScriptedPort : public marovin_port::Port {
public:
    explicit ScriptedPort(marovin_device::DeviceModel &device) : device_(device) {}
    std::deque<Act> script;  // one act per request; Answer once it is empty
    int reopenFailures = 0;

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        const Act act = script.empty() ? Act::Answer : script.front();
        if (!script.empty())
            script.pop_front();
        if (!open_ || act == Act::LoseLink)
            return open_ = false;
        std::vector<std::uint8_t> reply = device_.handle(bytes, count);
        if (act == Act::Silence)
            reply.clear();
        if (act == Act::Junk)
            reply.insert(reply.end(), 2, 0x55);
        waiting_.insert(waiting_.end(), reply.begin(), reply.end());
        return true;
    }
    bool read(std::vector<std::uint8_t> &out, int, int, int) override
    {
        out.assign(waiting_.begin(), waiting_.end());
        waiting_.clear();
        return open_;
    }
    long readInto(std::uint8_t *buffer, std::size_t capacity, int, int) override
    {
        if (!open_)
            return -1;
        const std::size_t n = std::min(capacity, waiting_.size());
        std::copy(waiting_.begin(), waiting_.begin() + static_cast<long>(n), buffer);
        // What came together with the reply is dropped; one byte more is still on its way.
        const std::size_t extra = std::min<std::size_t>(waiting_.size() - n, 1);
        discarded_ += extra;
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(n + extra));
        return static_cast<long>(n);
    }
    std::size_t flushInput() override
    {
        const std::size_t n = waiting_.size();
        waiting_.clear();
        return n;
    }
    // A device server may greet a new connection: a byte that is no reply.
    bool reopen() override
    {
        waiting_.assign(reopenFailures <= 0, 0x55);
        return open_ = reopenFailures-- <= 0;
    }
    bool isOpen() const override { return open_; }
    std::string describe() const override { return "scripted"; }
    int fd() const override { return -1; }

private:
    marovin_device::DeviceModel &device_;
    std::vector<std::uint8_t> waiting_;
    bool open_ = true;
};

// Everything the loop told its outputs.
struct Recorder : Output {
    std::vector<Notice> notices;
    std::vector<std::vector<std::string>> changes;  // per row: "status value" as told
    int linkChanges = 0;
    std::vector<std::string> trace;  // the notes of replies and the trace's events
    bool wantsChanges() const override { return true; }
    bool wantsFrames() const override { return true; }
    void frameReceived(const std::uint8_t *, std::size_t, int, const std::string &note) override
    {
        if (!note.empty())
            trace.push_back(note);
    }
    void traceEvent(const std::string &text) override { trace.push_back(text); }
    void changed(const ChangeView &v) override
    {
        for (std::size_t k = 0; k < v.count; ++k) {
            const TagRow &row = v.rows[v.changed[k]];
            const bool good = isSuccess(row.lastStatus);
            changes[v.changed[k]].push_back(std::string(rowStatusWord(row.lastStatus)) +
                                            (good ? " " + std::to_string(row.value.raw) : ""));
        }
    }
    void linkChanged(const RunView &) override { ++linkChanges; }
    void notice(const Notice &n) override { notices.push_back(n); }
    int count(Notice::Kind kind) const
    {
        return static_cast<int>(std::count_if(notices.begin(), notices.end(), [&](const Notice &n) { return n.kind == kind; }));
    }
};

// A run of the loop over rows of station 1, area 1 (or as given).
struct Harness {
    marovin_device::DeviceModel device;
    ScriptedPort *port = new ScriptedPort(device);
    Link link{std::unique_ptr<marovin_port::Port>(port)};
    std::unique_ptr<Driver> driver;
    WriteQueue queue;
    Outputs outputs;
    Recorder *recorder = new Recorder;
    RunState run;
    LoopSettings settings;
    DriverSettings driverSettings;

    explicit Harness(std::vector<ValueRef> refs, std::deque<Act> script = {})
    {
        port->script = std::move(script);
        std::string error;
        driver = Driver::load(MAROVIN_LIBRARY_PATH, &error);
        EXPECT_TRUE(driver) << error;
        for (const ValueRef &ref : refs)
            run.rows.push_back(tagRow(ref, canonicalName(ref)));
        recorder->changes.resize(refs.size());
        outputs.add(std::unique_ptr<Output>(recorder));
        settings.cycles = 3;
        settings.durationS = 5;  // a bound, should a scenario go wrong
    }
    LoopEnd go()
    {
        driverSettings.multiStation = settings.multiStation;
        driver->setUp(driverSettings);
        driver->registerReadList(run.rows);
        driver->registerOnceReads(&run.onceReads);
        return runExchangeLoop(settings, LoopParts{*driver, link, nullptr, queue, outputs}, run);
    }
    // A write of raw bytes to ref, its answer recorded in *answers.
    void write(const ValueRef &ref, std::uint32_t raw, std::vector<std::string> *answers)
    {
        const bool word = ref.area == 1;
        const std::string bytes(reinterpret_cast<const char *>(&raw), word ? 2 : 4);
        const auto done = [=](const WriteResult &r) { answers->push_back(std::to_string(raw) + " " + r.text); };
        ASSERT_TRUE(queue.submit({ref, bytes, word ? 1 : 2, canonicalName(ref), "", 0, done}));
    }
};

const ValueRef kA{1, 1, 0x10}, kB{1, 1, 0x11}, kC{1, 2, 0x20};

// Counts side by side, so that one check shows them all.
template <class... T> std::vector<long long> nums(T... v) { return {static_cast<long long>(v)...}; }

}  // namespace

TEST(HostLoop, RowIndexFindsEachVariablesRowsInAnyOrder)
{
    // Keys that differ in one part only; a station's bits are one variable.
    std::vector<TagRow> rows = {tagRow({1, kWord16, 0x10}, "a"),  tagRow({2, kWord16, 0x10}, "b"),
                                tagRow({1, kDword32, 0x10}, "c"), tagRow({1, kWord16, 0x12}, "d"),
                                tagRow({1, kWord16, 0x10}, "e"),  tagRow({1, kBits, 5}, "f"),
                                tagRow({1, kBits, 7}, "g")};
    RowIndex index(rows);
    const struct { int station, area, address; std::string names; } finds[] = {
        {1, kDword32, 0x10, "c"}, {1, kWord16, 0x10, "ae"}, {1, kBits, 2, "fg"}, {1, kWord16, 0x12, "d"},
        {2, kWord16, 0x10, "b"},  {1, kWord16, 0x10, "ae"}, {1, kDword32, 0x10, "c"}, {2, kBits, 5, ""},
        {1, kWord16, 0x14, ""},   {2, kWord16, 0x10, "b"},
    };
    for (const auto &f : finds) {
        std::string names;
        if (RowIndex::Run *run = index.find(f.station, f.area, f.address))
            for (std::uint32_t k = 0; k < run->count; ++k)
                names += index.rowsOf(*run)[k]->tag.name;
        EXPECT_EQ(names, f.names) << f.station << ":" << f.area << ":" << f.address;
    }
}

TEST(HostLoop, ReadsEveryRowAndTellsEachValueOnce)
{
    Harness h({kA, kB, kC});
    h.device.setAreaValue(1, 1, 0x10, 0xFFFE);
    h.device.setAreaValue(1, 1, 0x11, 7);
    h.device.setAreaValue(1, 2, 0x20, 4000000000u);
    // A once-read of another station: with one station, served from the default one.
    h.device.setAreaValue(1, 2, 0x32, 77);
    OnceRead once;
    once.entry.count = 2, once.first = ValueRef{3, 2, 0x30}, once.ownerId = 5;
    h.run.onceReads.push_back(once);
    EXPECT_EQ(h.go(), LoopEnd::Cycles);
    EXPECT_EQ(nums(h.run.onceReads[0].state, h.run.onceReads[0].values.at(1).raw, h.run.stats.onceReadsDone), nums(OnceRead::Done, 77, 1));
    EXPECT_EQ(nums(h.run.stats.cycles, h.run.rows[0].value.number, h.run.rows[2].value.raw), nums(3, -2, 4000000000u));
    // Read at least three times each, told once each: the values never moved.
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_GE(h.run.rows[i].reads, 3) << i;
        ASSERT_EQ(h.recorder->changes[i].size(), 1u) << i;
    }
    EXPECT_TRUE(h.recorder->changes[1][0] == "ok 7" && h.run.stats.exchanges == h.run.stats.valuesRead);
}

TEST(HostLoop, SilenceGivesUpThenTheValueComesBack)
{
    Harness h({kA}, {Act::Silence, Act::Silence, Act::Silence});
    h.device.setAreaValue(1, 1, 0x10, 5);
    EXPECT_EQ(h.go(), LoopEnd::Cycles);
    // Repeats, give-ups, the failure's code (no reply, local, ownerType 0), the row's status at the end.
    EXPECT_EQ(nums(h.run.stats.repeats, h.run.stats.giveUps, h.run.stats.failuresByCode.begin()->first,
                   h.run.rows[0].lastStatus), nums(2, 1, 41, 1));
    EXPECT_EQ(h.recorder->changes[0], (std::vector<std::string>{"noreply", "ok 5"}));
    EXPECT_EQ(h.recorder->trace, (std::vector<std::string>{"repeat: no reply", "repeat: no reply",
                                                           "no reply, local, ownerType 0, given up",
                                                           "NOTIFY given up, ownerType 0"}));
}

TEST(HostLoop, JunkBehindAReplyIsDroppedAndTheValueKept)
{
    Harness h({kA}, {Act::Answer, Act::Junk});
    h.device.setAreaValue(1, 1, 0x10, 1234);
    EXPECT_EQ(h.go(), LoopEnd::Cycles);
    // The byte behind the reply, then the one still on its way, flushed before the next request.
    EXPECT_EQ(h.recorder->trace, std::vector<std::string>(2, "dropped: 1 bytes that were no reply"));
    EXPECT_EQ(nums(h.run.stats.bytesDropped, h.recorder->count(Notice::Noise), h.run.stats.repeats), nums(2, 1, 0));
    EXPECT_EQ(h.recorder->changes[0], std::vector<std::string>{"ok 1234"});
}

TEST(HostLoop, ALostLinkIsReopenedAndItsFrameSentAgain)
{
    Harness h({kA}, {Act::Answer, Act::LoseLink});
    h.device.setAreaValue(1, 1, 0x10, 9);
    h.port->reopenFailures = 1;
    EXPECT_EQ(h.go(), LoopEnd::Cycles);
    // Losses, reopen attempts, notices of down and up, link changes told.
    EXPECT_EQ(nums(h.link.losses(), h.link.reopenAttempts(), h.recorder->count(Notice::LinkDown),
                   h.recorder->count(Notice::LinkUp), h.recorder->linkChanges), nums(1, 2, 1, 1, 2));
    EXPECT_EQ(h.recorder->trace, (std::vector<std::string>{"LINK down: write failed", "LINK reconnecting (next try in 200 ms)",
                                                           "LINK up", "dropped: 1 bytes that were no reply"}));
    // A lost link is no failed exchange: nothing repeated, nothing given up; its greeting flushed.
    EXPECT_EQ(nums(h.run.stats.repeats, h.run.stats.giveUps, h.run.stats.bytesDropped), nums(0, 0, 1));
}

TEST(HostLoop, EveryWriteIsAnsweredOnce)
{
    Harness h({kA});
    h.settings.multiStation = true;
    h.device.setStations({1});
    std::vector<std::string> answers;
    // Two to one place wait for each other; station 2 does not answer.
    h.write(kB, 111, &answers);
    h.write(kB, 222, &answers);
    h.write(ValueRef{2, 1, 0x12}, 333, &answers);
    EXPECT_EQ(h.go(), LoopEnd::Cycles);
    EXPECT_EQ(h.device.areaValue(1, 1, 0x11), 222u);
    // The second to 0x11 went after the first was answered, the one to station 2 meanwhile.
    EXPECT_EQ(answers, (std::vector<std::string>{"111 acknowledged", "333 given up: status 43 (no reply, local, ownerType 2)",
                                                 "222 acknowledged"}));
    EXPECT_EQ(nums(h.run.stats.writesAcknowledged, h.recorder->count(Notice::WriteFailed)), nums(2, 1));
}

TEST(HostLoop, NothingLeftEndsARunOfWritesOnly)
{
    Harness h({});
    h.settings.cycles = 0;
    std::vector<std::string> answers;
    h.write(kC, 70000, &answers);
    EXPECT_EQ(h.go(), LoopEnd::NothingLeft);
    EXPECT_EQ(answers, std::vector<std::string>{"70000 acknowledged"});
    EXPECT_EQ(h.device.areaValue(1, 2, 0x20), 70000u);
}

// Last: its write stays in the driver, which outlives a test in this process.
TEST(HostLoop, WritesLeftWhenTheRunEndsAreDropped)
{
    Harness h({}, {Act::LoseLink});
    h.settings.cycles = 0;
    h.settings.durationS = 0.0004;  // under a millisecond: still a bound
    h.port->reopenFailures = 1000;
    std::vector<std::string> answers;
    h.write(kB, 1, &answers);
    h.queue.keepOpen();  // a network source: an empty queue is no reason to stop
    EXPECT_EQ(h.go(), LoopEnd::Duration);
    EXPECT_EQ(answers, std::vector<std::string>{"1 dropped: the run ended (duration reached)"});
}
