// What an outcome other than a good cyclic read changes: the counters, the
// write waiting for it, once-reads, and what a give-up drops.
#include "loop/Loop.h"

#include "driver/Callbacks.h"
#include "model/Areas.h"
#include "model/Status.h"
#include "model/ValueText.h"

namespace marovin_host {

void Loop::afterOtherOutcome(const DriverRequest &request, const DriverReply &reply)
{
    RunStats &s = run_.stats;
    const int status = reply.status;
    if (status == 0) {
        ++s.repeats;
    } else if (isError(status)) {
        ++s.failuresByCode[status];
        ++s.giveUps;
    }
    if (request.ownerType == kOwnerOnceRead && reply.finished && isSuccess(status))
        ++s.valuesRead;
    else if (request.ownerType == kOwnerWrite && request.accessMode == 1 && reply.finished)
        writes_.finished(request.ownerId, status);
    if (callbackEventsPending())
        handleCallbackEvents();
    if (isError(status))
        dropPendingOfStation(request.station);
}

// Acts on what the callbacks recorded during the last driver call.
void Loop::handleCallbackEvents()
{
    RunStats &s = run_.stats;
    for (const CallbackEvent &e : takeCallbackEvents()) {
        if (e.kind == CallbackEvent::OwnerNotify) {
            if (e.site == CallSite::DataCom) {
                ++s.giveUpNotices;
                outputs_.traceEvent("NOTIFY given up, ownerType " + std::to_string(e.ownerType));
            } else {
                ++s.writeNotices;
            }
            continue;
        }
        outputs_.traceEvent("ONCE-READ ownerType " + std::to_string(e.ownerType) + " ownerId " +
                            std::to_string(e.ownerId) + (e.outcome == 1 ? " done" : " given up"));
        if (e.ownerType == kOwnerOnceRead)
            onceReadEnded(e.ownerId, e.outcome == 1);
    }
}

void Loop::onceReadEnded(int ownerId, bool done)
{
    RunStats &s = run_.stats;
    for (OnceRead &item : run_.onceReads) {
        if (item.ownerId != ownerId || item.state != OnceRead::Pending)
            continue;
        if (done) {
            item.state = OnceRead::Done;
            ++s.onceReadsDone;
            notice(Notice::OnceRead, "once-read " + item.entry.source + " done: " + onceReadValues(item));
        } else {
            item.state = OnceRead::Failed;
            ++s.onceReadsFailed;
            notice(Notice::GiveUp, "once-read " + item.entry.source + " given up");
        }
    }
}

// A give-up drops the station's pending once-reads and writes (all of them in
// single-station operation); those the callbacks did not report end here.
void Loop::dropPendingOfStation(int station)
{
    RunStats &s = run_.stats;
    const bool all = !settings_.multiStation;
    for (OnceRead &item : run_.onceReads) {
        if (item.state == OnceRead::Pending && (all || item.first.station == station)) {
            item.state = OnceRead::Failed;
            ++s.onceReadsFailed;
            notice(Notice::GiveUp,
                   "once-read " + item.entry.source + " dropped: station " + std::to_string(station) + " given up");
        }
    }
    writes_.dropStation(station, all);
}

std::string Loop::onceReadValues(OnceRead &item)
{
    std::string text;
    item.values.assign(static_cast<std::size_t>(item.entry.count), TagValue());
    for (int k = 0; k < item.entry.count; ++k) {
        const ValueRef ref = item.at(k);
        TagValue &value = item.values[static_cast<std::size_t>(k)];
        driver_.fetch(ref, TagInfo(), &value);
        text += (k ? ", " : "") + addressLabel(ref.area, ref.address) + "=" + shownValue(ref.area, TagInfo(), value);
        const std::string hex = hexText(ref.area, value);
        if (!hex.empty())
            text += " (" + hex + ")";
    }
    return text;
}

void Loop::refetchOnceReads()
{
    for (OnceRead &item : run_.onceReads) {
        if (item.state != OnceRead::Done)
            continue;
        for (int k = 0; k < item.entry.count; ++k)
            driver_.fetch(item.at(k), TagInfo(), &item.values[static_cast<std::size_t>(k)]);
    }
}

void Loop::traceReply(const DriverRequest &request, int status, int received)
{
    std::string note;
    if (status == 0)
        note = "repeat: " + repeatReason(request, received);
    else if (isError(status))
        note = describeStatus(status) + ", given up";
    outputs_.frameReceived(replyCopy_.data(), replyCopy_.size(), status, note);
}

// The likely reason of a failed reply, for the trace of a repeat.
std::string Loop::repeatReason(const DriverRequest &request, int received) const
{
    if (received == 0)
        return "no reply";
    if (request.replyLength > 0 && received != request.replyLength)
        return "wrong length";
    return "check failed";
}

}  // namespace marovin_host
