// Registration of variables into the three lists.
#include "Func_Initi.h"

#include "core/Locker.h"
#include "core/Settings.h"

#include <climits>

namespace {

const int kListLimit = 1024;

// True when a waiting write targets the same PLC variable as `v`.
bool sameWriteTarget(const RW_VAR &e, const RW_VAR &v)
{
    return e.station == v.station && e.areaCode == v.areaCode && e.address == v.address
        && e.count == v.count;
}

// True when a pending once-read is the same request by the same requester.
bool sameOnceRead(const RW_VAR &e, const RW_VAR &v)
{
    return e.ownerType == v.ownerType && e.ownerId == v.ownerId && e.station == v.station
        && e.areaCode == v.areaCode && e.address == v.address && e.count == v.count;
}

// Unit of one once-read request for an area; maxUnits where the area has no fixed width.
int onceReadUnit(int areaCode)
{
    switch (areaCode) {
    case 1:
    case 3:
        return 1;
    case 2:
    case 4:
    case 5:
        return 2;
    default:
        return marovin::setting(MarovinSettings::maxUnits);
    }
}

// A copy of `var` that shares no string or byte storage with the caller's
// record. The host may drop its record on another thread at any moment; with
// nothing shared, the driver's entries are freed only by the driver itself,
// under its locks, which is also what ThreadSanitizer can follow (QtCore's
// reference counting is invisible to it). Make it while holding listMutex so
// that the temporary also dies under the lock.
RW_VAR ownedCopy(const RW_VAR &var)
{
    RW_VAR copy = var;
    copy.hostText = var.hostText.isNull() ? QString() : QString(var.hostText.unicode(), var.hostText.size());
    copy.addressText =
        var.addressText.isNull() ? QString() : QString(var.addressText.unicode(), var.addressText.size());
    copy.data = var.data.isNull() ? QByteArray() : QByteArray(var.data.constData(), var.data.size());
    return copy;
}

}  // namespace

int AddListReadVar(RW_VAR *var)
{
    if (!var)
        return 0;
    PLC_driver.readList.append(ownedCopy(*var));
    return PLC_driver.readList.size();
}

namespace marovin {

int registerWrite(RW_VAR *var, int mode, bool *accepted)
{
    if (accepted)
        *accepted = false;
    if (!var)
        return 0;
    QList<RW_VAR> &list = PLC_driver.writeList;
    bool taken = true;
    Locker lock(PLC_driver.listMutex);
    if (mode == 1 || list.size() < 2) {
        list.append(ownedCopy(*var));
    } else {
        // Entry 0 is being sent; a new value for it queues behind it.
        int match = -1;
        for (int i = 1; i < list.size(); ++i) {
            if (sameWriteTarget(list.at(i), *var)) {
                match = i;
                break;
            }
        }
        if (match >= 0)
            list[match] = ownedCopy(*var);
        else if (list.size() < kListLimit)
            list.append(ownedCopy(*var));
        else
            taken = false;
    }
    const int size = list.size();
    lock.unlock();
    if (accepted)
        *accepted = taken;
    return size;
}

}  // namespace marovin

int AddListWriteVar(RW_VAR *var, int mode)
{
    return marovin::registerWrite(var, mode, nullptr);
}

int AddListOnceReadVar(RW_VAR *var, int mode)
{
    if (!var || !marovin::settingsRecord())
        return 0;
    QList<RW_VAR> &list = PLC_driver.onceReadList;
    if (mode == 1) {
        marovin::Locker lock(PLC_driver.listMutex);
        list.append(ownedCopy(*var));
        return list.size();
    }

    const int parsed = StringAddressToInt(var->areaCode, var->addressText);
    if (parsed < 0)
        return 0;
    const int unit = onceReadUnit(var->areaCode);
    if (unit < 1)
        return 0;

    var->remoteArg1 = 0;
    var->remoteArg2 = 0;
    if (marovin::setting(MarovinSettings::multiStation) == 0)
        var->station = marovin::setting(MarovinSettings::defaultStation);
    const bool fixedWidth = var->areaCode >= 1 && var->areaCode <= 5;
    if (fixedWidth)
        var->address = parsed;
    const long long start = var->address;

    const int total = var->count;
    const int rest = total % unit;
    const int pieces = total / unit + (rest != 0 ? 1 : 0);

    marovin::Locker lock(PLC_driver.listMutex);
    for (int i = 0; i < pieces; ++i) {
        // Nothing more can be appended to a full list.
        if (list.size() >= kListLimit)
            break;
        const long long pieceStart = start + static_cast<long long>(i) * unit;
        if (pieceStart > INT_MAX)
            break;
        var->address = static_cast<int>(pieceStart);
        var->count = (i == pieces - 1 && rest != 0) ? rest : unit;
        bool duplicate = false;
        for (int j = 0; j < list.size(); ++j) {
            if (sameOnceRead(list.at(j), *var)) {
                duplicate = true;
                break;
            }
        }
        if (!duplicate)
            list.append(ownedCopy(*var));
    }
    return list.size();
}
