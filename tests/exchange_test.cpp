// The exchange: the scheduler's priorities and repeats, reply processing
// (status codes, repeats, give-ups, list advance, callbacks), and the checksum
// routines with the reply check.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/Func_Check.h"
#include "core/marovin_core.h"

using namespace marovin_test;
using namespace MarovinSettings;

namespace {

class Exchange : public DriverTest {
protected:
    // Writes, once-reads and cyclic reads of words at 0x100, 0x200 and 0x10 on.
    void add(int writes, int onceReads, int reads)
    {
        for (int i = 0; i < writes; ++i)
            PLC_driver.writeList << writeVar(1, 0x100 + i, "34 12");
        for (int i = 0; i < onceReads; ++i)
            PLC_driver.onceReadList << onceVar(0x200 + i, 2, i);
        for (int i = 0; i < reads; ++i)
            PLC_driver.readList << makeVar(1, 0x10 + i);
    }
    static RW_VAR onceVar(int address, int ownerType, int ownerId, int station = 1)
    {
        // RW_VAR's fields in order.
        return {ownerType, ownerId, 0, 0, 0, 0, "", QString::number(address, 16), 1, address, station, 1, 0, 0, {}};
    }
    // Letter per turn: W write, O once-read, R cyclic read, - idle.
    std::string turns(int n)
    {
        std::string out;
        for (int i = 0; i < n; ++i) {
            Protocol *p = ComCommunication();
            out += !p ? '-' : PLC_driver.phase == 1 ? 'W' : PLC_driver.phase == 2 ? 'O' : 'R';
            if (p) {
                EXPECT_EQ(exchangeWith(goodReply(*p)), 1) << out;
            }
        }
        return out;
    }
};

TEST_F(Exchange, PrioritiesAndFiveInARow)
{
    const struct {
        int writes, onceReads, reads;
        const char *turns;
    } rows[] = {
        {12, 12, 0, "WWWWWOOOOO-WWW"},
        {12, 0, 1, "WWWWWRWWWWWRWWR"},
        {7, 7, 1, "WWWWWOOOOORWWOOR"},
        {0, 7, 2, "OOOOOROORR"},
        {0, 0, 0, "--"},
    };
    for (const auto &r : rows) {
        resetDriver();
        SetComInfo(settings);
        add(r.writes, r.onceReads, r.reads);
        EXPECT_EQ(turns(static_cast<int>(std::string(r.turns).size())), r.turns);
    }
    // The idle turn ends a cycle and both bursts.
    PLC_driver.writeBurst = 3;
    PLC_driver.onceBurst = 5;
    word(MarovinSettings::finishFlag) = 0;
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(PLC_driver.writeBurst + PLC_driver.onceBurst, 0);
    EXPECT_EQ(word(MarovinSettings::finishFlag), 1);
}

TEST_F(Exchange, QueuedRequestsAreHandedOutAgainUntilAnswered)
{
    add(0, 0, 2);
    Protocol *first = ComCommunication();
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ComCommunication(), first);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
    EXPECT_EQ(first->var.address, 0x10);
    EXPECT_EQ(exchangeWith(goodReply(*first)), 1);

    // The status block is worked off before a write that came meanwhile.
    PLC_driver.readList.prepend(makeVar(0, 2));
    EXPECT_NE(ComCommunication(), nullptr);
    add(1, 0, 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(PLC_driver.frameQueue.size(), 5 - i);
        EXPECT_EQ(ComCommunication()->var.areaCode, 0) << "request " << i;
        EXPECT_EQ(exchangeGood(), 1);
    }
    EXPECT_EQ(ComCommunication()->var.address, 0x100);
}

