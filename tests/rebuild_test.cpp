// Rebuilding the cyclic read list, and the block routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <functional>
#include <random>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

// "station:area:address/count" of every read-list entry.
std::string entries()
{
    std::string out;
    for (const RW_VAR &v : PLC_driver.readList)
        out += (out.empty() ? "" : " ") + std::to_string(v.station) + ":" + std::to_string(v.areaCode) + ":"
            + std::to_string(v.address) + "/" + std::to_string(v.count);
    return out;
}

class Rebuild : public DriverTest {};

TEST_F(Rebuild, RepeatsSkipsAndStations)
{
    const struct {
        const char *what;
        int multiStation, defaultStation;
        std::vector<HOSTVAR> hosts;
        const char *expected;
    } rows[] = {
        {"word repeats", 1, 1, {hostVar(1, "10"), hostVar(1, "10"), hostVar(1, "11")}, "1:1:16/1 1:1:17/1"},
        {"one status-bit entry per station", 1, 1, {hostVar(0, "2"), hostVar(0, "36")}, "1:0:2/1"},
        {"status bits of two stations", 1, 1, {hostVar(0, "2"), hostVar(0, "36", 2)}, "1:0:2/1 2:0:36/1"},
        {"single station: all on the default", 0, 5, {hostVar(1, "10"), hostVar(1, "10", 2), hostVar(3, "10", 9, 2)},
         "5:1:16/1 5:3:16/2"},
        {"rejected texts are skipped", 1, 1,
         {hostVar(0, "13"), hostVar(1, "G"), hostVar(3, "-10"), hostVar(2, "", 1, 2), hostVar(2, "4", 1, 2)},
         "1:2:4/2"},
        {"count, area and station are part of the key", 1, 1,
         {hostVar(1, "10"), hostVar(1, "10", 1, 2), hostVar(3, "10"), hostVar(1, "10", 2), hostVar(1, "10", 1, 2)},
         "1:1:16/1 1:1:16/2 1:3:16/1 2:1:16/1"},
        {"odd records kept as given", 1, 1,
         {hostVar(1, "10", 1, -7), hostVar(1, "10", 1, -7), hostVar(2, "7FFFFFFF", 255, INT_MAX),
          hostVar(255, "10", 0, INT_MIN)},
         "1:1:16/-7 255:2:2147483647/2147483647 0:255:16/-2147483648"},
    };
    for (const auto &r : rows) {
        word(S::multiStation) = r.multiStation;
        word(S::defaultStation) = r.defaultStation;
        QList<HOSTVAR> hosts;
        for (const HOSTVAR &h : r.hosts)
            hosts.append(h);
        const int n = ReCreatReadVarList(&hosts);
        EXPECT_EQ(n, PLC_driver.readList.size()) << r.what;
        EXPECT_EQ(entries(), r.expected) << r.what;
    }
    // Each odd entry goes through a cycle without harm.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(exchangeGood(), 1);
}

TEST_F(Rebuild, EntriesAreReadTemplatesAndStartANewCycle)
{
    word(S::remoteMode) = 3;
    word(S::localLinkNo) = 6;
    PLC_driver.readList << makeVar(1, 999);
    PLC_driver.writeList << makeVar(1, 1);
    PLC_driver.onceReadList << makeVar(1, 2);
    PLC_driver.goodReplies = 12;
    word(S::finishFlag) = 1;
    QList<HOSTVAR> hosts;
    HOSTVAR h = hostVar(4, "1a", 2, 2);
    h.kind = 0x5A;
    h.hostWord = -7;
    h.text = "screen1";
    hosts << h;
    EXPECT_EQ(ReCreatReadVarList(&hosts), 1);
    ASSERT_EQ(PLC_driver.readList.size(), 1);
    const RW_VAR &e = PLC_driver.readList.at(0);
    // ownerType ownerId accessMode remoteFlag linkNo | texts | area address station count | remote args
    EXPECT_EQ(QString("%1 %2 %3 %4 %5 | %6 %7 | %8 %9 %10 %11 | %12 %13")
                  .arg(e.ownerType).arg(e.ownerId).arg(e.accessMode).arg(e.remoteFlag).arg(e.linkNo)
                  .arg(e.hostText).arg(e.addressText).arg(e.areaCode).arg(e.address).arg(e.station)
                  .arg(e.count).arg(e.remoteArg1).arg(e.remoteArg2).toStdString(),
              "0 -1 0 3 6 | screen1 1a | 4 26 2 2 | 0 0");
    EXPECT_TRUE(e.data.isEmpty());
    EXPECT_EQ(PLC_driver.goodReplies + word(S::finishFlag), 0);
    EXPECT_EQ(PLC_driver.writeList.size() + PLC_driver.onceReadList.size(), 2);

    // A list whose records are all skipped still starts a new cycle; an empty
    // one only empties the read list; null or no settings change nothing.
    PLC_driver.goodReplies = 4;
    word(S::finishFlag) = 1;
    hosts = QList<HOSTVAR>() << hostVar(0, "13");
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_EQ(PLC_driver.goodReplies + word(S::finishFlag), 0);
    PLC_driver.readList << makeVar(1, 5);
    PLC_driver.goodReplies = 4;
    word(S::finishFlag) = 1;
    hosts.clear();
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_TRUE(PLC_driver.readList.isEmpty());
    EXPECT_EQ(PLC_driver.goodReplies + word(S::finishFlag), 5);
    PLC_driver.readList << makeVar(1, 5);
    EXPECT_EQ(ReCreatReadVarList(nullptr), 0);
    hosts << hostVar(1, "10");
    SetComInfo(nullptr);
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_EQ(entries(), "1:1:5/1");
}

