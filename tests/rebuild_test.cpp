// Rebuilding the cyclic read list, and the block routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <random>
#include <tuple>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;

namespace {

typedef std::tuple<int, int, int, int> Entry;  // (station, areaCode, address, count)
typedef std::tuple<int, int> Piece;            // (address, count)

HOSTVAR host(int areaCode, int station, const char *text, int length, const char *second = "")
{
    HOSTVAR h{};
    h.kind = 0x5A;
    h.areaCode = static_cast<unsigned char>(areaCode);
    h.station = static_cast<unsigned char>(station);
    h.hostWord = -7;
    h.addressText = text;
    h.text = second;
    h.length = length;
    return h;
}

std::vector<Entry> entriesOf(const QList<RW_VAR> &list)
{
    std::vector<Entry> out;
    for (const RW_VAR &v : list)
        out.emplace_back(v.station, v.areaCode, v.address, v.count);
    return out;
}

std::vector<Piece> piecesOf(const QList<RW_VAR> &list)
{
    std::vector<Piece> out;
    for (const RW_VAR &v : list)
        out.emplace_back(v.address, v.count);
    return out;
}

// The rebuild done the plain way: a scan of the new list for every record.
std::vector<RW_VAR> naiveRebuild(const QList<HOSTVAR> &hosts, int multiStation, int defaultStation)
{
    std::vector<RW_VAR> out;
    for (const HOSTVAR &h : hosts) {
        const int address = StringAddressToInt(h.areaCode, h.addressText);
        if (address < 0)
            continue;
        RW_VAR t;
        t.station = multiStation ? h.station : defaultStation;
        t.areaCode = h.areaCode;
        t.address = address;
        t.count = h.length;
        t.addressText = h.addressText;
        t.hostText = h.text;
        bool repeat = false;
        for (const RW_VAR &e : out) {
            if (t.areaCode == 0 ? (e.station == t.station && e.areaCode == t.areaCode)
                                : (e.station == t.station && e.areaCode == t.areaCode
                                   && e.count == t.count && e.address == t.address)) {
                repeat = true;
                break;
            }
        }
        if (!repeat)
            out.push_back(t);
    }
    return out;
}

class RebuildTest : public DriverTest {};

struct RebuildRow {
    const char *what;
    int multiStation, defaultStation;
    std::vector<HOSTVAR> hosts;
    std::vector<Entry> expected;
};

TEST_F(RebuildTest, RepeatsSkipsAndStations)
{
    const RebuildRow rows[] = {
        {"word repeats", 1, 1,
         {host(1, 1, "10", 1), host(1, 1, "10", 1), host(1, 1, "11", 1)},
         {Entry(1, 1, 16, 1), Entry(1, 1, 17, 1)}},
        {"one status-bit entry per station", 1, 1,
         {host(0, 1, "2", 1), host(0, 1, "36", 1)},
         {Entry(1, 0, 2, 1)}},
        {"status bits of two stations", 1, 1,
         {host(0, 1, "2", 1), host(0, 2, "36", 1)},
         {Entry(1, 0, 2, 1), Entry(2, 0, 36, 1)}},
        {"single station: all on the default", 0, 5,
         {host(1, 1, "10", 1), host(1, 2, "10", 1), host(3, 9, "10", 2)},
         {Entry(5, 1, 16, 1), Entry(5, 3, 16, 2)}},
        {"rejected texts are skipped", 1, 1,
         {host(0, 1, "13", 1), host(1, 1, "G", 1), host(3, 1, "-10", 1), host(2, 1, "", 2),
          host(2, 1, "4", 2)},
         {Entry(1, 2, 4, 2)}},
        {"count, area and station are part of the key", 1, 1,
         {host(1, 1, "10", 1), host(1, 1, "10", 2), host(3, 1, "10", 1), host(1, 2, "10", 1),
          host(1, 1, "10", 2)},
         {Entry(1, 1, 16, 1), Entry(1, 1, 16, 2), Entry(1, 3, 16, 1), Entry(2, 1, 16, 1)}},
        {"area with no name parses hexadecimal", 1, 1,
         {host(200, 3, "10", 4)},
         {Entry(3, 200, 16, 4)}},
    };
    for (const RebuildRow &r : rows) {
        word(MarovinSettings::multiStation) = r.multiStation;
        word(MarovinSettings::defaultStation) = r.defaultStation;
        QList<HOSTVAR> hosts;
        for (const HOSTVAR &h : r.hosts)
            hosts.append(h);
        EXPECT_EQ(ReCreatReadVarList(&hosts), static_cast<int>(r.expected.size())) << r.what;
        EXPECT_EQ(entriesOf(PLC_driver.readList), r.expected) << r.what;
    }
}

TEST_F(RebuildTest, EntriesAreReadTemplates)
{
    word(MarovinSettings::remoteMode) = 3;
    word(MarovinSettings::localLinkNo) = 6;
    PLC_driver.readList.append(makeVar(1, 999));
    RW_VAR w = makeVar(1, 1), o = makeVar(1, 2);
    PLC_driver.writeList.append(w);
    PLC_driver.onceReadList.append(o);
    PLC_driver.goodReplies = 12;
    word(MarovinSettings::finishFlag) = 1;

    QList<HOSTVAR> hosts;
    hosts.append(host(4, 2, "1a", 2, "screen1"));
    EXPECT_EQ(ReCreatReadVarList(&hosts), 1);
    ASSERT_EQ(PLC_driver.readList.size(), 1);
    const RW_VAR &e = PLC_driver.readList.at(0);
    // ownerType ownerId accessMode remoteFlag linkNo | texts | area address station count | remote args
    const QString got = QString("%1 %2 %3 %4 %5 | %6 %7 | %8 %9 %10 %11 | %12 %13")
                            .arg(e.ownerType).arg(e.ownerId).arg(e.accessMode).arg(e.remoteFlag)
                            .arg(e.linkNo).arg(e.hostText).arg(e.addressText).arg(e.areaCode)
                            .arg(e.address).arg(e.station).arg(e.count).arg(e.remoteArg1)
                            .arg(e.remoteArg2);
    EXPECT_EQ(got.toStdString(), "0 -1 0 3 6 | screen1 1a | 4 26 2 2 | 0 0");
    EXPECT_TRUE(e.data.isEmpty());

    EXPECT_EQ(PLC_driver.goodReplies, 0);
    EXPECT_EQ(word(MarovinSettings::finishFlag), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1);
    EXPECT_EQ(PLC_driver.onceReadList.size(), 1);
}

TEST_F(RebuildTest, EmptyAndAllSkippedHostLists)
{
    PLC_driver.readList.append(makeVar(1, 5));
    PLC_driver.goodReplies = 4;
    word(MarovinSettings::finishFlag) = 1;
    QList<HOSTVAR> hosts;
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_TRUE(PLC_driver.readList.isEmpty());
    EXPECT_EQ(word(MarovinSettings::finishFlag), 1);
    EXPECT_EQ(PLC_driver.goodReplies, 4);

    // A non-empty list starts a new cycle even when every record is skipped.
    PLC_driver.readList.append(makeVar(1, 5));
    hosts.append(host(0, 1, "13", 1));
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_TRUE(PLC_driver.readList.isEmpty());
    EXPECT_EQ(word(MarovinSettings::finishFlag), 0);
    EXPECT_EQ(PLC_driver.goodReplies, 0);
}

TEST_F(RebuildTest, NullListOrNoSettingsChangesNothing)
{
    PLC_driver.readList.append(makeVar(1, 5));
    word(MarovinSettings::finishFlag) = 1;
    EXPECT_EQ(ReCreatReadVarList(nullptr), 0);
    EXPECT_EQ(PLC_driver.readList.size(), 1);
    EXPECT_EQ(word(MarovinSettings::finishFlag), 1);

    QList<HOSTVAR> hosts;
    hosts.append(host(1, 1, "10", 1));
    SetComInfo(nullptr);
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_EQ(PLC_driver.readList.size(), 1);
    EXPECT_EQ(PLC_driver.readList.at(0).address, 5);
}

// Random host list with many repeats, every kind of record and bad texts.
QList<HOSTVAR> randomHosts(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    const char *bits[] = {"2", "5", "12", "39", "13", "x"};
    const char *words[] = {"0", "1", "2", "3", "1F", "G", "-4", ""};
    QList<HOSTVAR> out;
    for (int i = 0; i < n; ++i) {
        const int area = static_cast<int>(rng() % 7);
        const int station = static_cast<int>(rng() % 3);
        const int length = static_cast<int>(rng() % 3);
        if (area == 0)
            out.append(host(0, station, bits[rng() % 6], length, "b"));
        else
            out.append(host(area, station, words[rng() % 8], length, area % 2 ? "odd" : "even"));
    }
    return out;
}

TEST_F(RebuildTest, SameResultAsThePlainScan)
{
    for (int multiStation = 0; multiStation <= 1; ++multiStation) {
        word(MarovinSettings::multiStation) = multiStation;
        word(MarovinSettings::defaultStation) = 2;
        const QList<HOSTVAR> hosts = randomHosts(2000, 17u + multiStation);
        QList<HOSTVAR> input = hosts;
        const std::vector<RW_VAR> expected = naiveRebuild(hosts, multiStation, 2);
        ASSERT_GT(expected.size(), 20u);
        ASSERT_LT(expected.size(), 400u);
        EXPECT_EQ(ReCreatReadVarList(&input), static_cast<int>(expected.size()));
        ASSERT_EQ(PLC_driver.readList.size(), static_cast<int>(expected.size()));
        for (size_t i = 0; i < expected.size(); ++i) {
            const RW_VAR &got = PLC_driver.readList.at(static_cast<int>(i));
            EXPECT_EQ(Entry(got.station, got.areaCode, got.address, got.count),
                      Entry(expected[i].station, expected[i].areaCode, expected[i].address,
                            expected[i].count)) << i;
            EXPECT_EQ(got.addressText, expected[i].addressText) << i;
            EXPECT_EQ(got.hostText, expected[i].hostText) << i;
        }
    }
}

// Host list of n word records, every fourth repeating the first of its group,
// plus two status bits of one station.
QList<HOSTVAR> largeHostList(int n)
{
    QList<HOSTVAR> hosts;
    for (int i = 0; i < n; ++i) {
        const int address = i % 4 == 3 ? i - 3 : i;
        hosts.append(host(1 + (i / 4) % 2, 1, QString::number(address, 16).toLatin1().constData(), 1));
    }
    hosts.append(host(0, 1, "12", 1));
    hosts.append(host(0, 1, "39", 1));
    return hosts;
}

// Best of five rebuild times of `hosts`, in seconds.
double rebuildSeconds(QList<HOSTVAR> &hosts)
{
    using Clock = std::chrono::steady_clock;
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const Clock::time_point t0 = Clock::now();
        ReCreatReadVarList(&hosts);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// Ten times the records must cost about ten times as much, not a hundred:
// a ratio test holds under sanitizers and emulation alike (quadratic
// growth would give about 100, linear about 10; the margin is for a busy machine).
TEST_F(RebuildTest, LargeHostListGrowsLinearly)
{
    QList<HOSTVAR> small = largeHostList(10000);
    QList<HOSTVAR> large = largeHostList(100000);
    const double tSmall = rebuildSeconds(small);
    const double tLarge = rebuildSeconds(large);
    EXPECT_LT(tLarge, 50 * tSmall) << "10k: " << tSmall << " s, 100k: " << tLarge << " s";
    // 75,000 distinct word variables, the 25,000 repeats dropped, one status-bit entry.
    EXPECT_EQ(PLC_driver.readList.size(), 75001);
    EXPECT_EQ(PLC_driver.readList.last().areaCode, 0);
    EXPECT_EQ(PLC_driver.readList.last().address, 12);
}

RW_VAR var(int address, int count)
{
    RW_VAR v = makeVar(1, address, 1, count);
    return v;
}

QList<RW_VAR> varList(const std::vector<Piece> &pieces)
{
    QList<RW_VAR> out;
    for (const Piece &p : pieces)
        out.append(var(std::get<0>(p), std::get<1>(p)));
    return out;
}

TEST(BlockRoutines, SortIsStableByAddress)
{
    QList<RW_VAR> list = varList({Piece(5, 1), Piece(3, 0), Piece(5, 2), Piece(1, 0)});
    Bubble_Sort(&list);
    EXPECT_EQ(piecesOf(list), (std::vector<Piece>{Piece(1, 0), Piece(3, 0), Piece(5, 1), Piece(5, 2)}));

    // Against the exchange passes on a list with many equal addresses.
    std::mt19937 rng(5);
    QList<RW_VAR> big;
    for (int i = 0; i < 300; ++i)
        big.append(var(static_cast<int>(rng() % 20) - 5, i));
    std::vector<Piece> reference = piecesOf(big);
    for (size_t i = 1; i < reference.size(); ++i)
        for (size_t j = reference.size() - 1; j >= i; --j)
            if (std::get<0>(reference[j]) < std::get<0>(reference[j - 1]))
                std::swap(reference[j], reference[j - 1]);
    Bubble_Sort(&big);
    EXPECT_EQ(piecesOf(big), reference);

    QList<RW_VAR> one = varList({Piece(9, 9)});
    Bubble_Sort(&one);
    EXPECT_EQ(piecesOf(one), std::vector<Piece>{Piece(9, 9)});
    Bubble_Sort(nullptr);
}

TEST(BlockRoutines, CuttingIntoPieces)
{
    struct Row {
        int total, piece, address;
        std::vector<Piece> pieces;
        Piece templAfter;
    } rows[] = {
        {10, 4, 100, {Piece(100, 4), Piece(104, 4), Piece(108, 2)}, Piece(108, 2)},
        {8, 4, 100, {Piece(100, 4), Piece(104, 4)}, Piece(104, 4)},
        {4, 4, 100, {Piece(100, 7)}, Piece(100, 7)},   // one unchanged copy
        {3, 4, 100, {Piece(100, 7)}, Piece(100, 7)},
        {5, 0, 100, {Piece(100, 7)}, Piece(100, 7)},   // no division by zero
        {5, -2, 100, {Piece(100, 7)}, Piece(100, 7)},
        {5, 2, -3, {Piece(-3, 2), Piece(-1, 2), Piece(1, 1)}, Piece(1, 1)},
        {6, 2, INT_MAX - 2, {Piece(INT_MAX - 2, 2), Piece(INT_MAX, 2)}, Piece(INT_MAX, 2)},
    };
    for (const Row &r : rows) {
        RW_VAR templ = var(r.address, 7);
        templ.ownerType = 4;
        QList<RW_VAR> target = varList({Piece(-9, -9)});
        WhetherGroup(r.total, r.piece, &templ, &target);
        std::vector<Piece> expected = r.pieces;
        expected.insert(expected.begin(), Piece(-9, -9));
        EXPECT_EQ(piecesOf(target), expected) << r.total << "/" << r.piece;
        EXPECT_EQ(Piece(templ.address, templ.count), r.templAfter) << r.total << "/" << r.piece;
        EXPECT_EQ(target.last().ownerType, 4);
    }
    RW_VAR templ = var(1, 1);
    QList<RW_VAR> target;
    WhetherGroup(10, 4, nullptr, &target);
    WhetherGroup(10, 4, &templ, nullptr);
    EXPECT_TRUE(target.isEmpty());
}

class BlockTest : public DriverTest {};

struct BlockRow {
    const char *what;
    int maxLength;
    std::vector<Piece> input;
    std::vector<Piece> blocks;
};

TEST_F(BlockTest, WordBlocks)
{
    const BlockRow rows[] = {
        {"worked example", 32, {Piece(0, 2), Piece(1, 1), Piece(10, 2), Piece(40, 4)},
         {Piece(0, 12), Piece(40, 4)}},
        {"exactly the maximum grows", 12, {Piece(0, 2), Piece(10, 2)}, {Piece(0, 12)}},
        {"one past the maximum opens a block", 11, {Piece(0, 2), Piece(10, 2)},
         {Piece(0, 2), Piece(10, 2)}},
        {"a long variable is its own block", 4, {Piece(0, 10), Piece(12, 1), Piece(13, 2)},
         {Piece(0, 10), Piece(12, 3)}},
        {"touching end is not inside", 8, {Piece(0, 4), Piece(4, 1)}, {Piece(0, 5)}},
    };
    for (const BlockRow &r : rows) {
        PLC_driver.readList.clear();
        QList<RW_VAR> input = varList(r.input);
        EXPECT_EQ(WordVarReCreat(&input, r.maxLength, 0), static_cast<int>(r.blocks.size())) << r.what;
        EXPECT_EQ(piecesOf(PLC_driver.readList), r.blocks) << r.what;
        EXPECT_EQ(piecesOf(input), r.input) << r.what;
    }
}

TEST_F(BlockTest, BitBlocks)
{
    const BlockRow rows[] = {
        {"worked example", 64, {Piece(3, 2), Piece(5, 1), Piece(20, 4)}, {Piece(0, 4)}},
        // Whole bytes: the first block rounds up, grown and later blocks take one more.
        {"first block of 8 bits", 64, {Piece(0, 8)}, {Piece(0, 1)}},
        {"grown to 16 bits", 64, {Piece(0, 8), Piece(8, 8)}, {Piece(0, 3)}},
        {"new block of 8 bits", 16, {Piece(0, 8), Piece(72, 8)}, {Piece(0, 1), Piece(72, 2)}},
        {"new block off a byte boundary", 16, {Piece(0, 1), Piece(75, 2)}, {Piece(0, 1), Piece(72, 1)}},
        {"inside the rounded block", 64, {Piece(1, 1), Piece(6, 2)}, {Piece(0, 1)}},
    };
    for (const BlockRow &r : rows) {
        PLC_driver.readList.clear();
        QList<RW_VAR> input = varList(r.input);
        EXPECT_EQ(BitVarReCreat(&input, r.maxLength, 0), static_cast<int>(r.blocks.size())) << r.what;
        EXPECT_EQ(piecesOf(PLC_driver.readList), r.blocks) << r.what;
    }
}

TEST_F(BlockTest, InitialCountFindsTheGrowingEntry)
{
    PLC_driver.readList.append(var(500, 1));
    PLC_driver.readList.append(var(600, 1));
    QList<RW_VAR> words = varList({Piece(0, 2), Piece(10, 2), Piece(40, 4)});
    EXPECT_EQ(WordVarReCreat(&words, 32, 2), 4);
    EXPECT_EQ(piecesOf(PLC_driver.readList),
              (std::vector<Piece>{Piece(500, 1), Piece(600, 1), Piece(0, 12), Piece(40, 4)}));

    // A count that names no entry leaves readList's entries alone but still counts.
    PLC_driver.readList.clear();
    EXPECT_EQ(WordVarReCreat(&words, 32, 10), 12);
    EXPECT_EQ(piecesOf(PLC_driver.readList), (std::vector<Piece>{Piece(0, 2), Piece(40, 4)}));
    PLC_driver.readList.clear();
    QList<RW_VAR> bits = varList({Piece(3, 2), Piece(20, 4)});
    EXPECT_EQ(BitVarReCreat(&bits, 64, -5), -4);
    EXPECT_EQ(piecesOf(PLC_driver.readList), std::vector<Piece>{Piece(0, 1)});

    QList<RW_VAR> empty;
    EXPECT_EQ(WordVarReCreat(&empty, 32, 7), 7);
    EXPECT_EQ(BitVarReCreat(&empty, 32, 7), 7);
    EXPECT_EQ(WordVarReCreat(nullptr, 32, 3), 3);
    EXPECT_EQ(BitVarReCreat(nullptr, 32, 3), 3);
    EXPECT_EQ(PLC_driver.readList.size(), 1);
}

}  // namespace
