// Load and unload the built library several times in one process, as a host
// that reloads its drivers does. This executable already has the library
// linked, so each round loads a separate copy into a new link-map namespace
// (dlmopen): the copy's static initialiser really constructs its PLC_driver,
// and dlclose really destroys it and unmaps the copy.
//
// The copy brings its own Qt and C library, with its own heap. Whatever
// crosses the boundary is therefore either static (literals, empty values),
// read in place, or handed back to the copy's Qt to be freed.
//
// Each namespace leaves some memory of its C library and glib behind after
// dlclose, whatever is loaded in it (about 8 MB of address space per round
// here, and glib no longer starts after seven namespaces). So the test stays
// at five rounds and compares a round's growth with that of loading Qt alone.
// valgrind cannot start glib in a second namespace at all, and a sanitizer
// runtime cannot be loaded twice: there the test is skipped; the unload
// itself is checked under valgrind by the host run of scripts/memcheck.sh.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "DriverFixture.h"
#include "Exchange.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MAROVIN_SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MAROVIN_SANITIZED_BUILD 1
#endif
#endif
#ifdef MAROVIN_SANITIZED_BUILD
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif

const int kRounds = 5;
// Slack over the cost of loading Qt alone, per round.
const long kGrowthSlackKb = 2048;

bool underValgrind()
{
    const char *preload = getenv("LD_PRELOAD");
    return preload && std::string(preload).find("vgpreload") != std::string::npos;
}

// Address space of this process, in kB.
long vmSizeKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0)
            return std::stol(line.substr(7));
    return -1;
}

// What one load and unload of the driver's Qt costs, with nothing else.
long qtOnlyRoundKb()
{
    const long before = vmSizeKb();
    void *qt = dlmopen(LM_ID_NEWLM, "libQt5Core.so.5", RTLD_NOW | RTLD_LOCAL);
    if (!qt)
        return -1;
    dlclose(qt);
    return vmSizeKb() - before;
}

std::string realPath(const char *path)
{
    char buffer[PATH_MAX];
    return realpath(path, buffer) ? std::string(buffer) : std::string(path);
}

// Mappings of `file` in this process; each loaded copy has several.
int mappingsOf(const std::string &file)
{
    std::ifstream maps("/proc/self/maps");
    int n = 0;
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t at = line.find('/');
        if (at != std::string::npos && line.compare(at, std::string::npos, file) == 0)
            ++n;
    }
    return n;
}

int onceReadCalls;
int notifyCalls;
int onOnceRead(int, int, int, int)
{
    ++onceReadCalls;
    return 0;
}
int onNotify(QList<RW_VAR> *, int, int)
{
    ++notifyCalls;  // the list belongs to the copy: not touched here
    return 0;
}

// The entry points of one loaded copy.
struct Copy {
    void *handle = nullptr;
    Marovin *driver = nullptr;
    decltype(&SetComInfo) setComInfo = nullptr;
    decltype(&FlashLocalRegister) flashLocalRegister = nullptr;
    decltype(&RegistCallBackFuncIntf) registCallBack = nullptr;
    decltype(&PLCAddressChangeIntef) addressChange = nullptr;
    decltype(&AddListReadVar) addListReadVar = nullptr;
    decltype(&AddListWriteVar) addListWriteVar = nullptr;
    decltype(&AddListOnceReadVar) addListOnceReadVar = nullptr;
    decltype(&ReCreatReadVarList) reCreatReadVarList = nullptr;
    decltype(&ComCommunication) comCommunication = nullptr;
    decltype(&DataCom) dataCom = nullptr;
    decltype(&GetRegisterData) getRegisterData = nullptr;
    decltype(&SetRegisterData) setRegisterData = nullptr;
    decltype(&QueryFinishFlag) queryFinishFlag = nullptr;
    // The copy's Qt, to free byte arrays that the copy allocated.
    void (*deallocate)(QArrayData *, size_t, size_t) = nullptr;

    template <typename T>
    void resolve(T &target, const char *name)
    {
        target = reinterpret_cast<T>(dlsym(handle, name));
        EXPECT_NE(target, nullptr) << name;
    }

