// Tag files, tag names, writes given as JSON, status texts and the settings
// record: what outputs, write sources and the driver rely on, as tables.
#include "DriverFixture.h"
#include "HostRows.h"
#include "config/TagFile.h"
#include "driver/DriverSettings.h"
#include "json/TagStateJson.h"
#include "json/WritePayload.h"
#include "model/Areas.h"
#include "model/StationWatch.h"
#include "model/Status.h"
#include "model/ValueText.h"
#include "config/VariableText.h"
#include "writes/CommandLineWrites.h"
#include "writes/WriteCheck.h"

#include "Marovin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <tuple>

using namespace marovin_host;

namespace {

// Writes text to a file and reads it as a tag file.
bool readTags(const std::string &text, std::vector<VariableEntry> *out, std::string *error)
{
    const std::string path = testing::TempDir() + "tags.txt";
    std::ofstream(path) << text;
    const bool ok = readTagFile(path, out, error);
    std::remove(path.c_str());
    return ok;
}

}  // namespace

TEST(TagFile, LinesAndTheirErrors)
{
    const std::pair<const char *, const char *> rows[] = {  // TEXT, ERROR (empty: accepted)
        {"# only a comment\n\n", ""},
        {"speed = 1:w16:10 rw scale=0.1 offset=-5 unit=rpm  # c\n", ""},
        {"a = 1:w16:10\nb = 1:w16:10\n", ""},
        {"a = 1:w16:10 bogus\n", ":1: unknown field 'bogus'"},
        {"a = 1:w16:10 rw=1\n", ":1: unknown field 'rw=1'"},
        {"a = 1:w16:10 scale\n", ":1: unknown field 'scale'"},
        {"a = 1:w16:10 scale=0\n", ":1: scale must be a non-zero number"},
        {"a = 1:w16:10 scale=x\n", ":1: scale must be a non-zero number"},
        {"a = 1:w16:10 offset=inf\n", ":1: offset must be a number"},
        {"a = 1:w16:10 unit=\n", ":1: unit must be"},
        {"a = 1:w16:10 unit=<b>\n", ":1: unit must be"},
        {"a = 1:w16:10 rw rw\n", ":1: 'rw' given twice"},
        {"a = 1:bit:12 scale=2\n", ":1: scale and offset do not apply to status bits"},
        {"a b = 1:w16:10\n", ":1: bad tag name 'a b'"},
        {"a/b = 1:w16:10\n", ":1: bad tag name"},
        {" = 1:w16:10\n", ":1: bad tag name ''"},
        {"a 1:w16:10\n", ":1: expected NAME = STATION"},
        {"a = 1:w16\n", ":1: bad tag address '1:w16'"},
        {"a = 1:w16:10\n# x\na = 1:w16:11\n", ":3: tag 'a' declared twice"},
        {"Aaz_Z09.:- = 1:w16:10 unit=C\n", ""},
        {"\xEF\xBB\xBF" "a = 1:w16:10\n\xEF\xBB\xBF" "b = 1:w16:11\n", ":2: bad tag name"},  // a mark only ahead of line 1
        {"a = 1:d32:20 rw type=u32 deadband=0.5 min-interval=100\n", ""},
        {"a = 1:bit:12 rw\n", ""},
        {"a = 1:bit:2 rw\n", ":1: status bit 2 cannot be written (writable: 12, 25, 28, 29, 30, 31): drop rw"},
        {"a = 1:bit:012:2 rw\n", ":1: status bit 13 cannot be written"},  // decimal, not octal
        {"a = 1:w16:10 type=u32\n", ":1: type must be s16 or u16 for w16 values"},
        {"a = 1:float:50 type=s32\n", ":1: type does not apply to float values"},
        {"a = 1:w16:10 type=int\n", ":1: type must be s16, u16, s32 or u32, not 'int'"},
        {"a = 1:w16:10 deadband=-1\n", ":1: deadband must be a number 0 or more"},
        {"a = 1:w16:10 min-interval=1.5\n", ":1: min-interval must be whole milliseconds"},
    };
    for (const auto &[text, expected] : rows) {
        std::vector<VariableEntry> tags;
        std::string error;
        const bool ok = readTags(text, &tags, &error);
        EXPECT_EQ(ok, *expected == '\0') << text << " -> " << error;
        if (!ok) {
            EXPECT_NE(error.find(expected), std::string::npos) << error;
        }
    }
    std::vector<VariableEntry> tags;
    std::string error;
    ASSERT_TRUE(readTags("speed = 2:d32:0x20:3 rw scale=0.5 offset=1 unit=bar\n", &tags, &error)) << error;
    ASSERT_EQ(tags.size(), 1u);
    const VariableEntry &t = tags[0];
    EXPECT_EQ(std::tie(t.tag.name, t.count, t.tag.writable, t.tag.scale, t.tag.offset, t.tag.unit, t.tag.deadband),
              std::make_tuple("speed", 3, true, 0.5, 1.0, "bar", 0.0));
    EXPECT_NE(t.origin.find(":1"), std::string::npos);
    EXPECT_FALSE(readTagFile("/nonexistent/tags", &tags, &error));
}

