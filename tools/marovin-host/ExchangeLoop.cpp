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
#include <limits>
#include <utility>

namespace marovin_host {

namespace {

const long long kIdleSleepMs = 2;
// Says a line is noisy at most this often.
const long long kNoisyNoticeMs = 5000;
const long long kDownPollMs = 50;
// Exchanges between two looks at the simulator's pipes: a simulator tracing a
// few lines per exchange fills far less than a pipe meanwhile.
const int kPumpEvery = 32;

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

// A variable as the rows are looked up by; the bit area has one per station.
struct RowKey {
    int station;
    int area;
    int address;  // 0 for the bit area
    bool operator<(const RowKey &other) const
    {
        if (station != other.station)
            return station < other.station;
        if (area != other.area)
            return area < other.area;
        return address < other.address;
    }
    bool operator==(const RowKey &other) const
    {
        return station == other.station && area == other.area && address == other.address;
    }
};

// The rows of one key: runRows_[first, first + count).
struct RowRun {
    RowKey key;
    std::uint32_t first;
    std::uint32_t count;
    RowRun *next;  // the run looked up after this one last time
};

// The key under which a variable's rows are found.
RowKey rowKey(int station, int area, int address)
{
    return RowKey{station, area, area == kBits ? 0 : address};
}

class Loop {
public:
    explicit Loop(LoopContext &c) : c_(c) {}
    // Exchanges until a stop condition holds; says which one.
    LoopEnd run();

private:
    // Inlined into run(): a call and its register saves per exchange are a
    // measurable share of the host's work.
    [[gnu::always_inline]] inline bool exchange(Protocol *request);
    // Sorts the row indices by variable, once: rows do not change during the loop.
    void indexRows();
    // Lets the simulator's output out of its pipes, if the host started it.
    void pumpSimulator();
    void prepareLine(marovin_port::Port &port);
    void afterUnusualExchange(bool success, bool complete, bool unusual);
    void drainLateReplies(marovin_port::Port &port, const HostOptions &o, int quietMs);
    // Counts input dropped as no reply and says, now and then, that the line is noisy.
    void countDropped(std::size_t bytes);
    // Counts the outcome and brings rows, writes and once-reads up to date.
    void afterDataCom(const PendingRequest &request, int status, bool finished);
    // Sets the status of the variable's rows; counts a finished good read when counted.
    void updateRows(const PendingRequest &request, int status, bool counted);
    // afterDataCom for all but a good cyclic read: counters, writes, once-reads, callbacks.
    void afterOtherOutcome(const PendingRequest &request, int status, bool finished);
    void handleCallbackEvents();
    void dropPendingOfStation(int station);
    void observeFinishFlag();
    // Fetches the values and hands them to the outputs.
    void refresh(long long nowMs);
    RunView view(long long nowMs) const;
    // Marks the link down after a failed write or read.
    void linkLost(const std::string &why);
    // True when there is no cyclic variable and every write and once-read has ended.
    bool nothingLeft() const;
    void notice(Notice::Kind kind, const std::string &text);
    // Whether the run must end now: a stop signal or the end of --duration.
    bool stopDue() const { return stopRequested() || monotonicMs() >= endMs_; }
    // The once-read's values as ADDR=VALUE texts.
    std::string onceReadValues(const OnceReadItem &item);
    std::string repeatReason(const PendingRequest &request, std::size_t received) const;

