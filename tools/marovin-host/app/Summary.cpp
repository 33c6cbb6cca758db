// Rates are per second of the whole run, from the first exchange attempt to the stop.
#include "app/Summary.h"

namespace marovin_host {

void printSummary(std::FILE *out, const RunStats &s, const SummaryContext &c)
{
    const double elapsed = (s.endMs - s.startMs) / 1000.0;
    const double perSecond = elapsed > 0 ? 1.0 / elapsed : 0.0;
    std::fprintf(out, "--- summary ---\n");
    std::fprintf(out, "port:          %s\n", c.portText.c_str());
    std::fprintf(out, "stopped:       %s\n", c.stopReason.c_str());
    std::fprintf(out, "elapsed:       %.2f s\n", elapsed);
    std::fprintf(out, "exchanges:     %lld\n", s.exchanges);
    std::fprintf(out, "exchanges/s:   %.1f\n", s.exchanges * perSecond);
    std::fprintf(out, "values/s:      %.1f (%lld values read)\n", s.valuesRead * perSecond, s.valuesRead);
    std::fprintf(out, "cycles:        %lld\n", s.cycles);
    std::fprintf(out, "repeats:       %lld\n", s.repeats);
    std::string failures;
    long long total = 0;
    for (const auto &f : s.failuresByCode) {
        failures += (failures.empty() ? "" : ", ") + std::string("status ") + std::to_string(f.first) + " x" +
                    std::to_string(f.second);
        total += f.second;
    }
    if (!failures.empty())
        failures = " (" + failures + ")";
    std::fprintf(out, "failures:      %lld%s\n", total, failures.c_str());
    std::fprintf(out, "give-ups:      %lld (%lld notices)\n", s.giveUps, s.giveUpNotices);
    std::fprintf(out, "once-reads:    %lld done, %lld failed\n", s.onceReadsDone, s.onceReadsFailed);
    std::fprintf(out, "writes:        %lld sent, %lld acknowledged, %lld failed, %lld cache only\n", s.writesSent,
                 s.writesAcknowledged, s.writesFailed, s.writesCached);
    std::fprintf(out, "bytes:         %lld out, %lld in\n", s.bytesOut, s.bytesIn);
    if (s.bytesDropped > 0)
        std::fprintf(out, "dropped:       %lld bytes that were no reply (noisy line)\n", s.bytesDropped);
    if (c.lineBytesPerSecond > 0 && elapsed > 0) {
        // The least time the line needs for the run: every byte at the
        // character time, and the host's pause before each request.
        const double lineS = (s.bytesOut + s.bytesIn) / c.lineBytesPerSecond + s.exchanges * c.turnaroundS;
        std::fprintf(out, "efficiency:    %.1f %% of the line's limit (%.0f bytes/s, turnaround %.1f ms)\n",
                     100.0 * lineS / elapsed, c.lineBytesPerSecond, c.turnaroundS * 1000.0);
    } else {
        std::fprintf(out, "efficiency:    unknown (no line rate)\n");
    }
    std::fprintf(out, "link:          %s\n", c.linkText.c_str());
    if (!c.storeText.empty())
        std::fprintf(out, "store:         %s\n", c.storeText.c_str());
    if (s.rtPriority > 0)
        std::fprintf(out, "priority:      real-time %d for the exchange thread\n", s.rtPriority);
    else if (!s.rtPriorityRefused.empty())
        std::fprintf(out, "priority:      real-time refused: %s\n", s.rtPriorityRefused.c_str());
    std::fflush(out);
}

}  // namespace marovin_host
