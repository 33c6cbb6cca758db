// The outputs of a run, told everything in the order they were added. Only
// the loop and the wiring hold it; no output does.
#ifndef MAROVIN_HOST_LOOP_OUTPUTS_H
#define MAROVIN_HOST_LOOP_OUTPUTS_H

#include "loop/Output.h"

#include <memory>
#include <vector>

namespace marovin_host {

class Outputs {
public:
    void add(std::unique_ptr<Output> output);
    // Whether any output takes frames and trace events.
    bool wantsFrames() const { return !framed_.empty(); }
    // Whether any output takes changes as they are read.
    bool wantsChanges() const { return !listening_.empty(); }
    void changed(const ChangeView &view);

    void refresh(const RunView &view);
    void linkChanged(const RunView &view);
    void notice(const Notice &notice);
    void frameSent(const std::uint8_t *bytes, std::size_t count);
    void frameReceived(const std::uint8_t *bytes, std::size_t count, int status, const std::string &note);
    void traceEvent(const std::string &text);
    void finish(const RunView &view);
    // The first output's run failure after finish, or empty.
    std::string runFailure() const;

private:
    // Tells every output what the outputs collected for people.
    void tellCollected();

    std::vector<std::unique_ptr<Output>> all_;
    std::vector<Output *> framed_;
    std::vector<Output *> listening_;
};

}  // namespace marovin_host

#endif
