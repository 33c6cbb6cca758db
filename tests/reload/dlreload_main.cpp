// Loads and unloads the driver library several times in one process, the way
// a panel runtime that reloads its drivers would, and drives each copy
// through a few exchanges. Not linked against the library, so every dlclose
// really unloads it and every dlopen constructs a fresh PLC_driver; run under
// valgrind by the memcheck leg. Exit 0 when every round behaved.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "Marovin.h"

namespace {

int failures = 0;

void expect(bool ok, int round, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "round %d: %s\n", round, what);
        ++failures;
    }
}

template <class F>
F entry(void *handle, const char *name)
{
    return reinterpret_cast<F>(dlsym(handle, name));
}

// A read reply of `length` bytes with `word` at offset 10 and its sum.
QByteArray readReply(int length, unsigned word)
{
    QByteArray r(length, '\0');
    r[10] = static_cast<char>(word >> 8);
    r[11] = static_cast<char>(word & 0xFF);
    unsigned sum = 0;
    for (int i = 1; i < length - 1; ++i)
        sum += static_cast<unsigned char>(r[i]);
    r[length - 1] = static_cast<char>(sum & 0xFF);
    return r;
}

void oneRound(const char *path, int round)
{
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "round %d: %s\n", round, dlerror());
        ++failures;
        return;
    }
    auto *driver = entry<Marovin *>(handle, "PLC_driver");
    auto setComInfo = entry<void (*)(int *)>(handle, "SetComInfo");
    auto addRead = entry<int (*)(RW_VAR *)>(handle, "AddListReadVar");
    auto com = entry<Protocol *(*)()>(handle, "ComCommunication");
    auto dataCom = entry<RW_VAR *(*)(QByteArray *, int)>(handle, "DataCom");
    auto get = entry<int (*)(QString, int, QString, int, QByteArray *, int)>(handle, "GetRegisterData");
    if (!driver || !setComInfo || !addRead || !com || !dataCom || !get) {
        expect(false, round, "an entry point is missing");
        dlclose(handle);
        return;
    }
    expect(driver->phase == 100 && driver->readList.isEmpty() && driver->extendList.isEmpty(), round,
           "the library was not freshly constructed");

    int settings[32] = {};
    settings[MarovinSettings::maxUnits] = 4;
    settings[MarovinSettings::retryLimit] = 2;
    settings[MarovinSettings::multiStation] = 1;
    setComInfo(settings);
    for (int a = 0; a < 4; ++a) {
        RW_VAR v;
        v.areaCode = 1;
        v.station = 1;
        v.address = 0x10 + a;
        v.count = 1;
        v.addressText = QString::number(0x10 + a, 16);
        addRead(&v);
    }
    for (int i = 0; i < 40; ++i) {
        Protocol *p = com();
        if (!p)
            continue;
        QByteArray reply = readReply(p->replyLength, static_cast<unsigned>(0x100 * round + p->var.address));
        expect(dataCom(&reply, reply.size())->status == 1, round, "an exchange failed");
    }
    QByteArray out;
    expect(get(QString(), 1, "12", 1, &out, 1) == 1 && out.size() == 2, round, "value not read back");
    const unsigned value = static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8;
    expect(value == static_cast<unsigned>(0x100 * round + 0x12), round, "wrong value read back");
    setComInfo(nullptr);

    expect(dlclose(handle) == 0, round, "dlclose failed");
    expect(dlopen(path, RTLD_NOW | RTLD_NOLOAD) == nullptr, round, "the library stayed loaded");
}

}  // namespace

// The library named on the command line, else the one built with this test
// (options such as a --gtest_filter from a runner are ignored).
int main(int argc, char **argv)
{
    const char *path = MAROVIN_LIBRARY_PATH;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-')
            path = argv[i];
    const int rounds = 5;
    for (int round = 0; round < rounds; ++round)
        oneRound(path, round);
    std::printf("dlreload: %d load/unload rounds, %d problems\n", rounds, failures);
    return failures ? 1 : 0;
}
