// The table of built read frames, the reused queue node and the remembered
// cache position: what the host and the value cache see must not change.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/DriverPrivate.h"
#include "core/ListRotation.h"
#include "data/CacheIndex.h"
#include "data/Func_DealData.h"
#include "frames/Func_Read.h"

using namespace marovin_test;

namespace {

// The read request built from first principles, independently of the driver.
QByteArray referenceFrame(int station, int areaCode, int address)
{
    static const unsigned int commands[5] = {0xB004, 0xB005, 0xB008, 0xB009, 0xB005};
    const unsigned int index = static_cast<unsigned int>(areaCode) - 1u;
    const unsigned int command = index < 5u ? commands[index] : 0x0001u;
    const unsigned int node = (static_cast<unsigned int>(station) << 4) & 0x0FF0u;
    const unsigned int reg = static_cast<unsigned int>(address) & 0xFFFFu;
    QByteArray f(10, '\0');
    f[0] = 0x08;
    f[1] = static_cast<char>(node >> 8);
    f[2] = static_cast<char>(node & 0xFF);
    f[3] = static_cast<char>(command >> 8);
    f[4] = static_cast<char>(command & 0xFF);
    f[5] = static_cast<char>(node >> 8);
    f[6] = static_cast<char>((node & 0xFF) | 0x01);
    f[7] = static_cast<char>(reg >> 8);
    f[8] = static_cast<char>(reg & 0xFF);
    unsigned int sum = 0;
    for (int i = 0; i < 9; ++i)
        sum += static_cast<unsigned char>(f[i]);
    f[9] = static_cast<char>(sum & 0xFF);
    return f;
}

// Every field of two queued records.
void expectSameRecord(const Protocol &a, const Protocol &b)
{
    EXPECT_EQ(toHex(a.frame), toHex(b.frame));
    EXPECT_EQ(a.requestLength, b.requestLength);
    EXPECT_EQ(a.replyLength, b.replyLength);
    EXPECT_EQ(a.dataOffset, b.dataOffset);
    EXPECT_EQ(a.dataLength, b.dataLength);
    EXPECT_EQ(a.extra1, b.extra1);
    EXPECT_EQ(a.extra2, b.extra2);
    EXPECT_EQ(a.extra3, b.extra3);
    EXPECT_EQ(a.var.ownerType, b.var.ownerType);
    EXPECT_EQ(a.var.ownerId, b.var.ownerId);
    EXPECT_EQ(a.var.accessMode, b.var.accessMode);
    EXPECT_EQ(a.var.remoteFlag, b.var.remoteFlag);
    EXPECT_EQ(a.var.linkNo, b.var.linkNo);
    EXPECT_EQ(a.var.status, b.var.status);
    EXPECT_EQ(a.var.hostText, b.var.hostText);
    EXPECT_EQ(a.var.addressText, b.var.addressText);
    EXPECT_EQ(a.var.areaCode, b.var.areaCode);
    EXPECT_EQ(a.var.address, b.var.address);
    EXPECT_EQ(a.var.station, b.var.station);
    EXPECT_EQ(a.var.count, b.var.count);
    EXPECT_EQ(a.var.remoteArg1, b.var.remoteArg1);
    EXPECT_EQ(a.var.remoteArg2, b.var.remoteArg2);
    EXPECT_EQ(a.var.data, b.var.data);
    EXPECT_EQ(a.var.data.isNull(), b.var.data.isNull());
}

// The record a fresh driver queues for the variable.
Protocol freshRecord(const RW_VAR &var)
{
    QList<Protocol> saved;
    saved.swap(PLC_driver.frameQueue);
    MarovinPrivate *priv = PLC_driver.priv;
    PLC_driver.priv = nullptr;
    RW_VAR copy = var;
    ReadRegister(&copy);
    PLC_driver.priv = priv;
    const Protocol p = PLC_driver.frameQueue.first();
    PLC_driver.frameQueue.swap(saved);
    return p;
}

class FrameCacheTest : public DriverTest {};

TEST_F(FrameCacheTest, FramesFromTheTableEqualFreshlyBuiltOnes)
{
    const int stations[] = {0, 1, 15, 16, 255, 256, 257, 0x112, 4095, -1};
    const int addresses[] = {0, 1, 0x10, 0xFF, 0x1234, 0xFFFF, 0x10000, 0x10010, 0x7FFFFFFF, -1};
    for (int pass = 0; pass < 2; ++pass) {
        for (int station : stations)
            for (int area = -1; area <= 7; ++area) {
                if (area == 0)
                    continue;
                for (int address : addresses) {
                    PLC_driver.frameQueue.clear();
                    RW_VAR v = makeVar(area, address, station);
                    ReadRegister(&v);
                    ASSERT_EQ(PLC_driver.frameQueue.size(), 1);
                    EXPECT_EQ(toHex(PLC_driver.frameQueue.first().frame), toHex(referenceFrame(station, area, address)))
                        << "pass " << pass << " station " << station << " area " << area << " address " << address;
                    expectSameRecord(PLC_driver.frameQueue.first(), freshRecord(v));
                }
            }
    }
}

TEST_F(FrameCacheTest, HostChangingItsFrameLeavesTheTableAlone)
{
    RW_VAR v = makeVar(1, 0x20, 3);
    ReadRegister(&v);
    PLC_driver.frameQueue.first().frame[7] = 0x55;
    PLC_driver.frameQueue.clear();
    ReadRegister(&v);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.first().frame), toHex(referenceFrame(3, 1, 0x20)));
}

