// Host data access: reading cached values, cache-only writes and queued PLC writes.
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "data/Func_DealData.h"
#include "data/Func_GetOrSetData.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

class Access : public DriverTest {
protected:
    void cache(int station, int areaCode, int address, const char *bytes)
    {
        PLC_driver.extendList[ExtendFindSameVar(station, areaCode, address)].data = hex(bytes);
    }
    int get(int areaCode, const char *text, int count, QByteArray *out, int station = 1)
    {
        return GetRegisterData(QString(), areaCode, QString::fromLatin1(text), station, out, count);
    }
    int set(int areaCode, const char *text, int count, const char *value, int station = 1)
    {
        QByteArray v = hex(value);
        return SetRegisterData("host", areaCode, QString::fromLatin1(text), station, &v, count, 5, 6);
    }
    // "address/count:data" of every queued write.
    static std::string queued()
    {
        std::string out;
        for (const RW_VAR &v : PLC_driver.writeList)
            out += std::to_string(v.address) + "/" + std::to_string(v.count) + ":" + toHex(v.data) + ";";
        return out;
    }
    // Runs f and checks that it took little time: an unbounded loop over a count takes minutes.
    template <typename F>
    auto quickly(F f)
    {
        const auto start = std::chrono::steady_clock::now();
        auto result = f();
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
        return result;
    }
};

TEST_F(Access, ReadLayoutsPerArea)
{
    cache(1, 0, 12, "01");
    cache(1, 0, 13, "");           // an empty value reads as zero
    cache(1, 3, 32, "CD AB");
    cache(1, 3, 33, "EF");         // too short for a word
    cache(1, 2, 32, "01 02 03 04");
    cache(1, 2, 34, "05 06 07 08");
    cache(1, 4, 32, "01 02 03");   // too short for a value
    cache(2, 1, 16, "34 12");
    const struct {
        int areaCode;
        const char *text;
        int count;
        const char *before, *after;
        int entries;  // cache entries afterwards
    } rows[] = {
        {0, "12", 2, "AA AA AA", "01 00 AA", 8},  {3, "20", 2, "", "CD AB 00 00", 8},
        {2, "20", 4, "", "01 02 03 04 05 06 07 08", 8}, {2, "20", 3, "", "01 02 03 04", 8},  // an odd last word is ignored
        {4, "20", 2, "", "00 00 00 00", 8},       {1, "10", 2, "AA BB CC", "00 00 00 00", 10},  // zero entries made
        {7, "10", 4, "AA BB", "AA BB", 10},       {1, "10", 0, "AA", "AA", 10},  // no value in area 7; none asked
        {-1, "10", 5, "AA", "AA", 10},            {2, "20", 1, "AA", "AA", 10},  // no such area; no whole 32-bit value
        {1, "7FFFFFFF", 1, "", "00 00", 11},
    };
    for (const auto &r : rows) {
        QByteArray out = hex(r.before);
        EXPECT_EQ(get(r.areaCode, r.text, r.count, &out), 1);
        EXPECT_EQ(toHex(out), r.after) << r.areaCode << " " << r.text << " count " << r.count;
        EXPECT_EQ(PLC_driver.extendList.size(), r.entries);
    }
    // A shared array is not written through; stations are keys like any other.
    const QByteArray original("abcdef");
    QByteArray out = original;
    EXPECT_EQ(get(1, "10", 2, &out) + get(1, "10", 1, &out, INT_MIN), 2);
    EXPECT_EQ(toHex(out), "00 00 00 00 65 66");
    EXPECT_EQ(original, QByteArray("abcdef"));
    EXPECT_EQ(PLC_driver.extendList.size(), 12);
    EXPECT_EQ(quickly([&] { return get(0, "12", 65536, &out); }), 1);
    EXPECT_EQ(out.size(), 65536) << "the largest count";
}

