// Reply processing: status codes, repeats, give-ups, list advance, callbacks.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/marovin_core.h"

using namespace marovin_test;
using namespace MarovinSettings;

namespace {

class Reply : public DriverTest {
protected:
    RW_VAR readVar(int area, int address, int station = 1)
    {
        RW_VAR v = makeVar(area, address, station);
        v.ownerId = -1;
        return v;
    }
    RW_VAR onceVar(int address, int ownerType, int ownerId, int station = 1)
    {
        RW_VAR v = makeVar(1, address, station);
        v.ownerType = ownerType;
        v.ownerId = ownerId;
        return v;
    }
    RW_VAR writeVar(int address, int station = 1)
    {
        RW_VAR v = makeVar(1, address, station);
        v.accessMode = 1;
        v.data = hex("34 12");
        return v;
    }
    QByteArray cached(int station, int area, int address)
    {
        for (const EXTENDVAR &e : PLC_driver.extendList)
            if (e.station == station && e.areaCode == area && e.address == address)
                return e.data;
        return QByteArray();
    }
};

TEST_F(Reply, EmptyQueueKeepsLastResult)
{
    PLC_driver.readList.append(readVar(1, 0x10));
    ASSERT_EQ(exchangeGood(), 1);
    const RW_VAR *r = DataCom(nullptr, 0);
    EXPECT_EQ(r, &PLC_driver.result);
    EXPECT_EQ(r->status, 1);
    EXPECT_EQ(r->address, 0x10);
    EXPECT_TRUE(r->data.isEmpty());
}

TEST_F(Reply, MultiRequestVariableAdvancesOnlyAtItsLastReply)
{
    PLC_driver.readList.append(readVar(0, 2));
    PLC_driver.readList.append(readVar(1, 0x10));
    PLC_driver.result.address = 4242;
    for (int i = 0; i < 5; ++i) {
        Protocol *p = ComCommunication();
        ASSERT_NE(p, nullptr);
        QByteArray reply = goodReply(*p);
        const RW_VAR *r = DataCom(&reply, reply.size());
        EXPECT_EQ(r->status, 1);
        EXPECT_EQ(word(framesDone), i + 1);
        if (i < 4) {
            EXPECT_EQ(r->address, 4242) << "result untouched before the last reply";
            EXPECT_EQ(PLC_driver.readList.first().areaCode, 0);
        }
    }
    EXPECT_EQ(PLC_driver.result.areaCode, 0);
    EXPECT_EQ(PLC_driver.readList.first().areaCode, 1) << "the status block moved to the end";
}

TEST_F(Reply, RepeatsThenGivesUp)
{
    word(retryLimit) = 2;
    PLC_driver.readList.append(readVar(1, 0x10));
    PLC_driver.readList.append(readVar(1, 0x11));
    Protocol *first = ComCommunication();
    EXPECT_EQ(DataCom(nullptr, 0)->status, 0);
    EXPECT_EQ(ComCommunication(), first);
    EXPECT_EQ(DataCom(nullptr, 0)->status, 0);
    EXPECT_EQ(word(retryCount), 2);
    const RW_VAR *r = DataCom(nullptr, 0);
    EXPECT_EQ(r->status, 41);
    EXPECT_EQ(r->address, 0x10);
    EXPECT_EQ(word(retryCount), 0);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
    EXPECT_EQ(PLC_driver.readList.first().address, 0x11);
    ASSERT_EQ(callbacks().notifies.size(), 1u);
    EXPECT_EQ(callbacks().notifies[0].one, 1);
}

TEST_F(Reply, ErrorCodesByKindAndOwner)
{
    word(retryLimit) = 0;
    struct Row {
        int ownerType;
        const char *reply;  // 13-byte replies are completed with their sum unless "bad"
        int expected;
    } rows[] = {
        {3, "", 44},
        {3, "00 00 00 00 00 00 00 00 00 00 00 00", 74},
        {3, "0B 00 00 00 00 00 00 00 00 00 12 34 00", 14},
        {0, "", 41},
        {12, "00 00 00 00 00 00 00 00 00 00 00 00", 71},
        {0, "0B 00 00 00 00 00 00 00 00 00 12 34 00", 11},
        {11, "", 52},
        {-5, "", 41},
    };
    for (const Row &row : rows) {
        RW_VAR v = readVar(1, 0x10);
        v.ownerType = row.ownerType;
        PLC_driver.readList.clear();
        PLC_driver.readList.append(v);
        EXPECT_EQ(exchangeWith(hex(row.reply)), row.expected) << row.ownerType << " " << row.reply;
    }
}

TEST_F(Reply, AnyLengthAcceptedWhenRequestSaysSo)
{
    Protocol p;
    p.replyLength = -1;
    p.dataOffset = 10;
    p.dataLength = 2;
    p.var = readVar(1, 0x10);
    PLC_driver.frameQueue.append(p);
    word(framesPerVar) = 1;
    QByteArray reply = hex("00 00 00 00 00 00 00 00 00 00 12 34 00 00 00 00 00 00 00");
    fixSum(reply);
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 1);
    EXPECT_EQ(toHex(cached(1, 1, 0x10)), "34 12");
}

