// The store's part of the panel's answers (with --store).
#ifndef MAROVIN_HOST_WEB_ROUTES_STORE_ROUTES_H
#define MAROVIN_HOST_WEB_ROUTES_STORE_ROUTES_H

#include "store/Outbox.h"
#include "web/WebContext.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace marovin_host {

// The points of /api/history for the tag at index: with from or to (ms since
// 1970) from the store when there is one, decimated; otherwise the samples
// in memory. The HTTP status; *points holds the message when not 200.
int historyJson(const WebContext &context, long index, const httplib::Request &req, nlohmann::json *points);
// {"on_disk", "kept", "dropped", "not_kept", "backlog": {consumer: {"values", "oldest_s"}}}.
nlohmann::json storeStatusJson(const Outbox &store);
// The marovin_store_ metrics.
std::string storeMetricsText(const Outbox &store);

}  // namespace marovin_host

#endif