TEST(ValueText, EachAreaAsTheTableShowsIt)
{
    // AREA (by name or digit), RAW: shown, hex, as the memory file writes it
    const struct { const char *area; std::uint32_t raw; const char *shown, *hex, *memory; } rows[] = {
        {"bit", 1, "1", "", "1"},
        {"1", 0xFFFE, "-2", "0xFFFE", "65534"},
        {"d32", 0xFFFFFFFE, "-2", "0xFFFFFFFE", "4294967294"},
        {"3", 0x8000, "-32768", "0x8000", "32768"},
        {"4", 7, "7", "0x00000007", "7"},
        {"5", 0x3FC00000, "1.5", "", "1.5"},
    };
    for (const auto &r : rows) {
        const int area = parseArea(r.area);
        const TagValue v = decodeValue(area, TagInfo(), r.raw);
        EXPECT_EQ(shownValue(area, TagInfo(), v) + "|" + hexText(area, v) + "|" + memoryText(area, v),
                  std::string(r.shown) + "|" + r.hex + "|" + r.memory)
            << r.area;
    }
    EXPECT_EQ(parseArea("6"), -1);
    EXPECT_EQ(rawFromBytes("\x01", 1, kBits), 1u);
    EXPECT_EQ(formatNumber(1e15) + " " + formatNumber(-3), "1e+15 -3");
}

TEST(StationWatch, ADownStationComesBackWithItsFirstReadSinceAndOnlyThen)
{
    std::vector<TagRow> rows = {tagRow({1, kWord16, 0x10}, "a"), tagRow({2, kWord16, 0x10}, "b")};
    StationWatch watch(rows);
    StationWatch::Turn turn;
    watch.linkDown(100, &turn);
    EXPECT_EQ(turn.down, (std::vector<std::size_t>{0, 1}));
    rows[0].lastStatus = rows[1].lastStatus = 1;
    rows[0].reads = 1, rows[0].lastReadMs = 150;  // the first read ever, after the link came back
    rows[1].reads = 9, rows[1].lastReadMs = 100;  // read before it went down
    StationWatch::Turn back;
    watch.refresh(rows, &back);
    EXPECT_EQ(back.up, std::vector<std::size_t>{0});
    EXPECT_TRUE(watch.up(0) && !watch.up(1) && std::string(watch.downWord(1)) == "link down");
}

TEST(TagNames, CanonicalAndIndexed)
{
    EXPECT_EQ(canonicalName({1, 1, 0x30}) + " " + canonicalName({12, 5, 0xABC}) + " " + canonicalName({1, 0, 29}),
              "1:w16:30 12:float:abc 1:bit:29");
    EXPECT_EQ(indexedName("t", 1, 0), "t");
    EXPECT_EQ(indexedName("t", 3, 2), "t[2]");
    EXPECT_TRUE(validTagName(std::string(64, 'a')) && !validTagName(std::string(65, 'a')));
}

