// SIGINT and SIGTERM ask the exchange loop to stop after the current exchange.
#ifndef MAROVIN_HOST_STOP_SIGNALS_H
#define MAROVIN_HOST_STOP_SIGNALS_H

namespace marovin_host {

// Installs the handlers; SIGPIPE is ignored so a lost TCP peer shows as a failed write.
void installStopSignals();
// True once a stop signal came.
bool stopRequested();
// The signal that asked to stop, 0 if none.
int stopSignal();

}  // namespace marovin_host

#endif
