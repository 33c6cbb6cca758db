// Reply storage into the value cache, the cache lookup, and the special save.
#include <chrono>
#include <map>
#include <vector>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "data/Func_DealData.h"

using namespace marovin_test;

namespace {

class Storage : public DriverTest {
protected:
    // Queues a read of `dataLength` bytes at offset 10 (its remoteArg1 given).
    void queueRead(int areaCode, int address, int dataLength, int station = 1, int remoteArg1 = 0)
    {
        RW_VAR v = makeVar(areaCode, address, station);
        v.remoteArg1 = remoteArg1;
        PLC_driver.frameQueue.append(Protocol{QByteArray(), 0, 0, 10, dataLength, v, 0, 0, 0});
    }
    // Stores a reply of ten header bytes, `data` and (unless cut short) a sum byte.
    void store(int areaCode, int address, int dataLength, const char *data, bool sumByte = true, int station = 1)
    {
        PLC_driver.frameQueue.clear();
        queueRead(areaCode, address, dataLength, station);
        QByteArray r = QByteArray(10, '\x11') + hex(data) + QByteArray(sumByte ? 1 : 0, '\x22');
        SaveToLocalDataErea(&r);
    }
};

TEST_F(Storage, RepliesStoreValuesLeastSignificantByteFirst)
{
    const struct {
        int areaCode, address, dataLength;
        const char *data;
        bool sumByte, preset;  // preset: the entry held AA BB CC DD before
        std::map<int, const char *> expected;  // address -> cached bytes
        int cacheSize;
    } rows[] = {
        {1, 16, 2, "12 34", true, false, {{16, "34 12"}}, 1},
        {3, 16, 2, "AB CD", true, true, {{16, "CD AB"}}, 1},
        {2, 32, 4, "56 78 12 34", true, false, {{32, "78 56 34 12"}, {33, "absent"}}, 1},
        {4, 32, 4, "56 78 12 34", true, true, {{32, "78 56 34 12"}}, 1},
        {5, 32, 4, "00 19 FF FD", true, false, {{32, "40 FD 7F 47"}}, 1},  // 65533.25: unsigned integer word
        {1, 16, 4, "12 34 56 78", true, false, {{16, "34 12"}, {17, "78 56"}}, 2},
        {2, 32, 8, "00 01 00 02 00 03 00 04", true, false, {{32, "01 00 02 00"}, {33, "absent"}, {34, "03 00 04 00"}}, 2},
        {5, 32, 8, "00 05 00 0C 00 32 00 01", true, false, {{32, "00 00 48 41"}, {34, "00 00 C0 3F"}}, 2},  // 12.5, 1.5
        {1, 16, 1, "12 34", true, false, {}, 0},  // no whole value
        {6, 16, 2, "12 34", true, false, {}, 0},
        {1, 16, 4 * 65536 + 2, "12 34", true, false, {}, 0},  // longer than any area
        // Cut short, sum byte missing: the value is emptied and sized to the request.
        {1, 16, 2, "12", false, true, {{16, "00 00"}}, 1},
        {5, 16, 4, "00 05", false, true, {{16, "00 00 00 00"}}, 1},
        {1, 16, 4, "12 34 56", false, true, {{16, "34 12"}, {17, "00 00 00 00"}}, 2},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string("area ") + std::to_string(r.areaCode) + " data " + r.data);
        PLC_driver.extendList.clear();
        if (r.preset)
            PLC_driver.extendList[ExtendFindSameVar(1, r.areaCode, r.address)].data = hex("AA BB CC DD");
        store(r.areaCode, r.address, r.dataLength, r.data, r.sumByte);
        EXPECT_EQ(PLC_driver.extendList.size(), r.cacheSize + (r.preset && r.cacheSize == 0));
        for (const auto &e : r.expected)
            EXPECT_EQ(cached(1, r.areaCode, e.first), e.second) << "address " << e.first;
    }
    // A second reply overwrites; stations are kept apart.
    store(1, 16, 2, "56 78");
    store(1, 16, 2, "9A BC", true, 2);
    EXPECT_EQ(cached(1, 1, 16), "78 56");
    EXPECT_EQ(cached(2, 1, 16), "BC 9A");
    // Nothing to store without a reply or a request.
    PLC_driver.extendList.clear();
    SaveToLocalDataErea(nullptr);
    PLC_driver.frameQueue.clear();
    QByteArray r = hex("00 00 00 00 00 00 00 00 00 00 12 34 00");
    SaveToLocalDataErea(&r);
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());
}

