// When a run ends: a stop signal, --duration, --cycles, nothing left to do,
// a link down too long, or the bundled simulator gone.
#ifndef MAROVIN_HOST_LOOP_STOP_RULES_H
#define MAROVIN_HOST_LOOP_STOP_RULES_H

#include "model/LoopSettings.h"
#include "util/StopSignals.h"

namespace marovin_host {

enum class LoopEnd { Cycles, Duration, Signal, NothingLeft, LinkLost, SimulatorExited };

// Text for the summary's "stopped" line.
const char *loopEndText(LoopEnd end);

class StopRules {
public:
    StopRules(const LoopSettings &settings, long long startMs);
    // Whether the run must end now: a stop signal or the end of --duration.
    // Cheap, and honoured inside long waits too.
    bool timeUp(long long nowMs) const { return stopRequested() || nowMs >= endMs_; }
    // At the start of a turn: whether the run ends, and why (in this order:
    // signal, duration, cycles, nothing left).
    bool ends(long long nowMs, long long cycles, bool nothingLeft, LoopEnd *why) const
    {
        if (stopRequested())
            *why = LoopEnd::Signal;
        else if (nowMs >= endMs_)
            *why = LoopEnd::Duration;
        else if (cycles >= cycleLimit_)
            *why = LoopEnd::Cycles;
        else if (nothingLeft)
            *why = LoopEnd::NothingLeft;
        else
            return false;
        return true;
    }
    // While the link is down: the simulator gone, or the link down too long.
    bool endsWhileDown(long long nowMs, long long downSinceMs, bool simulatorGone, LoopEnd *why) const;

private:
    long long endMs_;
    long long cycleLimit_;
    long long linkTimeoutMs_;
};

}  // namespace marovin_host

#endif
