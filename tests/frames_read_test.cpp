// Read request builders: frames byte for byte, reply geometry, frame counters.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "frames/Func_Read.h"

using namespace marovin_test;

namespace {

class ReadFrames : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        word(MarovinSettings::framesPerVar) = 9;
        word(MarovinSettings::framesDone) = 9;
    }
};

struct AnalogRow {
    int station, areaCode, address;
    const char *frame;
    int replyLength, dataLength;
};

TEST_F(ReadFrames, OneRequestPerAreaCode)
{
    const AnalogRow rows[] = {
        {1, 1, 0x0010, "08 00 10 B0 04 00 11 00 10 ED", 13, 2},
        {0x12, 4, 0x0200, "08 01 20 B0 09 01 21 02 00 06", 15, 4},
        {3, 2, 0x1234, "08 00 30 B0 05 00 31 12 34 64", 15, 4},
        {3, 3, 0xABCD, "08 00 30 B0 08 00 31 AB CD 99", 13, 2},
        {3, 5, 0x0002, "08 00 30 B0 05 00 31 00 02 20", 15, 4},
        {7, 6, 0x0010, "08 00 70 00 01 00 71 00 10 FA", 15, 4},
        {7, -1, 0x0010, "08 00 70 00 01 00 71 00 10 FA", 15, 4},
        {7, -2147483647 - 1, 0x0010, "08 00 70 00 01 00 71 00 10 FA", 15, 4},
        // Only the low 8 bits of the station and 16 bits of the address are sent.
        {0x112, 1, 0x10010, "08 01 20 B0 04 01 21 00 10 0F", 13, 2},
        {15, 1, -1, "08 00 F0 B0 04 00 F1 FF FF 9B", 13, 2},
    };
    for (const AnalogRow &r : rows) {
        PLC_driver.frameQueue.clear();
        RW_VAR v = makeVar(r.areaCode, r.address, r.station, 7);
        ReadRegister(&v);
        ASSERT_EQ(PLC_driver.frameQueue.size(), 1) << r.frame;
        const Protocol &p = PLC_driver.frameQueue.first();
        EXPECT_EQ(toHex(p.frame), r.frame);
        EXPECT_EQ(p.requestLength, 10) << r.frame;
        EXPECT_EQ(p.replyLength, r.replyLength) << r.frame;
        EXPECT_EQ(p.dataOffset, 10) << r.frame;
        EXPECT_EQ(p.dataLength, r.dataLength) << r.frame;
        EXPECT_EQ(word(MarovinSettings::framesPerVar), 1);
        EXPECT_EQ(word(MarovinSettings::framesDone), 0);
    }
}

TEST_F(ReadFrames, StatusBitBlockIsFiveFixedRequests)
{
    const char *frames[5] = {
        "08 00 10 B0 05 00 11 70 95 E3", "08 00 10 B0 04 00 11 70 98 E5",
        "08 00 10 B0 04 00 11 70 9A E7", "08 00 10 B0 04 00 11 70 9C E9",
        "08 00 10 B0 04 00 11 70 9E EB",
    };
    const int replyLengths[5] = {15, 13, 13, 13, 13};
    // Address and count play no part.
    RW_VAR v = makeVar(0, 29, 1, 40);
    ReadRegister(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const Protocol &p = PLC_driver.frameQueue.at(i);
        EXPECT_EQ(toHex(p.frame), frames[i]) << i;
        EXPECT_EQ(p.requestLength, 10);
        EXPECT_EQ(p.replyLength, replyLengths[i]) << i;
        EXPECT_EQ(p.dataOffset, 10);
        EXPECT_EQ(p.dataLength, 4);
    }
    EXPECT_EQ(word(MarovinSettings::framesPerVar), 5);
    EXPECT_EQ(word(MarovinSettings::framesDone), 0);
}

TEST_F(ReadFrames, StatusBitBlockUsesTheStation)
{
    RW_VAR v = makeVar(0, 0, 0x12);
    ReadBool(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 5);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(0).frame), "08 01 20 B0 05 01 21 70 95 05");
}

TEST_F(ReadFrames, EachRecordCarriesAnUnchangedCopyOfTheVariable)
{
    RW_VAR v = makeVar(0, 0, 4, 3);
    v.ownerType = 5;
    v.ownerId = 6;
    v.accessMode = 2;
    v.remoteFlag = 1;
    v.linkNo = 3;
    v.status = 8;
    v.hostText = QStringLiteral("screen");
    v.remoteArg1 = -1;
    v.remoteArg2 = 11;
    v.data = hex("01 02 03");
    const RW_VAR before = v;
    ReadRegister(&v);
    v.areaCode = 2;
    ReadRegister(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const RW_VAR &c = PLC_driver.frameQueue.at(i).var;
        EXPECT_EQ(c.ownerType, 5);
        EXPECT_EQ(c.ownerId, 6);
        EXPECT_EQ(c.accessMode, 2);
        EXPECT_EQ(c.remoteFlag, 1);
        EXPECT_EQ(c.linkNo, 3);
        EXPECT_EQ(c.status, 8);
        EXPECT_EQ(c.hostText, before.hostText);
        EXPECT_EQ(c.addressText, before.addressText);
        EXPECT_EQ(c.areaCode, i < 5 ? 0 : 2);
        EXPECT_EQ(c.address, 0);
        EXPECT_EQ(c.station, 4);
        EXPECT_EQ(c.count, 3);
        EXPECT_EQ(c.remoteArg1, -1);
        EXPECT_EQ(c.remoteArg2, 11);
        EXPECT_EQ(c.data, before.data);
        EXPECT_EQ(PLC_driver.frameQueue.at(i).extra1, 0);
    }
    EXPECT_EQ(v.data, before.data);
}

TEST_F(ReadFrames, AppendsBehindQueuedRequests)
{
    Protocol earlier;
    earlier.frame = hex("AA");
    PLC_driver.frameQueue.append(earlier);
    RW_VAR v = makeVar(1, 0x10);
    ReadAnalog(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 2);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(0).frame), "AA");
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), "08 00 10 B0 04 00 11 00 10 ED");
}

TEST_F(ReadFrames, NullVariableQueuesNothing)
{
    ReadRegister(nullptr);
    ReadBool(nullptr);
    ReadAnalog(nullptr);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
    EXPECT_EQ(word(MarovinSettings::framesPerVar), 9);
    EXPECT_EQ(word(MarovinSettings::framesDone), 9);
}

}  // namespace