    LoopContext &c_;
    long long endMs_ = 0;
    long long turnMs_ = 0;  // the clock at the start of this loop turn
    long long droppedNoticedMs_ = 0;   // when the line was last called noisy
    long long droppedNoticed_ = 0;     // stats.bytesDropped then
    bool lastWasRepeat_ = false;
    long long lastExchangeEndUs_ = 0;
    // Reply buffers kept from one exchange to the next, so that an exchange
    // makes no heap call once they have grown; reply_ takes replies of unknown
    // length, and every reply for the trace.
    std::vector<std::uint8_t> reply_;
    QByteArray replyBytes_;
    // The last reply failed: answers to it may still be on their way.
    bool lineSuspect_ = false;
    // It had the expected length: at most the tail of a longer, garbled answer can follow.
    bool lastComplete_ = false;
    // Input may be waiting that is no reply to the next request: after a
    // failed exchange, one that expected no reply, or a (re)opened link.
    bool flushBeforeNext_ = true;
    // Fixed for the run, kept here so that each exchange tests a bool.
    bool tracing_ = false;
    bool turnaround_ = false;
    // The next exchange has to wait or clear the line first (prepareLine);
    // one flag, so that an ordinary exchange tests one bool.
    bool prepareNext_ = true;
    // The rows by key, sorted; the driver reads its list in a fixed order, so
    // the run after the last one looked up is nearly always the next asked for.
    std::vector<RowRun> rowRuns_;
    std::vector<ValueRow *> runRows_;
    RowRun *lastRun_ = nullptr;
    RowRun *expectedRun_ = nullptr;  // null without rows
};

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
    indexRows();
    tracing_ = c_.outputs.wantsFrames();
    turnaround_ = o.turnaroundMs > 0;
    const bool noRows = c_.rows.empty();
    const long long durationMs = static_cast<long long>(o.durationS * 1000);
    const long long cycleLimit = o.cycles > 0 ? o.cycles : std::numeric_limits<long long>::max();
    s.startMs = monotonicMs();
    const long long endMs = durationMs > 0 ? s.startMs + durationMs : std::numeric_limits<long long>::max();
    endMs_ = endMs;
    long long nextRefreshMs = s.startMs;
    LoopEnd end;
    for (;;) {
        const long long now = monotonicMs();
        turnMs_ = now;
        if (stopRequested()) {
            end = LoopEnd::Signal;
            break;
        }
        if (now >= endMs) {
            end = LoopEnd::Duration;
            break;
        }
        if (s.cycles >= cycleLimit) {
            end = LoopEnd::Cycles;
            break;
        }
        if (noRows && nothingLeft()) {
            end = LoopEnd::NothingLeft;
            break;
        }
        if (now >= nextRefreshMs) {
            refresh(now);
            pumpSimulator();
            nextRefreshMs = std::max(nextRefreshMs + o.refreshMs, now + 1);
        }

        if (c_.link.state() != LinkState::Up) {
            pumpSimulator();
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
                    flushBeforeNext_ = true;
                    prepareNext_ = true;
                    c_.outputs.traceEvent("LINK up");
                    notice(Notice::LinkUp, "link up again: " + c_.link.port().describe());
                    c_.outputs.linkChanged(view(now));
                } else {
                    c_.outputs.traceEvent("LINK reconnecting (next try in " +
                                          std::to_string(c_.link.currentBackoffMs()) + " ms)");
                }
            }
            sleepMs(std::min(kDownPollMs, std::max(1LL, c_.link.msUntilNextTry(monotonicMs()))));
            continue;
        }

        if (c_.writes.due())
            c_.writes.take();
        setCallSite(CallSite::ComCommunication);
        Protocol *request = c_.api.comCommunication();
        if (callbackEventsPending())
            handleCallbackEvents();
        if (!request) {
            ++s.idleTurns;
            observeFinishFlag();
            pumpSimulator();
            sleepMs(kIdleSleepMs);
            continue;
        }
        if (exchange(request) && s.exchanges % kPumpEvery == 0)
            pumpSimulator();
    }
    s.endMs = monotonicMs();
    c_.writes.dropAll(std::string("the run ended (") + loopEndText(end) + ")");
    refresh(s.endMs);
    return end;
}

