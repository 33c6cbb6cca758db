// The panel's TLS (--http-cert, --http-key): the server's certificate, which
// SIGHUP loads again, and a TLS session per connection whose waits are
// bounded like those of a plain one.
#ifndef MAROVIN_HOST_WEB_HTTP_TLS_H
#define MAROVIN_HOST_WEB_HTTP_TLS_H

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace marovin_host {

class TlsContext {
public:
    TlsContext(std::string certFile, std::string keyFile) : certFile_(std::move(certFile)), keyFile_(std::move(keyFile)) {}
    ~TlsContext();
    // Reads the certificate (chain) and its key; the sessions begun after it
    // use them. False with a message, the old ones kept, when they do not do.
    bool load(std::string *error);
    // A new session's TLS object, or null.
    SSL *newSession();

private:
    const std::string certFile_;
    const std::string keyFile_;
    std::mutex mutex_;
    SSL_CTX *ctx_ = nullptr;
};

// Waits for a socket: the events and the longest wait; false when not ready in time.
using SocketWait = std::function<bool(short events, long long ms)>;

class TlsSession {
public:
    explicit TlsSession(SSL *ssl) : ssl_(ssl) {}
    ~TlsSession();
    TlsSession(const TlsSession &) = delete;
    TlsSession &operator=(const TlsSession &) = delete;
    // The handshake on fd (made non-blocking), within waitMs.
    bool accept(int fd, long long waitMs, const SocketWait &wait);
    // Like recv and send: bytes, or -1 when the peer went or the wait ran out.
    ssize_t read(char *ptr, std::size_t size, long long waitMs, const SocketWait &wait);
    ssize_t write(const char *ptr, std::size_t size, long long waitMs, const SocketWait &wait);
    // Whether decrypted bytes wait that the socket does not show.
    bool pending() const;

private:
    // Whether an operation that returned rc may be tried again after waiting
    // (until endMs at most).
    bool retry(int rc, long long endMs, const SocketWait &wait);
    SSL *ssl_;
};

}  // namespace marovin_host

#endif
