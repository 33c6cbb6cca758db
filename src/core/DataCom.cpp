// Reply processing: checks a reply, stores its data, repeats or gives up, and
// advances the list the answered variable came from.
#include "marovin_core.h"

#include "DriverPrivate.h"
#include "Func_Check.h"
#include "Locker.h"
#include "OnceReadNotice.h"
#include "Settings.h"
#include "data/Func_DealData.h"

namespace {

using marovin::setting;

// Outcome codes, mapped to status codes by GetDriverReturnValue.
enum Outcome {
    kOk = 0,
    kLocalCheck = 1,
    kLocalNoReply = 2,
    kLocalLength = 3,
    kRemoteAccepted = 4,
    kRemoteCheck = 5,
    kRemoteNoReply = 6,
    kRemoteLength = 7
};

// CheckGetData's results, plus one for a request that expects no reply and got none.
enum Check { kFailed = 0, kData = 1, kAcknowledged = 2, kNothingExpected = 3 };

// The reply check for the front request, after the length tests.
int checkReply(QByteArray *reply, int length, int replyLength)
{
    if (length == 0 && replyLength == 0)
        return kNothingExpected;
    return CheckGetData(reply, length);
}

void storeReply(QByteArray *reply)
{
    marovin::Locker lock(PLC_driver.dataMutex);
    SaveToLocalDataErea(reply);
}

// Fills result from the list's first entry and moves the list on, by phase.
void advanceList(Marovin &d, bool local)
{
    switch (d.phase) {
    case 1:
        if (!d.writeList.isEmpty()) {
            passRetValue(&d.writeList.first(), &d.result);
            d.writeList.removeFirst();
        }
        break;
    case 2:
        if (d.onceReadList.isEmpty())
            break;
        if (local) {
            const RW_VAR &first = d.onceReadList.first();
            bool later = false;
            for (int i = 1; i < d.onceReadList.size() && !later; ++i)
                later = d.onceReadList.at(i).ownerType == first.ownerType && d.onceReadList.at(i).ownerId == first.ownerId;
            if (!later)
                marovin::callOnceReadDone(first.ownerType, first.ownerId, marovin::commFailed() ? 2 : 1);
        }
        passRetValue(&d.onceReadList.first(), &d.result);
        d.onceReadList.removeFirst();
        break;
    case 0:
        if (!d.readList.isEmpty()) {
            marovin::passFields(d.readList.first(), d.result);
            if (d.readList.size() <= 64) {
                // Shifts a few pointers: no heap call. Longer lists would
                // make the shift cost grow with the list.
                d.readList.move(0, d.readList.size() - 1);
            } else {
                // Elements live on the heap, so the reference survives the
                // append; no temporary copy is made.
                d.readList.append(d.readList.first());
                d.readList.removeFirst();
            }
        }
        break;
    default:
        break;
    }
}

// Removes the pending once-reads and writes of the given-up station (of every
// station in single-station operation) and tells the once-read requesters.
void dropPendingAfterGiveUp(Marovin &d)
{
    const bool all = setting(MarovinSettings::multiStation) == 0;
    const int station = d.result.station;
    QList<RW_VAR> droppedOnceReads;
    for (int i = 0; i < d.onceReadList.size();) {
        if (all || d.onceReadList.at(i).station == station)
            droppedOnceReads.append(d.onceReadList.takeAt(i));
        else
            ++i;
    }
    for (int i = 0; i < d.writeList.size();) {
        if (all || d.writeList.at(i).station == station)
            d.writeList.removeAt(i);
        else
            ++i;
    }
    marovin::notifyDroppedOnceReads(droppedOnceReads);
}

}  // namespace

