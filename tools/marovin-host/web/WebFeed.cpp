#include "web/WebFeed.h"

#include "json/JsonText.h"

#include <algorithm>
#include <chrono>

namespace marovin_host {

WebFeed::WebFeed(const std::vector<TagRow> &rows)
{
    auto first = std::make_shared<WebSnapshot>();
    first->at = momentNow();
    first->rows = rows;
    first->stats.startMs = first->at.monoMs;
    first->seq = 1;
    snapshot_ = std::move(first);
}

void WebFeed::publish(const RunView &view, const Moment &at)
{
    auto next = std::make_shared<WebSnapshot>();
    next->at = at;
    next->rows = view.rows;
    next->stats = view.stats;
    next->link = view.link;
    next->portText = view.portText;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        next->seq = snapshot_->seq + 1;
        snapshot_ = std::move(next);
    }
    changed_.notify_all();
}

void WebFeed::addEvent(const std::string &name, const nlohmann::json &data)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(
            WebEvent{nextEventSeq_++, name, jsonText(data)});
        if (events_.size() > kEventsKept)
            events_.pop_front();
    }
    changed_.notify_all();
}

void WebFeed::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

std::shared_ptr<const WebSnapshot> WebFeed::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

WebFeed::Update WebFeed::wait(std::uint64_t snapshotSeq, std::uint64_t *eventSeq, int timeoutMs) const
{
    Update u;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return closed_ || snapshot_->seq > snapshotSeq || (!events_.empty() && events_.back().seq > *eventSeq);
    });
    u.closed = closed_;
    if (snapshot_->seq > snapshotSeq)
        u.snapshot = snapshot_;
    for (const WebEvent &e : events_) {
        if (e.seq > *eventSeq)
            u.events.push_back(e);
    }
    if (!events_.empty())
        *eventSeq = std::max(*eventSeq, events_.back().seq);
    return u;
}

}  // namespace marovin_host
