// A retained /set is a command the broker kept, not one given now: refused.
// Every message on the filter gets exactly one answer.
#include "mqtt/MqttWriteSource.h"

#include "json/JsonText.h"
#include "json/WritePayload.h"
#include "mqtt/MqttConnection.h"

namespace marovin_host {

MqttWriteSource::MqttWriteSource(const MqttOptions &options, const std::vector<TagRow> &rows, WriteQueue &queue,
                                 MqttConnection &connection, long answerLimit)
    : options_(options), rows_(rows), directory_(rows), queue_(queue), connection_(connection),
      answerLimit_(answerLimit)
{
}

bool MqttWriteSource::tagOf(const std::string &topic, std::string *name) const
{
    const std::string head = options_.prefix + "/";
    const std::string tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.compare(0, head.size(), head) != 0 ||
        topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    *name = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    return true;
}

void MqttWriteSource::onMessage(const std::string &topic, const std::string &payload, bool retained)
{
    std::string name;
    if (!tagOf(topic, &name))
        return;
    const std::string resultTopic = topic + "/result";
    nlohmann::json id;
    const WriteCheck check = submit(name, payload, retained, resultTopic, &id);
    if (!check.ok())
        answer(resultTopic, id, false, check.text);
}

WriteCheck MqttWriteSource::submit(const std::string &name, const std::string &payload, bool retained,
                                   const std::string &resultTopic, nlohmann::json *id)
{
    WriteValue value;
    std::string payloadError;
    const bool parsed = parseWritePayload(payload, &value, &payloadError, id);
    if (retained)
        return refuseWrite(WriteRefusal::Retained, "a retained write is not acted on");
    const long index = directory_.indexOf(name);
    if (index < 0)
        return refuseWrite(WriteRefusal::UnknownTag, "unknown tag '" + name + "'");
    const TagRow &row = rows_[static_cast<std::size_t>(index)];
    if (!options_.writeAll && !row.tag.writable)
        return refuseWrite(WriteRefusal::NotWritable, "tag '" + name + "' is not writable");
    if (!parsed)
        return refuseWrite(WriteRefusal::BadPayload, payloadError);
    WritePolicy policy;
    policy.everyTag = options_.writeAll;
    WriteRequest request;
    const WriteCheck check = checkWrite(row, value, policy, &request);
    if (!check.ok())
        return check;
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_)
        return refuseWrite(WriteRefusal::Stopping, "dropped: the gateway is stopping");
    const long writeId = ++nextWriteId_;
    request.done = [this, writeId](const WriteResult &result) { writeDone(writeId, result); };
    open_[writeId] = OpenWrite{resultTopic, *id, request.written};
    if (!queue_.submit(std::move(request))) {
        open_.erase(writeId);
        return refuseWrite(WriteRefusal::QueueFull, "busy: the write queue is full");
    }
    return WriteCheck();
}

void MqttWriteSource::writeDone(long writeId, const WriteResult &result)
{
    OpenWrite w;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = open_.find(writeId);
        if (it == open_.end())
            return;
        w = std::move(it->second);
        open_.erase(it);
    }
    answer(w.resultTopic, w.id, result.ok(), result.text, w.written);
}

void MqttWriteSource::close()
{
    std::map<long, OpenWrite> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        open.swap(open_);
    }
    for (const auto &w : open)
        answer(w.second.resultTopic, w.second.id, false, "dropped: the gateway stopped");
}

void MqttWriteSource::answer(const std::string &resultTopic, const nlohmann::json &id, bool ok,
                             const std::string &error, double written)
{
    nlohmann::json j = {{"ok", ok}};
    // A success says what was written: the nearest raw step, as it will read back.
    if (ok)
        j["value"] = numberJson(written);
    else
        j["error"] = error;
    if (!id.is_null())
        j["id"] = id;
    // An answer waits in the client while the broker is away. Answers have
    // room beyond the tags' limit; only a flood of writes that the broker
    // takes slower than they come fills that, and then answers are dropped.
    if (connection_.unacknowledged() >= answerLimit_) {
        answersDropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    connection_.publish(resultTopic, jsonText(j), false, true);
}

}  // namespace marovin_host
