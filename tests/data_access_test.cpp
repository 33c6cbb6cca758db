// Host data access: reading cached values, cache-only writes and queued PLC writes.
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "data/Func_DealData.h"
#include "data/Func_GetOrSetData.h"

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
    static std::vector<std::string> queued()
    {
        std::vector<std::string> out;
        for (const RW_VAR &v : PLC_driver.writeList)
            out.push_back(std::to_string(v.address) + "/" + std::to_string(v.count) + ":" + toHex(v.data));
        return out;
    }
    static double seconds(std::chrono::steady_clock::time_point start)
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    cache(1, 5, 32, "00 00 48 41");
    cache(2, 1, 16, "34 12");
    const struct {
        int areaCode;
        const char *text;
        int count;
        const char *before, *after;
        int entries;  // cache entries afterwards
    } rows[] = {
        {0, "12", 1, "", "01", 9},                    {0, "12", 2, "AA AA AA", "01 00 AA", 9},
        {3, "20", 2, "", "CD AB 00 00", 9},           {2, "20", 4, "", "01 02 03 04 05 06 07 08", 9},
        {2, "20", 3, "", "01 02 03 04", 9},  // an odd last word is ignored
        {2, "20", 1, "AA", "AA", 9},                  {4, "20", 2, "", "00 00 00 00", 9},
        {5, "20", 2, "", "00 00 48 41", 9},           {1, "10", 2, "", "00 00 00 00", 11},  // zero entries made
        {1, "10", 1, "AA BB CC", "00 00 CC", 11},     {7, "10", 4, "AA BB", "AA BB", 11},  // no value in area 7
        {-1, "10", 5, "AA", "AA", 11},                {INT_MIN, "10", 5, "AA", "AA", 11},
        {1, "10", 0, "AA", "AA", 11},                 {1, "7FFFFFFF", 1, "", "00 00", 12},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " " + r.text + " count " + std::to_string(r.count));
        QByteArray out = hex(r.before);
        EXPECT_EQ(get(r.areaCode, r.text, r.count, &out), 1);
        EXPECT_EQ(toHex(out), r.after);
        EXPECT_EQ(PLC_driver.extendList.size(), r.entries);
    }
    // A shared array is not written through; stations are keys like any other.
    const QByteArray original("abcdef");
    QByteArray out = original;
    EXPECT_EQ(get(1, "10", 2, &out), 1);
    EXPECT_EQ(toHex(out), "00 00 00 00 65 66");
    EXPECT_EQ(original, QByteArray("abcdef"));
    EXPECT_EQ(get(1, "10", 1, &out, INT_MIN) + get(1, "10", 1, &out, -1), 2);
    EXPECT_EQ(PLC_driver.extendList.size(), 14);
    // Single-station operation reads the default station.
    word(S::multiStation) = 0;
    word(S::defaultStation) = 2;
    EXPECT_EQ(get(1, "10", 1, &out, 9), 1);
    EXPECT_EQ(toHex(out.left(2)), "34 12");
    EXPECT_EQ(cached(9, 1, 16), "absent");
    // The largest count.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get(0, "12", 65536, &out), 1);
    EXPECT_EQ(out.size(), 65536);
    EXPECT_LT(seconds(start), 10.0);
}

TEST_F(Access, RefusedReadsTouchNothing)
{
    const struct {
        int areaCode;
        const char *text;
        int count;
    } rows[] = {
        {0, "13", 1}, {0, "5", -1}, {1, "G1", 1}, {3, "-10", 1}, {1, "10", INT_MIN}, {1, "10", INT_MAX},
        {0, "12", INT_MAX}, {4, "10", INT_MAX}, {3, "0", 65537},
        {1, "7FFFFFFF", 2}, {2, "7FFFFFFE", 4}, {2, "7FFFFFFF", 2},  // the last value would pass INT_MAX
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.text) + " count " + std::to_string(r.count));
        QByteArray out = hex("AA BB");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(get(r.areaCode, r.text, r.count, &out), 0);
        EXPECT_LT(seconds(start), 10.0);
        EXPECT_EQ(toHex(out), "AA BB");
        EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    }
    EXPECT_EQ(get(1, "10", 1, nullptr), 0);
    SetComInfo(nullptr);
    QByteArray out;
    EXPECT_EQ(get(1, "10", 1, &out) + set(1, "10", 1, "01 00"), 0);
    EXPECT_TRUE(out.isEmpty() && PLC_driver.extendList.isEmpty() && PLC_driver.writeList.isEmpty());
    EXPECT_EQ(QueryFinishFlag(), 1);
}

