// Turns parsed variables, once-reads and writes into checked, expanded host records.
#ifndef MAROVIN_HOST_DRIVER_VARIABLE_SETUP_H
#define MAROVIN_HOST_DRIVER_VARIABLE_SETUP_H

#include "driver/Driver.h"
#include "model/OnceRead.h"
#include "model/Entries.h"
#include "model/TagRow.h"

#include <string>
#include <vector>

namespace marovin_host {

struct HostVariables {
    std::vector<TagRow> rows;
    std::vector<OnceRead> onceReads;
    std::vector<AddressedWrite> writes;
    std::vector<std::string> warnings;
};

// Checks every address with the driver's own parser, expands COUNT into
// single values named after their tag (or their address), and moves values
// of other stations to the default one unless settings.multiStation (with a
// warning); false with a one-line message in *error (a tag name given twice
// among them).
bool setUpVariables(const Driver &driver, const DriverSettings &settings, const std::vector<VariableEntry> &variables,
                    const std::vector<VariableEntry> &onceReads, const std::vector<WriteEntry> &writes,
                    HostVariables *out, std::string *error);

}  // namespace marovin_host

#endif