// A write that no frame can carry leaves its list: it must not block the
// writes behind it.
TEST_F(Exchange, UnsendableWritesLeaveTheirList)
{
    const struct {
        const char *what;
        int areaCode, address;
        const char *data;
    } rows[] = {
        {"area of no frame", 9, 0x10, "01 02"}, {"negative area", -1, 0x10, "01 02"},
        {"no value bytes", 1, 0x10, ""},        {"half a 32-bit value", 2, 0x10, "01 02"},
        {"read-only status bit", 0, 2, "01"},   {"no such status bit", 0, 13, "01"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        PLC_driver.writeList.clear();
        PLC_driver.writeBurst = 0;
        callbacks().notifies.clear();
        RW_VAR bad = writeVar(r.areaCode, r.address, r.data);
        bad.ownerType = 9;
        PLC_driver.writeList << bad << writeVar(1, 0x40, "05 00");
        EXPECT_EQ(ComCommunication(), nullptr) << "nothing to send for the bad write";
        ASSERT_EQ(callbacks().notifies.size(), 1u);
        EXPECT_EQ(callbacks().notifies[0].ownerType, 9);
        EXPECT_EQ(exchangeGood(), 1) << "the write behind it goes out";
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
}

// One request of a variable answered by each row, with no repeats allowed so
// that a failure's code shows at once.
TEST_F(Exchange, StatusOfEveryKindOfReply)
{
    // A 13-byte read reply with data 12 34.
    const QByteArray good = goodReply(Protocol{QByteArray(), 0, 13, 10, 0, RW_VAR(), 0, 0, 0}, hex("12 34"));
    QByteArray badSum = good;
    badSum[12] = static_cast<char>(badSum[12] + 1);
    const struct {
        char kind;  // r local read, w local write, R read on another link, S the same, stored
        int ownerType;
        QByteArray bytes;
        bool null;
        int length, expected;
    } rows[] = {
        {'r', 0, good, false, 13, 1},               {'r', 0, good + "UUUUUUU", false, 13, 1},  // bytes past the length
        {'r', 0, QByteArray(), true, 0, 41},        {'r', 0, QByteArray(), true, 13, 11},
        {'r', 0, QByteArray(), false, -1, 71},      {'r', 0, QByteArray(), false, INT_MIN, 71},
        {'r', 0, good, false, INT_MAX, 71},         {'r', 0, good, false, 12, 71},
        {'r', 0, good.left(3), false, 13, 11},      {'r', 0, good.left(12), false, 13, 11},
        {'r', 0, badSum, false, 13, 11},            {'r', 3, badSum, false, 13, 14},
        {'r', 3, QByteArray(12, '\0'), false, 12, 74}, {'r', 3, QByteArray(), false, 0, 44},
        {'r', 1, QByteArray(), true, 0, 42},        {'r', 11, QByteArray(), true, 0, 52},
        {'r', 12, QByteArray(), true, 0, 41},       {'r', -1, QByteArray(), true, 0, 41},
        {'r', INT_MIN, QByteArray(), true, 0, 41},  {'r', INT_MAX, QByteArray(), true, 0, 41},
        {'w', 0, "O", false, 1, 1},                 {'w', 0, "o", false, 1, 11},
        {'w', 0, "X", false, 1, 11},                {'w', 0, "OO", false, 1, 11},
        {'w', 0, QByteArray(), true, 1, 11},        {'w', 2, "O", false, 0, 43},
        {'w', 0, "O", false, 2, 71},                {'w', 0, "O", false, -1, 71},
        {'R', 0, good, false, 13, 100},             {'R', 0, QByteArray(), true, 0, 141},
        {'R', 0, badSum, false, 13, 111},           {'R', 4, QByteArray(3, '\1'), false, 13, 115},
        {'R', 0, QByteArray(), false, -7, 171},     {'S', 0, good, false, 13, 1},
    };
    word(retryLimit) = 0;
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(1, r.kind) + " ownerType " + std::to_string(r.ownerType) + " length "
                     + std::to_string(r.length) + " [" + toHex(r.bytes) + "]");
        PLC_driver.readList.clear();
        PLC_driver.writeList.clear();
        PLC_driver.extendList.clear();
        PLC_driver.writeBurst = 0;
        RW_VAR v = r.kind == 'w' ? writeVar(1, 0x10, "01 00") : makeVar(1, 0x10);
        v.ownerType = r.ownerType;
        v.linkNo = r.kind == 'R' || r.kind == 'S' ? 3 : 0;  // the local link is 0
        v.remoteArg1 = r.kind == 'S' ? -1 : 0;
        (r.kind == 'w' ? PLC_driver.writeList : PLC_driver.readList) << v;
        ASSERT_NE(ComCommunication(), nullptr);
        QByteArray reply = r.bytes;
        const RW_VAR *result = DataCom(r.null ? nullptr : &reply, r.length);
        EXPECT_EQ(result, &PLC_driver.result);
        EXPECT_EQ(result->status, r.expected);
        EXPECT_TRUE(result->data.isEmpty());
        EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
        EXPECT_EQ(reply, r.bytes) << "the host's reply is read only";
        if (r.kind != 'w') {
            EXPECT_EQ(cached(1, 1, 0x10), r.expected == 1 ? "34 12" : "absent");
        }
    }
    const int outcomes[][2] = {{0, 1}, {4, 100}, {1, 11}, {2, 41}, {3, 71}, {5, 111}, {6, 141}, {7, 171}, {8, 200}, {-1, 200}};
    for (const auto &o : outcomes)
        EXPECT_EQ(GetDriverReturnValue(o[0]), o[1]) << o[0];
}

