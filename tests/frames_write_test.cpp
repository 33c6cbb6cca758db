// Write dispatcher and write builders: frames byte for byte, one frame per
// value, refusals, the host notice.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DriverFixture.h"
#include "data/CacheIndex.h"
#include "frames/Func_Write.h"

using namespace marovin_test;

namespace {

QByteArray floatBytes(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((bits >> (8 * i)) & 0xFF));
    return out;
}

void resetCacheIndex()
{
    PLC_driver.cacheIndex->positions.clear();
    PLC_driver.cacheIndex->indexed = 0;
}

std::vector<std::string> queuedFrames()
{
    std::vector<std::string> out;
    for (const Protocol &p : PLC_driver.frameQueue)
        out.push_back(toHex(p.frame));
    return out;
}

class WriteFrames : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        word(MarovinSettings::framesPerVar) = 9;
        word(MarovinSettings::framesDone) = 9;
    }

    void expectNothingQueued(const std::string &what)
    {
        EXPECT_TRUE(PLC_driver.frameQueue.isEmpty()) << what;
        EXPECT_EQ(word(MarovinSettings::framesPerVar), 9) << what;
        EXPECT_EQ(word(MarovinSettings::framesDone), 9) << what;
    }
};

struct BitRow {
    int address, station;
    const char *data;
    const char *frame;
};

TEST_F(WriteFrames, BitWrites)
{
    const BitRow rows[] = {
        {29, 1, "01", "0A 00 10 5C 00 70 95 FF EF 00 00 69"},
        {12, 3, "00", "0A 00 30 5C 00 70 9A FF FF 00 10 AE"},
        {25, 0x12, "01", "0A 01 20 5C 00 70 95 FF FE 00 00 89"},
        {28, 1, "01", "0A 00 10 5C 00 70 95 FF F7 00 00 71"},
        {30, 1, "01", "0A 00 10 5C 00 70 95 FF DF 00 00 59"},
        // Only the first byte counts, and only exactly 1 sets the bit.
        {29, 1, "01 00", "0A 00 10 5C 00 70 95 FF EF 00 00 69"},
        {29, 1, "02", "0A 00 10 5C 00 70 95 FF FF 00 10 89"},
        {29, 1, "FF", "0A 00 10 5C 00 70 95 FF FF 00 10 89"},
        {29, 1, "00 01", "0A 00 10 5C 00 70 95 FF FF 00 10 89"},
        // Station 300 goes out as 0x2C.
        {31, 300, "00", "0A 02 C0 5C 00 70 95 FF FF 00 40 6B"},
    };
    for (const BitRow &r : rows) {
        PLC_driver.frameQueue.clear();
        word(MarovinSettings::framesPerVar) = 9;
        word(MarovinSettings::framesDone) = 9;
        RW_VAR v = makeVar(0, r.address, r.station);
        v.data = hex(r.data);
        WriteBool(&v);
        ASSERT_EQ(PLC_driver.frameQueue.size(), 1) << r.frame;
        const Protocol &p = PLC_driver.frameQueue.first();
        EXPECT_EQ(toHex(p.frame), r.frame);
        EXPECT_EQ(p.requestLength, 12);
        EXPECT_EQ(p.replyLength, 1);
        EXPECT_EQ(p.dataOffset, 0);
        EXPECT_EQ(p.dataLength, 0);
        EXPECT_EQ(p.var.data, v.data);
        EXPECT_EQ(word(MarovinSettings::framesPerVar), 1);
        EXPECT_EQ(word(MarovinSettings::framesDone), 0);
    }
}

TEST_F(WriteFrames, BitWritesRefusedOutsideTheWritableSetOrWithoutData)
{
    const int refused[] = {0, 11, 13, 24, 26, 27, 32, -1, 12 + 65536};
    for (int address : refused) {
        RW_VAR v = makeVar(0, address);
        v.data = hex("01");
        WriteBool(&v);
        expectNothingQueued("address " + std::to_string(address));
    }
    RW_VAR empty = makeVar(0, 29);
    WriteBool(&empty);
    expectNothingQueued("empty data");
}

struct WordRow {
    int areaCode, address, station, count;
    const char *data;
    std::vector<std::string> frames;
};

