#include "loop/PendingWrites.h"

#include "model/Status.h"

namespace marovin_host {

void PendingWrites::take()
{
    // Writes that wait for their place stay in the queue, where its limit
    // tells sources that it is full; held here they would grow without bound.
    if (held_.size() < WriteQueue::kLimit) {
        for (WriteRequest &r : queue_.take())
            held_.push_back(std::move(r));
    }
    std::deque<WriteRequest> waiting;
    while (!held_.empty()) {
        WriteRequest r = std::move(held_.front());
        held_.pop_front();
        if (placeBusy(r.ref)) {
            waiting.push_back(std::move(r));
            continue;
        }
        const int id = ++nextOwnerId_;
        if (!driver_.write(r.ref, r.bytes.data(), static_cast<int>(r.bytes.size()), r.count, id))
            answer(r, WriteOutcome::Refused, 0, "SetRegisterData returned 0");
        else if (cacheOnly_)
            answer(r, WriteOutcome::Cached, 0, "");
        else
            inDriver_.emplace(id, std::move(r));
    }
    held_.swap(waiting);
}

bool PendingWrites::placeBusy(const ValueRef &ref) const
{
    for (const auto &entry : inDriver_) {
        const ValueRef &p = entry.second.ref;
        if (p.station == ref.station && p.area == ref.area && p.address == ref.address)
            return true;
    }
    return false;
}

void PendingWrites::finished(int ownerId, int status)
{
    const auto it = inDriver_.find(ownerId);
    if (it == inDriver_.end())
        return;
    WriteRequest r = std::move(it->second);
    inDriver_.erase(it);
    if (isSuccess(status))
        answer(r, WriteOutcome::Acknowledged, status, "");
    else
        answer(r, WriteOutcome::GivenUp, status, "status " + std::to_string(status) + " (" + describeStatus(status) + ")");
}

void PendingWrites::dropStation(int station, bool all)
{
    for (auto it = inDriver_.begin(); it != inDriver_.end();) {
        if (all || it->second.ref.station == station) {
            answer(it->second, WriteOutcome::Dropped, 0, "station " + std::to_string(station) + " given up");
            it = inDriver_.erase(it);
        } else {
            ++it;
        }
    }
}

void PendingWrites::dropAll(const std::string &why)
{
    for (WriteRequest &r : queue_.take())
        held_.push_back(std::move(r));
    for (auto &entry : inDriver_)
        answer(entry.second, WriteOutcome::Dropped, 0, why);
    inDriver_.clear();
    for (WriteRequest &r : held_)
        answer(r, WriteOutcome::Dropped, 0, why);
    held_.clear();
}

// Counts the outcome, tells people about a failure and the source about everything.
void PendingWrites::answer(WriteRequest &request, WriteOutcome outcome, int status, const std::string &text)
{
    WriteResult result;
    result.outcome = outcome;
    result.status = status;
    result.text = text.empty() ? writeOutcomeName(outcome) : std::string(writeOutcomeName(outcome)) + ": " + text;
    if (outcome == WriteOutcome::Acknowledged)
        ++stats_.writesAcknowledged;
    else if (outcome == WriteOutcome::Cached)
        ++stats_.writesCached;
    else
        ++stats_.writesFailed;
    if (!result.ok())
        failed_("write " + request.label + "=" + request.valueText + " " + result.text);
    if (request.done)
        request.done(result);
}

}  // namespace marovin_host