// A read reply that repeats another request's header is a late answer to that
// one: refused, nothing stored. Replies without such a header are not judged.
TEST_F(Exchange, ReplyNamingAnotherRequestIsRefused)
{
    const struct {
        const char *header;  // reply bytes 0..9 to a read of station 1, area 1, 0x10
        int expected;
    } rows[] = {
        {"0B 00 10 B0 04 00 11 00 10 02", 1},   // its own header
        {"0B 00 00 00 00 00 00 00 00 00", 1},   // none
        {"0B 0B 00 10 B0 04 00 11 00 10", 1},   // shifted by a byte: no header
        {"0B 00 10 B1 04 00 11 00 11 02", 1},   // no read command
        {"0B 00 10 B0 04 00 12 00 11 02", 1},   // node + 1 missing
        {"0B 00 10 B0 04 00 11 00 11 02", 11},  // another register
        {"0B 00 10 B0 08 00 11 00 10 02", 11},  // another area
        {"0B 00 20 B0 04 00 21 00 10 02", 11},  // another station
        {"0B 0F F0 B0 04 0F F1 00 10 02", 11},
    };
    word(retryLimit) = 0;
    for (const auto &r : rows) {
        SCOPED_TRACE(r.header);
        PLC_driver.readList.clear();
        PLC_driver.extendList.clear();
        PLC_driver.readList << makeVar(1, 0x10);
        ASSERT_NE(ComCommunication(), nullptr);
        QByteArray reply = hex(r.header) + hex("12 34 00");
        fixSum(reply);
        EXPECT_EQ(DataCom(&reply, reply.size())->status, r.expected);
        EXPECT_EQ(cached(1, 1, 0x10), r.expected == 1 ? "34 12" : "absent");
    }
}

TEST_F(Exchange, MultiRequestVariableAdvancesOnlyAtItsLastReply)
{
    PLC_driver.readList << makeVar(0, 2) << makeVar(1, 0x10);
    PLC_driver.result.address = 4242;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(exchangeGood(), 1);
        EXPECT_EQ(word(framesDone), i + 1);
        if (i < 4) {
            EXPECT_EQ(PLC_driver.result.address, 4242) << "result untouched before the last reply";
            EXPECT_EQ(PLC_driver.readList.first().areaCode, 0);
        }
    }
    EXPECT_EQ(PLC_driver.result.areaCode, 0);
    EXPECT_EQ(PLC_driver.readList.first().areaCode, 1) << "the status block moved to the end";
}

TEST_F(Exchange, RepeatsThenGivesUpAndASuccessEndsTheCount)
{
    PLC_driver.readList << makeVar(1, 0x10) << makeVar(1, 0x11);
    Protocol *first = ComCommunication();
    EXPECT_EQ(DataCom(nullptr, 0)->status, 0);
    EXPECT_EQ(ComCommunication(), first);
    EXPECT_EQ(DataCom(nullptr, 0)->status, 0);
    EXPECT_EQ(word(retryCount), 2);
    EXPECT_EQ(word(finishFlag), 0);
    EXPECT_TRUE(PLC_driver.commFailed);
    const RW_VAR *r = DataCom(nullptr, 0);
    EXPECT_EQ(r->status, 41);
    EXPECT_EQ(r->address, 0x10);
    EXPECT_EQ(word(retryCount), 0);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
    EXPECT_EQ(PLC_driver.readList.first().address, 0x11);
    ASSERT_EQ(callbacks().notifies.size(), 1u);
    EXPECT_EQ(callbacks().notifies[0].one, 1);
    // Sporadic failures on different variables do not add up to a give-up.
    word(retryLimit) = 1;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(exchangeWith(QByteArray()), 0);
        EXPECT_EQ(exchangeGood(), 1);
        EXPECT_EQ(word(retryCount), 0);
        EXPECT_FALSE(PLC_driver.commFailed);
    }
    EXPECT_EQ(callbacks().notifies.size(), 1u);
}

