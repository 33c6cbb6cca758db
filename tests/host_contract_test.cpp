// The contract with a panel runtime: the exported names it resolves, the
// record offsets it reads, the state the library starts in, and bad calls
// that cross entry points (before set-up, settings withdrawn mid-exchange,
// missing callbacks). Each entry point's own bad input is in its subsystem's
// table; docs/bad-input.md lists where.
#include <gtest/gtest.h>

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/Settings.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

TEST(HostContract, ExportsByName)
{
    void *handle = dlopen(MAROVIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const char *name : {"SetComInfo", "FlashLocalRegister", "RegistCallBackFuncIntf", "PLCAddressChangeIntef",
                             "AddListReadVar", "AddListWriteVar", "AddListOnceReadVar", "ReCreatReadVarList",
                             "ComCommunication", "DataCom", "GetRegisterData", "SetRegisterData", "QueryFinishFlag",
                             "PLC_driver", "LB", "LW", "RWI"})
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
    // Everything else only under its C++ name.
    for (const char *name :
         {"_Z18StringAddressToInti7QString", "_Z12passRetValuePK6RW_VARPS_", "_Z6CalSUMPKht", "_Z6CalCRCPKht",
          "_Z6CalLRCPKht", "_Z6CalXORPKht", "_Z14DigitalToASCIIi", "_Z14ASCIIToDigitali", "_Z12CheckGetDataP10QByteArrayi",
          "_Z12ReadRegisterP6RW_VAR", "_Z8ReadBoolP6RW_VAR", "_Z10ReadAnalogP6RW_VAR", "_Z13WriteRegisterP6RW_VAR",
          "_Z9WriteBoolP6RW_VAR", "_Z14WriteAnalog_16P6RW_VAR", "_Z14WriteAnalog_32P6RW_VAR",
          "_Z19WriteAnalog_32FLOATP6RW_VAR", "_Z14Remote_ReadVarP6RW_VAR", "_Z15Remote_WriteVarP6RW_VAR",
          "_Z19SaveToLocalDataEreaP10QByteArray", "_Z17ExtendFindSameVariii", "_Z19SpecialRegisterSaveP10QByteArrayPt",
          "_Z16WriteDataToLocalPK6RW_VAR", "_Z19DealDataOfLocalAreaP10QByteArrayi", "_Z20DealDataOfRemoteAreaP10QByteArrayi",
          "_Z20GetDriverReturnValuei", "_Z17SwitchErrorReturni", "_Z11Bubble_SortP5QListI6RW_VARE",
          "_Z12WhetherGroupiiP6RW_VARP5QListIS_E", "_Z14WordVarReCreatP5QListI6RW_VAREii",
          "_Z13BitVarReCreatP5QListI6RW_VAREii", "_ZN7MarovinC1Ev", "_ZN7MarovinD1Ev"}) {
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
        char *demangled = abi::__cxa_demangle(name, nullptr, nullptr, nullptr);
        const std::string full = demangled ? demangled : name, plain = full.substr(0, full.find('('));
        std::free(demangled);
        EXPECT_EQ(dlsym(handle, plain.c_str()), nullptr) << plain << " must not be exported unmangled";
    }
    dlclose(handle);
}

// Offset as laid out for the host: ints of 4 bytes, Qt values one pointer each.
struct FieldRow {
    const char *name;
    std::size_t actual, expected32, expected64;
};
#define FIELD(type, field, at32, at64) {#type "." #field, offsetof(type, field), at32, at64}

