// Loads and unloads the driver library several times in one process, the way
// a panel runtime that reloads its drivers would, and drives each copy
// through a few exchanges. Not linked against the library, so every dlclose
// really unloads it and every dlopen constructs a fresh PLC_driver; run under
// valgrind by the memcheck leg. Exit 0 when every round behaved.
#include <dlfcn.h>

#include <cstdio>

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

// One round: load, check the fresh state, read four words, read one back, unload.
void oneRound(const char *path, int round)
{
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        expect(false, round, dlerror());
        return;
    }
    auto *driver = static_cast<Marovin *>(dlsym(handle, "PLC_driver"));
    auto setComInfo = reinterpret_cast<void (*)(int *)>(dlsym(handle, "SetComInfo"));
    auto addRead = reinterpret_cast<int (*)(RW_VAR *)>(dlsym(handle, "AddListReadVar"));
    auto com = reinterpret_cast<Protocol *(*)()>(dlsym(handle, "ComCommunication"));
    auto dataCom = reinterpret_cast<RW_VAR *(*)(QByteArray *, int)>(dlsym(handle, "DataCom"));
    auto get = reinterpret_cast<int (*)(QString, int, QString, int, QByteArray *, int)>(dlsym(handle, "GetRegisterData"));
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
        // RW_VAR's fields in order: area 1, station 1, one word.
        RW_VAR v{0, 0, 0, 0, 0, 0, QString(), QString::number(0x10 + a, 16), 1, 0x10 + a, 1, 1, 0, 0, QByteArray()};
        addRead(&v);
    }
    for (int i = 0; i < 40; ++i) {
        Protocol *p = com();
        if (!p)
            continue;
        // A 13-byte read reply carrying 0x100 * round + address in bytes 10 and 11, and the sum of bytes 1 on.
        const unsigned word = static_cast<unsigned>(0x100 * round + p->var.address);
        QByteArray reply(p->replyLength, '\0');
        reply[10] = static_cast<char>(word >> 8);
        reply[11] = static_cast<char>(word & 0xFF);
        reply[reply.size() - 1] = static_cast<char>((word >> 8) + (word & 0xFF));
        expect(dataCom(&reply, reply.size())->status == 1, round, "an exchange failed");
    }
    QByteArray out;
    const QByteArray expected = QByteArray(1, '\x12') + static_cast<char>(round);  // 0x100 * round + 0x12
    expect(get(QString(), 1, "12", 1, &out, 1) == 1 && out == expected, round, "value not read back right");
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
    for (int round = 0; round < 5; ++round)
        oneRound(path, round);
    std::printf("dlreload: 5 load/unload rounds, %d problems\n", failures);
    return failures ? 1 : 0;
}
