// The host reads the driver's records by offset: check every offset, on the
// 64-bit build and on the 32-bit ARM target alike.
#include <gtest/gtest.h>

#include <cstddef>

#include "Marovin.h"

namespace {

const std::size_t P = sizeof(void *);

// Offset as laid out for the host: ints of 4 bytes, Qt values one pointer each.
struct FieldRow {
    const char *name;
    std::size_t actual;
    std::size_t expected32;
    std::size_t expected64;
};

void expectRows(const FieldRow *rows, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(rows[i].actual, P == 4 ? rows[i].expected32 : rows[i].expected64) << rows[i].name;
}

TEST(AbiLayout, QtValuesArePointerSized)
{
    EXPECT_EQ(sizeof(int), 4u);
    EXPECT_EQ(sizeof(QString), P);
    EXPECT_EQ(sizeof(QByteArray), P);
    EXPECT_EQ(sizeof(QList<RW_VAR>), P);
    EXPECT_EQ(sizeof(QMutex), P);
}

TEST(AbiLayout, RwVar)
{
    const FieldRow rows[] = {
        {"ownerType", offsetof(RW_VAR, ownerType), 0, 0},
        {"ownerId", offsetof(RW_VAR, ownerId), 4, 4},
        {"accessMode", offsetof(RW_VAR, accessMode), 8, 8},
        {"remoteFlag", offsetof(RW_VAR, remoteFlag), 12, 12},
        {"linkNo", offsetof(RW_VAR, linkNo), 16, 16},
        {"status", offsetof(RW_VAR, status), 20, 20},
        {"hostText", offsetof(RW_VAR, hostText), 24, 24},
        {"addressText", offsetof(RW_VAR, addressText), 28, 32},
        {"areaCode", offsetof(RW_VAR, areaCode), 32, 40},
        {"address", offsetof(RW_VAR, address), 36, 44},
        {"station", offsetof(RW_VAR, station), 40, 48},
        {"count", offsetof(RW_VAR, count), 44, 52},
        {"remoteArg1", offsetof(RW_VAR, remoteArg1), 48, 56},
        {"remoteArg2", offsetof(RW_VAR, remoteArg2), 52, 60},
        {"data", offsetof(RW_VAR, data), 56, 64},
        {"sizeof", sizeof(RW_VAR), 60, 72},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(AbiLayout, ProtocolAndCacheEntry)
{
    const FieldRow rows[] = {
        {"frame", offsetof(Protocol, frame), 0, 0},
        {"requestLength", offsetof(Protocol, requestLength), 4, 8},
        {"replyLength", offsetof(Protocol, replyLength), 8, 12},
        {"dataOffset", offsetof(Protocol, dataOffset), 12, 16},
        {"dataLength", offsetof(Protocol, dataLength), 16, 20},
        {"var", offsetof(Protocol, var), 20, 24},
        {"extra1", offsetof(Protocol, extra1), 80, 96},
        {"extra2", offsetof(Protocol, extra2), 84, 100},
        {"extra3", offsetof(Protocol, extra3), 88, 104},
        {"sizeof", sizeof(Protocol), 92, 112},
        {"EXTENDVAR.station", offsetof(EXTENDVAR, station), 0, 0},
        {"EXTENDVAR.areaCode", offsetof(EXTENDVAR, areaCode), 4, 4},
        {"EXTENDVAR.address", offsetof(EXTENDVAR, address), 8, 8},
        {"EXTENDVAR.data", offsetof(EXTENDVAR, data), 12, 16},
        {"HOSTVAR.areaCode", offsetof(HOSTVAR, areaCode), 1, 1},
        {"HOSTVAR.station", offsetof(HOSTVAR, station), 2, 2},
        {"HOSTVAR.hostWord", offsetof(HOSTVAR, hostWord), 4, 4},
        {"HOSTVAR.addressText", offsetof(HOSTVAR, addressText), 8, 8},
        {"HOSTVAR.text", offsetof(HOSTVAR, text), 12, 16},
        {"HOSTVAR.length", offsetof(HOSTVAR, length), 16, 24},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
}

TEST(AbiLayout, DriverState)
{
    const FieldRow rows[] = {
        {"settings", offsetof(Marovin, settings), 0, 0},
        {"readList", offsetof(Marovin, readList), 4, 8},
        {"writeList", offsetof(Marovin, writeList), 8, 16},
        {"onceReadList", offsetof(Marovin, onceReadList), 12, 24},
        {"spareList", offsetof(Marovin, spareList), 16, 32},
        {"frameQueue", offsetof(Marovin, frameQueue), 20, 40},
        {"extendList", offsetof(Marovin, extendList), 24, 48},
        {"onceReadDone", offsetof(Marovin, onceReadDone), 28, 56},
        {"ownerNotify", offsetof(Marovin, ownerNotify), 32, 64},
        {"listMutex", offsetof(Marovin, listMutex), 36, 72},
        {"dataMutex", offsetof(Marovin, dataMutex), 40, 80},
        {"result", offsetof(Marovin, result), 44, 88},
        {"phase", offsetof(Marovin, phase), 104, 160},
        {"writeBurst", offsetof(Marovin, writeBurst), 108, 164},
        {"onceBurst", offsetof(Marovin, onceBurst), 112, 168},
        {"goodReplies", offsetof(Marovin, goodReplies), 116, 172},
        {"commFailed", offsetof(Marovin, commFailed), 120, 176},
        {"spareFlag", offsetof(Marovin, spareFlag), 121, 177},
        {"cacheIndex (added)", offsetof(Marovin, cacheIndex), 124, 184},
        {"priv (added)", offsetof(Marovin, priv), 128, 192},
    };
    expectRows(rows, sizeof rows / sizeof rows[0]);
    EXPECT_EQ(sizeof(PLC_driver.commFailed), 1u);
}

TEST(AbiLayout, SettingsWords)
{
    using namespace MarovinSettings;
    const int words[][2] = {{maxUnits, 4},     {defaultStation, 6}, {retryLimit, 7},   {retryCount, 8},
                            {multiStation, 9}, {framesPerVar, 11},  {framesDone, 12},  {remoteMode, 14},
                            {localLinkNo, 15}, {writeMode, 16},     {finishFlag, 17},  {notifyContext, 18}};
    for (const auto &w : words)
        EXPECT_EQ(w[0], w[1]);
}

}  // namespace
