// Turns parsed variables, once-reads and writes into checked, expanded host records.
#ifndef MAROVIN_HOST_VARIABLE_SETUP_H
#define MAROVIN_HOST_VARIABLE_SETUP_H

#include "DriverApi.h"
#include "HostModel.h"
#include "HostOptions.h"
#include "WriteQueue.h"

#include <string>
#include <vector>

namespace marovin_host {

struct HostVariables {
    std::vector<ValueRow> rows;
    std::vector<OnceReadItem> onceReads;
    std::vector<WriteRequest> writes;  // without their done callbacks
    std::vector<std::string> warnings;
};

// Checks every address with the driver's own parser (PLCAddressChangeIntef),
// expands COUNT into single values named after their tag (or their address)
// and encodes write values; false with a one-line message in *error (a tag
// name given twice among them).
bool setUpVariables(const DriverApi &api, const HostOptions &options, const std::vector<VariableArg> &variables,
                    const std::vector<VariableArg> &onceReads, const std::vector<WriteArg> &writes,
                    HostVariables *out, std::string *error);

}  // namespace marovin_host

#endif