TEST_F(Access, CacheOnlyWritesStoreWhatIsSupplied)
{
    word(S::writeMode) = 0;
    const struct {
        int areaCode;
        const char *text;
        int count;
        const char *value;
        int result;
        std::vector<std::pair<int, const char *>> expected;  // address -> cached bytes
    } rows[] = {
        {1, "20", 1, "78 56", 1, {{32, "78 56"}}},
        {2, "40", 4, "01 02 03 04 05 06", 1, {{64, "01 02 03 04"}, {66, "absent"}}},  // values without all their bytes
        {3, "40", 3, "01 02 03 04 05", 1, {{64, "01 02"}, {65, "03 04"}, {66, "absent"}}},
        {0, "28", 3, "01 00", 1, {{28, "01"}, {29, "00"}, {30, "absent"}}},
        {0, "5", 1, "01", 1, {{5, "01"}}},  // a read-only bit, stored locally
        {1, "10", INT_MAX, "01 02 03 04", 1, {{16, "01 02"}, {17, "03 04"}}},
        {0, "12", INT_MAX, "01", 1, {{12, "01"}}},
        {4, "10", INT_MAX, "01 02 03 04 05", 1, {{16, "01 02 03 04"}}},
        {1, "7FFFFFFF", 2, "01 02 03 04", 1, {{INT_MAX, "01 02"}}},  // no wrap past INT_MAX
        {2, "7FFFFFFE", 4, "01 02 03 04 05 06 07 08", 1, {{INT_MAX - 1, "01 02 03 04"}}},
        {1, "10", 5, "", 1, {}},  {1, "10", 0, "01 02", 1, {}},  {7, "10", 1, "01 02", 1, {}},
        {1, "20", -1, "78 56", 0, {}},  {0, "13", 1, "01", 0, {}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " " + r.text + " count " + std::to_string(r.count));
        PLC_driver.extendList.clear();
        EXPECT_EQ(set(r.areaCode, r.text, r.count, r.value), r.result);
        int present = 0;
        for (const auto &e : r.expected) {
            EXPECT_EQ(cached(1, r.areaCode, e.first), e.second) << e.first;
            present += std::string(e.second) != "absent";
        }
        EXPECT_EQ(PLC_driver.extendList.size(), present);
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
    QByteArray out;
    EXPECT_EQ(get(0, "5", 1, &out), 1);
    EXPECT_EQ(toHex(out), "00") << "status bit 5 reads zero until stored";
    EXPECT_EQ(SetRegisterData(QString(), 1, "20", 1, nullptr, 1, 0, 0), 0);
}

TEST_F(Access, WriteDataToLocalReplacesWholeValues)
{
    cache(2, 1, 16, "AA BB CC DD");
    RW_VAR v = makeVar(1, 16, 2, 2);
    v.data = hex("01 02 03 04");
    WriteDataToLocal(&v);
    EXPECT_EQ(cached(2, 1, 16) + "|" + cached(2, 1, 17), "01 02|03 04");
    v = makeVar(2, 0x7FFFFFFE, 2, 4);  // the second value would pass INT_MAX
    v.data = hex("01 02 03 04 05 06 07 08");
    WriteDataToLocal(&v);
    EXPECT_EQ(cached(2, 2, 0x7FFFFFFE), "01 02 03 04");
    EXPECT_EQ(PLC_driver.extendList.size(), 3);
    WriteDataToLocal(nullptr);
    v = makeVar(6, 16, 2, 1);
    v.data = hex("01 02");
    WriteDataToLocal(&v);
    EXPECT_EQ(PLC_driver.extendList.size(), 3);
}

TEST_F(Access, PlcWritesQueueWholePiecesWithTheirBytes)
{
    const struct {
        int areaCode, maxUnits, count;
        const char *value;
        std::vector<std::string> expected;
    } rows[] = {
        {1, 2, 5, "01 02 03 04 05 06 07 08 09 0A", {"256/2:01 02 03 04", "258/2:05 06 07 08", "260/1:09 0A"}},
        {3, 4, 2, "01 02 03 04 05 06", {"256/2:01 02 03 04"}},  // extra bytes stay behind
        {2, 3, 6, "01 02 03 04 05 06 07 08 09 0A 0B 0C",
         {"256/2:01 02 03 04", "258/2:05 06 07 08", "260/2:09 0A 0B 0C"}},
        {4, 4, 5, "01 02 03 04 05 06 07 08", {"256/4:01 02 03 04 05 06 07 08"}},
        {5, 1, 4, "01 02 03 04 05 06 07 08", {"256/2:01 02 03 04", "258/2:05 06 07 08"}},
        {2, 8, 6, "01 02 03 04 05 06 07 08 09 0A 0B 0C", {"256/6:01 02 03 04 05 06 07 08 09 0A 0B 0C"}},
        {1, INT_MAX, 4, "01 02 03 04 05 06 07 08", {"256/4:01 02 03 04 05 06 07 08"}},
        {0, 4, 1, "01", {"12/1:01"}},  // bits: one write per bit
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " maxUnits " + std::to_string(r.maxUnits));
        PLC_driver.writeList.clear();
        word(S::maxUnits) = r.maxUnits;
        EXPECT_EQ(set(r.areaCode, r.areaCode ? "100" : "12", r.count, r.value), static_cast<int>(r.expected.size()));
        EXPECT_EQ(queued(), r.expected);
    }
    EXPECT_EQ(set(0, "28", 4, "01 00 01 01 FF"), 5);
    EXPECT_EQ(queued(), (std::vector<std::string>{"12/1:01", "28/1:01", "29/1:00", "30/1:01", "31/1:01"}));
    EXPECT_TRUE(PLC_driver.extendList.isEmpty()) << "the link is up: the dispatcher caches";

    // The record carries the caller's fields.
    PLC_driver.writeList.clear();
    word(S::localLinkNo) = 3;
    word(S::remoteMode) = 0;
    word(S::multiStation) = 0;
    word(S::defaultStation) = 4;
    ASSERT_EQ(set(1, "20", 1, "78 56", 9), 1);
    const RW_VAR &v = PLC_driver.writeList.at(0);
    EXPECT_EQ(QString("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10 %11 %12 %13")
                  .arg(v.ownerType).arg(v.ownerId).arg(v.accessMode).arg(v.remoteFlag).arg(v.linkNo).arg(v.status)
                  .arg(v.hostText).arg(v.addressText).arg(v.areaCode).arg(v.address).arg(v.station)
                  .arg(v.remoteArg1).arg(v.remoteArg2).toStdString(),
              "5 6 1 0 3 0 host 20 1 32 4 0 0");
    // In remote mode an area of no width is written too, padded with zeros.
    PLC_driver.writeList.clear();
    word(S::remoteMode) = 1;
    word(S::maxUnits) = 2;
    EXPECT_EQ(set(7, "100", 3, "01 02 03"), 2);
    EXPECT_EQ(queued(), (std::vector<std::string>{"256/2:01 02 03 00", "258/1:00 00"}));
    EXPECT_EQ(PLC_driver.writeList.at(0).remoteFlag, 1);
}

