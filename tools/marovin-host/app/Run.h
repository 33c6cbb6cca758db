// A whole run of marovin-host: set up, loop, summary and exit code.
#ifndef MAROVIN_HOST_APP_RUN_H
#define MAROVIN_HOST_APP_RUN_H

#include "config/HostOptions.h"

namespace marovin_host {

// Runs the host as the options say; returns the exit code (0 ok, 1 runtime
// failure, 2 usage error, 3 variables given up or writes failed).
int runHost(HostOptions &options);

}  // namespace marovin_host

#endif
