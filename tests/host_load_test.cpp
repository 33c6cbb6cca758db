// Loads the built library the way a panel runtime does and checks what it
// exports: entry points and globals under plain names, everything else only
// under its C++ name.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "Marovin.h"

namespace {

class HostLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle = dlopen(MAROVIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
    }
    void TearDown() override
    {
        if (handle)
            dlclose(handle);
    }
    void *handle = nullptr;
};

TEST_F(HostLoad, ResolvesEveryEntryPointAndGlobalByPlainName)
{
    const char *names[] = {"SetComInfo",       "FlashLocalRegister", "RegistCallBackFuncIntf", "PLCAddressChangeIntef",
                           "AddListReadVar",   "AddListWriteVar",    "AddListOnceReadVar",     "ReCreatReadVarList",
                           "ComCommunication", "DataCom",            "GetRegisterData",        "SetRegisterData",
                           "QueryFinishFlag",  "PLC_driver",         "LB",                     "LW",
                           "RWI"};
    for (const char *name : names)
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
}

TEST_F(HostLoad, InternalRoutinesOnlyUnderCxxNames)
{
    struct Row {
        const char *plain;
        const char *mangled;
    } rows[] = {
        {"StringAddressToInt", "_Z18StringAddressToInti7QString"},
        {"passRetValue", "_Z12passRetValuePK6RW_VARPS_"},
        {"CalSUM", "_Z6CalSUMPKht"},
        {"CalCRC", "_Z6CalCRCPKht"},
        {"CalLRC", "_Z6CalLRCPKht"},
        {"CalXOR", "_Z6CalXORPKht"},
        {"DigitalToASCII", "_Z14DigitalToASCIIi"},
        {"ASCIIToDigital", "_Z14ASCIIToDigitali"},
        {"CheckGetData", "_Z12CheckGetDataP10QByteArrayi"},
        {"ReadRegister", "_Z12ReadRegisterP6RW_VAR"},
        {"ReadBool", "_Z8ReadBoolP6RW_VAR"},
        {"ReadAnalog", "_Z10ReadAnalogP6RW_VAR"},
        {"WriteRegister", "_Z13WriteRegisterP6RW_VAR"},
        {"WriteBool", "_Z9WriteBoolP6RW_VAR"},
        {"WriteAnalog_16", "_Z14WriteAnalog_16P6RW_VAR"},
        {"WriteAnalog_32", "_Z14WriteAnalog_32P6RW_VAR"},
        {"WriteAnalog_32FLOAT", "_Z19WriteAnalog_32FLOATP6RW_VAR"},
        {"Remote_ReadVar", "_Z14Remote_ReadVarP6RW_VAR"},
        {"Remote_WriteVar", "_Z15Remote_WriteVarP6RW_VAR"},
        {"SaveToLocalDataErea", "_Z19SaveToLocalDataEreaP10QByteArray"},
        {"ExtendFindSameVar", "_Z17ExtendFindSameVariii"},
        {"SpecialRegisterSave", "_Z19SpecialRegisterSaveP10QByteArrayPt"},
        {"WriteDataToLocal", "_Z16WriteDataToLocalPK6RW_VAR"},
        {"DealDataOfLocalArea", "_Z19DealDataOfLocalAreaP10QByteArrayi"},
        {"DealDataOfRemoteArea", "_Z20DealDataOfRemoteAreaP10QByteArrayi"},
        {"GetDriverReturnValue", "_Z20GetDriverReturnValuei"},
        {"SwitchErrorReturn", "_Z17SwitchErrorReturni"},
        {"Bubble_Sort", "_Z11Bubble_SortP5QListI6RW_VARE"},
        {"WhetherGroup", "_Z12WhetherGroupiiP6RW_VARP5QListIS_E"},
        {"WordVarReCreat", "_Z14WordVarReCreatP5QListI6RW_VAREii"},
        {"BitVarReCreat", "_Z13BitVarReCreatP5QListI6RW_VAREii"},
        {"Marovin::Marovin", "_ZN7MarovinC1Ev"},
        {"Marovin::~Marovin", "_ZN7MarovinD1Ev"},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(dlsym(handle, r.plain), nullptr) << r.plain << " must not be exported unmangled";
        EXPECT_NE(dlsym(handle, r.mangled), nullptr) << r.mangled;
    }
}

TEST_F(HostLoad, FreshDriverStateAsLoaded)
{
    auto *driver = static_cast<Marovin *>(dlsym(handle, "PLC_driver"));
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->phase, 100);
    EXPECT_TRUE(driver->readList.isEmpty());
    EXPECT_TRUE(driver->writeList.isEmpty());
    EXPECT_TRUE(driver->onceReadList.isEmpty());
    EXPECT_TRUE(driver->frameQueue.isEmpty());
    EXPECT_TRUE(driver->extendList.isEmpty());
    EXPECT_EQ(driver->writeBurst + driver->onceBurst + driver->goodReplies, 0);
    EXPECT_FALSE(driver->commFailed);
    EXPECT_EQ(driver->settings, nullptr);
    EXPECT_EQ(driver->result.status, 0);
    EXPECT_TRUE(driver->result.data.isEmpty());
}

// Before set-up nothing may crash: entry points answer with their failure values.
TEST_F(HostLoad, EntryPointsBeforeSetUp)
{
    auto com = reinterpret_cast<Protocol *(*)()>(dlsym(handle, "ComCommunication"));
    auto data = reinterpret_cast<RW_VAR *(*)(QByteArray *, int)>(dlsym(handle, "DataCom"));
    auto get = reinterpret_cast<int (*)(QString, int, QString, int, QByteArray *, int)>(dlsym(handle, "GetRegisterData"));
    auto set = reinterpret_cast<int (*)(QString, int, QString, int, QByteArray *, int, int, int)>(
        dlsym(handle, "SetRegisterData"));
    auto once = reinterpret_cast<int (*)(RW_VAR *, int)>(dlsym(handle, "AddListOnceReadVar"));
    auto rebuild = reinterpret_cast<int (*)(QList<HOSTVAR> *)>(dlsym(handle, "ReCreatReadVarList"));
    auto finish = reinterpret_cast<int (*)()>(dlsym(handle, "QueryFinishFlag"));
    ASSERT_TRUE(com && data && get && set && once && rebuild && finish);

    EXPECT_EQ(com(), nullptr);
    QByteArray reply("O");
    EXPECT_EQ(data(&reply, 1)->status, 1);
    QByteArray out;
    EXPECT_EQ(get(QString(), 1, "10", 1, &out, 1), 0);
    EXPECT_EQ(set(QString(), 1, "10", 1, &out, 1, 0, 0), 0);
    RW_VAR v;
    v.areaCode = 1;
    v.addressText = "10";
    v.count = 1;
    EXPECT_EQ(once(&v, 0), 0);
    QList<HOSTVAR> hosts;
    EXPECT_EQ(rebuild(&hosts), 0);
    EXPECT_EQ(finish(), 1);
}

}  // namespace
