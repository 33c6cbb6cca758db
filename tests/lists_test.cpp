// Variable lists: the set-up entry points and the address parser,
// registration into the read, write and once-read lists, the rebuild of the
// cyclic read list, and the block routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <iterator>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

class Lists : public DriverTest {};

TEST(AddressParse, TextsPerArea)
{
    const char16_t arabic[] = {0x0661, 0x0662, 0}, fullWidth[] = {0xFF11, 0xFF12, 0};
    const QString nul(QChar(0));
    const struct {
        int areaCode;
        QString text;
        int expected;
    } rows[] = {
        // Status bits: decimal as Qt's toInt reads it (blanks, a sign); which numbers, the loop below.
        {0, " 12", 12}, {0, "\t39\n", 39}, {0, "+12", 12}, {0, "012", 12}, {0, "c", -1}, {0, "0x0C", -1}, {0, "", -1},
        {0, QString(), -1}, {0, "1 2", -1}, {0, "12abc", -1}, {0, nul + "12", -1}, {0, "12" + nul, -1},
        {0, QString::fromUtf16(arabic), -1}, {0, QString::fromUtf16(fullWidth), -1}, {0, "2147483659", -1},
        // Every other area code: hexadecimal, any value that fits an int.
        {1, "7095", 0x7095}, {1, "1a", 26}, {1, "AF09", 0xAF09}, {2, "fedcb", 0xFEDCB}, {1, "0x10", 16},
        {4, "7FFFFFFF", INT_MAX}, {1, "80000000", -1}, {1, "FFFFFFFF", -1}, {3, "-10", -16},
        {3, "-80000000", INT_MIN}, {1, "-0", 0}, {1, "G1", -1}, {1, "g", -1}, {1, ":", -1}, {1, "/", -1},
        {1, "@", -1}, {1, "`", -1}, {1, "+", -1}, {1, "1,2", -1}, {3, "", -1}, {1, QString(), -1},
        {1, QString(10000, QChar('0')) + "1", 1}, {1, QString(10000, QChar('F')), -1},
        {7, "10", 16}, {-3, "10", 16}, {255, "A", 10}, {INT_MIN, "10", 16}, {INT_MAX, "1A", 26},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(StringAddressToInt(r.areaCode, r.text), r.expected) << r.areaCode << " [" << r.text.left(20).toStdString() << "]";
        EXPECT_EQ(PLCAddressChangeIntef(r.areaCode, r.text), r.expected);
    }
    const int accepted[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};
    for (int bit = -5; bit <= 300; ++bit) {
        const bool listed = std::find(std::begin(accepted), std::end(accepted), bit) != std::end(accepted);
        EXPECT_EQ(StringAddressToInt(0, QString::number(bit)), listed ? bit : -1) << bit;
    }
}

TEST_F(Lists, SettingsRecordPointersAndCallbacks)
{
    // SetComInfo zeroes words 10 and 13 and nothing else; a record replaced is not written again.
    int record[S::wordCount + 2];
    for (int i = 0; i < S::wordCount + 2; ++i)
        record[i] = 100 + i;
    SetComInfo(record);
    EXPECT_EQ(marovin::settingsRecord(), record);
    for (int i = 0; i < S::wordCount + 2; ++i)
        EXPECT_EQ(record[i], i == S::cleared10 || i == S::cleared13 ? 0 : 100 + i) << "word " << i;
    SetComInfo(settings);
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(record[S::finishFlag] * 10 + word(S::finishFlag), 1171);
    // The host's pointers are kept as given and never followed, whatever they point to.
    void *const bad[3] = {reinterpret_cast<void *>(1), reinterpret_cast<void *>(8),
                          reinterpret_cast<void *>(~static_cast<std::uintptr_t>(0))};
    FlashLocalRegister(bad[0], bad[1], bad[2]);
    EXPECT_TRUE(LB == bad[0] && LW == bad[1] && RWI == bad[2]);
    PLC_driver.writeList << writeVar(1, 0x20, "01 00");
    EXPECT_EQ(exchangeGood(), 1);
    FlashLocalRegister(nullptr, nullptr, nullptr);
    EXPECT_TRUE(LB == nullptr && LW == nullptr && RWI == nullptr);
    OnceReadDoneFunc once = [](int, int, int, int) { return 1; };
    OwnerNotifyFunc notify = [](QList<RW_VAR> *, int, int) { return 2; };
    RegistCallBackFuncIntf(once, notify);
    EXPECT_TRUE(PLC_driver.onceReadDone == once && PLC_driver.ownerNotify == notify);
    SetComInfo(nullptr);
    EXPECT_EQ(PLC_driver.settings, nullptr);
}

