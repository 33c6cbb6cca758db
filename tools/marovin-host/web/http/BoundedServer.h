// cpp-httplib's server with a budget per request: at most kRequestBytes read
// and kRequestSeconds to arrive. cpp-httplib 0.11 reads any number of header
// lines, so without it one client could fill the host's memory.
#ifndef MAROVIN_HOST_WEB_HTTP_BOUNDED_SERVER_H
#define MAROVIN_HOST_WEB_HTTP_BOUNDED_SERVER_H

#include <httplib.h>

#include <cstddef>
#include <ctime>

namespace marovin_host {

class BoundedServer : public httplib::Server {
public:
    static const std::size_t kRequestBytes = 64 * 1024;
    static const long long kRequestMs = 10000;
    static const std::size_t kRequestsPerConnection = 100;

    // The waits of reading a request, sending an answer, and an idle connection.
    BoundedServer(time_t ioSeconds, time_t keepAliveSeconds) : ioSeconds_(ioSeconds), keepAliveSeconds_(keepAliveSeconds)
    {
    }

private:
    // The keep-alive loop of cpp-httplib, on a stream that keeps the budget.
    bool process_and_close_socket(socket_t sock) override;

    const time_t ioSeconds_;
    const time_t keepAliveSeconds_;
};

}  // namespace marovin_host

#endif