TEST_F(Reply, StoredValueEndToEnd)
{
    PLC_driver.readList.append(readVar(2, 0x20));
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    QByteArray reply = goodReply(*p, hex("56 78 12 34"));
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 1);
    EXPECT_EQ(toHex(cached(1, 2, 0x20)), "78 56 34 12");
}

TEST_F(Reply, RemoteReplyAcceptedWithoutStoring)
{
    RW_VAR v = readVar(1, 0x10);
    v.linkNo = 3;  // not the local link
    PLC_driver.readList.append(v);
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    QByteArray reply = goodReply(*p, hex("12 34"));
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 100);
    EXPECT_TRUE(cached(1, 1, 0x10).isEmpty());

    word(retryLimit) = 0;
    p = ComCommunication();
    EXPECT_EQ(DataCom(nullptr, 0)->status, 141);
    p = ComCommunication();
    QByteArray shortReply = hex("00 00 00");
    EXPECT_EQ(DataCom(&shortReply, 3)->status, 171);
}

TEST_F(Reply, RemoteReplyStoredWhenVariableAsksForIt)
{
    RW_VAR v = readVar(1, 0x10);
    v.linkNo = 3;
    v.remoteArg1 = -1;
    PLC_driver.readList.append(v);
    Protocol *p = ComCommunication();
    QByteArray reply = goodReply(*p, hex("12 34"));
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 1);
    EXPECT_EQ(toHex(cached(1, 1, 0x10)), "34 12");
}

TEST_F(Reply, GiveUpDropsOnlyThatStationsPendingEntries)
{
    word(retryLimit) = 0;
    PLC_driver.readList.append(readVar(1, 0x10, 2));
    PLC_driver.writeList.append(writeVar(0x1, 1));
    PLC_driver.writeList.append(writeVar(0x2, 2));
    PLC_driver.writeList.append(writeVar(0x3, 3));
    PLC_driver.writeList.append(writeVar(0x4, 1));
    PLC_driver.onceReadList.append(onceVar(0x5, 1, 1, 2));
    PLC_driver.onceReadList.append(onceVar(0x6, 1, 2, 1));
    PLC_driver.writeBurst = 5;  // let the cyclic read go first
    PLC_driver.onceBurst = 5;

    EXPECT_EQ(exchangeWith(QByteArray()), 41);
    ASSERT_EQ(PLC_driver.writeList.size(), 3);
    EXPECT_EQ(PLC_driver.writeList[0].address, 0x1);
    EXPECT_EQ(PLC_driver.writeList[1].address, 0x3);
    EXPECT_EQ(PLC_driver.writeList[2].address, 0x4);
    ASSERT_EQ(PLC_driver.onceReadList.size(), 1);
    EXPECT_EQ(PLC_driver.onceReadList[0].address, 0x6);
}

TEST_F(Reply, GiveUpInSingleStationOperationEmptiesBothLists)
{
    word(retryLimit) = 0;
    word(multiStation) = 0;
    PLC_driver.readList.append(readVar(1, 0x10));
    PLC_driver.writeList.append(writeVar(0x1, 4));
    PLC_driver.onceReadList.append(onceVar(0x5, 1, 1, 9));
    PLC_driver.writeBurst = 5;
    PLC_driver.onceBurst = 5;
    EXPECT_EQ(exchangeWith(QByteArray()), 41);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    EXPECT_TRUE(PLC_driver.onceReadList.isEmpty());
}

TEST_F(Reply, OnceReadDoneAfterRequestersLastEntry)
{
    PLC_driver.onceReadList.append(onceVar(0x10, 4, 7));
    PLC_driver.onceReadList.append(onceVar(0x11, 5, 7));
    PLC_driver.onceReadList.append(onceVar(0x12, 4, 7));
    EXPECT_EQ(exchangeGood(), 1);
    EXPECT_TRUE(callbacks().onceReads.empty());
    EXPECT_EQ(exchangeGood(), 1);
    ASSERT_EQ(callbacks().onceReads.size(), 1u);
    EXPECT_EQ(callbacks().onceReads[0].ownerType, 5);
    EXPECT_EQ(exchangeGood(), 1);
    ASSERT_EQ(callbacks().onceReads.size(), 2u);
    const Callbacks::OnceRead &done = callbacks().onceReads[1];
    EXPECT_EQ(done.context, 77);
    EXPECT_EQ(done.ownerType, 4);
    EXPECT_EQ(done.ownerId, 7);
    EXPECT_EQ(done.outcome, 1);
}

