// A second stop signal ends the process at once, for a loop stuck in a long wait.
#include "StopSignals.h"

#include <csignal>
#include <signal.h>

namespace marovin_host {

namespace {

volatile std::sig_atomic_t g_signal = 0;

void onStopSignal(int signal)
{
    if (g_signal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_signal = signal;
}

}  // namespace

void installStopSignals()
{
    struct sigaction action {};
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return g_signal != 0;
}

int stopSignal()
{
    return g_signal;
}

}  // namespace marovin_host
