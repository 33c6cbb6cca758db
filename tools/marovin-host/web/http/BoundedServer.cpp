#include "web/http/BoundedServer.h"

#include "util/Clock.h"
#include "web/http/Tls.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cerrno>

namespace marovin_host {

namespace {

// A stop is noticed within this, whatever a connection waits for.
const long long kSliceMs = 100;
// Threads kept for quick requests: with fewer free, requests must come quicker.
const int kSpareThreads = 4;

// Whether the socket becomes ready for events within ms milliseconds; false
// at once when the server is stopping.
bool ready(int fd, short events, long long ms, const std::atomic<bool> &stopping)
{
    const long long end = monotonicMs() + std::max(0LL, ms);
    for (;;) {
        if (stopping.load(std::memory_order_relaxed))
            return false;
        pollfd p{fd, events, 0};
        const long long left = end - monotonicMs();
        const int n = ::poll(&p, 1, static_cast<int>(std::max(0LL, std::min(left, kSliceMs))));
        if (n > 0)
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if ((n < 0 && errno != EINTR) || left <= kSliceMs)
            return false;
    }
}

// The address and port of a socket name.
void addressOf(const sockaddr_storage &a, std::string &ip, int &port)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(&a);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&a);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

// A connection's socket; reading stops when the request's budget is spent.
class BudgetStream : public httplib::Stream {
public:
    // busy: whether most threads are taken, asked anew at each wait.
    BudgetStream(int fd, time_t ioSeconds, const std::atomic<bool> &stopping, std::function<bool()> busy)
        : fd_(fd), ioMs_(static_cast<long long>(ioSeconds) * 1000), stopping_(stopping), busy_(std::move(busy))
    {
    }
    void newRequest()
    {
        left_ = BoundedServer::kRequestBytes;
        startMs_ = monotonicMs();
        spent_ = false;
    }
    // Reads and writes go through the connection's TLS session from now on.
    void useTls(TlsSession *tls) { tls_ = tls; }
    // Whether a read ran out of the request's bytes or time: the connection is closed then.
    bool spent() const { return spent_; }
    // What is left of the request's time, at most the wait of one read.
    long long readWaitMs() const
    {
        const long long budget = busy_() ? BoundedServer::kBusyRequestMs : BoundedServer::kRequestMs;
        return std::min(ioMs_, startMs_ + budget - monotonicMs());
    }
    bool is_readable() const override
    {
        return (tls_ && tls_->pending()) || ready(fd_, POLLIN, readWaitMs(), stopping_);
    }
    bool is_writable() const override { return ready(fd_, POLLOUT, ioMs_, stopping_); }
    ssize_t read(char *ptr, size_t size) override
    {
        if (left_ != 0 && tls_) {
            const ssize_t n = tls_->read(ptr, std::min(size, left_), readWaitMs(), waiter());
            spent_ = n <= 0;
            left_ -= n > 0 ? static_cast<std::size_t>(n) : 0;
            return n;
        }
        if (left_ == 0 || !is_readable()) {
            spent_ = true;
            return -1;
        }
        ssize_t n;
        do {
            n = ::recv(fd_, ptr, std::min(size, left_), 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            left_ -= static_cast<std::size_t>(n);
        return n;
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        if (tls_)
            return tls_->write(ptr, size, ioMs_, waiter());
        if (!is_writable())
            return -1;
        ssize_t n;
        do {
            n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        if (getpeername(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            addressOf(a, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        if (getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            addressOf(a, ip, port);
    }
    socket_t socket() const override { return fd_; }
    // Waits of the TLS session, bounded and cut short by a stop like the others.
    SocketWait waiter() const
    {
        return [this](short events, long long ms) { return ready(fd_, events, ms, stopping_); };
    }

private:
    const int fd_;
    const long long ioMs_;
    const std::atomic<bool> &stopping_;
    const std::function<bool()> busy_;
    TlsSession *tls_ = nullptr;
    std::size_t left_ = 0;
    long long startMs_ = 0;
    bool spent_ = false;
};

}  // namespace

bool BoundedServer::process_and_close_socket(socket_t sock)
{
    ++open_;
    BudgetStream stream(sock, ioSeconds_, stopping_, [this] {
        return open_.load(std::memory_order_relaxed) > threads_ - kSpareThreads;
    });
    bool ok = false;
    std::size_t requests = kRequestsPerConnection;
    std::unique_ptr<TlsSession> tls;
    if (tls_) {
        tls.reset(new TlsSession(tls_->newSession()));
        stream.newRequest();
        if (!tls->accept(sock, stream.readWaitMs(), stream.waiter()))
            requests = 0;
        stream.useTls(tls.get());
    }
    for (std::size_t left = requests; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
        if (!ready(sock, POLLIN, static_cast<long long>(keepAliveSeconds_) * 1000, stopping_))
            break;
        stream.newRequest();
        bool closed = false;
        ok = process_request(stream, left == 1, closed, [](httplib::Request &) {});
        if (!ok || closed || stream.spent())
            break;
    }
    --open_;
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

}  // namespace marovin_host