TEST(TagJson, WritePayloadsAndValues)
{
    // Tags "t" of station 1, read-only: only a source that opens every tag writes them.
    const TagRow w16 = tagRow({1, 1, 0x10}, "t"), u16 = tagRow({1, 1, 0x10}, "t", false, true);
    const TagRow scaled = tagRow({1, 1, 0x10}, "t", false, false, 0.1, -40);
    const TagRow tenth = tagRow({1, 1, 0x10}, "t", false, false, 0.1);
    const TagRow d32 = tagRow({1, 2, 0x20}, "t"), u32 = tagRow({1, 2, 0x20}, "t", false, true);
    const TagRow f32 = tagRow({1, 5, 0x50}, "t"), bit12 = tagRow({1, 0, 12}, "t"), bit2 = tagRow({1, 0, 2}, "t");
    struct Row {
        const TagRow &target;
        const char *payload;
        const char *bytes;  // hex of the encoded value, or the start of the error
    } rows[] = {
        {w16, "1234", "D2 04"},
        {w16, "{\"value\": -1}", "FF FF"},
        {w16, "32767", "FF 7F"},
        {w16, "32768", "out of range"},  // the word reads signed: 32768 would read back as -32768
        {u16, "65535", "FF FF"},
        {u16, "-1", "out of range"},
        {w16, "1.5", "a whole number"},
        {scaled, "83.4", "D2 04"},  // (83.4 + 40) / 0.1 = 1234
        {scaled, "1e9", "out of range"},
        {tenth, "6000", "out of range"},  // raw 60000 would read back as -553.6
        {tenth, "-3276.8", "00 80"},
        {f32, "1e39", "out of range"},  // no float holds it
        {u32, "4294967295", "FF FF FF FF"},
        {d32, "2147483648", "out of range"},
        {d32, "-2147483649", "out of range"},
        {f32, "12.5", "00 00 48 41"},
        {bit12, "true", "01"},
        {bit12, "0", "00"},
        {bit12, "2", "out of range"},
        {bit2, "1", "status bit 2 cannot"},
        {w16, "true", "true/false only"},
        {w16, "\"12\"", "expected a number"},
        {w16, "{\"value\": 1, \"x\": 2}", "expected a number"},
        {w16, "{\"id\": \"w1\", \"value\": 2}", "02 00"},
        {w16, "{\"value\": 2, \"id\": [1]}", "\"id\" must be"},
        {w16, "{\"value\": 2, \"id\": 1, \"value\": 3}", "a name is given twice"},  // which one a reader takes varies
        {w16, "[1]", "expected a number"},
        {w16, "nonsense", "expected a number"},
        {w16, "", "expected a number"},
    };
    WritePolicy policy;
    policy.everyTag = true;
    for (const Row &r : rows) {
        WriteValue value;
        WriteRequest w;
        std::string error, got;
        nlohmann::json id;
        WriteCheck check;
        if (parseWritePayload(r.payload, &value, &error, &id) &&
            (check = checkWrite(r.target, value, policy, &w)).ok()) {
            got = marovin_test::toHex(reinterpret_cast<const std::uint8_t *>(w.bytes.data()), w.bytes.size());
            EXPECT_EQ(w.label, "t");
        } else {
            error += check.text;
            got = error.substr(0, std::string(r.bytes).size());
        }
        EXPECT_EQ(got, r.bytes) << r.payload << " (area " << r.target.ref.area << "): " << error;
    }
    std::string error;
    WriteValue value;
    EXPECT_FALSE(parseWritePayload(std::string(kMaxWritePayload + 1, '1'), &value, &error));
    // Only rw tags unless the source opens every tag; a bit that the PLC
    // would refuse goes into the driver's cache all the same.
    WriteRequest w;
    ASSERT_TRUE(parseWritePayload("1", &value, &error));
    EXPECT_EQ(checkWrite(w16, value, WritePolicy(), &w).refusal, WriteRefusal::NotWritable);
    policy.toPlc = false;
    EXPECT_TRUE(checkWrite(bit2, value, policy, &w).ok());
    // Between two raw steps: the nearest is written, and said.
    ASSERT_TRUE(parseWritePayload("-40.06", &value, &error) && checkWrite(scaled, value, policy, &w).ok());
    EXPECT_EQ(w.written, -40.1);
}

TEST(TagJson, StateBeforeAndAfterAGoodRead)
{
    TagRow r = tagRow({1, 1, 0x10}, "t", false, false, 0.5);
    const Moment now{100000, 1765033200000};  // 2025-12-06T15:00:00.000Z
    EXPECT_EQ(tagStateJson(r, now).dump(), R"({"status":"pending","ts":"2025-12-06T15:00:00.000Z"})");
    r.reads = 1;
    r.lastStatus = 1;
    r.lastReadMs = 99877;
    r.value = decodeValue(1, r.tag, 5);
    EXPECT_EQ(tagStateJson(r, now).dump(), R"({"status":"ok","ts":"2025-12-06T14:59:59.877Z","value":2.5})");
    EXPECT_EQ(isoUtcText(951782400123), "2000-02-29T00:00:00.123Z");
    EXPECT_EQ(isoUtcText(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(isoUtcText(253402300800000 + 3723004), "10000-01-01T01:02:03.004Z");
    r.tag = TagInfo();
    r.value = decodeValue(1, r.tag, 0xFFFE);
    EXPECT_EQ(tagStateJson(r, now)["value"].dump(), "-2");
    RunStats s;  // half a second in: the rate is per second all the same
    s.startMs = 99500, s.exchanges = 3, s.failuresByCode[41] = 2;
    const std::string status = runStatusJson(RunView{{r}, s, LinkState::Up, "p", 0}, now).dump();
    EXPECT_NE(status.find(R"("exchanges":3,"exchanges_per_s":6.0,"failures":{"41":2},)"), std::string::npos) << status;
}

TEST(HostStatus, TextOfEachBase)
{
    const std::pair<int, const char *> rows[] = {
        {0, "repeat pending"}, {1, "ok"}, {100, "accepted (remote)"}, {83, "other outcome"},
        {11, "check failed, local, ownerType 0"}, {44, "no reply, local, ownerType 3"},
        {82, "wrong length, local, ownerType 11"}, {112, "check failed, remote, ownerType 1"},
        {141, "no reply, remote, ownerType 0"}, {152, "no reply, remote, ownerType 11"},
        {171, "wrong length, remote, ownerType 0"}, {200, "other outcome"}};
    for (const auto &r : rows)
        EXPECT_EQ(describeStatus(r.first), r.second) << r.first;
}

TEST(HostSettings, WordsNotSetAreZero)
{
    int settings[kSettingsWords];
    std::fill(settings, settings + kSettingsWords, -7);
    fillSettings(DriverSettings(), settings);
    for (int word : {0, 5, int(MarovinSettings::retryCount), int(MarovinSettings::finishFlag), kSettingsWords - 1})
        EXPECT_EQ(settings[word], 0) << word;
}