TEST(HostContract, EveryOffsetOfTheHostRecords)
{
    const std::size_t P = sizeof(void *);
    EXPECT_EQ((std::vector<std::size_t>{sizeof(int), sizeof(QString), sizeof(QByteArray), sizeof(QList<RW_VAR>),
                                        sizeof(QMutex), sizeof(PLC_driver.commFailed)}),
              (std::vector<std::size_t>{4, P, P, P, P, 1}));
    const FieldRow rows[] = {
        FIELD(RW_VAR, ownerType, 0, 0),        FIELD(RW_VAR, ownerId, 4, 4),         FIELD(RW_VAR, accessMode, 8, 8),
        FIELD(RW_VAR, remoteFlag, 12, 12),     FIELD(RW_VAR, linkNo, 16, 16),        FIELD(RW_VAR, status, 20, 20),
        FIELD(RW_VAR, hostText, 24, 24),       FIELD(RW_VAR, addressText, 28, 32),   FIELD(RW_VAR, areaCode, 32, 40),
        FIELD(RW_VAR, address, 36, 44),        FIELD(RW_VAR, station, 40, 48),       FIELD(RW_VAR, count, 44, 52),
        FIELD(RW_VAR, remoteArg1, 48, 56),     FIELD(RW_VAR, remoteArg2, 52, 60),    FIELD(RW_VAR, data, 56, 64),
        {"sizeof RW_VAR", sizeof(RW_VAR), 60, 72},
        FIELD(Protocol, frame, 0, 0),          FIELD(Protocol, requestLength, 4, 8), FIELD(Protocol, replyLength, 8, 12),
        FIELD(Protocol, dataOffset, 12, 16),   FIELD(Protocol, dataLength, 16, 20),  FIELD(Protocol, var, 20, 24),
        FIELD(Protocol, extra1, 80, 96),       FIELD(Protocol, extra2, 84, 100),     FIELD(Protocol, extra3, 88, 104),
        {"sizeof Protocol", sizeof(Protocol), 92, 112},
        FIELD(EXTENDVAR, station, 0, 0),       FIELD(EXTENDVAR, areaCode, 4, 4),     FIELD(EXTENDVAR, address, 8, 8),
        FIELD(EXTENDVAR, data, 12, 16),        FIELD(HOSTVAR, areaCode, 1, 1),       FIELD(HOSTVAR, station, 2, 2),
        FIELD(HOSTVAR, hostWord, 4, 4),        FIELD(HOSTVAR, addressText, 8, 8),    FIELD(HOSTVAR, text, 12, 16),
        FIELD(HOSTVAR, length, 16, 24),
        FIELD(Marovin, settings, 0, 0),        FIELD(Marovin, readList, 4, 8),       FIELD(Marovin, writeList, 8, 16),
        FIELD(Marovin, onceReadList, 12, 24),  FIELD(Marovin, spareList, 16, 32),    FIELD(Marovin, frameQueue, 20, 40),
        FIELD(Marovin, extendList, 24, 48),    FIELD(Marovin, onceReadDone, 28, 56), FIELD(Marovin, ownerNotify, 32, 64),
        FIELD(Marovin, listMutex, 36, 72),     FIELD(Marovin, dataMutex, 40, 80),    FIELD(Marovin, result, 44, 88),
        FIELD(Marovin, phase, 104, 160),       FIELD(Marovin, writeBurst, 108, 164), FIELD(Marovin, onceBurst, 112, 168),
        FIELD(Marovin, goodReplies, 116, 172), FIELD(Marovin, commFailed, 120, 176), FIELD(Marovin, spareFlag, 121, 177),
        FIELD(Marovin, cacheIndex, 124, 184),  FIELD(Marovin, priv, 128, 192),  // added after the host's members
    };
    for (const FieldRow &r : rows)
        EXPECT_EQ(r.actual, P == 4 ? r.expected32 : r.expected64) << r.name;
    const int words[][2] = {{S::maxUnits, 4},      {S::defaultStation, 6}, {S::retryLimit, 7},  {S::retryCount, 8},
                            {S::multiStation, 9},  {S::cleared10, 10},     {S::framesPerVar, 11}, {S::framesDone, 12},
                            {S::cleared13, 13},    {S::remoteMode, 14},    {S::localLinkNo, 15}, {S::writeMode, 16},
                            {S::finishFlag, 17},   {S::notifyContext, 18}, {S::wordCount, 19}};
    for (const auto &w : words)
        EXPECT_EQ(w[0], w[1]);
}

