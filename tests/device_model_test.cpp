// The PLC device model: request frames in, reply bytes out, the stream framer
// and the memory text of the simulator. How the driver reads and writes the
// model is in end_to_end_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceModel.h"
#include "DriverFixture.h"
#include "MemoryText.h"

using marovin_device::DeviceModel;
using marovin_test::Bytes;
using marovin_test::bytes;
using marovin_test::toHex;
namespace dev = marovin_device;

namespace {


std::uint8_t hi(unsigned v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t lo(unsigned v) { return static_cast<std::uint8_t>(v); }

// The byte strings one after another.
Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Appends the request sum byte (over every byte, byte 0 included).
Bytes withSum(Bytes f)
{
    f.push_back(dev::sum8(f.data(), f.size()));
    return f;
}

// A 10-byte local read request, or a 12-byte 32-bit write of `value`.
Bytes localFrame(int station, std::uint16_t command, std::uint16_t reg, std::uint32_t value = 0)
{
    const unsigned n = static_cast<unsigned>(station & 0xFF) * 16;
    if (command >> 8 == 0xB0)
        return withSum({0x08, hi(n), lo(n), hi(command), lo(command), hi(n + 1), lo(n + 1), hi(reg), lo(reg)});
    return withSum({0x0A, hi(n), lo(n), hi(command), lo(command), hi(reg), lo(reg), hi(value), lo(value),
                    hi(value >> 16), lo(value >> 16)});
}

// A remote descriptor frame for (station, area, address, count), with `data` when it writes.
Bytes remoteFrame(bool write, int station, int area, std::uint32_t address, int count, const char *data = "")
{
    Bytes f = cat({{0, 1, lo(write), 2, lo(station), 0, lo(area), lo(address >> 24), lo(address >> 16), hi(address),
                    lo(address), 0, lo(count), 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
                   bytes(data)});
    f[0] = static_cast<std::uint8_t>(f.size() + 1);
    return withSum(f);
}

TEST(DeviceLocalFrames, AnswersEachCommandAndWritesLand)
{
    const struct {
        const char *what, *request, *reply;
        int station;  // a write: on a fresh device it sets exactly this cell, or this status bit
        std::uint8_t space;
        std::uint32_t address, value;
        int bit;
    } rows[] = {
        {"16-bit read, area 1", "08 00 10 B0 04 00 11 00 10 ED", "0B 00 10 B0 04 00 11 00 10 02 12 34 2D", 0, 0, 0, 0, 0},
        {"32-bit read, area 4", "08 01 20 B0 09 01 21 02 00 06", "0D 01 20 B0 09 01 21 02 00 04 56 78 12 34 16", 0, 0, 0, 0, 0},
        {"status 0x7095", "08 00 10 B0 05 00 11 70 95 E3", "0D 00 10 B0 05 00 11 70 95 04 00 10 00 08 F7", 0, 0, 0, 0, 0},
        {"status 0x7098", "08 00 10 B0 04 00 11 70 98 E5", "0B 00 10 B0 04 00 11 70 98 02 00 04 E3", 0, 0, 0, 0, 0},
        {"unknown command 0x0001", "08 00 10 00 01 00 11 00 10 3A", "0D 00 10 00 01 00 11 00 10 04 00 00 00 00 36", 0, 0, 0, 0, 0},
        {"bad sum", "08 00 10 B0 04 00 11 00 10 EE", "", 0, 0, 0, 0, 0},
        {"length byte and size disagree", "08 00 10 B0 04 00 11 00 10 ED 00", "", 0, 0, 0, 0, 0},
        {"16-bit write, area 1", "08 00 10 90 04 00 10 12 34 02", "4F", 1, 0x04, 0x10, 0x1234, 0},
        {"16-bit write, area 3", "08 00 10 90 08 00 10 12 34 06", "4F", 1, 0x08, 0x10, 0x1234, 0},
        {"32-bit write, area 2", "0A 00 20 90 05 00 20 56 78 12 34 F3", "4F", 2, 0x05, 0x20, 0x12345678, 0},
        {"32-bit write, area 4", "0A 00 20 90 09 00 20 56 78 12 34 F7", "4F", 2, 0x09, 0x20, 0x12345678, 0},
        {"decimal float write", "0A 00 10 90 05 01 00 00 05 00 0C C1", "4F", 1, 0x05, 0x100, 0x000C0005, 0},
        {"bit write 29 = 1", "0A 00 10 5C 00 70 95 FF EF 00 00 69", "4F", 1, 0, 0, 1, 29},
        {"bit write 12 = 0", "0A 00 30 5C 00 70 9A FF FF 00 10 AE", "4F", 3, 0, 0, 0, 12},
        {"bit write 25 = 1", "0A 01 20 5C 00 70 95 FF FE 00 00 89", "4F", 0x12, 0, 0, 1, 25},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        DeviceModel m;
        m.setAreaValue(1, 1, 0x10, 0x1234);
        m.setAreaValue(0x12, 4, 0x200, 0x12345678);
        m.set(1, dev::Space32A, 0x7095, 0x00080010);
        m.set(1, dev::Space16A, 0x7098, 0x0004);
        EXPECT_EQ(toHex(m.handle(bytes(r.request))), r.reply);
        DeviceModel fresh;
        if (r.bit)
            fresh.setStatusBit(r.station, r.bit, r.value == 0);  // the write has to change it
        fresh.handle(bytes(r.request));
        if (r.bit) {
            EXPECT_EQ(fresh.statusBit(r.station, r.bit), r.value == 1);
        } else if (r.station) {
            EXPECT_EQ(fresh.get(r.station, r.space, r.address), r.value);
            EXPECT_EQ(fresh.cells().size(), 1u) << "nothing else was touched";
        }
    }
    EXPECT_FALSE(dev::isStatusBit(13) || dev::isWritableStatusBit(2));
    EXPECT_TRUE(dev::isWritableStatusBit(31));
    DeviceModel bare;  // replies without the request's header
    bare.setHeaderEcho(false);
    bare.setAreaValue(1, 1, 0x10, 0x1234);
    EXPECT_EQ(toHex(bare.handle(bytes("08 00 10 B0 04 00 11 00 10 ED"))), "0B 00 00 00 00 00 00 00 00 00 12 34 46");
}

// Decimal floats: the encoding loses leading fraction zeros and signs of small
// negatives, cuts the integer part to 16 bits, and the integer word reads back unsigned.
TEST(DeviceDecimalFloat, EncodesLikeTheDriverAndReadsBack)
{
    const struct {
        float written, readBack;
        const char *words;  // bytes 7 to 10 of the driver's write frame
    } rows[] = {
        {12.5f, 12.5f, "00 05 00 0C"},        {100000.0f, 34464.0f, "00 00 86 A0"}, {3.14159265f, 3.14159f, "37 4F 00 03"},
        {-0.5f, 0.5f, "00 05 00 00"},         {-3.25f, 65533.25f, "00 19 FF FD"},   {1234567.0f, 1.0f, "00 00 00 01"},
        {0.000012f, 1.0f, "00 00 00 01"},     {1000000.0f, 0.0f, "00 00 00 00"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.written);
        std::uint16_t fraction = 0, integer = 0;
        dev::encodeDecimalFloat(r.written, &fraction, &integer);
        EXPECT_EQ(toHex({hi(fraction), lo(fraction), hi(integer), lo(integer)}), r.words);
        DeviceModel m;
        ASSERT_EQ(toHex(m.handle(localFrame(1, 0x9005, 0x50, static_cast<std::uint32_t>(integer) << 16 | fraction))), "4F");
        const Bytes reply = m.handle(localFrame(1, 0xB005, 0x50));
        ASSERT_EQ(reply.size(), 15u);
        EXPECT_FLOAT_EQ(dev::decodeDecimalFloat(reply[10] << 8 | reply[11], reply[12] << 8 | reply[13]), r.readBack);
        EXPECT_FLOAT_EQ(m.decimalFloat(1, 0x50), r.readBack);
    }
    EXPECT_FLOAT_EQ(dev::decodeDecimalFloat(0xFFFF, 0xFFFF), 65535.65535f);
    DeviceModel m;
    m.setDecimalFloat(1, 0x50, 12.5f);
    EXPECT_EQ(m.get(1, dev::Space32A, 0x50), 0x000C0005u) << "integer word high";
    std::uint16_t f = 0, i = 0;
    m.decimalWords(1, 0x50, &f, &i);
    EXPECT_EQ(f * 100 + i, 512);
    m.setDecimalWords(1, 0x52, 0x0032, 0x0001);
    EXPECT_FLOAT_EQ(m.decimalFloat(1, 0x52), 1.5f);
}

TEST(DeviceRemote, ReadsAndWritesEveryArea)
{
    DeviceModel m;
    m.setRemote(true);
    m.setStations({0, 5});
    m.setAreaValue(5, 1, 0x1234, 0xABCD);
    m.setAreaValue(5, 2, 0x1234, 0x12345678);
    m.setAreaValue(5, 3, 0x30, 0x4321);
    m.setAreaValue(5, 4, 0x40, 0xCAFEF00D);
    m.setDecimalFloat(5, 0x50, 12.5f);
    m.set(5, dev::Space32A, 0x7095, 0x00080010);
    const struct {
        Bytes request;
        const char *reply;
    } reads[] = {
        {bytes("16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 62"), "0B 00 50 B0 04 00 51 12 34 02 AB CD 15"},
        {remoteFrame(false, 5, 2, 0x1234, 1), "0D 00 50 B0 05 00 51 12 34 04 56 78 12 34 B4"},
        {remoteFrame(false, 5, 0, 0x1234, 1), "0D 00 50 B0 05 00 51 70 95 04 00 10 00 08 77"},
        {remoteFrame(false, 5, 3, 0x30, 1), "0B 00 50 B0 08 00 51 00 30 02 43 21 EF"},
        {remoteFrame(false, 5, 4, 0x40, 1), "0D 00 50 B0 09 00 51 00 40 04 F0 0D CA FE 63"},
        {remoteFrame(false, 5, 5, 0x50, 1), "0D 00 50 B0 05 00 51 00 50 04 00 05 00 0C BB"},
        {bytes("16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 63"), ""},  // bad sum
        {remoteFrame(false, 6, 1, 0x1234, 1), ""},  // station not served
        {remoteFrame(false, 0, 1, 0x1234, 1), "0B 00 00 B0 04 00 01 12 34 02 00 00 FD"},
    };
    for (const auto &r : reads)
        EXPECT_EQ(toHex(m.handle(r.request)), r.reply);

    std::vector<dev::WriteEvent> events;
    m.setWriteHook([&](const dev::WriteEvent &e) { events.push_back(e); });
    // The worked 2-byte write (area 1, station 5, address 0x1234, count 1).
    EXPECT_EQ(toHex(m.handle(bytes("18 01 01 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 34 12 AB"))),
              "06 01 01 02 05 00 01 0A");
    EXPECT_EQ(m.areaValue(5, 1, 0x1234), 0x1234u);
    m.handle(remoteFrame(true, 5, 2, 0x20, 4, "78 56 34 12 04 03 02 01"));  // two values, at +0 and +2
    m.handle(remoteFrame(true, 5, 3, 0x30, 2, "34 12 78 56"));              // two words
    m.handle(remoteFrame(true, 5, 4, 0x40, 2, "0D F0 FE CA"));              // one value
    m.handle(remoteFrame(true, 5, 5, 0x50, 2, "00 00 48 41"));              // an IEEE single, 12.5
    m.handle(remoteFrame(true, 5, 1, 0x60, 3, "01 00 02"));                 // only the whole values present
    EXPECT_EQ(m.areaValue(5, 2, 0x20) ^ m.areaValue(5, 2, 0x22), 0x12345678u ^ 0x01020304u);
    EXPECT_FALSE(m.has(5, dev::Space32A, 0x21) || m.has(5, dev::Space16A, 0x61));
    EXPECT_EQ(m.areaValue(5, 3, 0x30) << 16 | m.areaValue(5, 3, 0x31), 0x12345678u);
    EXPECT_EQ(m.areaValue(5, 4, 0x40), 0xCAFEF00Du);
    EXPECT_EQ(m.get(5, dev::Space32A, 0x50), 0x000C0005u);
    EXPECT_EQ(m.areaValue(5, 1, 0x60), 1u);
    // Area 0 with a padding byte: only bit 28 changes, not bit 29.
    m.setStatusBit(5, 29, true);
    m.handle(remoteFrame(true, 5, 0, 28, 1, "00 00"));
    EXPECT_TRUE(!m.statusBit(5, 28) && m.statusBit(5, 29));
    m.handle(remoteFrame(true, 5, 0, 28, 1, "01 00"));
    EXPECT_TRUE(m.statusBit(5, 28));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().station * 1000 + events.front().areaCode, 5001);
    EXPECT_EQ(events.front().before * 0x10000 + events.front().after, 0xABCD1234u);
    // Station 0 is a broadcast: stored where served, never answered.
    const Bytes broadcast = remoteFrame(true, 0, 1, 0x10, 1, "34 12");
    DeviceModel notServed;
    notServed.setRemote(true);
    notServed.setStations({1});
    EXPECT_TRUE(m.handle(broadcast).empty() && notServed.handle(broadcast).empty());
    EXPECT_EQ(m.areaValue(0, 1, 0x10), 0x1234u);
    EXPECT_FALSE(notServed.has(0, dev::Space16A, 0x10));
    EXPECT_EQ(m.counters().broadcasts, 1u);
}

TEST(DeviceStream, FramesSkipsAndResynchronises)
{
    const Bytes good1 = localFrame(1, 0xB004, 0x10), good2 = localFrame(1, 0x9005, 0x20, 0x12345678);
    // A multi-drop line: frames for other stations are skipped, whatever the chunks.
    const Bytes stream = cat({good1, localFrame(2, 0xB004, 0x10), localFrame(5, 0xB005, 0x20),
                              localFrame(7, 0x5C00, 0x7095, 0x0000FFEF), localFrame(1, 0x9005, 0x11, 0x0102)});
    for (std::size_t chunk : {stream.size(), std::size_t(1), std::size_t(7)}) {
        DeviceModel m;
        m.setStations({1, 5});
        std::string replies;
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            for (const Bytes &f : m.feed(stream.data() + at, std::min(chunk, stream.size() - at)))
                replies += std::to_string(m.handle(f).size()) + " ";
        EXPECT_EQ(replies, "13 0 15 0 1 ") << chunk;
        EXPECT_EQ(m.pendingBytes(), 0u) << "nothing left waiting for a skipped frame";
        EXPECT_EQ(m.counters().skipped * 10 + m.counters().requests, 23u);
        EXPECT_EQ(m.areaValue(1, 2, 0x11), 0x0102u);
        EXPECT_FALSE(m.has(7, dev::Space32A, 0x7095));
    }
    Bytes corrupted = good1;
    corrupted.back() ^= 0x40;
    const struct {
        Bytes junk;
        std::uint64_t badSums;  // junk starting with a length byte is taken for a frame first
    } rows[] = {
        {bytes("FF"), 0}, {bytes("4F"), 0}, {bytes("0B 00 20 B0 04 00 21 00 10 02 12 34 3D"), 0},  // another PLC's reply
        {bytes("08"), 1}, {bytes("0A 00 10"), 1}, {corrupted, 1}, {Bytes(good2.begin(), good2.begin() + 5), 1},
    };
    for (const auto &r : rows)
        for (bool byteWise : {false, true}) {  // all at once, and one byte at a time as over a slow line
            SCOPED_TRACE(toHex(r.junk) + (byteWise ? ", byte-wise" : ", whole"));
            DeviceModel m;
            Bytes rest = cat({r.junk, good2, good1});
            std::vector<Bytes> got = m.feed(good1.data(), good1.size());
            Bytes dropped;
            for (std::size_t at = 0; at < rest.size(); at += byteWise ? 1 : rest.size())
                for (Bytes &f : m.feed(&rest[at], byteWise ? 1 : rest.size(), &dropped))
                    got.push_back(f);
            EXPECT_EQ(got, (std::vector<Bytes>{good1, good2, good1}));
            EXPECT_EQ(toHex(dropped), toHex(r.junk));
            EXPECT_EQ(m.counters().badSums, r.badSums);
            EXPECT_EQ(m.counters().garbageBytes, r.junk.size());
            EXPECT_EQ(m.pendingBytes(), 0u);
        }
    // A junk length byte would make the framer wait past the request that ends the input.
    for (const char *junk : {"0A", "0A 00"}) {
        DeviceModel m;
        Bytes s = cat({bytes(junk), good1});
        EXPECT_EQ(m.feed(s.data(), s.size()), std::vector<Bytes>{good1}) << junk;
    }
    // An incomplete frame alone waits; a silence on the line drops it.
    DeviceModel m;
    EXPECT_TRUE(m.feed(good1.data(), 6).empty());
    EXPECT_EQ(m.discardPartial(), 6u);
    EXPECT_EQ(m.feed(good1.data(), good1.size()), std::vector<Bytes>{good1});
    // Remote descriptors: lengths below 22 cannot start one.
    DeviceModel remote;
    remote.setRemote(true);
    const Bytes read = remoteFrame(false, 5, 1, 0x1234, 1), write = remoteFrame(true, 5, 1, 0x1234, 1, "CD AB");
    Bytes s = cat({bytes("0B 4F 00"), write, read});
    EXPECT_EQ(remote.feed(s.data(), s.size()), (std::vector<Bytes>{write, read}));
    EXPECT_EQ(remote.counters().garbageBytes, 3u);
}

TEST(DeviceCounters, CountWhatHappenedAndTheHookSeesWrites)
{
    DeviceModel m;
    m.setStations({1});
    std::vector<dev::WriteEvent> events;
    m.setWriteHook([&](const dev::WriteEvent &e) { events.push_back(e); });
    m.setAreaValue(1, 1, 0x10, 7);                     // API sets are not requests: no event
    m.handle(localFrame(1, 0xB004, 0x10));              // answered; reads change nothing
    m.handle(localFrame(2, 0xB004, 0x10));              // skipped
    m.handle(bytes("08 00 10 B0 04 00 11 00 10 00"));   // bad sum
    m.handle(localFrame(1, 0x0001, 0x10));              // unknown, answered
    m.handle(bytes("08 00 10 90 04 00 10 12 34 02"));   // answered
    m.handle(localFrame(1, 0x5C00, 0x7095, 0x0000FFEF));  // bit 29 = 1, answered
    const dev::Counters &c = m.counters();
    EXPECT_EQ(std::vector<std::uint64_t>({c.frames, c.requests, c.replies, c.skipped, c.badSums, c.unknown}),
              std::vector<std::uint64_t>({5, 4, 4, 1, 1, 1}));
    m.resetCounters();
    EXPECT_EQ(m.counters().requests, 0u);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].command * 0x10000u + events[0].space * 0x100u + events[0].address, 0x90040410u);
    EXPECT_EQ(events[0].before * 0x10000u + events[0].after, 0x71234u);
    EXPECT_EQ(events[0].areaCode, -1) << "a local write has no descriptor";
    EXPECT_EQ(events[1].command * 0x10000u + events[1].address, 0x5C007095u);
    EXPECT_EQ(events[1].before + events[1].after, 0u) << "a zero register already reads as bit 29 = 1";
    m.handle(localFrame(1, 0x5C00, 0x7095, 0x0010FFFF));  // bit 29 = 0
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].after, 0x10u);
}

