// Reply storage into the value cache and the cache lookup.
#include <chrono>
#include <map>
#include <utility>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "data/Func_DealData.h"

using namespace marovin_test;

namespace {

class StorageTest : public DriverTest {
protected:
    // Queues the request that a reply answers: data at offset 10.
    void queueRequest(int areaCode, int address, int dataLength, int station = 1)
    {
        Protocol p;
        p.dataOffset = 10;
        p.dataLength = dataLength;
        p.var = makeVar(areaCode, address, station);
        PLC_driver.frameQueue.append(p);
    }

    // A reply: ten header bytes, the data, one sum byte.
    static QByteArray reply(const char *data)
    {
        return QByteArray(10, '\x11') + hex(data) + QByteArray(1, '\x22');
    }

    // Cached bytes for a key, or "absent".
    static std::string cached(int station, int areaCode, int address)
    {
        for (const EXTENDVAR &e : PLC_driver.extendList)
            if (e.station == station && e.areaCode == areaCode && e.address == address)
                return toHex(e.data);
        return "absent";
    }

    void storeReply(int areaCode, int address, int dataLength, const QByteArray &bytes, int station = 1)
    {
        PLC_driver.frameQueue.clear();
        queueRequest(areaCode, address, dataLength, station);
        QByteArray r = bytes;
        SaveToLocalDataErea(&r);
    }
};

struct ValueRow {
    int areaCode;
    int address;
    int dataLength;
    const char *data;
    std::vector<std::pair<int, const char *>> expected;  // address -> cached bytes
    int cacheSize;
};

TEST_F(StorageTest, RepliesStoreValuesLeastSignificantByteFirst)
{
    const std::vector<ValueRow> rows = {
        {1, 16, 2, "12 34", {{16, "34 12"}}, 1},
        {3, 16, 2, "AB CD", {{16, "CD AB"}}, 1},
        {2, 32, 4, "56 78 12 34", {{32, "78 56 34 12"}, {33, "absent"}}, 1},
        {4, 32, 4, "56 78 12 34", {{32, "78 56 34 12"}}, 1},
        {5, 32, 4, "00 05 00 0C", {{32, "00 00 48 41"}}, 1},   // 12.5
        {5, 32, 4, "00 32 00 01", {{32, "00 00 C0 3F"}}, 1},   // 1.50
        {5, 32, 4, "00 19 FF FD", {{32, "40 FD 7F 47"}}, 1},   // 65533.25, unsigned integer word
        {1, 16, 4, "12 34 56 78", {{16, "34 12"}, {17, "78 56"}}, 2},
        {2, 32, 8, "00 01 00 02 00 03 00 04", {{32, "01 00 02 00"}, {33, "absent"}, {34, "03 00 04 00"}}, 2},
        {1, 16, 1, "12 34", {}, 0},   // no whole value
        {6, 16, 2, "12 34", {}, 0},
        {-1, 16, 2, "12 34", {}, 0},
    };
    for (const ValueRow &row : rows) {
        SCOPED_TRACE(std::string("area ") + std::to_string(row.areaCode) + " data " + row.data);
        PLC_driver.extendList.clear();
        storeReply(row.areaCode, row.address, row.dataLength, reply(row.data));
        EXPECT_EQ(PLC_driver.extendList.size(), row.cacheSize);
        for (const auto &e : row.expected)
            EXPECT_EQ(cached(1, row.areaCode, e.first), e.second) << "address " << e.first;
    }
}

TEST_F(StorageTest, ShortRepliesEmptyTheValueAndSizeItToTheRequest)
{
    struct Row {
        int areaCode, dataLength;
        const char *data;
        const char *expected;
    };
    const Row rows[] = {
        {1, 2, "12", "00 00"},
        {3, 2, "", "00 00"},
        {2, 4, "12 34 56", "00 00 00 00"},
        {5, 4, "00 05", "00 00 00 00"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.areaCode);
        PLC_driver.extendList.clear();
        const int e = ExtendFindSameVar(1, row.areaCode, 16);
        PLC_driver.extendList[e].data = hex("AA BB CC DD");
        // The data stops short and the sum byte is missing.
        storeReply(row.areaCode, 16, row.dataLength, QByteArray(10, '\x11') + hex(row.data));
        EXPECT_EQ(cached(1, row.areaCode, 16), row.expected);
    }
}

TEST_F(StorageTest, ASecondReplyOverwritesTheEntry)
{
    storeReply(1, 16, 2, reply("12 34"));
    storeReply(1, 16, 2, reply("56 78"));
    storeReply(1, 16, 2, reply("9A BC"), 2);
    ASSERT_EQ(PLC_driver.extendList.size(), 2);
    EXPECT_EQ(cached(1, 1, 16), "78 56");
    EXPECT_EQ(cached(2, 1, 16), "BC 9A");
}

TEST_F(StorageTest, NothingToStoreWithoutReplyOrRequest)
{
    QByteArray r = reply("12 34");
    SaveToLocalDataErea(&r);   // empty queue
    queueRequest(1, 16, 2);
    SaveToLocalDataErea(nullptr);
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());
}

