// The PLC device model: request frames in, reply bytes out. Replies are
// decoded here the way the driver decodes them, so a passing round trip means
// the driver would store what was written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "DeviceModel.h"
#include "MemoryText.h"

using marovin_device::DeviceModel;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Bytes from hex text such as "08 00 10".
Bytes bytes(const std::string &hexText)
{
    Bytes out;
    unsigned v = 0;
    int digits = 0;
    for (char c : hexText) {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        if (d < 0)
            continue;
        v = v * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            out.push_back(static_cast<std::uint8_t>(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

// Hex text of bytes, upper case, space separated.
std::string hex(const Bytes &b)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

// Appends the request sum byte (over every byte, byte 0 included).
Bytes withSum(Bytes f)
{
    unsigned s = 0;
    for (std::uint8_t b : f)
        s += b;
    f.push_back(static_cast<std::uint8_t>(s));
    return f;
}

// The driver's reply test: L bytes and a last byte equal to the sum of bytes 1..L-2.
bool replyPasses(const Bytes &r, std::size_t length)
{
    if (r.size() != length || length < 2)
        return false;
    unsigned s = 0;
    for (std::size_t i = 1; i + 1 < length; ++i)
        s += r[i];
    return static_cast<std::uint8_t>(s) == r[length - 1];
}

// A 10-byte local read request.
Bytes readFrame(int station, std::uint16_t command, std::uint16_t reg)
{
    const unsigned n = static_cast<unsigned>(station & 0xFF) * 16;
    return withSum({0x08, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(command >> 8),
                    static_cast<std::uint8_t>(command), static_cast<std::uint8_t>((n + 1) >> 8),
                    static_cast<std::uint8_t>(n + 1), static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg)});
}

// A word write built from the host's little-endian value bytes.
Bytes writeFrame(int station, int area, std::uint16_t address, const Bytes &data)
{
    static const std::uint8_t commands[] = {0, 0x04, 0x05, 0x08, 0x09, 0x05};
    const unsigned n = static_cast<unsigned>(station & 0xFF) * 16;
    const bool word = area == 1 || area == 3;
    Bytes f = {static_cast<std::uint8_t>(word ? 0x08 : 0x0A), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n),
               0x90, commands[area], static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
               data[1], data[0]};
    if (!word) {
        f.push_back(data[3]);
        f.push_back(data[2]);
    }
    return withSum(f);
}

// The driver's bit write for a writable status bit.
Bytes bitWriteFrame(int station, int bit, int value)
{
    const std::uint16_t reg = bit == 12 ? 0x709A : 0x7095;
    const std::uint16_t mask = bit == 12 ? 0x0010 : static_cast<std::uint16_t>(1u << (bit - 25));
    const std::uint16_t first = value == 1 ? static_cast<std::uint16_t>(0xFFFF ^ mask) : 0xFFFF;
    const std::uint16_t second = value == 1 ? 0 : mask;
    const unsigned n = static_cast<unsigned>(station & 0xFF) * 16;
    return withSum({0x0A, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n), 0x5C, 0x00,
                    static_cast<std::uint8_t>(reg >> 8), static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(first >> 8),
                    static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second >> 8), static_cast<std::uint8_t>(second)});
}

// Runs the driver's five status-bit requests and decodes the replies with the
// driver's status-bit table.
std::map<int, int> driverStatusBits(DeviceModel &m, int station)
{
    std::map<int, int> bits;
    const Bytes r0 = m.handle(readFrame(station, 0xB005, 0x7095));
    const Bytes r1 = m.handle(readFrame(station, 0xB004, 0x7098));
    const Bytes r2 = m.handle(readFrame(station, 0xB004, 0x709A));
    const Bytes r3 = m.handle(readFrame(station, 0xB004, 0x709C));
    const Bytes r4 = m.handle(readFrame(station, 0xB004, 0x709E));
    EXPECT_TRUE(replyPasses(r0, 15) && replyPasses(r1, 13) && replyPasses(r2, 13) && replyPasses(r3, 13) &&
                replyPasses(r4, 13));
    if (r0.size() != 15 || r1.size() != 13 || r2.size() != 13 || r3.size() != 13 || r4.size() != 13)
        return bits;
    const std::uint32_t v = (static_cast<std::uint32_t>(r0[10]) << 24) | (r0[11] << 16) | (r0[12] << 8) | r0[13];
    for (int b = 36; b <= 39; ++b)
        bits[b] = (v >> (b - 33)) & 1;
    bits[25] = 1 - ((v >> 16) & 1);
    for (int b = 28; b <= 31; ++b)
        bits[b] = 1 - ((v >> (b - 9)) & 1);
    bits[2] = (r1[11] >> 2) & 1;
    bits[12] = 1 - ((((r2[10] << 8) | r2[11]) >> 4) & 1);
    bits[16] = r3[11] & 1;
    bits[24] = r4[11] & 1;
    return bits;
}

