// Host data access: reading cached values and writing values to the cache or the PLC.
#include "Func_GetOrSetData.h"

#include <climits>
#include <cstring>

#include "Func_DealData.h"
#include "core/Locker.h"
#include "core/Settings.h"
#include "lists/Func_Initi.h"

namespace {

// No area is larger than the 16-bit address space.
const int kMaxCount = 65536;

// True for the 16-bit register areas.
bool isWordArea(int areaCode)
{
    return areaCode == 1 || areaCode == 3;
}

// True for the areas of 32-bit values, decimal float included.
bool isLongArea(int areaCode)
{
    return areaCode == 2 || areaCode == 4 || areaCode == 5;
}

// True for the status bits that a write may change.
bool isWritableBit(long long bit)
{
    return bit == 12 || bit == 25 || (bit >= 28 && bit <= 31);
}

// Bytes [from, from + length) of `source`, zero where it has none.
QByteArray paddedSlice(const QByteArray &source, long long from, int length)
{
    QByteArray out(length, '\0');
    for (int i = 0; i < length && from + i < source.size(); ++i)
        out[i] = source.at(static_cast<int>(from + i));
    return out;
}

// Replaces the cached value of one key with its own copy of the bytes (the
// caller's storage may be freed later by another thread), written into the
// value's buffer in place when that is unshared and large enough.
void storeValue(int station, int areaCode, long long address, const char *bytes, int count)
{
    const int e = ExtendFindSameVar(station, areaCode, static_cast<int>(address));
    QByteArray &data = PLC_driver.extendList[e].data;
    data.resize(count);
    std::memcpy(data.data(), bytes, static_cast<size_t>(count));
}

// Cuts `units` into pieces of `pieceUnits`, registers each with its bytes and,
// while the link is down, caches it; 0 when any piece was dropped.
int registerPieces(RW_VAR &var, long long start, long long units, long long pieceUnits,
                   const QByteArray &value)
{
    int result = 0;
    bool dropped = false;
    for (long long first = 0; first < units; first += pieceUnits) {
        const long long length = units - first < pieceUnits ? units - first : pieceUnits;
        var.address = static_cast<int>(start + first);
        var.count = static_cast<int>(length);
        var.data = paddedSlice(value, first * 2, static_cast<int>(length * 2));
        bool accepted = false;
        result = marovin::registerWrite(&var, 0, &accepted);
        if (!accepted)
            dropped = true;
        if (marovin::commFailed())
            WriteDataToLocal(&var);
    }
    return dropped ? 0 : result;
}

// Queues one write per status bit; every bit must be writable and supplied.
int registerBits(RW_VAR &var, int start, int count, const QByteArray &value)
{
    if (count < 1 || value.size() < count)
        return 0;
    for (int i = 0; i < count; ++i)
        if (!isWritableBit(static_cast<long long>(start) + i))
            return 0;
    int result = 0;
    bool dropped = false;
    for (int i = 0; i < count; ++i) {
        var.address = start + i;
        var.count = 1;
        var.data = value.mid(i, 1);
        bool accepted = false;
        result = marovin::registerWrite(&var, 0, &accepted);
        if (!accepted)
            dropped = true;
        if (marovin::commFailed())
            WriteDataToLocal(&var);
    }
    return dropped ? 0 : result;
}

}  // namespace

// Copies the variable's value bytes into the value cache, skipping values
// for which bytes are missing.
void WriteDataToLocal(const RW_VAR *var)
{
    if (!var)
        return;
    const int areaCode = var->areaCode;
    const long long address = var->address;
    const long long count = var->count;
    const QByteArray &data = var->data;
    marovin::Locker lock(PLC_driver.dataMutex);
    if (isLongArea(areaCode)) {
        const long long values = qMin(count / 2, static_cast<long long>(data.size() / 4));
        for (long long k = 0; k < values && address + 2 * k <= INT_MAX; ++k)
            storeValue(var->station, areaCode, address + 2 * k, data.constData() + 4 * k, 4);
    } else if (isWordArea(areaCode)) {
        const long long values = qMin(count, static_cast<long long>(data.size() / 2));
        for (long long i = 0; i < values && address + i <= INT_MAX; ++i)
            storeValue(var->station, areaCode, address + i, data.constData() + 2 * i, 2);
    } else if (areaCode == 0) {
        const long long values = qMin(count, static_cast<long long>(data.size()));
        for (long long i = 0; i < values && address + i <= INT_MAX; ++i)
            storeValue(var->station, 0, address + i, data.constData() + i, 1);
    }
}

