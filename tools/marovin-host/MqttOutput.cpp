#include "MqttOutput.h"

#include <cstring>

namespace marovin_host {

namespace {

const long long kStatusEveryMs = 10000;
// How long a clean stop waits for the broker to take the last messages.
const long long kStopWaitMs = 2000;
// Answers that may wait for the broker beyond the limit of the tags.
const long kAnswerRoom = 1024;
// Says that answers were dropped at most this often.
const long long kDropNoticeMs = 5000;
// Topics of the gateway itself, below the prefix.
const char *const kOwnTopics[] = {"availability", "status"};

}  // namespace

MqttOutput::MqttOutput(MqttOptions options, const std::vector<ValueRow> &rows, WriteQueue &queue, Outputs &outputs)
    : options_(std::move(options)), rows_(rows), directory_(rows), queue_(queue), outputs_(outputs),
      availabilityTopic_(options_.prefix + "/availability"), statusTopic_(options_.prefix + "/status"),
      published_(rows.size())
{
    for (const ValueRow &row : rows)
        tagTopics_.push_back(options_.prefix + "/" + row.tag.name);
    // Room for two refreshes of every tag before a slow broker makes the gateway skip some.
    outstandingLimit_ = 1024 + 2 * static_cast<long>(rows.size());
}

std::unique_ptr<MqttOutput> MqttOutput::create(MqttOptions options, const std::vector<ValueRow> &rows,
                                               WriteQueue &queue, Outputs &outputs, std::string *error)
{
    if (!completeMqttOptions(&options, error))
        return nullptr;
    for (const ValueRow &row : rows) {
        for (const char *own : kOwnTopics) {
            if (row.tag.name == own) {
                *error = "tag '" + row.tag.name + "' would publish on " + options.prefix + "/" + own +
                         ", the gateway's own topic: rename it";
                return nullptr;
            }
        }
    }
    std::unique_ptr<MqttOutput> out(new MqttOutput(std::move(options), rows, queue, outputs));
    MqttOutput *self = out.get();
    MqttConnection::Events events;
    events.connected = [self] { self->onConnected(); };
    events.message = [self](const std::string &topic, const std::string &payload, bool retained) {
        self->onMessage(topic, payload, retained);
    };
    events.notice = [self](const std::string &text) {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->notices_.push_back(text);
    };
    out->connection_ = MqttConnection::create(out->options_, out->availabilityTopic_, "offline", events, error);
    if (!out->connection_)
        return nullptr;
    queue.keepOpen();
    return out;
}

MqttOutput::~MqttOutput()
{
    close(nullptr);
}

void MqttOutput::refresh(const RunView &view)
{
    if (!started_) {
        started_ = true;
        connection_->start();
    }
    tellNotices();
    const long dropped = answersDropped_.load(std::memory_order_relaxed);
    if (dropped != droppedTold_ && view.nowMs - droppedToldMs_ >= kDropNoticeMs) {
        Notice n;
        n.kind = Notice::WriteFailed;
        n.text = "MQTT: " + std::to_string(dropped - droppedTold_) +
                 " write answers dropped: writes come faster than the broker takes the answers";
        outputs_.notice(n);
        droppedTold_ = dropped;
        droppedToldMs_ = view.nowMs;
    }
    if (!connection_->connected())
        return;
    const bool all = republish_.exchange(false);
    const Moment now = momentNow();
    if (all || view.nowMs - statusAtMs_ >= kStatusEveryMs)
        publishStatus(view, now);
    publishTags(view, now, all);
}

void MqttOutput::linkChanged(const RunView &view)
{
    if (connection_->connected())
        publishStatus(view, momentNow());
}

void MqttOutput::finish(const RunView &view)
{
    close(&view);
}

void MqttOutput::publishTags(const RunView &view, const Moment &now, bool all)
{
    const std::size_t n = rows_.size();
    const long long maxAgeMs = options_.maxAgeS * 1000LL;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = (nextRow_ + k) % n;
        const ValueRow &row = rows_[i];
        Published &last = published_[i];
        const char *status = rowStatusWord(row);
        const bool hasValue = row.reads > 0;
        if (!all && last.sent && last.hadValue == hasValue && std::strcmp(last.status, status) == 0 &&
            (!hasValue || last.bytes == row.bytes) && view.nowMs - last.atMs < maxAgeMs)
            continue;
        // A broker that does not keep up: the rest waits for the next refresh, first in line then.
        if (connection_->unacknowledged() >= outstandingLimit_) {
            nextRow_ = i;
            return;
        }
        if (!connection_->publish(tagTopics_[i], tagStateJson(row, now).dump(), true))
            return;
        last.sent = true;
        last.hadValue = hasValue;
        last.status = status;
        last.bytes = row.bytes;
        last.atMs = view.nowMs;
    }
}