// The host bytes the driver would store from a read reply of `area`.
Bytes driverStored(const Bytes &reply, int area)
{
    if (area == 1 || area == 3)
        return {reply[11], reply[10]};
    return {reply[11], reply[10], reply[13], reply[12]};
}

// The model every local-frame row starts from.
DeviceModel presetModel()
{
    DeviceModel m;
    m.setAreaValue(1, 1, 0x10, 0x1234);
    m.setAreaValue(0x12, 4, 0x200, 0x12345678);
    m.set(1, marovin_device::Space32A, 0x7095, 0x00080010);
    m.set(1, marovin_device::Space16A, 0x7098, 0x0004);
    m.set(1, marovin_device::Space16A, 0x709A, 0x0010);
    m.set(1, marovin_device::Space16A, 0x709C, 0x0001);
    return m;
}

}  // namespace

TEST(DeviceLocalFrames, AnswersEachCommand)
{
    struct Row {
        const char *what, *request, *reply;
    };
    const Row rows[] = {
        {"16-bit read, area 1", "08 00 10 B0 04 00 11 00 10 ED", "0B 00 10 B0 04 00 11 00 10 02 12 34 2D"},
        {"32-bit read, area 4", "08 01 20 B0 09 01 21 02 00 06", "0D 01 20 B0 09 01 21 02 00 04 56 78 12 34 16"},
        {"status 0x7095", "08 00 10 B0 05 00 11 70 95 E3", "0D 00 10 B0 05 00 11 70 95 04 00 10 00 08 F7"},
        {"status 0x7098", "08 00 10 B0 04 00 11 70 98 E5", "0B 00 10 B0 04 00 11 70 98 02 00 04 E3"},
        {"status 0x709A", "08 00 10 B0 04 00 11 70 9A E7", "0B 00 10 B0 04 00 11 70 9A 02 00 10 F1"},
        {"status 0x709C", "08 00 10 B0 04 00 11 70 9C E9", "0B 00 10 B0 04 00 11 70 9C 02 00 01 E4"},
        {"status 0x709E", "08 00 10 B0 04 00 11 70 9E EB", "0B 00 10 B0 04 00 11 70 9E 02 00 00 E5"},
        {"unknown command 0x0001", "08 00 10 00 01 00 11 00 10 3A", "0D 00 10 00 01 00 11 00 10 04 00 00 00 00 36"},
        {"16-bit write, area 1", "08 00 10 90 04 00 10 12 34 02", "4F"},
        {"16-bit write, area 3", "08 00 10 90 08 00 10 12 34 06", "4F"},
        {"32-bit write, area 2", "0A 00 20 90 05 00 20 56 78 12 34 F3", "4F"},
        {"32-bit write, area 4", "0A 00 20 90 09 00 20 56 78 12 34 F7", "4F"},
        {"decimal float write", "0A 00 10 90 05 01 00 00 05 00 0C C1", "4F"},
        {"bit write 29 = 1", "0A 00 10 5C 00 70 95 FF EF 00 00 69", "4F"},
        {"bit write 12 = 0", "0A 00 30 5C 00 70 9A FF FF 00 10 AE", "4F"},
        {"bit write 25 = 1", "0A 01 20 5C 00 70 95 FF FE 00 00 89", "4F"},
        {"bad sum", "08 00 10 B0 04 00 11 00 10 EE", ""},
        {"length byte and size disagree", "08 00 10 B0 04 00 11 00 10 ED 00", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        DeviceModel m = presetModel();
        EXPECT_EQ(hex(m.handle(bytes(row.request))), row.reply);
    }
}

TEST(DeviceLocalFrames, WritesLandInMemory)
{
    struct Row {
        const char *request;
        int station;
        std::uint8_t space;
        std::uint32_t address, value;
    };
    const Row rows[] = {
        {"08 00 10 90 04 00 10 12 34 02", 1, 0x04, 0x10, 0x1234},
        {"08 00 10 90 08 00 10 12 34 06", 1, 0x08, 0x10, 0x1234},
        {"0A 00 20 90 05 00 20 56 78 12 34 F3", 2, 0x05, 0x20, 0x12345678},
        {"0A 00 20 90 09 00 20 56 78 12 34 F7", 2, 0x09, 0x20, 0x12345678},
        {"0A 00 10 90 05 01 00 00 05 00 0C C1", 1, 0x05, 0x100, 0x000C0005},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.request);
        DeviceModel m;
        ASSERT_EQ(hex(m.handle(bytes(row.request))), "4F");
        EXPECT_EQ(m.get(row.station, row.space, row.address), row.value);
        EXPECT_EQ(m.cells().size(), 1u);  // nothing else was touched
    }
    DeviceModel m;
    m.handle(bytes("0A 00 10 90 05 01 00 00 05 00 0C C1"));
    EXPECT_FLOAT_EQ(m.decimalFloat(1, 0x100), 12.5f);
}

