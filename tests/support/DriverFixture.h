// Test fixture: a fresh driver state and a settings record for every test,
// and the small helpers every driver test uses.
#ifndef MAROVIN_TEST_DRIVER_FIXTURE_H
#define MAROVIN_TEST_DRIVER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Marovin.h"

namespace marovin_test {

// Empties every list, the cache and the counters of PLC_driver, as after load,
// and drops the settings record and callbacks.
void resetDriver();

// Bytes from a hex text such as "08 00 10 B0".
QByteArray hex(const char *text);
// Hex text of bytes, upper case, space separated.
std::string toHex(const QByteArray &bytes);
// The same two for the byte vectors of the device model and the transports.
using Bytes = std::vector<std::uint8_t>;
Bytes bytes(const char *text);
std::string toHex(const std::uint8_t *bytes, std::size_t count);
inline std::string toHex(const Bytes &b) { return toHex(b.data(), b.size()); }

struct Callbacks {
    struct OnceRead {
        int context, ownerType, ownerId, outcome;
    };
    struct Notify {
        int ownerType, one;
    };
    std::vector<OnceRead> onceReads;
    std::vector<Notify> notifies;
};
// Calls recorded by the callbacks that DriverTest registers.
Callbacks &callbacks();

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    int settings[32];
    int &word(int index) { return settings[index]; }
};

// A variable record with the given key fields.
RW_VAR makeVar(int areaCode, int address, int station = 1, int count = 1);
// A write variable (accessMode 1) carrying `data`.
RW_VAR writeVar(int areaCode, int address, const char *data, int station = 1, int count = 1);
// A host record for ReCreatReadVarList.
HOSTVAR hostVar(int areaCode, const char *address, int station = 1, int length = 1);

// The cached bytes of a key as hex text, or "absent".
std::string cached(int station, int areaCode, int address);
// The frames of the queue as hex texts.
std::vector<std::string> queuedFrames();
// "address/count" of each entry, space separated.
std::string pieces(const QList<RW_VAR> &list);
// Every field of a record, so that "unchanged" and "replaced" can be checked whole.
std::string describe(const RW_VAR &v);

}  // namespace marovin_test

#endif
