// Registration into the read, write and once-read lists.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

// The driver's copy shares no storage with the host's record.
void expectOwnCopy(const RW_VAR &copy, const RW_VAR &host)
{
    EXPECT_EQ(describe(copy), describe(host));
    EXPECT_NE(copy.data.constData(), host.data.constData());
    EXPECT_NE(copy.hostText.constData(), host.hostText.constData());
    EXPECT_NE(copy.addressText.constData(), host.addressText.constData());
}

class Registration : public DriverTest {};

TEST_F(Registration, ReadListTakesCopiesOfAnythingButNull)
{
    RW_VAR v = makeVar(99, -5, INT_MIN, INT_MIN);
    v.addressText = "not an address";
    v.hostText = "screen";
    v.data = hex("AA");
    EXPECT_EQ(AddListReadVar(&v), 1);
    EXPECT_EQ(AddListReadVar(&v), 2);
    expectOwnCopy(PLC_driver.readList.at(1), v);
    EXPECT_EQ(AddListReadVar(nullptr), 0);
    for (int i = 0; i < 2000; ++i)
        AddListReadVar(&v);
    EXPECT_EQ(PLC_driver.readList.size(), 2002) << "no limit";
}

TEST_F(Registration, WriteReplacesTheFirstWaitingWriteToTheSameVariable)
{
    RW_VAR first = writeVar(1, 0x100, "01 00");
    first.hostText = "screen";
    EXPECT_EQ(AddListWriteVar(&first, 0), 1);
    expectOwnCopy(PLC_driver.writeList.at(0), first);
    RW_VAR same = writeVar(1, 0x100, "02 00");
    EXPECT_EQ(AddListWriteVar(&same, 0), 2) << "entry 0 is being sent: never replaced";
    // Station, area, address and count make the key.
    const int keys[][4] = {{2, 1, 0x100, 1}, {1, 3, 0x100, 1}, {1, 1, 0x101, 1}, {1, 1, 0x100, 2}};
    for (const auto &k : keys) {
        RW_VAR v = writeVar(k[1], k[2], "05 00", k[0], k[3]);
        AddListWriteVar(&v, 0);
    }
    ASSERT_EQ(PLC_driver.writeList.size(), 6);
    RW_VAR again = writeVar(1, 0x100, "03 00");
    EXPECT_EQ(AddListWriteVar(&again, 1), 7) << "mode 1 appends";
    RW_VAR n = writeVar(1, 0x100, "FF 7F");
    n.ownerType = 9;
    n.ownerId = 44;
    n.hostText = "screen";
    n.status = 5;
    n.remoteArg1 = -1;
    const std::string before = describe(n);
    for (int mode : {0, -1, 2, INT_MAX, INT_MIN})
        EXPECT_EQ(AddListWriteVar(&n, mode), 7) << mode;
    EXPECT_EQ(describe(n), before);
    expectOwnCopy(PLC_driver.writeList.at(1), n);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(0).data), "01 00");
    EXPECT_EQ(toHex(PLC_driver.writeList.at(6).data), "03 00");
}

TEST_F(Registration, WriteListHoldsAtMost1024WaitingWrites)
{
    for (int i = 0; i < 1024; ++i)
        PLC_driver.writeList.append(writeVar(1, i, "01 00"));
    bool accepted = true;
    RW_VAR extra = writeVar(1, 5000, "01 00");
    EXPECT_EQ(marovin::registerWrite(&extra, 0, &accepted), 1024);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(PLC_driver.writeList.last().address, 1023);
    RW_VAR repl = writeVar(1, 700, "77 00");
    EXPECT_EQ(marovin::registerWrite(&repl, 0, &accepted), 1024);
    EXPECT_TRUE(accepted) << "a waiting match is still replaced";
    EXPECT_EQ(toHex(PLC_driver.writeList.at(700).data), "77 00");
    EXPECT_EQ(marovin::registerWrite(&extra, 1, &accepted), 1025);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(marovin::registerWrite(&extra, 1, nullptr), 1026);
    EXPECT_EQ(marovin::registerWrite(nullptr, 0, &accepted), 0);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(AddListWriteVar(nullptr, 1), 0);
}

