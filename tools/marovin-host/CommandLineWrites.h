// The -w writes: the first write source, queued before the loop starts.
#ifndef MAROVIN_HOST_COMMAND_LINE_WRITES_H
#define MAROVIN_HOST_COMMAND_LINE_WRITES_H

#include "Outputs.h"
#include "WriteQueue.h"

#include <vector>

namespace marovin_host {

// Queues every write; each result goes to the trace (failures are notices anyway).
void submitCommandLineWrites(std::vector<WriteRequest> writes, WriteQueue &queue, Outputs &outputs);

}  // namespace marovin_host

#endif
