// The pace of a serial line for a simulator on a pseudo-terminal or TCP,
// where bytes otherwise move at memory speed: a request counts as received
// once its characters would have crossed the line, and a reply goes out one
// character at a time, after the device's turnaround.
#ifndef MAROVIN_SIM_LINE_PACE_H
#define MAROVIN_SIM_LINE_PACE_H

#include "Port.h"

#include <csignal>
#include <cstddef>
#include <cstdint>

namespace marovin_sim {

class LinePace {
public:
    // lineRate 0: bytes keep memory speed; responseDelayMs 0: no turnaround.
    // A set *stop cuts the waits short.
    LinePace(int lineRate, const marovin_port::SerialOptions &format, int responseDelayMs,
             const volatile std::sig_atomic_t *stop);

    // Right after a reply, when the next request is due, watches the port
    // without sleeping for a short while, so that the simulator's own
    // wake-up does not count as line time; returns once input waits.
    void awaitRequest(int fd);
    // Bytes just read: returns once the last of them would have arrived.
    void received(std::size_t count);
    // Sends a reply that starts after the turnaround and extraMs more, each
    // character written when it would have crossed the line; false when the
    // port failed.
    bool send(marovin_port::Port &port, const std::uint8_t *bytes, std::size_t count, int extraMs);

private:
    // Nanoseconds that `characters` take on the line.
    long long lineNs(std::size_t characters) const;
    // Sleeps until the monotonic time `ns`; false when *stop_ cut it short.
    bool sleepUntil(long long ns) const;
    // Waits until `ns` for the reply's last character, which the host waits
    // for: sleeps until a wake-up margin before it, then watches the clock.
    bool awaitLast(long long ns);

    int lineRate_;
    int bitsPerCharacter_;
    long long turnaroundNs_;
    const volatile std::sig_atomic_t *stop_;
    bool paced_;
    long long receiveEndNs_ = 0;  // when the last received character has arrived
    long long sendEndNs_ = 0;     // when the last sent character has left
    long long lateNs_ = 50000;    // how late sleeps wake up, smoothed
    bool replied_ = false;        // a reply just went out: a request is due
    long long arrivedNs_ = 0;     // when the watch saw input waiting; 0: not seen
};

}  // namespace marovin_sim

#endif
