// A whole host session per input: settings, registrations, host reads and
// writes, and exchanges answered by the device model or by arbitrary bytes
// with an arbitrary length. The driver must bound itself: counts and lengths
// go through unchanged; only the number of host operations is capped here.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DeviceModel.h"
#include "Marovin.h"
#include "data/CacheIndex.h"

using marovin_device::DeviceModel;
namespace S = MarovinSettings;

namespace {

const int kMaxOps = 48;          // host operations per input
const int kMaxTurns = 64;        // exchanges in one "run" operation
const int kMaxHostVars = 24;     // HOSTVARs in one rebuild
const int kMaxBytes = 64;        // value and reply bytes taken from the input

// A broken invariant is a finding: say which, then crash for the fuzzer.
void fail(int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, what);
    std::abort();
}
#define check(cond) ((cond) ? (void)0 : fail(__LINE__, #cond))

// Reads the input front to back; every read past the end gives zeros, so any
// input is a complete session.
class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : p_(data), n_(size) {}

    bool empty() const { return n_ == 0; }
    std::uint8_t u8()
    {
        if (n_ == 0)
            return 0;
        --n_;
        return *p_++;
    }
    std::int32_t i32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(u8()) << (8 * i);
        return static_cast<std::int32_t>(v);
    }
    QByteArray bytes(int max)
    {
        const int want = u8() % (max + 1);
        const int n = want < static_cast<int>(n_) ? want : static_cast<int>(n_);
        QByteArray out(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        n_ -= static_cast<std::size_t>(n);
        return out;
    }

    // Mostly small numbers, sometimes the edges of the int range, sometimes raw.
    int number()
    {
        static const int kEdges[] = {INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 65535, 65536, 65537,
                                     -65536, 1023, 1024, 1025, 2047, 0x7FFF, 0x8000, 0xFFFF, -2};
        const std::uint8_t b = u8();
        if (b < 200)
            return static_cast<int>(b) - 8;
        if (b < 216)
            return kEdges[b - 200];
        return i32();
    }
    // Area codes 0..5, the unknown 6 and 7, -1, or anything.
    int areaCode()
    {
        const std::uint8_t b = u8();
        if (b < 240)
            return static_cast<int>(b % 9) - 1;
        return i32();
    }
    QString addressText(int areaCode)
    {
        static const int kBits[] = {2, 5, 12, 16, 24, 25, 28, 29, 30, 31, 34, 36, 37, 38, 39};
        const std::uint8_t how = u8() % 5;
        switch (how) {
        case 0:
            return QString::number(number(), areaCode == 0 ? 10 : 16);
        case 1:
            return QString::number(kBits[u8() % 15]);
        case 2:
            return QString::fromLatin1(bytes(12));
        case 3:
            return QString::number(i32(), 16);
        default:
            return QString::number(u8(), 16);
        }
    }

private:
    const std::uint8_t *p_;
    std::size_t n_;
};

int settings[32];
int onceReadCalls;
int notifyCalls;
bool hostFillsNotifyList;

int onOnceReadDone(int, int, int, int outcome)
{
    check(outcome == 1 || outcome == 2);
    ++onceReadCalls;
    return 0;
}

int onOwnerNotify(QList<RW_VAR> *list, int, int one)
{
    check(list != nullptr && one == 1);
    // The host may put things in the list; the driver discards it.
    if (hostFillsNotifyList)
        list->append(RW_VAR());
    ++notifyCalls;
    return 0;
}

// Back to the state after load, so that inputs do not depend on each other.
void resetDriver()
{
    Marovin &d = PLC_driver;
    d.settings = nullptr;
    d.readList.clear();
    d.writeList.clear();
    d.onceReadList.clear();
    d.spareList.clear();
    d.frameQueue.clear();
    d.extendList.clear();
    if (d.cacheIndex) {
        d.cacheIndex->positions.clear();
        d.cacheIndex->indexed = 0;
    }
    d.onceReadDone = nullptr;
    d.ownerNotify = nullptr;
    d.result = RW_VAR();
    d.phase = 100;
    d.writeBurst = 0;
    d.onceBurst = 0;
    d.goodReplies = 0;
    d.commFailed = false;
    d.spareFlag = false;
    LB = LW = RWI = nullptr;
}

bool validStatus(int s)
{
    if (s == 0 || s == 1 || s == 100 || s == 200)
        return true;
    for (int base : {10, 40, 70, 110, 140, 170})
        if (s >= base + 1 && s <= base + 12)
            return true;
    return false;
}

