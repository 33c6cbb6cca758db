// Host data access: reading cached values, cache-only writes and queued PLC writes.
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "data/Func_DealData.h"
#include "data/Func_GetOrSetData.h"

using namespace marovin_test;

namespace {

class AccessTest : public DriverTest {
protected:
    void cache(int station, int areaCode, int address, const char *bytes)
    {
        PLC_driver.extendList[ExtendFindSameVar(station, areaCode, address)].data = hex(bytes);
    }

    int get(int areaCode, const char *text, int count, QByteArray *out, int station = 1)
    {
        return GetRegisterData(QString(), areaCode, QString::fromLatin1(text), station, out, count);
    }

    int set(int areaCode, const char *text, int count, const QByteArray &value, int station = 1)
    {
        QByteArray v = value;
        return SetRegisterData(QString::fromLatin1("host"), areaCode, QString::fromLatin1(text), station, &v,
                               count, 5, 6);
    }

    // "address/count:data" of every queued write.
    static std::vector<std::string> queued()
    {
        std::vector<std::string> out;
        for (const RW_VAR &v : PLC_driver.writeList)
            out.push_back(std::to_string(v.address) + "/" + std::to_string(v.count) + ":" + toHex(v.data));
        return out;
    }

    static bool hasEntry(int station, int areaCode, int address)
    {
        for (const EXTENDVAR &e : PLC_driver.extendList)
            if (e.station == station && e.areaCode == areaCode && e.address == address)
                return true;
        return false;
    }
};

TEST_F(AccessTest, ReadsCreateZeroEntries)
{
    QByteArray out;
    EXPECT_EQ(get(1, "10", 2, &out), 1);
    EXPECT_EQ(toHex(out), "00 00 00 00");
    EXPECT_EQ(PLC_driver.extendList.size(), 2);
    EXPECT_TRUE(hasEntry(1, 1, 16));
    EXPECT_TRUE(hasEntry(1, 1, 17));

    cache(1, 1, 16, "34 12");
    EXPECT_EQ(get(1, "10", 2, &out), 1);
    EXPECT_EQ(toHex(out), "34 12 00 00");
}

TEST_F(AccessTest, ReadLayoutsPerArea)
{
    cache(1, 0, 12, "01");
    cache(1, 0, 13, "");        // empty value reads as zero
    cache(1, 3, 32, "CD AB");
    cache(1, 3, 33, "EF");       // too short for a word
    cache(1, 2, 32, "01 02 03 04");
    cache(1, 2, 34, "05 06 07 08");
    cache(1, 4, 32, "01 02 03");  // too short for a value
    cache(1, 5, 32, "00 00 48 41");
    struct Row {
        int areaCode;
        const char *text;
        int count;
        const char *expected;
    };
    const Row rows[] = {
        {0, "12", 1, "01"},
        {3, "20", 2, "CD AB 00 00"},
        {2, "20", 4, "01 02 03 04 05 06 07 08"},
        {2, "20", 3, "01 02 03 04"},   // an odd last word is ignored
        {2, "20", 1, ""},
        {4, "20", 2, "00 00 00 00"},
        {5, "20", 2, "00 00 48 41"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.areaCode) + " " + row.text);
        QByteArray out;
        EXPECT_EQ(get(row.areaCode, row.text, row.count, &out), 1);
        EXPECT_EQ(toHex(out), row.expected);
    }
}

TEST_F(AccessTest, ReadKeepsBytesItDoesNotWrite)
{
    cache(1, 0, 28, "01");
    cache(1, 0, 29, "01");
    QByteArray out = hex("AA AA AA AA AA AA AA AA AA AA");
    EXPECT_EQ(get(0, "28", 2, &out), 1);
    EXPECT_EQ(toHex(out), "01 01 AA AA AA AA AA AA AA AA");

    out = hex("AA BB");
    EXPECT_EQ(get(7, "10", 4, &out), 1);
    EXPECT_EQ(toHex(out), "AA BB");
    EXPECT_EQ(PLC_driver.extendList.size(), 2);
}

