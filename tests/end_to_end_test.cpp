// Whole exchange cycles through the public entry points, as a panel runtime
// drives them, against the device model answering like a PLC.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "DeviceModel.h"
#include "DriverFixture.h"

using namespace marovin_test;
using namespace MarovinSettings;
using marovin_device::DeviceModel;

namespace {

class EndToEnd : public DriverTest {
protected:
    // What happens to a reply on the line: may change it; return false to lose it.
    using LineFault = std::function<bool(int exchange, QByteArray &reply)>;

    // Runs `n` host turns; returns the statuses of the exchanges that took place.
    std::vector<int> run(int n, const LineFault &fault = LineFault())
    {
        std::vector<int> statuses;
        for (int i = 0; i < n; ++i) {
            Protocol *p = ComCommunication();
            if (!p)
                continue;
            const std::vector<std::uint8_t> answer =
                device.handle(reinterpret_cast<const std::uint8_t *>(p->frame.constData()), p->requestLength);
            QByteArray reply(reinterpret_cast<const char *>(answer.data()), static_cast<int>(answer.size()));
            if (fault && !fault(static_cast<int>(statuses.size()), reply))
                reply.clear();
            statuses.push_back(DataCom(&reply, reply.size())->status);
        }
        return statuses;
    }

    // Runs until the read list has been answered once more in full.
    void runCycle()
    {
        word(finishFlag) = 0;
        PLC_driver.goodReplies = 0;
        for (int i = 0; i < 10000 && word(finishFlag) == 0; ++i)
            run(1);
        ASSERT_EQ(word(finishFlag), 1) << "cycle did not complete";
    }

    void readCyclic(std::initializer_list<HOSTVAR> vars)
    {
        QList<HOSTVAR> list;
        for (const HOSTVAR &h : vars)
            list.append(h);
        ASSERT_GT(ReCreatReadVarList(&list), 0);
    }

    static HOSTVAR host(int area, const char *address, int station = 1, int length = 1)
    {
        HOSTVAR h{};
        h.areaCode = static_cast<unsigned char>(area);
        h.station = static_cast<unsigned char>(station);
        h.addressText = address;
        h.length = length;
        return h;
    }

    QByteArray get(int area, const char *address, int count, int station = 1)
    {
        QByteArray out;
        EXPECT_EQ(GetRegisterData(QString(), area, address, station, &out, count), 1);
        return out;
    }

