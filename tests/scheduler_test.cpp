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
    void add(int writes, int onceReads, int reads)
    {
        for (int i = 0; i < writes; ++i)
            PLC_driver.writeList << writeVar(1, 0x100 + i, "34 12");
        for (int i = 0; i < onceReads; ++i) {
            RW_VAR v = makeVar(1, 0x200 + i);
            v.ownerType = 2;
            v.ownerId = i;
            PLC_driver.onceReadList << v;
        }
        for (int i = 0; i < reads; ++i)
            PLC_driver.readList << makeVar(1, 0x10 + i);
    }

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

TEST_F(Scheduler, PrioritiesAndFiveInARow)
{
    const struct {
        int writes, onceReads, reads;
        const char *turns;
    } rows[] = {
        {12, 12, 0, "WWWWWOOOOO-WWW"},
        {12, 0, 1, "WWWWWRWWWWWRWWR"},
        {7, 7, 1, "WWWWWOOOOORWWOOR"},
        {0, 7, 2, "OOOOOROORR"},
        {0, 0, 0, "--"},
    };
    for (const auto &r : rows) {
        resetDriver();
        SetComInfo(settings);
        add(r.writes, r.onceReads, r.reads);
        EXPECT_EQ(turns(static_cast<int>(std::string(r.turns).size())), r.turns);
    }
    // The idle turn ends a cycle and both bursts.
    PLC_driver.writeBurst = 3;
    PLC_driver.onceBurst = 5;
    word(MarovinSettings::finishFlag) = 0;
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(PLC_driver.writeBurst + PLC_driver.onceBurst, 0);
    EXPECT_EQ(word(MarovinSettings::finishFlag), 1);
}

TEST_F(Scheduler, QueuedRequestsAreHandedOutAgainUntilAnswered)
{
    add(0, 0, 2);
    Protocol *first = ComCommunication();
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ComCommunication(), first);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
    EXPECT_EQ(first->var.address, 0x10);
    EXPECT_EQ(exchangeWith(goodReply(*first)), 1);

    // The status block is worked off before a write that came meanwhile.
    PLC_driver.readList.prepend(makeVar(0, 2));
    EXPECT_NE(ComCommunication(), nullptr);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 5);
    add(1, 0, 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(PLC_driver.frameQueue.size(), 5 - i);
        EXPECT_EQ(ComCommunication()->var.areaCode, 0) << "request " << i;
        EXPECT_EQ(exchangeGood(), 1);
    }
    EXPECT_EQ(ComCommunication()->var.address, 0x100);
}

TEST_F(Scheduler, RemoteModeUsesDescriptorFrames)
{
    word(MarovinSettings::remoteMode) = 1;
    add(1, 1, 1);
    for (int phase : {1, 2, 0}) {
        Protocol *p = ComCommunication();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(PLC_driver.phase, phase);
        EXPECT_EQ(static_cast<unsigned char>(p->frame[0]), p->requestLength) << "byte 0 is the total length";
        EXPECT_GE(p->requestLength, 22);
        EXPECT_EQ(exchangeWith(goodReply(*p)), 1);
    }
}

// A write that no frame can carry leaves its list: it must not block the
// writes behind it.
TEST_F(Scheduler, UnsendableWritesLeaveTheirList)
{
    const struct {
        const char *what;
        int areaCode, address;
        const char *data;
    } rows[] = {
        {"area of no frame", 9, 0x10, "01 02"}, {"negative area", -1, 0x10, "01 02"},
        {"no value bytes", 1, 0x10, ""},        {"half a 32-bit value", 2, 0x10, "01 02"},
        {"read-only status bit", 0, 2, "01"},   {"no such status bit", 0, 13, "01"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        PLC_driver.writeList.clear();
        PLC_driver.writeBurst = 0;
        callbacks().notifies.clear();
        RW_VAR bad = writeVar(r.areaCode, r.address, r.data);
        bad.ownerType = 9;
        PLC_driver.writeList << bad << writeVar(1, 0x40, "05 00");
        EXPECT_EQ(ComCommunication(), nullptr) << "nothing to send for the bad write";
        ASSERT_EQ(callbacks().notifies.size(), 1u);
        EXPECT_EQ(callbacks().notifies[0].ownerType, 9);
        EXPECT_EQ(exchangeGood(), 1) << "the write behind it goes out";
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
}

}  // namespace
