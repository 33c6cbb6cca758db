// Registration into the read, write and once-read lists.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <thread>
#include <tuple>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;

namespace {

typedef std::tuple<int, int> Piece;  // (address, count)

std::vector<Piece> piecesOf(const QList<RW_VAR> &list)
{
    std::vector<Piece> out;
    for (const RW_VAR &v : list)
        out.emplace_back(v.address, v.count);
    return out;
}

// Every field, so that "unchanged" and "replaced" can be checked whole.
std::string describe(const RW_VAR &v)
{
    return QString("%1 %2 %3 %4 %5 %6 [%7] [%8] %9 %10 %11 %12 %13 %14 ")
               .arg(v.ownerType).arg(v.ownerId).arg(v.accessMode).arg(v.remoteFlag)
               .arg(v.linkNo).arg(v.status).arg(v.hostText).arg(v.addressText)
               .arg(v.areaCode).arg(v.address).arg(v.station).arg(v.count)
               .arg(v.remoteArg1).arg(v.remoteArg2)
               .toStdString()
        + toHex(v.data);
}

RW_VAR writeVar(int address, int ownerType = 1, const char *data = "01 00")
{
    RW_VAR v = makeVar(1, address, 1, 1);
    v.ownerType = ownerType;
    v.accessMode = 1;
    v.data = hex(data);
    return v;
}

class RegistrationTest : public DriverTest {};

TEST_F(RegistrationTest, ReadListAppendsCopiesWithoutParsing)
{
    RW_VAR v = makeVar(0, 13);
    v.addressText = "not an address";
    v.data = hex("AA");
    EXPECT_EQ(AddListReadVar(&v), 1);
    EXPECT_EQ(AddListReadVar(&v), 2);
    ASSERT_EQ(PLC_driver.readList.size(), 2);
    EXPECT_EQ(describe(PLC_driver.readList.at(1)), describe(v));
    v.data = hex("BB");
    EXPECT_EQ(toHex(PLC_driver.readList.at(0).data), "AA");
    EXPECT_EQ(AddListReadVar(nullptr), 0);
    EXPECT_EQ(PLC_driver.readList.size(), 2);
}

TEST_F(RegistrationTest, WriteNeverReplacesTheFrontEntry)
{
    RW_VAR first = writeVar(0x100);
    EXPECT_EQ(AddListWriteVar(&first, 0), 1);
    RW_VAR same = writeVar(0x100, 2, "02 00");
    EXPECT_EQ(AddListWriteVar(&same, 0), 2);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(0).data), "01 00");
    EXPECT_EQ(toHex(PLC_driver.writeList.at(1).data), "02 00");

    // With more entries, a match for entry 0 is still queued behind.
    RW_VAR third = writeVar(0x300);
    EXPECT_EQ(AddListWriteVar(&third, 0), 3);
    RW_VAR again = writeVar(0x100, 3, "03 00");
    EXPECT_EQ(AddListWriteVar(&again, 0), 3);  // replaced entry 1, which also matches
    EXPECT_EQ(toHex(PLC_driver.writeList.at(0).data), "01 00");
    EXPECT_EQ(describe(PLC_driver.writeList.at(1)), describe(again));
}

TEST_F(RegistrationTest, WriteReplacesFirstWaitingMatchWhole)
{
    RW_VAR a = writeVar(10), b = writeVar(20), c = writeVar(30);
    AddListWriteVar(&a, 0);
    AddListWriteVar(&b, 0);
    AddListWriteVar(&c, 0);
    AddListWriteVar(&c, 1);  // a second waiting write for 30, only possible in mode 1

    RW_VAR n = writeVar(30, 9, "FF 7F");
    n.ownerId = 44;
    n.hostText = "screen";
    n.addressText = "1E";
    n.status = 5;
    n.remoteArg1 = -1;
    const std::string before = describe(n);
    EXPECT_EQ(AddListWriteVar(&n, 0), 4);
    EXPECT_EQ(describe(n), before);
    EXPECT_EQ(describe(PLC_driver.writeList.at(2)), before);
    EXPECT_EQ(describe(PLC_driver.writeList.at(3)), describe(c));
    EXPECT_EQ(PLC_driver.writeList.at(1).address, 20);
}

TEST_F(RegistrationTest, WriteKeyIsStationAreaAddressAndCount)
{
    RW_VAR front = writeVar(0), base = writeVar(30);
    AddListWriteVar(&front, 0);
    AddListWriteVar(&base, 0);
    struct Row {
        const char *what;
        int station, areaCode, address, count;
    } rows[] = {
        {"station", 2, 1, 30, 1},
        {"area", 1, 3, 30, 1},
        {"address", 1, 1, 31, 1},
        {"count", 1, 1, 30, 2},
    };
    int expected = 2;
    for (const Row &r : rows) {
        RW_VAR v = writeVar(r.address, 1, "05 00");
        v.station = r.station;
        v.areaCode = r.areaCode;
        v.count = r.count;
        EXPECT_EQ(AddListWriteVar(&v, 0), ++expected) << r.what;
    }
    EXPECT_EQ(toHex(PLC_driver.writeList.at(1).data), "01 00");
}