void checkResult(const RW_VAR *r)
{
    check(r == &PLC_driver.result);
    check(validStatus(r->status));
    check(r->data.isEmpty());
}

RW_VAR variable(Input &in)
{
    RW_VAR v;
    v.ownerType = in.number();
    v.ownerId = in.number();
    v.accessMode = in.u8() % 3;
    v.remoteFlag = settings[S::remoteMode];
    v.linkNo = in.u8() % 4 == 0 ? in.number() : settings[S::localLinkNo];
    v.status = in.number();
    v.hostText = QString::fromLatin1(in.bytes(4));
    v.areaCode = in.areaCode();
    v.addressText = in.addressText(v.areaCode);
    v.address = in.number();
    v.station = in.number();
    v.count = in.number();
    v.remoteArg1 = in.u8() % 2 ? -1 : in.number();
    v.remoteArg2 = in.number();
    v.data = in.bytes(kMaxBytes);
    return v;
}

HOSTVAR hostVar(Input &in)
{
    HOSTVAR h;
    h.kind = in.u8();
    h.areaCode = static_cast<unsigned char>(in.u8() % 8 == 7 ? in.u8() : in.u8() % 7);
    h.station = in.u8();
    h.hostWord = in.number();
    h.addressText = in.addressText(h.areaCode);
    h.text = QString::fromLatin1(in.bytes(4));
    h.length = in.number();
    return h;
}

// The host's reply length: mostly the truth, sometimes not.
int replyLength(Input &in, int size)
{
    switch (in.u8() % 8) {
    case 0:
        return 0;
    case 1:
        return size + 1;
    case 2:
        return size - 1;
    case 3:
        return -1;
    case 4:
        return in.number();
    default:
        return size;
    }
}

// Checks the frame the scheduler hands out; returns it, or null.
Protocol *nextFrame()
{
    Protocol *p = ComCommunication();
    if (p) {
        check(p == &PLC_driver.frameQueue.first());
        check(p->requestLength == p->frame.size());
        // Until DataCom, the same record comes back.
        check(ComCommunication() == p);
    }
    return p;
}

QByteArray deviceReply(DeviceModel &device, const Protocol &p)
{
    const std::vector<std::uint8_t> r =
        device.handle(reinterpret_cast<const std::uint8_t *>(p.frame.constData()), static_cast<std::size_t>(p.frame.size()));
    return QByteArray(reinterpret_cast<const char *>(r.data()), static_cast<int>(r.size()));
}

void fixSum(QByteArray &reply)
{
    if (reply.size() < 2)
        return;
    unsigned sum = 0;
    for (int i = 1; i < reply.size() - 1; ++i)
        sum += static_cast<unsigned char>(reply[i]);
    reply[reply.size() - 1] = static_cast<char>(sum & 0xFF);
}

void exchange(const QByteArray &reply, int length)
{
    QByteArray copy = reply;
    checkResult(DataCom(&copy, length));
}

