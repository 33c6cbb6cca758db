// What MQTT owes the outbox (with --store): the backlog of values read while
// the broker was away, sent in read order as history (non-retained, QoS 1,
// "historical": true) within a window of unacknowledged messages, so that
// live values still go; and the places of the changes sent live, confirmed
// when the broker acknowledges them.
#ifndef MAROVIN_HOST_MQTT_MQTT_BACKLOG_H
#define MAROVIN_HOST_MQTT_MQTT_BACKLOG_H

#include "mqtt/MqttConnection.h"
#include "store/Outbox.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace marovin_host {

class MqttBacklog {
public:
    // window: unacknowledged messages the backlog may have at the broker.
    MqttBacklog(const std::string &prefix, Outbox &outbox, MqttConnection &connection, long window);

    // Loop thread: the seq of change k of the view just told.
    std::int64_t seqOf(std::size_t k) const { return outbox_.firstSeqOfLastChange() + static_cast<std::int64_t>(k); }
    // Publishes change seq as it was read (retained); confirmed by the
    // broker's acknowledgement. False when it could not go.
    bool publishLive(const std::string &topic, const std::string &payload, std::int64_t seq);
    // The change was meant not to go out (a dead-band, a newer one held): done.
    void passed(std::int64_t seq) { cursor_.confirm(seq); }
    // Connection thread: the broker acknowledged message mid.
    void acknowledged(int mid);
    // Connection thread: a new session; what the last one did not acknowledge is due again.
    void sessionBegan();
    // Connection thread: sends history while the window allows; true when
    // nothing waits (the current values may go then).
    bool drain();
    // How many values wait, and the oldest's age (for the status).
    Backlog backlog() const { return cursor_.backlog(); }
    // Publishes one message and notes its mid (lock held); false when it could not go.
    bool publish(const std::string &topic, const std::string &payload, bool retain, std::int64_t seq);

private:
    // {"value":V,"status":"ok","ts":"...Z","historical":true}
    void writePayload(const StoredValue &v);

    const std::string prefix_;
    Outbox &outbox_;
    OutboxCursor &cursor_;
    MqttConnection &connection_;
    const long window_;
    // Held across a publish and the note of its mid, so that an
    // acknowledgement (on the connection's thread) never comes first.
    std::mutex mutex_;
    std::unordered_map<int, std::int64_t> pending_;  // mid -> seq
    std::vector<StoredValue> batch_;  // the connection thread's
    std::string payload_;
};

}  // namespace marovin_host

#endif
