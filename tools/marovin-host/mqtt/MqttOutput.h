// The MQTT gateway: publishes every tag as it changes, the run's status and
// the gateway's availability to a broker; writes come in through its write
// source.
#ifndef MAROVIN_HOST_MQTT_MQTT_OUTPUT_H
#define MAROVIN_HOST_MQTT_MQTT_OUTPUT_H

#include "config/MqttOptions.h"
#include "config/PlantOptions.h"
#include "hadiscovery/HaDiscovery.h"
#include "loop/Output.h"
#include "mqtt/MqttBacklog.h"
#include "model/StationWatch.h"
#include "mqtt/MqttConnection.h"
#include "mqtt/MqttWriteSource.h"
#include "mqtt/TagPublisher.h"
#include "util/Clock.h"
#include "writes/WriteQueue.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace marovin_host {

class MqttOutput : public Output {
public:
    // Null with a message (a usage error) for options that do not fit
    // together or a tag whose topic would be one of the gateway's own. The
    // connection starts with the first refresh. With ha enabled, Home
    // Assistant discovery configs go too. With a store (or null), what was
    // read while the broker was away goes out as history first.
    static std::unique_ptr<MqttOutput> create(MqttOptions options, const HaDiscoveryOptions &ha,
                                              const std::vector<TagRow> &rows, WriteQueue &queue, Outbox *store,
                                              std::string *error);
    ~MqttOutput() override;

    bool wantsChanges() const override { return true; }
    // Publishes the changes as they are read.
    void changed(const ChangeView &view) override;
    // Publishes what had to wait or grew older than --mqtt-max-age;
    // everything after a (re)connect; the status every 10 s.
    void refresh(const RunView &view) override;
    void linkChanged(const RunView &view) override;
    void collectNotices(std::vector<Notice> &out) override;
    // Answers writes still open, publishes the status and "offline", disconnects.
    void finish(const RunView &view) override;
    std::string runFailure() const override;

private:
    MqttOutput(MqttOptions options, const std::vector<TagRow> &rows);
    // On the connection's thread.
    void onConnected();
    void onMessage(const std::string &topic, const std::string &payload, bool retained);
    void publishDiscovery();
    // Loop thread: what stations went down or came up shows in their tags
    // and availability topics.
    void applyTurn(const StationWatch::Turn &turn, const Moment &now);
    void publishStations();
    void publishStatus(const RunView &view, const Moment &now);
    void close(const RunView *view);

    MqttOptions options_;
    std::unique_ptr<MqttConnection> connection_;
    std::unique_ptr<MqttWriteSource> writes_;
    std::unique_ptr<TagPublisher> tags_;
    Outbox *store_ = nullptr;
    std::unique_ptr<MqttBacklog> backlog_;
    std::atomic<bool> historySent_{true};  // the backlog is out: the current values may go
    std::string availabilityTopic_;
    std::string statusTopic_;
    StationWatch watch_;  // loop thread
    std::vector<std::string> stationTopics_;
    // Home Assistant: made before the run, read-only after.
    std::string haStatusTopic_;
    std::string haConfigFilter_;
    std::vector<DiscoveryConfig> discovery_;
    std::set<std::string> discoveryTopics_;
    long outstandingLimit_ = 0;
    long long statusAtMs_ = 0;
    bool started_ = false;
    bool closed_ = false;
    std::atomic<bool> republish_{false};
    long droppedTold_ = 0;
    long long droppedToldMs_ = 0;
    std::mutex noticesMutex_;  // the connection's notices, shared with its thread
    std::vector<std::string> notices_;
    std::vector<Notice> loopNotices_;  // the loop thread's own, told at the next collect
};

}  // namespace marovin_host

#endif
