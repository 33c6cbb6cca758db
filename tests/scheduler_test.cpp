// The request scheduler: priorities, five-in-a-row limits, repeats of a queued
// request and the idle turn.
#include <gtest/gtest.h>

#include <string>

#include "DriverFixture.h"
#include "Exchange.h"

using namespace marovin_test;

namespace {

class Scheduler : public DriverTest {
protected:
    void addWrite(int address)
    {
        RW_VAR v = makeVar(1, address);
        v.accessMode = 1;
        v.data = hex("34 12");
        PLC_driver.writeList.append(v);
    }
    void addOnceRead(int address)
    {
        RW_VAR v = makeVar(1, address);
        v.ownerType = 2;
        v.ownerId = address;
        PLC_driver.onceReadList.append(v);
    }
    void addRead(int address) { PLC_driver.readList.append(makeVar(1, address)); }

    // Letter per turn: W write, O once-read, R cyclic read, - idle.
    std::string turns(int n)
    {
        std::string out;
        for (int i = 0; i < n; ++i) {
            Protocol *p = ComCommunication();
            if (!p) {
                out += '-';
                continue;
            }
            out += PLC_driver.phase == 1 ? 'W' : PLC_driver.phase == 2 ? 'O' : 'R';
            QByteArray reply = goodReply(*p);
            EXPECT_EQ(DataCom(&reply, reply.size())->status, 1) << out;
        }
        return out;
    }
};

TEST_F(Scheduler, IdleTurnWhenAllListsEmpty)
{
    PLC_driver.writeBurst = 3;
    PLC_driver.onceBurst = 5;
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(PLC_driver.writeBurst, 0);
    EXPECT_EQ(PLC_driver.onceBurst, 0);
    EXPECT_EQ(word(MarovinSettings::finishFlag), 1);
}

TEST_F(Scheduler, QueuedRequestIsHandedOutAgainWithoutBuilding)
{
    addRead(0x10);
    addRead(0x11);
    Protocol *first = ComCommunication();
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ComCommunication(), first);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
    EXPECT_EQ(first->var.address, 0x10);
}

TEST_F(Scheduler, WritesAndOnceReadsWithoutCyclicReads)
{
    for (int i = 0; i < 12; ++i) {
        addWrite(0x100 + i);
        addOnceRead(0x200 + i);
    }
    EXPECT_EQ(turns(14), "WWWWWOOOOO-WWW");
}

TEST_F(Scheduler, WritesInterleaveWithOneCyclicRead)
{
    for (int i = 0; i < 12; ++i)
        addWrite(0x100 + i);
    addRead(0x10);
    EXPECT_EQ(turns(15), "WWWWWRWWWWWRWWR");
}

TEST_F(Scheduler, AllThreeLists)
{
    for (int i = 0; i < 7; ++i) {
        addWrite(0x100 + i);
        addOnceRead(0x200 + i);
    }
    addRead(0x10);
    EXPECT_EQ(turns(16), "WWWWWOOOOORWWOOR");
}

TEST_F(Scheduler, StatusBlockIsWorkedOffBeforeAnythingElse)
{
    PLC_driver.readList.append(makeVar(0, 2));
    addWrite(0x100);
    Protocol *p = ComCommunication();  // the write goes first
    ASSERT_NE(p, nullptr);
    QByteArray ack("O");
    DataCom(&ack, 1);

    p = ComCommunication();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 5);
    addWrite(0x101);
    for (int i = 0; i < 5; ++i) {
        p = ComCommunication();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->var.areaCode, 0) << "request " << i;
        EXPECT_EQ(PLC_driver.frameQueue.size(), 5 - i);
        QByteArray reply = goodReply(*p);
        DataCom(&reply, reply.size());
    }
    p = ComCommunication();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->var.address, 0x101);
}

TEST_F(Scheduler, RemoteModeUsesDescriptorFrames)
{
    word(MarovinSettings::remoteMode) = 1;
    addWrite(0x100);
    addOnceRead(0x200);
    addRead(0x10);
    for (int expectedPhase : {1, 2, 0}) {
        Protocol *p = ComCommunication();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(PLC_driver.phase, expectedPhase);
        EXPECT_EQ(static_cast<unsigned char>(p->frame[0]), p->requestLength) << "byte 0 is the total length";
        EXPECT_GE(p->requestLength, 22);
        QByteArray reply = goodReply(*p);
        DataCom(&reply, reply.size());
    }
}

// A write that no frame can carry must not block the writes behind it.
TEST_F(Scheduler, UnsendableWriteLeavesItsList)
{
    RW_VAR bad = makeVar(6, 0x10);
    bad.accessMode = 1;
    bad.ownerType = 9;
    bad.data = hex("01 00");
    PLC_driver.writeList.append(bad);
    addWrite(0x100);

    EXPECT_EQ(ComCommunication(), nullptr);
    ASSERT_EQ(callbacks().notifies.size(), 1u);
    EXPECT_EQ(callbacks().notifies[0].ownerType, 9);
    ASSERT_EQ(PLC_driver.writeList.size(), 1);

    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->var.address, 0x100);
}

TEST_F(Scheduler, NothingWithoutSettingsRecord)
{
    addRead(0x10);
    SetComInfo(nullptr);
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
}

}  // namespace
