// The host contract: ComCommunication and DataCom alternate on this thread;
// null means an idle turn; a frame goes out, the reply (or nothing) goes back
// to DataCom. A link failure skips DataCom, so the same frame is sent again
// once the link is back.
#include "ExchangeLoop.h"

#include "Areas.h"
#include "Callbacks.h"
#include "Clock.h"
#include "StatusCode.h"
#include "StopSignals.h"
#include "ValueCodec.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace marovin_host {

namespace {

const long long kIdleSleepMs = 2;
const long long kDownPollMs = 50;

// What the host keeps of a request before DataCom may free it.
struct PendingRequest {
    int ownerType = 0;
    int ownerId = 0;
    int accessMode = 0;
    int station = 0;
    int area = 0;
    int address = 0;
    int replyLength = 0;
};

class Loop {
public:
    explicit Loop(LoopContext &c) : c_(c) {}
    // Exchanges until a stop condition holds; says which one.
    LoopEnd run();

private:
    bool exchange(Protocol *request);
    void drainLateReplies(marovin_port::Port &port, const HostOptions &o);
    // Counts the outcome and brings rows, writes and once-reads up to date.
    void afterDataCom(const PendingRequest &request, int status, bool finished);
    void handleCallbackEvents();
    void dropPendingOfStation(int station);
    void observeFinishFlag();
    // Fetches the values and redraws the table and the CSV line.
    void refresh(long long nowMs);
    // Marks the link down after a failed write or read.
    void linkLost(const std::string &why);
    // True when there is no cyclic variable and every write and once-read has ended.
    bool nothingLeft() const;
    // A time-stamped notice line above the table.
    void notice(const std::string &text);
    // The once-read's values as ADDR=VALUE texts.
    std::string onceReadValues(const OnceReadItem &item);
    std::string repeatReason(const PendingRequest &request, std::size_t received) const;

    LoopContext &c_;
    bool lastWasRepeat_ = false;
    long long lastExchangeEndMs_ = 0;
    // Reply buffers kept from one exchange to the next, so that an exchange
    // makes no heap call once they have grown.
    std::vector<std::uint8_t> reply_;
    QByteArray replyBytes_;
    // The last reply failed: answers to it may still be on their way.
    bool lineSuspect_ = false;
};

// STATION:AREA:ADDR of a value, as the table shows it.
std::string describeRef(const ValueRef &r)
{
    return std::to_string(r.station) + ":" + areaName(r.area) + ":" + addressLabel(r.area, r.address);
}

}  // namespace

const char *loopEndText(LoopEnd end)
{
    switch (end) {
    case LoopEnd::Cycles:
        return "cycles reached";
    case LoopEnd::Duration:
        return "duration reached";
    case LoopEnd::Signal:
        return "signal";
    case LoopEnd::NothingLeft:
        return "nothing left to do";
    case LoopEnd::LinkLost:
        return "link lost and not recovered";
    case LoopEnd::SimulatorExited:
        return "simulator exited";
    }
    return "?";
}

void fetchValues(const DriverApi &api, std::vector<ValueRow> *rows)
{
    for (ValueRow &row : *rows) {
        QByteArray out;
        if (api.getRegisterData(QString(), row.ref.area, addressText(row.ref.area, row.ref.address), row.ref.station,
                                &out, wordsPerValue(row.ref.area)))
            row.bytes = out;
    }
}

std::string tableHeader(const LoopContext &c, long long nowMs)
{
    const double elapsed = (nowMs - c.stats.startMs) / 1000.0;
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%s | link %s | %lld exchanges, %.0f/s | cycles %lld | %.1f s",
                  c.portText.c_str(), linkStateName(c.link.state()), c.stats.exchanges,
                  elapsed > 0 ? c.stats.exchanges / elapsed : 0.0, c.stats.cycles, elapsed);
    return buffer;
}

LoopEnd runExchangeLoop(LoopContext &context)
{
    Loop loop(context);
    return loop.run();
}

