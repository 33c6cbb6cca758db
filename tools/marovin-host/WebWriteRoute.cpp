// POST /api/write {"tag": T, "value": V}: checked here, sent by the loop,
// answered with the PLC's verdict. The request's thread waits for it.
#include "WebAccess.h"
#include "WebRoutes.h"

namespace marovin_host {

namespace {

// Long enough for a write behind a queue of others on a slow line.
const int kWriteWaitMs = 10000;

// Checks, submits and waits; the status and body of the answer.
void write(WebContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const HttpOptions &o = ctx.options;
    if (!o.writes)
        return sendError(res, 403, "writes from the web are off (the host runs without --http-writes)");
    if (!o.token.empty() &&
        !sameToken(presentedToken(req.get_header_value("Authorization"), req.get_header_value("Cookie")), o.token)) {
        res.set_header("WWW-Authenticate", "Bearer");
        return sendError(res, 401, "writes need the token");
    }
    // A browser sends this type across sites only after asking (which is never answered).
    if (req.get_header_value("Content-Type").compare(0, 16, "application/json") != 0)
        return sendError(res, 415, "Content-Type must be application/json");
    if (req.body.size() > kMaxWritePayload)
        return sendError(res, 413, "body longer than " + std::to_string(kMaxWritePayload) + " bytes");
    const nlohmann::json j = nlohmann::json::parse(req.body, nullptr, false);
    if (!j.is_object() || j.size() != 2 || !j.contains("tag") || !j["tag"].is_string() || !j.contains("value") ||
        !(j["value"].is_number() || j["value"].is_boolean()))
        return sendError(res, 400, "expected {\"tag\": NAME, \"value\": NUMBER}");
    const std::string tag = j["tag"].get<std::string>();
    const long index = ctx.indexOf(tag);
    if (index < 0)
        return sendError(res, 404, "unknown tag " + tag);
    const ValueRow &row = ctx.rows[index];
    if (!row.tag.writable)
        return sendError(res, 403, "tag " + tag + " is not writable (rw in the tag file)");
    WriteRequest request;
    std::string error;
    if (!tagWriteRequest(row, j["value"], &request, &error))
        return sendError(res, 422, error);
    WriteResult result;
    switch (ctx.writes.submitAndWait(std::move(request), kWriteWaitMs, &result)) {
    case WebWrites::Wait::QueueFull:
        return sendError(res, 503, "the write queue is full");
    case WebWrites::Wait::Closed:
        return sendError(res, 503, "the run ended");
    case WebWrites::Wait::TimedOut:
        return sendError(res, 504, "no answer from the PLC within 10 s; the write may still be sent");
    case WebWrites::Wait::Answered:
        break;
    }
    if (!result.ok())
        return sendError(res, 502, result.text);
    sendJson(res, 200, {{"tag", tag}, {"value", j["value"]}, {"result", result.text}});
}

}  // namespace

void addWriteRoute(httplib::Server &server, WebContext &ctx)
{
    server.Post("/api/write", [&ctx](const httplib::Request &req, httplib::Response &res) { write(ctx, req, res); });
}

}  // namespace marovin_host
