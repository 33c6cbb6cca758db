// What the exchange loop tells its outputs (table, CSV, trace, dump, and the
// network outputs). The loop knows this interface only; every output runs on
// the loop thread and must hand anything slow to a thread of its own.
#ifndef MAROVIN_HOST_LOOP_OUTPUT_H
#define MAROVIN_HOST_LOOP_OUTPUT_H

#include "model/Notice.h"
#include "model/RunView.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace marovin_host {

class Output {
public:
    virtual ~Output() = default;
    // The values were fetched again (every refresh period, and once at the end).
    virtual void refresh(const RunView &) {}
    // Changes as they are read go only to outputs that ask for them, so that
    // an exchange costs nothing more without them.
    virtual bool wantsChanges() const { return false; }
    virtual void changed(const ChangeView &) {}
    // The link went down or came back.
    virtual void linkChanged(const RunView &) {}
    virtual void notice(const Notice &) {}
    // Notices an output has for people (from its own threads, say), taken
    // at each refresh and at the end and told to every output.
    virtual void collectNotices(std::vector<Notice> &) {}
    // Frames and trace events go only to outputs that ask for them, so that an
    // exchange costs nothing more without them.
    virtual bool wantsFrames() const { return false; }
    virtual void frameSent(const std::uint8_t *, std::size_t) {}
    virtual void frameReceived(const std::uint8_t *, std::size_t, int /*status*/, const std::string & /*note*/) {}
    virtual void traceEvent(const std::string &) {}
    // The loop ended; the last refresh has been made.
    virtual void finish(const RunView &) {}
    // After finish: why the run failed on this output's side (a broker never
    // reached, say), or empty.
    virtual std::string runFailure() const { return std::string(); }
};

}  // namespace marovin_host

#endif