TEST_F(Storage, StatusBitsFollowTheAnsweredRequest)
{
    // Bits in the order the driver stores them.
    const std::vector<std::pair<int, int>> allClear = {{36, 0}, {37, 0}, {38, 0}, {39, 0}, {25, 1},
                                                       {28, 1}, {29, 1}, {30, 1}, {31, 1}};
    const struct {
        int framesDone;
        const char *data;
        std::vector<std::pair<int, int>> bits;
    } rows[] = {
        {0, "00 10 00 08", {{36, 1}, {37, 0}, {38, 0}, {39, 0}, {25, 1}, {28, 1}, {29, 0}, {30, 1}, {31, 1}}},
        {0, "00 7F 00 78", {{36, 1}, {37, 1}, {38, 1}, {39, 1}, {25, 0}, {28, 0}, {29, 0}, {30, 0}, {31, 0}}},
        {0, "00 10 00", allClear},  // too short: the register reads 0
        {1, "00 04", {{2, 1}}},     {1, "FF FB", {{2, 0}}},   {1, "00", {{2, 0}}},
        {2, "00 10", {{12, 0}}},    {2, "00 00", {{12, 1}}},  {2, "00", {{12, 1}}},
        {3, "00 01", {{16, 1}}},    {3, "01 FE", {{16, 0}}},  {3, "01", {{16, 0}}},
        {4, "00 01", {{24, 1}}},    {4, "FF", {{24, 0}}},     {5, "FF FF FF FF", {}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string("framesDone ") + std::to_string(r.framesDone) + " data " + r.data);
        PLC_driver.extendList.clear();
        word(MarovinSettings::framesDone) = r.framesDone;
        store(0, 0, 4, r.data, false, 3);
        EXPECT_EQ(PLC_driver.extendList.size(), static_cast<int>(r.bits.size()));
        for (std::size_t i = 0; i < r.bits.size(); ++i) {
            EXPECT_EQ(PLC_driver.extendList.at(static_cast<int>(i)).address, r.bits[i].first);
            EXPECT_EQ(cached(3, 0, r.bits[i].first), r.bits[i].second ? "01" : "00") << "bit " << r.bits[i].first;
        }
    }
}

TEST_F(Storage, LookupFindsOrAppendsAndFollowsTheList)
{
    const int keys[][4] = {{1, 1, 16, 0}, {1, 1, 16, 0}, {1, 3, 16, 1}, {2, 1, 16, 2}, {1, 1, 17, 3}, {1, 3, 16, 1}};
    for (const auto &k : keys)
        EXPECT_EQ(ExtendFindSameVar(k[0], k[1], k[2]), k[3]);
    ASSERT_EQ(PLC_driver.extendList.size(), 4);
    EXPECT_EQ(toHex(PLC_driver.extendList.at(3).data), "00 00 00 00");
    EXPECT_EQ(PLC_driver.extendList.at(3).station * 100 + PLC_driver.extendList.at(3).areaCode, 101);

    // Emptied, and entries appended behind the lookup's back: found, first one first.
    PLC_driver.extendList.clear();
    EXPECT_EQ(ExtendFindSameVar(1, 1, 12), 0);
    const EXTENDVAR e{1, 2, 40, QByteArray()};
    PLC_driver.extendList << e << e;
    EXPECT_EQ(ExtendFindSameVar(1, 2, 40), 1);
    PLC_driver.extendList << EXTENDVAR{1, 1, 12, QByteArray()};  // a duplicate of entry 0
    EXPECT_EQ(ExtendFindSameVar(1, 1, 12), 0);
    // Refilled to the same size with other keys: stale positions are not trusted.
    PLC_driver.extendList.clear();
    for (int address : {50, 12, 51, 52})
        PLC_driver.extendList << EXTENDVAR{1, 1, address, QByteArray()};
    EXPECT_EQ(ExtendFindSameVar(1, 2, 40), 4);
    EXPECT_EQ(ExtendFindSameVar(1, 1, 12), 1);
    EXPECT_EQ(ExtendFindSameVar(1, 1, 52), 3);
    EXPECT_EQ(PLC_driver.extendList.size(), 5);

    // A large cache keeps first positions and stays fast.
    PLC_driver.extendList.clear();
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 100000; i += round ? 997 : 1)
            ASSERT_EQ(ExtendFindSameVar(1 + i % 7, 1 + i % 5, i), i);
    EXPECT_EQ(PLC_driver.extendList.size(), 100000);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}