    static std::uint32_t le32(const QByteArray &b, int at = 0)
    {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(b[at + i]);
        return v;
    }
    static float leFloat(const QByteArray &b)
    {
        const std::uint32_t bits = le32(b);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    static QByteArray floatBytes(float f)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        QByteArray b;
        for (int i = 0; i < 4; ++i)
            b.append(static_cast<char>((bits >> (8 * i)) & 0xFF));
        return b;
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
    readCyclic({host(1, "10"), host(2, "20", 1, 2), host(3, "30"), host(4, "40", 2, 2), host(5, "50", 1, 2),
                host(0, "29"), host(0, "36")});
    runCycle();

    EXPECT_EQ(toHex(get(1, "10", 1)), "34 12");
    EXPECT_EQ(le32(get(2, "20", 2)), 0x89ABCDEFu);
    EXPECT_EQ(toHex(get(3, "30", 1)), "DC FE");
    EXPECT_EQ(le32(get(4, "40", 2, 2)), 0x00C0FFEEu);
    EXPECT_FLOAT_EQ(leFloat(get(5, "50", 2)), 12.5f);
    EXPECT_EQ(toHex(get(0, "29", 1)), "01");
    EXPECT_EQ(toHex(get(0, "36", 1)), "01");
    EXPECT_EQ(toHex(get(0, "12", 1)), "00");
    // An untouched register reads as the device says, inverted bits included.
    EXPECT_EQ(toHex(get(0, "30", 1)), device.statusBit(1, 30) ? "01" : "00");

    device.setAreaValue(1, 1, 0x10, 0x0BAD);
    runCycle();
    EXPECT_EQ(toHex(get(1, "10", 1)), "AD 0B") << "the next cycle picks up the change";
}

// Every value of a multi-value write reaches the PLC, at its own address.
TEST_F(EndToEnd, MultiValueWritesLandWhole)
{
    word(maxUnits) = 2;
    QByteArray text = hex("11 11 22 22 33 33 44 44 55 55");
    EXPECT_GT(SetRegisterData("t", 1, "100", 1, &text, 5, 1, 1), 0);
    QByteArray longs = hex("01 00 00 10 02 00 00 20 03 00 00 30");
    EXPECT_GT(SetRegisterData("t", 4, "200", 1, &longs, 6, 1, 2), 0);
    run(40);

    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(device.areaValue(1, 1, 0x100 + k), 0x1111u * (k + 1)) << k;
    EXPECT_EQ(device.areaValue(1, 4, 0x200), 0x10000001u);
    EXPECT_EQ(device.areaValue(1, 4, 0x202), 0x20000002u);
    EXPECT_EQ(device.areaValue(1, 4, 0x204), 0x30000003u);
    EXPECT_FALSE(device.has(1, marovin_device::Space32B, 0x201)) << "no half values";
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
}

TEST_F(EndToEnd, DecimalFloatAndBitWritesRoundTrip)
{
    QByteArray f = floatBytes(3.25f);
    EXPECT_GT(SetRegisterData("t", 5, "50", 1, &f, 2, 1, 1), 0);
    QByteArray bits = hex("01 00 01");
    EXPECT_GT(SetRegisterData("t", 0, "28", 1, &bits, 3, 1, 2), 0);
    run(20);
    EXPECT_FLOAT_EQ(device.decimalFloat(1, 0x50), 3.25f);
    EXPECT_TRUE(device.statusBit(1, 28));
    EXPECT_FALSE(device.statusBit(1, 29));
    EXPECT_TRUE(device.statusBit(1, 30));

    // Read back through the status block and the float area.
    PLC_driver.extendList.clear();
    readCyclic({host(0, "28"), host(5, "50", 1, 2)});
    runCycle();
    EXPECT_EQ(toHex(get(0, "28", 3)), "01 00 01");
    EXPECT_FLOAT_EQ(leFloat(get(5, "50", 2)), 3.25f);
}

TEST_F(EndToEnd, OnceReadsReportCompletion)
{
    device.setAreaValue(1, 3, 0x60, 0x4321);
    device.setAreaValue(1, 3, 0x61, 0x8765);
    RW_VAR v = makeVar(3, 0, 1, 2);
    v.addressText = "60";
    v.ownerType = 6;
    v.ownerId = 99;
    EXPECT_EQ(AddListOnceReadVar(&v, 0), 2);
    run(10);
    ASSERT_EQ(callbacks().onceReads.size(), 1u);
    EXPECT_EQ(callbacks().onceReads[0].ownerId, 99);
    EXPECT_EQ(callbacks().onceReads[0].outcome, 1);
    EXPECT_EQ(toHex(get(3, "60", 2)), "21 43 65 87");
}

TEST_F(EndToEnd, LostCorruptAndShortRepliesAreRepeated)
{
    word(retryLimit) = 3;
    device.setAreaValue(1, 1, 0x10, 0x0102);
    device.setAreaValue(1, 2, 0x20, 0x03040506);
    readCyclic({host(1, "10"), host(2, "20", 1, 2)});
    // Exchanges 0..2 fail in three ways, then the line is clean.
    std::vector<int> statuses = run(8, [](int i, QByteArray &reply) {
        if (i == 0)
            return false;
        if (i == 1)
            reply[reply.size() - 1] = static_cast<char>(reply[reply.size() - 1] ^ 0x5A);
        if (i == 2)
            reply.chop(3);
        return true;
    });
    ASSERT_GE(statuses.size(), 5u);
    EXPECT_EQ(statuses[0], 0);
    EXPECT_EQ(statuses[1], 0);
    EXPECT_EQ(statuses[2], 0);
    EXPECT_EQ(statuses[3], 1);
    EXPECT_TRUE(callbacks().notifies.empty());
    EXPECT_EQ(toHex(get(1, "10", 1)), "02 01");
    EXPECT_EQ(le32(get(2, "20", 2)), 0x03040506u);
}

// A dead station is given up on; only its pending work is dropped, and the
// requesters are told; the other station's writes still land.
TEST_F(EndToEnd, DeadStationGivenUpOthersServed)
{
    word(retryLimit) = 1;
    device.setStations({1});
    readCyclic({host(1, "10", 2)});
    QByteArray w = hex("AA 00");
    SetRegisterData("t", 1, "70", 1, &w, 1, 2, 1);
    SetRegisterData("t", 1, "71", 2, &w, 1, 3, 1);
    RW_VAR once = makeVar(1, 0, 2, 1);
    once.addressText = "72";
    once.ownerType = 4;
    once.ownerId = 5;
    AddListOnceReadVar(&once, 0);

    std::vector<int> statuses = run(12);
    EXPECT_EQ(device.areaValue(1, 1, 0x70), 0xAAu);
    EXPECT_FALSE(device.has(2, marovin_device::Space16A, 0x71));
    bool gaveUp = false;
    for (int s : statuses)
        gaveUp = gaveUp || (s > 40 && s < 53);
    EXPECT_TRUE(gaveUp);
    EXPECT_FALSE(callbacks().notifies.empty());
    ASSERT_FALSE(callbacks().onceReads.empty());
    EXPECT_EQ(callbacks().onceReads.back().outcome, 2);
    for (const RW_VAR &v : PLC_driver.writeList)
        EXPECT_NE(v.station, 2);
}

TEST_F(EndToEnd, RemoteModeReadsAndWrites)
{
    word(remoteMode) = 1;
    device.setRemote(true);
    device.setAreaValue(3, 1, 0x10, 0x2468);
    RW_VAR r = makeVar(1, 0x10, 3, 1);
    r.remoteArg1 = -1;
    r.linkNo = 1;  // the other end of the link serves it
    AddListReadVar(&r);
    run(3);
    EXPECT_EQ(toHex(get(1, "10", 1, 3)), "68 24");

    QByteArray w = hex("21 43");
    EXPECT_GT(SetRegisterData("t", 1, "11", 3, &w, 1, 1, 1), 0);
    std::vector<int> statuses = run(4);
    EXPECT_EQ(device.areaValue(3, 1, 0x11), 0x4321u);
    for (int s : statuses)
        EXPECT_TRUE(s == 1 || s == 100) << s;
}

}  // namespace