TEST(DeviceLocalFrames, WorkedBitWritesSetTheBitTheDriverReads)
{
    struct Row {
        const char *request;
        int station, bit, value;
    };
    const Row rows[] = {
        {"0A 00 10 5C 00 70 95 FF EF 00 00 69", 1, 29, 1},
        {"0A 00 30 5C 00 70 9A FF FF 00 10 AE", 3, 12, 0},
        {"0A 01 20 5C 00 70 95 FF FE 00 00 89", 0x12, 25, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.request);
        DeviceModel m;
        // Start from the opposite value so the write has to change something.
        m.setStatusBit(row.station, row.bit, !row.value);
        ASSERT_EQ(hex(m.handle(bytes(row.request))), "4F");
        EXPECT_EQ(driverStatusBits(m, row.station)[row.bit], row.value);
        EXPECT_EQ(m.statusBit(row.station, row.bit), row.value == 1);
    }
}

TEST(DeviceStatusBits, EveryWritableBitRoundTrips)
{
    const int writable[] = {12, 25, 28, 29, 30, 31};
    for (int bit : writable) {
        DeviceModel m;
        // Unrelated bits set, so a write that clobbers its register shows.
        m.set(7, marovin_device::Space32A, 0x7095, 0xA5A5A5A5);
        m.set(7, marovin_device::Space16A, 0x709A, 0x5A5A);
        for (int value : {1, 0, 0, 1, 1, 0}) {
            SCOPED_TRACE("bit " + std::to_string(bit) + " value " + std::to_string(value));
            std::map<int, int> before = driverStatusBits(m, 7);
            ASSERT_EQ(hex(m.handle(bitWriteFrame(7, bit, value))), "4F");
            std::map<int, int> after = driverStatusBits(m, 7);
            EXPECT_EQ(after[bit], value);
            before[bit] = value;
            EXPECT_EQ(after, before);  // no other status bit moved
            EXPECT_EQ(m.statusBit(7, bit), value == 1);
        }
    }
}

TEST(DeviceStatusBits, HelpersAgreeWithTheDriversDecoding)
{
    DeviceModel fresh;
    // A fresh device has zero registers: the inverted bits read as 1.
    std::map<int, int> bits = driverStatusBits(fresh, 1);
    for (int bit : marovin_device::statusBits()) {
        const bool inverted = bit == 12 || bit == 25 || (bit >= 28 && bit <= 31);
        EXPECT_EQ(bits[bit], inverted ? 1 : 0) << "bit " << bit;
        EXPECT_EQ(fresh.statusBit(1, bit), inverted) << "bit " << bit;
    }
    for (int bit : marovin_device::statusBits()) {
        for (bool value : {true, false}) {
            DeviceModel m;
            for (int other : marovin_device::statusBits())
                m.setStatusBit(4, other, !value);
            m.setStatusBit(4, bit, value);
            const std::map<int, int> got = driverStatusBits(m, 4);
            for (int other : marovin_device::statusBits())
                EXPECT_EQ(got.at(other), other == bit ? value : !value) << "set bit " << bit << ", read " << other;
            EXPECT_EQ(m.statusBit(4, bit), value);
        }
    }
    EXPECT_FALSE(marovin_device::isStatusBit(13));
    EXPECT_FALSE(marovin_device::isWritableStatusBit(2));
    EXPECT_TRUE(marovin_device::isWritableStatusBit(31));
}

TEST(DeviceRoundTrip, WriteThenReadEveryWordArea)
{
    struct Row {
        int area;
        std::uint16_t address;
        const char *hostBytes;  // little-endian, as the driver holds them
    };
    const Row rows[] = {
        {1, 0x0010, "34 12"}, {1, 0xFFFF, "FF FF"},          {3, 0x0030, "01 80"},
        {2, 0x0020, "78 56 34 12"}, {2, 0x7000, "00 00 00 80"}, {4, 0x0040, "EF BE AD DE"},
    };
    static const std::uint16_t readCommand[] = {0, 0xB004, 0xB005, 0xB008, 0xB009};
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.area) + ":" + row.hostBytes);
        DeviceModel m;
        const Bytes data = bytes(row.hostBytes);
        ASSERT_EQ(hex(m.handle(writeFrame(3, row.area, row.address, data))), "4F");
        const Bytes reply = m.handle(readFrame(3, readCommand[row.area], row.address));
        const std::size_t length = (row.area == 1 || row.area == 3) ? 13 : 15;
        ASSERT_TRUE(replyPasses(reply, length)) << hex(reply);
        EXPECT_EQ(hex(driverStored(reply, row.area)), hex(data));
        // Another station's memory is separate.
        EXPECT_FALSE(m.has(4, marovin_device::spaceOfArea(row.area), row.address));
    }
}

