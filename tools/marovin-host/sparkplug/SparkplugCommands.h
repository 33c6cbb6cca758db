// Commands from Sparkplug host applications: NCMD Node Control/Rebirth, and
// DCMD writes to a station's metrics through the same check as every other
// write. A payload that does not parse, is too long, names an unknown metric
// or holds a value of the wrong type changes nothing and is counted; a DCMD
// is written whole or not at all. There is no answer message: the PLC's
// acknowledgement shows as the metric's next DDATA.
#ifndef MAROVIN_HOST_SPARKPLUG_SPARKPLUG_COMMANDS_H
#define MAROVIN_HOST_SPARKPLUG_SPARKPLUG_COMMANDS_H

#include "model/Notice.h"
#include "model/TagDirectory.h"
#include "writes/WriteQueue.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

// The metrics' aliases: the node's own from 1, the tags' from here in row order.
const unsigned kFirstTagAlias = 100;
const char *const kRebirthMetric = "Node Control/Rebirth";
const unsigned kRebirthAlias = 1;
// The longest command read; a longer one is counted bad unread.
const std::size_t kMaxCommandBytes = 65536;

class SparkplugCommands {
public:
    // rebirth: called on the connection's thread for a Rebirth command.
    SparkplugCommands(const std::vector<TagRow> &rows, WriteQueue &queue, bool writeAll,
                      std::function<void()> rebirth);
    // Connection thread: an NCMD, or a DCMD to a device (stationN).
    void onNodeCommand(const std::string &payload, bool retained);
    void onDeviceCommand(const std::string &device, const std::string &payload, bool retained);
    // Later writes are refused (the node stops).
    void close();
    long long bad() const { return bad_.load(std::memory_order_relaxed); }
    long long refused() const { return refused_.load(std::memory_order_relaxed); }
    long long failed() const { return failed_.load(std::memory_order_relaxed); }
    // The notices since the last call (a flood is cut short and counted).
    void takeNotices(std::vector<Notice> &out);
    // Counts a bad payload and says why.
    void badPayload(const std::string &where, const std::string &why);

private:
    // The row a command's metric names (by name or alias) on the station; -1 for none.
    long rowOf(const std::string &name, bool hasAlias, unsigned long long alias, int station) const;
    void tell(Notice::Kind kind, const std::string &text);
    // On the loop thread: a write's result.
    void writeDone(const std::string &label, const WriteResult &result);

    const std::vector<TagRow> &rows_;
    const TagDirectory directory_;
    WriteQueue &queue_;
    const bool writeAll_;
    const std::function<void()> rebirth_;
    std::atomic<long long> bad_{0};
    std::atomic<long long> refused_{0};
    std::atomic<long long> failed_{0};
    std::atomic<bool> closing_{false};
    std::mutex noticesMutex_;
    std::vector<Notice> notices_;
    long untold_ = 0;  // notices beyond the limit since the last take
};

}  // namespace marovin_host

#endif