TEST_F(Access, RefusedReadsAndWritesTouchNothing)
{
    const struct {
        int areaCode;
        const char *text;
        int count;
        const char *value;
        int writeMode, maxUnits;  // writeMode -1: a read
    } rows[] = {
        {0, "13", 1, "", -1, 4},            {1, "G1", 1, "", -1, 4},             {3, "-10", 1, "", -1, 4},
        {1, "10", -1, "", -1, 4},           {3, "0", 65537, "", -1, 4},          {1, "10", INT_MAX, "", -1, 4},
        {1, "7FFFFFFF", 2, "", -1, 4},      {2, "7FFFFFFE", 4, "", -1, 4},  // the last value would pass INT_MAX
        {1, "20", -1, "78 56", 0, 4},       {0, "13", 1, "01", 0, 4},  // cache-only writes
        {0, "2", 1, "01", 2, 4},            {0, "30", 3, "01 01 01", 2, 4},   // read-only bit; bit 32
        {0, "12", 2, "01 01", 2, 4},        {0, "28", 2, "01", 2, 4},         // bit 13; one byte per bit
        {0, "12", 0, "01", 2, 4},           {1, "100", 5, "01 02 03 04 05 06", 2, 2},  // two bytes a word
        {1, "100", 0, "", 2, 4},            {1, "100", 1, "01 02", 2, 0},     // no piece size
        {2, "10", 2, "01 02 03 04", 2, INT_MIN}, {2, "100", 4, "01 02 03 04 05 06 07", 2, 4},
        {5, "100", 1, "01 02 03 04", 2, 4}, // half a value
        {4, "7FFFFFFF", 2, "01 02 03 04", 2, 4}, {1, "7FFFFFFF", 2, "01 02 03 04", 2, 4},  // past INT_MAX
        {7, "100", 1, "01 02", 2, 4},       // no local frame carries area 7
        {1, "10", -1, "01 02", 2, 4},       {1, "10", INT_MAX, "01 02", 2, 4},  {1, "G1", 1, "01 02", 2, 4},
    };
    marovin::setCommFailed(true);  // so that accepted writes would show in the cache at once
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " " + r.text + " count " + std::to_string(r.count) + " mode "
                     + std::to_string(r.writeMode));
        word(S::maxUnits) = r.maxUnits;
        word(S::writeMode) = r.writeMode < 0 ? 2 : r.writeMode;
        QByteArray out = hex("AA BB");
        EXPECT_EQ(quickly([&] { return r.writeMode < 0 ? get(r.areaCode, r.text, r.count, &out)
                                                       : set(r.areaCode, r.text, r.count, r.value); }), 0);
        EXPECT_EQ(toHex(out), "AA BB");
        EXPECT_TRUE(PLC_driver.writeList.isEmpty() && PLC_driver.extendList.isEmpty());
    }
    word(S::remoteMode) = 1;
    EXPECT_EQ(set(9, "10", INT_MAX, "01 02"), 0);
    EXPECT_EQ(get(1, "10", 1, nullptr) + SetRegisterData("h", 1, "10", 1, nullptr, 1, 0, 0), 0);
    // Without settings: host_contract_test's BeforeSetup.
}