// The driver's copy shares no storage with the host's record.
void expectOwnCopy(const RW_VAR &copy, const RW_VAR &host)
{
    EXPECT_EQ(describe(copy), describe(host));
    EXPECT_NE(copy.data.constData(), host.data.constData());
    EXPECT_NE(copy.hostText.constData(), host.hostText.constData());
    EXPECT_NE(copy.addressText.constData(), host.addressText.constData());
}

TEST_F(Lists, ReadAndWriteRegistration)
{
    // RW_VAR's fields in order.
    RW_VAR v{0, 0, 1, 0, 0, 0, "screen", "not an address", 99, -5, INT_MIN, INT_MIN, 0, 0, hex("AA")};
    EXPECT_EQ(AddListReadVar(&v) + AddListReadVar(nullptr), 1);
    expectOwnCopy(PLC_driver.readList.at(0), v);
    for (int i = 0; i < 2000; ++i)
        AddListReadVar(&v);
    EXPECT_EQ(PLC_driver.readList.size(), 2001) << "no limit";

    // A write replaces the first waiting write with the same station, area,
    // address and count, never entry 0 (being sent), only in modes other than 1.
    RW_VAR first{0, 0, 1, 0, 0, 0, "screen", "100", 1, 0x100, 1, 1, 0, 0, hex("01 00")};
    EXPECT_EQ(AddListWriteVar(&first, 0), 1);
    expectOwnCopy(PLC_driver.writeList.at(0), first);
    RW_VAR same = writeVar(1, 0x100, "02 00");
    EXPECT_EQ(AddListWriteVar(&same, 0), 2);
    const int keys[][4] = {{2, 1, 0x100, 1}, {1, 3, 0x100, 1}, {1, 1, 0x101, 1}, {1, 1, 0x100, 2}};
    for (const auto &k : keys) {
        RW_VAR w = writeVar(k[1], k[2], "05 00", k[0], k[3]);
        AddListWriteVar(&w, 0);
    }
    RW_VAR again = writeVar(1, 0x100, "03 00");
    EXPECT_EQ(AddListWriteVar(&again, 1), 7) << "mode 1 appends";
    RW_VAR n{9, 0, 1, 0, 0, 0, "screen", "100", 1, 0x100, 1, 1, -1, 0, hex("FF 7F")};
    const std::string before = describe(n);
    for (int mode : {0, -1, 2, INT_MAX, INT_MIN})
        EXPECT_EQ(AddListWriteVar(&n, mode), 7) << mode;
    EXPECT_EQ(describe(n), before);
    expectOwnCopy(PLC_driver.writeList.at(1), n);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(0).data) + "|" + toHex(PLC_driver.writeList.at(6).data), "01 00|03 00");

    // At most 1024 waiting writes; a waiting match is still replaced in a full list.
    PLC_driver.writeList.clear();
    for (int i = 0; i < 1024; ++i)
        PLC_driver.writeList.append(writeVar(1, i, "01 00"));
    bool accepted = true;
    RW_VAR extra = writeVar(1, 5000, "01 00"), repl = writeVar(1, 700, "77 00");
    EXPECT_EQ(marovin::registerWrite(&extra, 0, &accepted), 1024);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(marovin::registerWrite(&repl, 0, &accepted), 1024);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(700).data), "77 00");
    EXPECT_EQ(marovin::registerWrite(&extra, 1, nullptr) + AddListWriteVar(nullptr, 1), 1025);
    EXPECT_EQ(marovin::registerWrite(nullptr, 0, &accepted), 0);
    EXPECT_FALSE(accepted);
}

