// The web panel's frame trace: the latest frames and trace events, kept only
// while a browser asks for them. The loop stores raw bytes; the lines are
// made on the server's thread that hands them out.
#ifndef MAROVIN_HOST_WEB_TRACE_RING_H
#define MAROVIN_HOST_WEB_TRACE_RING_H

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

class TraceRing {
public:
    static const std::size_t kLines = 500;
    // A request for lines keeps the collection on this long.
    static const long long kLeaseMs = 10000;

    TraceRing();
    // Loop thread: whether frames are kept now; decided at each refresh.
    bool collecting() const { return collecting_; }
    void updateCollecting(long long nowMs);
    void addFrame(bool sent, const std::uint8_t *bytes, std::size_t count, int status, const std::string *note);
    void addEvent(const std::string &text);

    // Any thread: {"seq": S, "lines": [...]} with the lines after seq, and
    // the collection kept on for kLeaseMs.
    nlohmann::json linesAfter(std::uint64_t seq, long long nowMs);

private:
    struct Entry {
        std::uint64_t seq = 0;
        long long wallMs = 0;
        char kind = 0;  // 'T' sent, 'R' received, 'E' event
        std::vector<std::uint8_t> bytes;
        int status = 0;
        std::string text;  // note or event
    };
    Entry &nextEntry();

    bool collecting_ = false;
    std::atomic<long long> leaseUntilMs_{0};
    std::mutex mutex_;
    std::vector<Entry> entries_;
    std::uint64_t nextSeq_ = 1;
};

}  // namespace marovin_host

#endif