RW_VAR *DataCom(QByteArray *reply, int length)
{
    Marovin &d = PLC_driver;
    d.result.status = 1;
    if (d.frameQueue.isEmpty())
        return &d.result;
    if (!marovin::settingsRecord()) {
        d.result.status = 200;
        return &d.result;
    }

    if (!reply) {
        QByteArray none;
        return DataCom(&none, length);
    }
    const bool local = d.frameQueue.first().var.linkNo == setting(MarovinSettings::localLinkNo);
    const int status = local ? DealDataOfLocalArea(reply, length) : DealDataOfRemoteArea(reply, length);

    if (status == 1 || status == 100) {
        marovin::setCommFailed(false);
        // The repeat count belongs to the current request; a success ends it.
        marovin::setSetting(MarovinSettings::retryCount, 0);
        marovin::Locker lock(d.listMutex);
        // The last node is kept for the next request instead of being freed.
        if (d.priv && d.frameQueue.size() == 1 && d.priv->spareQueue.isEmpty())
            d.frameQueue.swap(d.priv->spareQueue);
        else
            d.frameQueue.removeFirst();
        const int done = marovin::addSetting(MarovinSettings::framesDone, 1);
        if (done < setting(MarovinSettings::framesPerVar)) {
            d.result.status = status;
            return &d.result;
        }
        if (local && setting(MarovinSettings::finishFlag) == 0) {
            if (++d.goodReplies > d.readList.size()) {
                d.goodReplies = 0;
                marovin::setSetting(MarovinSettings::finishFlag, 1);
            }
        }
        advanceList(d, local);
        d.result.status = status;
        return &d.result;
    }

    marovin::setCommFailed(true);
    marovin::setSetting(MarovinSettings::finishFlag, 0);
    const int repeats = marovin::addSetting(MarovinSettings::retryCount, 1);
    marovin::Locker lock(d.listMutex);
    d.goodReplies = 0;
    if (repeats <= setting(MarovinSettings::retryLimit)) {
        d.result.status = 0;
        return &d.result;
    }

    // Given up.
    marovin::setSetting(MarovinSettings::retryCount, 0);
    d.frameQueue.clear();
    advanceList(d, local);
    marovin::callOwnerNotify(d.result.ownerType);
    dropPendingAfterGiveUp(d);
    d.result.status = status;
    return &d.result;
}

// Length tests, reply check and storing for a request on the local link.
int DealDataOfLocalArea(QByteArray *reply, int length)
{
    if (PLC_driver.frameQueue.isEmpty())
        return GetDriverReturnValue(-1);
    const int expected = PLC_driver.frameQueue.first().replyLength;
    int outcome;
    if (length == 0 && expected != 0) {
        outcome = kLocalNoReply;
    } else if (length != 0 && length != expected && expected != -1) {
        outcome = kLocalLength;
    } else {
        switch (checkReply(reply, length, expected)) {
        case kData:
            storeReply(reply);
            outcome = kOk;
            break;
        case kAcknowledged:
        case kNothingExpected:
            outcome = kOk;
            break;
        default:
            outcome = kLocalCheck;
            break;
        }
    }
    return GetDriverReturnValue(outcome);
}

// The same for a request on another link; its replies are stored only when
// the variable's remoteArg1 is -1.
int DealDataOfRemoteArea(QByteArray *reply, int length)
{
    if (PLC_driver.frameQueue.isEmpty())
        return GetDriverReturnValue(-1);
    const Protocol &request = PLC_driver.frameQueue.first();
    const int expected = request.replyLength;
    int outcome;
    if (length == 0 && expected != 0) {
        outcome = kRemoteNoReply;
    } else if (length != 0 && length != expected && expected != -1) {
        outcome = kRemoteLength;
    } else {
        const int check = checkReply(reply, length, expected);
        if (check == kFailed) {
            outcome = kRemoteCheck;
        } else if (request.var.remoteArg1 != -1) {
            outcome = kRemoteAccepted;
        } else if (check == kData) {
            storeReply(reply);
            // framesDone is counted up only after this returns: 1 means the second reply.
            outcome = setting(MarovinSettings::framesDone) == 1 ? kRemoteAccepted : kOk;
        } else {
            outcome = kOk;  // an acknowledged write stores nothing
        }
    }
    return GetDriverReturnValue(outcome);
}

// Status code for an outcome.
int GetDriverReturnValue(int outcome)
{
    switch (outcome) {
    case kOk:
        return 1;
    case kRemoteAccepted:
        return 100;
    case kLocalCheck:
        return SwitchErrorReturn(10);
    case kLocalNoReply:
        return SwitchErrorReturn(40);
    case kLocalLength:
        return SwitchErrorReturn(70);
    case kRemoteCheck:
        return SwitchErrorReturn(110);
    case kRemoteNoReply:
        return SwitchErrorReturn(140);
    case kRemoteLength:
        return SwitchErrorReturn(170);
    default:
        return 200;
    }
}

// An error base plus the offset chosen by the front request's ownerType.
int SwitchErrorReturn(int base)
{
    if (PLC_driver.frameQueue.isEmpty())
        return base + 1;
    const int t = PLC_driver.frameQueue.first().var.ownerType;
    return (t >= 1 && t <= 11) ? base + t + 1 : base + 1;
}