TEST_F(FrameCacheTest, ReusedRecordEqualsAFreshOne)
{
    RW_VAR a = makeVar(1, 0x10, 2);
    a.hostText = QStringLiteral("first");
    a.ownerType = 3;
    a.ownerId = 9;
    a.data = QByteArray("\x01\x02", 2);
    RW_VAR b = makeVar(2, 0x11, 300, 2);
    b.hostText = QStringLiteral("second");
    b.remoteArg1 = 5;
    b.remoteArg2 = 6;
    b.linkNo = 0;
    RW_VAR c = makeVar(3, 0x12, 7);
    PLC_driver.readList << a << b << c;

    const RW_VAR order[] = {a, b, c, a, b, c, a};
    for (const RW_VAR &expected : order) {
        Protocol *p = ComCommunication();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
        expectSameRecord(*p, freshRecord(expected));
        // The host may scribble on the record it was handed; the next one is clean.
        p->extra1 = 11;
        p->extra2 = 12;
        p->extra3 = 13;
        p->requestLength = 99;
        p->var.addressText = QStringLiteral("changed");
        QByteArray reply = goodReply(*p, QByteArray("\x34\x12\x78\x56", p->dataLength));
        const RW_VAR *r = DataCom(&reply, reply.size());
        EXPECT_EQ(r->status, 1);
        EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
        EXPECT_EQ(r->addressText, expected.addressText);
        EXPECT_EQ(r->hostText, expected.hostText);
        EXPECT_TRUE(r->data.isNull());
    }
}

TEST_F(FrameCacheTest, StatusBitBlockAfterAReusedRecord)
{
    RW_VAR analog = makeVar(1, 0x10, 2);
    PLC_driver.readList << analog;
    ASSERT_EQ(exchangeGood(), 1);
    RW_VAR bits = makeVar(0, 36, 2);
    ReadRegister(&bits);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 5);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(0).frame), toHex(referenceFrame(2, 2, 0x7095)));
    for (const Protocol &p : PLC_driver.frameQueue) {
        EXPECT_EQ(p.var.areaCode, 0);
        EXPECT_EQ(p.extra1, 0);
    }
}

