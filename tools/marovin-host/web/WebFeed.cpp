#include "web/WebFeed.h"

#include "json/JsonText.h"

#include <algorithm>
#include <chrono>

namespace marovin_host {

WebFeed::WebFeed(const std::vector<TagRow> &rows) : states_(rows.size())
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
        next->changeSeq = changeSeq_;
        snapshot_ = std::move(next);
    }
    changed_.notify_all();
}

void WebFeed::change(const ChangeView &view)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::size_t k = 0; k < view.count; ++k) {
            const TagRow &row = view.rows[view.changed[k]];
            states_[view.changed[k]] = RowState{row.lastStatus, row.reads, row.lastReadMs, row.value, ++changeSeq_};
        }
    }
    changed_.notify_all();
}

std::shared_ptr<const WebSnapshot> WebFeed::latest() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (changeSeq_ == snapshot_->changeSeq)
        return snapshot_;
    auto copy = std::make_shared<WebSnapshot>(*snapshot_);
    for (std::size_t i = 0; i < states_.size() && i < copy->rows.size(); ++i) {
        const RowState &s = states_[i];
        if (s.seq <= snapshot_->changeSeq)
            continue;
        TagRow &row = copy->rows[i];
        row.lastStatus = s.lastStatus;
        row.reads = s.reads;
        row.lastReadMs = s.lastReadMs;
        row.value = s.value;
    }
    return copy;
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

WebFeed::Update WebFeed::wait(std::uint64_t snapshotSeq, std::uint64_t *eventSeq, std::uint64_t *changeSeq,
                              int timeoutMs) const
{
    Update u;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return closed_ || snapshot_->seq > snapshotSeq || (!events_.empty() && events_.back().seq > *eventSeq) ||
               changeSeq_ > *changeSeq;
    });
    if (changeSeq_ > *changeSeq) {
        for (std::size_t i = 0; i < states_.size(); ++i) {
            if (states_[i].seq > *changeSeq)
                u.changes.emplace_back(i, states_[i]);
        }
        *changeSeq = changeSeq_;
    }
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