TEST_F(Exchange, GiveUpDropsThePendingWorkOfItsStation)
{
    for (int multi : {1, 0}) {
        SCOPED_TRACE(multi ? "several stations" : "single station: every station's");
        callbacks().onceReads.clear();
        word(retryLimit) = 0;
        word(multiStation) = multi;
        PLC_driver.readList << makeVar(1, 0x10, 2);
        for (int station : {1, 2, 3, 1})
            PLC_driver.writeList << writeVar(1, station, "34 12", station);
        PLC_driver.onceReadList << onceVar(0x10, 4, 7, 2) << onceVar(0x11, 4, 7, 2)  // one requester, dropped
                                << onceVar(0x12, 6, 1, 2) << onceVar(0x13, 6, 1, 1)  // told once 0x13 is done
                                << onceVar(0x14, 8, 1, 3) << onceVar(0x15, 9, 9, 2);
        PLC_driver.onceReadList[5].linkNo = 3;  // a remote-link once-read is never told
        PLC_driver.writeBurst = PLC_driver.onceBurst = 5;  // the cyclic read goes first
        EXPECT_EQ(exchangeWith(QByteArray()), 41);
        EXPECT_EQ(pieces(PLC_driver.writeList), multi ? "1/1 3/1 1/1" : "");
        EXPECT_EQ(pieces(PLC_driver.onceReadList), multi ? "19/1 20/1" : "");
        ASSERT_EQ(callbacks().onceReads.size(), multi ? 1u : 3u);
        const Callbacks::OnceRead &dropped = callbacks().onceReads[0];
        EXPECT_EQ(std::vector<int>({dropped.ownerType, dropped.ownerId, dropped.outcome}), std::vector<int>({4, 7, 2}));
        PLC_driver.readList.clear();
        PLC_driver.writeList.clear();
        PLC_driver.onceReadList.clear();
    }
}

TEST_F(Exchange, OnceReadDoneAfterTheRequestersLastEntry)
{
    PLC_driver.onceReadList << onceVar(0x10, 4, 7) << onceVar(0x11, 5, 7) << onceVar(0x12, 4, 7);
    for (std::size_t told : {0u, 1u, 2u}) {
        EXPECT_EQ(exchangeGood(), 1);
        ASSERT_EQ(callbacks().onceReads.size(), told);
    }
    EXPECT_EQ(callbacks().onceReads[0].ownerType, 5);
    const Callbacks::OnceRead &done = callbacks().onceReads[1];
    EXPECT_EQ(done.context * 1000 + done.ownerType * 100 + done.ownerId * 10 + done.outcome, 77471);
    EXPECT_EQ(PLC_driver.result.address, 0x12);
}

TEST_F(Exchange, FinishFlagAfterOneMoreGoodVariableThanTheReadList)
{
    add(0, 0, 4);
    PLC_driver.onceReadList << onceVar(0x20, 1, 1);
    word(finishFlag) = 0;
    for (int i = 0; i < 4; ++i) {
        exchangeGood();
        EXPECT_EQ(word(finishFlag), 0) << i;
    }
    exchangeGood();  // the fifth good variable, the once-read among them
    EXPECT_EQ(word(finishFlag), 1);
    EXPECT_EQ(PLC_driver.goodReplies, 0);
}

// Remote writes are answered by an 8-byte summed reply, or by nothing at all
// when sent to station 0; both are successes. Remote reads store when asked to.
TEST_F(Exchange, RemoteRepliesAndWrites)
{
    word(remoteMode) = 1;
    word(retryLimit) = 0;
    RW_VAR w = writeVar(1, 0x40, "34 12", 3);
    w.remoteArg1 = -1;
    RW_VAR broadcast = writeVar(1, 0x41, "34 12", 0);
    broadcast.linkNo = 3;
    PLC_driver.writeList << w << broadcast;
    EXPECT_EQ(exchangeWith(hex("00 01 02 03 04 05 06 15")), 1);
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->replyLength, 0);
    EXPECT_EQ(DataCom(nullptr, 0)->status, 100);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    EXPECT_TRUE(callbacks().notifies.empty());
    // A remote variable that asks for storing: the second of its replies is only accepted.
    PLC_driver.readList << RW_VAR{0, 0, 0, 0, 3, 0, "", "10", 1, 0x10, 2, 1, -1, 0, {}};  // RW_VAR's fields in order
    EXPECT_EQ(exchangeWith(goodReply(*ComCommunication(), hex("12 34"))), 1);
    EXPECT_EQ(cached(2, 1, 0x10), "34 12");
    p = ComCommunication();
    word(framesDone) = 1;
    QByteArray second = goodReply(*p, hex("56 78"));
    EXPECT_EQ(DataCom(&second, second.size())->status, 100);
}