// A give-up must not leave requesters of dropped once-reads waiting forever.
TEST_F(Reply, GiveUpTellsRequestersOfDroppedOnceReads)
{
    word(retryLimit) = 0;
    PLC_driver.onceReadList.append(onceVar(0x10, 4, 7));
    PLC_driver.onceReadList.append(onceVar(0x11, 4, 7));  // same requester, dropped
    PLC_driver.onceReadList.append(onceVar(0x12, 6, 1));  // another requester, dropped
    PLC_driver.onceReadList.append(onceVar(0x13, 6, 1));
    PLC_driver.onceReadList.append(onceVar(0x14, 8, 1, 2));  // other station, stays

    EXPECT_EQ(exchangeWith(QByteArray()), 45);
    ASSERT_EQ(callbacks().onceReads.size(), 2u);
    EXPECT_EQ(callbacks().onceReads[0].ownerType, 4);
    EXPECT_EQ(callbacks().onceReads[0].outcome, 2);
    EXPECT_EQ(callbacks().onceReads[1].ownerType, 6);
    EXPECT_EQ(callbacks().onceReads[1].outcome, 2);
    ASSERT_EQ(PLC_driver.onceReadList.size(), 1);
    EXPECT_EQ(PLC_driver.onceReadList[0].ownerType, 8);
}

// Sporadic failures on different variables must not add up to a give-up.
TEST_F(Reply, SuccessEndsTheRepeatCount)
{
    word(retryLimit) = 1;
    for (int i = 0; i < 4; ++i)
        PLC_driver.readList.append(readVar(1, 0x10 + i));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(exchangeWith(QByteArray()), 0);
        EXPECT_EQ(exchangeGood(), 1);
        EXPECT_EQ(word(retryCount), 0);
    }
    EXPECT_TRUE(callbacks().notifies.empty());
}

TEST_F(Reply, FinishFlagAfterOneMoreGoodVariableThanTheReadList)
{
    for (int i = 0; i < 4; ++i)
        PLC_driver.readList.append(readVar(1, 0x10 + i));
    word(finishFlag) = 0;
    for (int i = 0; i < 4; ++i) {
        exchangeGood();
        EXPECT_EQ(word(finishFlag), 0) << i;
    }
    exchangeGood();
    EXPECT_EQ(word(finishFlag), 1);
    EXPECT_EQ(PLC_driver.goodReplies, 0);
}

TEST_F(Reply, WriteAcknowledgedStoresNothingFromTheReply)
{
    PLC_driver.writeList.append(writeVar(0x30));
    EXPECT_EQ(exchangeWith(QByteArray("O")), 1);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    EXPECT_EQ(PLC_driver.result.address, 0x30);
    word(retryLimit) = 0;
    PLC_driver.writeList.append(writeVar(0x31));
    EXPECT_EQ(exchangeWith(QByteArray("X")), 11);
}

// Remote writes are answered by an 8-byte summed reply, or by nothing at all
// when sent to station 0; both are successes.
TEST_F(Reply, RemoteWritesSucceed)
{
    word(remoteMode) = 1;
    word(retryLimit) = 0;
    RW_VAR w = writeVar(0x40, 3);
    w.remoteArg1 = -1;
    PLC_driver.writeList.append(w);
    EXPECT_EQ(exchangeWith(hex("00 01 02 03 04 05 06 15")), 1);
    RW_VAR broadcast = writeVar(0x41, 0);
    broadcast.linkNo = 3;  // another link: accepted without storing
    PLC_driver.writeList.append(broadcast);
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->replyLength, 0);
    EXPECT_EQ(DataCom(nullptr, 0)->status, 100);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    EXPECT_TRUE(callbacks().notifies.empty());
}

TEST_F(Reply, StatusCodeTable)
{
    const int outcomes[][2] = {{0, 1}, {4, 100}, {1, 11}, {2, 41}, {3, 71}, {5, 111}, {6, 141}, {7, 171}, {8, 200}, {-1, 200}};
    for (const auto &o : outcomes)
        EXPECT_EQ(GetDriverReturnValue(o[0]), o[1]) << o[0];
}

}  // namespace
