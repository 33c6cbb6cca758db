// What the host keeps about its variables, once-reads, writes and the run.
#ifndef MAROVIN_HOST_MODEL_H
#define MAROVIN_HOST_MODEL_H

#include "VariableArgs.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <string>
#include <vector>

namespace marovin_host {

// Owner codes the host gives its variables; they come back as status-code offsets.
const int kOwnerCyclic = 0;  // the rebuilt read list
const int kOwnerWrite = 2;
const int kOwnerOnceRead = 3;

// One value read cyclically: a tag of the outputs, a row of the table.
struct ValueRow {
    ValueRef ref;
    TagInfo tag;
    int lastStatus = -1;  // -1: no exchange yet
    long long reads = 0;  // finished good reads of its variable
    long long lastReadMs = 0;  // monotonic time of the last finished good read
    QByteArray bytes;     // last value fetched with GetRegisterData
};

struct OnceReadItem {
    enum State { Pending, Done, Failed, Rejected };
    VariableArg arg;
    ValueRef first;  // first value; further values follow at the area's address step
    int ownerId = 0;
    State state = Pending;
};

struct RunStats {
    long long exchanges = 0;  // DataCom calls after a frame went out
    long long bytesOut = 0;
    long long bytesIn = 0;
    long long repeats = 0;   // status 0
    long long giveUps = 0;   // error status: a variable given up
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
    long long bytesDropped = 0;   // input that was no reply: late, junk or noise
    long long startMs = 0;
    long long endMs = 0;
};

}  // namespace marovin_host

#endif
