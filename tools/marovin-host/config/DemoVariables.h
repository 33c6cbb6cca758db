// The variables read when none are given and the bundled simulator runs its demo memory.
#ifndef MAROVIN_HOST_CONFIG_DEMO_VARIABLES_H
#define MAROVIN_HOST_CONFIG_DEMO_VARIABLES_H

#include "model/Entries.h"

#include <vector>

namespace marovin_host {

// Station 1: w16 0x10..0x13, d32 0x20, w16b 0x30, d32b 0x40, float 0x50, status bits 2, 12, 25, 29.
std::vector<VariableEntry> demoVariables();

}  // namespace marovin_host

#endif
