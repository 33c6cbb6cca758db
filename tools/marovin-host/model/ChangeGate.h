// Which changes of a tag go out to a consumer: a tag file's dead-band (a
// change smaller than it since the last value sent is not sent) and
// min-interval (at most one message per interval; the latest value goes
// when the interval ends). One gate per consumer; not thread-safe.
#ifndef MAROVIN_HOST_MODEL_CHANGE_GATE_H
#define MAROVIN_HOST_MODEL_CHANGE_GATE_H

#include "model/TagRow.h"

#include <cstddef>
#include <vector>

namespace marovin_host {

class ChangeGate {
public:
    enum Verdict { Send, Skip, Hold };

    explicit ChangeGate(const std::vector<TagRow> &rows);
    // A change of row i to value (as published) at nowMs; a status change
    // always goes, only later than the interval allows.
    Verdict offer(std::size_t i, double value, bool statusChanged, long long nowMs) const;
    // Row i's message went out at nowMs with value.
    void sent(std::size_t i, double value, long long nowMs);
    // When a held change of row i may go.
    long long dueMs(std::size_t i) const;

private:
    struct Tag {
        double deadband = 0;
        long long minIntervalMs = 0;
        bool sent = false;
        double value = 0;
        long long atMs = 0;
    };
    std::vector<Tag> tags_;
};

}  // namespace marovin_host

#endif
