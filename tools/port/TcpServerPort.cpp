// A listening TCP port that serves one client at a time: the simulator's
// side of a TCP link.
#include "PortIo.h"

namespace marovin_port {

namespace {

using namespace detail;

class ListeningPort : public TcpServerPort {
public:
    ListeningPort(std::string host, int port) : host_(std::move(host)), port_(port) {}
    ~ListeningPort() override
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

}  // namespace

std::unique_ptr<TcpServerPort> openTcpServer(const std::string &host, int port, std::string *error)
{
    if (port < 0 || port > 65535) {
        if (error)
            *error = "TCP port must be 0 to 65535";
        return nullptr;
    }
    auto p = std::make_unique<ListeningPort>(host.empty() ? "127.0.0.1" : host, port);
    if (!p->listen(error))
        return nullptr;
    return p;
}

}  // namespace marovin_port
