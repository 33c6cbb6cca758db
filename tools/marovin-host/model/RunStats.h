// The run's counters: what the summary, the status topic and the metrics report.
#ifndef MAROVIN_HOST_MODEL_RUN_STATS_H
#define MAROVIN_HOST_MODEL_RUN_STATS_H

#include <map>
#include <string>

namespace marovin_host {

struct RunStats {
    long long exchanges = 0;  // DataCom calls after a frame went out
    long long bytesOut = 0;
    long long bytesIn = 0;
    long long repeats = 0;         // status 0
    long long giveUps = 0;         // error status: a variable given up
    long long giveUpNotices = 0;   // ownerNotify during DataCom
    long long writeNotices = 0;    // ownerNotify during ComCommunication
    std::map<int, long long> failuresByCode;  // every status other than 0, 1, 100
    long long valuesRead = 0;  // values refreshed by finished good reads
    long long cycles = 0;
    long long idleTurns = 0;
    long long onceReadsDone = 0;
    long long onceReadsFailed = 0;
    long long writesSent = 0;  // write variables whose frame went out the first time
    long long writesAcknowledged = 0;
    long long writesFailed = 0;
    long long writesCached = 0;  // --write-mode cache: stored in the driver's cache only
    long long bytesDropped = 0;  // input that was no reply: late, junk or noise
    long long startMs = 0;
    long long endMs = 0;
    int rtPriority = 0;            // the exchange thread's real-time priority, when it got one
    std::string rtPriorityRefused;  // why it did not, when asked
};

}  // namespace marovin_host

#endif
