#include "loop/StopRules.h"

#include <cmath>
#include <limits>

namespace marovin_host {

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

StopRules::StopRules(const LoopSettings &s, long long startMs)
    : endMs_(std::numeric_limits<long long>::max()),
      cycleLimit_(s.cycles > 0 ? s.cycles : std::numeric_limits<long long>::max()),
      linkTimeoutMs_(static_cast<long long>(s.linkTimeoutS * 1000))
{
    // Rounded up: a duration under a millisecond is a short run, not none.
    if (s.durationS > 0)
        endMs_ = startMs + static_cast<long long>(std::ceil(s.durationS * 1000));
}

bool StopRules::endsWhileDown(long long nowMs, long long downSinceMs, bool simulatorGone, LoopEnd *why) const
{
    if (simulatorGone)
        *why = LoopEnd::SimulatorExited;
    else if (nowMs - downSinceMs >= linkTimeoutMs_)
        *why = LoopEnd::LinkLost;
    else
        return false;
    return true;
}

}  // namespace marovin_host