TEST(DeviceRoundTrip, DecimalFloatWriteThenRead)
{
    struct Row {
        float written, readBack;
    };
    // The encoding loses leading fraction zeros and signs of small negatives,
    // cuts the integer part to 16 bits, and the integer word reads back unsigned.
    const Row rows[] = {
        {12.5f, 12.5f}, {1.0f, 1.0f}, {0.1f, 0.1f}, {100000.0f, 34464.0f}, {3.14159265f, 3.14159f},
        {12.05f, 12.5f}, {-0.5f, 0.5f}, {-3.25f, 65533.25f}, {1234567.0f, 1.0f},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.written);
        DeviceModel m;
        std::uint16_t fraction = 0, integer = 0;
        marovin_device::encodeDecimalFloat(row.written, &fraction, &integer);
        const Bytes wire = {static_cast<std::uint8_t>(fraction), static_cast<std::uint8_t>(fraction >> 8),
                            static_cast<std::uint8_t>(integer), static_cast<std::uint8_t>(integer >> 8)};
        ASSERT_EQ(hex(m.handle(writeFrame(1, 5, 0x50, wire))), "4F");
        const Bytes reply = m.handle(readFrame(1, 0xB005, 0x50));
        ASSERT_TRUE(replyPasses(reply, 15));
        const std::uint16_t f = static_cast<std::uint16_t>((reply[10] << 8) | reply[11]);
        const std::uint16_t i = static_cast<std::uint16_t>((reply[12] << 8) | reply[13]);
        EXPECT_FLOAT_EQ(marovin_device::decodeDecimalFloat(f, i), row.readBack);
        EXPECT_FLOAT_EQ(m.decimalFloat(1, 0x50), row.readBack);
    }
}

TEST(DeviceDecimalFloat, EncodesLikeTheDriversFrames)
{
    struct Row {
        float value;
        const char *bytes7to10;
    };
    const Row rows[] = {
        {12.5f, "00 05 00 0C"},      {12.05f, "00 05 00 0C"},    {-3.25f, "00 19 FF FD"},
        {-0.5f, "00 05 00 00"},      {1.0f, "00 00 00 01"},      {0.1f, "00 01 00 00"},
        {0.0001f, "00 01 00 00"},    {3.14159265f, "37 4F 00 03"}, {100000.0f, "00 00 86 A0"},
        {1234567.0f, "00 00 00 01"}, {0.000012f, "00 00 00 01"}, {123456.7f, "00 00 E2 41"},
        {1000000.0f, "00 00 00 00"},
    };
    for (const Row &row : rows) {
        std::uint16_t fraction = 0, integer = 0;
        marovin_device::encodeDecimalFloat(row.value, &fraction, &integer);
        const Bytes got = {static_cast<std::uint8_t>(fraction >> 8), static_cast<std::uint8_t>(fraction),
                           static_cast<std::uint8_t>(integer >> 8), static_cast<std::uint8_t>(integer)};
        EXPECT_EQ(hex(got), row.bytes7to10) << row.value;
    }
}

TEST(DeviceDecimalFloat, DecodesTheReplyWords)
{
    struct Row {
        std::uint16_t fraction, integer;
        float value;
    };
    const Row rows[] = {
        {0x0005, 0x000C, 12.5f}, {0x0032, 0x0001, 1.5f}, {0x0019, 0xFFFD, 65533.25f},
        {0x0000, 0x0000, 0.0f},  {0xFFFF, 0xFFFF, 65535.65535f},
    };
    for (const Row &row : rows)
        EXPECT_FLOAT_EQ(marovin_device::decodeDecimalFloat(row.fraction, row.integer), row.value);

    DeviceModel m;
    m.setDecimalFloat(1, 0x50, 12.5f);
    EXPECT_EQ(m.get(1, marovin_device::Space32A, 0x50), 0x000C0005u);  // integer word high
    std::uint16_t f = 0, i = 0;
    m.decimalWords(1, 0x50, &f, &i);
    EXPECT_EQ(f, 5);
    EXPECT_EQ(i, 12);
    m.setDecimalWords(1, 0x52, 0x0032, 0x0001);
    EXPECT_FLOAT_EQ(m.decimalFloat(1, 0x52), 1.5f);
}

