// The table of built read frames, the reused queue node and the remembered
// cache position: what the host and the value cache see must not change.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/DriverPrivate.h"
#include "core/ListRotation.h"
#include "data/Func_DealData.h"
#include "frames/Func_Read.h"

using namespace marovin_test;

namespace {

// The read request built from first principles, independently of the driver.
std::string referenceFrame(int station, int areaCode, int address)
{
    static const unsigned commands[5] = {0xB004, 0xB005, 0xB008, 0xB009, 0xB005};
    const unsigned index = static_cast<unsigned>(areaCode) - 1u, command = index < 5u ? commands[index] : 0x0001u;
    const unsigned node = (static_cast<unsigned>(station) << 4) & 0x0FF0u, reg = static_cast<unsigned>(address);
    const unsigned bytes[9] = {0x08, node >> 8, node & 0xFF, command >> 8, command & 0xFF, node >> 8,
                               (node & 0xFF) | 1, (reg >> 8) & 0xFF, reg & 0xFF};
    QByteArray f;
    unsigned sum = 0;
    for (unsigned b : bytes) {
        f.append(static_cast<char>(b));
        sum += b;
    }
    return toHex(f.append(static_cast<char>(sum)));
}

// Every field of a queued record.
std::string record(const Protocol &p)
{
    return toHex(p.frame) + QString(" %1 %2 %3 %4 %5 %6 %7 ").arg(p.requestLength).arg(p.replyLength)
        .arg(p.dataOffset).arg(p.dataLength).arg(p.extra1).arg(p.extra2).arg(p.extra3).toStdString()
        + describe(p.var) + (p.var.data.isNull() ? " null" : "");
}

// The record a driver without the table and the spare node queues for the variable.
std::string freshRecord(const RW_VAR &var)
{
    QList<Protocol> saved;
    saved.swap(PLC_driver.frameQueue);
    MarovinPrivate *priv = PLC_driver.priv;
    PLC_driver.priv = nullptr;
    RW_VAR copy = var;
    ReadRegister(&copy);
    PLC_driver.priv = priv;
    const std::string r = record(PLC_driver.frameQueue.first());
    PLC_driver.frameQueue.swap(saved);
    return r;
}

class FrameCache : public DriverTest {};

TEST_F(FrameCache, FramesFromTheTableEqualFreshlyBuiltOnes)
{
    for (int pass = 0; pass < 2; ++pass)
        for (int station : {0, 1, 15, 16, 255, 256, 257, 0x112, 4095, -1})
            for (int area = -1; area <= 7; ++area)
                for (int address : {0, 1, 0xFF, 0x1234, 0xFFFF, 0x10000, 0x10010, 0x7FFFFFFF, -1}) {
                    PLC_driver.frameQueue.clear();
                    RW_VAR v = makeVar(area ? area : 8, address, station);
                    ReadRegister(&v);
                    ASSERT_EQ(toHex(PLC_driver.frameQueue.first().frame), referenceFrame(station, v.areaCode, address))
                        << "pass " << pass << " station " << station << " area " << area << " address " << address;
                    ASSERT_EQ(record(PLC_driver.frameQueue.first()), freshRecord(v));
                }
    // A host changing the frame it was handed leaves the table alone.
    PLC_driver.frameQueue.first().frame[7] = 0x55;
    RW_VAR v = makeVar(7, -1, -1);
    ReadRegister(&v);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), referenceFrame(-1, 7, -1));
    // The table is emptied past its bound and still gives the right frames.
    const int limit = marovin::FrameCache::kLimit, total = limit + 5000;
    for (int i = 0; i < total; ++i) {
        PLC_driver.frameQueue.clear();
        v = makeVar(1 + (i & 1), i, 1 + i % 5);
        ReadRegister(&v);
        if (i % 997 == 0 || i >= total - 3) {
            ASSERT_EQ(toHex(PLC_driver.frameQueue.first().frame), referenceFrame(v.station, v.areaCode, i)) << i;
        }
        ASSERT_LE(PLC_driver.priv->frames.size(), limit);
    }
}

