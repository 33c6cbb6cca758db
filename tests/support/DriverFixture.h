// Test fixture: a fresh driver state and a settings record for every test.
#ifndef MAROVIN_TEST_DRIVER_FIXTURE_H
#define MAROVIN_TEST_DRIVER_FIXTURE_H

#include <gtest/gtest.h>

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

}  // namespace marovin_test

#endif