TEST_F(AccessTest, ReadUsesTheDefaultStationInSingleStationMode)
{
    cache(3, 1, 16, "34 12");
    word(MarovinSettings::multiStation) = 0;
    word(MarovinSettings::defaultStation) = 3;
    QByteArray out;
    EXPECT_EQ(get(1, "10", 1, &out, 9), 1);
    EXPECT_EQ(toHex(out), "34 12");
    EXPECT_FALSE(hasEntry(9, 1, 16));
}

TEST_F(AccessTest, RefusedReadsTouchNothing)
{
    struct Row {
        int areaCode;
        const char *text;
        int count;
    };
    const Row rows[] = {
        {0, "13", 1},          // not a status bit
        {0, "5", -1},
        {1, "G1", 1},
        {1, "-10", 1},
        {1, "10", 65537},       // larger than any area
        {1, "7FFFFFFF", 2},     // address + span overflows
        {2, "7FFFFFFE", 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.text) + " count " + std::to_string(row.count));
        QByteArray out = hex("AA BB");
        EXPECT_EQ(get(row.areaCode, row.text, row.count, &out), 0);
        EXPECT_EQ(toHex(out), "AA BB");
        EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    }
    EXPECT_EQ(get(1, "10", 1, nullptr), 0);
    QByteArray out;
    EXPECT_EQ(get(1, "7FFFFFFF", 1, &out), 1);   // the last address itself is fine
    EXPECT_EQ(toHex(out), "00 00");
    EXPECT_EQ(get(1, "0", 65536, &out), 1);
    EXPECT_EQ(out.size(), 2 * 65536);

    PLC_driver.extendList.clear();
    SetComInfo(nullptr);
    out.clear();
    EXPECT_EQ(get(1, "10", 1, &out), 0);
    EXPECT_EQ(SetRegisterData(QString(), 1, "10", 1, &out, 1, 0, 0), 0);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    EXPECT_EQ(QueryFinishFlag(), 1);
}

TEST_F(AccessTest, StatusBitFiveReadsZeroUntilStoredLocally)
{
    QByteArray out;
    EXPECT_EQ(get(0, "5", 1, &out), 1);
    EXPECT_EQ(toHex(out), "00");
    word(MarovinSettings::writeMode) = 0;
    EXPECT_EQ(set(0, "5", 1, hex("01")), 1);
    EXPECT_EQ(get(0, "5", 1, &out), 1);
    EXPECT_EQ(toHex(out), "01");
}

TEST_F(AccessTest, CacheOnlyWritesStoreWhatIsSupplied)
{
    word(MarovinSettings::writeMode) = 0;
    EXPECT_EQ(set(1, "20", 1, hex("78 56")), 1);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    QByteArray out;
    EXPECT_EQ(get(1, "20", 1, &out), 1);
    EXPECT_EQ(toHex(out), "78 56");

    // Values without all their bytes are skipped, and get no entry.
    PLC_driver.extendList.clear();
    EXPECT_EQ(set(2, "40", 4, hex("01 02 03 04 05 06")), 1);
    EXPECT_EQ(set(3, "40", 3, hex("01 02 03 04 05")), 1);
    EXPECT_EQ(set(0, "28", 3, hex("01 00")), 1);
    EXPECT_EQ(set(7, "40", 1, hex("01 02")), 1);
    EXPECT_EQ(PLC_driver.extendList.size(), 5);
    EXPECT_TRUE(hasEntry(1, 2, 64));
    EXPECT_FALSE(hasEntry(1, 2, 66));
    EXPECT_TRUE(hasEntry(1, 3, 65));
    EXPECT_FALSE(hasEntry(1, 3, 66));
    EXPECT_FALSE(hasEntry(1, 0, 30));
    EXPECT_EQ(get(2, "40", 2, &out), 1);
    EXPECT_EQ(toHex(out), "01 02 03 04");
    out.clear();
    EXPECT_EQ(get(0, "28", 2, &out), 1);
    EXPECT_EQ(toHex(out), "01 00");

    EXPECT_EQ(set(1, "20", -1, hex("78 56")), 0);
    EXPECT_EQ(SetRegisterData(QString(), 1, "20", 1, nullptr, 1, 0, 0), 0);
}

