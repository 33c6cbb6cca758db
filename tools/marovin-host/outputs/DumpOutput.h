// The values the host holds at the end, in the simulator's memory-text line
// format, so that the two files compare line by line.
#ifndef MAROVIN_HOST_OUTPUTS_DUMP_OUTPUT_H
#define MAROVIN_HOST_OUTPUTS_DUMP_OUTPUT_H

#include "loop/Output.h"
#include "model/OnceRead.h"

#include <string>
#include <utility>
#include <vector>

namespace marovin_host {

class DumpOutput : public Output {
public:
    // onceReads: the run's once-reads, whose values the loop fetched.
    DumpOutput(std::string path, const std::vector<OnceRead> &onceReads)
        : path_(std::move(path)), onceReads_(onceReads)
    {
    }
    // Writes the rows read at least once and the finished once-reads.
    void finish(const RunView &view) override;
    // Why the file could not be written; empty when it was.
    const std::string &error() const { return error_; }

private:
    std::string path_;
    const std::vector<OnceRead> &onceReads_;
    std::string error_;
};

// Whether the dump can be written at the end, told at the start rather than after a long run.
bool dumpWritable(const std::string &path, std::string *error);

// Writes one STATION:AREA:ADDR=VALUE line per value, sorted, without repeats.
bool writeDump(const std::string &path, const std::vector<std::pair<ValueRef, TagValue>> &values,
               std::string *error);

}  // namespace marovin_host

#endif
