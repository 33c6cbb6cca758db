// The request scheduler: hands the host the next frame to send.
#include "marovin_core.h"

#include "DriverPrivate.h"
#include "ListRotation.h"
#include "Locker.h"
#include "OnceReadNotice.h"
#include "Settings.h"
#include "frames/Func_Read.h"
#include "frames/Func_Remote.h"
#include "frames/Func_Write.h"

namespace {

const int kBurstLimit = 4;  // a burst counter at most this may take one more turn

// Queues the requests of the first pending write; drops an entry that can
// never be sent, so the writes behind it are not blocked for good.
__attribute__((noinline)) void scheduleWrite(Marovin &d, bool remote)
{
    d.phase = marovin::kPhaseWrite;
    RW_VAR *var = &d.writeList.first();
    if (remote)
        Remote_WriteVar(var);
    else
        WriteRegister(var);  // has told the host through ownerNotify
    ++d.writeBurst;
    if (d.frameQueue.isEmpty())
        d.writeList.removeFirst();
}

// Queues the requests of the first pending once-read; one that cannot be
// built is dropped and its requester told that it failed.
__attribute__((noinline)) void scheduleOnceRead(Marovin &d, bool remote)
{
    d.phase = marovin::kPhaseOnceRead;
    RW_VAR *var = &d.onceReadList.first();
    if (remote)
        Remote_ReadVar(var);
    else
        ReadRegister(var);
    ++d.onceBurst;
    if (d.frameQueue.isEmpty()) {
        const RW_VAR dropped = d.onceReadList.takeFirst();
        marovin::notifyDroppedOnceReads(QList<RW_VAR>() << dropped);
    }
}

// Queues the requests of the next cyclic read.
void scheduleCyclicRead(Marovin &d, bool remote)
{
    d.phase = marovin::kPhaseCyclicRead;
    RW_VAR *var = &d.readList.first();
    if (remote)
        Remote_ReadVar(var);
    else
        ReadRegister(var);
    d.writeBurst = 0;
    d.onceBurst = 0;
    if (d.frameQueue.isEmpty())
        marovin::rotateFirstToEnd(d.readList);
}

}  // namespace

Protocol *ComCommunication(void)
{
    Marovin &d = PLC_driver;
    if (!marovin::settingsRecord())
        return nullptr;

    marovin::Locker lock(d.listMutex);
    if (d.frameQueue.isEmpty()) {
        const bool remote = marovin::setting(MarovinSettings::remoteMode) != 0;
        if (!d.writeList.isEmpty() && d.writeBurst <= kBurstLimit) {
            scheduleWrite(d, remote);
        } else if (!d.onceReadList.isEmpty() && d.onceBurst <= kBurstLimit) {
            scheduleOnceRead(d, remote);
        } else if (!d.readList.isEmpty()) {
            scheduleCyclicRead(d, remote);
        } else {
            d.writeBurst = 0;
            d.onceBurst = 0;
            marovin::setSetting(MarovinSettings::finishFlag, 1);
            return nullptr;
        }
    }
    // Queue elements live on the heap, so the pointer stays valid after the
    // unlock until DataCom removes the record.
    return d.frameQueue.isEmpty() ? nullptr : &d.frameQueue.first();
}
