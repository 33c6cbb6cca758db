// Server-Sent Events: each stream sends the tags' changes as they are read
// (at most one event per kChangeGapMs, the changes of that time together),
// and at each refresh the status and what changed since the snapshot it sent
// before; notices and link changes as they come; a comment line when nothing
// happened for a while, which also finds streams whose browser has gone.
#include "web/routes/Routes.h"

#include "json/JsonText.h"
#include "json/TagStateJson.h"
#include "json/TagMessage.h"
#include "model/ValueText.h"
#include "web/WebTagJson.h"

#include <chrono>
#include <thread>

#include <memory>

namespace marovin_host {

namespace {

const int kMaxStreams = 8;
const int kHeartbeatMs = 5000;
const int kChangeGapMs = 20;

// What one stream has sent so far.
struct Stream {
    std::shared_ptr<const WebSnapshot> last;
    std::uint64_t eventSeq = 0;
    std::uint64_t changeSeq = 0;
    bool started = false;
};

// One event in the stream's text form.
std::string eventText(const std::string &name, const std::string &data)
{
    return "event: " + name + "\ndata: " + data + "\n\n";
}

// {"ts", "status", "tags": [the rows whose state changed since before]}.
std::string refreshEvent(const WebSnapshot &now, const WebSnapshot *before)
{
    nlohmann::json tags = nlohmann::json::array();
    for (std::size_t i = 0; i < now.rows.size(); ++i) {
        if (!before || i >= before->rows.size() || rowStateChanged(before->rows[i], now.rows[i]))
            tags.push_back(webTagJson(now.rows[i], now.at));
    }
    const nlohmann::json j = {{"ts", now.at.wallMs}, {"status", runStatusJson(now.view(), now.at)}, {"tags", tags}};
    return eventText("refresh", jsonText(j));
}

// {"tags": [{"tag", "status", "ts", "value", "hex"}, ...]} of the changed
// rows, written without a JSON tree (tag names need no escaping).
std::string changeEvent(const WebContext &ctx, const std::vector<std::pair<std::size_t, RowState>> &changes)
{
    const Moment now = momentNow();
    std::string data = "{\"tags\":[";
    for (std::size_t k = 0; k < changes.size(); ++k) {
        // Only ref and tag of the loop's row: the rest is the loop's to write, and comes from the feed.
        TagRow row;
        row.ref = ctx.rows[changes[k].first].ref;
        row.tag = ctx.rows[changes[k].first].tag;
        const RowState &s = changes[k].second;
        row.lastStatus = s.lastStatus;
        row.reads = s.reads;
        row.lastReadMs = s.lastReadMs;
        row.value = s.value;
        std::string state;
        writeTagState(state, row, now.wallMs - (now.monoMs - s.lastReadMs));
        state.pop_back();
        data += (k ? ",{\"tag\":\"" : "{\"tag\":\"") + row.tag.name + "\"," + state.substr(1);
        const std::string hex = s.reads > 0 ? hexText(row.ref.area, s.value) : std::string();
        data += hex.empty() ? std::string("}") : ",\"hex\":\"" + hex + "\"}";
    }
    return eventText("change", data + "]}");
}

}  // namespace

void addEventRoute(httplib::Server &server, WebContext &ctx)
{
    server.Get("/api/events", [&ctx](const httplib::Request &, httplib::Response &res) {
        if (ctx.streams.fetch_add(1) >= kMaxStreams) {
            --ctx.streams;
            res.set_header("Retry-After", "5");
            return sendError(res, 503, "too many event streams open");
        }
        auto stream = std::make_shared<Stream>();
        res.set_chunked_content_provider(
            "text/event-stream",
            [&ctx, stream](std::size_t, httplib::DataSink &sink) {
                std::string out;
                if (!stream->started) {
                    out = "retry: 3000\n\n";
                    stream->started = true;
                }
                const WebFeed::Update u = ctx.feed.wait(stream->last ? stream->last->seq : 0, &stream->eventSeq,
                                                        &stream->changeSeq, kHeartbeatMs);
                if (u.closed) {
                    sink.done();
                    return true;
                }
                for (const WebEvent &e : u.events)
                    out += eventText(e.name, e.data);
                if (!u.changes.empty()) {
                    out += changeEvent(ctx, u.changes);
                    std::this_thread::sleep_for(std::chrono::milliseconds(kChangeGapMs));
                }
                if (u.snapshot) {
                    out += refreshEvent(*u.snapshot, stream->last.get());
                    stream->last = u.snapshot;
                }
                if (out.empty())
                    out = ": idle\n\n";
                return sink.write(out.data(), out.size());
            },
            [&ctx](bool) { --ctx.streams; });
    });
}

}  // namespace marovin_host