TEST_F(AccessTest, WriteDataToLocalReplacesWholeValues)
{
    cache(2, 1, 16, "AA BB CC DD");
    RW_VAR v = makeVar(1, 16, 2, 2);
    v.data = hex("01 02 03 04");
    WriteDataToLocal(&v);
    QByteArray out;
    EXPECT_EQ(get(1, "10", 2, &out, 2), 1);
    EXPECT_EQ(toHex(out), "01 02 03 04");
    EXPECT_EQ(toHex(PLC_driver.extendList.at(0).data), "01 02");

    // Addresses past the end of the int range are skipped.
    v = makeVar(2, 0x7FFFFFFE, 2, 4);
    v.data = hex("01 02 03 04 05 06 07 08");
    WriteDataToLocal(&v);
    EXPECT_TRUE(hasEntry(2, 2, 0x7FFFFFFE));
    EXPECT_EQ(PLC_driver.extendList.size(), 3);

    const int before = PLC_driver.extendList.size();
    WriteDataToLocal(nullptr);
    v = makeVar(6, 16, 2, 1);
    v.data = hex("01 02");
    WriteDataToLocal(&v);
    EXPECT_EQ(PLC_driver.extendList.size(), before);
}

TEST_F(AccessTest, PlcWritesQueueWholePiecesWithTheirBytes)
{
    struct Row {
        int areaCode;
        int maxUnits;
        int count;
        const char *value;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {1, 2, 5, "01 02 03 04 05 06 07 08 09 0A",
         {"256/2:01 02 03 04", "258/2:05 06 07 08", "260/1:09 0A"}},
        {3, 4, 2, "01 02 03 04 05 06", {"256/2:01 02 03 04"}},   // extra bytes stay behind
        {2, 3, 6, "01 02 03 04 05 06 07 08 09 0A 0B 0C",
         {"256/2:01 02 03 04", "258/2:05 06 07 08", "260/2:09 0A 0B 0C"}},
        {4, 4, 5, "01 02 03 04 05 06 07 08",
         {"256/4:01 02 03 04 05 06 07 08"}},
        {5, 1, 4, "01 02 03 04 05 06 07 08", {"256/2:01 02 03 04", "258/2:05 06 07 08"}},
        {2, 8, 6, "01 02 03 04 05 06 07 08 09 0A 0B 0C",
         {"256/6:01 02 03 04 05 06 07 08 09 0A 0B 0C"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.areaCode) + " maxUnits " + std::to_string(row.maxUnits));
        PLC_driver.writeList.clear();
        word(MarovinSettings::maxUnits) = row.maxUnits;
        EXPECT_EQ(set(row.areaCode, "100", row.count, hex(row.value)), static_cast<int>(row.expected.size()));
        EXPECT_EQ(queued(), row.expected);
    }
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());   // the link is up: the dispatcher caches
}

TEST_F(AccessTest, PlcWriteRecordCarriesTheCallersFields)
{
    word(MarovinSettings::remoteMode) = 0;
    word(MarovinSettings::localLinkNo) = 3;
    word(MarovinSettings::multiStation) = 0;
    word(MarovinSettings::defaultStation) = 4;
    ASSERT_EQ(set(1, "20", 1, hex("78 56"), 9), 1);
    const RW_VAR &v = PLC_driver.writeList.at(0);
    EXPECT_EQ(v.ownerType, 5);
    EXPECT_EQ(v.ownerId, 6);
    EXPECT_EQ(v.accessMode, 1);
    EXPECT_EQ(v.remoteFlag, 0);
    EXPECT_EQ(v.linkNo, 3);
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.hostText, QString("host"));
    EXPECT_EQ(v.addressText, QString("20"));
    EXPECT_EQ(v.areaCode, 1);
    EXPECT_EQ(v.address, 32);
    EXPECT_EQ(v.station, 4);
    EXPECT_EQ(v.remoteArg1, 0);
    EXPECT_EQ(v.remoteArg2, 0);
}

