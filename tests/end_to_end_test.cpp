// Whole exchange cycles through the public entry points, as a panel runtime
// drives them, against the device model answering like a PLC.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DeviceModel.h"
#include "DriverFixture.h"

using namespace marovin_test;
using namespace MarovinSettings;
using marovin_device::DeviceModel;

namespace {

class EndToEnd : public DriverTest {
protected:
    // Runs `n` host turns; returns the statuses of the exchanges that took place.
    std::vector<int> run(int n)
    {
        std::vector<int> statuses;
        for (int i = 0; i < n; ++i) {
            Protocol *p = ComCommunication();
            if (!p)
                continue;
            const std::vector<std::uint8_t> answer =
                device.handle(reinterpret_cast<const std::uint8_t *>(p->frame.constData()), p->requestLength);
            QByteArray reply(reinterpret_cast<const char *>(answer.data()), static_cast<int>(answer.size()));
            statuses.push_back(DataCom(&reply, reply.size())->status);
        }
        return statuses;
    }
    // Sets the cyclic read list, or runs until it has been answered once more in full.
    void cycle(std::initializer_list<HOSTVAR> vars = {})
    {
        if (vars.size()) {
            QList<HOSTVAR> list(vars);
            ASSERT_GT(ReCreatReadVarList(&list), 0);
        }
        word(finishFlag) = 0;
        PLC_driver.goodReplies = 0;
        for (int i = 0; i < 10000 && word(finishFlag) == 0; ++i)
            run(1);
        ASSERT_EQ(word(finishFlag), 1) << "cycle did not complete";
    }
    std::string get(int area, const char *address, int count, int station = 1)
    {
        QByteArray out;
        EXPECT_EQ(GetRegisterData(QString(), area, address, station, &out, count), 1);
        return toHex(out);
    }
    int set(int area, const char *address, int station, const char *value, int count)
    {
        QByteArray v = hex(value);
        return SetRegisterData("t", area, address, station, &v, count, 1, 1);
    }

