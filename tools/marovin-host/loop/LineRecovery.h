// What the line needs before the next request, as one state: a failed
// exchange may still be answered, and such an answer would pass for the
// reply to the next request. And whether the line is in step: a device that
// stalled answers, once it resumes, every request it was sent meanwhile, one
// after another; until those answers are drained, or a reply is followed by a
// whole timeout of silence, no reply is taken as the answer to the request
// just sent.
#ifndef MAROVIN_HOST_LOOP_LINE_RECOVERY_H
#define MAROVIN_HOST_LOOP_LINE_RECOVERY_H

#include "Port.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace marovin_host {

// What the recovery tells the loop, and asks of it.
class LineWatcher {
public:
    virtual ~LineWatcher() = default;
    // Whether the run must end now: draining is cut short then.
    virtual bool stopDue() const = 0;
    // Bytes dropped that were no reply; late says they were a late answer.
    virtual void dropped(std::size_t bytes, bool late) = 0;
};

class LineRecovery {
public:
    enum class State {
        Clean,       // nothing waits: the next request goes out at once
        Flush,       // input may wait that is no reply: drop it
        DrainTail,   // a failed reply of the right length: its garbled tail may follow
        DrainReply,  // no reply, or a short one: the answer may still come
    };

    LineRecovery(int timeoutMs, int interByteMs, int turnaroundMs)
        : timeoutMs_(timeoutMs), interByteMs_(interByteMs), turnaroundUs_(turnaroundMs * 1000LL)
    {
    }
    State state() const { return state_; }
    // Whether prepare() has anything to do before the next request: an
    // ordinary exchange tests this one bool.
    bool due() const { return due_; }
    // Whether every exchange's end must be told (a turnaround is kept).
    bool timesExchanges() const { return turnaroundUs_ > 0; }

    // After an exchange that failed or expected no reply: `received` of the
    // `expected` bytes came (more when an out-of-step reply had bytes behind it).
    void unusualExchange(bool success, int expected, int received);
    // Whether answers to earlier requests may still be on their way.
    bool outOfStep() const { return owedBytes_ > 0; }
    // Out of step: reads a reply of `expected` bytes and whatever follows it
    // within a whole timeout into `out`. Exactly the reply, then silence: the
    // line is in step again. More bytes: the first were a late answer, or the
    // reply was, and all of them go back to be refused as a wrong length.
    // False when the link failed.
    bool readOutOfStep(marovin_port::Port &port, int expected, std::vector<std::uint8_t> &out);
    // After any exchange, when timesExchanges().
    void exchangeEnded();
    // Bytes came behind a reply: junk, and maybe more still coming.
    void junkBehindReply();
    // The link was opened again: whatever waits is from before.
    void reopened();
    // Before a request: the turnaround pause, then late answers drained and
    // waiting input dropped, as the state asks.
    void prepare(marovin_port::Port &port, LineWatcher &watcher);

private:
    void enter(State state);
    void drainLateReplies(marovin_port::Port &port, LineWatcher &watcher, int quietMs);
    // Bytes that came and were no answer to the request just sent.
    void paid(std::size_t bytes);

    const int timeoutMs_;
    const int interByteMs_;
    const long long turnaroundUs_;
    State state_ = State::Flush;  // the line was just opened
    bool due_ = true;
    long long lastExchangeEndUs_ = 0;
    // Reply bytes of requests left unanswered, less the bytes that came late.
    long long owedBytes_ = 0;
};

}  // namespace marovin_host

#endif
