// Checksum routines and the reply check.
#include <gtest/gtest.h>

#include <random>

#include "DriverFixture.h"
#include "core/Func_Check.h"

using namespace marovin_test;

namespace {

const unsigned char *bytesOf(const QByteArray &b)
{
    return reinterpret_cast<const unsigned char *>(b.constData());
}

TEST(Checksums, KnownValues)
{
    const struct {
        QByteArray bytes;
        unsigned short sum, crc;
        int lrc;
        unsigned short xorValue;
    } rows[] = {
        {"abc", 0x0126, 0x5749, 0xDA, 0x60},      {"123456789", 0x01DD, 0x4B37, 0x23, 0x31},
        {"", 0, 0xFFFF, 256, 0},                  {"\x01", 1, 0x807E, 0xFF, 1},
        {hex("80 80"), 0x100, 0xD061, 256, 0},    {QByteArray(300, '\xFF'), 0x2AD4, 0xDB30, 0x2C, 0},
    };
    for (const auto &r : rows) {
        const unsigned short n = static_cast<unsigned short>(r.bytes.size());
        EXPECT_EQ(CalSUM(bytesOf(r.bytes), n), r.sum) << r.bytes.size();
        EXPECT_EQ(CalCRC(bytesOf(r.bytes), n), r.crc) << r.bytes.size();
        EXPECT_EQ(CalLRC(bytesOf(r.bytes), n), r.lrc) << r.bytes.size();
        EXPECT_EQ(CalXOR(bytesOf(r.bytes), n), r.xorValue) << r.bytes.size();
    }
    // A null pointer is read as no bytes.
    EXPECT_EQ(CalSUM(nullptr, 5) + CalXOR(nullptr, 5), 0);
    EXPECT_EQ(CalCRC(nullptr, 5), 0xFFFF);
    EXPECT_EQ(CalLRC(nullptr, 5), 256);
}

TEST(Checksums, DigitCharacters)
{
    const int digits[][2] = {{0, '0'}, {9, '9'}, {10, 'A'}, {15, 'F'}, {-1, 0x2F}};
    for (const auto &d : digits)
        EXPECT_EQ(DigitalToASCII(d[0]), d[1]) << d[0];
    const int chars[][2] = {{0x2F, 0}, {'0', 0}, {'9', 9}, {0x3A, 10}, {0x3F, 15}, {0x40, 0}, {'A', 10}, {'F', 15},
                            {0x61, 42}};
    for (const auto &c : chars)
        EXPECT_EQ(ASCIIToDigital(c[0]), c[1]) << c[0];
}

class ReplyCheck : public DriverTest {
protected:
    void queue(int accessMode, int replyLength, int dataLength = 0)
    {
        PLC_driver.frameQueue.clear();
        Protocol p;
        p.replyLength = replyLength;
        p.dataLength = dataLength;
        p.var.accessMode = accessMode;
        PLC_driver.frameQueue.append(p);
    }
    int check(const char *reply, int length)
    {
        QByteArray r = hex(reply);
        return CheckGetData(&r, length);
    }
};

TEST_F(ReplyCheck, DataReplies)
{
    queue(0, 5);
    const struct {
        const char *reply;
        int length, expected;
    } rows[] = {
        {"10 61 62 63 26", 5, 1},     {"99 61 62 63 26", 5, 1},  // the first byte is outside the sum
        {"10 61 62 63 27", 5, 0},     {"10 61 62 63 26", 6, 0},  // wrong sum; claims more than it holds
        {"10 61 62 63 26 55", 5, 1},  {"00 00", 2, 1},           // bytes past the length; empty sum
        {"26", 1, 0},                 {"", 0, 0},                {"10 61 62 63 26", -3, 0},
    };
    for (const auto &r : rows)
        EXPECT_EQ(check(r.reply, r.length), r.expected) << r.reply << " / " << r.length;
    EXPECT_EQ(CheckGetData(nullptr, 5), 0);
    PLC_driver.frameQueue.clear();
    EXPECT_EQ(check("00 00", 2), 0) << "no request queued";
}

// Every reply length, so that each way of summing is covered.
TEST_F(ReplyCheck, SumOfEveryLength)
{
    queue(0, -1);
    std::mt19937 rng(3);
    for (int length = 2; length <= 40; ++length) {
        QByteArray reply(length, '\0');
        unsigned sum = 0;
        for (int i = 0; i < length - 1; ++i) {
            reply[i] = static_cast<char>(rng());
            sum += i ? static_cast<unsigned char>(reply[i]) : 0;
        }
        for (int delta : {0, 1, 0x80}) {
            reply[length - 1] = static_cast<char>(sum + delta);
            EXPECT_EQ(CheckGetData(&reply, length), delta == 0 ? 1 : 0) << length << " " << delta;
        }
    }
}

TEST_F(ReplyCheck, WriteAcknowledgements)
{
    queue(1, 1);  // local: the single byte "O"
    const struct {
        const char *reply;
        int expected;
    } rows[] = {{"4F", 2}, {"4F 00", 0}, {"4E", 0}, {"", 0}};
    for (const auto &r : rows)
        EXPECT_EQ(check(r.reply, 1), r.expected) << r.reply;
    queue(1, 8);  // remote: summed like a data reply
    EXPECT_EQ(check("00 01 02 03 04 05 06 15", 8), 2);
    EXPECT_EQ(check("00 01 02 03 04 05 06 16", 8), 0);
    EXPECT_EQ(check("4F", 1), 0);
    queue(1, 13, 2);  // a write variable read by a read frame has data
    EXPECT_EQ(check("00 01 02 03 04 05 06 15", 8), 1);
}

}  // namespace