void MqttOutput::publishStatus(const RunView &view, const Moment &now)
{
    if (connection_->publish(statusTopic_, runStatusJson(view, now).dump(), true))
        statusAtMs_ = view.nowMs;
}

void MqttOutput::onConnected()
{
    connection_->publish(availabilityTopic_, "online", true);
    connection_->subscribe(options_.prefix + "/+/set");
    republish_.store(true);
}

void MqttOutput::onMessage(const std::string &topic, const std::string &payload, bool retained)
{
    const std::string head = options_.prefix + "/";
    const std::string tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.compare(0, head.size(), head) != 0 ||
        topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
        return;
    const std::string name = topic.substr(head.size(), topic.size() - head.size() - tail.size());
    const std::string resultTopic = topic + "/result";
    nlohmann::json value;
    nlohmann::json id;
    std::string payloadError;
    const bool parsed = parseWritePayload(payload, &value, &payloadError, &id);
    const ValueRow *row = directory_.find(name);
    WriteRequest request;
    std::string error;
    if (retained)
        error = "a retained write is not acted on";
    else if (!row)
        error = "unknown tag '" + name + "'";
    else if (!options_.writeAll && !row->tag.writable)
        error = "tag '" + name + "' is not writable";
    else if (!parsed)
        error = payloadError;
    else if (!tagWriteRequest(*row, value, &request, &error) && error.empty())
        error = "not writable";
    if (!error.empty()) {
        answer(resultTopic, id, false, error);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_) {
        answer(resultTopic, id, false, "dropped: the gateway is stopping");
        return;
    }
    const long writeId = ++nextWriteId_;
    request.done = [this, writeId](const WriteResult &result) { writeDone(writeId, result); };
    openWrites_[writeId] = OpenWrite{resultTopic, id};
    if (!queue_.submit(std::move(request))) {
        openWrites_.erase(writeId);
        answer(resultTopic, id, false, "busy: the write queue is full");
    }
}

void MqttOutput::writeDone(long writeId, const WriteResult &result)
{
    OpenWrite w;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = openWrites_.find(writeId);
        if (it == openWrites_.end())
            return;
        w = std::move(it->second);
        openWrites_.erase(it);
    }
    answer(w.resultTopic, w.id, result.ok(), result.text);
}

void MqttOutput::answer(const std::string &resultTopic, const nlohmann::json &id, bool ok, const std::string &error)
{
    nlohmann::json j = {{"ok", ok}};
    if (!ok)
        j["error"] = error;
    if (!id.is_null())
        j["id"] = id;
    // An answer waits in the client while the broker is away. Answers have
    // room beyond the tags' limit; only a flood of writes that the broker
    // takes slower than they come fills that, and then answers are dropped.
    if (connection_->unacknowledged() >= outstandingLimit_ + kAnswerRoom) {
        answersDropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    connection_->publish(resultTopic, j.dump(), false, true);
}

void MqttOutput::tellNotices()
{
    std::vector<std::string> texts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        texts.swap(notices_);
    }
    for (const std::string &text : texts) {
        Notice n;
        n.kind = Notice::Info;
        n.text = text;
        outputs_.notice(n);
    }
}

void MqttOutput::close(const RunView *view)
{
    if (closed_)
        return;
    closed_ = true;
    std::map<long, OpenWrite> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        open.swap(openWrites_);
    }
    for (const auto &w : open)
        answer(w.second.resultTopic, w.second.id, false, "dropped: the gateway stopped");
    if (!started_)
        return;
    if (view && connection_->connected())
        publishStatus(*view, momentNow());
    connection_->stop(availabilityTopic_, "offline", kStopWaitMs);
    tellNotices();
}

}  // namespace marovin_host
