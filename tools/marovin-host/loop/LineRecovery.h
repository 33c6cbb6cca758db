// What the line needs before the next request, as one state: a failed
// exchange may still be answered, and such an answer would pass for the
// reply to the next request.
#ifndef MAROVIN_HOST_LOOP_LINE_RECOVERY_H
#define MAROVIN_HOST_LOOP_LINE_RECOVERY_H

#include "Port.h"

#include <cstddef>

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

    // After an exchange that failed or expected no reply; complete: the
    // failed reply had the expected length.
    void unusualExchange(bool success, bool complete);
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

    const int timeoutMs_;
    const int interByteMs_;
    const long long turnaroundUs_;
    State state_ = State::Flush;  // the line was just opened
    bool due_ = true;
    long long lastExchangeEndUs_ = 0;
};

}  // namespace marovin_host

#endif