TEST_F(RegistrationTest, WriteListCapAndAcceptedFlag)
{
    for (int i = 0; i < 1024; ++i)
        PLC_driver.writeList.append(writeVar(i));
    bool accepted = true;
    RW_VAR extra = writeVar(5000);
    EXPECT_EQ(marovin::registerWrite(&extra, 0, &accepted), 1024);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(PLC_driver.writeList.last().address, 1023);

    // A waiting match is still replaced in a full list.
    RW_VAR repl = writeVar(700, 1, "77 00");
    EXPECT_EQ(marovin::registerWrite(&repl, 0, &accepted), 1024);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(700).data), "77 00");

    EXPECT_EQ(marovin::registerWrite(&extra, 1, &accepted), 1025);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(AddListWriteVar(&extra, 1), 1026);

    accepted = true;
    EXPECT_EQ(marovin::registerWrite(nullptr, 0, &accepted), 0);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(AddListWriteVar(nullptr, 1), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1026);

    resetDriver();
    RW_VAR v = writeVar(1);
    EXPECT_EQ(marovin::registerWrite(&v, 0, nullptr), 1);
    EXPECT_EQ(marovin::registerWrite(&v, 0, &accepted), 2);
    EXPECT_TRUE(accepted);
}

TEST_F(RegistrationTest, ConcurrentWritesAreAllKept)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                RW_VAR v = writeVar(t * 1000 + i);
                AddListWriteVar(&v, 0);
            }
        });
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(PLC_driver.writeList.size(), 800);
}

struct OnceRow {
    int areaCode;
    const char *text;
    int address, count, maxUnits;
    std::vector<Piece> pieces;
};

TEST_F(RegistrationTest, OnceReadPiecesPerArea)
{
    const OnceRow rows[] = {
        {4, "100", 0, 5, 4, {Piece(256, 2), Piece(258, 2), Piece(260, 1)}},
        {1, "10", 0, 3, 4, {Piece(16, 1), Piece(17, 1), Piece(18, 1)}},
        {3, "1F", 99, 1, 4, {Piece(31, 1)}},
        {2, "0", 0, 4, 4, {Piece(0, 2), Piece(2, 2)}},
        {5, "A", 0, 1, 4, {Piece(10, 1)}},
        {1, "10", 0, 3, 0, {Piece(16, 1), Piece(17, 1), Piece(18, 1)}},  // maxUnits unused
        {0, "12", 40, 10, 4, {Piece(40, 4), Piece(44, 4), Piece(48, 2)}},
        {0, "39", 40, 8, 4, {Piece(40, 4), Piece(44, 4)}},
        {7, "10", 5, 9, 4, {Piece(5, 4), Piece(9, 4), Piece(13, 1)}},
        {-2, "3", 1, 2, 3, {Piece(1, 2)}},
        {1, "10", 0, 0, 4, {}},
        {2, "10", 0, -1, 4, {Piece(16, -1)}},
        {2, "10", 0, -5, 4, {}},
    };
    for (const OnceRow &r : rows) {
        resetDriver();
        SetComInfo(settings);
        word(MarovinSettings::maxUnits) = r.maxUnits;
        RW_VAR v = makeVar(r.areaCode, r.address, 1, r.count);
        v.addressText = r.text;
        v.remoteArg1 = -1;
        v.remoteArg2 = 9;
        const int n = AddListOnceReadVar(&v, 0);
        const std::string where = std::to_string(r.areaCode) + " " + r.text;
        EXPECT_EQ(n, static_cast<int>(r.pieces.size())) << where;
        EXPECT_EQ(piecesOf(PLC_driver.onceReadList), r.pieces) << where;
        if (!r.pieces.empty()) {
            EXPECT_EQ(Piece(v.address, v.count), r.pieces.back()) << where;
        }
        EXPECT_EQ(v.remoteArg1, 0) << where;
        EXPECT_EQ(v.remoteArg2, 0) << where;
        for (const RW_VAR &e : PLC_driver.onceReadList) {
            EXPECT_EQ(e.remoteArg1, 0);
            EXPECT_EQ(e.areaCode, r.areaCode);
        }
    }
}

TEST_F(RegistrationTest, OnceReadRejectionsChangeNothing)
{
    struct Row {
        int areaCode;
        const char *text;
        int maxUnits;
    } rows[] = {
        {0, "13", 4}, {1, "G1", 4}, {3, "-10", 4}, {1, "", 4},
        {0, "12", 0}, {9, "1", 0}, {0, "12", -3},
    };
    RW_VAR kept = makeVar(1, 7);
    AddListOnceReadVar(&kept, 1);
    for (const Row &r : rows) {
        word(MarovinSettings::maxUnits) = r.maxUnits;
        word(MarovinSettings::multiStation) = 0;
        RW_VAR v = makeVar(r.areaCode, 40, 9, 10);
        v.addressText = r.text;
        v.remoteArg1 = -1;
        const std::string before = describe(v);
        EXPECT_EQ(AddListOnceReadVar(&v, 0), 0) << r.areaCode << " " << r.text;
        EXPECT_EQ(describe(v), before) << r.areaCode << " " << r.text;
        EXPECT_EQ(PLC_driver.onceReadList.size(), 1);
    }
    EXPECT_EQ(AddListOnceReadVar(nullptr, 0), 0);
    EXPECT_EQ(AddListOnceReadVar(nullptr, 1), 0);
    SetComInfo(nullptr);
    RW_VAR v = makeVar(1, 7);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 0);
    EXPECT_EQ(PLC_driver.onceReadList.size(), 1);
}

