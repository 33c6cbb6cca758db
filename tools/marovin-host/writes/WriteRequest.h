// A write on its way to the PLC, and the one result it gets back.
#ifndef MAROVIN_HOST_WRITES_WRITE_REQUEST_H
#define MAROVIN_HOST_WRITES_WRITE_REQUEST_H

#include "model/Tag.h"

#include <functional>
#include <string>

namespace marovin_host {

enum class WriteOutcome {
    Acknowledged,  // the PLC answered the write frame
    Cached,        // --write-mode cache: stored in the driver's cache only
    Refused,       // SetRegisterData returned 0: nothing was queued
    GivenUp,       // the PLC did not acknowledge within the repeats
    Dropped        // never sent: its station was given up, or the run ended
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Dropped;
    int status = 0;    // the driver's status for Acknowledged and GivenUp
    std::string text;  // why, for people
    bool ok() const { return outcome == WriteOutcome::Acknowledged || outcome == WriteOutcome::Cached; }
};

// One value to write, already encoded the way SetRegisterData takes it.
struct WriteRequest {
    ValueRef ref;
    std::string bytes;  // least significant byte first
    int count = 0;      // the driver's units: 1 for bits and words, 2 for 32-bit values
    std::string label;  // the tag's name, for notices
    std::string valueText;
    double written = 0;  // the value as it will read back, in the tag's units (the nearest raw step)
    // Called once with the result, on the loop thread; must not block.
    std::function<void(const WriteResult &)> done;
};

// Text of an outcome: "acknowledged", "given up", ...
const char *writeOutcomeName(WriteOutcome outcome);

}  // namespace marovin_host

#endif