TEST_F(Storage, SpecialSaveCopiesWordsAndMergesThePendingBit)
{
    const struct {
        int remoteArg1, writeAddress;
        const char *writeData;  // nullptr: no pending write
        const char *reply, *frameIn, *frameOut;
        int dataLength;
        std::vector<unsigned short> words;  // words[5..] afterwards
    } rows[] = {
        {-1, -2, nullptr, "12 34 00 03", "01 06 00 01 FF FF FF FF", "01 06 00 01 00 03 98 0B", 4, {0x1234, 3, 0}},
        {-1, 0x12, "01", "12 34 00 03", "01 06 00 01 FF FF FF FF", "01 06 00 01 00 07 99 C8", 4, {0x1234, 3}},  // bit 2 set
        {-1, 0x21, "00", "12 34 00 03", "01 06 00 01 FF FF FF FF", "01 06 00 01 00 01 19 CA", 4, {}},  // bit 1 cleared
        {-1, 0x13, "02", "12 34 00 03", "01 06 00 01 FF FF FF FF", "01 06 00 01 00 03 98 0B", 4, {}},  // neither 0 nor 1
        {-1, -3, "01", "12 34 00 03", "01 06 00 01 FF FF FF FF", "01 06 00 01 00 03 98 0B", 4, {}},
        {0, -2, nullptr, "12 34 56 78", "01 06 00 01 FF FF FF FF", "01 06 00 01 FF FF FF FF", 4, {0x1234, 0x5678}},
        {-1, -2, nullptr, "00 03 56", "01 06 00 01", "01 06 00 01 00 03 98 0B", 4, {3, 0xAAAA}},  // whole words only
        {-1, -2, nullptr, "00 03", "01 06 00 01 FF FF FF FF", "01 06 00 01 00 03 98 0B", 2, {3, 0xAAAA}},
        {-1, -2, nullptr, "", "01 06 00 01", "01 06 00 01 00 00 D8 0A", 4, {0xAAAA}},  // no word: the value is 0
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.frameOut);
        PLC_driver.frameQueue.clear();
        PLC_driver.writeList.clear();
        queueRead(1, 5, r.dataLength, 1, r.remoteArg1);
        PLC_driver.frameQueue.append(Protocol{hex(r.frameIn), 77, 0, 0, 0, RW_VAR(), 0, 0, 0});
        if (r.writeData)
            PLC_driver.writeList << writeVar(0, r.writeAddress, r.writeData);
        std::vector<unsigned short> words(16, 0xAAAA);
        QByteArray reply = QByteArray(10, '\x11') + hex(r.reply);
        SpecialRegisterSave(&reply, words.data());
        for (std::size_t i = 0; i < r.words.size(); ++i)
            EXPECT_EQ(words[5 + i], r.words[i] ? r.words[i] : 0xAAAA) << i;
        EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), r.frameOut);
        EXPECT_EQ(PLC_driver.frameQueue.at(1).requestLength, 77);
        SpecialRegisterSave(&reply, nullptr);  // no word array: still merges
        EXPECT_EQ(toHex(PLC_driver.frameQueue.at(1).frame), r.frameOut);
    }
    PLC_driver.frameQueue.removeLast();
    QByteArray reply = QByteArray(10, '\x11') + hex("00 03");
    SpecialRegisterSave(&reply, nullptr);  // only one request queued: nothing to merge into
    SpecialRegisterSave(nullptr, nullptr);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
}

}  // namespace