TEST_F(RegistrationTest, OnceReadUsesDefaultStationInSingleStationOperation)
{
    word(MarovinSettings::multiStation) = 0;
    word(MarovinSettings::defaultStation) = 3;
    RW_VAR v = makeVar(1, 0x20, 7, 2);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 2);
    EXPECT_EQ(v.station, 3);
    EXPECT_EQ(PLC_driver.onceReadList.at(0).station, 3);
    EXPECT_EQ(PLC_driver.onceReadList.at(1).station, 3);

    word(MarovinSettings::multiStation) = 1;
    RW_VAR w = makeVar(1, 0x20, 7, 1);
    EXPECT_EQ(AddListOnceReadVar(&w, 0), 3);
    EXPECT_EQ(PLC_driver.onceReadList.at(2).station, 7);
}

TEST_F(RegistrationTest, OnceReadDuplicatesPerRequester)
{
    struct Row {
        const char *what;
        int ownerType, ownerId, address, count, expected;
    } rows[] = {
        {"first", 1, 1, 0x10, 3, 3},
        {"same requester", 1, 1, 0x10, 3, 3},
        {"other ownerType", 2, 1, 0x10, 3, 6},
        {"other ownerId", 1, 2, 0x10, 1, 7},
        {"overlap: only the new word", 1, 1, 0x11, 3, 8},
    };
    for (const Row &r : rows) {
        RW_VAR v = makeVar(1, r.address, 1, r.count);
        v.ownerType = r.ownerType;
        v.ownerId = r.ownerId;
        EXPECT_EQ(AddListOnceReadVar(&v, 0), r.expected) << r.what;
    }
    EXPECT_EQ(PLC_driver.onceReadList.last().address, 0x13);

    // Plain append takes duplicates and does not parse or edit the record.
    RW_VAR raw = makeVar(1, 0x10);
    raw.ownerType = 1;
    raw.ownerId = 1;
    raw.addressText = "zz";
    raw.remoteArg1 = -1;
    const std::string before = describe(raw);
    EXPECT_EQ(AddListOnceReadVar(&raw, 1), 9);
    EXPECT_EQ(describe(raw), before);
    EXPECT_EQ(describe(PLC_driver.onceReadList.last()), before);
}

TEST_F(RegistrationTest, OnceReadStopsAtTheListLimit)
{
    for (int i = 0; i < 1022; ++i)
        PLC_driver.onceReadList.append(makeVar(3, i));
    RW_VAR v = makeVar(1, 0x100, 1, 5);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 1024);
    EXPECT_EQ(piecesOf(PLC_driver.onceReadList).back(), Piece(0x101, 1));
    EXPECT_EQ(Piece(v.address, v.count), Piece(0x101, 1));

    RW_VAR more = makeVar(1, 0x200, 1, 1);
    EXPECT_EQ(AddListOnceReadVar(&more, 0), 1024);
    EXPECT_EQ(AddListOnceReadVar(&more, 1), 1025);
}

TEST_F(RegistrationTest, HugeCountsStayBounded)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point t0 = Clock::now();

    RW_VAR v = makeVar(1, 0x1000, 1, INT_MAX);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 1024);
    EXPECT_EQ(piecesOf(PLC_driver.onceReadList).back(), Piece(0x1000 + 1023, 1));
    EXPECT_EQ(Piece(v.address, v.count), Piece(0x1000 + 1023, 1));
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 1024);  // already full

    // Pieces whose address would pass INT_MAX are not made.
    resetDriver();
    SetComInfo(settings);
    word(MarovinSettings::maxUnits) = 1;
    RW_VAR bits = makeVar(0, INT_MAX - 10, 1, INT_MAX);
    bits.addressText = "12";
    EXPECT_EQ(AddListOnceReadVar(&bits, 0), 11);
    EXPECT_EQ(piecesOf(PLC_driver.onceReadList).back(), Piece(INT_MAX, 1));

    resetDriver();
    SetComInfo(settings);
    RW_VAR wide = makeVar(2, 0, 1, INT_MAX);
    wide.addressText = "7FFFFFFF";
    EXPECT_EQ(AddListOnceReadVar(&wide, 0), 1);
    EXPECT_EQ(piecesOf(PLC_driver.onceReadList), std::vector<Piece>{Piece(INT_MAX, 2)});

    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 1.0);
}

}  // namespace
