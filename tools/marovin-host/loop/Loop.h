// The exchange loop's parts, for the loop's own files: the turns and the stop
// rules (Loop.cpp), one exchange (Exchange.cpp), and what an outcome changes
// (Outcomes.cpp).
#ifndef MAROVIN_HOST_LOOP_LOOP_H
#define MAROVIN_HOST_LOOP_LOOP_H

#include "loop/ExchangeLoop.h"
#include "loop/LineRecovery.h"
#include "loop/PendingWrites.h"
#include "loop/RowIndex.h"
#include "model/Notice.h"

#include <QByteArray>

#include <cstdint>
#include <string>
#include <vector>

namespace marovin_host {

class Loop : private LineWatcher {
public:
    Loop(const LoopSettings &settings, const LoopParts &parts, RunState &run);
    // Exchanges until a stop condition holds; says which one.
    LoopEnd run();

private:
    // Loop.cpp
    // A turn without a request: counts it, lets the simulator's output out, pauses.
    void idleTurn();
    // While the link is down: reopens it in time; true when the run must end.
    bool whileDown(long long nowMs, LoopEnd *end);
    // Fetches the values and hands them to the outputs.
    void refresh(long long nowMs);
    RunView view(long long nowMs) const;
    // Marks the link down after a failed write or read.
    void linkLost(const std::string &why);
    // True when there is no cyclic variable and every write and once-read has ended.
    bool nothingLeft() const;
    void notice(Notice::Kind kind, const std::string &text);
    // Lets the simulator's output out of its pipes, if the host started it.
    void pumpSimulator();
    bool stopDue() const override;
    // Counts input dropped as no reply and says, now and then, that the line is noisy.
    void dropped(std::size_t bytes, bool late) override;

    // Exchange.cpp, all inlined into run().
    // One request out, its reply back to DataCom; false when the link failed
    // or the run ended while the line was prepared.
    [[gnu::always_inline]] inline bool exchange(const DriverRequest &request);
    // Reads the reply into replyBytes_; its length, or -1 when the link failed.
    [[gnu::always_inline]] inline int receive(const DriverRequest &request, marovin_port::Port &port);
    // receive() while answers to earlier requests may be on their way.
    [[gnu::cold]] int receiveOutOfStep(const DriverRequest &request, marovin_port::Port &port);
    // Counts the outcome and brings rows, writes and once-reads up to date.
    [[gnu::always_inline]] inline void afterReply(const DriverRequest &request, const DriverReply &reply);
    // Sets the status of the variable's rows; counts a finished good read when counted.
    [[gnu::always_inline]] inline void updateRows(const DriverRequest &request, int status, bool counted);

    // ChangeWatch.cpp: changes as they are read, for outputs that want them.
    // What was last told of a row.
    struct Told {
        bool told = false;
        bool good = false;  // a value (not a give-up) was told
        std::uint32_t raw = 0;
    };
    // After the variable of run was read (counted) or given up: fetches what
    // may have changed and tells the outputs of the rows that did.
    void watchRun(RowIndex::Run &run, bool counted);
    // Hands the changes of the exchange, read at readMs, to the outputs.
    void tellChanges(long long readMs);

    // Outcomes.cpp
    // afterReply for all but a good cyclic read: counters, writes, once-reads, callbacks.
    void afterOtherOutcome(const DriverRequest &request, const DriverReply &reply);
    void handleCallbackEvents();
    // A once-read ended as the driver's callback says.
    void onceReadEnded(int ownerId, bool done);
    void dropPendingOfStation(int station);
    // The once-read's values, fetched, as ADDR=VALUE texts.
    std::string onceReadValues(OnceRead &item);
    // Fetches the values of the finished once-reads again (for the dump).
    void refetchOnceReads();
    void traceReply(const DriverRequest &request, int status, int received);
    std::string repeatReason(const DriverRequest &request, int received) const;

    const LoopSettings &settings_;
    Driver &driver_;
    Link &link_;
    SimulatorProcess *simulator_;
    Outputs &outputs_;
    RunState &run_;
    PendingWrites writes_;
    StopRules stop_;
    LineRecovery line_;
    RowIndex index_;
    const bool noRows_;
    // Fixed for the run, kept here so that each exchange tests a bool.
    const bool tracing_;
    const bool listening_;  // an output takes changes as they are read
    long long turnMs_ = 0;  // the clock at the start of this loop turn
    std::vector<Told> told_;
    std::vector<std::uint32_t> changed_;
    long long droppedNoticedMs_ = 0;  // when the line was last called noisy
    long long droppedNoticed_ = 0;    // stats.bytesDropped then
    bool lastWasRepeat_ = false;
    // Reply buffers kept from one exchange to the next, so that an exchange
    // makes no heap call once they have grown: replyBytes_ goes to DataCom;
    // replyCopy_ takes replies of unknown length, and every reply for the trace.
    QByteArray replyBytes_;
    std::vector<std::uint8_t> replyCopy_;
};

}  // namespace marovin_host

#endif