TEST_F(Access, RefusedPlcWritesQueueAndCacheNothing)
{
    const struct {
        int areaCode;
        const char *text;
        int count;
        const char *value;
        int maxUnits;
    } rows[] = {
        {0, "2", 1, "01", 4},         {0, "30", 3, "01 01 01", 4},  // read-only bit; bit 32 is not writable
        {0, "12", 2, "01 01", 4},     {0, "28", 2, "01", 4},        // bit 13 neither; one byte per bit
        {0, "12", 0, "01", 4},        {0, "13", 1, "01", 4},
        {1, "100", 5, "01 02 03 04 05 06", 2},  {1, "100", 2, "01 02 03", 4},  // fewer than two bytes a word
        {1, "100", 0, "", 4},         {1, "100", 1, "01 02", 0},    // no piece size
        {1, "10", 1, "01 02", -1},    {2, "10", 2, "01 02 03 04", INT_MIN},
        {2, "100", 4, "01 02 03 04 05 06 07", 4},  {2, "10", 1, "01 02 03 04", 4},  // half a value
        {5, "100", 1, "01 02 03 04", 4},
        {4, "7FFFFFFF", 2, "01 02 03 04", 4},  {1, "7FFFFFFF", 2, "01 02 03 04", 4},  // past INT_MAX
        {7, "100", 1, "01 02", 4},    // no local frame carries area 7
        {1, "10", -1, "01 02", 4},    {1, "10", INT_MIN, "01 02", 4},  {1, "10", INT_MAX, "01 02", 4},
        {3, "0", 65537, "01 02", 4},  {1, "G1", 1, "01 02", 4},  {3, "-10", 1, "01 02", 4},
    };
    marovin::setCommFailed(true);
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " " + r.text + " count " + std::to_string(r.count));
        word(S::maxUnits) = r.maxUnits;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(set(r.areaCode, r.text, r.count, r.value), 0);
        EXPECT_LT(seconds(start), 10.0);
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
        EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    }
    word(S::maxUnits) = 4;
    QByteArray v = hex("01 02");
    EXPECT_EQ(SetRegisterData("host", 1, "10", 1, nullptr, 1, 0, 0), 0);
    word(S::remoteMode) = 1;
    EXPECT_EQ(SetRegisterData("host", 9, "10", 1, &v, INT_MAX, 0, 0), 0);
}

