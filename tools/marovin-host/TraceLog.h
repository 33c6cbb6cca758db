// The frame trace: one line per frame sent or received, and per notable event.
#ifndef MAROVIN_HOST_TRACE_LOG_H
#define MAROVIN_HOST_TRACE_LOG_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace marovin_host {

class TraceLog {
public:
    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog &) = delete;
    TraceLog &operator=(const TraceLog &) = delete;

    // Opens the trace on a file, or on standard output for an empty path.
    bool open(const std::string &path, std::string *error);
    bool enabled() const { return out_ != nullptr; }
    bool toStdout() const { return out_ == stdout; }

    // "HH:MM:SS.mmm TX [08][00]..."
    void sent(const std::uint8_t *bytes, std::size_t count);
    // "HH:MM:SS.mmm RX <..><..> status N (note)"
    void received(const std::vector<std::uint8_t> &bytes, int status, const std::string &note);
    // "HH:MM:SS.mmm TEXT", written out at once.
    void event(const std::string &text);
    // Writes out buffered frame lines (done at each table refresh and at the end).
    void flush();

private:
    std::FILE *out_ = nullptr;
    bool ownFile_ = false;
};

}  // namespace marovin_host

#endif
