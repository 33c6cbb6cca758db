// The MQTT gateway: publishes every tag, the run's status and the gateway's
// availability to a broker, and takes writes from PREFIX/<tag>/set, each
// answered once on PREFIX/<tag>/set/result.
#ifndef MAROVIN_HOST_MQTT_OUTPUT_H
#define MAROVIN_HOST_MQTT_OUTPUT_H

#include "MqttConnection.h"
#include "MqttOptions.h"
#include "Output.h"
#include "Outputs.h"
#include "TagJson.h"
#include "WriteQueue.h"

#include <QByteArray>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

class MqttOutput : public Output {
public:
    // Null with a message (a usage error) for options that do not fit
    // together or a tag whose topic would be one of the gateway's own. The
    // connection starts with the first refresh.
    static std::unique_ptr<MqttOutput> create(MqttOptions options, const std::vector<ValueRow> &rows,
                                              WriteQueue &queue, Outputs &outputs, std::string *error);
    ~MqttOutput() override;

    // Publishes what changed or grew older than --mqtt-max-age; everything
    // after a (re)connect; the status every 10 s.
    void refresh(const RunView &view) override;
    void linkChanged(const RunView &view) override;
    // Answers writes still open, publishes the status and "offline", disconnects.
    void finish(const RunView &view) override;

private:
    // What was last published of a row.
    struct Published {
        bool sent = false;
        bool hadValue = false;
        const char *status = "";
        QByteArray bytes;
        long long atMs = 0;
    };
    // A write handed to the queue and not answered yet.
    struct OpenWrite {
        std::string resultTopic;
        nlohmann::json id;
    };

    MqttOutput(MqttOptions options, const std::vector<ValueRow> &rows, WriteQueue &queue, Outputs &outputs);
    // On the connection's thread.
    void onConnected();
    void onMessage(const std::string &topic, const std::string &payload, bool retained);
    void answer(const std::string &resultTopic, const nlohmann::json &id, bool ok, const std::string &error);
    // On the loop thread: a write's result came back.
    void writeDone(long writeId, const WriteResult &result);
    void publishTags(const RunView &view, const Moment &now, bool all);
    void publishStatus(const RunView &view, const Moment &now);
    // Hands the connection's notices to the outputs.
    void tellNotices();
    void close(const RunView *view);

    MqttOptions options_;
    const std::vector<ValueRow> &rows_;
    TagDirectory directory_;
    WriteQueue &queue_;
    Outputs &outputs_;
    std::unique_ptr<MqttConnection> connection_;
    std::string availabilityTopic_;
    std::string statusTopic_;
    std::vector<std::string> tagTopics_;
    std::vector<Published> published_;
    std::size_t nextRow_ = 0;  // where the next refresh starts when the last one was cut short
    long outstandingLimit_ = 0;
    long long statusAtMs_ = 0;
    bool started_ = false;
    bool closed_ = false;
    std::atomic<bool> republish_{false};
    std::atomic<long> answersDropped_{0};
    long droppedTold_ = 0;
    long long droppedToldMs_ = 0;

    std::mutex mutex_;  // guards what follows, shared with the connection's thread
    std::vector<std::string> notices_;
    std::map<long, OpenWrite> openWrites_;
    long nextWriteId_ = 0;
    bool closing_ = false;
};

}  // namespace marovin_host

#endif
