#include "Port.h"

#include "MonotonicClock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

namespace marovin_port {

namespace {

// How long a write may stall (peer not reading) before the link counts as failed.
constexpr int kWriteStallMs = 2000;
constexpr int kConnectTimeoutMs = 3000;
// The most a read of unknown length takes.
constexpr std::size_t kReadLimit = 65536;

// Text of errno with a prefix.
std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// Closes *fd if open and marks it closed.
void closeFd(int *fd)
{
    if (*fd >= 0) {
        ::close(*fd);
        *fd = -1;
    }
}

// Puts an fd into non-blocking, close-on-exec mode.
bool makeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    const int fdFlags = ::fcntl(fd, F_GETFD);
    return fdFlags >= 0 && ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) >= 0;
}

// Milliseconds left until deadline, for poll(): 0 once it has passed.
int msLeft(long long deadline)
{
    const long long left = deadline - monotonicMs();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// poll() on one fd for `events` until the deadline (-1: none), retrying on
// EINTR. Returns 1 ready, 0 timed out, -1 error; *revents gets the events.
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

enum class ReadEnd { Done, Failed, Closed };

// What is left of a wait of waitMs (< 0: without limit) that a signal or a
// wake-up with nothing to read cut short; *deadline (< 0 until then) is taken
// from the clock the first time, so the rest counts from that moment.
int resumedWait(int waitMs, long long *deadline)
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
// kReadLimit bytes: a peer that never pauses must not hold the reader.
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

// Writes what is left after a first write that did not take every byte,
// waiting while the peer is slow.
[[gnu::noinline]] bool writeRest(int fd, const std::uint8_t *bytes, std::size_t count, std::size_t done, bool socket)
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

struct BaudEntry {
    int rate;
    speed_t code;
};

// termios speed codes of this system.
const std::vector<BaudEntry> &baudTable()
{
    static const std::vector<BaudEntry> table = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
        {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
        {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B500000
        {500000, B500000},
#endif
#ifdef B576000
        {576000, B576000},
#endif
#ifdef B921600
        {921600, B921600},
#endif
#ifdef B1000000
        {1000000, B1000000},
#endif
#ifdef B1152000
        {1152000, B1152000},
#endif
#ifdef B1500000
        {1500000, B1500000},
#endif
#ifdef B2000000
        {2000000, B2000000},
#endif
#ifdef B2500000
        {2500000, B2500000},
#endif
#ifdef B3000000
        {3000000, B3000000},
#endif
#ifdef B3500000
        {3500000, B3500000},
#endif
#ifdef B4000000
        {4000000, B4000000},
#endif
    };
    return table;
}

// Resolves host:port for a stream socket; null host means any address.
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

// Local port of a socket, 0 if unknown.
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

// Disables Nagle's delay: frames are tiny and latency matters.
void setNoDelay(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// ---------------------------------------------------------------------------

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

class SerialPort : public FdPort {
public:
    SerialPort(std::string device, SerialOptions options) : device_(std::move(device)), options_(options) {}

    // Opens and configures the device; false with a message on failure.
    bool open(std::string *error)
    {
        closeFd(&fd_);
        speed_t speed = 0;
        bool found = false;
        for (const BaudEntry &e : baudTable())
            if (e.rate == options_.baud) {
                speed = e.code;
                found = true;
            }
        if (!found)
            return fail(error, "unsupported baud rate " + std::to_string(options_.baud));
        if (options_.dataBits < 5 || options_.dataBits > 8)
            return fail(error, "data bits must be 5 to 8");
        if (options_.stopBits != 1 && options_.stopBits != 2)
            return fail(error, "stop bits must be 1 or 2");
        const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(options_.parity)));
        if (parity != 'N' && parity != 'E' && parity != 'O')
            return fail(error, "parity must be N, E or O");

        fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return fail(error, errnoText("cannot open " + device_));
        termios tio{};
        if (::tcgetattr(fd_, &tio) != 0) {
            const std::string why = errnoText(device_ + " is not a serial device");
            closeFd(&fd_);
            return fail(error, why);
        }
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_cflag |= CLOCAL | CREAD;
        switch (options_.dataBits) {
        case 5: tio.c_cflag |= CS5; break;
        case 6: tio.c_cflag |= CS6; break;
        case 7: tio.c_cflag |= CS7; break;
        default: tio.c_cflag |= CS8; break;
        }
        if (parity != 'N')
            tio.c_cflag |= PARENB | (parity == 'O' ? PARODD : 0);
        if (options_.stopBits == 2)
            tio.c_cflag |= CSTOPB;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
            ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
            const std::string why = errnoText("cannot configure " + device_);
            closeFd(&fd_);
            return fail(error, why);
        }
        if (options_.rs485) {
            serial_rs485 rs{};
            rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            if (::ioctl(fd_, TIOCSRS485, &rs) != 0) {
                const std::string why = errnoText("cannot switch " + device_ + " to RS-485");
                closeFd(&fd_);
                return fail(error, why);
            }
        }
        ::tcflush(fd_, TCIOFLUSH);
        return true;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        return writeAll(fd_, bytes, count, false);
    }

    std::size_t flushInput() override
    {
        if (fd_ >= 0)
            ::tcflush(fd_, TCIFLUSH);
        return drain(fd_);
    }

    bool reopen() override { return open(nullptr); }

    std::string describe() const override
    {
        std::string s = device_ + " " + std::to_string(options_.baud) + " " + std::to_string(options_.dataBits) +
                        static_cast<char>(std::toupper(static_cast<unsigned char>(options_.parity))) +
                        std::to_string(options_.stopBits);
        if (options_.rs485)
            s += " rs485";
        return s;
    }

    double bytesPerSecond() const override
    {
        return static_cast<double>(options_.baud) / bitsPerCharacter(options_);
    }

private:
    // Stores a message and reports failure.
    static bool fail(std::string *error, const std::string &message)
    {
        if (error)
            *error = message;
        return false;
    }

    std::string device_;
    SerialOptions options_;
};

