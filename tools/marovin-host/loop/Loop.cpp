// The loop's set-up and what a turn needs now and then: the link while it is
// down, refreshes, notices, idle turns.
#include "loop/Loop.h"

#include "driver/Callbacks.h"
#include "util/Clock.h"
#include "util/Scheduling.h"

#include <algorithm>

namespace marovin_host {

namespace {

const long long kIdleSleepMs = 2;
// Says a line is noisy at most this often.
const long long kNoisyNoticeMs = 5000;
const long long kDownPollMs = 50;

// Starts the run's clock and hands it back.
long long startClock(RunStats &stats)
{
    stats.startMs = monotonicMs();
    return stats.startMs;
}

}  // namespace

LoopEnd runExchangeLoop(const LoopSettings &settings, const LoopParts &parts, RunState &run)
{
    // Only this thread: the outputs' threads stay ordinary.
    if (settings.rtPriority > 0) {
        if (raiseThreadPriority(settings.rtPriority, &run.stats.rtPriorityRefused))
            run.stats.rtPriority = settings.rtPriority;
    }
    Loop loop(settings, parts, run);
    return loop.run();
}

Loop::Loop(const LoopSettings &settings, const LoopParts &parts, RunState &run)
    : settings_(settings), driver_(parts.driver), link_(parts.link), simulator_(parts.simulator),
      outputs_(parts.outputs), run_(run),
      writes_(parts.driver, settings.cacheWrites, parts.writes, run.stats,
              [this](const std::string &text) { notice(Notice::WriteFailed, text); }),
      stop_(settings, startClock(run.stats)), line_(settings.timeoutMs, settings.interByteMs, settings.turnaroundMs),
      index_(run.rows), noRows_(run.rows.empty()), tracing_(parts.outputs.wantsFrames()),
      listening_(parts.outputs.wantsChanges()), told_(run.rows.size())
{
    changed_.reserve(run.rows.size());
}

// An idle turn also completes a read cycle.
void Loop::idleTurn()
{
    ++run_.stats.idleTurns;
    if (driver_.takeCycleEnd())
        ++run_.stats.cycles;
    pumpSimulator();
    sleepMs(kIdleSleepMs);
}

bool Loop::whileDown(long long nowMs, LoopEnd *end)
{
    pumpSimulator();
    if (stop_.endsWhileDown(nowMs, link_.downSinceMs(), simulator_ && !simulator_->running(), end))
        return true;
    if (link_.msUntilNextTry(nowMs) == 0) {
        if (link_.tryReopen(nowMs)) {
            line_.reopened();
            outputs_.traceEvent("LINK up");
            notice(Notice::LinkUp, "link up again: " + link_.port().describe());
            outputs_.linkChanged(view(nowMs));
        } else {
            outputs_.traceEvent("LINK reconnecting (next try in " + std::to_string(link_.currentBackoffMs()) + " ms)");
        }
    }
    sleepMs(std::min(kDownPollMs, std::max(1LL, link_.msUntilNextTry(monotonicMs()))));
    return false;
}

void Loop::refresh(long long nowMs)
{
    driver_.fetchAll(&run_.rows);
    outputs_.refresh(view(nowMs));
}

RunView Loop::view(long long nowMs) const
{
    return RunView{run_.rows, run_.stats, link_.state(), settings_.portText, nowMs};
}

void Loop::linkLost(const std::string &why)
{
    const long long now = monotonicMs();
    link_.lost(now);
    outputs_.traceEvent("LINK down: " + why);
    notice(Notice::LinkDown, "link down (" + why + "): " + link_.port().describe() + "; reconnecting");
    outputs_.linkChanged(view(now));
}

bool Loop::nothingLeft() const
{
    if (!run_.rows.empty())
        return false;
    for (const OnceRead &item : run_.onceReads) {
        if (item.state == OnceRead::Pending)
            return false;
    }
    return !writes_.busy() && !writes_.mayGetMore();
}

void Loop::notice(Notice::Kind kind, const std::string &text)
{
    outputs_.notice(Notice(kind, text));
}

void Loop::pumpSimulator()
{
    if (simulator_)
        simulator_->pump();
}

bool Loop::stopDue() const
{
    return stop_.timeUp(monotonicMs());
}

void Loop::dropped(std::size_t bytes, bool late)
{
    if (bytes == 0)
        return;
    RunStats &s = run_.stats;
    s.bytesDropped += static_cast<long long>(bytes);
    const long long now = monotonicMs();
    if (droppedNoticedMs_ == 0 || now - droppedNoticedMs_ >= kNoisyNoticeMs) {
        notice(Notice::Noise, "line noisy: " + std::to_string(s.bytesDropped - droppedNoticed_) +
                                  " bytes dropped that were no reply (" + std::to_string(s.bytesDropped) + " in all)");
        droppedNoticedMs_ = now;
        droppedNoticed_ = s.bytesDropped;
    }
    // Every byte that came in shows in the trace, as a reply or as dropped.
    if (!tracing_)
        return;
    const std::string count = std::to_string(bytes);
    outputs_.traceEvent(late ? "late reply dropped: " + count + " bytes"
                             : "dropped: " + count + " bytes that were no reply");
}

}  // namespace marovin_host