    bool load(const char *path)
    {
        handle = dlmopen(LM_ID_NEWLM, path, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return false;
        driver = static_cast<Marovin *>(dlsym(handle, "PLC_driver"));
        EXPECT_NE(driver, nullptr);
        resolve(setComInfo, "SetComInfo");
        resolve(flashLocalRegister, "FlashLocalRegister");
        resolve(registCallBack, "RegistCallBackFuncIntf");
        resolve(addressChange, "PLCAddressChangeIntef");
        resolve(addListReadVar, "AddListReadVar");
        resolve(addListWriteVar, "AddListWriteVar");
        resolve(addListOnceReadVar, "AddListOnceReadVar");
        resolve(reCreatReadVarList, "ReCreatReadVarList");
        resolve(comCommunication, "ComCommunication");
        resolve(dataCom, "DataCom");
        resolve(getRegisterData, "GetRegisterData");
        resolve(setRegisterData, "SetRegisterData");
        resolve(queryFinishFlag, "QueryFinishFlag");
        // QArrayData::deallocate(QArrayData *, size_t, size_t)
        resolve(deallocate, sizeof(size_t) == 8 ? "_ZN10QArrayData10deallocateEPS_mm"
                                                : "_ZN10QArrayData10deallocateEPS_jj");
        return driver && setComInfo && flashLocalRegister && registCallBack && addressChange && addListReadVar
            && addListWriteVar && addListOnceReadVar && reCreatReadVarList && comCommunication && dataCom
            && getRegisterData && setRegisterData && queryFinishFlag && deallocate;
    }

    // Gives bytes that the copy allocated back to the copy's Qt.
    void release(QByteArray &bytes)
    {
        QByteArray::DataPtr &d = bytes.data_ptr();
        if (!d->ref.isStatic() && !d->ref.deref())
            deallocate(d, sizeof(char), alignof(QArrayData));
        d = QTypedArrayData<char>::sharedNull();
    }

    // One host turn answered with a good reply; the status, or -1 if idle.
    int exchange()
    {
        Protocol *p = comCommunication();
        if (!p)
            return -1;
        QByteArray reply = goodReply(*p, QByteArrayLiteral("\x34\x12\x00\x00"));
        return dataCom(&reply, reply.size())->status;
    }
};

// One round: load, set up, register, exchange, read values, unload.
void runRound(const char *path, const std::string &file, int baseline, int round)
{
    SCOPED_TRACE("round " + std::to_string(round));
    Copy c;
    ASSERT_TRUE(c.load(path)) << dlerror();
    EXPECT_GT(mappingsOf(file), baseline) << "a second copy is mapped";
    ASSERT_NE(c.driver, &PLC_driver) << "the copy has its own driver state";
    void *ownDeallocate = reinterpret_cast<void *>(&QArrayData::deallocate);
    EXPECT_NE(reinterpret_cast<void *>(c.deallocate), ownDeallocate) << "and its own Qt";

    // Freshly constructed, whatever the previous copy went through.
    EXPECT_EQ(c.driver->phase, 100);
    EXPECT_EQ(c.driver->settings, nullptr);
    EXPECT_TRUE(c.driver->readList.isEmpty());
    EXPECT_TRUE(c.driver->writeList.isEmpty());
    EXPECT_TRUE(c.driver->frameQueue.isEmpty());
    EXPECT_TRUE(c.driver->extendList.isEmpty());

    int settings[32] = {};
    settings[S::maxUnits] = 4;
    settings[S::defaultStation] = 1;
    settings[S::retryLimit] = 2;
    settings[S::multiStation] = 1;
    settings[S::writeMode] = 2;
    c.setComInfo(settings);
    c.flashLocalRegister(nullptr, nullptr, nullptr);
    c.registCallBack(onOnceRead, onNotify);
    EXPECT_EQ(c.driver->settings, settings);
    EXPECT_EQ(c.addressChange(1, QStringLiteral("7095")), 0x7095);

    // A cyclic read list of every area, a once-read and a write.
    QList<HOSTVAR> hosts;
    const struct {
        unsigned char area;
        QString address;
    } vars[] = {{0, QStringLiteral("12")}, {1, QStringLiteral("10")}, {2, QStringLiteral("20")},
                {3, QStringLiteral("30")}, {4, QStringLiteral("40")}, {5, QStringLiteral("50")}};
    for (const auto &v : vars) {
        HOSTVAR h{};
        h.areaCode = v.area;
        h.station = 1;
        h.addressText = v.address;
        h.text = QStringLiteral("screen");
        h.length = v.area == 1 || v.area == 3 ? 1 : 2;
        hosts.append(h);
    }
    EXPECT_EQ(c.reCreatReadVarList(&hosts), 6);
    RW_VAR extra;
    extra.areaCode = 1;
    extra.addressText = QStringLiteral("11");
    extra.address = 0x11;
    extra.station = 1;
    extra.count = 1;
    EXPECT_EQ(c.addListReadVar(&extra), 7);

    RW_VAR once;
    once.ownerType = 2;
    once.ownerId = 5;
    once.areaCode = 3;
    once.addressText = QStringLiteral("60");
    once.station = 1;
    once.count = 2;
    EXPECT_EQ(c.addListOnceReadVar(&once, 0), 2);

    QByteArray value = QByteArrayLiteral("\x78\x56");
    EXPECT_EQ(c.setRegisterData(QStringLiteral("w"), 1, QStringLiteral("70"), 1, &value, 1, 1, 1), 1);
    RW_VAR write;
    write.accessMode = 1;
    write.areaCode = 3;
    write.addressText = QStringLiteral("71");
    write.address = 0x71;
    write.station = 1;
    write.count = 1;
    write.data = QByteArrayLiteral("\x01\x00");
    EXPECT_EQ(c.addListWriteVar(&write, 0), 2);

    onceReadCalls = notifyCalls = 0;
    int good = 0;
    for (int turn = 0; turn < 40; ++turn)
        good += c.exchange() == 1 ? 1 : 0;
    EXPECT_GE(good, 30);
    EXPECT_TRUE(c.driver->writeList.isEmpty());
    EXPECT_TRUE(c.driver->onceReadList.isEmpty());
    EXPECT_EQ(onceReadCalls, 1);
    EXPECT_EQ(notifyCalls, 2) << "one per write";
    EXPECT_EQ(settings[S::finishFlag], 1);

    // The reply data and the written value, read back by the host.
    QByteArray out;
    ASSERT_EQ(c.getRegisterData(QString(), 1, QStringLiteral("10"), 1, &out, 1), 1);
    EXPECT_EQ(toHex(out), "12 34");
    c.release(out);
    ASSERT_EQ(c.getRegisterData(QString(), 1, QStringLiteral("70"), 1, &out, 1), 1);
    EXPECT_EQ(toHex(out), "78 56");
    c.release(out);
    EXPECT_EQ(c.queryFinishFlag(), 1);

    EXPECT_EQ(dlclose(c.handle), 0) << dlerror();
    EXPECT_EQ(mappingsOf(file), baseline) << "the copy is gone";
    EXPECT_EQ(PLC_driver.phase, 100) << "the linked copy was never touched";
}

TEST(Reload, LoadUseAndUnloadRepeatedly)
{
    if (kSanitized)
        GTEST_SKIP() << "a sanitizer runtime cannot be loaded into a second namespace";
    if (underValgrind())
        GTEST_SKIP() << "valgrind cannot start glib in a second namespace";
    const std::string file = realPath(MAROVIN_LIBRARY_PATH);
    const int baseline = mappingsOf(file);
    ASSERT_GT(baseline, 0) << "the linked copy is mapped from " << file;
    // Emulated address spaces do not compare.
    const bool checkGrowth = getenv("MAROVIN_UNDER_QEMU") == nullptr;
    const long qtRound = checkGrowth ? qtOnlyRoundKb() : 0;
    if (checkGrowth) {
        ASSERT_GE(qtRound, 0) << "Qt alone could not be loaded: " << dlerror();
    }
    for (int round = 1; round <= kRounds; ++round) {
        const long before = vmSizeKb();
        runRound(MAROVIN_LIBRARY_PATH, file, baseline, round);
        if (HasFatalFailure())
            return;
        if (checkGrowth) {
            EXPECT_LE(vmSizeKb() - before, qtRound + kGrowthSlackKb)
                << "round " << round << " grew more than loading Qt alone (" << qtRound << " kB)";
        }
    }
    EXPECT_EQ(mappingsOf(file), baseline);
}

}  // namespace
