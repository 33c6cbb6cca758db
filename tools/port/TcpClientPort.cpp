// A TCP client connection, to a serial-device server in raw mode or to the
// simulator.
#include "PortIo.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace marovin_port {

namespace {

using namespace detail;

// How long a connection to one address may take to be accepted.
constexpr int kConnectTimeoutMs = 3000;

class TcpClientPort : public FdPort {
public:
    TcpClientPort(std::string host, int port) : host_(std::move(host)), port_(port) {}

    // Connects once to the first address that accepts.
    bool connect(std::string *error)
    {
        closeFd(&fd_);
        addrinfo *list = resolve(host_, port_, false, error);
        if (!list)
            return false;
        std::string lastError = "cannot connect to " + host_ + ":" + std::to_string(port_);
        for (addrinfo *ai = list; ai && fd_ < 0; ai = ai->ai_next) {
            int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
            if (fd < 0)
                continue;
            int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
            if (rc != 0 && errno == EINPROGRESS) {
                short revents = 0;
                rc = waitFor(fd, POLLOUT, monotonicMs() + kConnectTimeoutMs, &revents) == 1 ? 0 : -1;
                if (rc != 0)
                    errno = ETIMEDOUT;
                int soError = 0;
                socklen_t len = sizeof soError;
                if (rc == 0 && (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0)) {
                    errno = soError;
                    rc = -1;
                }
            }
            if (rc != 0) {
                lastError = errnoText("cannot connect to " + host_ + ":" + std::to_string(port_));
                ::close(fd);
                continue;
            }
            setNoDelay(fd);
            fd_ = fd;
        }
        ::freeaddrinfo(list);
        if (fd_ < 0 && error)
            *error = lastError;
        return fd_ >= 0;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        if (writeAll(fd_, bytes, count, true))
            return true;
        closeFd(&fd_);
        return false;
    }

    // A reply of known length, read chunk by chunk (see readAcking); the
    // bytes behind it are dropped and counted as on every port.
    long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) override
    {
        return readAcking(buffer, capacity, firstByteMs, interByteMs, &discarded_);
    }

    // A read of known length keeps what follows it: a caller that decodes a
    // byte stream (telnet) must not lose its next bytes.
    bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) override
    {
        if (wanted <= 0)
            return FdPort::read(out, wanted, firstByteMs, interByteMs);
        out.resize(static_cast<std::size_t>(wanted));
        const long n = readAcking(out.data(), out.size(), firstByteMs, interByteMs, nullptr);
        out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return n >= 0;
    }

    std::size_t flushInput() override { return drain(fd_); }
    bool reopen() override { return connect(nullptr); }
    std::string describe() const override { return "tcp " + host_ + ":" + std::to_string(port_); }

private:
    // Reads chunk by chunk and acknowledges each chunk that leaves the reply
    // incomplete at once: a server that holds its next small segment until
    // the last one is acknowledged (Nagle; ser2net's default) would otherwise
    // wait for our delayed ACK, up to 40 ms, for each piece of a reply. The
    // ACK of the last chunk stays delayed and goes out with the next request.
    long readAcking(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs,
                    std::size_t *overflow)
    {
        std::size_t got = 0;
        int wait = firstByteMs;
        while (got < capacity) {
            std::size_t n = 0;
            if (!ended(readBuffer(fd_, buffer + got, capacity - got, &n, wait, 0, overflow)))
                return -1;
            if (n == 0)
                break;
            got += n;
            if (got < capacity) {
                // 2: send the pending ACK now, keep delaying those after it.
                const int now = 2;
                ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &now, sizeof now);
            }
            wait = interByteMs > 0 ? interByteMs : 0;
        }
        return static_cast<long>(got);
    }

    std::string host_;
    int port_;
};

}  // namespace

std::unique_ptr<Port> openTcpClient(const std::string &host, int port, std::string *error)
{
    if (port <= 0 || port > 65535) {
        if (error)
            *error = "TCP port must be 1 to 65535";
        return nullptr;
    }
    auto p = std::make_unique<TcpClientPort>(host.empty() ? "127.0.0.1" : host, port);
    if (!p->connect(error))
        return nullptr;
    return p;
}

}  // namespace marovin_port
