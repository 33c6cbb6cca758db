// The tags' messages on the broker: each change as it is read, through the
// tags' dead-bands and min-intervals; again after a reconnect, when older
// than --mqtt-max-age, and when a change that had to wait is due. Every
// message says the time its value was read.
#ifndef MAROVIN_HOST_MQTT_TAG_PUBLISHER_H
#define MAROVIN_HOST_MQTT_TAG_PUBLISHER_H

#include "model/ChangeGate.h"
#include "model/RunView.h"
#include "mqtt/MqttBacklog.h"
#include "mqtt/MqttConnection.h"

#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

class TagPublisher {
public:
    // outstandingLimit: unacknowledged messages beyond which changes wait for
    // the next catch-up (a broker that does not keep up).
    TagPublisher(const std::string &prefix, const std::vector<TagRow> &rows, MqttConnection &connection,
                 long outstandingLimit, long long maxAgeMs);
    // With --store: each change's place in the outbox goes with its message
    // (before the first change).
    void keepPlaces(MqttBacklog *backlog) { backlog_ = backlog; }
    // Loop thread: the changes of one exchange.
    void changed(const ChangeView &view);
    // Loop thread: what waited, what aged, and what the broker's session has
    // not got yet (after a reconnect).
    void catchUp(const Moment &now);
    // Any thread: held changes whose interval has ended.
    void releaseHeld(long long nowMs);
    // Loop thread: the rows say status instead of their own from now on
    // (null: their own again), published again at once.
    void overrideStatus(const std::vector<std::uint32_t> &rows, const char *status, const Moment &now);

private:
    // What was last published of a row.
    struct Published {
        bool sent = false;
        bool pending = false;  // a change that could not go out yet
        bool hadValue = false;
        const char *status = "";
        long long atMs = 0;
        long session = 0;  // of the broker when it was sent
    };
    // A change held back by the row's min-interval.
    struct Held {
        bool waiting = false;
        std::string payload;
        double value = 0;
        const char *status = "";
        bool hadValue = false;
    };
    // Whether a message can go now: connected, and the broker keeping up.
    bool ready() const { return connection_.connected() && connection_.unacknowledged() < outstandingLimit_; }
    // Publishes row i's message (payload_ or a held one) with what it says; false when it must wait.
    bool send(std::size_t i, const std::string &payload, double value, const char *status, bool hasValue,
              long long nowMs, std::int64_t seq = 0);
    // Offers row i's current state to its gate and sends, holds or skips it.
    // seq: the change's place in the outbox (0 without one).
    void offer(std::size_t i, const TagRow &row, long long readWallMs, long long nowMs, std::int64_t seq);
    // Row i's current state, read at its last read (or now before any).
    void resend(std::size_t i, const TagRow &row, const Moment &now);

    const std::vector<TagRow> &rows_;
    MqttConnection &connection_;
    MqttBacklog *backlog_ = nullptr;
    const long outstandingLimit_;
    const long long maxAgeMs_;
    std::vector<std::string> topics_;
    std::mutex mutex_;  // all below: the loop's thread and the connection's meet here
    ChangeGate gate_;
    std::vector<Published> published_;
    std::vector<Held> held_;
    std::vector<const char *> override_;  // per row: a status that stands for its own, or null
    std::size_t heldCount_ = 0;
    std::size_t nextRow_ = 0;  // where the next catch-up starts when the last one was cut short
    std::string payload_;      // reused for each message
};

}  // namespace marovin_host

#endif