void Loop::indexRows()
{
    std::vector<std::pair<RowKey, std::size_t>> keyed;
    keyed.reserve(c_.rows.size());
    for (std::size_t i = 0; i < c_.rows.size(); ++i) {
        const ValueRef &r = c_.rows[i].ref;
        keyed.emplace_back(rowKey(r.station, r.area, r.address), i);
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    rowRuns_.clear();
    runRows_.clear();
    for (const auto &entry : keyed) {
        if (rowRuns_.empty() || !(rowRuns_.back().key == entry.first))
            rowRuns_.push_back(RowRun{entry.first, static_cast<std::uint32_t>(runRows_.size()), 0, nullptr});
        ++rowRuns_.back().count;
        runRows_.push_back(&c_.rows[entry.second]);
    }
    // Pointers taken once the vectors are complete; neither changes during the loop.
    for (std::size_t r = 0; r < rowRuns_.size(); ++r)
        rowRuns_[r].next = &rowRuns_[r + 1 < rowRuns_.size() ? r + 1 : 0];
    lastRun_ = rowRuns_.empty() ? nullptr : &rowRuns_[0];
    expectedRun_ = lastRun_;
}

void Loop::pumpSimulator()
{
    if (c_.simulator)
        c_.simulator->pump();
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
    // The request stays valid until DataCom: its frame needs no copy.
    const QByteArray &frame = request->frame;
    const int length = std::max(0, std::min(request->requestLength, static_cast<int>(frame.size())));

    if (prepareNext_) {
        prepareLine(port);
        // Clearing the line may have taken a while: the run may be over.
        if (stopDue())
            return false;
    }
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(frame.constData());
    if (!port.write(bytes, static_cast<std::size_t>(length))) {
        linkLost("write failed");
        return false;
    }
    s.bytesOut += length;
    if (tracing_)
        c_.outputs.frameSent(bytes, static_cast<std::size_t>(length));
    if (pending.accessMode == 1 && !lastWasRepeat_)
        ++s.writesSent;

    // The reply goes into the buffer handed to DataCom; a reply of known
    // length is read there directly.
    QByteArray &replyBytes = replyBytes_;
    int received = 0;
    if (pending.replyLength > 0) {
        if (replyBytes.size() != pending.replyLength)
            replyBytes.resize(pending.replyLength);
        const long count = port.readInto(reinterpret_cast<std::uint8_t *>(replyBytes.data()),
                                         static_cast<std::size_t>(pending.replyLength), o.timeoutMs, o.interByteMs);
        if (count < 0) {
            linkLost("read failed");
            return false;
        }
        received = static_cast<int>(count);
        if (received != pending.replyLength)
            replyBytes.resize(received);
        // Bytes behind the reply: junk, and maybe more of it still coming.
        if (port.discarded() != 0) {
            countDropped(port.takeDiscarded());
            flushBeforeNext_ = true;
            prepareNext_ = true;
        }
        // The trace shows the bytes as they came, whatever DataCom does with its buffer.
        if (tracing_)
            reply_.assign(replyBytes.constData(), replyBytes.constData() + received);
    } else {
        std::vector<std::uint8_t> &reply = reply_;
        reply.clear();
        if (pending.replyLength < 0 && !port.read(reply, -1, o.timeoutMs, o.interByteMs)) {
            linkLost("read failed");
            return false;
        }
        received = static_cast<int>(reply.size());
        replyBytes.resize(received);
        if (received > 0)
            std::memcpy(replyBytes.data(), reply.data(), reply.size());
    }
    s.bytesIn += received;

    setCallSite(CallSite::DataCom);
    const RW_VAR *result = c_.api.dataCom(&replyBytes, replyBytes.size());
    const int status = result ? result->status : 200;
    const bool success = isSuccess(status);
    ++s.exchanges;
    // A good reply of the expected length leaves nothing behind to drop.
    const bool unusual = !success || pending.replyLength == 0;
    if (unusual || turnaround_)
        afterUnusualExchange(success, received == pending.replyLength, unusual);

    const bool finished = isError(status) || (success && c_.settings[MarovinSettings::framesDone] >=
                                                             c_.settings[MarovinSettings::framesPerVar]);
    if (tracing_) {
        std::string note;
        if (status == 0)
            note = "repeat: " + repeatReason(pending, static_cast<std::size_t>(received));
        else if (isError(status))
            note = describeStatus(status) + ", given up";
        c_.outputs.frameReceived(reply_.data(), reply_.size(), status, note);
    }
    afterDataCom(pending, status, finished);
    return true;
}

// Before an exchange: the turnaround pause, then late replies and waiting
// input dropped when the last exchange left the line in doubt.
void Loop::prepareLine(marovin_port::Port &port)
{
    const HostOptions &o = c_.options;
    if (turnaround_ && lastExchangeEndUs_ > 0)
        sleepUntilUs(lastExchangeEndUs_ + o.turnaroundMs * 1000LL);
    if (flushBeforeNext_) {
        if (lineSuspect_)
            drainLateReplies(port, o, lastComplete_ ? o.interByteMs : o.timeoutMs);
        countDropped(port.flushInput());
        flushBeforeNext_ = false;
        lineSuspect_ = false;
    }
    prepareNext_ = turnaround_;
}

// After an exchange that failed or expected no reply, or with a turnaround:
// notes what the next one has to prepare.
void Loop::afterUnusualExchange(bool success, bool complete, bool unusual)
{
    if (turnaround_)
        lastExchangeEndUs_ = monotonicUs();
    if (unusual) {
        flushBeforeNext_ = true;
        lineSuspect_ = !success;
        lastComplete_ = complete;
        prepareNext_ = true;
    }
    // A simulator that stopped answering may be stuck on a full pipe.
    if (!success)
        pumpSimulator();
}

// After a failed reply the device may still answer the request (or its
// repeats, queued while it was busy); such an answer would pass for the reply
// to the next request. Waits until the line has been quiet for quietMs (a
// whole reply timeout, or the inter-byte time after a reply of the expected
// length: at most the tail of a longer, garbled answer can follow), dropping
// what comes; a line that never goes quiet (noise, a peer that talks without
// pause) is given two such periods, and a stop is honoured between reads,
// each of which lasts at most one period.
void Loop::drainLateReplies(marovin_port::Port &port, const HostOptions &o, int quietMs)
{
    const long long deadline = monotonicMs() + 2LL * std::max(quietMs, 1);
    std::vector<std::uint8_t> late;
    while (monotonicMs() < deadline && !stopDue()) {
        if (!port.read(late, -1, quietMs, o.interByteMs) || late.empty())
            break;
        countDropped(late.size());
        c_.outputs.traceEvent("late reply dropped: " + std::to_string(late.size()) + " bytes");
    }
}

void Loop::countDropped(std::size_t bytes)
{
    if (bytes == 0)
        return;
    RunStats &s = c_.stats;
    s.bytesDropped += static_cast<long long>(bytes);
    const long long now = monotonicMs();
    if (droppedNoticedMs_ != 0 && now - droppedNoticedMs_ < kNoisyNoticeMs)
        return;
    notice(Notice::Noise, "line noisy: " + std::to_string(s.bytesDropped - droppedNoticed_) +
                              " bytes dropped that were no reply (" + std::to_string(s.bytesDropped) + " in all)");
    droppedNoticedMs_ = now;
    droppedNoticed_ = s.bytesDropped;
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
    lastWasRepeat_ = status == 0;
    const bool success = isSuccess(status);
    if (request.ownerType == kOwnerCyclic) {
        if (request.accessMode != 1)
            updateRows(request, status, finished && success);
        // The common case: nothing to count or report beyond the rows.
        if (success && !callbackEventsPending()) {
            observeFinishFlag();
            return;
        }
    }
    afterOtherOutcome(request, status, finished);
}

void Loop::updateRows(const PendingRequest &request, int status, bool counted)
{
    const RowKey key = rowKey(request.station, request.area, request.address);
    RowRun *run = expectedRun_;
    if (!run || !(run->key == key)) {
        const auto it = std::lower_bound(rowRuns_.begin(), rowRuns_.end(), key,
                                         [](const RowRun &r, const RowKey &k) { return r.key < k; });
        if (it == rowRuns_.end() || !(it->key == key))
            return;
        run = &*it;
        lastRun_->next = run;
    }
    ValueRow *const *rows = runRows_.data() + run->first;
    for (std::uint32_t i = 0; i < run->count; ++i) {
        ValueRow &row = *rows[i];
        row.lastStatus = status;
        if (counted) {
            ++row.reads;
            row.lastReadMs = turnMs_;
            ++c_.stats.valuesRead;
        }
    }
    lastRun_ = run;
    expectedRun_ = run->next;
}

void Loop::afterOtherOutcome(const PendingRequest &request, int status, bool finished)
{
    RunStats &s = c_.stats;
    if (status == 0) {
        ++s.repeats;
    } else if (isError(status)) {
        ++s.failuresByCode[status];
        ++s.giveUps;
    }

    if (request.ownerType == kOwnerOnceRead && finished && isSuccess(status)) {
        ++s.valuesRead;
    } else if (request.ownerType == kOwnerWrite && request.accessMode == 1 && finished) {
        c_.writes.finished(request.ownerId, status);
    }

    if (callbackEventsPending())
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
                c_.outputs.traceEvent("NOTIFY given up, ownerType " + std::to_string(e.ownerType));
            } else {
                ++s.writeNotices;
            }
            continue;
        }
        c_.outputs.traceEvent("ONCE-READ ownerType " + std::to_string(e.ownerType) + " ownerId " +
                       std::to_string(e.ownerId) + (e.outcome == 1 ? " done" : " given up"));
        if (e.ownerType != kOwnerOnceRead)
            continue;
        for (OnceReadItem &item : c_.onceReads) {
            if (item.ownerId != e.ownerId || item.state != OnceReadItem::Pending)
                continue;
            if (e.outcome == 1) {
                item.state = OnceReadItem::Done;
                ++s.onceReadsDone;
                notice(Notice::OnceRead, "once-read " + item.arg.source + " done: " + onceReadValues(item));
            } else {
                item.state = OnceReadItem::Failed;
                ++s.onceReadsFailed;
                notice(Notice::GiveUp, "once-read " + item.arg.source + " given up");
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
            notice(Notice::GiveUp,
                   "once-read " + item.arg.source + " dropped: station " + std::to_string(station) + " given up");
        }
    }
    c_.writes.dropStation(station, all);
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
    setCallSite(CallSite::Other);
    fetchValues(c_.api, &c_.rows);
    c_.outputs.refresh(view(nowMs));
}

RunView Loop::view(long long nowMs) const
{
    return RunView{c_.rows, c_.stats, c_.link.state(), c_.portText, nowMs};
}

void Loop::linkLost(const std::string &why)
{
    const long long now = monotonicMs();
    c_.link.lost(now);
    c_.outputs.traceEvent("LINK down: " + why);
    notice(Notice::LinkDown, "link down (" + why + "): " + c_.link.port().describe() + "; reconnecting");
    c_.outputs.linkChanged(view(now));
}

bool Loop::nothingLeft() const
{
    if (!c_.rows.empty())
        return false;
    for (const OnceReadItem &item : c_.onceReads) {
        if (item.state == OnceReadItem::Pending)
            return false;
    }
    return !c_.writes.busy() && !c_.writes.mayGetMore();
}

void Loop::notice(Notice::Kind kind, const std::string &text)
{
    Notice n;
    n.kind = kind;
    n.text = text;
    c_.outputs.notice(n);
}

std::string Loop::onceReadValues(const OnceReadItem &item)
{
    setCallSite(CallSite::Other);
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
