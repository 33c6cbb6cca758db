// What the exchange loop needs to know of the run's options.
#ifndef MAROVIN_HOST_LOOP_LOOP_SETTINGS_H
#define MAROVIN_HOST_LOOP_LOOP_SETTINGS_H

#include <string>

namespace marovin_host {

struct LoopSettings {
    int timeoutMs = 1000;   // first byte of a reply
    int interByteMs = 50;   // silence that ends a reply
    int turnaroundMs = 0;   // pause between a reply and the next request
    int refreshMs = 250;    // outputs refreshed this often
    long cycles = 0;        // stop after this many read cycles; 0: no limit
    double durationS = 0;   // stop after this long; 0: no limit
    double linkTimeoutS = 30;  // a link down this long ends the run
    bool multiStation = false;  // a give-up drops only its own station's writes and once-reads
    bool cacheWrites = false;   // writes only go into the driver's cache (--write-mode cache)
    int rtPriority = 0;         // SCHED_FIFO priority of the exchange thread; 0: ordinary
    std::string portText;
};

}  // namespace marovin_host

#endif
