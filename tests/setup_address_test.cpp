// Set-up entry points and the address parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "DriverFixture.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;

namespace {

struct AddressRow {
    int areaCode;
    const char *text;
    int expected;
};

TEST(AddressParse, TextsPerArea)
{
    const AddressRow rows[] = {
        // Status bits: decimal, and only the fixed bit numbers.
        {0, "12", 12}, {0, "39", 39}, {0, "2", 2}, {0, "5", 5}, {0, "34", 34},
        {0, "13", -1}, {0, "0", -1}, {0, "40", -1}, {0, "100", -1}, {0, "-12", -1},
        {0, "c", -1}, {0, "0x0C", -1}, {0, "", -1},
        // Every other area code: hexadecimal, any value.
        {1, "7095", 28821}, {1, "1A", 26}, {1, "1a", 26}, {1, "0", 0}, {1, "G1", -1}, {1, "", -1},
        {2, "FFFF", 65535}, {4, "7FFFFFFF", 2147483647}, {5, "10", 16},
        {3, "-10", -16}, {3, "", -1},
        {7, "10", 16}, {-3, "10", 16}, {255, "A", 10}, {7, "", -1},
    };
    for (const AddressRow &r : rows) {
        const QString text = QString::fromLatin1(r.text);
        EXPECT_EQ(StringAddressToInt(r.areaCode, text), r.expected) << r.areaCode << " " << r.text;
        EXPECT_EQ(PLCAddressChangeIntef(r.areaCode, text), r.expected) << r.areaCode << " " << r.text;
    }
}

TEST(AddressParse, ExactlyFifteenStatusBitsAreAccepted)
{
    const int accepted[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};
    int found = 0;
    for (int bit = -5; bit <= 300; ++bit) {
        const int got = StringAddressToInt(0, QString::number(bit));
        const bool listed = std::find(std::begin(accepted), std::end(accepted), bit) != std::end(accepted);
        EXPECT_EQ(got, listed ? bit : -1) << bit;
        found += listed ? 1 : 0;
    }
    EXPECT_EQ(found, 15);
}

class SetupTest : public DriverTest {};

TEST_F(SetupTest, SetComInfoZeroesWordsTenAndThirteenOnly)
{
    int record[MarovinSettings::wordCount + 2];
    for (int i = 0; i < MarovinSettings::wordCount + 2; ++i)
        record[i] = 100 + i;
    SetComInfo(record);
    EXPECT_EQ(marovin::settingsRecord(), record);
    EXPECT_EQ(PLC_driver.settings, record);
    for (int i = 0; i < MarovinSettings::wordCount + 2; ++i) {
        const bool cleared = i == MarovinSettings::cleared10 || i == MarovinSettings::cleared13;
        EXPECT_EQ(record[i], cleared ? 0 : 100 + i) << "word " << i;
    }

    // A second record replaces the first, which is not touched again.
    int other[MarovinSettings::wordCount];
    for (int i = 0; i < MarovinSettings::wordCount; ++i)
        other[i] = 7;
    record[MarovinSettings::cleared10] = 55;
    SetComInfo(other);
    EXPECT_EQ(marovin::settingsRecord(), other);
    EXPECT_EQ(other[MarovinSettings::cleared10], 0);
    EXPECT_EQ(other[MarovinSettings::cleared13], 0);
    EXPECT_EQ(other[MarovinSettings::maxUnits], 7);
    EXPECT_EQ(record[MarovinSettings::cleared10], 55);

    SetComInfo(nullptr);
    EXPECT_EQ(marovin::settingsRecord(), nullptr);
}

TEST_F(SetupTest, PointersAndCallbacksAreStoredInOrderAndReplaced)
{
    int a = 0, b = 0, c = 0;
    FlashLocalRegister(&a, &b, &c);
    EXPECT_EQ(LB, &a);
    EXPECT_EQ(LW, &b);
    EXPECT_EQ(RWI, &c);
    FlashLocalRegister(&c, nullptr, &a);
    EXPECT_EQ(LB, &c);
    EXPECT_EQ(LW, nullptr);
    EXPECT_EQ(RWI, &a);
    FlashLocalRegister(nullptr, nullptr, nullptr);

    OnceReadDoneFunc once = [](int, int, int, int) { return 1; };
    OwnerNotifyFunc notify = [](QList<RW_VAR> *, int, int) { return 2; };
    RegistCallBackFuncIntf(once, notify);
    EXPECT_EQ(PLC_driver.onceReadDone, once);
    EXPECT_EQ(PLC_driver.ownerNotify, notify);
    RegistCallBackFuncIntf(nullptr, nullptr);
    EXPECT_EQ(PLC_driver.onceReadDone, nullptr);
    EXPECT_EQ(PLC_driver.ownerNotify, nullptr);
}

}  // namespace
