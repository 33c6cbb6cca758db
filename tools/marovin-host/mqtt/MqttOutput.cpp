#include "mqtt/MqttOutput.h"

#include "json/JsonText.h"
#include "json/TagStateJson.h"

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

MqttOutput::MqttOutput(MqttOptions options, const std::vector<TagRow> &rows)
    : options_(std::move(options)), rows_(rows), availabilityTopic_(options_.prefix + "/availability"),
      statusTopic_(options_.prefix + "/status")
{
    // Room for two messages of every tag before a slow broker makes changes wait.
    outstandingLimit_ = 1024 + 2 * static_cast<long>(rows.size());
}

std::unique_ptr<MqttOutput> MqttOutput::create(MqttOptions options, const std::vector<TagRow> &rows,
                                               WriteQueue &queue, Outbox *store, std::string *error)
{
    if (!completeMqttOptions(&options, error))
        return nullptr;
    for (const TagRow &row : rows) {
        for (const char *own : kOwnTopics) {
            if (row.tag.name == own) {
                *error = "tag '" + row.tag.name + "' would publish on " + options.prefix + "/" + own +
                         ", the gateway's own topic: rename it";
                return nullptr;
            }
        }
    }
    std::unique_ptr<MqttOutput> out(new MqttOutput(std::move(options), rows));
    MqttOutput *self = out.get();
    MqttConnection::Events events;
    events.connected = [self] { self->onConnected(); };
    events.message = [self](const std::string &topic, const std::string &payload, bool retained) {
        self->writes_->onMessage(topic, payload, retained);
    };
    events.notice = [self](const std::string &text) {
        std::lock_guard<std::mutex> lock(self->noticesMutex_);
        self->notices_.push_back(text);
    };
    events.idle = [self] {
        self->tags_->releaseHeld(monotonicMs());
        // Values read just before a reconnect reach the disk a little later: always drain.
        if (self->backlog_ && self->backlog_->drain())
            self->historySent_.store(true);
    };
    events.acknowledged = [self](int mid) {
        if (self->backlog_)
            self->backlog_->acknowledged(mid);
    };
    out->connection_ = MqttConnection::create(out->options_, out->availabilityTopic_, "offline", events, error);
    if (!out->connection_)
        return nullptr;
    out->writes_.reset(
        new MqttWriteSource(out->options_, rows, queue, *out->connection_, out->outstandingLimit_ + kAnswerRoom));
    out->tags_.reset(new TagPublisher(out->options_.prefix, rows, *out->connection_, out->outstandingLimit_,
                                      out->options_.maxAgeS * 1000LL));
    if (store) {
        // Half the room of the broker's window for history: live values keep the rest.
        out->store_ = store;
        out->backlog_.reset(new MqttBacklog(out->options_.prefix, *store, *out->connection_, out->outstandingLimit_ / 2));
        out->tags_->keepPlaces(out->backlog_.get());
    }
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
    const long dropped = writes_->answersDropped();
    if (dropped != droppedTold_ && view.nowMs - droppedToldMs_ >= kDropNoticeMs) {
        loopNotices_.emplace_back(Notice::WriteFailed,
                                  "MQTT: " + std::to_string(dropped - droppedTold_) +
                                      " write answers dropped: writes come faster than the broker takes the answers");
        droppedTold_ = dropped;
        droppedToldMs_ = view.nowMs;
    }
    if (!connection_->connected())
        return;
    // The current values go after the history of the outage.
    const bool current = historySent_.load();
    const bool all = current && republish_.exchange(false);
    const Moment now = momentNow();
    if (all || view.nowMs - statusAtMs_ >= kStatusEveryMs)
        publishStatus(view, now);
    if (current)
        tags_->catchUp(now);
}

void MqttOutput::changed(const ChangeView &view)
{
    if (!started_)
        return;
    // After a (re)connect every tag goes again: here, rather than a whole refresh later.
    if (republish_.load(std::memory_order_relaxed) && connection_->connected() && historySent_.load() &&
        republish_.exchange(false))
        tags_->catchUp(momentNow());
    tags_->changed(view);
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

void MqttOutput::publishStatus(const RunView &view, const Moment &now)
{
    nlohmann::json status = runStatusJson(view, now);
    if (store_) {
        const Backlog b = backlog_->backlog();
        status["store"] = {{"dropped", store_->stats().dropped},
                           {"backlog", b.values},
                           {"oldest_s", b.oldestMs ? (now.wallMs - b.oldestMs) / 1000.0 : 0.0}};
    }
    if (connection_->publish(statusTopic_, jsonText(status), true))
        statusAtMs_ = view.nowMs;
}

void MqttOutput::onConnected()
{
    connection_->publish(availabilityTopic_, "online", true);
    connection_->subscribe(writes_->filter());
    if (backlog_) {
        historySent_.store(false);
        backlog_->sessionBegan();
    }
    republish_.store(true);
}

void MqttOutput::collectNotices(std::vector<Notice> &out)
{
    for (Notice &n : loopNotices_)
        out.push_back(std::move(n));
    loopNotices_.clear();
    std::vector<std::string> texts;
    {
        std::lock_guard<std::mutex> lock(noticesMutex_);
        texts.swap(notices_);
    }
    for (std::string &text : texts)
        out.emplace_back(Notice::Info, std::move(text));
}

void MqttOutput::close(const RunView *view)
{
    if (closed_)
        return;
    closed_ = true;
    writes_->close();
    if (!started_)
        return;
    if (view && connection_->connected())
        publishStatus(*view, momentNow());
    connection_->stop(availabilityTopic_, "offline", kStopWaitMs);
}

}  // namespace marovin_host
