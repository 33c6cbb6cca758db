// Request builders: read, bit-write, word-write and remote frames byte for
// byte, one request per value, the reply geometry, the frame counters, the
// write dispatcher's notice and cache update, and the decimal-float encoding
// ("%.6g" text in two words, independent of the process locale).
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <limits>
#include <numeric>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "frames/DecimalFloat.h"
#include "frames/Func_Read.h"
#include "frames/Func_Remote.h"
#include "frames/Func_Write.h"

using namespace marovin_test;
using marovin::decodeDecimalFloat;
using marovin::encodeDecimalFloat;
using marovin::formatG6;
namespace S = MarovinSettings;

namespace {

class Frames : public DriverTest {
protected:
    // Runs `build` on `v` and checks the queued requests: their frames, the
    // geometry (one reply length for all, or 15 then 13 for the status-bit
    // block), an unchanged copy of the variable each, and the frame counters.
    void expectFrames(void (*build)(RW_VAR *), const RW_VAR &v, const std::vector<std::string> &frames,
                      int replyLength = 13, int dataLength = 2)
    {
        SCOPED_TRACE(describe(v));
        PLC_driver.frameQueue.clear();
        word(S::framesPerVar) = word(S::framesDone) = 9;
        RW_VAR copy = v;
        build(&copy);
        EXPECT_EQ(queuedFrames(), frames);
        EXPECT_EQ(describe(copy), describe(v));
        const bool read = build == ReadRegister || build == Remote_ReadVar;
        for (int i = 0; i < PLC_driver.frameQueue.size(); ++i) {
            const Protocol &p = PLC_driver.frameQueue.at(i);
            EXPECT_EQ(p.requestLength, p.frame.size());
            EXPECT_EQ(p.replyLength, replyLength == -5 ? (i ? 13 : 15) : replyLength);
            EXPECT_EQ(p.dataOffset, read ? 10 : 0);
            EXPECT_EQ(p.dataLength, dataLength);
            EXPECT_EQ(describe(p.var), describe(v));
            EXPECT_EQ(p.extra1 + p.extra2 + p.extra3, 0);
        }
        EXPECT_EQ(word(S::framesPerVar), frames.empty() ? 9 : static_cast<int>(frames.size()));
        EXPECT_EQ(word(S::framesDone), frames.empty() ? 9 : 0);
    }
};

TEST_F(Frames, ReadRequests)
{
    const struct {
        int station, areaCode, address;
        const char *frame;
        int replyLength, dataLength;
    } rows[] = {
        {1, 1, 0x0010, "08 00 10 B0 04 00 11 00 10 ED", 13, 2},
        {0x12, 4, 0x0200, "08 01 20 B0 09 01 21 02 00 06", 15, 4},
        {3, 2, 0x1234, "08 00 30 B0 05 00 31 12 34 64", 15, 4},
        {3, 3, 0xABCD, "08 00 30 B0 08 00 31 AB CD 99", 13, 2},
        {3, 5, 0x0002, "08 00 30 B0 05 00 31 00 02 20", 15, 4},
        {7, 6, 0x0010, "08 00 70 00 01 00 71 00 10 FA", 15, 4},
        {7, -1, 0x0010, "08 00 70 00 01 00 71 00 10 FA", 15, 4},
        {7, INT_MIN, 0x0010, "08 00 70 00 01 00 71 00 10 FA", 15, 4},
        // Only the low 8 bits of the station and 16 bits of the address are sent.
        {0x112, 1, 0x10010, "08 01 20 B0 04 01 21 00 10 0F", 13, 2},
        {15, 1, -1, "08 00 F0 B0 04 00 F1 FF FF 9B", 13, 2},
    };
    for (const auto &r : rows) {
        // Every field set, so that a field the copy leaves out shows (RW_VAR's fields in order).
        const RW_VAR v{5, 6, 2, 1, 3, 8, "screen", QString::number(r.address, 16), r.areaCode, r.address, r.station, 7,
                       -1, 11, hex("01 02 03")};
        expectFrames(ReadRegister, v, {r.frame}, r.replyLength, r.dataLength);
    }
    // The status-bit block: five fixed requests, address and count play no part.
    RW_VAR bits = makeVar(0, 29, 1, 40);
    bits.hostText = "screen";
    expectFrames(ReadRegister, bits,
                 {"08 00 10 B0 05 00 11 70 95 E3", "08 00 10 B0 04 00 11 70 98 E5", "08 00 10 B0 04 00 11 70 9A E7",
                  "08 00 10 B0 04 00 11 70 9C E9", "08 00 10 B0 04 00 11 70 9E EB"},
                 -5, 4);
    PLC_driver.frameQueue.clear();
    bits.station = 0x12;
    ReadBool(&bits);
    EXPECT_EQ(queuedFrames().front(), "08 01 20 B0 05 01 21 70 95 05");
}

TEST_F(Frames, WriteRequests)
{
    const struct {
        int areaCode, address, station, count;
        const char *data;
        std::vector<std::string> frames;
    } rows[] = {
        {0, 29, 1, 1, "01", {"0A 00 10 5C 00 70 95 FF EF 00 00 69"}},
        {0, 12, 3, 1, "00", {"0A 00 30 5C 00 70 9A FF FF 00 10 AE"}},
        {0, 25, 0x12, 1, "01", {"0A 01 20 5C 00 70 95 FF FE 00 00 89"}},
        {0, 28, 1, 1, "01", {"0A 00 10 5C 00 70 95 FF F7 00 00 71"}},
        {0, 30, 1, 1, "01", {"0A 00 10 5C 00 70 95 FF DF 00 00 59"}},
        // Only the first byte counts, and only exactly 1 sets the bit.
        {0, 29, 1, 2, "01 00", {"0A 00 10 5C 00 70 95 FF EF 00 00 69"}},
        {0, 29, 1, 1, "02", {"0A 00 10 5C 00 70 95 FF FF 00 10 89"}},
        {0, 29, 1, 1, "FF", {"0A 00 10 5C 00 70 95 FF FF 00 10 89"}},
        {0, 29, 1, 1, "00 01", {"0A 00 10 5C 00 70 95 FF FF 00 10 89"}},
        {0, 31, 300, 1, "00", {"0A 02 C0 5C 00 70 95 FF FF 00 40 6B"}},  // station 300 goes out as 0x2C
        {1, 0x10, 1, 1, "34 12", {"08 00 10 90 04 00 10 12 34 02"}},
        {3, 0x10, 1, 1, "34 12", {"08 00 10 90 08 00 10 12 34 06"}},
        {2, 0x20, 2, 2, "78 56 34 12", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        {4, 0x20, 2, 2, "78 56 34 12", {"0A 00 20 90 09 00 20 56 78 12 34 F7"}},
        {5, 0x100, 1, 2, "00 00 48 41", {"0A 00 10 90 05 01 00 00 05 00 0C C1"}},
        {5, 0x100, 1, 2, "DB 0F 49 40", {"0A 00 10 90 05 01 00 37 4F 00 03 39"}},  // 3.14159265
        // Bytes beyond the values are ignored; a count below one still sends one.
        {1, 0x10, 1, 1, "34 12 FF FF", {"08 00 10 90 04 00 10 12 34 02"}},
        {1, 0x10, 1, 0, "34 12", {"08 00 10 90 04 00 10 12 34 02"}},
        {2, 0x20, 2, 1, "78 56 34 12 00", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        {2, 0x20, 2, -4, "78 56 34 12", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        // Several values go to consecutive addresses, whole values only.
        {1, 0x10, 1, 3, "34 12 78 56 BC 9A",
         {"08 00 10 90 04 00 10 12 34 02", "08 00 10 90 04 00 11 56 78 8B", "08 00 10 90 04 00 12 9A BC 14"}},
        {1, 0x10, 1, 3, "34 12 78 56 BC", {"08 00 10 90 04 00 10 12 34 02", "08 00 10 90 04 00 11 56 78 8B"}},
        {1, 0xFFFF, 1, 2, "01 00 02 00", {"08 00 10 90 04 FF FF 00 01 AB", "08 00 10 90 04 00 00 00 02 AE"}},
        {2, 0x20, 2, 4, "78 56 34 12 F0 DE BC 9A",
         {"0A 00 20 90 05 00 20 56 78 12 34 F3", "0A 00 20 90 05 00 22 DE F0 9A BC 05"}},
        {4, 0x20, 2, 5, "78 56 34 12 F0 DE BC 9A",
         {"0A 00 20 90 09 00 20 56 78 12 34 F7", "0A 00 20 90 09 00 22 DE F0 9A BC 09"}},
        {2, 0x20, 2, 4, "78 56 34 12 F0 DE", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        {5, 0x100, 1, 4, "00 00 48 41 00 00 50 C0",
         {"0A 00 10 90 05 01 00 00 05 00 0C C1", "0A 00 10 90 05 01 02 00 19 FF FD C7"}},
        // Nothing for too few bytes, bits that cannot be written, or areas of no frame.
        {1, 0x10, 1, 1, "", {}},   {3, 0x10, 1, 2, "34", {}},      {2, 0x20, 2, 2, "78 56 34", {}},
        {4, 0x20, 2, 4, "", {}},   {5, 0x100, 1, 2, "00 00 48", {}}, {0, 29, 1, 1, "", {}},
        {6, 0x10, 1, 1, "01 00", {}}, {-1, 0x10, 1, 1, "01 00", {}},
    };
    for (const auto &r : rows)
        expectFrames(WriteRegister, writeVar(r.areaCode, r.address, r.data, r.station, r.count), r.frames, 1, 0);
    for (int address : {0, 2, 11, 13, 24, 26, 27, 32, -1, 12 + 65536})
        expectFrames(WriteRegister, writeVar(0, address, "01"), {}, 1, 0);
    // The builders called directly agree with the dispatcher.
    PLC_driver.frameQueue.clear();
    RW_VAR v16 = writeVar(1, 0x10, "34 12"), v32 = writeVar(4, 0x20, "78 56 34 12", 2, 2);
    RW_VAR vf = writeVar(5, 0x100, "00 00 48 41", 1, 2), vb = writeVar(0, 29, "01");
    WriteAnalog_16(&v16);
    WriteAnalog_32(&v32);
    WriteAnalog_32FLOAT(&vf);
    WriteBool(&vb);
    EXPECT_EQ(queuedFrames(), (std::vector<std::string>{"08 00 10 90 04 00 10 12 34 02",
                                                        "0A 00 20 90 09 00 20 56 78 12 34 F7",
                                                        "0A 00 10 90 05 01 00 00 05 00 0C C1",
                                                        "0A 00 10 5C 00 70 95 FF EF 00 00 69"}));
}

TEST_F(Frames, RemoteRequests)
{
    const struct {
        int areaCode;
        const char *frame;
        int replyLength, dataLength;
    } reads[] = {
        {1, "16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 62", 13, 2},
        {3, "16 01 00 02 05 00 03 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 64", 13, 2},
        {2, "16 01 00 02 05 00 02 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 63", 15, 4},
        {0, "16 01 00 02 05 00 00 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 61", 15, 4},
        {5, "16 01 00 02 05 00 05 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 66", 15, 4},
    };
    for (const auto &r : reads) {
        // RW_VAR's fields in order; a read sends no data.
        const RW_VAR v{1, 0, 0, 0, 2, 0, "", "1234", r.areaCode, 0x1234, 5, 1, -1, 0, hex("01 02")};
        expectFrames(Remote_ReadVar, v, {r.frame}, r.replyLength, r.dataLength);
    }
    // Fields are cut to their width and sent in two's complement.
    const RW_VAR odd{0x1FF, 0, 0x101, 0, 0x102, 0, "", "", 0x12345, -2, 0x1FE, -1, -5, 0x7FFFFFFF, QByteArray()};
    expectFrames(Remote_ReadVar, odd, {"16 FF 01 02 FE 23 45 FF FF FF FE FF FF FF FF FF FB 7F FF FF FF EB"}, 15, 4);
    // Writes carry the value bytes; station 0 is a broadcast that nobody answers.
    RW_VAR w = writeVar(1, 0x10, "34 12", 0);
    w.ownerType = 3;
    expectFrames(Remote_WriteVar, w, {"18 03 01 00 00 00 01 00 00 00 10 00 01 00 00 00 00 00 00 00 00 34 12 74"}, 0, 0);
    w = writeVar(1, 0x10, "", 4);
    w.ownerType = 3;
    expectFrames(Remote_WriteVar, w, {"16 03 01 00 04 00 01 00 00 00 10 00 01 00 00 00 00 00 00 00 00 30"}, 8, 0);
    EXPECT_TRUE(callbacks().notifies.empty());
    // Long data wraps the length byte but not the sum, past 65535 bytes too.
    RW_VAR big = writeVar(2, 0x40, "", 1, 150);
    big.ownerType = 2;
    for (int length : {300, 70000}) {
        big.data.clear();
        for (int i = 0; i < length; ++i)
            big.data.append(char((i * 7) & 0xFF));
        PLC_driver.frameQueue.clear();
        Remote_WriteVar(&big);
        const QByteArray f = PLC_driver.frameQueue.first().frame;
        ASSERT_EQ(f.size(), length + 22);
        EXPECT_EQ(f.mid(21, length), big.data);
        EXPECT_EQ(f.at(0), char((length + 22) & 0xFF));
        const unsigned sum = std::accumulate(f.begin(), f.end() - 1, 0u, [](unsigned a, char c) { return a + uint8_t(c); });
        EXPECT_EQ(f.at(f.size() - 1), char(sum & 0xFF)) << length;
    }
}

TEST_F(Frames, NullVariableQueuesNothing)
{
    word(S::framesPerVar) = word(S::framesDone) = 9;
    for (auto build : {ReadRegister, ReadBool, ReadAnalog, WriteRegister, WriteBool, WriteAnalog_16, WriteAnalog_32,
                       WriteAnalog_32FLOAT, Remote_ReadVar, Remote_WriteVar})
        build(nullptr);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
    EXPECT_EQ(word(S::framesPerVar) + word(S::framesDone), 18);
    EXPECT_TRUE(callbacks().notifies.empty());
}

int queuedWhenNotified = -1, cachedWhenNotified = -1;

// Notes what the driver had done when it told the host; the list the host fills is discarded.
int noteState(QList<RW_VAR> *list, int, int)
{
    queuedWhenNotified = PLC_driver.frameQueue.size();
    cachedWhenNotified = PLC_driver.extendList.size();
    list->append(RW_VAR());
    return 0;
}

TEST_F(Frames, DispatcherNotifiesOnceThenCachesWhatIsSent)
{
    // The owner is told once per write, a frame or not.
    for (int area : {0, 1, 6, -1}) {
        callbacks().notifies.clear();
        RW_VAR v = writeVar(area, 29, "01 00");
        v.ownerType = 7 + area;
        WriteRegister(&v);
        ASSERT_EQ(callbacks().notifies.size(), 1u) << area;
        EXPECT_EQ(callbacks().notifies[0].ownerType, 7 + area);
        EXPECT_EQ(callbacks().notifies[0].one, 1);
    }
    // After the frames are queued, before the cache learns the value; nothing
    // is cached while the link is down.
    PLC_driver.ownerNotify = noteState;
    for (bool failed : {false, true}) {
        PLC_driver.extendList.clear();
        PLC_driver.frameQueue.clear();
        PLC_driver.commFailed = failed;
        RW_VAR v = writeVar(2, 0x20, "78 56 34 12 F0 DE BC 9A", 2, 4);
        WriteRegister(&v);
        EXPECT_EQ(queuedWhenNotified, 2);
        EXPECT_EQ(cachedWhenNotified, 0);
        EXPECT_EQ(cached(2, 2, 0x22), failed ? "absent" : "F0 DE BC 9A");
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
    // The cache never shows a value that no frame carries; a missing callback is skipped.
    PLC_driver.ownerNotify = nullptr;
    PLC_driver.commFailed = false;
    const struct {
        int area, address, count;
        const char *data, *first, *second;  // cached at address and address + 1
    } rows[] = {
        {0, 2, 1, "01", "absent", "absent"},      {0, 13, 1, "01", "absent", "absent"},
        {0, 28, 2, "01 01", "01", "absent"},       {1, 0x10, 2, "34", "absent", "absent"},
        {6, 0x10, 1, "34 12", "absent", "absent"}, {1, 0x10, 2, "34 12 78 56", "34 12", "78 56"},
    };
    for (const auto &r : rows) {
        PLC_driver.extendList.clear();
        RW_VAR v = writeVar(r.area, r.address, r.data, 1, r.count);
        WriteRegister(&v);
        EXPECT_EQ(cached(1, r.area, r.address) + "|" + cached(1, r.area, r.address + 1),
                  std::string(r.first) + "|" + r.second) << r.area << "/" << r.address;
    }
}

// Bytes 7 to 10 of a decimal-float write frame.
std::string wordsHex(float value)
{
    unsigned short fraction = 0xAAAA, integer = 0xAAAA;
    encodeDecimalFloat(value, &fraction, &integer);
    const char b[4] = {char(fraction >> 8), char(fraction & 0xFF), char(integer >> 8), char(integer & 0xFF)};
    return toHex(QByteArray(b, 4));
}

TEST(DecimalFloat, EncodingTable)
{
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float value;
        const char *text, *words;
    } rows[] = {
        {12.5f, "12.5", "00 05 00 0C"},       {12.05f, "12.05", "00 05 00 0C"},       {-3.25f, "-3.25", "00 19 FF FD"},
        {-0.5f, "-0.5", "00 05 00 00"},       {1.0f, "1", "00 00 00 01"},             {0.1f, "0.1", "00 01 00 00"},
        {0.0001f, "0.0001", "00 01 00 00"},   {3.14159265f, "3.14159", "37 4F 00 03"}, {100000.0f, "100000", "00 00 86 A0"},
        {1234567.0f, "1.23457e+06", "00 00 00 01"}, {0.000012f, "1.2e-05", "00 00 00 01"},
        {123456.7f, "123457", "00 00 E2 41"}, {1000000.0f, "1e+06", "00 00 00 00"},  {0.123457f, "0.123457", "E2 41 00 00"},
        {-40000.0f, "-40000", "00 00 63 C0"}, {0.0f, "0", "00 00 00 00"},             {-0.0f, "-0", "00 00 00 00"},
        {inf, "inf", "00 00 00 00"},          {-inf, "-inf", "00 00 00 00"},
        {std::numeric_limits<float>::quiet_NaN(), "nan", "00 00 00 00"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(formatG6(r.value).toStdString(), r.text);
        EXPECT_EQ(wordsHex(r.value), r.words) << r.text;
    }
    EXPECT_EQ(formatG6(123456.5).toStdString() + " " + formatG6(2.5e-5).toStdString(), "123456 2.5e-05")
        << "exact ties round to even, as printf does";
    unsigned short fraction = 1;
    encodeDecimalFloat(2.5f, &fraction, nullptr);  // either word may be left out
    encodeDecimalFloat(2.5f, nullptr, nullptr);
    EXPECT_EQ(fraction, 5);
}

TEST(DecimalFloat, Decoding)
{
    const struct {
        unsigned short fraction, integer;
        float value;
    } rows[] = {
        {5, 12, 12.5f},  {25, 3, 3.25f},         {0, 0, 0.0f},         {0, 1, 1.0f},
        {1, 0, 0.1f},    {14159, 3, 3.14159f},   {65535, 65535, 65535.65535f}, {123, 0x8000, 32768.123f},
    };
    for (const auto &r : rows)
        EXPECT_EQ(decodeDecimalFloat(r.fraction, r.integer), r.value) << r.integer << "." << r.fraction;
}

TEST_F(Frames, CommaDecimalLocaleLeavesDecimalFloatsUnchanged)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char *chosen = nullptr;
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        if (!chosen && std::setlocale(LC_NUMERIC, name))
            chosen = name;
    if (!chosen)
        GTEST_SKIP() << "no comma-decimal locale is installed (de_DE.UTF-8 or fr_FR.UTF-8)";
    char check[16];
    std::snprintf(check, sizeof check, "%.6g", 12.5);
    EXPECT_STREQ(check, "12,5") << "the locale must really be in force, or the test proves nothing";
    EXPECT_EQ(formatG6(12.5).toStdString(), "12.5");
    EXPECT_EQ(decodeDecimalFloat(5, 12), 12.5f);
    RW_VAR v = writeVar(5, 0x100, "D0 0F 49 40", 1, 2);  // 3.14159
    WriteAnalog_32FLOAT(&v);
    EXPECT_EQ(queuedFrames(), std::vector<std::string>{"0A 00 10 90 05 01 00 37 4F 00 03 39"}) << chosen;
    std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
