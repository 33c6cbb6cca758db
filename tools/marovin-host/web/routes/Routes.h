// The web server's routes, by concern; all run on the server's threads and
// read only what the loop published in the context.
#ifndef MAROVIN_HOST_WEB_ROUTES_ROUTES_H
#define MAROVIN_HOST_WEB_ROUTES_ROUTES_H

#include "web/WebContext.h"

#include <httplib.h>

namespace marovin_host {

// The page's files, /api/tags, /api/history, /api/status, /api/trace and /metrics.
void addReadRoutes(httplib::Server &server, WebContext &context);
// /api/events: Server-Sent Events of refreshes, notices and link changes.
void addEventRoute(httplib::Server &server, WebContext &context);
// POST /api/write, answered once the PLC acknowledged the write.
void addWriteRoute(httplib::Server &server, WebContext &context);

// A JSON answer.
void sendJson(httplib::Response &res, int status, const nlohmann::json &body);
// {"error": text} with the status.
void sendError(httplib::Response &res, int status, const std::string &text);

}  // namespace marovin_host

#endif
