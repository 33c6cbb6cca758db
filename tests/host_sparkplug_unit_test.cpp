// The Sparkplug node's parts that need no broker: commands into the real write
// queue, tag values into metrics and back, and the bdSeq kept across restarts.
#include "HostRows.h"
#include "model/Areas.h"
#include "sparkplug/BdSeqFile.h"
#include "sparkplug/MetricValues.h"
#include "sparkplug/SparkplugCommands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace marovin_host;
using namespace marovin::sparkplug;

namespace {

// A command's metric: field 'i' int, 'l' long, 'f' float, 'd' double, 'b'
// boolean, 'n' null, '-' none; an empty name, alias 0 and type -1 are left out.
struct M { const char *name; unsigned alias; int type; char field; double v; };

std::string payloadOf(std::initializer_list<M> metrics)
{
    SpPayload p;
    for (const M &x : metrics) {
        SpMetric *m = p.add_metrics();
        if (*x.name) m->set_name(x.name);
        if (x.alias) m->set_alias(x.alias);
        if (x.type >= 0) m->set_datatype(static_cast<unsigned>(x.type));
        const auto whole = static_cast<std::int64_t>(x.v);
        if (x.field == 'i') m->set_int_value(static_cast<std::uint32_t>(whole));
        if (x.field == 'l') m->set_long_value(static_cast<std::uint64_t>(whole));
        if (x.field == 'f') m->set_float_value(static_cast<float>(x.v));
        if (x.field == 'd') m->set_double_value(x.v);
        if (x.field == 'b') m->set_boolean_value(x.v != 0);
        if (x.field == 'n') m->set_is_null(true);
    }
    return p.SerializeAsString();
}

// Aliases 100.. in this order.
const std::vector<TagRow> kRows = {tagRow({1, kWord16, 16}, "speed", true),       tagRow({1, kDword32, 16}, "count", true, true),
                                   tagRow({1, kWord16, 16}, "ro", false),         tagRow({2, kWord16, 16}, "far", true),
                                   tagRow({1, kWord16, 16}, "temp", true, false, 0.5)};

// The notices since the last call, each followed by '|'.
std::string noticesOf(SparkplugCommands &commands)
{
    std::vector<Notice> notices;
    commands.takeNotices(notices);
    std::string text;
    for (const Notice &n : notices)
        text += n.text + "|";
    return text;
}

}  // namespace