// ---------------------------------------------------------------------------

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
    int localPort() const override { return socketPort(fd_); }

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

// ---------------------------------------------------------------------------

class TcpServerPort : public Port {
public:
    TcpServerPort(std::string host, int port) : host_(std::move(host)), port_(port) {}
    ~TcpServerPort() override
    {
        closeFd(&client_);
        closeFd(&listen_);
    }

    // Binds and listens on the first address that allows it.
    bool listen(std::string *error)
    {
        closeFd(&client_);
        closeFd(&listen_);
        addrinfo *list = resolve(host_, port_, true, error);
        if (!list)
            return false;
        std::string lastError = "cannot listen on " + host_ + ":" + std::to_string(port_);
        for (addrinfo *ai = list; ai && listen_ < 0; ai = ai->ai_next) {
            int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
            if (fd < 0)
                continue;
            int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
                lastError = errnoText("cannot listen on " + host_ + ":" + std::to_string(port_));
                ::close(fd);
                continue;
            }
            listen_ = fd;
        }
        ::freeaddrinfo(list);
        if (listen_ < 0 && error)
            *error = lastError;
        if (listen_ >= 0 && port_ == 0)
            port_ = socketPort(listen_);
        return listen_ >= 0;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        if (client_ < 0)
            return false;
        if (writeAll(client_, bytes, count, true))
            return true;
        closeFd(&client_);
        return false;
    }

    bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) override
    {
        out.clear();
        if (!haveClient(&firstByteMs))
            return listen_ >= 0;
        ended(readLoop(client_, out, wanted, firstByteMs, interByteMs));
        return true;
    }

    long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) override
    {
        if (!haveClient(&firstByteMs))
            return listen_ >= 0 ? 0 : -1;
        std::size_t count;
        ended(readBuffer(client_, buffer, capacity, &count, firstByteMs, interByteMs, &discarded_));
        return static_cast<long>(count);
    }

    std::size_t flushInput() override { return drain(client_); }

    bool reopen() override { return listen_ >= 0 || listen(nullptr); }
    bool isOpen() const override { return listen_ >= 0; }
    bool hasPeer() const override { return client_ >= 0; }
    unsigned long connections() const override { return connections_; }
    std::string describe() const override { return "tcp server " + host_ + ":" + std::to_string(port_); }
    int fd() const override { return client_ >= 0 ? client_ : listen_; }
    int localPort() const override { return socketPort(listen_); }

