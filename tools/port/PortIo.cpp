#include "PortIo.h"

#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

namespace marovin_port {
namespace detail {

namespace {

// How long a write may stall (peer not reading) before the link counts as failed.
constexpr int kWriteStallMs = 2000;
// The most a read of unknown length takes.
constexpr std::size_t kReadLimit = 65536;

}  // namespace

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

void closeFd(int *fd)
{
    if (*fd >= 0) {
        ::close(*fd);
        *fd = -1;
    }
}

bool makeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int fdFlags = ::fcntl(fd, F_GETFD);
    return fdFlags >= 0 && ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) >= 0;
}

int waitFor(int fd, short events, long long deadline, short *revents)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, deadline >= 0 ? msLeft(deadline) : -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r > 0 && revents)
            *revents = p.revents;
        return r > 0 ? 1 : r;
    }
}

ReadEnd readLoop(int fd, std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs)
{
    out.clear();
    std::size_t got = 0;
    if (wanted > 0) {
        out.resize(static_cast<std::size_t>(wanted));
        const ReadEnd end = readBuffer(fd, out.data(), out.size(), &got, firstByteMs, interByteMs, nullptr);
        out.resize(got);
        return end;
    }
    if (fd < 0)
        return ReadEnd::Failed;
    if (wanted == 0)
        return ReadEnd::Done;
    const long long endMs = firstByteMs >= 0 ? monotonicMs() + firstByteMs : -1;
    std::uint8_t buf[1024];
    int waitMs = firstByteMs;
    for (;;) {
        const ReadEnd end = readBuffer(fd, buf, sizeof buf, &got, waitMs, interByteMs, nullptr, endMs);
        out.insert(out.end(), buf, buf + got);
        if (end != ReadEnd::Done || got < sizeof buf || out.size() >= kReadLimit)
            return end;
        // The buffer filled up: more may follow within the inter-byte time,
        // but not beyond the end of the whole read.
        waitMs = std::max(interByteMs, 0);
        if (endMs >= 0) {
            const int left = msLeft(endMs);
            if (left == 0)
                return end;
            waitMs = std::min(waitMs, left);
        }
    }
}

bool writeRest(int fd, const std::uint8_t *bytes, std::size_t count, std::size_t done, bool socket)
{
    while (done < count) {
        const ssize_t n = socket ? ::send(fd, bytes + done, count - done, MSG_NOSIGNAL)
                                 : ::write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            short revents = 0;
            if (waitFor(fd, POLLOUT, monotonicMs() + kWriteStallMs, &revents) <= 0 || (revents & (POLLERR | POLLNVAL)))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

std::size_t drain(int fd)
{
    std::size_t dropped = 0;
    if (fd < 0)
        return dropped;
    std::uint8_t buf[1024];
    for (int i = 0; i < 1024; ++i) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        dropped += static_cast<std::size_t>(n);
    }
    return dropped;
}

addrinfo *resolve(const std::string &host, int port, bool passive, std::string *error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    addrinfo *result = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    if (rc != 0) {
        if (error)
            *error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
        return nullptr;
    }
    return result;
}

int socketPort(int fd)
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return 0;
    if (addr.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port);
    return 0;
}

void setNoDelay(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace detail
}  // namespace marovin_port
