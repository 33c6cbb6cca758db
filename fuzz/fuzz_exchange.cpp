// The reply path, fast: a few variables from a fixed set, sometimes a
// rebuild, then up to 32 exchanges, each answered as the input says (the
// device model's answer, nothing, a wrong length, a spoilt byte, another
// request's answer, arbitrary bytes, settings withdrawn meanwhile). The driver
// is put back to its state after load between inputs, nothing more, so that
// every status code and the rebuild come round thousands of times a second.
// MAROVIN_FUZZ_STATUS=1 prints the status codes seen at exit.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <set>

#include "DeviceModel.h"
#include "FuzzCheck.h"
#include "Marovin.h"

using marovin_device::DeviceModel;
namespace S = MarovinSettings;

namespace {

const int kMaxVariables = 6;
const int kMaxExchanges = 32;

int settings[32];
bool countStatuses = false;
std::set<int> statusesSeen;

// Reads the input front to back; past the end every read gives zero.
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
    QByteArray bytes(int max)
    {
        const int n = std::min<int>(u8() % (max + 1), static_cast<int>(n_));
        QByteArray out(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        n_ -= static_cast<std::size_t>(n);
        return out;
    }

private:
    const std::uint8_t *p_;
    std::size_t n_;
};

int onOnceReadDone(int, int, int, int outcome)
{
    check(outcome == 1 || outcome == 2);
    return 0;
}

int onOwnerNotify(QList<RW_VAR> *list, int, int one)
{
    check(list && list->isEmpty() && one == 1);
    return 0;
}

bool validStatus(int s)
{
    if (s == 0 || s == 1 || s == 100 || s == 200)
        return true;
    for (int base : {10, 40, 70, 110, 140, 170})
        if (s > base && s <= base + 12)
            return true;
    return false;
}

// A variable of the fixed set: area, address, station and kind from one byte
// each; writes carry a value that every builder can send.
RW_VAR variable(Input &in, int kind)
{
    static const int kAddresses[] = {0x10, 0x11, 0x20, 0x7095, 0xFFFF, 2, 12, 29};
    RW_VAR v;
    const std::uint8_t a = in.u8();
    v.areaCode = a % 8 == 7 ? -1 : a % 7;  // 0..5, 6 unknown, -1
    v.address = kAddresses[(a >> 3) % 8];
    const std::uint8_t b = in.u8();
    v.station = 1 + b % 3;
    v.ownerType = kind == 1 ? 2 : kind == 2 ? 3 : 0;
    if (b & 0x08)
        v.ownerType = (b >> 4) % 13;
    v.ownerId = b >> 6;
    v.accessMode = kind == 1 ? 1 : 0;
    v.linkNo = (b & 0x04) ? 9 : settings[S::localLinkNo];
    v.remoteArg1 = (a & 0x80) ? 0 : -1;
    v.count = v.areaCode == 2 || v.areaCode == 4 || v.areaCode == 5 ? 2 : 1;
    v.addressText = QString::number(v.address, v.areaCode == 0 ? 10 : 16);
    v.data = kind == 1 ? QByteArray("\x01\x00\x34\x12", 4) : QByteArray();
    if (kind == 1 && v.areaCode == 0)
        v.data = QByteArray(1, static_cast<char>(in.u8() & 1));
    return v;
}

// A rebuild of the read list from up to three host variables.
void rebuild(Input &in)
{
    static const char *const kTexts[] = {"10", "7095", "12", "29", "fffff", "x", "", "-1"};
    QList<HOSTVAR> hosts;
    for (int n = in.u8() % 4; n > 0; --n) {
        HOSTVAR h;
        const std::uint8_t b = in.u8();
        h.kind = 0;
        h.areaCode = static_cast<unsigned char>(b % 8);
        h.station = static_cast<unsigned char>(1 + (b >> 3) % 3);
        h.hostWord = 0;
        h.addressText = QString::fromLatin1(kTexts[(b >> 5) % 8]);
        h.length = 1 + in.u8() % 3;
        hosts.append(h);
    }
    const int n = ReCreatReadVarList(&hosts);
    check(n >= 0 && n <= hosts.size());
}

// The sum byte of a read-style reply.
void fixSum(QByteArray &reply)
{
    unsigned sum = 0;
    for (int i = 1; i < reply.size() - 1; ++i)
        sum += static_cast<unsigned char>(reply[i]);
    if (reply.size() >= 2)
        reply[reply.size() - 1] = static_cast<char>(sum);
}

// The answer to the request as the input says; *length is the host's count.
QByteArray answer(Input &in, const Protocol &p, DeviceModel &device, int *length)
{
    const std::vector<std::uint8_t> r = device.handle(reinterpret_cast<const std::uint8_t *>(p.frame.constData()),
                                                      static_cast<std::size_t>(p.frame.size()));
    QByteArray reply(reinterpret_cast<const char *>(r.data()), static_cast<int>(r.size()));
    const std::uint8_t how = in.u8();
    *length = reply.size();
    switch (how % 8) {
    case 0:  // nothing came
        *length = 0;
        break;
    case 1:  // a length other than the bytes
        *length = static_cast<int>(static_cast<std::int8_t>(in.u8()));
        break;
    case 2:  // one byte spoilt
        if (!reply.isEmpty())
            reply[in.u8() % reply.size()] = static_cast<char>(in.u8());
        break;
    case 3:  // another register's answer, its sum right
        if (reply.size() > 8) {
            reply[8] = static_cast<char>(reply[8] ^ (1 + in.u8() % 255));
            fixSum(reply);
        }
        break;
    case 4:  // arbitrary bytes, summed or not
        reply = in.bytes(24);
        if (how & 0x10)
            fixSum(reply);
        *length = reply.size();
        break;
    default:  // the device's answer
        break;
    }
    return reply;
}

// One exchange; false when there was nothing to send.
bool exchange(Input &in, DeviceModel &device)
{
    Protocol *p = ComCommunication();
    if (!p)
        return false;
    check(p == &PLC_driver.frameQueue.first() && p->requestLength == p->frame.size());
    int length = 0;
    QByteArray reply = answer(in, *p, device, &length);
    const std::uint8_t what = in.u8();
    if (what % 16 == 0)
        SetComInfo(nullptr);  // the settings withdrawn while a request waits
    const RW_VAR *r = DataCom(what % 16 == 1 ? nullptr : &reply, length);
    if (what % 16 == 0)
        SetComInfo(settings);
    check(r == &PLC_driver.result && validStatus(r->status) && r->data.isEmpty());
    if (countStatuses)
        statusesSeen.insert(r->status);
    return true;
}

void printStatuses()
{
    std::fprintf(stderr, "statuses seen:");
    for (int s : statusesSeen)
        std::fprintf(stderr, " %d", s);
    std::fprintf(stderr, "\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    countStatuses = std::getenv("MAROVIN_FUZZ_STATUS") != nullptr;
    if (countStatuses)
        std::atexit(printStatuses);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static DeviceModel devices[2];
    PLC_driver.~Marovin();
    new (&PLC_driver) Marovin();
    Input in(data, size);
    const std::uint8_t flags = in.u8();
    std::fill(settings, settings + 32, 0);
    settings[S::remoteMode] = flags & 1;
    settings[S::multiStation] = (flags >> 1) & 1;
    settings[S::retryLimit] = (flags >> 2) % 4;
    settings[S::localLinkNo] = (flags >> 4) & 1;
    settings[S::writeMode] = 2;
    settings[S::maxUnits] = 2;
    settings[S::defaultStation] = 1;
    SetComInfo(settings);
    RegistCallBackFuncIntf(onOnceReadDone, onOwnerNotify);
    DeviceModel &device = devices[settings[S::remoteMode] != 0];
    device.setRemote(settings[S::remoteMode] != 0);

    for (int n = in.u8() % (kMaxVariables + 1); n > 0; --n) {
        const int kind = in.u8() % 3;
        RW_VAR v = variable(in, kind);
        if (kind == 0)
            AddListReadVar(&v);
        else if (kind == 1)
            AddListWriteVar(&v, 0);
        else
            AddListOnceReadVar(&v, 1);
    }
    if (flags & 0x20)
        rebuild(in);
    for (int t = 0; t < kMaxExchanges && !in.empty(); ++t)
        exchange(in, device);
    return 0;
}