// Station 0: the node's own command, NCMD.
TEST(SparkplugCommands, DeviceWritesWholeOrNotAtAllNodeRebirths)
{
    SpPayload longest;  // exactly the longest size, still read
    longest.ParseFromString(payloadOf({{kRebirthMetric, 0, -1, 'b', 1}}));
    longest.set_body(std::string(kMaxCommandBytes - longest.ByteSizeLong() - 4, 'x'));
    ASSERT_EQ(longest.SerializeAsString().size(), kMaxCommandBytes);
    // Rebirths asked for and queued writes, then bad and refused counts, then the notices.
    const std::string bad = "1 0 Sparkplug: bad DCMD to station1 ignored: ", refused = "0 1 Sparkplug: DCMD to station1 refused: ";
    const std::string notOfType = bad + "speed: a value that is no number or boolean, or not of its datatype ";
    const std::string ncmd = "1 0 Sparkplug: bad NCMD ignored: ";
    // DEVICE (empty: NCMD), PAYLOAD, RESULT, RETAINED, WRITES ALREADY QUEUED
    const struct { std::string device, payload, result; bool retained = false; std::size_t queued = 0; } rows[] = {
        {"station1", payloadOf({{"speed", 0, -1, 'i', -7}}), "speed = -7|0 0 "},
        {"station1", payloadOf({{"", 100, -1, 'i', 5}, {"", 101, -1, 'i', 4000000000.0}}), "speed = 5|count = 4000000000|0 0 "},
        {"station1", payloadOf({{"", 104, -1, 'd', 2.5}}), "temp = 2.5|0 0 "},
        {"station1", payloadOf({{"", 104, Float, 'f', 1.5}}), "temp = 1.5|0 0 "},
        {"station1", payloadOf({{"speed", 0, Int8, 'i', -2}}), "speed = -2|0 0 "},
        {"station1", payloadOf({{"count", 0, UInt32, 'i', -1}}), "count = 4294967295|0 0 "},
        {"station1", payloadOf({{"count", 0, UInt64, 'l', 70000}}), "count = 70000|0 0 "},
        {"station2", payloadOf({{"", 103, -1, 'i', 9}}), "far = 9|0 0 "},
        {"station1", payloadOf({{"count", 0, Int64, 'l', -1}}), refused + "out of range: '-1' is outside 0..4294967295|"},
        {"station1", payloadOf({{"speed", 0, UInt16, 'i', -1}}), refused + "out of range: '4294967295' is outside -32768..32767|"},
        {"station1", payloadOf({{"speed", 0, -1, 'i', 1}, {"ro", 0, -1, 'i', 1}}), refused + "tag 'ro' is not writable|"},
        {"station1", payloadOf({{"speed", 0, -1, 'i', 1}, {"far", 0, -1, 'i', 1}}), bad + "unknown metric 'far'|"},
        {"station2", payloadOf({{"", 99, -1, 'i', 9}}), "1 0 Sparkplug: bad DCMD to station2 ignored: unknown metric 'alias 99'|"},
        {"station1", payloadOf({{"", 105, -1, 'i', 9}}), bad + "unknown metric 'alias 105'|"},
        {"station1", payloadOf({{"speed", 0, -1, 'f', 1}}), notOfType + "2|"},
        {"station1", payloadOf({{"speed", 0, Int64, 'i', 1}}), notOfType + "4|"},
        {"station1", payloadOf({{"speed", 0, -1, 'n', 0}}), bad + "speed: no value|"},
        {"station1", "\xff\xff\xff", bad + "no Sparkplug B payload|"},
        {"station1", std::string(kMaxCommandBytes + 1, '\0'), bad + "too long|"},
        {"", payloadOf({{kRebirthMetric, 0, -1, 'b', 1}}), "rebirth|0 0 "},
        {"", payloadOf({{"", kRebirthAlias, -1, 'b', 1}}), "rebirth|0 0 "},
        {"", payloadOf({{kRebirthMetric, 0, -1, 'b', 0}}), "0 0 "},
        {"", longest.SerializeAsString(), "rebirth|0 0 "},
        {"", payloadOf({{kRebirthMetric, 0, -1, 'i', 1}}), ncmd + "Rebirth takes a boolean|"},
        {"", payloadOf({{"", 2, -1, 'b', 1}}), ncmd + "unknown metric ''|"},
        {"", payloadOf({{kRebirthMetric, 0, -1, 'b', 1}, {"Other", 0, -1, 'b', 1}}), ncmd + "unknown metric 'Other'|"},
        {"", std::string(kMaxCommandBytes + 1, 'x'), ncmd + "too long|"},
        {"", "\x0a", ncmd + "no Sparkplug B payload|"},
        {"", payloadOf({{kRebirthMetric, 0, -1, 'b', 1}}), ncmd + "a retained command is not acted on|", true},
        {"station1", payloadOf({{"speed", 0, -1, 'i', 1}}), bad + "a retained command is not acted on|", true},
        {"station01", payloadOf({{"speed", 0, -1, 'i', 1}}), "1 0 Sparkplug: bad DCMD ignored: no such device 'station01'|"},
        {"station1", payloadOf({{"speed", 0, -1, 'i', 1}, {"count", 0, -1, 'i', 2}}),
         refused + "the write queue is full|", false, WriteQueue::kLimit - 1},
    };
    for (const auto &r : rows) {
        WriteQueue queue;
        for (std::size_t k = 0; k < r.queued; ++k)
            queue.submit(WriteRequest());
        std::string result;
        SparkplugCommands commands(kRows, queue, false, [&result] { result += "rebirth|"; });
        if (!r.device.empty())
            commands.onDeviceCommand(r.device, r.payload, r.retained);
        else
            commands.onNodeCommand(r.payload, r.retained);
        for (const WriteRequest &w : queue.take())
            result += w.label.empty() ? "" : w.label + " = " + w.valueText + "|";
        result += std::to_string(commands.bad()) + " " + std::to_string(commands.refused()) + " " + noticesOf(commands);
        EXPECT_EQ(result, r.result);
    }
}

