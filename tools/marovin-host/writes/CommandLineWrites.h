// The -w writes: the first write source, checked before the run and queued
// before the loop starts.
#ifndef MAROVIN_HOST_WRITES_COMMAND_LINE_WRITES_H
#define MAROVIN_HOST_WRITES_COMMAND_LINE_WRITES_H

#include "model/Entries.h"
#include "writes/WriteQueue.h"

#include <functional>
#include <string>
#include <vector>

namespace marovin_host {

// Checks and encodes every value as a raw write by address; false with
// "bad write 'SOURCE': why" for the first refused one, or when there are more
// than the queue holds (a usage error).
bool encodeCommandLineWrites(const std::vector<AddressedWrite> &values, bool toPlc, int maxUnits,
                             std::vector<WriteRequest> *out, std::string *error);
// Queues every write; each result is told through `tell` ("WRITE label=value
// result"), a full queue through `dropped`.
void submitCommandLineWrites(std::vector<WriteRequest> writes, WriteQueue &queue,
                             const std::function<void(const std::string &)> &tell,
                             const std::function<void(const std::string &)> &dropped);

}  // namespace marovin_host

#endif