TEST_F(Registration, ConcurrentWritesAreAllKept)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                RW_VAR v = writeVar(1, t * 1000 + i, "01 00");
                AddListWriteVar(&v, 0);
            }
        });
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(PLC_driver.writeList.size(), 800);
}

TEST_F(Registration, OnceReadPiecesPerArea)
{
    const struct {
        int areaCode;
        const char *text;
        int address, count, maxUnits;
        const char *pieces;
    } rows[] = {
        {4, "100", 0, 5, 4, "256/2 258/2 260/1"},  {1, "10", 0, 3, 4, "16/1 17/1 18/1"},
        {3, "1F", 99, 1, 4, "31/1"},                {2, "0", 0, 4, 4, "0/2 2/2"},
        {5, "A", 0, 1, 4, "10/1"},                  {1, "10", 0, 3, 0, "16/1 17/1 18/1"},  // maxUnits unused
        {0, "12", 40, 10, 4, "40/4 44/4 48/2"},    {0, "39", 40, 8, 4, "40/4 44/4"},  // the record's address
        {7, "10", 5, 9, 4, "5/4 9/4 13/1"},        {-2, "3", 1, 2, 3, "1/2"},
        {1, "10", 0, 0, 4, ""},                     {2, "10", 0, -1, 4, "16/-1"},
        {2, "10", 0, -5, 4, ""},                    {4, "10", 0, INT_MIN, 4, ""},
        {0, "12", 0, INT_MIN, 3, ""},               {0, "12", 0, INT_MAX, INT_MAX, "0/2147483647"},
        {1, "7FFFFFFF", 0, 3, 4, "2147483647/1"},  {2, "7FFFFFFE", 0, 6, 4, "2147483646/2"},
        {0, "12", INT_MAX - 5, 100, 4, "2147483642/4 2147483646/4"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " " + r.text + " count " + std::to_string(r.count));
        PLC_driver.onceReadList.clear();
        word(S::maxUnits) = r.maxUnits;
        RW_VAR v = makeVar(r.areaCode, r.address, 1, r.count);
        v.addressText = r.text;
        v.remoteArg1 = -1;
        v.remoteArg2 = 9;
        const int n = AddListOnceReadVar(&v, 0);
        EXPECT_EQ(n, PLC_driver.onceReadList.size());
        EXPECT_EQ(pieces(PLC_driver.onceReadList), r.pieces);
        if (!PLC_driver.onceReadList.isEmpty()) {
            EXPECT_EQ(pieces(QList<RW_VAR>() << v), pieces(QList<RW_VAR>() << PLC_driver.onceReadList.last()));
        }
        EXPECT_EQ(v.remoteArg1 + v.remoteArg2, 0);
        for (const RW_VAR &e : PLC_driver.onceReadList)
            EXPECT_TRUE(e.remoteArg1 == 0 && e.areaCode == r.areaCode);
    }
}

