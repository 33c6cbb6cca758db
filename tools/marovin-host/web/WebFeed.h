// What the loop publishes for the web server's threads: a snapshot of the
// rows and counters at each refresh, the rows' states as each change is
// read, and a short log of notices and link changes. The server's threads
// only read what was published here; the loop only copies a few numbers.
#ifndef MAROVIN_HOST_WEB_WEB_FEED_H
#define MAROVIN_HOST_WEB_WEB_FEED_H

#include "model/RunView.h"
#include "util/Clock.h"

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

// The run as it was at one refresh; never changed once published.
struct WebSnapshot {
    std::uint64_t seq = 0;
    std::uint64_t changeSeq = 0;  // the changes it already holds
    Moment at{0, 0};
    std::vector<TagRow> rows;
    RunStats stats;
    LinkState link = LinkState::Up;
    std::string portText;
    RunView view() const { return RunView{rows, stats, link, portText, at.monoMs}; }
};

// A row's state as a change left it.
struct RowState {
    int lastStatus = -1;
    long long reads = 0;
    long long lastReadMs = 0;
    TagValue value;
    std::uint64_t seq = 0;  // of its last change; 0: none yet
};

// An event for the browsers: its name and its JSON text.
struct WebEvent {
    std::uint64_t seq;
    std::string name;
    std::string data;
};

class WebFeed {
public:
    static const std::size_t kEventsKept = 64;

    explicit WebFeed(const std::vector<TagRow> &rows);
    // Loop thread: a new snapshot of the view.
    void publish(const RunView &view, const Moment &at);
    // Loop thread: the rows an exchange changed.
    void change(const ChangeView &view);
    // Loop thread: an event for every open stream (notices, link changes).
    void addEvent(const std::string &name, const nlohmann::json &data);
    // Wakes every waiting stream for good.
    void close();

    std::shared_ptr<const WebSnapshot> snapshot() const;
    // The last snapshot with the changes read since.
    std::shared_ptr<const WebSnapshot> latest() const;

    // What a stream has not seen yet: the latest snapshot when newer than
    // the one it has, the events after its last one.
    struct Update {
        std::shared_ptr<const WebSnapshot> snapshot;  // null: none newer
        std::vector<WebEvent> events;
        std::vector<std::pair<std::size_t, RowState>> changes;  // rows changed after the stream's last look
        bool closed = false;
    };
    // Waits up to timeoutMs for something new after (snapshotSeq,
    // *eventSeq, *changeSeq); advances both past what it hands out.
    Update wait(std::uint64_t snapshotSeq, std::uint64_t *eventSeq, std::uint64_t *changeSeq, int timeoutMs) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::shared_ptr<const WebSnapshot> snapshot_;
    std::deque<WebEvent> events_;
    std::uint64_t nextEventSeq_ = 1;
    std::vector<RowState> states_;
    std::uint64_t changeSeq_ = 0;
    bool closed_ = false;
};

}  // namespace marovin_host

#endif