TEST_F(FrameCacheTest, StoredValueFollowsTheCacheAfterItWasCleared)
{
    RW_VAR a = makeVar(1, 0x10, 2);
    RW_VAR b = makeVar(3, 0x40, 2);
    PLC_driver.readList << a << b;
    ASSERT_EQ(exchangeWith(goodReply(*ComCommunication(), QByteArray("\x34\x12", 2))), 1);
    ASSERT_EQ(exchangeWith(goodReply(*ComCommunication(), QByteArray("\x78\x56", 2))), 1);
    ASSERT_EQ(PLC_driver.extendList.size(), 2);

    // Someone empties the cache and files other keys first: the remembered
    // positions now point at other entries or past the end.
    PLC_driver.extendList.clear();
    ExtendFindSameVar(9, 1, 1);
    ExtendFindSameVar(9, 1, 2);
    ExtendFindSameVar(9, 1, 3);
    ASSERT_EQ(exchangeWith(goodReply(*ComCommunication(), QByteArray("\xCD\xAB", 2))), 1);
    ASSERT_EQ(PLC_driver.extendList.size(), 4);
    EXPECT_EQ(PLC_driver.extendList.at(3).station, 2);
    EXPECT_EQ(PLC_driver.extendList.at(3).areaCode, 1);
    EXPECT_EQ(PLC_driver.extendList.at(3).address, 0x10);
    EXPECT_EQ(toHex(PLC_driver.extendList.at(3).data), "AB CD");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(toHex(PLC_driver.extendList.at(i).data), "00 00 00 00");

    // The same key at the remembered position again, with the list shorter
    // than the index had seen: the value goes where the lookup puts it.
    PLC_driver.extendList.clear();
    EXTENDVAR e;
    e.station = 2;
    e.areaCode = 3;
    e.address = 0x40;
    e.data = QByteArray(2, '\0');
    PLC_driver.extendList << e;
    ASSERT_EQ(exchangeWith(goodReply(*ComCommunication(), QByteArray("\x22\x11", 2))), 1);
    ASSERT_EQ(PLC_driver.extendList.size(), 1);
    EXPECT_EQ(toHex(PLC_driver.extendList.at(0).data), "11 22");
    EXPECT_EQ(ExtendFindSameVar(2, 3, 0x40), 0);
}

TEST_F(FrameCacheTest, RepeatedExchangesStoreWhereTheLookupWould)
{
    for (int i = 0; i < 6; ++i)
        PLC_driver.readList << makeVar(i % 2 ? 2 : 1, 0x100 + i, 1 + i % 3);
    for (int round = 0; round < 4; ++round)
        for (int i = 0; i < 6; ++i) {
            Protocol *p = ComCommunication();
            ASSERT_NE(p, nullptr);
            const RW_VAR var = p->var;
            QByteArray data(p->dataLength, '\0');
            for (int k = 0; k < data.size(); ++k)
                data[k] = static_cast<char>(round * 16 + i + k);
            ASSERT_EQ(exchangeWith(goodReply(*p, data)), 1);
            const int pos = ExtendFindSameVar(var.station, var.areaCode, var.address);
            const QByteArray &stored = PLC_driver.extendList.at(pos).data;
            ASSERT_EQ(stored.size(), data.size());
            EXPECT_EQ(stored.at(0), data.at(1));
            EXPECT_EQ(stored.at(1), data.at(0));
        }
    EXPECT_EQ(PLC_driver.extendList.size(), 6);
}

TEST_F(FrameCacheTest, TableFilledPastItsBoundStillGivesRightFrames)
{
    const int limit = marovin::FrameCache::kLimit;
    const int total = limit + 5000;
    for (int i = 0; i < total; ++i) {
        PLC_driver.frameQueue.clear();
        RW_VAR v = makeVar(1 + (i & 1), i, 1 + i % 5);
        ReadRegister(&v);
        if (i % 997 == 0 || i >= total - 3) {
            ASSERT_EQ(toHex(PLC_driver.frameQueue.first().frame), toHex(referenceFrame(v.station, v.areaCode, v.address))) << i;
        }
        ASSERT_LE(PLC_driver.priv->frames.size(), limit);
    }
    for (int i = 0; i < total; i += 1013) {
        PLC_driver.frameQueue.clear();
        RW_VAR v = makeVar(1 + (i & 1), i, 1 + i % 5);
        ReadRegister(&v);
        ASSERT_EQ(toHex(PLC_driver.frameQueue.first().frame), toHex(referenceFrame(v.station, v.areaCode, v.address))) << i;
    }
}