TEST_F(WriteFrames, WordWritesOneFramePerValue)
{
    const WordRow rows[] = {
        {1, 0x10, 1, 1, "34 12", {"08 00 10 90 04 00 10 12 34 02"}},
        {3, 0x10, 1, 1, "34 12", {"08 00 10 90 08 00 10 12 34 06"}},
        {2, 0x20, 2, 2, "78 56 34 12", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        {4, 0x20, 2, 2, "78 56 34 12", {"0A 00 20 90 09 00 20 56 78 12 34 F7"}},
        {5, 0x100, 1, 2, "00 00 48 41", {"0A 00 10 90 05 01 00 00 05 00 0C C1"}},
        // Bytes beyond the values are ignored; a count below one still sends one.
        {1, 0x10, 1, 1, "34 12 FF FF", {"08 00 10 90 04 00 10 12 34 02"}},
        {1, 0x10, 1, 0, "34 12", {"08 00 10 90 04 00 10 12 34 02"}},
        {2, 0x20, 2, 1, "78 56 34 12 00", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        {2, 0x20, 2, -4, "78 56 34 12", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        // Several values go to consecutive addresses.
        {1, 0x10, 1, 3, "34 12 78 56 BC 9A",
         {"08 00 10 90 04 00 10 12 34 02", "08 00 10 90 04 00 11 56 78 8B",
          "08 00 10 90 04 00 12 9A BC 14"}},
        {1, 0x10, 1, 3, "34 12 78 56 BC",
         {"08 00 10 90 04 00 10 12 34 02", "08 00 10 90 04 00 11 56 78 8B"}},
        {1, 0xFFFF, 1, 2, "01 00 02 00",
         {"08 00 10 90 04 FF FF 00 01 AB", "08 00 10 90 04 00 00 00 02 AE"}},
        {2, 0x20, 2, 4, "78 56 34 12 F0 DE BC 9A",
         {"0A 00 20 90 05 00 20 56 78 12 34 F3", "0A 00 20 90 05 00 22 DE F0 9A BC 05"}},
        {2, 0x20, 2, 5, "78 56 34 12 F0 DE BC 9A",
         {"0A 00 20 90 05 00 20 56 78 12 34 F3", "0A 00 20 90 05 00 22 DE F0 9A BC 05"}},
        {2, 0x20, 2, 4, "78 56 34 12 F0 DE", {"0A 00 20 90 05 00 20 56 78 12 34 F3"}},
        {5, 0x100, 1, 4, "00 00 48 41 00 00 50 C0",
         {"0A 00 10 90 05 01 00 00 05 00 0C C1", "0A 00 10 90 05 01 02 00 19 FF FD C7"}},
    };
    for (const WordRow &r : rows) {
        PLC_driver.frameQueue.clear();
        word(MarovinSettings::framesPerVar) = 9;
        word(MarovinSettings::framesDone) = 9;
        RW_VAR v = makeVar(r.areaCode, r.address, r.station, r.count);
        v.accessMode = 1;
        v.ownerType = 3;
        v.data = hex(r.data);
        WriteRegister(&v);
        const std::string label = std::string(r.data) + " count " + std::to_string(r.count);
        EXPECT_EQ(queuedFrames(), r.frames) << label;
        const int requestLength = r.areaCode == 1 || r.areaCode == 3 ? 10 : 12;
        for (const Protocol &p : PLC_driver.frameQueue) {
            EXPECT_EQ(p.requestLength, requestLength) << label;
            EXPECT_EQ(p.replyLength, 1) << label;
            EXPECT_EQ(p.dataOffset, 0) << label;
            EXPECT_EQ(p.dataLength, 0) << label;
            EXPECT_EQ(p.var.address, r.address) << label;
            EXPECT_EQ(p.var.count, r.count) << label;
            EXPECT_EQ(p.var.data, v.data) << label;
            EXPECT_EQ(p.var.ownerType, 3) << label;
            EXPECT_EQ(p.var.accessMode, 1) << label;
        }
        EXPECT_EQ(word(MarovinSettings::framesPerVar), int(r.frames.size())) << label;
        EXPECT_EQ(word(MarovinSettings::framesDone), 0) << label;
    }
}

TEST_F(WriteFrames, WordWritesWithTooFewBytesQueueNothing)
{
    const WordRow rows[] = {
        {1, 0x10, 1, 1, "", {}},
        {3, 0x10, 1, 2, "34", {}},
        {2, 0x20, 2, 2, "78 56 34", {}},
        {4, 0x20, 2, 4, "", {}},
        {5, 0x100, 1, 2, "00 00 48", {}},
    };
    for (const WordRow &r : rows) {
        RW_VAR v = makeVar(r.areaCode, r.address, r.station, r.count);
        v.data = hex(r.data);
        WriteRegister(&v);
        expectNothingQueued(std::string("area ") + std::to_string(r.areaCode) + " data " + r.data);
    }
}

TEST_F(WriteFrames, BuildersCalledDirectlyAgree)
{
    RW_VAR v16 = makeVar(1, 0x10);
    v16.data = hex("34 12");
    WriteAnalog_16(&v16);
    RW_VAR v32 = makeVar(4, 0x20, 2, 2);
    v32.data = hex("78 56 34 12");
    WriteAnalog_32(&v32);
    RW_VAR vf = makeVar(5, 0x100, 1, 2);
    vf.data = floatBytes(3.14159265f);
    WriteAnalog_32FLOAT(&vf);
    const std::vector<std::string> expected = {
        "08 00 10 90 04 00 10 12 34 02",
        "0A 00 20 90 09 00 20 56 78 12 34 F7",
        "0A 00 10 90 05 01 00 37 4F 00 03 39",
    };
    EXPECT_EQ(queuedFrames(), expected);
    EXPECT_EQ(word(MarovinSettings::framesPerVar), 1);
}

TEST_F(WriteFrames, NullVariableDoesNothing)
{
    WriteRegister(nullptr);
    WriteBool(nullptr);
    WriteAnalog_16(nullptr);
    WriteAnalog_32(nullptr);
    WriteAnalog_32FLOAT(nullptr);
    expectNothingQueued("null");
    EXPECT_TRUE(callbacks().notifies.empty());
}

TEST_F(WriteFrames, OwnerIsNotifiedOncePerWriteEvenWithoutAFrame)
{
    const int areas[] = {0, 1, 6, -1};
    for (int area : areas) {
        callbacks().notifies.clear();
        PLC_driver.frameQueue.clear();
        RW_VAR v = makeVar(area, 29);
        v.ownerType = 7 + area;
        v.data = hex("01 00");
        WriteRegister(&v);
        ASSERT_EQ(callbacks().notifies.size(), 1u) << area;
        EXPECT_EQ(callbacks().notifies[0].ownerType, 7 + area);
        EXPECT_EQ(callbacks().notifies[0].one, 1);
        EXPECT_EQ(PLC_driver.frameQueue.size(), area == 0 || area == 1 ? 1 : 0) << area;
    }
}

int queuedWhenNotified = -1;

int notedQueueSize(QList<RW_VAR> *list, int, int)
{
    queuedWhenNotified = PLC_driver.frameQueue.size();
    // Whatever the host leaves in the list is discarded.
    list->append(RW_VAR());
    return 0;
}

TEST_F(WriteFrames, NoticeFollowsTheQueuedFrame)
{
    PLC_driver.ownerNotify = notedQueueSize;
    RW_VAR v = makeVar(2, 0x20, 2, 4);
    v.data = hex("78 56 34 12 F0 DE BC 9A");
    WriteRegister(&v);
    EXPECT_EQ(queuedWhenNotified, 2);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 2);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
}

TEST_F(WriteFrames, MissingCallbackIsSkipped)
{
    PLC_driver.ownerNotify = nullptr;
    RW_VAR v = makeVar(1, 0x10);
    v.data = hex("34 12");
    WriteRegister(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.first().frame), "08 00 10 90 04 00 10 12 34 02");
}

// The cached bytes of a key, or "none" when the cache has no entry for it.
std::string cachedHex(int station, int areaCode, int address)
{
    for (const EXTENDVAR &e : PLC_driver.extendList) {
        if (e.station == station && e.areaCode == areaCode && e.address == address)
            return toHex(e.data);
    }
    return "none";
}

int cachedWhenNotified = -1;

int notedCacheSize(QList<RW_VAR> *, int, int)
{
    cachedWhenNotified = PLC_driver.extendList.size();
    return 0;
}

TEST_F(WriteFrames, CacheLearnsTheValueAfterTheNoticeUnlessTheLinkFailed)
{
    PLC_driver.ownerNotify = notedCacheSize;
    const struct {
        bool failed;
        const char *expected;
    } rows[] = {{false, "34 12"}, {true, "none"}};
    for (const auto &r : rows) {
        PLC_driver.extendList.clear();
        resetCacheIndex();
        PLC_driver.frameQueue.clear();
        cachedWhenNotified = -1;
        PLC_driver.commFailed = r.failed;
        RW_VAR v = makeVar(1, 0x10, 2, 1);
        v.data = hex("34 12");
        WriteRegister(&v);
        EXPECT_EQ(cachedWhenNotified, 0) << r.failed;
        EXPECT_EQ(cachedHex(2, 1, 0x10), r.expected) << r.failed;
        EXPECT_EQ(PLC_driver.frameQueue.size(), 1) << r.failed;
    }
}

// The cache must never show a value that no frame carries to the PLC.
TEST_F(WriteFrames, CacheLearnsOnlyWhatIsSent)
{
    const struct {
        int area, address, count;
        const char *data;
        const char *cachedFirst;   // entry at `address`
        const char *cachedSecond;  // entry at `address` + 1
    } rows[] = {
        {0, 2, 1, "01", "none", "none"},        // read-only bit: no frame
        {0, 13, 1, "01", "none", "none"},       // no such bit
        {0, 28, 2, "01 01", "01", "none"},      // a bit frame carries one bit
        {1, 0x10, 2, "34", "none", "none"},     // too few bytes for a word
        {6, 0x10, 1, "34 12", "none", "none"},  // no frame for this area
    };
    for (const auto &r : rows) {
        PLC_driver.extendList.clear();
        resetCacheIndex();
        PLC_driver.frameQueue.clear();
        PLC_driver.commFailed = false;
        RW_VAR v = makeVar(r.area, r.address, 1, r.count);
        v.data = hex(r.data);
        WriteRegister(&v);
        EXPECT_EQ(cachedHex(1, r.area, r.address), r.cachedFirst) << r.area << "/" << r.address;
        EXPECT_EQ(cachedHex(1, r.area, r.address + 1), r.cachedSecond) << r.area << "/" << r.address;
    }
}

}  // namespace