TEST_F(Access, CacheOnlyWritesStoreWhatIsSupplied)
{
    word(S::writeMode) = 0;
    const struct {
        int areaCode;
        const char *text;
        int count;
        const char *value, *expected;  // cached values from the address on, ';' after each, until one is absent
    } rows[] = {
        {1, "20", 1, "78 56", "78 56;"},                       {0, "28", 3, "01 00", "01;00;"},
        {2, "40", 4, "01 02 03 04 05 06", "01 02 03 04;"},    // values without all their bytes are skipped
        {3, "40", 3, "01 02 03 04 05", "01 02;03 04;"},       {0, "5", 1, "01", "01;"},  // a read-only bit, locally
        {1, "10", INT_MAX, "01 02 03 04", "01 02;03 04;"},    {4, "10", INT_MAX, "01 02 03 04 05", "01 02 03 04;"},
        {1, "7FFFFFFF", 2, "01 02 03 04", "01 02;"},          // no wrap past INT_MAX
        {2, "7FFFFFFE", 4, "01 02 03 04 05 06 07 08", "01 02 03 04;"},
        {1, "10", 5, "", ""},  {7, "10", 1, "01 02", ""},  {1, "10", 0, "01 02", ""},
    };
    for (const auto &r : rows) {
        PLC_driver.extendList.clear();
        EXPECT_EQ(set(r.areaCode, r.text, r.count, r.value), 1);
        const int first = StringAddressToInt(r.areaCode, r.text), step = r.areaCode == 2 || r.areaCode == 4 ? 2 : 1;
        std::string got;
        for (long long a = first; a <= INT_MAX && cached(1, r.areaCode, static_cast<int>(a)) != "absent"; a += step)
            got += cached(1, r.areaCode, static_cast<int>(a)) + ";";
        EXPECT_EQ(got, r.expected) << r.areaCode << " " << r.text << " count " << r.count;
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
    // WriteDataToLocal replaces whole values.
    cache(2, 1, 16, "AA BB CC DD");
    RW_VAR v = makeVar(1, 16, 2, 2);
    v.data = hex("01 02 03 04");
    WriteDataToLocal(&v);
    WriteDataToLocal(nullptr);
    EXPECT_EQ(cached(2, 1, 16) + "|" + cached(2, 1, 17), "01 02|03 04");
}

TEST_F(Access, PlcWritesQueueWholePiecesWithTheirBytes)
{
    const struct {
        int areaCode, maxUnits, count;
        const char *text, *value, *expected;
    } rows[] = {
        {1, 2, 5, "100", "01 02 03 04 05 06 07 08 09 0A", "256/2:01 02 03 04;258/2:05 06 07 08;260/1:09 0A;"},
        {3, 4, 2, "100", "01 02 03 04 05 06", "256/2:01 02 03 04;"},  // extra bytes stay behind
        {2, 3, 6, "100", "01 02 03 04 05 06 07 08 09 0A 0B 0C", "256/2:01 02 03 04;258/2:05 06 07 08;260/2:09 0A 0B 0C;"},
        {4, 4, 5, "100", "01 02 03 04 05 06 07 08", "256/4:01 02 03 04 05 06 07 08;"},
        {5, 1, 4, "100", "01 02 03 04 05 06 07 08", "256/2:01 02 03 04;258/2:05 06 07 08;"},
        {1, INT_MAX, 4, "100", "01 02 03 04 05 06 07 08", "256/4:01 02 03 04 05 06 07 08;"},
        {0, 4, 4, "28", "01 00 01 01 FF", "28/1:01;29/1:00;30/1:01;31/1:01;"},  // one write per bit
    };
    for (const auto &r : rows) {
        PLC_driver.writeList.clear();
        word(S::maxUnits) = r.maxUnits;
        const int n = set(r.areaCode, r.text, r.count, r.value);
        EXPECT_EQ(queued(), r.expected) << r.areaCode << " maxUnits " << r.maxUnits;
        EXPECT_EQ(n, PLC_driver.writeList.size());
    }
    EXPECT_TRUE(PLC_driver.extendList.isEmpty()) << "the link is up: the dispatcher caches";
    // The record carries the caller's fields.
    PLC_driver.writeList.clear();
    word(S::localLinkNo) = 3;
    word(S::multiStation) = 0;
    word(S::defaultStation) = 4;
    ASSERT_EQ(set(1, "20", 1, "78 56", 9), 1);
    EXPECT_EQ(describe(PLC_driver.writeList.at(0)), "5 6 1 0 3 0 [host] [20] 1 32 4 1 0 0 78 56");
    // In remote mode an area of no width is written too, padded with zeros.
    PLC_driver.writeList.clear();
    word(S::remoteMode) = 1;
    word(S::maxUnits) = 2;
    EXPECT_EQ(set(7, "100", 3, "01 02 03"), 2);
    EXPECT_EQ(queued(), "256/2:01 02 03 00;258/1:00 00;");
    EXPECT_EQ(PLC_driver.writeList.at(0).remoteFlag, 1);
}

TEST_F(Access, LinkDownAndAFullWriteList)
{
    // While the link is down the cache learns queued values at once.
    marovin::setCommFailed(true);
    word(S::maxUnits) = 3;
    EXPECT_EQ(set(2, "100", 4, "01 02 03 04 05 06 07 08"), 2);
    EXPECT_EQ(set(0, "25", 1, "01"), 3);
    EXPECT_EQ(cached(1, 2, 256) + "|" + cached(1, 2, 258) + "|" + cached(1, 0, 25), "01 02 03 04|05 06 07 08|01");
    // A full list: a write that cannot be queued whole fails.
    PLC_driver.writeList.clear();
    for (int i = 0; i < 1024; ++i)
        PLC_driver.writeList << makeVar(1, 0x1000 + i);
    word(S::maxUnits) = 1;
    EXPECT_EQ(set(1, "100", 1, "01 02") + set(0, "12", 1, "01"), 0);
    EXPECT_EQ(set(1, "13FF", 2, "01 02 03 04"), 0) << "one piece replaces a waiting write, the other is dropped";
    EXPECT_EQ(toHex(PLC_driver.writeList.at(1023).data), "01 02");
    EXPECT_EQ(set(1, "1007", 1, "0A 0B"), 1024) << "replacing a waiting write needs no room";
    EXPECT_EQ(toHex(PLC_driver.writeList.at(7).data), "0A 0B");
    // The largest count, in more pieces than the list holds.
    PLC_driver.writeList.clear();
    word(S::maxUnits) = 32;
    QByteArray big(2 * 65536, '\x11');
    EXPECT_EQ(quickly([&] { return SetRegisterData("h", 1, "0", 1, &big, 65536, 0, 0); }), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1024);
}

}  // namespace