TEST_F(FrameCacheTest, KeptRecordFollowsAChangedVariable)
{
    // Same registers every round, other texts, owners and data: the record
    // kept with a frame must take the new values, not keep the old ones.
    for (int round = 0; round < 4; ++round) {
        PLC_driver.readList.clear();
        std::vector<RW_VAR> vars;
        for (int i = 0; i < 3; ++i) {
            RW_VAR v = makeVar(1 + i, 0x30 + i, 4);
            v.hostText = QStringLiteral("host %1.%2").arg(round).arg(i);
            v.addressText = QStringLiteral("addr %1").arg(round % 2 ? i : 10 + i);
            v.ownerType = round;
            v.ownerId = 100 * round + i;
            if (round == 2)
                v.data = QByteArray("\x05", 1);
            vars.push_back(v);
            PLC_driver.readList << v;
        }
        for (const RW_VAR &expected : vars) {
            Protocol *p = ComCommunication();
            ASSERT_NE(p, nullptr);
            expectSameRecord(*p, freshRecord(expected));
            QByteArray reply = goodReply(*p);
            const RW_VAR *r = DataCom(&reply, reply.size());
            ASSERT_EQ(r->status, 1);
            EXPECT_EQ(r->hostText, expected.hostText);
            EXPECT_EQ(r->addressText, expected.addressText);
            EXPECT_EQ(r->ownerId, expected.ownerId);
        }
    }
}

TEST_F(FrameCacheTest, MoreVariablesThanKeptRecordsStayExact)
{
    // Past the bound on kept records the spare record serves the rest.
    const int n = 5000;
    for (int i = 0; i < n; ++i) {
        RW_VAR v = makeVar(1, i, 1 + i % 3);
        v.hostText = QString::number(i);
        PLC_driver.readList << v;
    }
    for (int k = 0; k < 2 * n; ++k) {
        Protocol *p = ComCommunication();
        ASSERT_NE(p, nullptr);
        const int i = k % n;
        if (k % 499 == 0 || k % n < 3 || k % n > n - 3) {
            RW_VAR expected = makeVar(1, i, 1 + i % 3);
            expected.hostText = QString::number(i);
            expectSameRecord(*p, freshRecord(expected));
        }
        QByteArray reply = goodReply(*p, QByteArray("\x01\x02", 2));
        const RW_VAR *r = DataCom(&reply, reply.size());
        ASSERT_EQ(r->status, 1);
        ASSERT_EQ(r->hostText, QString::number(i));
    }
    EXPECT_EQ(PLC_driver.readList.first().hostText, QStringLiteral("0"));
}

TEST(ListRotation, MovesTheFirstElementToTheEnd)
{
    for (int size = 0; size <= 70; size += (size < 10 ? 1 : 7)) {
        QList<RW_VAR> list;
        std::vector<int> reference;
        for (int i = 0; i < size; ++i) {
            list << makeVar(1, i);
            reference.push_back(i);
        }
        // Many turns, so that the array runs out of room at the back and is
        // moved or grown more than once.
        for (int turn = 0; turn < 5 * size + 9; ++turn) {
            QList<RW_VAR> hostCopy;
            if (turn % 5 == 0)
                hostCopy = list;  // a host holding a copy keeps its order
            marovin::rotateFirstToEnd(list);
            if (!reference.empty())
                std::rotate(reference.begin(), reference.begin() + 1, reference.end());
            ASSERT_EQ(list.size(), size);
            for (int i = 0; i < size; ++i) {
                ASSERT_EQ(list.at(i).address, reference[static_cast<size_t>(i)]) << size << " " << turn;
            }
            if (turn % 5 == 0 && size > 1) {
                EXPECT_EQ(hostCopy.first().address, reference[static_cast<size_t>(size - 1)]);
            }
        }
        list.append(makeVar(1, 999));
        EXPECT_EQ(list.last().address, 999);
        EXPECT_EQ(list.size(), size + 1);
    }
}

TEST(FrameCacheTable, FindsWhatItAdded)
{
    marovin::FrameCache table;
    bool fresh = false;
    for (unsigned long long k = 1; k <= 1000; ++k) {
        const int slot = table.find(k << 20 | 1ull << 63, &fresh);
        EXPECT_TRUE(fresh);
        table.at(slot).frame = QByteArray::number(k);
    }
    EXPECT_EQ(table.size(), 1000);
    for (unsigned long long k = 1; k <= 1000; ++k) {
        const int slot = table.find(k << 20 | 1ull << 63, &fresh);
        EXPECT_FALSE(fresh);
        EXPECT_EQ(table.at(slot).frame, QByteArray::number(k));
    }
    table.clear();
    EXPECT_EQ(table.size(), 0);
    table.find(5ull << 20 | 1ull << 63, &fresh);
    EXPECT_TRUE(fresh);
}

}  // namespace