TEST_F(AccessTest, RefusedPlcWritesQueueAndCacheNothing)
{
    struct Row {
        int areaCode;
        const char *text;
        int count;
        const char *value;
        int maxUnits;
    };
    const Row rows[] = {
        {0, "2", 1, "01", 4},          // readable only
        {0, "30", 3, "01 01 01", 4},   // bit 32 is not writable
        {0, "12", 2, "01 01", 4},      // bit 13 is not writable
        {0, "28", 2, "01", 4},         // one byte per bit
        {0, "12", 0, "01", 4},
        {1, "100", 5, "01 02 03 04 05 06", 2},   // fewer than two bytes per word
        {1, "100", 0, "", 4},
        {1, "100", 1, "01 02", 0},               // no piece size
        {2, "100", 4, "01 02 03 04 05 06 07", 4},
        {5, "100", 1, "01 02 03 04", 4},          // no whole value
        {4, "7FFFFFFF", 2, "01 02 03 04", 4},      // the value's second word overflows
        {7, "100", 1, "01 02", 4},                // no frame carries area 7
    };
    marovin::setCommFailed(true);
    for (const Row &row : rows) {
        SCOPED_TRACE(std::to_string(row.areaCode) + " " + row.text + " count " + std::to_string(row.count));
        word(MarovinSettings::maxUnits) = row.maxUnits;
        EXPECT_EQ(set(row.areaCode, row.text, row.count, hex(row.value)), 0);
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
        EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    }
}

TEST_F(AccessTest, BitWritesQueueOneVariablePerBit)
{
    EXPECT_EQ(set(0, "12", 1, hex("01")), 1);
    EXPECT_EQ(set(0, "28", 4, hex("01 00 01 01 FF")), 5);
    EXPECT_EQ(queued(), (std::vector<std::string>{"12/1:01", "28/1:01", "29/1:00", "30/1:01", "31/1:01"}));
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());

    // While the link is down the cache learns the bits at once.
    PLC_driver.writeList.clear();
    marovin::setCommFailed(true);
    EXPECT_EQ(set(0, "25", 1, hex("01")), 1);
    QByteArray out;
    EXPECT_EQ(get(0, "25", 1, &out), 1);
    EXPECT_EQ(toHex(out), "01");
}

TEST_F(AccessTest, CacheLearnsQueuedValuesWhileTheLinkIsDown)
{
    marovin::setCommFailed(true);
    word(MarovinSettings::maxUnits) = 3;
    EXPECT_EQ(set(2, "100", 4, hex("01 02 03 04 05 06 07 08")), 2);
    QByteArray out;
    EXPECT_EQ(get(2, "100", 4, &out), 1);
    EXPECT_EQ(toHex(out), "01 02 03 04 05 06 07 08");
}

TEST_F(AccessTest, RemoteModeWritesUnknownAreasPaddedWithZeros)
{
    word(MarovinSettings::remoteMode) = 1;
    word(MarovinSettings::maxUnits) = 2;
    EXPECT_EQ(set(7, "100", 3, hex("01 02 03")), 2);
    EXPECT_EQ(queued(), (std::vector<std::string>{"256/2:01 02 03 00", "258/1:00 00"}));
    EXPECT_EQ(PLC_driver.writeList.at(0).remoteFlag, 1);
}

TEST_F(AccessTest, AFullWriteListMakesTheWriteFail)
{
    for (int i = 0; i < 1024; ++i) {
        RW_VAR v = makeVar(1, 0x1000 + i);
        PLC_driver.writeList.append(v);
    }
    word(MarovinSettings::maxUnits) = 1;
    EXPECT_EQ(set(1, "100", 1, hex("01 02")), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1024);

    // One piece replaces a waiting write, the other is dropped: still a failure.
    EXPECT_EQ(set(1, "13FF", 2, hex("01 02 03 04")), 0);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(1023).data), "01 02");
    EXPECT_EQ(PLC_driver.writeList.size(), 1024);

    // Replacing a waiting write needs no room.
    EXPECT_EQ(set(1, "1007", 1, hex("0A 0B")), 1024);
    EXPECT_EQ(toHex(PLC_driver.writeList.at(7).data), "0A 0B");

    PLC_driver.writeList.clear();
    PLC_driver.writeList.append(makeVar(1, 1));
    for (int i = 0; i < 1023; ++i)
        PLC_driver.writeList.append(makeVar(1, 0x1000 + i));
    EXPECT_EQ(set(0, "12", 1, hex("01")), 0);
}

}  // namespace