TEST_F(Lists, OnceReadPieces)
{
    const struct {
        int areaCode;
        const char *text;
        int address, count, maxUnits;
        const char *pieces;
    } rows[] = {
        {4, "100", 0, 5, 4, "256/2 258/2 260/1"}, {1, "10", 0, 3, 0, "16/1 17/1 18/1"},  // maxUnits unused
        {3, "1F", 99, 1, 4, "31/1"},               {5, "0", 0, 3, 4, "0/2 2/1"},  // address 0 is an address
        {0, "12", 40, 10, 4, "40/4 44/4 48/2"},   {0, "39", 40, 8, 4, "40/4 44/4"},  // the record's address
        {7, "10", 5, 9, 4, "5/4 9/4 13/1"},       {-2, "3", 1, 2, 3, "1/2"},
        {1, "10", 0, 0, 4, ""},                    {2, "10", 0, -1, 4, "16/-1"},
        {2, "10", 0, -5, 4, ""},                   {0, "12", 0, INT_MIN, 3, ""},
        {0, "12", 0, INT_MAX, INT_MAX, "0/2147483647"}, {1, "7FFFFFFF", 0, 3, 4, "2147483647/1"},  // no wrap
        {2, "7FFFFFFE", 0, 6, 4, "2147483646/2"}, {0, "12", INT_MAX - 5, 100, 4, "2147483642/4 2147483646/4"},
    };
    for (const auto &r : rows) {
        PLC_driver.onceReadList.clear();
        word(S::maxUnits) = r.maxUnits;
        // RW_VAR's fields in order.
        RW_VAR v{0, 0, 0, 0, 0, 0, "", r.text, r.areaCode, r.address, 1, r.count, -1, 9, QByteArray()};
        const int n = AddListOnceReadVar(&v, 0);
        EXPECT_EQ(n, PLC_driver.onceReadList.size());
        EXPECT_EQ(pieces(PLC_driver.onceReadList), r.pieces) << r.areaCode << " " << r.text << " count " << r.count;
        if (n) {
            EXPECT_EQ(describe(v), describe(PLC_driver.onceReadList.last())) << "the record tells the last piece";
        }
        EXPECT_EQ(v.remoteArg1 + v.remoteArg2, 0);
    }
    // Refused: the record and the list are left alone.
    const struct {
        int areaCode;
        const char *text;
        int maxUnits;
    } refused[] = {{0, "13", 4}, {1, "G1", 4}, {3, "-10", 4}, {1, "", 4}, {0, "12", 0}, {9, "10", -3}, {0, "12", INT_MIN}};
    word(S::multiStation) = 0;
    for (const auto &r : refused) {
        word(S::maxUnits) = r.maxUnits;
        RW_VAR v{0, 0, 0, 0, 0, 0, "", r.text, r.areaCode, 40, 9, 10, -1, 0, QByteArray()};
        const std::string before = describe(v);
        EXPECT_EQ(AddListOnceReadVar(&v, 0), 0) << r.areaCode << " " << r.text;
        EXPECT_EQ(describe(v), before) << r.areaCode << " " << r.text;
    }
    EXPECT_EQ(pieces(PLC_driver.onceReadList), "2147483642/4 2147483646/4");
    EXPECT_EQ(AddListOnceReadVar(nullptr, 0) + AddListOnceReadVar(nullptr, 1), 0);
}