private:
    // Accepts a client if none is connected, within *firstByteMs, which then
    // keeps what is left of it for the first byte; false without a client.
    bool haveClient(int *firstByteMs)
    {
        if (listen_ < 0)
            return false;
        if (client_ >= 0)
            return true;
        const long long deadline = *firstByteMs < 0 ? -1 : monotonicMs() + *firstByteMs;
        if (!acceptClient(deadline))
            return false;
        if (*firstByteMs >= 0)
            *firstByteMs = msLeft(deadline);
        return true;
    }

    // A client that goes away is no failure of the server: the next read
    // waits for the next client.
    void ended(ReadEnd end)
    {
        if (end != ReadEnd::Done)
            closeFd(&client_);
    }

    // Waits for a client until the deadline; true once one is connected.
    bool acceptClient(long long deadline)
    {
        for (;;) {
            short revents = 0;
            const int r = waitFor(listen_, POLLIN, deadline, &revents);
            if (r < 0) {
                closeFd(&listen_);
                return false;
            }
            if (r == 0)
                return false;
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                setNoDelay(fd);
                client_ = fd;
                ++connections_;
                return true;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                return false;
        }
    }

    std::string host_;
    int port_;
    int listen_ = -1;
    int client_ = -1;
    unsigned long connections_ = 0;
};

// ---------------------------------------------------------------------------

class PtyPort : public Port {
public:
    ~PtyPort() override
    {
        closeFd(&slave_);
        closeFd(&master_);
    }

    // Creates the pair, holds the slave open and puts it in raw mode.
    bool open(std::string *slavePath, std::string *error)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0)
            return fail(error, errnoText("posix_openpt"));
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return fail(error, errnoText("cannot unlock the pseudo-terminal"));
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            return fail(error, errnoText("ptsname"));
        path_ = name;
        // Holding the slave open keeps the master from reading EIO before the
        // first peer opens it and between peers.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0)
            return fail(error, errnoText("cannot open " + path_));
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0)
            return fail(error, errnoText("tcgetattr " + path_));
        ::cfmakeraw(&tio);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
            return fail(error, errnoText("tcsetattr " + path_));
        if (!makeNonBlocking(master_))
            return fail(error, errnoText("fcntl"));
        if (slavePath)
            *slavePath = path_;
        return true;
    }

    bool write(const std::uint8_t *bytes, std::size_t count) override
    {
        return writeAll(master_, bytes, count, false);
    }

    bool read(std::vector<std::uint8_t> &out, int wanted, int firstByteMs, int interByteMs) override
    {
        return readLoop(master_, out, wanted, firstByteMs, interByteMs) == ReadEnd::Done;
    }

    long readInto(std::uint8_t *buffer, std::size_t capacity, int firstByteMs, int interByteMs) override
    {
        std::size_t count;
        return readBuffer(master_, buffer, capacity, &count, firstByteMs, interByteMs, &discarded_) == ReadEnd::Done
                   ? static_cast<long>(count)
                   : -1;
    }

    std::size_t flushInput() override { return drain(master_); }
    bool reopen() override { return master_ >= 0; }
    bool isOpen() const override { return master_ >= 0; }
    std::string describe() const override { return "pty " + path_; }
    int fd() const override { return master_; }

private:
    // Stores a message, closes what was opened and reports failure.
    bool fail(std::string *error, const std::string &message)
    {
        if (error)
            *error = message;
        closeFd(&slave_);
        closeFd(&master_);
        return false;
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace

const std::vector<int> &supportedBaudRates()
{
    static const std::vector<int> rates = [] {
        std::vector<int> r;
        for (const BaudEntry &e : baudTable())
            r.push_back(e.rate);
        return r;
    }();
    return rates;
}

int bitsPerCharacter(const SerialOptions &options)
{
    const int parityBits = (options.parity == 'N' || options.parity == 'n') ? 0 : 1;
    return 1 + options.dataBits + parityBits + options.stopBits;
}

std::unique_ptr<Port> openSerial(const std::string &device, const SerialOptions &options, std::string *error)
{
    auto port = std::make_unique<SerialPort>(device, options);
    if (!port->open(error))
        return nullptr;
    return port;
}

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

std::unique_ptr<Port> openTcpServer(const std::string &host, int port, std::string *error)
{
    if (port < 0 || port > 65535) {
        if (error)
            *error = "TCP port must be 0 to 65535";
        return nullptr;
    }
    auto p = std::make_unique<TcpServerPort>(host.empty() ? "127.0.0.1" : host, port);
    if (!p->listen(error))
        return nullptr;
    return p;
}

std::unique_ptr<Port> openPtyMaster(std::string *slavePath, std::string *error)
{
    auto p = std::make_unique<PtyPort>();
    if (!p->open(slavePath, error))
        return nullptr;
    return p;
}

}  // namespace marovin_port
