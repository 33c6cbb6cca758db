#include "BenchDriver.h"

#include <cstring>

namespace marovin_bench {

namespace {

int g_settings[32];

int onceReadDone(int, int, int, int)
{
    return 0;
}

int ownerNotify(QList<RW_VAR> *, int, int)
{
    return 0;
}

}  // namespace

void setUpDriver(int writeMode)
{
    std::memset(g_settings, 0, sizeof g_settings);
    g_settings[MarovinSettings::maxUnits] = 8;
    g_settings[MarovinSettings::defaultStation] = 1;
    g_settings[MarovinSettings::retryLimit] = 2;
    g_settings[MarovinSettings::multiStation] = 1;
    g_settings[MarovinSettings::remoteMode] = 0;
    g_settings[MarovinSettings::localLinkNo] = 0;
    g_settings[MarovinSettings::writeMode] = writeMode;
    SetComInfo(g_settings);
    FlashLocalRegister(nullptr, nullptr, nullptr);
    RegistCallBackFuncIntf(onceReadDone, ownerNotify);
}

void setWriteMode(int writeMode)
{
    g_settings[MarovinSettings::writeMode] = writeMode;
}

void resetDriver()
{
    Marovin &d = PLC_driver;
    d.listMutex.lock();
    d.readList.clear();
    d.writeList.clear();
    d.onceReadList.clear();
    d.frameQueue.clear();
    d.phase = 100;
    d.writeBurst = 0;
    d.onceBurst = 0;
    d.goodReplies = 0;
    d.commFailed = false;
    d.listMutex.unlock();
    d.dataMutex.lock();
    d.extendList.clear();  // the lookup index notices the shrink and rebuilds
    d.dataMutex.unlock();
}

QList<HOSTVAR> hostVariables(int count)
{
    QList<HOSTVAR> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        HOSTVAR h;
        h.kind = 0;
        h.areaCode = 1;
        h.station = 1;
        h.hostWord = 0;
        h.addressText = QString::number(kBaseAddress + i, 16);
        h.text = QStringLiteral("v");
        h.length = 1;
        list.append(h);
    }
    return list;
}

int buildReadList(int count)
{
    QList<HOSTVAR> host = hostVariables(count);
    return ReCreatReadVarList(&host);
}

void fillCache(int count)
{
    const int chunk = 50000;  // GetRegisterData takes at most 65536 units
    for (int base = 0; base < count; base += chunk) {
        const int n = count - base < chunk ? count - base : chunk;
        QByteArray out;
        GetRegisterData(QString(), 1, QString::number(kBaseAddress + base, 16), 1, &out, n);
    }
}

void makePlant(int size)
{
    resetDriver();
    buildReadList(size);
    fillCache(size);
}

std::vector<QString> addressTexts(int size, int count)
{
    std::vector<QString> texts;
    texts.reserve(static_cast<size_t>(count));
    long long a = 0;
    for (int i = 0; i < count; ++i) {
        texts.push_back(QString::number(kBaseAddress + static_cast<int>(a), 16));
        a = (a + 7919) % size;  // a prime step visits the whole cache
    }
    return texts;
}

QByteArray reply16(unsigned value)
{
    QByteArray reply(13, '\0');
    reply[0] = char(0x0B);
    reply[1] = char(0x00);
    reply[2] = char(0x10);
    reply[3] = char(0xB0);
    reply[4] = char(0x04);
    setReply16(reply, value);
    return reply;
}

void setReply16(QByteArray &reply, unsigned value)
{
    char *p = reply.data();
    p[10] = char((value >> 8) & 0xFF);
    p[11] = char(value & 0xFF);
    unsigned sum = 0;
    for (int i = 1; i <= 11; ++i)
        sum += static_cast<unsigned char>(p[i]);
    p[12] = char(sum & 0xFF);
}

int exchange(QByteArray &reply)
{
    static QByteArray ack(1, 'O');
    Protocol *p = ComCommunication();
    if (!p)
        return -1;
    QByteArray &answer = p->var.accessMode == 1 ? ack : reply;
    return DataCom(&answer, answer.size())->status;
}

}  // namespace marovin_bench
