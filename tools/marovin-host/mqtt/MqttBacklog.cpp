// Order: the cursor hands out in read order and one thread publishes what
// it took, so the broker gets the history in read order; a lost session
// hands the unacknowledged part out again (QoS 1: at least once).
#include "mqtt/MqttBacklog.h"

#include "model/Status.h"
#include "model/ValueText.h"
#include "util/Clock.h"

#include <algorithm>

namespace marovin_host {

namespace {

// Values taken from the cursor per turn of the connection.
const std::size_t kTurn = 500;

}  // namespace

MqttBacklog::MqttBacklog(const std::string &prefix, Outbox &outbox, MqttConnection &connection, long window)
    : prefix_(prefix + "/"), outbox_(outbox), cursor_(outbox.cursor("mqtt")), connection_(connection), window_(window)
{
}

bool MqttBacklog::publishLive(const std::string &topic, const std::string &payload, std::int64_t seq)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!publish(topic, payload, true, seq))
        return false;
    cursor_.claim(seq);
    return true;
}

bool MqttBacklog::publish(const std::string &topic, const std::string &payload, bool retain, std::int64_t seq)
{
    int mid = 0;
    if (!connection_.publish(topic, payload, retain, false, 1, &mid))
        return false;
    pending_[mid] = seq;
    return true;
}

void MqttBacklog::acknowledged(int mid)
{
    std::int64_t seq = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = pending_.find(mid);
        if (it == pending_.end())
            return;
        seq = it->second;
        pending_.erase(it);
    }
    cursor_.confirm(seq);
}

void MqttBacklog::sessionBegan()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.clear();
    }
    cursor_.release();
}

bool MqttBacklog::drain()
{
    while (connection_.connected()) {
        const long room = window_ - connection_.unacknowledged();
        if (room <= 0)
            return false;
        batch_.clear();
        if (cursor_.take(&batch_, std::min<std::size_t>(kTurn, static_cast<std::size_t>(room))) == 0)
            return cursor_.caughtUp();
        std::lock_guard<std::mutex> lock(mutex_);
        for (const StoredValue &v : batch_) {
            writePayload(v);
            // Not sent: the session is gone, and the next one hands them out again.
            if (!publish(prefix_ + v.tag->name, payload_, false, v.seq))
                return false;
        }
    }
    return false;
}

void MqttBacklog::writePayload(const StoredValue &v)
{
    payload_ = "{";
    if (v.hasValue) {
        payload_ += "\"value\":";
        appendShortest(payload_, v.value);
        payload_ += ",";
    }
    payload_ += "\"status\":\"";
    payload_ += rowStatusWord(v.status);
    payload_ += "\",\"ts\":\"";
    appendIsoUtc(payload_, v.readMs);
    payload_ += "\",\"historical\":true}";
}

}  // namespace marovin_host