// No SetComInfo and no callbacks: the state right after load.
class BeforeSetup : public ::testing::Test {
protected:
    void SetUp() override { resetDriver(); }
    void TearDown() override { resetDriver(); }
};

TEST_F(BeforeSetup, EveryEntryPointReturnsItsFailureValue)
{
    const Marovin fresh;  // constructed as the library's static initialiser does
    EXPECT_EQ(std::make_pair(fresh.phase, fresh.writeBurst + fresh.onceBurst + fresh.goodReplies + fresh.result.status),
              std::make_pair(100, 0));
    EXPECT_TRUE(fresh.settings == nullptr && !fresh.commFailed && fresh.readList.isEmpty());
    EXPECT_EQ(std::make_pair(QueryFinishFlag(), PLCAddressChangeIntef(0, "12")), std::make_pair(1, 12)) << "parsing needs no set-up";
    RW_VAR read = makeVar(1, 0x10), write = writeVar(1, 0x20, "01 00"), once = makeVar(1, 0x10, 1, 2);
    EXPECT_EQ(AddListReadVar(&read) + AddListWriteVar(&write, 0), 2) << "plain appends need no settings";
    EXPECT_EQ(ComCommunication(), nullptr) << "nothing is sent without settings";
    EXPECT_EQ(AddListOnceReadVar(&once, 0) + AddListOnceReadVar(&once, 1), 0);
    QList<HOSTVAR> hosts({hostVar(1, "20")});
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    EXPECT_EQ(pieces(PLC_driver.readList), "16/1") << "the read list is left as it was";
    QByteArray out("keep"), value("\x01\x02", 2);
    EXPECT_EQ(GetRegisterData(QString(), 1, "10", 1, &out, 2) + SetRegisterData("h", 1, "10", 1, &value, 1, 3, 4), 0);
    EXPECT_TRUE(out == "keep" && PLC_driver.extendList.isEmpty() && PLC_driver.frameQueue.isEmpty());
    EXPECT_EQ(PLC_driver.writeList.size(), 1);
    EXPECT_EQ(DataCom(nullptr, 0)->status, 1) << "an empty queue leaves success";
}

class HostInput : public DriverTest {};

TEST_F(HostInput, SettingsWithdrawnWhileARequestIsOutstanding)
{
    PLC_driver.readList << makeVar(1, 0x10);
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    QByteArray reply = goodReply(*p);
    SetComInfo(nullptr);
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 200);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1) << "the request stays for when settings return";
    SetComInfo(settings);
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 1);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
}

TEST_F(HostInput, NullCallbacksAreSkipped)
{
    RegistCallBackFuncIntf(nullptr, nullptr);
    word(S::retryLimit) = 0;
    // A write (ownerNotify on dispatch) and a once-read (onceReadDone at its end);
    // then a give-up (ownerNotify, and onceReadDone for the dropped once-read).
    QByteArray value("\x34\x12", 2);
    RW_VAR once = makeVar(1, 0x30);
    once.ownerType = 2;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(SetRegisterData("host", 1, "20", 1, &value, 1, 3, 4), 1);
        ASSERT_EQ(AddListOnceReadVar(&once, 0), 1);
        if (round == 0)
            EXPECT_EQ(exchangeGood() + exchangeGood(), 2);
        else
            EXPECT_EQ(exchangeWith(QByteArray()), 44) << "no reply, ownerType 3";
        EXPECT_TRUE(PLC_driver.writeList.isEmpty() && PLC_driver.onceReadList.isEmpty());
    }
    EXPECT_TRUE(callbacks().notifies.empty() && callbacks().onceReads.empty());
}

}  // namespace