TEST_F(StorageTest, StatusBitsFollowTheAnsweredRequest)
{
    struct Row {
        int framesDone;
        const char *data;
        std::map<int, int> bits;
    };
    const std::map<int, int> allClear = {{36, 0}, {37, 0}, {38, 0}, {39, 0},
                                         {25, 1}, {28, 1}, {29, 1}, {30, 1}, {31, 1}};
    const std::vector<Row> rows = {
        {0, "00 10 00 08", {{36, 1}, {37, 0}, {38, 0}, {39, 0}, {25, 1}, {28, 1}, {29, 0}, {30, 1}, {31, 1}}},
        {0, "00 7F 00 78", {{36, 1}, {37, 1}, {38, 1}, {39, 1}, {25, 0}, {28, 0}, {29, 0}, {30, 0}, {31, 0}}},
        {0, "00 10 00", allClear},   // too short: V is 0
        {1, "00 04", {{2, 1}}},
        {1, "FF FB", {{2, 0}}},
        {1, "00", {{2, 0}}},
        {2, "00 10", {{12, 0}}},
        {2, "00 00", {{12, 1}}},
        {2, "", {{12, 1}}},
        {3, "00 01", {{16, 1}}},
        {3, "01 FE", {{16, 0}}},
        {4, "00 01", {{24, 1}}},
        {4, "", {{24, 0}}},
        {5, "FF FF FF FF", {}},
        {-1, "FF FF FF FF", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string("framesDone ") + std::to_string(row.framesDone) + " data " + row.data);
        PLC_driver.extendList.clear();
        word(MarovinSettings::framesDone) = row.framesDone;
        // No sum byte, so a short row really ends early.
        storeReply(0, 0, 4, QByteArray(10, '\x11') + hex(row.data), 3);
        EXPECT_EQ(PLC_driver.extendList.size(), static_cast<int>(row.bits.size()));
        for (const auto &bit : row.bits)
            EXPECT_EQ(cached(3, 0, bit.first), toHex(QByteArray(1, static_cast<char>(bit.second))))
                << "bit " << bit.first;
    }
}

TEST_F(StorageTest, StatusBitsAreWrittenInTableOrder)
{
    storeReply(0, 0, 4, reply("00 00 00 00"));
    const int order[] = {36, 37, 38, 39, 25, 28, 29, 30, 31};
    ASSERT_EQ(PLC_driver.extendList.size(), 9);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(PLC_driver.extendList.at(i).address, order[i]);
}

TEST_F(StorageTest, FindCreatesZeroEntriesInOrder)
{
    EXPECT_EQ(ExtendFindSameVar(1, 1, 16), 0);
    ASSERT_EQ(PLC_driver.extendList.size(), 1);
    EXPECT_EQ(toHex(PLC_driver.extendList.at(0).data), "00 00 00 00");
    EXPECT_EQ(ExtendFindSameVar(1, 1, 16), 0);
    EXPECT_EQ(ExtendFindSameVar(1, 3, 16), 1);   // other area, other entry
    EXPECT_EQ(ExtendFindSameVar(2, 1, 16), 2);
    EXPECT_EQ(ExtendFindSameVar(1, 1, 17), 3);
    EXPECT_EQ(ExtendFindSameVar(1, 3, 16), 1);
    ASSERT_EQ(PLC_driver.extendList.size(), 4);
    EXPECT_EQ(PLC_driver.extendList.at(3).station, 1);
    EXPECT_EQ(PLC_driver.extendList.at(3).areaCode, 1);
    EXPECT_EQ(PLC_driver.extendList.at(3).address, 17);
}

TEST_F(StorageTest, FindFollowsChangesMadeDirectlyToTheList)
{
    ExtendFindSameVar(1, 1, 10);
    ExtendFindSameVar(1, 1, 11);
    ExtendFindSameVar(1, 1, 12);

    PLC_driver.extendList.clear();
    EXPECT_EQ(ExtendFindSameVar(1, 1, 12), 0);
    EXPECT_EQ(PLC_driver.extendList.size(), 1);

    // Entries appended behind the lookup's back are found, first one first.
    EXTENDVAR e;
    e.station = 1;
    e.areaCode = 2;
    e.address = 40;
    PLC_driver.extendList.append(e);
    PLC_driver.extendList.append(e);
    EXPECT_EQ(ExtendFindSameVar(1, 2, 40), 1);
    e.address = 12;
    e.areaCode = 1;
    PLC_driver.extendList.append(e);   // duplicate of entry 0
    EXPECT_EQ(ExtendFindSameVar(1, 1, 12), 0);
    EXPECT_EQ(PLC_driver.extendList.size(), 4);

    // Refilled to the same size with other keys: the stale positions are not trusted.
    PLC_driver.extendList.clear();
    for (int address : {50, 12, 51, 52}) {
        e.address = address;
        PLC_driver.extendList.append(e);
    }
    EXPECT_EQ(ExtendFindSameVar(1, 2, 40), 4);
    EXPECT_EQ(ExtendFindSameVar(1, 1, 12), 1);
    EXPECT_EQ(ExtendFindSameVar(1, 1, 52), 3);
    EXPECT_EQ(PLC_driver.extendList.size(), 5);
}

