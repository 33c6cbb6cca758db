// cpp-httplib's server with a budget per request: at most kRequestBytes read
// and kRequestMs to arrive, or kBusyRequestMs while most threads are taken. A
// connection whose request did not arrive in time is closed. cpp-httplib 0.11
// reads any number of header lines and keeps a connection after a bad
// request, so without this one client could fill the host's memory, and a
// few slow ones could hold every thread.
#ifndef MAROVIN_HOST_WEB_HTTP_BOUNDED_SERVER_H
#define MAROVIN_HOST_WEB_HTTP_BOUNDED_SERVER_H

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <ctime>


namespace marovin_host {

class TlsContext;

class BoundedServer : public httplib::Server {
public:
    static const std::size_t kRequestBytes = 64 * 1024;
    static const long long kRequestMs = 10000;
    static const long long kBusyRequestMs = 2000;
    static const std::size_t kRequestsPerConnection = 100;

    // The waits of reading a request, sending an answer, and an idle
    // connection; threads: how many serve connections.
    BoundedServer(time_t ioSeconds, time_t keepAliveSeconds, int threads)
        : ioSeconds_(ioSeconds), keepAliveSeconds_(keepAliveSeconds), threads_(threads)
    {
    }
    // Ends every wait of a connection at once; then stop().
    void stopping() { stopping_.store(true); }
    // Connections speak TLS with the context's certificate (set before listening).
    void useTls(TlsContext *tls) { tls_ = tls; }

private:
    // The keep-alive loop of cpp-httplib, on a stream that keeps the budget.
    bool process_and_close_socket(socket_t sock) override;
    const time_t ioSeconds_;
    const time_t keepAliveSeconds_;
    const int threads_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0};  // connections being served
    TlsContext *tls_ = nullptr;
};

}  // namespace marovin_host

#endif