TEST(DeviceRemote, ReadsAnswerLikeLocalReads)
{
    struct Row {
        const char *what, *request, *reply;
    };
    // The worked descriptor of a read of station 5, address 0x1234, with its area code varied.
    const Row rows[] = {
        {"area 1", "16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 62",
         "0B 00 50 B0 04 00 51 12 34 02 AB CD 15"},
        {"area 2", "16 01 00 02 05 00 02 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 63",
         "0D 00 50 B0 05 00 51 12 34 04 56 78 12 34 B4"},
        {"area 0", "16 01 00 02 05 00 00 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 61",
         "0D 00 50 B0 05 00 51 70 95 04 00 10 00 08 77"},
        {"bad sum", "16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 63", ""},
        {"station not served", "16 01 00 02 06 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 63", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        DeviceModel m;
        m.setRemote(true);
        m.setStations({5});
        m.setAreaValue(5, 1, 0x1234, 0xABCD);
        m.setAreaValue(5, 2, 0x1234, 0x12345678);
        m.set(5, marovin_device::Space32A, 0x7095, 0x00080010);
        EXPECT_EQ(hex(m.handle(bytes(row.request))), row.reply);
    }
    // Areas 3, 4 and 5 read their own spaces; 5 gives the decimal-float words.
    DeviceModel m;
    m.setRemote(true);
    m.setAreaValue(9, 3, 0x30, 0x4321);
    m.setAreaValue(9, 4, 0x40, 0xCAFEF00D);
    m.setDecimalFloat(9, 0x50, 12.5f);
    auto remoteRead = [&](int area, std::uint32_t address) {
        return m.handle(withSum({0x16, 0, 0, 0, 9, 0, static_cast<std::uint8_t>(area), 0, 0,
                                 static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), 0, 1,
                                 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
    };
    const Bytes r3 = remoteRead(3, 0x30), r4 = remoteRead(4, 0x40), r5 = remoteRead(5, 0x50);
    ASSERT_TRUE(replyPasses(r3, 13) && replyPasses(r4, 15) && replyPasses(r5, 15));
    EXPECT_EQ(hex(driverStored(r3, 3)), "21 43");
    EXPECT_EQ(hex(driverStored(r4, 4)), "0D F0 FE CA");
    EXPECT_EQ(hex(Bytes(r5.begin() + 10, r5.begin() + 14)), "00 05 00 0C");
}

TEST(DeviceRemote, WritesStoreTheHostBytes)
{
    DeviceModel m;
    m.setRemote(true);
    std::vector<marovin_device::WriteEvent> events;
    m.setWriteHook([&](const marovin_device::WriteEvent &e) { events.push_back(e); });

    // The worked 2-byte write (area 1, station 5, address 0x1234, count 1).
    const Bytes w1 = bytes("18 01 01 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 CD AB DD");
    const Bytes ack = m.handle(w1);
    EXPECT_EQ(hex(ack), "06 01 01 02 05 00 01 0A");
    EXPECT_TRUE(replyPasses(ack, 8));
    EXPECT_EQ(m.areaValue(5, 1, 0x1234), 0xABCDu);

    // Builds a remote write descriptor with `data` for (station, area, address, count).
    auto write = [&](int station, int area, std::uint32_t address, int count, const Bytes &data) {
        Bytes f = {0, 1, 1, 0, static_cast<std::uint8_t>(station), 0, static_cast<std::uint8_t>(area),
                   static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
                   static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), 0,
                   static_cast<std::uint8_t>(count), 0, 0, 0, 0, 0, 0, 0, 0};
        f.insert(f.end(), data.begin(), data.end());
        f[0] = static_cast<std::uint8_t>(f.size() + 1);
        return m.handle(withSum(f));
    };
    // Area 2, count 4: two 32-bit values, at address and address + 2.
    EXPECT_EQ(write(5, 2, 0x20, 4, bytes("78 56 34 12 04 03 02 01")).size(), 8u);
    EXPECT_EQ(m.areaValue(5, 2, 0x20), 0x12345678u);
    EXPECT_EQ(m.areaValue(5, 2, 0x22), 0x01020304u);
    EXPECT_FALSE(m.has(5, marovin_device::Space32A, 0x21));
    // Area 3, count 2: two words.
    write(5, 3, 0x30, 2, bytes("34 12 78 56"));
    EXPECT_EQ(m.areaValue(5, 3, 0x30), 0x1234u);
    EXPECT_EQ(m.areaValue(5, 3, 0x31), 0x5678u);
    // Area 4, count 2: one value.
    write(5, 4, 0x40, 2, bytes("0D F0 FE CA"));
    EXPECT_EQ(m.areaValue(5, 4, 0x40), 0xCAFEF00Du);
    // Area 5: an IEEE single, stored as the decimal-float words.
    write(5, 5, 0x50, 2, bytes("00 00 48 41"));  // 12.5
    EXPECT_EQ(m.get(5, marovin_device::Space32A, 0x50), 0x000C0005u);
    // Area 0, count 1 with a padding byte: only bit 28 changes, not bit 29.
    m.setStatusBit(5, 29, true);
    write(5, 0, 28, 1, bytes("00 00"));
    EXPECT_FALSE(m.statusBit(5, 28));
    EXPECT_TRUE(m.statusBit(5, 29));
    write(5, 0, 28, 1, bytes("01 00"));
    EXPECT_TRUE(m.statusBit(5, 28));
    // Data shorter than count: only the whole values present are stored.
    write(5, 1, 0x60, 3, bytes("01 00 02"));
    EXPECT_EQ(m.areaValue(5, 1, 0x60), 1u);
    EXPECT_FALSE(m.has(5, marovin_device::Space16A, 0x61));

    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().station, 5);
    EXPECT_EQ(events.front().areaCode, 1);
    EXPECT_EQ(events.front().after, 0xABCDu);
    EXPECT_EQ(events.back().address, 0x60u);
}

TEST(DeviceRemote, StationZeroWriteIsNeverAnswered)
{
    const Bytes broadcast = withSum(bytes("18 01 01 02 00 00 01 00 00 00 10 00 01 00 00 00 00 00 00 00 00 34 12"));
    DeviceModel served;
    served.setRemote(true);
    EXPECT_TRUE(served.handle(broadcast).empty());
    EXPECT_EQ(served.areaValue(0, 1, 0x10), 0x1234u);
    EXPECT_EQ(served.counters().broadcasts, 1u);
    EXPECT_EQ(served.counters().replies, 0u);

    DeviceModel notServed;
    notServed.setRemote(true);
    notServed.setStations({1});
    EXPECT_TRUE(notServed.handle(broadcast).empty());
    EXPECT_FALSE(notServed.has(0, marovin_device::Space16A, 0x10));
    // A read of station 0 is answered like any other station.
    const Bytes read0 = withSum(bytes("16 01 00 02 00 00 01 00 00 00 10 00 01 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(served.handle(read0).size(), 13u);
}

TEST(DeviceStream, SkipsOtherStationsOnAMultiDropLine)
{
    const Bytes frames[] = {readFrame(1, 0xB004, 0x10), readFrame(2, 0xB004, 0x10), readFrame(5, 0xB005, 0x20),
                            bitWriteFrame(7, 29, 1), writeFrame(1, 1, 0x11, bytes("02 01"))};
    Bytes stream;
    for (const Bytes &f : frames)
        stream.insert(stream.end(), f.begin(), f.end());
    for (std::size_t chunk : {stream.size(), std::size_t(1), std::size_t(7)}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        DeviceModel m;
        m.setStations({1, 5});
        std::vector<Bytes> replies;
        std::size_t framesSeen = 0;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - at);
            for (const Bytes &f : m.feed(stream.data() + at, n)) {
                ++framesSeen;
                const Bytes r = m.handle(f);
                if (!r.empty())
                    replies.push_back(r);
            }
        }
        EXPECT_EQ(framesSeen, 5u);
        EXPECT_EQ(m.pendingBytes(), 0u);  // nothing left waiting for a skipped frame
        ASSERT_EQ(replies.size(), 3u);
        EXPECT_TRUE(replyPasses(replies[0], 13));
        EXPECT_TRUE(replyPasses(replies[1], 15));
        EXPECT_EQ(hex(replies[2]), "4F");
        EXPECT_EQ(m.counters().skipped, 2u);
        EXPECT_EQ(m.counters().requests, 3u);
        EXPECT_EQ(m.areaValue(1, 1, 0x11), 0x0102u);
        EXPECT_FALSE(m.has(7, marovin_device::Space32A, 0x7095));
    }
}

TEST(DeviceStream, ResynchronisesAfterGarbage)
{
    const Bytes good1 = readFrame(1, 0xB004, 0x10);
    const Bytes good2 = writeFrame(1, 2, 0x20, bytes("78 56 34 12"));
    Bytes corrupted = good1;
    corrupted.back() ^= 0x40;
    struct Row {
        const char *what;
        Bytes junk;
        std::uint64_t badSums;  // junk starting with a length byte is taken for a frame first
    };
    const Row rows[] = {
        {"one junk byte", bytes("FF"), 0},
        {"an acknowledgement byte", bytes("4F"), 0},
        {"another PLC's reply", bytes("0B 00 20 B0 04 00 21 00 10 02 12 34 3D"), 0},
        {"a lone length byte", bytes("08"), 1},
        {"a length byte and a little more", bytes("0A 00 10"), 1},
        {"a frame with a bad sum", corrupted, 1},
        {"a truncated frame", Bytes(good2.begin(), good2.begin() + 5), 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        // All at once, and one byte at a time as over a slow line.
        for (bool byteWise : {false, true}) {
            SCOPED_TRACE(byteWise ? "byte-wise" : "whole");
            DeviceModel m;
            Bytes rest = row.junk;
            rest.insert(rest.end(), good2.begin(), good2.end());
            rest.insert(rest.end(), good1.begin(), good1.end());
            std::vector<Bytes> got = m.feed(good1.data(), good1.size());
            std::vector<std::uint8_t> dropped;
            for (std::size_t at = 0; at < rest.size(); at += byteWise ? 1 : rest.size())
                for (Bytes &f : m.feed(&rest[at], byteWise ? 1 : rest.size(), &dropped))
                    got.push_back(f);
            ASSERT_EQ(got.size(), 3u);
            EXPECT_EQ(got[0], good1);
            EXPECT_EQ(got[1], good2);
            EXPECT_EQ(got[2], good1);
            EXPECT_EQ(hex(dropped), hex(row.junk));
            EXPECT_EQ(m.counters().badSums, row.badSums);
            EXPECT_EQ(m.counters().garbageBytes, row.junk.size());
            EXPECT_EQ(m.pendingBytes(), 0u);
        }
    }
}

TEST(DeviceStream, JunkBeforeAWholeFrameDoesNotDelayIt)
{
    // A junk length byte would make the framer wait for two bytes more than
    // the request holds; the request that ends the input is taken at once.
    const Bytes good = readFrame(1, 0xB004, 0x10);
    for (const char *junk : {"0A", "0A 00"}) {
        DeviceModel m;
        Bytes stream = bytes(junk);
        stream.insert(stream.end(), good.begin(), good.end());
        const auto frames = m.feed(stream.data(), stream.size());
        ASSERT_EQ(frames.size(), 1u) << junk;
        EXPECT_EQ(frames[0], good);
        EXPECT_EQ(m.pendingBytes(), 0u);
    }
    // An incomplete frame alone waits; a silence on the line drops it.
    DeviceModel m;
    const Bytes half(good.begin(), good.begin() + 6);
    EXPECT_TRUE(m.feed(half.data(), half.size()).empty());
    EXPECT_EQ(m.pendingBytes(), 6u);
    EXPECT_EQ(m.discardPartial(), 6u);
    const auto frames = m.feed(good.data(), good.size());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], good);
}

