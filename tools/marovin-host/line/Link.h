// The port plus its state, reopened with back-off after it went away.
#ifndef MAROVIN_HOST_LINE_LINK_H
#define MAROVIN_HOST_LINE_LINK_H

#include "model/LinkState.h"

#include "Port.h"

#include <memory>
#include <string>

namespace marovin_host {

class Link {
public:
    explicit Link(std::unique_ptr<marovin_port::Port> port);

    marovin_port::Port &port() { return *port_; }
    LinkState state() const { return state_; }
    // Marks the link lost; the first reopen comes after the shortest back-off.
    void lost(long long nowMs);
    // Tries a reopen when its time has come; true when the link is up again.
    bool tryReopen(long long nowMs);
    // Milliseconds until the next reopen may be tried (0 when it may now).
    long long msUntilNextTry(long long nowMs) const;
    // When the link went down; valid while not up.
    long long downSinceMs() const { return downSinceMs_; }
    int losses() const { return losses_; }
    int reopenAttempts() const { return attempts_; }
    long long currentBackoffMs() const { return backoffMs_; }

private:
    std::unique_ptr<marovin_port::Port> port_;
    LinkState state_ = LinkState::Up;
    long long downSinceMs_ = 0;
    long long nextTryMs_ = 0;
    long long backoffMs_ = 0;
    int losses_ = 0;
    int attempts_ = 0;
};

}  // namespace marovin_host

#endif
