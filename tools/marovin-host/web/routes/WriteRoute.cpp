// POST /api/write {"tag": T, "value": V}: checked here, sent by the loop,
// answered with the PLC's verdict. The request's thread waits for it.
#include "web/routes/Routes.h"

#include "json/JsonText.h"
#include "json/WritePayload.h"
#include "web/http/Access.h"
#include "writes/WriteCheck.h"

namespace marovin_host {

namespace {

// Long enough for a write behind a queue of others on a slow line.
const int kWriteWaitMs = 10000;

// The HTTP status of a refusal.
int httpStatus(WriteRefusal refusal)
{
    switch (refusal) {
    case WriteRefusal::UnknownTag:
        return 404;
    case WriteRefusal::NotWritable:
        return 403;
    case WriteRefusal::BadPayload:
        return 400;
    case WriteRefusal::QueueFull:
    case WriteRefusal::Stopping:
        return 503;
    default:
        return 422;
    }
}

// The write the request asks for, checked; a refusal when there is none.
WriteCheck checkRequest(WebContext &ctx, const httplib::Request &req, WriteRequest *out, nlohmann::json *value)
{
    bool twice = false;
    const nlohmann::json j = parseJsonText(req.body, &twice);
    if (twice)
        return refuseWrite(WriteRefusal::BadPayload, "a name is given twice");
    WriteValue given;
    if (!j.is_object() || j.size() != 2 || !j.contains("tag") || !j["tag"].is_string() || !j.contains("value") ||
        !writeValueOf(j["value"], &given))
        return refuseWrite(WriteRefusal::BadPayload, "expected {\"tag\": NAME, \"value\": NUMBER}");
    const std::string tag = j["tag"].get<std::string>();
    const long index = ctx.indexOf(tag);
    if (index < 0)
        return refuseWrite(WriteRefusal::UnknownTag, "unknown tag " + tag);
    const TagRow &row = ctx.rows[static_cast<std::size_t>(index)];
    if (!row.tag.writable)
        return refuseWrite(WriteRefusal::NotWritable, "tag " + tag + " is not writable (rw in the tag file)");
    *value = j["value"];
    return checkWrite(row, given, WritePolicy(), out);
}

// Checks, submits and waits; the status and body of the answer.
void write(WebContext &ctx, const httplib::Request &req, httplib::Response &res)
{
    const HttpOptions &o = ctx.options;
    if (!o.writes)
        return sendError(res, 403, "writes from the web are off (the host runs without --http-writes)");
    if (!o.token.empty() && !carriesToken(req, o.token))
        return askForToken(res, "writes need the token");
    // A browser sends this type across sites only after asking (which is never answered).
    if (req.get_header_value("Content-Type").compare(0, 16, "application/json") != 0)
        return sendError(res, 415, "Content-Type must be application/json");
    if (req.body.size() > kMaxWritePayload)
        return sendError(res, 413, "body longer than " + std::to_string(kMaxWritePayload) + " bytes");
    WriteRequest request;
    nlohmann::json value;
    const WriteCheck check = checkRequest(ctx, req, &request, &value);
    if (!check.ok())
        return sendError(res, httpStatus(check.refusal), check.text);
    const std::string tag = request.label;
    // A bit answers as it was asked (true/false or 0/1); a number as written, on the tag's raw step.
    if (!value.is_boolean())
        value = numberJson(request.written);
    WriteResult result;
    switch (ctx.writes.submitAndWait(std::move(request), kWriteWaitMs, &result)) {
    case WebWriteSource::Wait::QueueFull:
        return sendError(res, 503, "the write queue is full");
    case WebWriteSource::Wait::Closed:
        return sendError(res, 503, "the run ended");
    case WebWriteSource::Wait::TimedOut:
        return sendError(res, 504, "no answer from the PLC within 10 s; the write may still be sent");
    case WebWriteSource::Wait::Answered:
        break;
    }
    if (!result.ok())
        return sendError(res, 502, result.text);
    sendJson(res, 200, {{"tag", tag}, {"value", value}, {"result", result.text}});
}

}  // namespace

void addWriteRoute(httplib::Server &server, WebContext &ctx)
{
    server.Post("/api/write", [&ctx](const httplib::Request &req, httplib::Response &res) { write(ctx, req, res); });
}

}  // namespace marovin_host
