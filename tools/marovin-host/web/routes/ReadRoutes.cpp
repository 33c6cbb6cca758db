// Everything a browser or a scraper reads: made from the latest snapshot.
#include "web/routes/Routes.h"

#include "json/JsonText.h"
#include "json/TagStateJson.h"
#include "util/Clock.h"
#include "web/WebTagJson.h"
#include "web/page/Assets.h"
#include "web/routes/MetricsText.h"
#include "web/routes/StoreRoutes.h"

#include <cctype>
#include <cstdlib>

namespace marovin_host {

namespace {

// The path as a regular expression that matches only itself.
std::string exactPattern(const std::string &path)
{
    std::string out;
    for (char c : path) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '/')
            out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

void sendJson(httplib::Response &res, int status, const nlohmann::json &body)
{
    res.status = status;
    res.set_content(jsonText(body), "application/json");
}

void sendError(httplib::Response &res, int status, const std::string &text)
{
    sendJson(res, status, {{"error", text}});
}

void addReadRoutes(httplib::Server &server, WebContext &ctx)
{
    for (std::size_t i = 0; i < kWebAssetCount; ++i) {
        const WebAsset &asset = kWebAssets[i];
        server.Get(exactPattern(asset.path), [&asset](const httplib::Request &, httplib::Response &res) {
            res.set_content(reinterpret_cast<const char *>(asset.data), asset.size, webAssetType(asset.kind));
        });
    }
    server.Get("/api/tags", [&ctx](const httplib::Request &, httplib::Response &res) {
        const auto snap = ctx.feed.latest();
        nlohmann::json tags = nlohmann::json::array();
        for (const TagRow &row : snap->rows)
            tags.push_back(webTagJson(row, snap->at));
        sendJson(res, 200, tags);
    });
    server.Get("/api/history", [&ctx](const httplib::Request &req, httplib::Response &res) {
        const std::string tag = req.get_param_value("tag");
        const long index = ctx.indexOf(tag);
        if (index < 0)
            return sendError(res, tag.empty() ? 400 : 404, tag.empty() ? "give ?tag=NAME" : "unknown tag " + tag);
        nlohmann::json points;
        const int status = historyJson(ctx, index, req, &points);
        if (status != 200)
            return sendError(res, status, points.get<std::string>());
        sendJson(res, 200, {{"tag", tag}, {"unit", ctx.rows[index].tag.unit}, {"points", points}});
    });
    server.Get("/api/status", [&ctx](const httplib::Request &, httplib::Response &res) {
        const auto snap = ctx.feed.snapshot();
        nlohmann::json j = runStatusJson(snap->view(), snap->at);
        j["http_writes"] = ctx.options.writes;
        j["http_token"] = !ctx.options.token.empty();
        j["http_trace"] = ctx.options.trace;
        j["history"] = ctx.history.depth();
        if (ctx.store)
            j["store"] = storeStatusJson(*ctx.store);
        sendJson(res, 200, j);
    });
    server.Get("/api/trace", [&ctx](const httplib::Request &req, httplib::Response &res) {
        if (!ctx.options.trace)
            return sendError(res, 404, "the frame trace is off (the host runs without --http-trace)");
        // The page hands back the seq it was given; anything else is a mistake to be told.
        const std::string after = req.get_param_value("after");
        if (after.find_first_not_of("0123456789") != std::string::npos || after.size() > 19)
            return sendError(res, 400, "after: the seq of the last line seen, a number");
        sendJson(res, 200, ctx.trace.linesAfter(std::strtoull(after.c_str(), nullptr, 10), monotonicMs()));
    });
    server.Get("/metrics", [&ctx](const httplib::Request &, httplib::Response &res) {
        std::string text = metricsText(*ctx.feed.latest());
        if (ctx.store)
            text += storeMetricsText(*ctx.store);
        res.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
    });
}

}  // namespace marovin_host