TEST_F(Registration, OnceReadRefusalsChangeNothing)
{
    const struct {
        int areaCode;
        const char *text;
        int maxUnits;
    } rows[] = {{0, "13", 4}, {1, "G1", 4}, {3, "-10", 4}, {1, "", 4},       {0, "12", 0},
                {9, "1", 0},  {0, "12", -3}, {9, "10", -3}, {0, "12", INT_MIN}};
    RW_VAR kept = makeVar(1, 7);
    AddListOnceReadVar(&kept, 1);
    word(S::multiStation) = 0;
    for (const auto &r : rows) {
        word(S::maxUnits) = r.maxUnits;
        RW_VAR v = makeVar(r.areaCode, 40, 9, 10);
        v.addressText = r.text;
        v.remoteArg1 = -1;
        const std::string before = describe(v);
        EXPECT_EQ(AddListOnceReadVar(&v, 0), 0) << r.areaCode << " " << r.text;
        EXPECT_EQ(describe(v), before) << r.areaCode << " " << r.text;
        EXPECT_EQ(PLC_driver.onceReadList.size(), 1);
    }
    EXPECT_EQ(AddListOnceReadVar(nullptr, 0) + AddListOnceReadVar(nullptr, 1), 0);
    SetComInfo(nullptr);
    EXPECT_EQ(AddListOnceReadVar(&kept, 0) + AddListOnceReadVar(&kept, 1), 0);
    EXPECT_EQ(PLC_driver.onceReadList.size(), 1);
}

TEST_F(Registration, OnceReadStationAndDuplicatesPerRequester)
{
    word(S::multiStation) = 0;
    word(S::defaultStation) = 3;
    RW_VAR v = makeVar(1, 0x20, 7, 2);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 2);
    EXPECT_EQ(v.station, 3);
    EXPECT_EQ(PLC_driver.onceReadList.at(1).station, 3);
    word(S::multiStation) = 1;
    PLC_driver.onceReadList.clear();
    const struct {
        int ownerType, ownerId, address, count, expected;
    } rows[] = {
        {1, 1, 0x10, 3, 3}, {1, 1, 0x10, 3, 3},  // the same requester asks again
        {2, 1, 0x10, 3, 6}, {1, 2, 0x10, 1, 7},  // other requesters
        {1, 1, 0x11, 3, 8},                      // overlapping: only the new word
    };
    for (const auto &r : rows) {
        RW_VAR w = makeVar(1, r.address, 7, r.count);
        w.ownerType = r.ownerType;
        w.ownerId = r.ownerId;
        EXPECT_EQ(AddListOnceReadVar(&w, 0), r.expected) << r.ownerType << "/" << r.ownerId;
    }
    EXPECT_EQ(PLC_driver.onceReadList.last().address, 0x13);
    EXPECT_EQ(PLC_driver.onceReadList.last().station, 7);
    // Plain append takes duplicates and neither parses nor edits the record.
    RW_VAR raw = makeVar(1, 0x10, 7);
    raw.ownerType = raw.ownerId = 1;
    raw.addressText = "zz";
    raw.remoteArg1 = -1;
    raw.hostText = "screen";
    raw.data = hex("01");
    EXPECT_EQ(AddListOnceReadVar(&raw, 1), 9);
    expectOwnCopy(PLC_driver.onceReadList.last(), raw);
}

TEST_F(Registration, OnceReadStopsAtTheListLimitQuickly)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1022; ++i)
        PLC_driver.onceReadList.append(makeVar(3, i));
    RW_VAR v = makeVar(1, 0x100, 1, 5);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 1024);
    EXPECT_EQ(pieces(QList<RW_VAR>() << v), "257/1");
    RW_VAR more = makeVar(1, 0x200);
    for (int mode : {0, -1, 2, INT_MAX, INT_MIN})
        EXPECT_EQ(AddListOnceReadVar(&more, mode), 1024) << mode;
    EXPECT_EQ(AddListOnceReadVar(&more, 1), 1025);
    // Counts up to INT_MAX are cut at the limit, not walked through.
    const struct {
        int areaCode, maxUnits;
        const char *text;
    } huge[] = {{1, 4, "1000"}, {5, 4, "0"}, {0, 1, "12"}};
    for (const auto &h : huge) {
        PLC_driver.onceReadList.clear();
        word(S::maxUnits) = h.maxUnits;
        RW_VAR big = makeVar(h.areaCode, 0, 1, INT_MAX);
        big.addressText = h.text;
        EXPECT_EQ(AddListOnceReadVar(&big, 0), 1024) << h.areaCode;
    }
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

}  // namespace
