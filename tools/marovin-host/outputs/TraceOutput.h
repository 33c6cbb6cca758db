// The frame trace: one line per frame sent or received, and per notable event.
#ifndef MAROVIN_HOST_OUTPUTS_TRACE_OUTPUT_H
#define MAROVIN_HOST_OUTPUTS_TRACE_OUTPUT_H

#include "loop/Output.h"

#include <cstdio>
#include <memory>
#include <string>

namespace marovin_host {

class TraceOutput : public Output {
public:
    ~TraceOutput() override;
    // The trace on a file, or on standard output for an empty path or "-";
    // null with a message in *error when the file cannot be written.
    static std::unique_ptr<TraceOutput> open(const std::string &path, std::string *error);
    bool toStdout() const { return out_ == stdout; }

    bool wantsFrames() const override { return true; }
    // "HH:MM:SS.mmm TX [08][00]..."
    void frameSent(const std::uint8_t *bytes, std::size_t count) override;
    // "HH:MM:SS.mmm RX <..><..> status N (note)"
    void frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note) override;
    // "HH:MM:SS.mmm TEXT", written out at once.
    void traceEvent(const std::string &text) override;
    // Frame lines are written out at each refresh and at the end.
    void refresh(const RunView &) override { std::fflush(out_); }

private:
    explicit TraceOutput(std::FILE *out) : out_(out) {}
    std::FILE *out_;
};

}  // namespace marovin_host

#endif
