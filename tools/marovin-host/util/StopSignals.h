// SIGINT, SIGTERM and (where it means nothing else) SIGHUP ask the exchange
// loop to stop after the current exchange.
#ifndef MAROVIN_HOST_UTIL_STOP_SIGNALS_H
#define MAROVIN_HOST_UTIL_STOP_SIGNALS_H

#include <csignal>

namespace marovin_host {

// The signal that asked to stop, 0 if none; inline so that the exchange loop
// tests it without a call.
inline volatile std::sig_atomic_t g_stopSignal = 0;

// Installs the handlers; SIGPIPE is ignored so a lost TCP peer shows as a failed write.
void installStopSignals();
// True once a stop signal came.
inline bool stopRequested()
{
    return g_stopSignal != 0;
}

// Asks for the web panel's certificate to be read again (SIGHUP); only a
// host that serves HTTPS installs it.
void installReloadSignal();
// True once for each SIGHUP since the last call.
bool takeReloadRequest();

}  // namespace marovin_host

#endif