TEST_F(StorageTest, LargeCacheKeepsFirstIndicesAndStaysFast)
{
    const int keys = 100000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < keys; ++i)
        ASSERT_EQ(ExtendFindSameVar(1 + i % 7, 1 + i % 5, i), i);
    for (int i = 0; i < keys; i += 997)
        EXPECT_EQ(ExtendFindSameVar(1 + i % 7, 1 + i % 5, i), i);
    for (int i = keys - 1000; i < keys; ++i)
        EXPECT_EQ(ExtendFindSameVar(1 + i % 7, 1 + i % 5, i), i);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(PLC_driver.extendList.size(), keys);
    // A scan of the list per lookup would need billions of comparisons here.
    EXPECT_LT(seconds, 10.0);
}

class SpecialSaveTest : public StorageTest {
protected:
    // Head: a read of two words at `address`; second: a write frame.
    void queueReadAndWrite(int address, int remoteArg1, const QByteArray &writeFrame)
    {
        queueRequest(1, address, 4);
        PLC_driver.frameQueue[0].var.remoteArg1 = remoteArg1;
        Protocol w;
        w.frame = writeFrame;
        w.requestLength = 77;
        PLC_driver.frameQueue.append(w);
    }
    void pendWrite(int address, const char *data)
    {
        RW_VAR v = makeVar(0, address);
        v.data = hex(data);
        PLC_driver.writeList.append(v);
    }
};

TEST_F(SpecialSaveTest, CopiesWordsAndMergesThePendingBit)
{
    struct Row {
        int writeAddress;
        const char *writeData;   // nullptr: no pending write
        const char *frameOut;
    };
    // Register value 0x0003 in the reply's last word.
    const Row rows[] = {
        {-2, nullptr, "01 06 00 01 00 03 98 0B"},
        {0x12, "01", "01 06 00 01 00 07 99 C8"},     // bit 2 set
        {0x21, "00", "01 06 00 01 00 01 19 CA"},     // bit 1 cleared
        {0x13, "02", "01 06 00 01 00 03 98 0B"},     // neither 0 nor 1
        {-3, "01", "01 06 00 01 00 03 98 0B"},       // negative address
        {0x13, "", "01 06 00 01 00 03 98 0B"},       // no data
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.frameOut);
        PLC_driver.frameQueue.clear();
        PLC_driver.writeList.clear();
        queueReadAndWrite(5, -1, hex("01 06 00 01 FF FF FF FF"));
        if (row.writeData)
            pendWrite(row.writeAddress, row.writeData);
        unsigned short words[16] = {};
        QByteArray r = reply("12 34 00 03");
        SpecialRegisterSave(&r, words);
        EXPECT_EQ(words[5], 0x1234);
        EXPECT_EQ(words[6], 0x0003);
        EXPECT_EQ(words[7], 0);
        EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), row.frameOut);
        EXPECT_EQ(PLC_driver.frameQueue.at(1).requestLength, 77);
    }
}

TEST_F(SpecialSaveTest, LeavesTheWriteAloneUnlessMarkedAndQueued)
{
    queueReadAndWrite(0, 0, hex("01 06 00 01 FF FF FF FF"));
    unsigned short words[4] = {};
    QByteArray r = reply("12 34 56 78");
    SpecialRegisterSave(&r, words);
    EXPECT_EQ(words[0], 0x1234);
    EXPECT_EQ(words[1], 0x5678);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), "01 06 00 01 FF FF FF FF");

    PLC_driver.frameQueue.clear();
    queueRequest(1, 0, 4);
    PLC_driver.frameQueue[0].var.remoteArg1 = -1;
    SpecialRegisterSave(&r, words);   // only one request queued: nothing to merge into
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
}

TEST_F(SpecialSaveTest, ShortReplyCopiesWholeWordsOnly)
{
    queueReadAndWrite(0, -1, hex("01 06 00 01"));   // short frame: lengthened to 8
    unsigned short words[4] = {0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
    QByteArray r = QByteArray(10, '\x11') + hex("00 03 56");
    SpecialRegisterSave(&r, words);
    EXPECT_EQ(words[0], 0x0003);
    EXPECT_EQ(words[1], 0xBBBB);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), "01 06 00 01 00 03 98 0B");
}

TEST_F(SpecialSaveTest, NullWordArrayStillMergesTheReplyValue)
{
    queueReadAndWrite(0, -1, hex("01 06 00 01 FF FF FF FF"));
    QByteArray r = reply("00 03");
    PLC_driver.frameQueue[0].dataLength = 2;
    SpecialRegisterSave(&r, nullptr);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), "01 06 00 01 00 03 98 0B");

    // No word in the reply: the value is 0.
    PLC_driver.frameQueue[1].frame = hex("01 06 00 01");
    r = QByteArray(10, '\x11');
    SpecialRegisterSave(&r, nullptr);
    EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), "01 06 00 01 00 00 D8 0A");
}

}  // namespace
