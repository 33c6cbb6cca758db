// The loop's turns and one exchange: stop rules first, then a refresh when
// due, the link (reopened while down), queued writes, and one request to the
// driver; the request out, the reply (or nothing) back to DataCom, and the
// common outcome, a good cyclic read. All of it in this file, so that the
// compiler keeps an exchange in one function: a call and its register saves
// per step are a measurable share of the host's work. A link failure skips
// DataCom, so the same frame is sent again once the link is back.
#include "loop/Loop.h"

#include "driver/Callbacks.h"
#include "model/Status.h"
#include "util/Clock.h"

#include <algorithm>
#include <cstring>

namespace marovin_host {

namespace {

// Exchanges between two looks at the simulator's pipes: a simulator tracing a
// few lines per exchange fills far less than a pipe meanwhile.
const int kPumpEvery = 32;

}  // namespace

LoopEnd Loop::run()
{
    RunStats &s = run_.stats;
    long long nextRefreshMs = s.startMs;
    LoopEnd end;
    for (;;) {
        const long long now = monotonicMs();
        turnMs_ = now;
        if (stop_.ends(now, s.cycles, noRows_ && nothingLeft(), &end))
            break;
        if (now >= nextRefreshMs) {
            refresh(now);
            pumpSimulator();
            nextRefreshMs = std::max(nextRefreshMs + settings_.refreshMs, now + 1);
        }
        if (link_.state() != LinkState::Up) {
            if (whileDown(now, &end))
                break;
            continue;
        }
        if (writes_.due())
            writes_.take();
        DriverRequest request;
        const bool asked = driver_.nextRequest(&request);
        if (callbackEventsPending())
            handleCallbackEvents();
        if (!asked) {
            idleTurn();
            continue;
        }
        if (exchange(request) && s.exchanges % kPumpEvery == 0)
            pumpSimulator();
    }
    s.endMs = monotonicMs();
    writes_.dropAll(std::string("the run ended (") + loopEndText(end) + ")");
    refetchOnceReads();
    refresh(s.endMs);
    return end;
}


bool Loop::exchange(const DriverRequest &request)
{
    RunStats &s = run_.stats;
    marovin_port::Port &port = link_.port();
    if (line_.due()) {
        line_.prepare(port, *this);
        // Clearing the line may have taken a while: the run may be over.
        if (stopDue())
            return false;
    }
    const std::size_t length = static_cast<std::size_t>(request.length);
    if (!port.write(request.frame, length)) {
        linkLost("write failed");
        return false;
    }
    s.bytesOut += request.length;
    if (tracing_)
        outputs_.frameSent(request.frame, length);
    if (request.accessMode == 1 && !lastWasRepeat_)
        ++s.writesSent;

    const int received = receive(request, port);
    if (received < 0) {
        linkLost("read failed");
        return false;
    }
    s.bytesIn += received;

    const DriverReply reply = driver_.handReply(replyBytes_);
    ++s.exchanges;
    const bool success = isSuccess(reply.status);
    // A good reply of the expected length leaves nothing behind to drop.
    if (!success || request.replyLength == 0)
        line_.unusualExchange(success, request.replyLength, received);
    if (line_.timesExchanges())
        line_.exchangeEnded();
    // A simulator that stopped answering may be stuck on a full pipe.
    if (!success)
        pumpSimulator();
    if (tracing_)
        traceReply(request, reply.status, received);
    if (reply.cycleDone)
        ++s.cycles;
    afterReply(request, reply);
    return true;
}

// A reply of known length is read straight into the buffer handed to DataCom.
int Loop::receive(const DriverRequest &request, marovin_port::Port &port)
{
    QByteArray &reply = replyBytes_;
    if (request.replyLength > 0) {
        if (line_.outOfStep())
            return receiveOutOfStep(request, port);
        if (reply.size() != request.replyLength)
            reply.resize(request.replyLength);
        const long count = port.readInto(reinterpret_cast<std::uint8_t *>(reply.data()),
                                         static_cast<std::size_t>(request.replyLength), settings_.timeoutMs,
                                         settings_.interByteMs);
        if (count < 0)
            return -1;
        const int received = static_cast<int>(count);
        if (received != request.replyLength)
            reply.resize(received);
        if (port.discarded() != 0) {
            dropped(port.takeDiscarded(), false);
            line_.junkBehindReply();
        }
        // The trace shows the bytes as they came, whatever DataCom does with its buffer.
        if (tracing_)
            replyCopy_.assign(reply.constData(), reply.constData() + received);
        return received;
    }
    replyCopy_.clear();
    if (request.replyLength < 0 &&
        !port.read(replyCopy_, -1, settings_.timeoutMs, settings_.interByteMs))
        return -1;
    const int received = static_cast<int>(replyCopy_.size());
    reply.resize(received);
    if (received > 0)
        std::memcpy(reply.data(), replyCopy_.data(), replyCopy_.size());
    return received;
}

// Out of step the reply is read with what follows it; a reply with bytes
// behind it goes to DataCom whole, as a wrong length.
int Loop::receiveOutOfStep(const DriverRequest &request, marovin_port::Port &port)
{
    if (!line_.readOutOfStep(port, request.replyLength, replyCopy_))
        return -1;
    const int received = static_cast<int>(replyCopy_.size());
    replyBytes_.resize(received);
    if (received > 0)
        std::memcpy(replyBytes_.data(), replyCopy_.data(), replyCopy_.size());
    if (received > request.replyLength)
        outputs_.traceEvent("out of step: " + std::to_string(received - request.replyLength) +
                            " bytes behind the reply, which is no answer then");
    return received;
}

void Loop::afterReply(const DriverRequest &request, const DriverReply &reply)
{
    lastWasRepeat_ = reply.status == 0;
    const bool success = isSuccess(reply.status);
    if (request.ownerType == kOwnerCyclic) {
        if (request.accessMode != 1)
            updateRows(request, reply.status, reply.finished && success);
        // The common case: nothing to count or report beyond the rows.
        if (success && !callbackEventsPending())
            return;
    }
    afterOtherOutcome(request, reply);
}

void Loop::updateRows(const DriverRequest &request, int status, bool counted)
{
    RowIndex::Run *run = index_.find(request.station, request.area, request.address);
    if (!run)
        return;
    TagRow *const *rows = index_.rowsOf(*run);
    for (std::uint32_t i = 0; i < run->count; ++i) {
        TagRow &row = *rows[i];
        row.lastStatus = status;
        if (counted) {
            ++row.reads;
            row.lastReadMs = turnMs_;
            ++run_.stats.valuesRead;
        }
    }
    if (listening_ && (counted || isError(status)))
        watchRun(*run, counted);
}

}  // namespace marovin_host