TEST(Checksums, KnownValuesAndDigits)
{
    const struct {
        QByteArray bytes;
        unsigned short sum, crc;
        int lrc;
        unsigned short xorValue;
    } rows[] = {
        {"abc", 0x0126, 0x5749, 0xDA, 0x60},   {"123456789", 0x01DD, 0x4B37, 0x23, 0x31}, {"", 0, 0xFFFF, 256, 0},
        {hex("80 80"), 0x100, 0xD061, 256, 0}, {QByteArray(300, '\xFF'), 0x2AD4, 0xDB30, 0x2C, 0},
    };
    for (const auto &r : rows) {
        const unsigned char *b = reinterpret_cast<const unsigned char *>(r.bytes.constData());
        const unsigned short n = static_cast<unsigned short>(r.bytes.size());
        EXPECT_EQ(std::vector<int>({CalSUM(b, n), CalCRC(b, n), CalLRC(b, n), CalXOR(b, n)}),
                  std::vector<int>({r.sum, r.crc, r.lrc, r.xorValue})) << r.bytes.size();
    }
    // A null pointer is read as no bytes.
    EXPECT_EQ(std::vector<int>({CalSUM(nullptr, 5), CalCRC(nullptr, 5), CalLRC(nullptr, 5), CalXOR(nullptr, 5)}),
              std::vector<int>({0, 0xFFFF, 256, 0}));
    const int digits[][2] = {{0, '0'}, {9, '9'}, {10, 'A'}, {15, 'F'}, {-1, 0x2F}};
    for (const auto &d : digits)
        EXPECT_EQ(DigitalToASCII(d[0]), d[1]) << d[0];
    const int chars[][2] = {{0x2F, 0}, {'0', 0}, {'9', 9}, {0x3A, 10}, {0x3F, 15}, {0x40, 0}, {'A', 10}, {'F', 15}, {0x61, 42}};
    for (const auto &c : chars)
        EXPECT_EQ(ASCIIToDigital(c[0]), c[1]) << c[0];
}

// The reply check of every length, so that each way of summing is covered,
// and of the write acknowledgements.
TEST_F(Exchange, ReplyCheck)
{
    auto queue = [](int accessMode, int replyLength, int dataLength) {
        RW_VAR v;
        v.accessMode = accessMode;
        PLC_driver.frameQueue = {Protocol{QByteArray(), 0, replyLength, 0, dataLength, v, 0, 0, 0}};
    };
    auto check = [](const char *reply, int length) {
        QByteArray r = hex(reply);
        return CheckGetData(&r, length);
    };
    queue(0, -1, 2);
    std::mt19937 rng(3);
    for (int length = 2; length <= 40; ++length) {
        QByteArray reply(length, '\0');
        unsigned sum = 0;
        for (int i = 0; i < length - 1; ++i) {
            reply[i] = static_cast<char>(rng());
            sum += i ? static_cast<unsigned char>(reply[i]) : 0;  // the first byte is outside the sum
        }
        for (int delta : {0, 1, 0x80}) {
            reply[length - 1] = static_cast<char>(sum + delta);
            EXPECT_EQ(CheckGetData(&reply, length), delta == 0 ? 1 : 0) << length << " " << delta;
        }
        EXPECT_EQ(CheckGetData(&reply, length + 1), 0) << "claims more than it holds";
    }
    EXPECT_EQ(check("10 61 62 63 26 55", 5), 1) << "bytes past the length are ignored";
    EXPECT_EQ(check("26", 1) + check("", 0) + check("10 61 62 63 26", -3) + CheckGetData(nullptr, 5), 0);
    queue(1, 1, 0);  // a local write: the single byte "O"
    EXPECT_EQ(std::vector<int>({check("4F", 1), check("4F 00", 1), check("4E", 1), check("", 1)}),
              std::vector<int>({2, 0, 0, 0}));
    queue(1, 8, 0);  // a remote write: summed like a data reply
    EXPECT_EQ(std::vector<int>({check("00 01 02 03 04 05 06 15", 8), check("00 01 02 03 04 05 06 16", 8), check("4F", 1)}),
              std::vector<int>({2, 0, 0}));
    queue(1, 13, 2);  // a write variable read by a read frame has data
    EXPECT_EQ(check("00 01 02 03 04 05 06 15", 8), 1);
    PLC_driver.frameQueue.clear();
    EXPECT_EQ(check("00 00", 2), 0) << "no request queued";
}

}  // namespace