// The kept queue node takes every field of the next variable, also after the
// host scribbled on it, and past the bound on kept nodes.
TEST_F(FrameCache, ReusedRecordsEqualFreshOnes)
{
    const int n = 5000;
    for (int round = 0; round < 3; ++round) {
        PLC_driver.readList.clear();
        std::vector<RW_VAR> vars;
        for (int i = 0; i < (round == 2 ? n : 3); ++i) {
            // RW_VAR's fields in order.
            const int id = 100 * round + i;
            const RW_VAR v{round, id, round, round + 1, 0, round + 2, QStringLiteral("host %1.%2").arg(round).arg(i),
                           QStringLiteral("addr %1").arg(round % 2 ? i : 10 + i), 1 + i % 3, round == 2 ? i : 0x30 + i,
                           4, 1 + i % 2, -round, id, round == 1 ? QByteArray("\x05", 1) : QByteArray()};
            vars.push_back(v);
            PLC_driver.readList << v;
        }
        for (std::size_t k = 0; k < 2 * vars.size(); ++k) {
            RW_VAR expected = vars[k % vars.size()];
            Protocol *p = ComCommunication();
            ASSERT_TRUE(p && PLC_driver.frameQueue.size() == 1);
            if (round < 2 || k % 499 == 0 || k % n < 3 || k % n > n - 3) {
                ASSERT_EQ(record(*p), freshRecord(expected)) << round << " " << k;
            }
            p->extra1 = p->extra2 = p->extra3 = 11;
            p->requestLength = 99;
            p->var.addressText = QStringLiteral("changed");
            ASSERT_EQ(exchangeWith(goodReply(*p, hex("34 12 78 56"))), 1);
            expected.status = 1;
            expected.data = QByteArray();
            ASSERT_EQ(describe(PLC_driver.result) + (PLC_driver.result.data.isNull() ? "null" : ""),
                      describe(expected) + "null");
        }
    }
    // The status-bit block after a reused node.
    RW_VAR bits = makeVar(0, 36, 2);
    ReadRegister(&bits);
    ASSERT_EQ(PLC_driver.frameQueue.size(), 5);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(0).frame), referenceFrame(2, 2, 0x7095));
    for (const Protocol &p : PLC_driver.frameQueue)
        EXPECT_EQ(p.extra1 * 10 + p.var.areaCode, 0);
}

TEST(ListRotation, MovesTheFirstElementToTheEnd)
{
    for (int size = 0; size <= 70; size += (size < 10 ? 1 : 7)) {
        QList<RW_VAR> list;
        for (int i = 0; i < size; ++i)
            list << makeVar(1, i);
        // Many turns, so that the array runs out of room at the back and is moved or grown.
        for (int turn = 0; turn < 5 * size + 9; ++turn) {
            const QList<RW_VAR> hostCopy = list;  // a host holding a copy keeps its order
            marovin::rotateFirstToEnd(list);
            ASSERT_EQ(pieces(list), pieces(size ? hostCopy.mid(1) << hostCopy.first() : hostCopy)) << size << " " << turn;
        }
        list.append(makeVar(1, 999));
        EXPECT_EQ(list.last().address, 999);
    }
}

TEST(FrameCacheTable, KeepsWhatItAddedUpToItsBound)
{
    marovin::FrameCache table;
    bool fresh = false;
    for (int round = 0; round < 2; ++round)
        for (unsigned long long k = 1; k <= 5000; ++k) {
            const int slot = table.find(k | 1ull << 63, &fresh);  // many share a home slot
            ASSERT_EQ(fresh, round == 0) << k;
            if (round == 0)
                table.at(slot).frame = QByteArray::number(k);
            ASSERT_EQ(table.at(slot).frame, QByteArray::number(k));
        }
    EXPECT_EQ(table.size(), 5000);
    // One past the bound empties the table first.
    for (unsigned long long k = 5001; k <= 65537; ++k)
        table.find(k | 1ull << 63, &fresh);
    EXPECT_EQ(table.size(), 1);
    table.clear();
    EXPECT_EQ(table.size(), 0);
}

}  // namespace