// Ten times the records must cost about ten times as much, not a hundred. The
// growth is measured against that of plainly appending the same records, so
// that cache misses on a busy machine, under sanitizers or emulation, count alike.
TEST_F(Rebuild, LargeHostListGrowsLinearly)
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
        const double rebuild = best([&] { ReCreatReadVarList(&hosts); });
        EXPECT_EQ(PLC_driver.readList.size(), n * 3 / 4 + 1);
        const double append = best([&] {
            PLC_driver.readList.clear();
            for (int i = 0; i < n; ++i) {
                RW_VAR v = makeVar(1 + (i / 4) % 2, i);
                AddListReadVar(&v);
            }
        });
        growth[0] = rebuild / growth[0];
        growth[1] = append / growth[1];
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

TEST(BlockRoutines, SortIsStableByAddress)
{
    QList<RW_VAR> list = varList({{5, 1}, {3, 0}, {5, 2}, {1, 0}});
    Bubble_Sort(&list);
    EXPECT_EQ(pieces(list), "1/0 3/0 5/1 5/2");
    std::mt19937 rng(5);
    std::vector<std::pair<int, int>> many;
    for (int i = 0; i < 300; ++i)
        many.emplace_back(static_cast<int>(rng() % 20) - 5, i);
    QList<RW_VAR> big = varList(many);
    std::stable_sort(many.begin(), many.end(), [](auto a, auto b) { return a.first < b.first; });
    Bubble_Sort(&big);
    EXPECT_EQ(pieces(big), pieces(varList(many)));
    Bubble_Sort(nullptr);
}

TEST(BlockRoutines, CuttingIntoPieces)
{
    const struct {
        int total, piece, address;
        const char *pieces;
    } rows[] = {
        {10, 4, 100, "100/4 104/4 108/2"}, {8, 4, 100, "100/4 104/4"},
        {4, 4, 100, "100/7"},  {3, 4, 100, "100/7"}, {5, 0, 100, "100/7"}, {5, -2, 100, "100/7"},  // one unchanged copy
        {5, 2, -3, "-3/2 -1/2 1/1"},       {6, 2, INT_MAX - 2, "2147483645/2 2147483647/2"},
    };
    for (const auto &r : rows) {
        RW_VAR templ = makeVar(1, r.address, 1, 7);
        templ.ownerType = 4;
        QList<RW_VAR> target = varList({{-9, -9}});
        WhetherGroup(r.total, r.piece, &templ, &target);
        EXPECT_EQ(pieces(target), std::string("-9/-9 ") + r.pieces) << r.total << "/" << r.piece;
        EXPECT_EQ(pieces(QList<RW_VAR>() << templ), pieces(QList<RW_VAR>() << target.last()));
        EXPECT_EQ(target.last().ownerType, 4);
    }
    RW_VAR templ = makeVar(1, 1);
    QList<RW_VAR> target;
    WhetherGroup(10, 4, nullptr, &target);
    WhetherGroup(10, 4, &templ, nullptr);
    EXPECT_TRUE(target.isEmpty());
}

class Blocks : public DriverTest {};

TEST_F(Blocks, WordAndBitBlocks)
{
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
        {true, 64, {{3, 2}, {5, 1}, {20, 4}}, "0/4"},
        // Whole bytes: the first block rounds up, grown and later blocks take one more.
        {true, 64, {{0, 8}}, "0/1"},
        {true, 64, {{0, 8}, {8, 8}}, "0/3"},
        {true, 16, {{0, 8}, {72, 8}}, "0/1 72/2"},
        {true, 16, {{0, 1}, {75, 2}}, "0/1 72/1"},
        {true, 64, {{1, 1}, {6, 2}}, "0/1"},
    };
    for (const auto &r : rows) {
        PLC_driver.readList.clear();
        QList<RW_VAR> input = varList(r.input);
        const int n = r.bits ? BitVarReCreat(&input, r.maxLength, 0) : WordVarReCreat(&input, r.maxLength, 0);
        EXPECT_EQ(n, PLC_driver.readList.size()) << r.blocks;
        EXPECT_EQ(pieces(PLC_driver.readList), r.blocks);
        EXPECT_EQ(pieces(input), pieces(varList(r.input)));
    }
    // The initial count names the growing entry.
    PLC_driver.readList = varList({{500, 1}, {600, 1}});
    QList<RW_VAR> words = varList({{0, 2}, {10, 2}, {40, 4}});
    EXPECT_EQ(WordVarReCreat(&words, 32, 2), 4);
    EXPECT_EQ(pieces(PLC_driver.readList), "500/1 600/1 0/12 40/4");
    PLC_driver.readList.clear();
    EXPECT_EQ(WordVarReCreat(&words, 32, 10), 12);  // a count that names no entry still counts
    EXPECT_EQ(pieces(PLC_driver.readList), "0/2 40/4");
    PLC_driver.readList.clear();
    QList<RW_VAR> bits = varList({{3, 2}, {20, 4}}), empty;
    EXPECT_EQ(BitVarReCreat(&bits, 64, -5), -4);
    EXPECT_EQ(pieces(PLC_driver.readList), "0/1");
    EXPECT_EQ(WordVarReCreat(&empty, 32, 7) + BitVarReCreat(&empty, 32, 7), 14);
    EXPECT_EQ(WordVarReCreat(nullptr, 32, 3) + BitVarReCreat(nullptr, 32, 3), 6);
}

}  // namespace
