// The values the host holds, in the simulator's memory-text line format.
#ifndef MAROVIN_HOST_DUMP_FILE_H
#define MAROVIN_HOST_DUMP_FILE_H

#include <QByteArray>

#include "VariableArgs.h"

#include <string>
#include <utility>
#include <vector>

namespace marovin_host {

// Writes one STATION:AREA:ADDR=VALUE line per value, sorted, without repeats.
bool writeDump(const std::string &path, const std::vector<std::pair<ValueRef, QByteArray>> &values,
               std::string *error);

}  // namespace marovin_host

#endif
