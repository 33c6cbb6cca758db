// Bad host input at every entry point: null pointers, negative and huge counts
// and lengths, unknown area codes, rejected addresses, calls before set-up,
// full lists, a zero piece size and missing callbacks. Each has a defined
// result; none may crash, touch memory out of bounds or allocate without bound
// (the sanitizer builds run these same tests). docs/bad-input.md has the table.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "DriverFixture.h"
#include "Exchange.h"
#include "core/Settings.h"
#include "data/CacheIndex.h"

using namespace marovin_test;
namespace S = MarovinSettings;

namespace {

// Generous: the same tests run under valgrind and qemu. An unbounded loop or
// allocation over INT_MAX units takes minutes or dies, not seconds.
const double kQuickSeconds = 10.0;
const long kMaxGrowthKb = 256 * 1024;

long maxRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Runs `f` and checks that it took little time and little memory.
template <typename F>
void expectBounded(const char *what, F f)
{
    const long rssBefore = maxRssKb();
    const auto start = std::chrono::steady_clock::now();
    f();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, kQuickSeconds) << what;
    EXPECT_LT(maxRssKb() - rssBefore, kMaxGrowthKb) << what;
}

QString text(const char *t)
{
    return QString::fromLatin1(t);
}

int get(int areaCode, const QString &address, int count, QByteArray *out, int station = 1)
{
    return GetRegisterData(QString(), areaCode, address, station, out, count);
}

int set(int areaCode, const QString &address, int count, QByteArray *value, int station = 1)
{
    return SetRegisterData(text("host"), areaCode, address, station, value, count, 3, 4);
}

RW_VAR onceVar(int areaCode, const char *address, int count)
{
    RW_VAR v;
    v.ownerType = 2;
    v.ownerId = 9;
    v.areaCode = areaCode;
    v.addressText = text(address);
    v.count = count;
    v.station = 1;
    return v;
}

bool sameRecord(const RW_VAR &a, const RW_VAR &b)
{
    return a.ownerType == b.ownerType && a.ownerId == b.ownerId && a.accessMode == b.accessMode
        && a.linkNo == b.linkNo && a.status == b.status && a.addressText == b.addressText
        && a.areaCode == b.areaCode && a.address == b.address && a.station == b.station && a.count == b.count
        && a.remoteArg1 == b.remoteArg1 && a.remoteArg2 == b.remoteArg2 && a.data == b.data;
}

void clearCache()
{
    PLC_driver.extendList.clear();
    PLC_driver.cacheIndex->positions.clear();
    PLC_driver.cacheIndex->indexed = 0;
}

class HostInput : public DriverTest {};

// ---------------------------------------------------------------- before set-up

// No SetComInfo and no callbacks: the state right after load.
class BeforeSetup : public ::testing::Test {
protected:
    void SetUp() override { resetDriver(); }
    void TearDown() override { resetDriver(); }
};

TEST_F(BeforeSetup, EveryEntryPointReturnsItsFailureValue)
{
    EXPECT_EQ(QueryFinishFlag(), 1);
    EXPECT_EQ(PLCAddressChangeIntef(0, text("12")), 12) << "parsing needs no set-up";

    RW_VAR read = makeVar(1, 0x10);
    EXPECT_EQ(AddListReadVar(&read), 1) << "a plain append needs no settings";
    EXPECT_EQ(ComCommunication(), nullptr) << "nothing is sent without settings";
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());

    RW_VAR once = onceVar(1, "10", 2);
    EXPECT_EQ(AddListOnceReadVar(&once, 0), 0);
    EXPECT_EQ(AddListOnceReadVar(&once, 1), 0);
    EXPECT_TRUE(PLC_driver.onceReadList.isEmpty());

    QList<HOSTVAR> hosts;
    HOSTVAR h{};
    h.areaCode = 1;
    h.station = 1;
    h.addressText = text("20");
    h.length = 1;
    hosts.append(h);
    EXPECT_EQ(ReCreatReadVarList(&hosts), 0);
    ASSERT_EQ(PLC_driver.readList.size(), 1) << "the read list is left as it was";
    EXPECT_EQ(PLC_driver.readList.at(0).address, 0x10);

    QByteArray out("keep");
    EXPECT_EQ(get(1, text("10"), 2, &out), 0);
    EXPECT_EQ(out, QByteArray("keep"));
    QByteArray value("\x01\x02", 2);
    EXPECT_EQ(set(1, text("10"), 1, &value), 0);
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());

    const RW_VAR *r = DataCom(nullptr, 0);
    EXPECT_EQ(r, &PLC_driver.result);
    EXPECT_EQ(r->status, 1) << "an empty queue leaves success";
}