TEST_F(Lists, OnceReadStationsDuplicatesAndLimit)
{
    word(S::multiStation) = 0;
    word(S::defaultStation) = 3;
    RW_VAR v = makeVar(1, 0x20, 7, 2);
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 2);
    EXPECT_EQ(v.station * 10 + PLC_driver.onceReadList.at(1).station, 33) << "the default station";
    word(S::multiStation) = 1;
    PLC_driver.onceReadList.clear();
    const int rows[][5] = {
        // ownerType, ownerId, address, count, list size afterwards
        {1, 1, 0x10, 3, 3}, {1, 1, 0x10, 3, 3},  // the same requester asks again
        {2, 1, 0x10, 3, 6}, {1, 2, 0x10, 1, 7},  // other requesters
        {1, 1, 0x11, 3, 8},                      // overlapping: only the new word
    };
    for (const auto &r : rows) {
        // RW_VAR's fields in order.
        RW_VAR w{r[0], r[1], 0, 0, 0, 0, "", QString::number(r[2], 16), 1, r[2], 7, r[3], 0, 0, QByteArray()};
        EXPECT_EQ(AddListOnceReadVar(&w, 0), r[4]) << r[0] << "/" << r[1];
    }
    EXPECT_EQ(PLC_driver.onceReadList.last().address * 10 + PLC_driver.onceReadList.last().station, 0x13 * 10 + 7);
    // Plain append takes duplicates and neither parses nor edits the record.
    RW_VAR raw{1, 1, 1, 0, 0, 0, "screen", "zz", 1, 0x10, 7, 1, 0, 0, hex("01")};  // fields in order
    EXPECT_EQ(AddListOnceReadVar(&raw, 1), 9);
    expectOwnCopy(PLC_driver.onceReadList.last(), raw);
    // The list holds at most 1024 pieces; counts up to INT_MAX are cut there, not walked through.
    const auto start = std::chrono::steady_clock::now();
    for (int areaCode : {1, 5, 0}) {
        PLC_driver.onceReadList.clear();
        word(S::maxUnits) = areaCode ? 4 : 1;
        RW_VAR big = makeVar(areaCode, 0, 1, INT_MAX);
        big.addressText = areaCode ? "1000" : "12";
        EXPECT_EQ(AddListOnceReadVar(&big, 0), 1024) << areaCode;
        EXPECT_EQ(pieces(QList<RW_VAR>() << big), areaCode == 1 ? "5119/1" : areaCode ? "6142/2" : "1023/1");
    }
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    RW_VAR more = makeVar(1, 0x200);
    for (int mode : {0, -1, 2, INT_MIN})
        EXPECT_EQ(AddListOnceReadVar(&more, mode), 1024) << mode;
    EXPECT_EQ(AddListOnceReadVar(&more, 1), 1025);
}

// "station:area:address/count" of every read-list entry.
std::string entries()
{
    std::string out;
    for (const RW_VAR &v : PLC_driver.readList)
        out += (out.empty() ? "" : " ") + std::to_string(v.station) + ":" + std::to_string(v.areaCode) + ":"
            + std::to_string(v.address) + "/" + std::to_string(v.count);
    return out;
}

