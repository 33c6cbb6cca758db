#include "web/http/Tls.h"

#include "util/Clock.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <fcntl.h>
#include <poll.h>

#include <climits>

namespace marovin_host {

namespace {

// The last OpenSSL error in words, and the queue emptied.
std::string sslError()
{
    char text[256] = "";
    unsigned long last = 0;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        last = e;
    if (last)
        ERR_error_string_n(last, text, sizeof text);
    return text;
}

}  // namespace

TlsContext::~TlsContext()
{
    SSL_CTX_free(ctx_);
}

bool TlsContext::load(std::string *error)
{
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        *error = "TLS: " + sslError();
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile_.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, keyFile_.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        *error = "--http-cert " + certFile_ + ", --http-key " + keyFile_ + ": " + sslError();
        SSL_CTX_free(ctx);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    SSL_CTX_free(ctx_);
    ctx_ = ctx;
    return true;
}

SSL *TlsContext::newSession()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ctx_ ? SSL_new(ctx_) : nullptr;
}

TlsSession::~TlsSession()
{
    if (ssl_) {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
    }
}

bool TlsSession::retry(int rc, long long endMs, const SocketWait &wait)
{
    // One wait for the whole call: a peer that sends a byte now and then must
    // not begin it again with each record it leaves unfinished.
    const long long waitMs = endMs - monotonicMs();
    if (waitMs <= 0) {
        ERR_clear_error();
        return false;
    }
    switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
        return wait(POLLIN, waitMs);
    case SSL_ERROR_WANT_WRITE:
        return wait(POLLOUT, waitMs);
    default:
        ERR_clear_error();
        return false;
    }
}

bool TlsSession::accept(int fd, long long waitMs, const SocketWait &wait)
{
    if (!ssl_ || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 || SSL_set_fd(ssl_, fd) != 1)
        return false;
    const long long endMs = monotonicMs() + waitMs;
    for (;;) {
        const int rc = SSL_accept(ssl_);
        if (rc == 1)
            return true;
        if (!retry(rc, endMs, wait))
            return false;
    }
}

ssize_t TlsSession::read(char *ptr, std::size_t size, long long waitMs, const SocketWait &wait)
{
    const long long endMs = monotonicMs() + waitMs;
    const int n = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    for (;;) {
        const int rc = SSL_read(ssl_, ptr, n);
        if (rc > 0)
            return rc;
        if (!retry(rc, endMs, wait))
            return -1;
    }
}

ssize_t TlsSession::write(const char *ptr, std::size_t size, long long waitMs, const SocketWait &wait)
{
    const long long endMs = monotonicMs() + waitMs;
    const int n = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    for (;;) {
        const int rc = SSL_write(ssl_, ptr, n);
        if (rc > 0)
            return rc;
        if (!retry(rc, endMs, wait))
            return -1;
    }
}

bool TlsSession::pending() const
{
    return SSL_pending(ssl_) > 0;
}

}  // namespace marovin_host