void runSession(Input &in)
{
    std::memset(settings, 0, sizeof settings);
    const std::uint8_t flags = in.u8();
    settings[S::multiStation] = flags & 1;
    settings[S::remoteMode] = (flags >> 1) & 1;
    settings[S::writeMode] = (flags & 4) ? 2 : 0;
    hostFillsNotifyList = flags & 8;
    settings[S::maxUnits] = in.number();
    settings[S::defaultStation] = in.number();
    settings[S::retryLimit] = static_cast<std::int8_t>(in.u8());
    settings[S::localLinkNo] = in.u8() % 3;
    settings[S::notifyContext] = 5;

    DeviceModel device;
    // Bit 4: the device speaks the other mode, so every answer is wrong.
    device.setRemote((settings[S::remoteMode] != 0) != ((flags & 16) != 0));

    // Bit 5: set-up is left to the operations, so early calls come before it.
    if (!(flags & 32)) {
        SetComInfo(settings);
        check(settings[S::cleared10] == 0 && settings[S::cleared13] == 0);
    }
    // Bit 6: no callbacks at all.
    if (!(flags & 64))
        RegistCallBackFuncIntf(onOnceReadDone, onOwnerNotify);

    for (int op = 0; op < kMaxOps && !in.empty(); ++op) {
        switch (in.u8() % 18) {
        case 0: {
            RW_VAR v = variable(in);
            AddListReadVar(in.u8() % 16 ? &v : nullptr);
            break;
        }
        case 1: {
            RW_VAR v = variable(in);
            const int mode = in.u8() % 4 == 0 ? 1 : in.number();
            const bool null = in.u8() % 16 == 0;
            const int n = AddListWriteVar(null ? nullptr : &v, mode);
            check(null ? n == 0 : n == PLC_driver.writeList.size());
            break;
        }
        case 2: {
            RW_VAR v = variable(in);
            const int mode = in.u8() % 4 == 0 ? 1 : in.number();
            const int n = AddListOnceReadVar(in.u8() % 16 ? &v : nullptr, mode);
            check(n == 0 || n == PLC_driver.onceReadList.size());
            break;
        }
        case 3: {
            QList<HOSTVAR> hosts;
            const int n = in.u8() % (kMaxHostVars + 1);
            for (int i = 0; i < n; ++i)
                hosts.append(hostVar(in));
            const int r = ReCreatReadVarList(in.u8() % 16 ? &hosts : nullptr);
            check(r >= 0 && r <= hosts.size());
            break;
        }
        case 4: {
            const int area = in.areaCode();
            const QString text = in.addressText(area);
            const int station = in.number();
            QByteArray out = in.bytes(8);
            const QByteArray before = out;
            const int count = in.number();
            const bool null = in.u8() % 16 == 0;
            const int r = GetRegisterData(QString(), area, text, station, null ? nullptr : &out, count);
            check(r == 0 || r == 1);
            if (r == 0)
                check(out == before);
            else
                check(out.size() >= before.size());
            break;
        }
        case 5: {
            const int area = in.areaCode();
            const QString text = in.addressText(area);
            const int station = in.number();
            QByteArray value = in.bytes(kMaxBytes);
            const int count = in.number();
            const int ownerType = in.number();
            const int ownerId = in.number();
            const bool null = in.u8() % 16 == 0;
            const int r = SetRegisterData(QString::fromLatin1("v"), area, text, station, null ? nullptr : &value,
                                          count, ownerType, ownerId);
            check(r >= 0);
            break;
        }
        case 6:
        case 7:
        case 8: {
            // One exchange answered by the device, with the host's length.
            Protocol *p = nextFrame();
            if (!p) {
                checkResult(DataCom(nullptr, in.number()));
                break;
            }
            const QByteArray reply = deviceReply(device, *p);
            exchange(reply, replyLength(in, reply.size()));
            break;
        }
        case 9: {
            // Several turns answered truthfully by the device.
            const int turns = 1 + in.u8() % kMaxTurns;
            for (int t = 0; t < turns; ++t) {
                Protocol *p = nextFrame();
                if (!p)
                    continue;
                const QByteArray reply = deviceReply(device, *p);
                exchange(reply, reply.size());
            }
            break;
        }
        case 10: {
            // Arbitrary reply bytes and length.
            if (!nextFrame())
                break;
            const QByteArray reply = in.bytes(kMaxBytes);
            exchange(reply, replyLength(in, reply.size()));
            break;
        }
        case 11: {
            // A reply of the expected length with arbitrary data and a good sum.
            Protocol *p = nextFrame();
            if (!p)
                break;
            QByteArray reply = in.bytes(kMaxBytes);
            if (p->replyLength > 0 && p->replyLength <= kMaxBytes)
                reply.resize(p->replyLength);
            fixSum(reply);
            exchange(reply, reply.size());
            break;
        }
        case 12: {
            // No reply object, or an empty one, with any length.
            QByteArray none;
            checkResult(DataCom(in.u8() % 2 ? nullptr : &none, in.number()));
            break;
        }
        case 13: {
            // The host changes a setting between exchanges.
            static const int kWords[] = {S::maxUnits, S::defaultStation, S::retryLimit, S::retryCount,
                                         S::multiStation, S::framesPerVar, S::framesDone, S::remoteMode,
                                         S::localLinkNo, S::writeMode, S::finishFlag};
            settings[kWords[in.u8() % 11]] = in.number();
            break;
        }
        case 14:
            SetComInfo(in.u8() % 8 ? settings : nullptr);
            break;
        case 15:
            if (in.u8() % 2)
                RegistCallBackFuncIntf(onOnceReadDone, onOwnerNotify);
            else
                RegistCallBackFuncIntf(nullptr, nullptr);
            break;
        case 16: {
            const int area = in.areaCode();
            const QString text = in.addressText(area);
            const int a = PLCAddressChangeIntef(area, text);
            check(area != 0 || a == -1 || (a >= 2 && a <= 39));
            break;
        }
        default:
            check(QueryFinishFlag() == 1);
            FlashLocalRegister(settings, nullptr, &device);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    resetDriver();
    Input in(data, size);
    runSession(in);
    resetDriver();
    return 0;
}
