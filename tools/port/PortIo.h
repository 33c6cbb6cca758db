// What the transports share: waits, reads and writes on a non-blocking
// descriptor, socket helpers, and the one-descriptor base of the serial and
// TCP client ports. Internal to the port library.
#ifndef MAROVIN_TOOLS_PORT_IO_H
#define MAROVIN_TOOLS_PORT_IO_H

#include "MonotonicClock.h"
#include "Port.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace marovin_port {
namespace detail {

// Text of errno with a prefix.
std::string errnoText(const std::string &what);
// Closes *fd if open and marks it closed.
void closeFd(int *fd);
// Puts an fd into non-blocking, close-on-exec mode.
bool makeNonBlocking(int fd);

// Milliseconds left until deadline, for poll(): 0 once it has passed.
inline int msLeft(long long deadline)
{
    const long long left = deadline - monotonicMs();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// poll() on one fd for `events` until the deadline (-1: none), retrying on
// EINTR. Returns 1 ready, 0 timed out, -1 error; *revents gets the events.
int waitFor(int fd, short events, long long deadline, short *revents);

enum class ReadEnd { Done, Failed, Closed };

// What is left of a wait of waitMs (< 0: without limit) that a signal or a
// wake-up with nothing to read cut short; *deadline (< 0 until then) is taken
// from the clock the first time, so the rest counts from that moment.
inline int resumedWait(int waitMs, long long *deadline)
{
    if (waitMs < 0)
        return waitMs;
    if (*deadline < 0)
        *deadline = monotonicMs() + waitMs;
    return msLeft(*deadline);
}

// Port::readInto over a non-blocking fd: Done on timeout or the buffer full,
// Closed on end of file, Failed on an error; *count follows every chunk. Each
// wait (firstByteMs for the first byte, then interByteMs after every chunk;
// < 0: without limit) goes to poll() as it is, so that the common path reads
// no clock; only a wait that must be resumed does (see resumedWait), and so
// can last up to the time already spent in it longer than asked. With
// overflow, bytes that came in the same chunk beyond capacity are taken as no
// part of the reply (junk after it, or a peer that talks without pause): they
// are dropped and counted in *overflow, at no extra system call. With
// endMs >= 0 the waits after the first chunk end then at the latest.
[[gnu::always_inline]] inline ReadEnd readBuffer(int fd, std::uint8_t *buffer, std::size_t capacity,
                                                 std::size_t *count, int firstByteMs, int interByteMs,
                                                 std::size_t *overflow, long long endMs = -1)
{
    *count = 0;
    if (fd < 0)
        return ReadEnd::Failed;
    if (capacity == 0)
        return ReadEnd::Done;
    std::uint8_t spare[256];
    std::size_t got = 0;
    int waitMs = firstByteMs;
    long long deadline = -1;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, waitMs);
        if (r > 0 && !(p.revents & POLLNVAL)) {
            iovec parts[2] = {{buffer + got, capacity - got}, {spare, sizeof spare}};
            const ssize_t n = ::readv(fd, parts, overflow ? 2 : 1);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                if (got >= capacity) {
                    if (overflow)
                        *overflow += got - capacity;
                    *count = capacity;
                    return ReadEnd::Done;
                }
                *count = got;
                // A new wait: the inter-byte time counts from this chunk.
                waitMs = interByteMs > 0 ? interByteMs : 0;
                deadline = -1;
                if (endMs >= 0) {
                    const int left = msLeft(endMs);
                    if (left == 0)
                        return ReadEnd::Done;
                    waitMs = std::min(waitMs, left);
                }
                continue;
            }
            if (n == 0)
                return ReadEnd::Closed;
        }
        if (r == 0)
            return ReadEnd::Done;
        if (r > 0) {
            // POLLNVAL, or read() failed.
            if ((p.revents & POLLNVAL) || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) ||
                (p.revents & (POLLHUP | POLLERR)))
                return ReadEnd::Failed;
        } else if (errno != EINTR) {
            return ReadEnd::Failed;
        }
        waitMs = resumedWait(waitMs, &deadline);
    }
}

// Port::read over a non-blocking fd, with readBuffer's ends. A read of
// unknown length ends at the latest firstByteMs after it began, or after
// 64 KiB: a peer that never pauses must not hold the reader.
ReadEnd readLoop(int fd, std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs);

// Writes what is left after a first write that did not take every byte,
// waiting while the peer is slow.
[[gnu::noinline]] bool writeRest(int fd, const std::uint8_t *bytes, std::size_t count, std::size_t done, bool socket);

// Writes every byte to a non-blocking fd; a frame nearly always goes out in one call.
inline bool writeAll(int fd, const std::uint8_t *bytes, std::size_t count, bool socket)
{
    if (fd < 0)
        return false;
    const ssize_t n = socket ? ::send(fd, bytes, count, MSG_NOSIGNAL) : ::write(fd, bytes, count);
    if (n == static_cast<ssize_t>(count))
        return true;
    if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
        return false;
    return writeRest(fd, bytes, count, n > 0 ? static_cast<std::size_t>(n) : 0, socket);
}

// Reads and discards whatever is waiting on a non-blocking fd, at most
// 1 MiB (a peer that never pauses would keep it reading); returns how much.
std::size_t drain(int fd);
// Resolves host:port for a stream socket; null host means any address.
addrinfo *resolve(const std::string &host, int port, bool passive, std::string *error);
// Local port of a socket, 0 if unknown.
int socketPort(int fd);
// Disables Nagle's delay: frames are tiny and latency matters.
void setNoDelay(int fd);

// A port on one descriptor; a read that ends in an error or end of file
// closes it (a device that went away, a connection that ended).
class FdPort : public Port {
public:
    ~FdPort() override { closeFd(&fd_); }

    bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) override
    {
        return ended(readLoop(fd_, out, wanted, firstByteMs, interByteMs));
    }

    long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) override
    {
        std::size_t count;
        return ended(readBuffer(fd_, buffer, capacity, &count, firstByteMs, interByteMs, &discarded_))
                   ? static_cast<long>(count)
                   : -1;
    }

    bool isOpen() const override { return fd_ >= 0; }
    int fd() const override { return fd_; }

protected:
    // True when the read ended normally; otherwise the descriptor is closed.
    bool ended(ReadEnd end)
    {
        if (end == ReadEnd::Done)
            return true;
        closeFd(&fd_);
        return false;
    }

    int fd_ = -1;
};

}  // namespace detail
}  // namespace marovin_port

#endif