TEST_F(BeforeSetup, SettingsWithdrawnWhileARequestIsOutstanding)
{
    int settings[32] = {};
    settings[S::maxUnits] = 4;
    settings[S::retryLimit] = 2;
    SetComInfo(settings);
    RW_VAR read = makeVar(1, 0x10);
    AddListReadVar(&read);
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    QByteArray reply = goodReply(*p);

    SetComInfo(nullptr);
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 200);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1) << "the request stays for when settings return";

    SetComInfo(settings);
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 1);
    EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
}

// ---------------------------------------------------------------- set-up calls

TEST_F(HostInput, SetComInfoReplacedAndWithdrawn)
{
    int second[S::wordCount];
    for (int i = 0; i < S::wordCount; ++i)
        second[i] = 50 + i;
    second[S::maxUnits] = 4;
    SetComInfo(second);
    EXPECT_EQ(second[S::cleared10], 0);
    EXPECT_EQ(second[S::cleared13], 0);
    for (int i = 0; i < S::wordCount; ++i) {
        if (i != S::cleared10 && i != S::cleared13) {
            EXPECT_EQ(second[i], i == S::maxUnits ? 4 : 50 + i) << i;
        }
    }

    // The first record is no longer written.
    word(S::finishFlag) = 7;
    EXPECT_EQ(ComCommunication(), nullptr);
    EXPECT_EQ(word(S::finishFlag), 7);
    EXPECT_EQ(second[S::finishFlag], 1);

    SetComInfo(nullptr);
    EXPECT_EQ(PLC_driver.settings, nullptr);
    EXPECT_EQ(ComCommunication(), nullptr);
}

TEST_F(HostInput, FlashLocalRegisterPointersAreNeverFollowed)
{
    // Addresses that fault (and that the sanitizers report) if ever used.
    void *const bad[3] = {reinterpret_cast<void *>(1), reinterpret_cast<void *>(8),
                          reinterpret_cast<void *>(~static_cast<uintptr_t>(0))};
    FlashLocalRegister(bad[0], bad[1], bad[2]);
    EXPECT_EQ(LB, bad[0]);
    EXPECT_EQ(LW, bad[1]);
    EXPECT_EQ(RWI, bad[2]);

    RW_VAR read = makeVar(0, 2);
    AddListReadVar(&read);
    QByteArray value("\x01\x00", 2);
    ASSERT_GT(set(1, text("20"), 1, &value), 0);
    int exchanges = 0;
    while (exchangeGood() != -1 && exchanges < 20)
        ++exchanges;
    EXPECT_GE(exchanges, 6) << "one write, five status-bit requests";

    FlashLocalRegister(nullptr, nullptr, nullptr);
    EXPECT_EQ(LB, nullptr);
    EXPECT_EQ(LW, nullptr);
    EXPECT_EQ(RWI, nullptr);
}

TEST_F(HostInput, NullCallbacksAreSkipped)
{
    RegistCallBackFuncIntf(nullptr, nullptr);
    word(S::retryLimit) = 0;

    // A write (ownerNotify on dispatch) and a once-read (onceReadDone at the end).
    QByteArray value("\x34\x12", 2);
    ASSERT_EQ(set(1, text("20"), 1, &value), 1);
    RW_VAR once = onceVar(1, "30", 1);
    ASSERT_EQ(AddListOnceReadVar(&once, 0), 1);
    EXPECT_EQ(exchangeGood(), 1);
    EXPECT_EQ(exchangeGood(), 1);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    EXPECT_TRUE(PLC_driver.onceReadList.isEmpty());

    // A give-up (ownerNotify, and onceReadDone for the dropped once-reads).
    ASSERT_EQ(set(1, text("20"), 1, &value), 1);
    ASSERT_EQ(AddListOnceReadVar(&once, 0), 1);
    EXPECT_EQ(exchangeWith(QByteArray()), 44) << "no reply, ownerType 3";
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    EXPECT_TRUE(PLC_driver.onceReadList.isEmpty()) << "the station's pending once-reads are dropped";
    EXPECT_TRUE(callbacks().notifies.empty());
    EXPECT_TRUE(callbacks().onceReads.empty());
}

