#include "DriverFixture.h"

#include <cstdio>
#include <cstring>

#include "core/DriverPrivate.h"
#include "data/CacheIndex.h"

namespace marovin_test {

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
    d.cacheIndex->positions.clear();
    d.cacheIndex->indexed = 0;
    d.priv->reset();
    d.onceReadDone = nullptr;
    d.ownerNotify = nullptr;
    d.result = RW_VAR();
    d.phase = 100;
    d.writeBurst = 0;
    d.onceBurst = 0;
    d.goodReplies = 0;
    d.commFailed = false;
    d.spareFlag = false;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

std::string toHex(const QByteArray &bytes)
{
    std::string out;
    char buf[4];
    for (int i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
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

int recordNotify(QList<RW_VAR> *list, int ownerType, int one)
{
    EXPECT_NE(list, nullptr);
    if (list) {
        EXPECT_TRUE(list->isEmpty());
    }
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
    settings[MarovinSettings::localLinkNo] = 0;
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

}  // namespace marovin_test