TEST(DeviceStream, FramesRemoteDescriptors)
{
    DeviceModel m;
    m.setRemote(true);
    const Bytes read = bytes("16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 62");
    const Bytes write = bytes("18 01 01 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 CD AB DD");
    Bytes stream = bytes("0B 4F 00");  // a reply and junk: lengths below 22 cannot start a descriptor
    stream.insert(stream.end(), write.begin(), write.end());
    stream.insert(stream.end(), read.begin(), read.end());
    const auto frames = m.feed(stream.data(), stream.size());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], write);
    EXPECT_EQ(frames[1], read);
    EXPECT_EQ(m.counters().garbageBytes, 3u);
    EXPECT_EQ(m.handle(frames[0]).size(), 8u);
    EXPECT_EQ(hex(m.handle(frames[1])), "0B 00 50 B0 04 00 51 12 34 02 AB CD 15");
}

TEST(DeviceCounters, CountWhatHappened)
{
    DeviceModel m;
    m.setStations({1});
    m.handle(readFrame(1, 0xB004, 0x10));                      // answered
    m.handle(readFrame(2, 0xB004, 0x10));                      // skipped
    m.handle(bytes("08 00 10 B0 04 00 11 00 10 00"));          // bad sum
    m.handle(readFrame(1, 0x0001, 0x10));                      // unknown, answered
    m.handle(writeFrame(1, 1, 0x10, bytes("01 00")));          // answered
    const marovin_device::Counters &c = m.counters();
    EXPECT_EQ(c.frames, 4u);
    EXPECT_EQ(c.requests, 3u);
    EXPECT_EQ(c.replies, 3u);
    EXPECT_EQ(c.skipped, 1u);
    EXPECT_EQ(c.badSums, 1u);
    EXPECT_EQ(c.unknown, 1u);
    m.resetCounters();
    EXPECT_EQ(m.counters().requests, 0u);
}