TEST_F(Lists, RebuildRepeatsSkipsAndStations)
{
    const struct {
        int multiStation, defaultStation;
        QList<HOSTVAR> hosts;
        const char *expected;
    } rows[] = {
        {1, 1, {hostVar(1, "10"), hostVar(1, "10"), hostVar(1, "11")}, "1:1:16/1 1:1:17/1"},  // a repeat
        {1, 1, {hostVar(0, "2"), hostVar(0, "36"), hostVar(0, "36", 2), hostVar(1, "0", 1, 0)},
         "1:0:2/1 2:0:36/1 1:1:0/0"},  // status bits by station, apart from any other key
        {0, 5, {hostVar(1, "10"), hostVar(1, "10", 2), hostVar(3, "10", 9, 2)}, "5:1:16/1 5:3:16/2"},  // single station
        {1, 1, {hostVar(0, "13"), hostVar(1, "G"), hostVar(3, "-10"), hostVar(2, "", 1, 2), hostVar(2, "4", 1, 2)},
         "1:2:4/2"},  // rejected texts are skipped
        {1, 1, {hostVar(1, "10"), hostVar(1, "10", 1, 2), hostVar(3, "10"), hostVar(1, "10", 2), hostVar(1, "10", 1, 2)},
         "1:1:16/1 1:1:16/2 1:3:16/1 2:1:16/1"},  // count, area and station are part of the key
        {1, 1, {hostVar(1, "10", 1, -7), hostVar(2, "7FFFFFFF", 255, INT_MAX), hostVar(255, "10", 0, INT_MIN)},
         "1:1:16/-7 255:2:2147483647/2147483647 0:255:16/-2147483648"},  // odd records kept as given
    };
    for (const auto &r : rows) {
        word(S::multiStation) = r.multiStation;
        word(S::defaultStation) = r.defaultStation;
        QList<HOSTVAR> hosts = r.hosts;
        const int n = ReCreatReadVarList(&hosts);
        EXPECT_EQ(n, PLC_driver.readList.size());
        EXPECT_EQ(entries(), r.expected);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(exchangeGood(), 1) << "each odd entry goes through a cycle without harm";
}

TEST_F(Lists, RebuildMakesReadTemplatesAndStartsANewCycle)
{
    word(S::remoteMode) = 3;
    word(S::localLinkNo) = 6;
    PLC_driver.writeList << makeVar(1, 1);
    PLC_driver.goodReplies = 12;
    word(S::finishFlag) = 1;
    QList<HOSTVAR> hosts({{0x5A, 4, 2, -7, "1a", "screen1", 2}});  // HOSTVAR's fields in order
    EXPECT_EQ(ReCreatReadVarList(&hosts), 1);
    ASSERT_EQ(PLC_driver.readList.size(), 1);
    EXPECT_EQ(describe(PLC_driver.readList.at(0)), "0 -1 0 3 6 0 [screen1] [1a] 4 26 2 2 0 0 ");
    EXPECT_EQ(PLC_driver.goodReplies + word(S::finishFlag), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1);
    // A list whose records are all skipped still starts a new cycle; an empty one
    // only empties the read list; null changes nothing (no settings: host_contract_test).
    PLC_driver.goodReplies = 4;
    word(S::finishFlag) = 1;
    hosts = QList<HOSTVAR>({hostVar(0, "13")});
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_EQ(PLC_driver.goodReplies + word(S::finishFlag), 0);
    PLC_driver.readList << makeVar(1, 5);
    PLC_driver.goodReplies = 4;
    word(S::finishFlag) = 1;
    hosts.clear();
    EXPECT_EQ(ReCreatReadVarList(&hosts) + ReCreatReadVarList(nullptr), 0);
    EXPECT_EQ(PLC_driver.goodReplies + word(S::finishFlag) + PLC_driver.readList.size(), 5);
}

// Ten times the records must cost about ten times as much, not a hundred. The
// growth is measured against that of plainly appending the same records, so
// that cache misses on a busy machine, under sanitizers or emulation, count alike.
TEST_F(Lists, RebuildGrowsLinearly)
{
    auto best = [](const std::function<void()> &f) {
        double b = 1e9;
        for (int round = 0; round < 7; ++round) {
            const auto t0 = std::chrono::steady_clock::now();
            f();
            b = std::min(b, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        }
        return b;
    };
    double growth[2] = {1, 1};  // rebuild, append: time for 20k records over time for 2k
    for (int n : {2000, 20000}) {
        // Every fourth record repeats the first of its group; two status bits of one station.
        QList<HOSTVAR> hosts;
        for (int i = 0; i < n; ++i)
            hosts << hostVar(1 + (i / 4) % 2, QString::number(i % 4 == 3 ? i - 3 : i, 16).toLatin1().constData());
        hosts << hostVar(0, "12") << hostVar(0, "39");
        growth[0] = best([&] { ReCreatReadVarList(&hosts); }) / growth[0];
        EXPECT_EQ(PLC_driver.readList.size(), n * 3 / 4 + 1);
        growth[1] = best([&] {
            PLC_driver.readList.clear();
            for (int i = 0; i < n; ++i) {
                RW_VAR v = makeVar(1 + (i / 4) % 2, i);
                AddListReadVar(&v);
            }
        }) / growth[1];
    }
    EXPECT_LT(growth[0], 4 * growth[1]) << "rebuild grew " << growth[0] << " times, appending " << growth[1];
}

QList<RW_VAR> varList(const std::vector<std::pair<int, int>> &addressCounts)
{
    QList<RW_VAR> out;
    for (const auto &p : addressCounts)
        out << makeVar(1, p.first, 1, p.second);
    return out;
}

TEST_F(Lists, BlockRoutines)
{
    QList<RW_VAR> list = varList({{5, 1}, {3, 0}, {5, 2}, {1, 0}, {-2, 7}});
    Bubble_Sort(&list);
    Bubble_Sort(nullptr);
    EXPECT_EQ(pieces(list), "-2/7 1/0 3/0 5/1 5/2") << "sorted by address, stable";
    const struct {
        int total, piece, address;
        const char *pieces;
    } cuts[] = {
        {10, 4, 100, "100/4 104/4 108/2"}, {8, 4, 100, "100/4 104/4"}, {4, 4, 100, "100/7"},  // one unchanged copy
        {5, 0, 100, "100/7"}, {5, -2, 100, "100/7"}, {5, 2, -3, "-3/2 -1/2 1/1"},
        {6, 2, INT_MAX - 2, "2147483645/2 2147483647/2"},
    };
    for (const auto &c : cuts) {
        RW_VAR templ = makeVar(1, c.address, 1, 7);
        QList<RW_VAR> target = varList({{-9, -9}});
        WhetherGroup(c.total, c.piece, &templ, &target);
        WhetherGroup(c.total, c.piece, nullptr, &target);
        WhetherGroup(c.total, c.piece, &templ, nullptr);
        EXPECT_EQ(pieces(target), std::string("-9/-9 ") + c.pieces) << c.total << "/" << c.piece;
        EXPECT_EQ(pieces(QList<RW_VAR>() << templ), pieces(QList<RW_VAR>() << target.last()));
    }
    const struct {
        bool bits;
        int maxLength;
        std::vector<std::pair<int, int>> input;
        const char *blocks;
    } rows[] = {
        {false, 32, {{0, 2}, {1, 1}, {10, 2}, {40, 4}}, "0/12 40/4"},
        {false, 12, {{0, 2}, {10, 2}}, "0/12"},  // exactly the maximum grows
        {false, 11, {{0, 2}, {10, 2}}, "0/2 10/2"},
        {false, 4, {{0, 10}, {12, 1}, {13, 2}}, "0/10 12/3"},  // a long variable is its own block
        {false, 8, {{0, 4}, {4, 1}}, "0/5"},  // a touching end is not inside
        // Whole bytes: the first block rounds up, grown and later blocks take one more.
        {true, 64, {{3, 2}, {5, 1}, {20, 4}}, "0/4"},  {true, 64, {{0, 8}}, "0/1"},
        {true, 64, {{0, 8}, {8, 8}}, "0/3"},           {true, 16, {{0, 8}, {72, 8}}, "0/1 72/2"},
        {true, 16, {{0, 1}, {75, 2}}, "0/1 72/1"},     {true, 64, {{1, 1}, {6, 2}}, "0/1"},
        {true, 64, {{0, 8}, {8, 0}}, "0/2"},  // an empty variable right at the end grows the block
    };
    for (const auto &r : rows) {
        PLC_driver.readList.clear();
        QList<RW_VAR> input = varList(r.input);
        const int n = r.bits ? BitVarReCreat(&input, r.maxLength, 0) : WordVarReCreat(&input, r.maxLength, 0);
        EXPECT_EQ(n, PLC_driver.readList.size());
        EXPECT_EQ(pieces(PLC_driver.readList), r.blocks);
        EXPECT_EQ(pieces(input), pieces(varList(r.input)));
    }
    // The initial count names the growing entry; one that names no entry still counts.
    PLC_driver.readList = varList({{500, 1}, {600, 1}});
    QList<RW_VAR> words = varList({{0, 2}, {10, 2}, {40, 4}}), bits = varList({{3, 2}, {20, 4}}), empty;
    EXPECT_EQ(WordVarReCreat(&words, 32, 2), 4);
    EXPECT_EQ(pieces(PLC_driver.readList), "500/1 600/1 0/12 40/4");
    PLC_driver.readList.clear();
    EXPECT_EQ(WordVarReCreat(&words, 32, 10), 12);
    EXPECT_EQ(BitVarReCreat(&bits, 64, -5), -4);
    EXPECT_EQ(WordVarReCreat(&words, 32, 4), 6) << "a count one past the list's end names no entry";
    EXPECT_EQ(pieces(PLC_driver.readList), "0/2 40/4 0/1 0/2 40/4");
    EXPECT_EQ(WordVarReCreat(&empty, 32, 7) + BitVarReCreat(&empty, 32, 7) + WordVarReCreat(nullptr, 32, 3)
                  + BitVarReCreat(nullptr, 32, 3), 20);
}

}  // namespace
