// A second stop signal ends the process at once, for a loop stuck in a long wait.
#include "util/StopSignals.h"

#include <csignal>
#include <signal.h>

namespace marovin_host {

namespace {

// Records the first stop signal; a second one ends the process at once.
void onStopSignal(int signal)
{
    if (g_stopSignal != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    g_stopSignal = signal;
}

volatile std::sig_atomic_t g_reload = 0;

// Notes a reload; the loop takes it at its next refresh.
void onReloadSignal(int)
{
    g_reload = 1;
}

}  // namespace

void installReloadSignal()
{
    struct sigaction action {};
    action.sa_handler = &onReloadSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}

bool takeReloadRequest()
{
    if (!g_reload)
        return false;
    g_reload = 0;
    return true;
}

void installStopSignals()
{
    struct sigaction action {};
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal ends the run as cleanly, unless SIGHUP already reads
    // the web panel's certificate again or is ignored (nohup).
    struct sigaction hangup {};
    if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_DFL)
        sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace marovin_host