TEST(DeviceHooks, WriteHookSeesBeforeAndAfter)
{
    DeviceModel m;
    std::vector<marovin_device::WriteEvent> events;
    m.setWriteHook([&](const marovin_device::WriteEvent &e) { events.push_back(e); });
    m.setAreaValue(1, 1, 0x10, 7);  // API sets are not requests: no event
    m.handle(writeFrame(1, 1, 0x10, bytes("34 12")));
    m.handle(bitWriteFrame(1, 29, 1));
    m.handle(readFrame(1, 0xB004, 0x10));  // reads change nothing
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].command, 0x9004);
    EXPECT_EQ(events[0].space, marovin_device::Space16A);
    EXPECT_EQ(events[0].address, 0x10u);
    EXPECT_EQ(events[0].before, 7u);
    EXPECT_EQ(events[0].after, 0x1234u);
    EXPECT_EQ(events[1].command, 0x5C00);
    EXPECT_EQ(events[1].address, 0x7095u);
    EXPECT_EQ(events[1].before, 0u);
    EXPECT_EQ(events[1].after, 0u);  // a zero register already reads as bit 29 = 1
    m.handle(bitWriteFrame(1, 29, 0));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].after, 0x10u);
}

TEST(MemoryText, ParsesAssignments)
{
    struct Good {
        const char *text;
        int station, area;
        std::uint32_t address, raw;
        float real;
    };
    const Good good[] = {
        {"1:1:10=1234", 1, 1, 0x10, 1234, 0},
        {" 2 : 3 : 0x7FF0 = 0xBEEF ", 2, 3, 0x7FF0, 0xBEEF, 0},
        {"1:1:10=-1", 1, 1, 0x10, 0xFFFF, 0},
        {"255:2:20=4294967295", 255, 2, 0x20, 0xFFFFFFFFu, 0},
        {"1:4:40=-2", 1, 4, 0x40, 0xFFFFFFFEu, 0},
        {"1:5:50=12.5", 1, 5, 0x50, 0, 12.5f},
        {"1:5:50=-3", 1, 5, 0x50, 0, -3.0f},
        {"1:0:29=1", 1, 0, 29, 1, 0},
    };
    for (const Good &g : good) {
        SCOPED_TRACE(g.text);
        marovin_device::Assignment a;
        std::string error;
        ASSERT_TRUE(marovin_device::parseAssignment(g.text, &a, &error)) << error;
        EXPECT_EQ(a.key.station, g.station);
        EXPECT_EQ(a.key.area, g.area);
        EXPECT_EQ(a.key.address, g.address);
        EXPECT_EQ(a.raw, g.raw);
        EXPECT_FLOAT_EQ(a.real, g.real);
    }
    const char *bad[] = {
        "1:1:10",       "1:6:10=1",  "256:1:10=1", "1:1:1G=1",  "1:1:10=65536", "1:1:10=-32769",
        "1:0:13=1",     "1:0:29=2",  "1:5:50=abc", "1:2:20=0x100000000", "1:1=5", "x:1:10=1",
    };
    for (const char *text : bad) {
        marovin_device::Assignment a;
        std::string error;
        EXPECT_FALSE(marovin_device::parseAssignment(text, &a, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(MemoryText, DumpListsEverythingSetAndReloads)
{
    DeviceModel m;
    std::string error;
    ASSERT_TRUE(marovin_device::loadMemoryText(m,
                                               "# demo\n"
                                               "1:1:10=0x1234   # a word\n"
                                               "\n"
                                               "1:5:50=12.5\n"
                                               "1:0:29=0\n"
                                               "2:4:40=305419896\n",
                                               &error))
        << error;
    m.handle(writeFrame(1, 2, 0x20, bytes("40 E2 01 00")));  // 123456 by a request
    m.handle(writeFrame(1, 1, 0x7098, bytes("FF 00")));     // a status register with extra bits
    const std::string dump = marovin_device::dumpMemoryText(m);
    for (const char *line : {"1:1:10=4660\n", "1:5:50=12.5\n", "1:0:29=0\n", "1:0:25=1\n", "1:0:36=0\n",
                             "2:4:40=305419896\n", "1:2:20=123456\n", "1:1:7098=255\n", "1:0:2=1\n"})
        EXPECT_NE(dump.find(line), std::string::npos) << line << " missing from\n" << dump;
    EXPECT_EQ(dump.find("1:2:50"), std::string::npos) << "a decimal float is dumped as area 5";

    DeviceModel again;
    ASSERT_TRUE(marovin_device::loadMemoryText(again, dump, &error)) << error;
    EXPECT_EQ(marovin_device::dumpMemoryText(again), dump);
    for (int bit : marovin_device::statusBits())
        EXPECT_EQ(again.statusBit(1, bit), m.statusBit(1, bit)) << bit;

    DeviceModel broken;
    EXPECT_FALSE(marovin_device::loadMemoryText(broken, "1:1:10=1\n1:9:10=1\n", &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}