// ---------------------------------------------------------------- address parsing

TEST(HostInputAddress, OddTextsAndAreaCodes)
{
    const char16_t arabicDigits[] = {0x0661, 0x0662, 0};
    const char16_t fullWidthDigits[] = {0xFF11, 0xFF12, 0};
    struct Row {
        int areaCode;
        QString text;
        int expected;
    };
    const Row rows[] = {
        {0, QString(), -1},
        {1, QString(), -1},
        {0, text(" 12"), 12},         // Qt's toInt skips surrounding blanks
        {0, text("\t39\n"), 39},
        {0, text("+12"), 12},
        {0, text("012"), 12},
        {0, text("1 2"), -1},
        {0, text("12abc"), -1},
        {0, QString(QChar(0)) + text("12"), -1},
        {0, text("12") + QChar(0), -1},
        {0, QString::fromUtf16(arabicDigits), -1},
        {0, QString::fromUtf16(fullWidthDigits), -1},
        {0, text("2147483659"), -1},   // 12 past the int range
        {1, text("0x10"), 16},
        {1, text("7FFFFFFF"), INT_MAX},
        {1, text("80000000"), -1},     // beyond int: rejected, not wrapped
        {1, text("FFFFFFFF"), -1},
        {3, text("-80000000"), INT_MIN},
        {1, text("-0"), 0},
        {1, text("+"), -1},
        {1, text("1,2"), -1},
        {1, QString(10000, QChar('0')) + text("1"), 1},
        {1, QString(10000, QChar('F')), -1},
        {INT_MIN, text("10"), 16},
        {INT_MAX, text("10"), 16},
        {-1, text("1A"), 26},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.areaCode) + " [" + r.text.left(20).toStdString() + "]");
        EXPECT_EQ(PLCAddressChangeIntef(r.areaCode, r.text), r.expected);
    }
}

// ---------------------------------------------------------------- registration

TEST_F(HostInput, AddListReadVarTakesAnythingButNull)
{
    RW_VAR first = makeVar(1, 0x10);
    ASSERT_EQ(AddListReadVar(&first), 1);
    EXPECT_EQ(AddListReadVar(nullptr), 0);
    EXPECT_EQ(PLC_driver.readList.size(), 1);

    // No parse, no check, no limit: odd entries are kept as given.
    RW_VAR odd = makeVar(99, -5, INT_MIN, INT_MIN);
    odd.addressText = text("not an address");
    EXPECT_EQ(AddListReadVar(&odd), 2);
    for (int i = 0; i < 2000; ++i) {
        RW_VAR v = makeVar(1, i);
        AddListReadVar(&v);
    }
    EXPECT_EQ(PLC_driver.readList.size(), 2002);

    // An entry of no area still gets a frame (command word 0x0001) and its
    // reply is accepted without storing anything.
    PLC_driver.readList.move(1, 0);
    Protocol *p = ComCommunication();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->requestLength, 10);
    EXPECT_EQ(p->frame.size(), 10);
    EXPECT_EQ(static_cast<unsigned char>(p->frame.at(3)), 0x00);
    EXPECT_EQ(static_cast<unsigned char>(p->frame.at(4)), 0x01);
    QByteArray reply = goodReply(*p);
    EXPECT_EQ(DataCom(&reply, reply.size())->status, 1);
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());
}

TEST_F(HostInput, AddListWriteVarNullModesAndFullList)
{
    RW_VAR w = makeVar(1, 0x10);
    w.accessMode = 1;
    w.data = hex("01 00");
    ASSERT_EQ(AddListWriteVar(&w, 0), 1);
    EXPECT_EQ(AddListWriteVar(nullptr, 0), 0);
    EXPECT_EQ(AddListWriteVar(nullptr, 1), 0);
    EXPECT_EQ(PLC_driver.writeList.size(), 1);

    // Any mode other than 1 is registration with the duplicate test.
    RW_VAR second = makeVar(1, 0x20);
    ASSERT_EQ(AddListWriteVar(&second, 0), 2);
    for (int mode : {-1, 0, 2, INT_MAX, INT_MIN}) {
        RW_VAR again = second;
        again.data = hex("AA BB");
        EXPECT_EQ(AddListWriteVar(&again, mode), 2) << mode;
    }

    // Full: registration drops, plain append still appends.
    for (int i = 2; i < 1024; ++i) {
        RW_VAR v = makeVar(1, 0x1000 + i);
        AddListWriteVar(&v, 0);
    }
    ASSERT_EQ(PLC_driver.writeList.size(), 1024);
    RW_VAR extra = makeVar(1, 0x9000);
    EXPECT_EQ(AddListWriteVar(&extra, 0), 1024);
    EXPECT_EQ(AddListWriteVar(&extra, 1), 1025);
}