TEST(MetricValues, TagValuesAsMetrics)
{
    const struct { TagRow row; std::uint32_t raw; int type; std::string metric; } rows[] = {
        {tagRow({1, kBits, 16}, "b"), 1, Boolean, "b 1"},
        {tagRow({1, kWord16, 16}, "w"), 0xFFFF, Int16, "i 4294967295"},
        {tagRow({1, kWord16B, 16}, "w", false, true), 0xFFFF, UInt16, "i 65535"},
        {tagRow({1, kDword32, 16}, "d"), 0xFFFFFFFE, Int32, "i 4294967294"},
        {tagRow({1, kDword32B, 16}, "d", false, true), 0xFFFFFFFE, UInt32, "i 4294967294"},
        {tagRow({1, kWord16, 16}, "s", false, false, 0.5), 7, Double, "d 3.5"},
        {tagRow({1, kWord16, 16}, "s", false, false, 1, 1), 7, Double, "d 8"},
        {tagRow({1, kDecimalFloat, 16}, "f"), 0x3FC00000, Float, "f 1.5"},
    };
    for (const auto &r : rows) {
        TagRow row = r.row;
        EXPECT_EQ(tagDataType(row), r.type) << r.metric;
        SpMetric unread, m;
        setTagValue(&unread, row, tagDataType(row));
        EXPECT_TRUE(unread.is_null());
        row.reads = 1;
        row.value = decodeValue(row.ref.area, row.tag, r.raw);
        setTagValue(&m, row, tagDataType(row));
        std::ostringstream text;
        if (m.has_int_value())
            text << "i " << m.int_value();
        else
            text << (m.has_boolean_value() ? "b " : m.has_float_value() ? "f " : "d ")
                 << (m.has_boolean_value() ? m.boolean_value() : m.has_float_value() ? m.float_value() : m.double_value());
        EXPECT_EQ(text.str(), r.metric);
        EXPECT_FALSE(m.is_null());
    }
}

TEST(BdSeqFile, GoesOnAcrossRestartsAndWrapsAt255)
{
    const std::string dir = testing::TempDir(), path = dir + "/sparkplug-g-n.bdseq";
    std::remove(path.c_str());
    EXPECT_EQ(BdSeqFile(dir, "g", "n").next(), 0);
    const struct { const char *kept; int next; } rows[] = {{"0\n", 1}, {"254\n", 255}, {"255\n", 0}, {"256\n", 0}, {"-1\n", 0}, {"junk", 0}};
    for (const auto &r : rows) {
        std::ofstream(path) << r.kept;
        EXPECT_EQ(BdSeqFile(dir, "g", "n").next(), r.next) << r.kept;
    }
    std::string error;
    BdSeqFile file(dir, "g", "n"), unkept("", "g", "n"), lost("/nonexistent-dir", "g", "n");
    // Kept, read again, another node's, no folder (nothing kept, no error), a folder that is not there.
    EXPECT_TRUE(file.keep(41, &error) && unkept.keep(255, &error) && !lost.keep(5, &error));
    EXPECT_EQ(std::vector<int>({file.next(), BdSeqFile(dir, "g", "n").next(), BdSeqFile(dir, "g", "other").next(),
                                unkept.next(), lost.next()}), std::vector<int>({42, 42, 0, 0, 6}));
    EXPECT_EQ(error, "Sparkplug: cannot keep bdSeq in /nonexistent-dir/sparkplug-g-n.bdseq: No such file or directory");
    std::remove(path.c_str());
}
