// The outbox as its consumers see it (MQTT, the historian, the web panel):
// every change read, kept on disk in read order until each consumer has
// confirmed it, and the history the store holds. The only header of the
// store that other rooms include.
#ifndef MAROVIN_HOST_STORE_OUTBOX_H
#define MAROVIN_HOST_STORE_OUTBOX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace marovin_host {

// A tag as the store knows it, perhaps of an earlier run with other tags.
struct StoredTag {
    std::string name;
    int station = 0;
    int area = 0;
    int address = 0;
};

// One value as it was read.
struct StoredValue {
    std::int64_t seq = 0;            // read order; never used twice in one store
    const StoredTag *tag = nullptr;  // lives as long as the outbox
    long long readMs = 0;            // wall clock
    bool hasValue = false;           // false: given up before a good read
    double value = 0;                // scaled, as people see it
    int status = 0;                  // the driver's status of the read (-1: none yet)
};

// What waits for one consumer.
struct Backlog {
    long long values = 0;
    long long oldestMs = 0;  // wall-clock read time of the oldest; 0 with none
};

// One consumer's place in the outbox; every call may come from any thread
// and none waits for the disk.
class OutboxCursor {
public:
    virtual ~OutboxCursor() = default;
    // Moves up to max values that wait, oldest first, into *out (appended);
    // they count as on their way until confirmed or released.
    virtual std::size_t take(std::vector<StoredValue> *out, std::size_t max) = 0;
    // The value seq went out as it was read (not through take).
    virtual void claim(std::int64_t seq) = 0;
    // Delivered: the broker acknowledged it, the database committed it.
    virtual void confirm(std::int64_t seq) = 0;
    // The consumer lost what is on its way (a session ended): due again.
    virtual void release() = 0;
    // Waits up to ms for values to take; false when none came.
    virtual bool wait(long long ms) = 0;
    // Nothing waits to be taken: all the store held was taken, claimed or
    // confirmed (what is on its way may not be confirmed yet).
    virtual bool caughtUp() const = 0;
    virtual Backlog backlog() const = 0;
};

struct OutboxStats {
    bool onDisk = false;    // false: kept in memory only (the file could not be used)
    long long kept = 0;     // values committed this run
    long long dropped = 0;  // removed by a bound (or a full disk) before every consumer had them
    long long notKept = 0;  // could not be stored at all
};

// [wall ms, value] pairs of a tag's history, oldest first.
using HistoryPoints = std::vector<std::pair<long long, double>>;

class Outbox {
public:
    virtual ~Outbox() = default;
    // The cursor of a consumer by name; one new to the store starts at its
    // end. Made before the run starts; lives as long as the outbox.
    virtual OutboxCursor &cursor(const std::string &consumer) = 0;
    // The seq of the first change of the last ChangeView told (loop thread):
    // change k of a view is firstSeqOfLastChange() + k. The wiring tells the
    // store of changes before any consumer.
    virtual std::int64_t firstSeqOfLastChange() const = 0;
    // The store's identity, kept in the file: seqs mean something only with it.
    virtual std::string storeId() const = 0;
    virtual OutboxStats stats() const = 0;
    // Every consumer's name and backlog.
    virtual std::vector<std::pair<std::string, Backlog>> backlogs() const = 0;
    // The values of tag read in [fromMs, toMs] from disk, at most maxPoints
    // (the lowest and the highest of equal slices of time where more were
    // kept); false with a message when the store cannot be read.
    virtual bool history(const std::string &tag, long long fromMs, long long toMs, std::size_t maxPoints,
                         HistoryPoints *points, std::string *error) const = 0;
};

}  // namespace marovin_host

#endif
