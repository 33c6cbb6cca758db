#include "OnceReadNotice.h"

#include "Settings.h"

namespace marovin {

void callOnceReadDone(int ownerType, int ownerId, int outcome)
{
    if (PLC_driver.onceReadDone)
        PLC_driver.onceReadDone(setting(MarovinSettings::notifyContext), ownerType, ownerId, outcome);
}

void callOwnerNotify(int ownerType)
{
    if (PLC_driver.ownerNotify) {
        QList<RW_VAR> list;
        PLC_driver.ownerNotify(&list, ownerType, 1);
    }
}

namespace {
bool pendingFor(const QList<RW_VAR> &list, int ownerType, int ownerId)
{
    for (const RW_VAR &v : list)
        if (v.ownerType == ownerType && v.ownerId == ownerId)
            return true;
    return false;
}
}  // namespace

void notifyDroppedOnceReads(const QList<RW_VAR> &dropped)
{
    const int localLink = setting(MarovinSettings::localLinkNo);
    QList<RW_VAR> told;
    for (const RW_VAR &v : dropped) {
        if (v.linkNo != localLink)
            continue;  // remote-link once-reads are never answered with a notice
        if (pendingFor(PLC_driver.onceReadList, v.ownerType, v.ownerId) || pendingFor(told, v.ownerType, v.ownerId))
            continue;
        told.append(v);
        callOnceReadDone(v.ownerType, v.ownerId, 2);
    }
}

}  // namespace marovin