    DeviceModel device;
};

TEST_F(EndToEnd, CyclicReadsOfEveryArea)
{
    device.setAreaValue(1, 1, 0x10, 0x1234);
    device.setAreaValue(1, 2, 0x20, 0x89ABCDEF);
    device.setAreaValue(1, 3, 0x30, 0xFEDC);
    device.setAreaValue(2, 4, 0x40, 0x00C0FFEE);
    device.setDecimalFloat(1, 0x50, 12.5f);
    device.setStatusBit(1, 29, true);
    device.setStatusBit(1, 36, true);
    device.setStatusBit(1, 12, false);
    cycle({hostVar(1, "10"), hostVar(2, "20", 1, 2), hostVar(3, "30"), hostVar(4, "40", 2, 2), hostVar(5, "50", 1, 2),
           hostVar(0, "29"), hostVar(0, "36")});
    EXPECT_EQ(get(1, "10", 1), "34 12");
    EXPECT_EQ(get(2, "20", 2), "EF CD AB 89");
    EXPECT_EQ(get(3, "30", 1), "DC FE");
    EXPECT_EQ(get(4, "40", 2, 2), "EE FF C0 00");
    EXPECT_EQ(get(5, "50", 2), "00 00 48 41");  // 12.5
    EXPECT_EQ(get(0, "29", 1) + get(0, "36", 1) + get(0, "12", 1), "010100");
    // An untouched register reads as the device says, inverted bits included.
    EXPECT_EQ(get(0, "30", 1), device.statusBit(1, 30) ? "01" : "00");
    device.setAreaValue(1, 1, 0x10, 0x0BAD);
    cycle();
    EXPECT_EQ(get(1, "10", 1), "AD 0B") << "the next cycle picks up the change";
}

// Every value of a write reaches the PLC at its own address, read back through the cycle.
TEST_F(EndToEnd, WritesLandWholeAndReadBack)
{
    word(maxUnits) = 2;
    EXPECT_GT(set(1, "100", 1, "11 11 22 22 33 33 44 44 55 55", 5), 0);
    EXPECT_GT(set(4, "200", 1, "01 00 00 10 02 00 00 20 03 00 00 30", 6), 0);
    EXPECT_GT(set(5, "50", 1, "00 00 50 40", 2), 0);  // 3.25
    EXPECT_GT(set(0, "28", 1, "01 00 01", 3), 0);
    run(40);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(device.areaValue(1, 1, 0x100 + k), 0x1111u * (k + 1)) << k;
    for (unsigned k = 0; k < 3; ++k)
        EXPECT_EQ(device.areaValue(1, 4, 0x200 + 2 * k), 0x10000001u * (k + 1)) << k;
    EXPECT_FALSE(device.has(1, marovin_device::Space32B, 0x201)) << "no half values";
    EXPECT_FLOAT_EQ(device.decimalFloat(1, 0x50), 3.25f);
    EXPECT_TRUE(device.statusBit(1, 28) && !device.statusBit(1, 29) && device.statusBit(1, 30));
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    PLC_driver.extendList.clear();
    cycle({hostVar(0, "28"), hostVar(5, "50", 1, 2)});
    EXPECT_EQ(get(0, "28", 3), "01 00 01");
    EXPECT_EQ(get(5, "50", 2), "00 00 50 40");
}

// Every status bit the driver reads equals the device's; a bit write changes that bit only.
TEST_F(EndToEnd, StatusBitsReadAndWritten)
{
    auto bits = [this](bool viaDriver) {
        std::string s;
        for (int b : marovin_device::statusBits())
            s += viaDriver ? (get(0, std::to_string(b).c_str(), 1) == "01" ? '1' : '0') : (device.statusBit(1, b) ? '1' : '0');
        return s;
    };
    // Unrelated register bits set, so that a write clobbering its register shows.
    device.set(1, marovin_device::Space32A, 0x7095, 0xA5A5A5A5);
    device.set(1, marovin_device::Space16A, 0x709A, 0x5A5A);
    cycle({hostVar(0, "2")});
    for (int bit : {12, 25, 28, 29, 30, 31})
        for (int value : {1, 0, 0, 1}) {
            std::string expected = bits(false);
            const std::size_t at = std::find(marovin_device::statusBits().begin(), marovin_device::statusBits().end(), bit)
                - marovin_device::statusBits().begin();
            expected[at] = static_cast<char>('0' + value);
            EXPECT_GT(set(0, std::to_string(bit).c_str(), 1, value ? "01" : "00", 1), 0);
            run(1);
            EXPECT_EQ(bits(false), expected) << bit << "=" << value;
            cycle();
            EXPECT_EQ(bits(true), expected) << bit << "=" << value;
        }
    for (int bit : marovin_device::statusBits())
        for (bool value : {true, false}) {
            for (int other : marovin_device::statusBits())
                device.setStatusBit(1, other, other == bit ? value : !value);
            cycle();
            EXPECT_EQ(bits(true), bits(false)) << bit << "=" << value;
        }
}

TEST_F(EndToEnd, RemoteModeReadsAndWrites)
{
    word(remoteMode) = 1;
    device.setRemote(true);
    device.setAreaValue(3, 1, 0x10, 0x2468);
    // RW_VAR's fields in order; link 1: the other end of the link serves it.
    RW_VAR r{0, 0, 0, 0, 1, 0, "", "10", 1, 0x10, 3, 1, -1, 0, QByteArray()};
    AddListReadVar(&r);
    run(3);
    EXPECT_EQ(get(1, "10", 1, 3), "68 24");
    EXPECT_GT(set(1, "11", 3, "21 43", 1), 0);
    for (int s : run(4))
        EXPECT_TRUE(s == 1 || s == 100) << s;
    EXPECT_EQ(device.areaValue(3, 1, 0x11), 0x4321u);
}

}  // namespace