// Copies `count` units of cached values into the host's array; 1 when the
// address is accepted, 0 when it or the request is refused.
int GetRegisterData(QString, int areaCode, QString addressText, int station, QByteArray *out, int count)
{
    if (!marovin::settingsRecord() || !out || count < 0 || count > kMaxCount)
        return 0;
    const int address = StringAddressToInt(areaCode, addressText);
    if (address < 0)
        return 0;
    if (count > 0 && static_cast<long long>(address) + count - 1 > INT_MAX)
        return 0;
    station = marovin::effectiveStation(station);

    marovin::Locker lock(PLC_driver.dataMutex);
    int width = 0;
    int values = 0;
    int step = 1;
    if (isLongArea(areaCode)) {
        width = 4;
        values = count / 2;
        step = 2;
    } else if (isWordArea(areaCode)) {
        width = 2;
        values = count;
    } else if (areaCode == 0) {
        width = 1;
        values = count;
    }
    if (out->size() < width * values)
        out->resize(width * values);
    // Written in place: detaches only if the host's array is shared.
    char *dst = values > 0 ? out->data() : nullptr;
    for (int k = 0; k < values; ++k) {
        const int e = ExtendFindSameVar(station, areaCode, address + k * step);
        const QByteArray &data = PLC_driver.extendList.at(e).data;
        if (data.size() >= width)
            std::memcpy(dst + k * width, data.constData(), static_cast<size_t>(width));
        else
            std::memset(dst + k * width, 0, static_cast<size_t>(width));
    }
    return 1;
}

// Puts a host's new value into the cache or queues it for the PLC; the
// write-list count, 1 for a cache-only write, 0 when refused or dropped.
int SetRegisterData(QString hostText, int areaCode, QString addressText, int station, QByteArray *value,
                    int count, int ownerType, int ownerId)
{
    if (!marovin::settingsRecord() || !value || count < 0)
        return 0;
    const int address = StringAddressToInt(areaCode, addressText);
    if (address < 0)
        return 0;

    RW_VAR var;
    var.ownerType = ownerType;
    var.ownerId = ownerId;
    var.accessMode = 1;
    var.remoteFlag = marovin::setting(MarovinSettings::remoteMode);
    var.linkNo = marovin::setting(MarovinSettings::localLinkNo);
    var.hostText = hostText;
    var.addressText = addressText;
    var.areaCode = areaCode;
    var.station = marovin::effectiveStation(station);
    var.remoteArg1 = 0;
    var.remoteArg2 = 0;

    if (marovin::setting(MarovinSettings::writeMode) != 2) {
        var.address = address;
        var.count = count;
        var.data = *value;
        WriteDataToLocal(&var);
        return 1;
    }

    const long long maxUnits = marovin::setting(MarovinSettings::maxUnits);
    if (maxUnits < 1 || count > kMaxCount)
        return 0;
    if (areaCode == 0)
        return registerBits(var, address, count, *value);

    long long units = count;
    long long pieceUnits = maxUnits;
    if (isLongArea(areaCode)) {
        // A piece never splits a 32-bit value; an odd last word is not a value.
        units = 2LL * (count / 2);
        pieceUnits = maxUnits >= 2 ? maxUnits & ~1LL : 2;
    } else if (!isWordArea(areaCode) && marovin::setting(MarovinSettings::remoteMode) == 0) {
        return 0;
    }
    if (units == 0 || static_cast<long long>(address) + units - 1 > INT_MAX)
        return 0;
    if ((isWordArea(areaCode) || isLongArea(areaCode)) && value->size() < 2 * units)
        return 0;
    return registerPieces(var, address, units, pieceUnits, *value);
}

// The host may always go on: writes are queued, never waited for.
int QueryFinishFlag(void)
{
    return 1;
}
