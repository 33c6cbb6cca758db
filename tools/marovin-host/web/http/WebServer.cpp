// Every request passes the access check before its route; every answer
// carries the security headers; sizes, waits and threads are bounded.
#include "web/http/WebServer.h"

#include "web/http/Access.h"
#include "web/http/BoundedServer.h"
#include "web/http/HttpWorkers.h"
#include "web/http/Tls.h"
#include "util/StopSignals.h"
#include "web/routes/Routes.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

namespace marovin_host {

namespace {

const std::size_t kThreads = 16;  // at most 8 of them hold event streams
const std::size_t kQueuedConnections = 16;
const std::size_t kMaxBody = 1024;
const time_t kIoTimeoutS = 5;
const time_t kKeepAliveS = 2;

// The page loads its script and style from here only, and may not be framed.
httplib::Headers securityHeaders()
{
    return {{"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src-elem 'self'; style-src-attr 'unsafe-inline'; "
             "img-src 'self' data:; connect-src 'self'; base-uri 'none'; form-action 'none'; "
             "frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"X-Frame-Options", "DENY"},
            {"Referrer-Policy", "no-referrer"},
            {"Cache-Control", "no-store"}};
}

// SO_REUSEADDR only (httplib's default would let another process share the
// port), and not inherited by the simulator the host starts.
void listenSocketOptions(int fd)
{
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

struct WebServer::Impl {
    BoundedServer server{kIoTimeoutS, kKeepAliveS, static_cast<int>(kThreads)};
    std::unique_ptr<TlsContext> tls;
    std::thread thread;
};

WebServer::WebServer(WebContext &context) : impl_(new Impl), context_(context) {}

WebServer::~WebServer()
{
    stop();
}

bool WebServer::start(std::string *error)
{
    httplib::Server &s = impl_->server;
    WebContext &ctx = context_;
    s.new_task_queue = [] { return new HttpWorkers(kThreads, kQueuedConnections); };
    s.set_socket_options(listenSocketOptions);
    s.set_payload_max_length(kMaxBody);
    // Waits are kept by BoundedServer's streams; these two go into the Keep-Alive header.
    s.set_keep_alive_timeout(kKeepAliveS);
    s.set_keep_alive_max_count(BoundedServer::kRequestsPerConnection);
    s.set_default_headers(securityHeaders());
    s.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        sendError(res, 500, "internal error");
    });
    // What the server answers by itself (no such path, a request too large)
    // gets a body in the API's words too, not an empty one.
    s.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &req, httplib::Response &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        const int st = res.status;
        sendError(res, st, st == 404 ? "nothing at " + req.method + " " + req.path
                           : st == 413 ? "request too large" : st == 400 ? "bad request" : "request refused");
        return httplib::Server::HandlerResponse::Handled;
    }));
    s.set_pre_routing_handler([this, &ctx](const httplib::Request &req, httplib::Response &res) {
        // httplib would cut every answer to the ranges asked, each part built in
        // memory (thousands in one small request): answers go whole, as a server
        // may always send them. The request is the server's own, not a constant.
        const_cast<httplib::Request &>(req).ranges.clear();
        const HttpOptions &o = ctx.options;
        if (o.loopback && !loopbackHostAllowed(req.get_header_value("Host"), o.host, port_)) {
            sendError(res, 403, "unexpected Host header");
            return httplib::Server::HandlerResponse::Handled;
        }
        // The page opened with ?token=T keeps the token in a cookie for its requests.
        if (req.path == "/" && req.has_param("token") && sameToken(req.get_param_value("token"), o.token)) {
            res.set_header("Set-Cookie", tokenCookie(o.token, o.tls()));
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (!o.loopback && !carriesToken(req, o.token)) {
            askForToken(res, "this server needs its token: open /?token=T, or send Authorization: Bearer T");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    addReadRoutes(s, ctx);
    addEventRoute(s, ctx);
    addWriteRoute(s, ctx);

    const HttpOptions &o = ctx.options;
    if (o.tls()) {
        impl_->tls.reset(new TlsContext(o.certFile, o.keyFile));
        if (!impl_->tls->load(error))
            return false;
        impl_->server.useTls(impl_->tls.get());
        installReloadSignal();
    }
    port_ = o.port == 0 ? s.bind_to_any_port(o.host) : (s.bind_to_port(o.host, o.port) ? o.port : -1);
    if (port_ <= 0) {
        *error = "--http: cannot listen on " + o.listen + " (port in use, or not an address of this machine)";
        return false;
    }
    // The server's threads leave Ctrl-C and SIGTERM to the loop's thread.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    impl_->thread = std::thread([&s] { s.listen_after_bind(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    // stop() does nothing before the server runs: wait for it.
    for (int i = 0; i < 2000 && !s.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

bool WebServer::reloadCertificate(std::string *error)
{
    return !impl_->tls || impl_->tls->load(error);
}

void WebServer::stop()
{
    if (!impl_->thread.joinable())
        return;
    context_.feed.close();
    context_.writes.close();
    impl_->server.stopping();
    impl_->server.stop();
    impl_->thread.join();
}

}  // namespace marovin_host
