// The summary printed when the run ends.
#ifndef MAROVIN_HOST_APP_SUMMARY_H
#define MAROVIN_HOST_APP_SUMMARY_H

#include "model/RunStats.h"

#include <cstdio>
#include <string>

namespace marovin_host {

struct SummaryContext {
    std::string portText;
    std::string linkText;      // final state, losses, reopen attempts
    double lineBytesPerSecond = 0;  // 0: unknown
    double turnaroundS = 0;         // the host's pause before each request
    std::string stopReason;
    std::string storeText;  // empty without --store
};

// Prints "key: value" lines, one figure per line.
void printSummary(std::FILE *out, const RunStats &stats, const SummaryContext &context);

}  // namespace marovin_host

#endif
