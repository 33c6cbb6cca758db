// Checksum routines and the reply check, as tables of rows.
#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "core/Func_Check.h"

using namespace marovin_test;

namespace {

const unsigned char *bytesOf(const QByteArray &b)
{
    return reinterpret_cast<const unsigned char *>(b.constData());
}

struct SumRow {
    const char *text;
    unsigned short sum, crc;
    int lrc;
    unsigned short xorValue;
};

TEST(Checksums, KnownValues)
{
    const SumRow rows[] = {
        {"abc", 0x0126, 0x5749, 0xDA, 0x60},
        {"123456789", 0x01DD, 0x4B37, 0x23, 0x31},
        {"", 0, 0xFFFF, 256, 0},
        {"\x01", 1, 0x807E, 0xFF, 1},
    };
    for (const SumRow &r : rows) {
        const QByteArray b(r.text);
        const unsigned short n = static_cast<unsigned short>(b.size());
        EXPECT_EQ(CalSUM(bytesOf(b), n), r.sum) << r.text;
        EXPECT_EQ(CalCRC(bytesOf(b), n), r.crc) << r.text;
        EXPECT_EQ(CalLRC(bytesOf(b), n), r.lrc) << r.text;
        EXPECT_EQ(CalXOR(bytesOf(b), n), r.xorValue) << r.text;
    }
}

TEST(Checksums, SumKeepsSixteenBitsAndLrcOfZeroLowByteIs256)
{
    QByteArray b(300, char(0xFF));  // 300 * 255 = 76500 = 0x12AD4
    EXPECT_EQ(CalSUM(bytesOf(b), 300), 0x2AD4);
    const QByteArray z = hex("80 80");
    EXPECT_EQ(CalLRC(bytesOf(z), 2), 256);
}

TEST(Checksums, NullPointerIsReadAsNoBytes)
{
    EXPECT_EQ(CalSUM(nullptr, 5), 0);
    EXPECT_EQ(CalCRC(nullptr, 5), 0xFFFF);
    EXPECT_EQ(CalLRC(nullptr, 5), 256);
    EXPECT_EQ(CalXOR(nullptr, 5), 0);
}

TEST(Checksums, DigitCharacters)
{
    const int digits[][2] = {{0, '0'}, {9, '9'}, {10, 'A'}, {15, 'F'}, {-1, 0x2F}};
    for (const auto &d : digits)
        EXPECT_EQ(DigitalToASCII(d[0]), d[1]) << d[0];
    const int chars[][2] = {{0x2F, 0}, {'0', 0}, {'9', 9}, {0x3A, 10}, {0x3F, 15},
                            {0x40, 0}, {'A', 10}, {'F', 15}, {0x61, 42}};
    for (const auto &c : chars)
        EXPECT_EQ(ASCIIToDigital(c[0]), c[1]) << c[0];
}

class ReplyCheck : public DriverTest {
protected:
    void queue(int accessMode, int replyLength)
    {
        Protocol p;
        p.replyLength = replyLength;
        p.var.accessMode = accessMode;
        PLC_driver.frameQueue.append(p);
    }
};

TEST_F(ReplyCheck, DataReplies)
{
    queue(0, 5);
    struct Row {
        const char *reply;
        int length;
        int expected;
    } rows[] = {
        {"10 61 62 63 26", 5, 1},      // first byte is outside the sum
        {"99 61 62 63 26", 5, 1},
        {"10 61 62 63 27", 5, 0},      // wrong sum byte
        {"10 61 62 63 26", 6, 0},      // claims more than it holds
        {"10 61 62 63 26 55", 5, 1},   // bytes past the length are ignored
        {"00 00", 2, 1},               // empty summed range
        {"26", 1, 0},                  // too short to hold a sum
        {"", 0, 0},
        {"10 61 62 63 26", -3, 0},
    };
    for (const Row &r : rows) {
        QByteArray reply = hex(r.reply);
        EXPECT_EQ(CheckGetData(&reply, r.length), r.expected) << r.reply << " / " << r.length;
    }
}

TEST_F(ReplyCheck, LocalWriteAcknowledgement)
{
    queue(1, 1);
    struct Row {
        const char *reply;
        int expected;
    } rows[] = {{"4F", 2}, {"4F 00", 0}, {"4E", 0}, {"", 0}};
    for (const Row &r : rows) {
        QByteArray reply = hex(r.reply);
        EXPECT_EQ(CheckGetData(&reply, 1), r.expected) << r.reply;
    }
}

TEST_F(ReplyCheck, RemoteWriteReplyIsSummedLikeData)
{
    queue(1, 8);
    QByteArray good = hex("00 01 02 03 04 05 06 15");
    QByteArray bad = hex("00 01 02 03 04 05 06 16");
    QByteArray ack = hex("4F");
    EXPECT_EQ(CheckGetData(&good, 8), 2);
    EXPECT_EQ(CheckGetData(&bad, 8), 0);
    EXPECT_EQ(CheckGetData(&ack, 1), 0);
}

TEST_F(ReplyCheck, NoRequestOrNoReplyFails)
{
    QByteArray reply = hex("4F");
    EXPECT_EQ(CheckGetData(&reply, 1), 0);
    queue(0, 13);
    EXPECT_EQ(CheckGetData(nullptr, 5), 0);
}

}  // namespace