TEST_F(Access, CacheLearnsQueuedValuesWhileTheLinkIsDown)
{
    marovin::setCommFailed(true);
    word(S::maxUnits) = 3;
    EXPECT_EQ(set(2, "100", 4, "01 02 03 04 05 06 07 08"), 2);
    EXPECT_EQ(set(0, "25", 1, "01"), 3);
    EXPECT_EQ(cached(1, 2, 256) + "|" + cached(1, 2, 258) + "|" + cached(1, 0, 25), "01 02 03 04|05 06 07 08|01");
}

TEST_F(Access, AFullWriteListMakesTheWriteFail)
{
    for (int i = 0; i < 1024; ++i)
        PLC_driver.writeList << makeVar(1, 0x1000 + i);
    word(S::maxUnits) = 1;
    EXPECT_EQ(set(1, "100", 1, "01 02"), 0);
    EXPECT_EQ(set(0, "12", 1, "01"), 0);
    // One piece replaces a waiting write, the other is dropped: still a failure.
    EXPECT_EQ(set(1, "13FF", 2, "01 02 03 04"), 0);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(1023).data), "01 02");
    EXPECT_EQ(set(1, "1007", 1, "0A 0B"), 1024) << "replacing a waiting write needs no room";
    EXPECT_EQ(toHex(PLC_driver.writeList.at(7).data), "0A 0B");
    // The largest count in more pieces than the list holds: it fills up and the drop is reported.
    PLC_driver.writeList.clear();
    word(S::maxUnits) = 32;
    QByteArray big(2 * 65536, '\x11');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SetRegisterData("host", 1, "0", 1, &big, 65536, 0, 0), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1024);
    EXPECT_LT(seconds(start), 10.0);
}

}  // namespace
