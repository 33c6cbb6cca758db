// Remote-mode builders: the descriptor header, data, sum and reply geometry.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "frames/Func_Remote.h"

using namespace marovin_test;

namespace {

class RemoteFrames : public DriverTest {
protected:
    void SetUp() override
    {
        DriverTest::SetUp();
        word(MarovinSettings::framesPerVar) = 9;
        word(MarovinSettings::framesDone) = 9;
    }

    static RW_VAR sample(int areaCode)
    {
        RW_VAR v = makeVar(areaCode, 0x1234, 5, 1);
        v.ownerType = 1;
        v.accessMode = 0;
        v.linkNo = 2;
        v.remoteArg1 = -1;
        v.remoteArg2 = 0;
        return v;
    }
};

TEST_F(RemoteFrames, ReadRequests)
{
    const struct {
        int areaCode;
        const char *frame;
        int replyLength, dataLength;
    } rows[] = {
        {1, "16 01 00 02 05 00 01 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 62", 13, 2},
        {3, "16 01 00 02 05 00 03 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 64", 13, 2},
        {2, "16 01 00 02 05 00 02 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 63", 15, 4},
        {0, "16 01 00 02 05 00 00 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 61", 15, 4},
        {5, "16 01 00 02 05 00 05 00 00 12 34 00 01 FF FF FF FF 00 00 00 00 66", 15, 4},
    };
    for (const auto &r : rows) {
        PLC_driver.frameQueue.clear();
        RW_VAR v = sample(r.areaCode);
        v.data = hex("01 02");  // a read sends no data
        Remote_ReadVar(&v);
        ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
        const Protocol &p = PLC_driver.frameQueue.first();
        EXPECT_EQ(toHex(p.frame), r.frame);
        EXPECT_EQ(p.requestLength, 22);
        EXPECT_EQ(p.replyLength, r.replyLength) << r.areaCode;
        EXPECT_EQ(p.dataOffset, 10);
        EXPECT_EQ(p.dataLength, r.dataLength) << r.areaCode;
        EXPECT_EQ(p.var.remoteArg1, -1);
        EXPECT_EQ(p.var.data, v.data);
        EXPECT_EQ(word(MarovinSettings::framesPerVar), 1);
        EXPECT_EQ(word(MarovinSettings::framesDone), 0);
    }
}

TEST_F(RemoteFrames, FieldsAreCutToTheirWidthAndSentInTwosComplement)
{
    RW_VAR v;
    v.ownerType = 0x1FF;
    v.accessMode = 0x101;
    v.linkNo = 0x102;
    v.station = 0x1FE;
    v.areaCode = 0x12345;
    v.address = -2;
    v.count = -1;
    v.remoteArg1 = -5;
    v.remoteArg2 = 0x7FFFFFFF;
    Remote_ReadVar(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.first().frame),
              "16 FF 01 02 FE 23 45 FF FF FF FE FF FF FF FF FF FB 7F FF FF FF EB");
}

TEST_F(RemoteFrames, WriteRequests)
{
    const struct {
        int station;
        const char *data;
        const char *frame;
        int replyLength;
    } rows[] = {
        {0, "34 12", "18 03 01 00 00 00 01 00 00 00 10 00 01 00 00 00 00 00 00 00 00 34 12 74", 0},
        {4, "", "16 03 01 00 04 00 01 00 00 00 10 00 01 00 00 00 00 00 00 00 00 30", 8},
    };
    for (const auto &r : rows) {
        PLC_driver.frameQueue.clear();
        RW_VAR v = makeVar(1, 0x10, r.station, 1);
        v.ownerType = 3;
        v.accessMode = 1;
        v.data = hex(r.data);
        Remote_WriteVar(&v);
        ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
        const Protocol &p = PLC_driver.frameQueue.first();
        EXPECT_EQ(toHex(p.frame), r.frame);
        EXPECT_EQ(p.requestLength, p.frame.size());
        EXPECT_EQ(p.replyLength, r.replyLength);
        EXPECT_EQ(p.dataOffset, 0);
        EXPECT_EQ(p.dataLength, 0);
        EXPECT_EQ(p.var.data, v.data);
        EXPECT_EQ(word(MarovinSettings::framesPerVar), 1);
        EXPECT_EQ(word(MarovinSettings::framesDone), 0);
    }
    EXPECT_TRUE(callbacks().notifies.empty());
}

TEST_F(RemoteFrames, WriteUpdatesTheCacheWhateverTheLink)
{
    const bool states[] = {false, true};
    for (bool failed : states) {
        PLC_driver.commFailed = failed;
        RW_VAR v = makeVar(2, failed ? 0x30 : 0x20, 3, 2);
        v.data = hex("78 56 34 12");
        Remote_WriteVar(&v);
        bool found = false;
        for (const EXTENDVAR &e : PLC_driver.extendList) {
            if (e.station == 3 && e.areaCode == 2 && e.address == v.address) {
                found = true;
                EXPECT_EQ(toHex(e.data), "78 56 34 12") << failed;
            }
        }
        EXPECT_TRUE(found) << failed;
    }
    EXPECT_EQ(PLC_driver.frameQueue.size(), 2);
}

TEST_F(RemoteFrames, LongDataWrapsTheLengthByteButNotTheSum)
{
    RW_VAR v = makeVar(2, 0x40, 1, 150);
    v.ownerType = 2;
    v.accessMode = 1;
    for (int i = 0; i < 300; ++i)
        v.data.append(char((i * 7) & 0xFF));
    Remote_WriteVar(&v);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
    const Protocol &p = PLC_driver.frameQueue.first();
    ASSERT_EQ(p.frame.size(), 322);
    EXPECT_EQ(p.requestLength, 322);
    EXPECT_EQ(static_cast<unsigned char>(p.frame.at(0)), 0x42);
    EXPECT_EQ(p.frame.mid(21, 300), v.data);
    EXPECT_EQ(static_cast<unsigned char>(p.frame.at(321)), 0x7C);
}

TEST_F(RemoteFrames, NullVariableDoesNothing)
{
    Remote_ReadVar(nullptr);
    Remote_WriteVar(nullptr);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
    EXPECT_EQ(word(MarovinSettings::framesPerVar), 9);
    EXPECT_EQ(word(MarovinSettings::framesDone), 9);
}

}  // namespace
