#include "CommandLineWrites.h"

namespace marovin_host {

void submitCommandLineWrites(std::vector<WriteRequest> writes, WriteQueue &queue, Outputs &outputs)
{
    for (WriteRequest &w : writes) {
        const std::string what = "WRITE " + w.label + "=" + w.valueText + " ";
        w.done = [what, &outputs](const WriteResult &result) { outputs.traceEvent(what + result.text); };
        if (!queue.submit(std::move(w))) {
            Notice n;
            n.kind = Notice::WriteFailed;
            n.text = what.substr(6) + "dropped: the write queue is full";
            outputs.notice(n);
        }
    }
}

}  // namespace marovin_host