namespace {

LoopEnd Loop::run()
{
    RunStats &s = c_.stats;
    const HostOptions &o = c_.options;
    s.startMs = monotonicMs();
    long long nextRefreshMs = s.startMs;
    LoopEnd end;
    for (;;) {
        const long long now = monotonicMs();
        if (stopRequested()) {
            end = LoopEnd::Signal;
            break;
        }
        if (o.durationS > 0 && now - s.startMs >= static_cast<long long>(o.durationS * 1000)) {
            end = LoopEnd::Duration;
            break;
        }
        if (o.cycles > 0 && s.cycles >= o.cycles) {
            end = LoopEnd::Cycles;
            break;
        }
        if (nothingLeft()) {
            end = LoopEnd::NothingLeft;
            break;
        }
        if (now >= nextRefreshMs) {
            refresh(now);
            nextRefreshMs = std::max(nextRefreshMs + o.refreshMs, now + 1);
        }

        if (c_.link.state() != LinkState::Up) {
            if (c_.simulator && !c_.simulator->running()) {
                end = LoopEnd::SimulatorExited;
                break;
            }
            if (now - c_.link.downSinceMs() >= static_cast<long long>(o.linkTimeoutS * 1000)) {
                end = LoopEnd::LinkLost;
                break;
            }
            if (c_.link.msUntilNextTry(now) == 0) {
                if (c_.link.tryReopen(now)) {
                    c_.trace.event("LINK up");
                    notice("link up again: " + c_.link.port().describe());
                } else {
                    c_.trace.event("LINK reconnecting (next try in " + std::to_string(c_.link.currentBackoffMs()) +
                                   " ms)");
                }
            }
            sleepMs(std::min(kDownPollMs, std::max(1LL, c_.link.msUntilNextTry(monotonicMs()))));
            continue;
        }

        setCallSite(CallSite::ComCommunication);
        Protocol *request = c_.api.comCommunication();
        setCallSite(CallSite::Other);
        handleCallbackEvents();
        if (!request) {
            ++s.idleTurns;
            observeFinishFlag();
            sleepMs(kIdleSleepMs);
            continue;
        }
        exchange(request);
    }
    s.endMs = monotonicMs();
    refresh(s.endMs);
    return end;
}

// One request out, its reply back to DataCom; false when the link failed.
bool Loop::exchange(Protocol *request)
{
    RunStats &s = c_.stats;
    const HostOptions &o = c_.options;
    marovin_port::Port &port = c_.link.port();

    PendingRequest pending;
    pending.ownerType = request->var.ownerType;
    pending.ownerId = request->var.ownerId;
    pending.accessMode = request->var.accessMode;
    pending.station = request->var.station;
    pending.area = request->var.areaCode;
    pending.address = request->var.address;
    pending.replyLength = request->replyLength;
    const QByteArray frame = request->frame;
    const int length = std::max(0, std::min(request->requestLength, static_cast<int>(frame.size())));

    if (o.turnaroundMs > 0 && lastExchangeEndMs_ > 0)
        sleepMs(lastExchangeEndMs_ + o.turnaroundMs - monotonicMs());

    if (lineSuspect_)
        drainLateReplies(port, o);
    port.flushInput();
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(frame.constData());
    if (!port.write(bytes, static_cast<std::size_t>(length))) {
        linkLost("write failed");
        return false;
    }
    s.bytesOut += length;
    c_.trace.sent(bytes, static_cast<std::size_t>(length));
    if (pending.accessMode == 1 && !lastWasRepeat_)
        ++s.writesSent;

    std::vector<std::uint8_t> &reply = reply_;
    reply.clear();
    if (pending.replyLength != 0) {
        const int wanted = pending.replyLength > 0 ? pending.replyLength : -1;
        if (!port.read(reply, wanted, o.timeoutMs, o.interByteMs)) {
            linkLost("read failed");
            return false;
        }
    }
    s.bytesIn += static_cast<long long>(reply.size());

    QByteArray &replyBytes = replyBytes_;
    replyBytes.resize(static_cast<int>(reply.size()));
    if (!reply.empty())
        std::memcpy(replyBytes.data(), reply.data(), reply.size());
    setCallSite(CallSite::DataCom);
    const RW_VAR *result = c_.api.dataCom(&replyBytes, replyBytes.size());
    setCallSite(CallSite::Other);
    const int status = result ? result->status : 200;
    ++s.exchanges;
    lastExchangeEndMs_ = monotonicMs();

    const bool finished = isError(status) || (isSuccess(status) && c_.settings[MarovinSettings::framesDone] >=
                                                                        c_.settings[MarovinSettings::framesPerVar]);
    std::string note;
    if (status == 0)
        note = "repeat: " + repeatReason(pending, reply.size());
    else if (isError(status))
        note = describeStatus(status) + ", given up";
    c_.trace.received(reply, status, note);
    lineSuspect_ = !isSuccess(status);
    afterDataCom(pending, status, finished);
    return true;
}

// After a failed reply the device may still answer the request (or its
// repeats, queued while it was busy); such an answer would pass for the reply
// to the next request. Waits until the line has been quiet for a whole reply
// timeout, dropping what comes, at most ten timeouts long.
void Loop::drainLateReplies(marovin_port::Port &port, const HostOptions &o)
{
    const long long deadline = monotonicMs() + 10LL * std::max(o.timeoutMs, 1);
    std::vector<std::uint8_t> late;
    while (monotonicMs() < deadline) {
        if (!port.read(late, -1, o.timeoutMs, o.interByteMs) || late.empty())
            break;
        c_.trace.event("late reply dropped: " + std::to_string(late.size()) + " bytes");
    }
}

// The likely reason of a failed reply, for the trace of a repeat.
std::string Loop::repeatReason(const PendingRequest &request, std::size_t received) const
{
    if (received == 0)
        return "no reply";
    if (request.replyLength > 0 && static_cast<int>(received) != request.replyLength)
        return "wrong length";
    return "check failed";
}

void Loop::afterDataCom(const PendingRequest &request, int status, bool finished)
{
    RunStats &s = c_.stats;
    lastWasRepeat_ = status == 0;
    if (status == 0) {
        ++s.repeats;
    } else if (isError(status)) {
        ++s.failuresByCode[status];
        ++s.giveUps;
    }

    if (request.ownerType == kOwnerCyclic && request.accessMode != 1) {
        for (ValueRow &row : c_.rows) {
            const bool same = row.ref.station == request.station && row.ref.area == request.area &&
                              (request.area == kBits || row.ref.address == request.address);
            if (!same)
                continue;
            row.lastStatus = status;
            if (finished && isSuccess(status)) {
                ++row.reads;
                ++s.valuesRead;
            }
        }
    } else if (request.ownerType == kOwnerOnceRead && finished && isSuccess(status)) {
        ++s.valuesRead;
    } else if (request.ownerType == kOwnerWrite && request.accessMode == 1 && finished) {
        for (WriteItem &w : c_.writes) {
            if (w.ownerId != request.ownerId || w.state != WriteItem::Pending)
                continue;
            if (isSuccess(status)) {
                w.state = WriteItem::Acknowledged;
                ++s.writesAcknowledged;
            } else {
                w.state = WriteItem::Failed;
                ++s.writesFailed;
                notice("write " + describeRef(w.ref) + "=" + w.valueText + " failed: status " +
                       std::to_string(status) + " (" + describeStatus(status) + ")");
            }
        }
    }

    handleCallbackEvents();
    if (isError(status))
        dropPendingOfStation(request.station);
    observeFinishFlag();
}

// Acts on what the callbacks recorded during the last driver call.
void Loop::handleCallbackEvents()
{
    RunStats &s = c_.stats;
    for (const CallbackEvent &e : takeCallbackEvents()) {
        if (e.kind == CallbackEvent::OwnerNotify) {
            if (e.site == CallSite::DataCom) {
                ++s.giveUpNotices;
                c_.trace.event("NOTIFY given up, ownerType " + std::to_string(e.ownerType));
            } else {
                ++s.writeNotices;
            }
            continue;
        }
        c_.trace.event("ONCE-READ ownerType " + std::to_string(e.ownerType) + " ownerId " +
                       std::to_string(e.ownerId) + (e.outcome == 1 ? " done" : " given up"));
        if (e.ownerType != kOwnerOnceRead)
            continue;
        for (OnceReadItem &item : c_.onceReads) {
            if (item.ownerId != e.ownerId || item.state != OnceReadItem::Pending)
                continue;
            if (e.outcome == 1) {
                item.state = OnceReadItem::Done;
                ++s.onceReadsDone;
                notice("once-read " + item.arg.source + " done: " + onceReadValues(item));
            } else {
                item.state = OnceReadItem::Failed;
                ++s.onceReadsFailed;
                notice("once-read " + item.arg.source + " given up");
            }
        }
    }
}

// A give-up drops the station's pending once-reads and writes (all of them in
// single-station operation); those the callbacks did not report end here.
void Loop::dropPendingOfStation(int station)
{
    RunStats &s = c_.stats;
    const bool all = !c_.options.multiStation;
    for (OnceReadItem &item : c_.onceReads) {
        if (item.state == OnceReadItem::Pending && (all || item.first.station == station)) {
            item.state = OnceReadItem::Failed;
            ++s.onceReadsFailed;
            notice("once-read " + item.arg.source + " dropped: station " + std::to_string(station) + " given up");
        }
    }
    for (WriteItem &w : c_.writes) {
        if (w.state == WriteItem::Pending && (all || w.ref.station == station)) {
            w.state = WriteItem::Failed;
            ++s.writesFailed;
            notice("write " + describeRef(w.ref) + "=" + w.valueText + " dropped: station " +
                   std::to_string(station) + " given up");
        }
    }
}

// A rise of finishFlag, or an idle turn, completes one read cycle; the host
// lowers the flag again so that the next cycle can raise it.
void Loop::observeFinishFlag()
{
    if (c_.settings[MarovinSettings::finishFlag] == 1) {
        ++c_.stats.cycles;
        c_.settings[MarovinSettings::finishFlag] = 0;
    }
}

void Loop::refresh(long long nowMs)
{
    c_.trace.flush();
    fetchValues(c_.api, &c_.rows);
    c_.table.render(tableHeader(c_, nowMs), c_.rows);
    c_.csv.append((nowMs - c_.stats.startMs) / 1000.0, c_.rows);
}

void Loop::linkLost(const std::string &why)
{
    c_.link.lost(monotonicMs());
    c_.trace.event("LINK down: " + why);
    notice("link down (" + why + "): " + c_.link.port().describe() + "; reconnecting");
}

bool Loop::nothingLeft() const
{
    if (!c_.rows.empty())
        return false;
    for (const OnceReadItem &item : c_.onceReads) {
        if (item.state == OnceReadItem::Pending)
            return false;
    }
    for (const WriteItem &w : c_.writes) {
        if (w.state == WriteItem::Pending)
            return false;
    }
    return true;
}

void Loop::notice(const std::string &text)
{
    c_.table.notice(wallClockText() + " " + text);
}

std::string Loop::onceReadValues(const OnceReadItem &item)
{
    std::string text;
    for (int k = 0; k < item.arg.count; ++k) {
        ValueRow row;
        row.ref = item.first;
        row.ref.address = item.first.address + k * addressStep(item.first.area);
        QByteArray out;
        c_.api.getRegisterData(QString(), row.ref.area, addressText(row.ref.area, row.ref.address), row.ref.station,
                               &out, wordsPerValue(row.ref.area));
        const ShownValue shown = showValue(row.ref.area, out);
        text += (k ? ", " : "") + addressLabel(row.ref.area, row.ref.address) + "=" + shown.value;
        if (!shown.hex.empty())
            text += " (" + shown.hex + ")";
    }
    return text;
}

}  // namespace

}  // namespace marovin_host
