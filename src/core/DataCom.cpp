// Reply processing: checks a reply, stores its data, repeats or gives up, and
// advances the list the answered variable came from.
#include "marovin_core.h"

#include "DriverPrivate.h"
#include "Func_Check.h"
#include "ListRotation.h"
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

// The reply check for a request, after the length tests.
int checkReply(const Protocol &request, const QByteArray &reply, int length)
{
    if (length == 0 && request.replyLength == 0)
        return kNothingExpected;
    return marovin::checkReplyTo(request, reply, length);
}

void storeReply(const Protocol &request, const QByteArray &reply)
{
    marovin::Locker lock(PLC_driver.dataMutex);
    marovin::storeReplyOf(request, reply);
}

// The queue's first request, read without a detach check.
const Protocol &headRequest()
{
    return static_cast<const QList<Protocol> &>(PLC_driver.frameQueue).first();
}

// The outcome of a reply's length tests against the request's reply length
// (-1: any length, 0: none expected); kOk when the reply goes on to the check.
inline int lengthOutcome(int expected, int length, int noReply, int wrongLength)
{
    if (length == 0 && expected != 0)
        return noReply;
    if (length != 0 && length != expected && expected != -1)
        return wrongLength;
    return kOk;
}

// Length tests, reply check and storing for the head request on the local link.
int localOutcome(const Protocol &head, const QByteArray &reply, int length)
{
    const int lengthTest = lengthOutcome(head.replyLength, length, kLocalNoReply, kLocalLength);
    if (lengthTest != kOk)
        return lengthTest;
    switch (checkReply(head, reply, length)) {
    case kData:
        storeReply(head, reply);
        return kOk;
    case kAcknowledged:
    case kNothingExpected:
        return kOk;
    default:
        return kLocalCheck;
    }
}

// The same for a request on another link; its replies are stored only when
// the variable's remoteArg1 is -1.
int remoteOutcome(const Protocol &request, const QByteArray &reply, int length)
{
    const int lengthTest = lengthOutcome(request.replyLength, length, kRemoteNoReply, kRemoteLength);
    if (lengthTest != kOk)
        return lengthTest;
    const int check = checkReply(request, reply, length);
    if (check == kFailed)
        return kRemoteCheck;
    if (request.var.remoteArg1 != -1)
        return kRemoteAccepted;
    if (check == kData) {
        storeReply(request, reply);
        // framesDone is counted up only after this returns: 1 means the second reply.
        return setting(MarovinSettings::framesDone) == 1 ? kRemoteAccepted : kOk;
    }
    return kOk;  // an acknowledged write stores nothing
}

// Fills result from the list's first entry and moves the list on, by phase.
// `retired` is the answered request's record copy, when the driver keeps it.
void advanceList(Marovin &d, bool local, RW_VAR *retired)
{
    switch (d.phase) {
    case marovin::kPhaseWrite:
        if (!d.writeList.isEmpty()) {
            passRetValue(&d.writeList.first(), &d.result);
            d.writeList.removeFirst();
        }
        break;
    case marovin::kPhaseOnceRead:
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
    case marovin::kPhaseCyclicRead:
        if (!d.readList.isEmpty()) {
            marovin::passFields(d.readList.first(), d.result, retired);
            marovin::rotateFirstToEnd(d.readList);
        }
        break;
    default:  // kPhaseNone: nothing scheduled yet
        break;
    }
}

// Keeps the answered request's node, with its frame or as the spare, so that the next
// request needs no heap call; *retired is set to the record when kept as the spare.
inline bool keepAnsweredNode(Marovin &d, RW_VAR **retired)
{
    MarovinPrivate *priv = d.priv;
    if (!priv || d.frameQueue.size() != 1)
        return false;
    if (priv->currentSlot >= 0 && priv->frames.park(priv->currentSlot, d.frameQueue))
        return true;
    if (!priv->spareQueue.isEmpty())
        return false;
    d.frameQueue.swap(priv->spareQueue);
    *retired = &priv->spareQueue.first().var;
    return true;
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
    const Protocol &head = headRequest();
    const bool local = head.var.linkNo == setting(MarovinSettings::localLinkNo);
    const int status = GetDriverReturnValue(local ? localOutcome(head, *reply, length)
                                                  : remoteOutcome(head, *reply, length));

    if (status == 1 || status == 100) {
        marovin::setCommFailed(false);
        // The repeat count belongs to the current request; a success ends it.
        marovin::setSetting(MarovinSettings::retryCount, 0);
        marovin::Locker lock(d.listMutex);
        RW_VAR *retired = nullptr;
        if (!keepAnsweredNode(d, &retired))
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
        advanceList(d, local, retired);
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
    advanceList(d, local, nullptr);
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
    // No reply fails the check just as an empty one does.
    const QByteArray none;
    return GetDriverReturnValue(localOutcome(headRequest(), reply ? *reply : none, length));
}

// The same for a request on another link.
int DealDataOfRemoteArea(QByteArray *reply, int length)
{
    if (PLC_driver.frameQueue.isEmpty())
        return GetDriverReturnValue(-1);
    const QByteArray none;
    return GetDriverReturnValue(remoteOutcome(headRequest(), reply ? *reply : none, length));
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
    const int t = headRequest().var.ownerType;
    return (t >= 1 && t <= 11) ? base + t + 1 : base + 1;
}
