// Set-up entry points and the address parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <iterator>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

TEST(AddressParse, TextsPerArea)
{
    const char16_t arabic[] = {0x0661, 0x0662, 0}, fullWidth[] = {0xFF11, 0xFF12, 0};
    const QString nul(QChar(0));
    const struct {
        int areaCode;
        QString text;
        int expected;
    } rows[] = {
        // Status bits: decimal as Qt's toInt reads it (blanks, a sign), and only the fixed bit numbers.
        {0, "12", 12}, {0, "39", 39}, {0, " 12", 12}, {0, "\t39\n", 39}, {0, "+12", 12}, {0, "012", 12},
        {0, "13", -1}, {0, "0", -1}, {0, "40", -1}, {0, "-12", -1}, {0, "c", -1}, {0, "0x0C", -1}, {0, "", -1},
        {0, QString(), -1}, {0, "1 2", -1}, {0, "12abc", -1}, {0, nul + "12", -1}, {0, "12" + nul, -1},
        {0, QString::fromUtf16(arabic), -1}, {0, QString::fromUtf16(fullWidth), -1}, {0, "2147483659", -1},
        // Every other area code: hexadecimal, any value that fits an int.
        {1, "7095", 0x7095}, {1, "1a", 26}, {1, "AF09", 0xAF09}, {2, "fedcb", 0xFEDCB}, {1, "0x10", 16},
        {4, "7FFFFFFF", INT_MAX}, {1, "80000000", -1}, {1, "FFFFFFFF", -1}, {3, "-10", -16},
        {3, "-80000000", INT_MIN}, {1, "-0", 0}, {1, "G1", -1}, {1, "g", -1}, {1, ":", -1}, {1, "/", -1},
        {1, "@", -1}, {1, "`", -1}, {1, "+", -1}, {1, "1,2", -1}, {3, "", -1}, {1, QString(), -1},
        {1, QString(10000, QChar('0')) + "1", 1}, {1, QString(10000, QChar('F')), -1},
        {7, "10", 16}, {-3, "10", 16}, {255, "A", 10}, {INT_MIN, "10", 16}, {INT_MAX, "1A", 26},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " [" + r.text.left(20).toStdString() + "]");
        EXPECT_EQ(StringAddressToInt(r.areaCode, r.text), r.expected);
        EXPECT_EQ(PLCAddressChangeIntef(r.areaCode, r.text), r.expected);
    }
}

TEST(AddressParse, ExactlyFifteenStatusBitsAreAccepted)
{
    const int accepted[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};
    for (int bit = -5; bit <= 300; ++bit) {
        const bool listed = std::find(std::begin(accepted), std::end(accepted), bit) != std::end(accepted);
        EXPECT_EQ(StringAddressToInt(0, QString::number(bit)), listed ? bit : -1) << bit;
    }
}

class SetupTest : public DriverTest {};

TEST_F(SetupTest, SettingsRecordPointersAndCallbacks)
{
    // SetComInfo zeroes words 10 and 13 and nothing else.
    int record[S::wordCount + 2];
    for (int i = 0; i < S::wordCount + 2; ++i)
        record[i] = 100 + i;
    SetComInfo(record);
    EXPECT_EQ(marovin::settingsRecord(), record);
    for (int i = 0; i < S::wordCount + 2; ++i)
        EXPECT_EQ(record[i], i == S::cleared10 || i == S::cleared13 ? 0 : 100 + i) << "word " << i;
    // A record replaced is not written again; a withdrawn one stops the exchanges.
    SetComInfo(settings);
    record[S::finishFlag] = 7;
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(record[S::finishFlag], 7);
    EXPECT_EQ(word(S::finishFlag), 1);
    SetComInfo(nullptr);
    EXPECT_EQ(PLC_driver.settings, nullptr);
    PLC_driver.readList << makeVar(1, 0x10);
    EXPECT_EQ(ComCommunication(), nullptr);
    SetComInfo(settings);

    // The host's pointers are kept as given and never followed, whatever they point to.
    void *const bad[3] = {reinterpret_cast<void *>(1), reinterpret_cast<void *>(8),
                          reinterpret_cast<void *>(~static_cast<std::uintptr_t>(0))};
    FlashLocalRegister(bad[0], bad[1], bad[2]);
    EXPECT_TRUE(LB == bad[0] && LW == bad[1] && RWI == bad[2]);
    PLC_driver.readList << makeVar(0, 2);
    PLC_driver.writeList << writeVar(1, 0x20, "01 00");
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(exchangeGood(), 1) << i;
    FlashLocalRegister(nullptr, nullptr, nullptr);
    EXPECT_TRUE(LB == nullptr && LW == nullptr && RWI == nullptr);

    OnceReadDoneFunc once = [](int, int, int, int) { return 1; };
    OwnerNotifyFunc notify = [](QList<RW_VAR> *, int, int) { return 2; };
    RegistCallBackFuncIntf(once, notify);
    EXPECT_TRUE(PLC_driver.onceReadDone == once && PLC_driver.ownerNotify == notify);
    RegistCallBackFuncIntf(nullptr, nullptr);
    EXPECT_TRUE(PLC_driver.onceReadDone == nullptr && PLC_driver.ownerNotify == nullptr);
}

}  // namespace
