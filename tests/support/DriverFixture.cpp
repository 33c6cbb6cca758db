#include "DriverFixture.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace marovin_test {

void resetDriver()
{
    // Destroyed and constructed again in place: exactly the state after load.
    PLC_driver.~Marovin();
    new (&PLC_driver) Marovin();
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

std::string toHex(const QByteArray &bytes)
{
    return toHex(reinterpret_cast<const std::uint8_t *>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

Bytes bytes(const char *text)
{
    const QByteArray b = hex(text);
    return Bytes(b.begin(), b.end());
}

std::string toHex(const std::uint8_t *bytes, std::size_t count)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

Callbacks &callbacks()
{
    static Callbacks c;
    return c;
}

namespace {
int recordOnceRead(int context, int ownerType, int ownerId, int outcome)
{
    callbacks().onceReads.push_back({context, ownerType, ownerId, outcome});
    return 0;
}

// The driver hands an empty list and 1; anything else is a fault.
int recordNotify(QList<RW_VAR> *list, int ownerType, int one)
{
    EXPECT_TRUE(list && list->isEmpty());
    callbacks().notifies.push_back({ownerType, one});
    return 0;
}
}  // namespace

void DriverTest::SetUp()
{
    resetDriver();
    callbacks() = Callbacks();
    std::memset(settings, 0, sizeof settings);
    settings[MarovinSettings::maxUnits] = 4;
    settings[MarovinSettings::defaultStation] = 1;
    settings[MarovinSettings::retryLimit] = 2;
    settings[MarovinSettings::multiStation] = 1;
    settings[MarovinSettings::writeMode] = 2;
    settings[MarovinSettings::notifyContext] = 77;
    SetComInfo(settings);
    RegistCallBackFuncIntf(recordOnceRead, recordNotify);
}

void DriverTest::TearDown()
{
    resetDriver();
}

RW_VAR makeVar(int areaCode, int address, int station, int count)
{
    RW_VAR v;
    v.areaCode = areaCode;
    v.address = address;
    v.station = station;
    v.count = count;
    v.addressText = QString::number(address, areaCode == 0 ? 10 : 16);
    return v;
}

RW_VAR writeVar(int areaCode, int address, const char *data, int station, int count)
{
    RW_VAR v = makeVar(areaCode, address, station, count);
    v.accessMode = 1;
    v.data = hex(data);
    return v;
}

HOSTVAR hostVar(int areaCode, const char *address, int station, int length)
{
    HOSTVAR h{};
    h.areaCode = static_cast<unsigned char>(areaCode);
    h.station = static_cast<unsigned char>(station);
    h.addressText = QString::fromLatin1(address);
    h.length = length;
    return h;
}

std::string cached(int station, int areaCode, int address)
{
    for (const EXTENDVAR &e : PLC_driver.extendList)
        if (e.station == station && e.areaCode == areaCode && e.address == address)
            return toHex(e.data);
    return "absent";
}

std::vector<std::string> queuedFrames()
{
    std::vector<std::string> out;
    for (const Protocol &p : PLC_driver.frameQueue)
        out.push_back(toHex(p.frame));
    return out;
}

std::string pieces(const QList<RW_VAR> &list)
{
    std::string out;
    for (const RW_VAR &v : list)
        out += (out.empty() ? "" : " ") + std::to_string(v.address) + "/" + std::to_string(v.count);
    return out;
}

std::string describe(const RW_VAR &v)
{
    return QString("%1 %2 %3 %4 %5 %6 [%7] [%8] %9 %10 %11 %12 %13 %14 ")
               .arg(v.ownerType).arg(v.ownerId).arg(v.accessMode).arg(v.remoteFlag).arg(v.linkNo).arg(v.status)
               .arg(v.hostText).arg(v.addressText).arg(v.areaCode).arg(v.address).arg(v.station).arg(v.count)
               .arg(v.remoteArg1).arg(v.remoteArg2).toStdString()
        + toHex(v.data);
}

}  // namespace marovin_test
