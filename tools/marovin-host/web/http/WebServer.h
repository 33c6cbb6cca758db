// The web panel's HTTP server: limits, security headers, who may ask, and
// its threads. The routes are in web/routes.
#ifndef MAROVIN_HOST_WEB_HTTP_WEB_SERVER_H
#define MAROVIN_HOST_WEB_HTTP_WEB_SERVER_H

#include "web/WebContext.h"

#include <memory>
#include <string>

namespace marovin_host {

class WebServer {
public:
    explicit WebServer(WebContext &context);
    ~WebServer();
    // Binds and starts serving; false with a message when it cannot listen.
    bool start(std::string *error);
    // Stops accepting, ends the streams and waits for the threads.
    void stop();
    // Reads the HTTPS certificate and key again; false with why (the old ones kept).
    bool reloadCertificate(std::string *error);
    // The port it listens on (the one chosen when --http asked for any).
    int port() const { return port_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    WebContext &context_;
    int port_ = 0;
};

}  // namespace marovin_host

#endif