TEST_F(HostInput, UnsendableWritesAreDroppedNotRepeatedForever)
{
    struct Row {
        const char *what;
        int areaCode;
        int address;
        const char *data;
    };
    const Row rows[] = {
        {"area of no frame", 9, 0x10, "01 02"},
        {"negative area", -1, 0x10, "01 02"},
        {"no value bytes", 1, 0x10, ""},
        {"half a 32-bit value", 2, 0x10, "01 02"},
        {"read-only status bit", 0, 2, "01"},
        {"no such status bit", 0, 13, "01"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        PLC_driver.writeList.clear();
        PLC_driver.writeBurst = 0;
        callbacks().notifies.clear();
        RW_VAR bad = makeVar(r.areaCode, r.address);
        bad.accessMode = 1;
        bad.data = hex(r.data);
        RW_VAR good = makeVar(1, 0x40);
        good.accessMode = 1;
        good.data = hex("05 00");
        AddListWriteVar(&bad, 1);
        AddListWriteVar(&good, 1);

        EXPECT_EQ(ComCommunication(), nullptr) << "nothing to send for the bad write";
        EXPECT_EQ(PLC_driver.writeList.size(), 1) << "and it is gone";
        EXPECT_EQ(callbacks().notifies.size(), 1u);
        EXPECT_EQ(exchangeGood(), 1) << "the write behind it goes out";
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
}

TEST_F(HostInput, AddListOnceReadVarRefusals)
{
    struct Row {
        const char *what;
        int areaCode;
        const char *address;
        int count;
        int maxUnits;
    };
    const Row rows[] = {
        {"rejected bit", 0, "13", 4, 4},
        {"rejected text", 1, "G1", 4, 4},
        {"negative address", 3, "-10", 4, 4},
        {"maxUnits 0, status bits", 0, "12", 4, 0},
        {"maxUnits 0, unknown area", 7, "10", 4, 0},
        {"negative maxUnits", 9, "10", 4, -3},
        {"maxUnits INT_MIN", 0, "12", 4, INT_MIN},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        word(S::maxUnits) = r.maxUnits;
        RW_VAR v = onceVar(r.areaCode, r.address, r.count);
        v.remoteArg1 = 5;
        const RW_VAR before = v;
        EXPECT_EQ(AddListOnceReadVar(&v, 0), 0);
        EXPECT_TRUE(sameRecord(v, before)) << "the caller's record is not touched";
        EXPECT_TRUE(PLC_driver.onceReadList.isEmpty());
    }
    EXPECT_EQ(AddListOnceReadVar(nullptr, 0), 0);
    EXPECT_EQ(AddListOnceReadVar(nullptr, 1), 0);
}

TEST_F(HostInput, AddListOnceReadVarCountsAreBounded)
{
    struct Row {
        const char *what;
        int areaCode;
        const char *address;
        int recordAddress;
        int count;
        int maxUnits;
        int expected;  // once-read list size afterwards
    };
    const Row rows[] = {
        {"count 0", 1, "10", 0, 0, 4, 0},
        {"negative count", 1, "10", 0, -5, 4, 0},
        {"count INT_MIN, 32-bit", 4, "10", 0, INT_MIN, 4, 0},
        {"count INT_MIN, bits", 0, "12", 0, INT_MIN, 3, 0},
        {"count INT_MAX, 16-bit: stops at the list limit", 1, "0", 0, INT_MAX, 4, 1024},
        {"count INT_MAX, 32-bit", 5, "0", 0, INT_MAX, 4, 1024},
        {"count INT_MAX, bits by one", 0, "12", 0, INT_MAX, 1, 1024},
        {"count INT_MAX, huge maxUnits", 0, "12", 0, INT_MAX, INT_MAX, 1},
        {"last address: no wrap past INT_MAX", 1, "7FFFFFFF", 0, 3, 4, 1},
        {"32-bit at the top", 2, "7FFFFFFE", 0, 6, 4, 1},
        {"bits near INT_MAX", 0, "12", INT_MAX - 5, 100, 4, 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        PLC_driver.onceReadList.clear();
        word(S::maxUnits) = r.maxUnits;
        RW_VAR v = onceVar(r.areaCode, r.address, r.count);
        v.address = r.recordAddress;
        int got = -1;
        expectBounded(r.what, [&] { got = AddListOnceReadVar(&v, 0); });
        EXPECT_EQ(got, r.expected);
        EXPECT_EQ(PLC_driver.onceReadList.size(), r.expected);
        for (const RW_VAR &e : PLC_driver.onceReadList) {
            EXPECT_GE(e.address, 0);
            EXPECT_GE(e.count, 1);
        }
    }

    // A full list takes no more pieces; plain append still does.
    PLC_driver.onceReadList.clear();
    word(S::maxUnits) = 4;
    RW_VAR many = onceVar(1, "0", 1024);
    ASSERT_EQ(AddListOnceReadVar(&many, 0), 1024);
    RW_VAR more = onceVar(1, "8000", 1);
    EXPECT_EQ(AddListOnceReadVar(&more, 0), 1024);
    for (int mode : {-1, 2, INT_MAX, INT_MIN})
        EXPECT_EQ(AddListOnceReadVar(&more, mode), 1024) << mode;
    EXPECT_EQ(AddListOnceReadVar(&more, 1), 1025);
}

TEST_F(HostInput, ReCreatReadVarListOddHostLists)
{
    RW_VAR kept = makeVar(1, 0x10);
    AddListReadVar(&kept);
    EXPECT_EQ(ReCreatReadVarList(nullptr), 0);
    ASSERT_EQ(PLC_driver.readList.size(), 1) << "null leaves the list alone";

    QList<HOSTVAR> empty;
    EXPECT_EQ(ReCreatReadVarList(&empty), 0);
    EXPECT_TRUE(PLC_driver.readList.isEmpty()) << "an empty host list empties it";

    auto host = [](unsigned char area, const char *address, unsigned char station, int length) {
        HOSTVAR h{};
        h.kind = 0xFF;
        h.areaCode = area;
        h.station = station;
        h.hostWord = INT_MIN;
        h.addressText = text(address);
        h.length = length;
        return h;
    };
    QList<HOSTVAR> hosts;
    hosts << host(0, "13", 1, 1)            // rejected bit
          << host(1, "G1", 1, 1)            // rejected text
          << host(3, "-10", 1, 1)           // negative address
          << host(1, "", 1, 1)              // empty text
          << host(1, "10", 1, -7)           // negative length: kept as given
          << host(1, "10", 1, -7)           // repeat: dropped
          << host(2, "7FFFFFFF", 255, INT_MAX)
          << host(255, "10", 0, INT_MIN)    // no such area: still read (command 0x0001)
          << host(0, "12", 1, 1)
          << host(0, "39", 1, 5);           // second status bit of the station: one block
    EXPECT_EQ(ReCreatReadVarList(&hosts), 4);
    ASSERT_EQ(PLC_driver.readList.size(), 4);
    EXPECT_EQ(PLC_driver.readList.at(0).count, -7);
    EXPECT_EQ(PLC_driver.readList.at(1).address, INT_MAX);
    EXPECT_EQ(PLC_driver.readList.at(2).areaCode, 255);

    // Each of them goes through a cycle without harm.
    for (int i = 0; i < 4 + 4; ++i)
        EXPECT_NE(exchangeGood(), -1);
}

// ---------------------------------------------------------------- exchanges

TEST_F(HostInput, ComCommunicationRepeatsTheSameRecordUntilAnswered)
{
    RW_VAR read = makeVar(1, 0x10);
    AddListReadVar(&read);
    Protocol *first = ComCommunication();
    ASSERT_NE(first, nullptr);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ComCommunication(), first);
    EXPECT_EQ(PLC_driver.frameQueue.size(), 1);
}

struct ReplyRow {
    const char *what;
    QByteArray bytes;
    bool null;
    int length;
    int expected;
};

// One request of `var` answered by each row, with no repeats allowed, so the
// row's failure code shows at once.
void checkReplies(const RW_VAR &var, int *settings, const std::vector<ReplyRow> &rows)
{
    settings[S::retryLimit] = 0;
    for (const ReplyRow &r : rows) {
        SCOPED_TRACE(r.what);
        PLC_driver.readList.clear();
        PLC_driver.writeList.clear();
        PLC_driver.frameQueue.clear();
        PLC_driver.writeBurst = 0;
        RW_VAR v = var;
        if (v.accessMode == 1)
            AddListWriteVar(&v, 1);
        else
            AddListReadVar(&v);
        Protocol *p = ComCommunication();
        ASSERT_NE(p, nullptr);
        QByteArray reply = r.bytes;
        const RW_VAR *result = DataCom(r.null ? nullptr : &reply, r.length);
        EXPECT_EQ(result, &PLC_driver.result);
        EXPECT_EQ(result->status, r.expected);
        EXPECT_TRUE(result->data.isEmpty());
        EXPECT_TRUE(PLC_driver.frameQueue.isEmpty());
        if (!r.null) {
            EXPECT_EQ(reply, r.bytes) << "the host's reply is read only";
        }
    }
}

TEST_F(HostInput, DataComLocalReadReplies)
{
    const RW_VAR var = makeVar(1, 0x10);  // a 13-byte reply is expected
    Protocol probe;
    probe.replyLength = 13;
    probe.dataOffset = 10;
    const QByteArray good = goodReply(probe, hex("12 34"));
    QByteArray badSum = good;
    badSum[12] = static_cast<char>(badSum[12] + 1);
    const QByteArray longer = good + QByteArray(7, '\x55');
    checkReplies(var, settings,
                 {
                     {"no reply object, length 0", QByteArray(), true, 0, 41},
                     {"no reply object, length 13", QByteArray(), true, 13, 11},
                     {"empty reply, length -1", QByteArray(), false, -1, 71},
                     {"empty reply, length INT_MIN", QByteArray(), false, INT_MIN, 71},
                     {"good reply, length INT_MAX", good, false, INT_MAX, 71},
                     {"good reply, length one short", good, false, 12, 71},
                     {"3 bytes claimed as 13", good.left(3), false, 13, 11},
                     {"12 bytes claimed as 13", good.left(12), false, 13, 11},
                     {"wrong sum", badSum, false, 13, 11},
                     {"good reply", good, false, 13, 1},
                     {"good reply with trailing bytes beyond the length", longer, false, 13, 1},
                 });
}

TEST_F(HostInput, DataComWriteAndRemoteReplies)
{
    RW_VAR write = makeVar(1, 0x10);
    write.accessMode = 1;
    write.data = hex("01 00");
    checkReplies(write, settings,
                 {
                     {"acknowledged", QByteArray("O"), false, 1, 1},
                     {"lower-case o", QByteArray("o"), false, 1, 11},
                     {"two bytes claimed as one", QByteArray("OO"), false, 1, 11},
                     {"no reply object, length 1", QByteArray(), true, 1, 11},
                     {"length 0", QByteArray("O"), false, 0, 41},
                     {"length 2", QByteArray("O"), false, 2, 71},
                     {"negative length", QByteArray("O"), false, -1, 71},
                 });

    RW_VAR remote = makeVar(1, 0x10);
    remote.linkNo = 3;  // not the local link
    checkReplies(remote, settings,
                 {
                     {"remote, nothing", QByteArray(), true, 0, 141},
                     {"remote, 3 bytes claimed as 13", QByteArray(3, '\x01'), false, 13, 111},
                     {"remote, negative length", QByteArray(), false, -7, 171},
                 });
}

TEST_F(HostInput, ErrorOffsetsForAnyOwnerType)
{
    struct Row {
        int ownerType;
        int expected;
    };
    const Row rows[] = {{0, 41}, {1, 42}, {11, 52}, {12, 41}, {-1, 41}, {INT_MIN, 41}, {INT_MAX, 41}};
    for (const Row &r : rows) {
        RW_VAR v = makeVar(1, 0x10);
        v.ownerType = r.ownerType;
        checkReplies(v, settings, {{"no reply", QByteArray(), true, 0, r.expected}});
    }
}

TEST_F(HostInput, DataComWithNothingOutstanding)
{
    QByteArray junk(100, '\xFF');
    for (int length : {0, -1, 13, INT_MAX, INT_MIN}) {
        EXPECT_EQ(DataCom(nullptr, length)->status, 1) << length;
        EXPECT_EQ(DataCom(&junk, length)->status, 1) << length;
    }
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    EXPECT_EQ(word(S::retryCount), 0);
}

// ---------------------------------------------------------------- host data access

TEST_F(HostInput, GetRegisterDataRefusals)
{
    struct Row {
        const char *what;
        int areaCode;
        const char *address;
        int count;
    };
    const Row rows[] = {
        {"negative count", 1, "10", -1},
        {"count INT_MIN", 1, "10", INT_MIN},
        {"count INT_MAX", 1, "10", INT_MAX},
        {"count INT_MAX, bits", 0, "12", INT_MAX},
        {"count INT_MAX, 32-bit", 4, "10", INT_MAX},
        {"count past the largest area", 3, "0", 65537},
        {"rejected bit", 0, "13", 1},
        {"rejected text", 1, "G1", 1},
        {"negative address", 3, "-10", 1},
        {"second word past INT_MAX", 1, "7FFFFFFF", 2},
        {"32-bit value past INT_MAX", 2, "7FFFFFFF", 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        QByteArray out("unchanged");
        int got = -1;
        expectBounded(r.what, [&] { got = get(r.areaCode, text(r.address), r.count, &out); });
        EXPECT_EQ(got, 0);
        EXPECT_EQ(out, QByteArray("unchanged"));
        EXPECT_TRUE(PLC_driver.extendList.isEmpty()) << "no cache entry made";
    }
    EXPECT_EQ(get(1, text("10"), 1, nullptr), 0);
    EXPECT_TRUE(PLC_driver.extendList.isEmpty());
}

TEST_F(HostInput, GetRegisterDataOddButAccepted)
{
    struct Row {
        const char *what;
        int areaCode;
        const char *address;
        int count;
        int outSize;   // bytes in the output afterwards
        int entries;   // cache entries afterwards
    };
    const Row rows[] = {
        {"count 0", 1, "10", 0, 9, 0},
        {"area of no value", 7, "10", 5, 9, 0},
        {"negative area", -1, "10", 5, 9, 0},
        {"area INT_MIN", INT_MIN, "10", 5, 9, 0},
        {"one word of a 32-bit area", 2, "10", 1, 9, 0},
        {"last address", 1, "7FFFFFFF", 1, 9, 1},
        {"largest count, bits", 0, "12", 65536, 65536, 65536},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        clearCache();
        QByteArray out("unchanged");
        int got = -1;
        expectBounded(r.what, [&] { got = get(r.areaCode, text(r.address), r.count, &out); });
        EXPECT_EQ(got, 1);
        EXPECT_EQ(out.size(), r.outSize);
        EXPECT_EQ(PLC_driver.extendList.size(), r.entries);
        if (r.entries == 0) {
            EXPECT_EQ(out, QByteArray("unchanged"));
        }
    }

    // Odd stations are keys like any other.
    clearCache();
    QByteArray out;
    EXPECT_EQ(get(1, text("10"), 1, &out, INT_MIN), 1);
    EXPECT_EQ(get(1, text("10"), 1, &out, -1), 1);
    EXPECT_EQ(PLC_driver.extendList.size(), 2);
}

TEST_F(HostInput, GetRegisterDataDoesNotWriteThroughSharedBytes)
{
    const QByteArray original("abcdef");
    QByteArray out = original;  // shares its bytes
    EXPECT_EQ(get(1, text("10"), 2, &out), 1);
    EXPECT_EQ(out, hex("00 00 00 00 65 66"));
    EXPECT_EQ(original, QByteArray("abcdef"));
}

TEST_F(HostInput, SetRegisterDataRefusalsInPlcWriteMode)
{
    struct Row {
        const char *what;
        int areaCode;
        const char *address;
        int count;
        const char *value;
        int maxUnits;
    };
    const Row rows[] = {
        {"negative count", 1, "10", -1, "01 02", 4},
        {"count INT_MIN", 1, "10", INT_MIN, "01 02", 4},
        {"count INT_MAX", 1, "10", INT_MAX, "01 02", 4},
        {"count INT_MAX, remote area of no width", 9, "10", INT_MAX, "01 02", 1},
        {"count past the largest area", 3, "0", 65537, "01 02", 4},
        {"count 0", 1, "10", 0, "01 02", 4},
        {"maxUnits 0", 1, "10", 1, "01 02", 0},
        {"negative maxUnits", 1, "10", 1, "01 02", -1},
        {"maxUnits INT_MIN", 2, "10", 2, "01 02 03 04", INT_MIN},
        {"rejected bit", 0, "13", 1, "01", 4},
        {"read-only bit", 0, "2", 1, "01", 4},
        {"half a 32-bit value", 2, "10", 1, "01 02 03 04", 4},
        {"rejected text", 1, "G1", 1, "01 02", 4},
        {"negative address", 3, "-10", 1, "01 02", 4},
        {"fewer bytes than words", 1, "10", 2, "01 02 03", 4},
        {"area of no frame, local", 7, "10", 1, "01 02", 4},
        {"second word past INT_MAX", 1, "7FFFFFFF", 2, "01 02 03 04", 4},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        word(S::maxUnits) = r.maxUnits;
        word(S::remoteMode) = r.areaCode == 9 ? 1 : 0;
        QByteArray value = hex(r.value);
        int got = -1;
        expectBounded(r.what, [&] { got = set(r.areaCode, text(r.address), r.count, &value); });
        EXPECT_EQ(got, 0);
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
        EXPECT_TRUE(PLC_driver.extendList.isEmpty());
    }
    word(S::maxUnits) = 4;
    EXPECT_EQ(set(1, text("10"), 1, nullptr), 0);
    EXPECT_TRUE(PLC_driver.writeList.isEmpty());
}

TEST_F(HostInput, SetRegisterDataHugePiecesAndCounts)
{
    // A piece size beyond the count: one piece.
    word(S::maxUnits) = INT_MAX;
    QByteArray value = hex("01 02 03 04 05 06 07 08");
    EXPECT_EQ(set(1, text("10"), 4, &value), 1);
    ASSERT_EQ(PLC_driver.writeList.size(), 1);
    EXPECT_EQ(PLC_driver.writeList.at(0).count, 4);
    EXPECT_EQ(PLC_driver.writeList.at(0).data, value);

    // The largest count in more pieces than the list holds: the list fills
    // up and the drop is reported.
    PLC_driver.writeList.clear();
    word(S::maxUnits) = 32;
    QByteArray big(2 * 65536, '\x11');
    int got = -1;
    expectBounded("2048 pieces", [&] { got = set(1, text("0"), 65536, &big); });
    EXPECT_EQ(got, 0) << "pieces past the list limit were dropped";
    EXPECT_EQ(PLC_driver.writeList.size(), 1024);
}

TEST_F(HostInput, SetRegisterDataCacheOnlyMode)
{
    word(S::writeMode) = 0;
    struct Row {
        const char *what;
        int areaCode;
        const char *address;
        int count;
        const char *value;
        int result;
        int entries;
    };
    const Row rows[] = {
        {"count INT_MAX, two words given", 1, "10", INT_MAX, "01 02 03 04", 1, 2},
        {"count INT_MAX, bits", 0, "12", INT_MAX, "01", 1, 1},
        {"count INT_MAX, 32-bit", 4, "10", INT_MAX, "01 02 03 04 05", 1, 1},
        {"no bytes", 1, "10", 5, "", 1, 0},
        {"count 0", 1, "10", 0, "01 02", 1, 0},
        {"negative count", 1, "10", -1, "01 02", 0, 0},
        {"area of no value", 7, "10", 1, "01 02", 1, 0},
        {"last address: no wrap", 1, "7FFFFFFF", 2, "01 02 03 04", 1, 1},
        {"32-bit at the top: no wrap", 2, "7FFFFFFE", 4, "01 02 03 04 05 06 07 08", 1, 1},
        {"rejected bit", 0, "13", 1, "01", 0, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        clearCache();
        QByteArray value = hex(r.value);
        int got = -1;
        expectBounded(r.what, [&] { got = set(r.areaCode, text(r.address), r.count, &value); });
        EXPECT_EQ(got, r.result);
        EXPECT_EQ(PLC_driver.extendList.size(), r.entries);
        for (const EXTENDVAR &e : PLC_driver.extendList)
            EXPECT_GE(e.address, 0) << "no address wrapped";
        EXPECT_TRUE(PLC_driver.writeList.isEmpty());
    }
}

TEST_F(HostInput, QueryFinishFlagIgnoresState)
{
    EXPECT_EQ(QueryFinishFlag(), 1);
    word(S::finishFlag) = 0;
    EXPECT_EQ(QueryFinishFlag(), 1);
    SetComInfo(nullptr);
    EXPECT_EQ(QueryFinishFlag(), 1);
}

}  // namespace
