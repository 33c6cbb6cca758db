// Writes from the broker: PREFIX/<tag>/set, each answered once on
// PREFIX/<tag>/set/result after the PLC's acknowledgement or a refusal.
#ifndef MAROVIN_HOST_MQTT_MQTT_WRITE_SOURCE_H
#define MAROVIN_HOST_MQTT_MQTT_WRITE_SOURCE_H

#include "config/MqttOptions.h"
#include "model/TagDirectory.h"
#include "writes/WriteCheck.h"
#include "writes/WriteQueue.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

class MqttConnection;

class MqttWriteSource {
public:
    // Answers wait in the client while the broker is away; beyond
    // answerLimit unacknowledged messages they are dropped and counted.
    MqttWriteSource(const MqttOptions &options, const std::vector<TagRow> &rows, WriteQueue &queue,
                    MqttConnection &connection, long answerLimit);
    // The topic filter to subscribe to.
    std::string filter() const { return options_.prefix + "/+/set"; }
    // On the connection's thread: a message on the filter.
    void onMessage(const std::string &topic, const std::string &payload, bool retained);
    // Answers every write still open (the gateway stops); later ones are refused.
    void close();
    // Answers dropped because the broker took them slower than they came.
    long answersDropped() const { return answersDropped_.load(std::memory_order_relaxed); }

private:
    // A write handed to the queue and not answered yet.
    struct OpenWrite {
        std::string resultTopic;
        nlohmann::json id;
        double written = 0;  // the value as it will read back, told with a success
    };
    // The tag's name from a topic PREFIX/<tag>/set; false for other topics.
    bool tagOf(const std::string &topic, std::string *name) const;
    // Checks and queues one write; the refusal when it was not queued. *id
    // gets the payload's id, for the answer.
    WriteCheck submit(const std::string &name, const std::string &payload, bool retained,
                      const std::string &resultTopic, nlohmann::json *id);
    // On the loop thread: a write's result came back.
    void writeDone(long writeId, const WriteResult &result);
    void answer(const std::string &resultTopic, const nlohmann::json &id, bool ok, const std::string &error,
                double written = 0);

    const MqttOptions &options_;
    const std::vector<TagRow> &rows_;
    const TagDirectory directory_;
    WriteQueue &queue_;
    MqttConnection &connection_;
    const long answerLimit_;
    std::atomic<long> answersDropped_{0};
    std::mutex mutex_;  // guards what follows, shared by the connection's and the loop's threads
    std::map<long, OpenWrite> open_;
    long nextWriteId_ = 0;
    bool closing_ = false;
};

}  // namespace marovin_host

#endif