TEST(MemoryText, ParsesAssignmentsDumpsAndReloads)
{
    const struct {
        const char *text;
        int station, area;
        std::uint32_t address, raw;
        float real;
    } good[] = {
        {"1:1:10=1234", 1, 1, 0x10, 1234, 0},      {" 2 : 3 : 0x7FF0 = 0xBEEF ", 2, 3, 0x7FF0, 0xBEEF, 0},
        {"1:1:10=-1", 1, 1, 0x10, 0xFFFF, 0},      {"255:2:20=4294967295", 255, 2, 0x20, 0xFFFFFFFFu, 0},
        {"1:4:40=-2", 1, 4, 0x40, 0xFFFFFFFEu, 0}, {"1:5:50=12.5", 1, 5, 0x50, 0, 12.5f},
        {"1:5:50=-3", 1, 5, 0x50, 0, -3.0f},       {"1:0:29=1", 1, 0, 29, 1, 0},
        {"1:2:FFFFFFFF=7", 1, 2, 0xFFFFFFFFu, 7, 0},  // the highest address
    };
    for (const auto &g : good) {
        dev::Assignment a;
        std::string error;
        ASSERT_TRUE(dev::parseAssignment(g.text, &a, &error)) << g.text << ": " << error;
        EXPECT_EQ(a.key.station * 10 + a.key.area, g.station * 10 + g.area) << g.text;
        EXPECT_EQ(a.key.address, g.address) << g.text;
        EXPECT_EQ(a.raw, g.raw) << g.text;
        EXPECT_FLOAT_EQ(a.real, g.real) << g.text;
    }
    for (const char *text : {"1:1:10", "1:6:10=1", "256:1:10=1", "1:1:1G=1", "1:1:10=65536", "1:1:10=-32769",
                             "1:0:13=1", "1:0:29=2", "1:5:50=abc", "1:2:20=0x100000000", "1:1=5", "x:1:10=1"}) {
        dev::Assignment a;
        std::string error;
        EXPECT_FALSE(dev::parseAssignment(text, &a, &error) || error.empty()) << text;
    }
    DeviceModel m;
    std::string error;
    ASSERT_TRUE(dev::loadMemoryText(m, "\xEF\xBB\xBF# demo\n1:1:10=0x1234   # a word\n\n1:5:50=12.5\n1:0:29=0\n2:4:40=305419896\n",
                                    &error)) << error;
    m.handle(localFrame(1, 0x9005, 0x20, 123456));        // by a request
    m.handle(bytes("08 00 10 90 04 70 98 00 FF B3"));     // a status register with extra bits
    const std::string dump = dev::dumpMemoryText(m);
    for (const char *line : {"1:1:10=4660\n", "1:5:50=12.5\n", "1:0:29=0\n", "1:0:25=1\n", "1:0:36=0\n",
                             "2:4:40=305419896\n", "1:2:20=123456\n", "1:1:7098=255\n", "1:0:2=1\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << " missing from\n" << dump;
    EXPECT_EQ(dump.find("1:2:50"), std::string::npos) << "a decimal float is dumped as area 5";
    DeviceModel again;
    ASSERT_TRUE(dev::loadMemoryText(again, dump, &error)) << error;
    EXPECT_EQ(dev::dumpMemoryText(again), dump);
    EXPECT_FALSE(dev::loadMemoryText(again, "1:1:10=1\n1:9:10=1\n", &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

}  // namespace
