#include "mqtt/MqttOutput.h"

#include "json/JsonText.h"
#include "json/TagStateJson.h"

#include <algorithm>

namespace marovin_host {

namespace {

const long long kStatusEveryMs = 10000;
// How long a clean stop waits for the broker to take the last messages.
const long long kStopWaitMs = 2000;
// Answers that may wait for the broker beyond the limit of the tags.
const long kAnswerRoom = 1024;
// History messages at the broker at most (with --store).
const long kHistoryWindow = 128;
// Says that answers were dropped at most this often.
const long long kDropNoticeMs = 5000;
// Topics of the gateway itself, below the prefix.
const char *const kOwnTopics[] = {"availability", "status"};

}  // namespace

MqttOutput::MqttOutput(MqttOptions options, const std::vector<TagRow> &rows)
    : options_(std::move(options)), availabilityTopic_(options_.prefix + "/availability"),
      statusTopic_(options_.prefix + "/status"), watch_(rows)
{
    for (std::size_t slot = 0; slot < watch_.count(); ++slot)
        stationTopics_.push_back(stationAvailabilityTopic(options_.prefix, watch_.number(slot)));
    // Room for two messages of every tag before a slow broker makes changes wait.
    outstandingLimit_ = 1024 + 2 * static_cast<long>(rows.size());
}

std::unique_ptr<MqttOutput> MqttOutput::create(MqttOptions options, const HaDiscoveryOptions &ha,
                                               const std::vector<TagRow> &rows, WriteQueue &queue, Outbox *store,
                                               std::string *error)
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
    if (ha.enabled()) {
        out->haStatusTopic_ = ha.prefix + "/status";
        out->haConfigFilter_ = ha.prefix + "/+/" + discoveryNode(out->options_.prefix) + "/+/config";
        out->discovery_ = discoveryConfigs(ha.prefix, out->options_.prefix, rows, out->options_.writeAll);
        for (const DiscoveryConfig &c : out->discovery_)
            out->discoveryTopics_.insert(c.topic);
    }
    MqttOutput *self = out.get();
    MqttConnection::Events events;
    events.connected = [self] { self->onConnected(); };
    events.message = [self](const std::string &topic, const std::string &payload, bool retained) {
        self->onMessage(topic, payload, retained);
    };
    events.notice = [self](const std::string &text) {
        std::lock_guard<std::mutex> lock(self->noticesMutex_);
        self->notices_.push_back(text);
    };
    events.idle = [self] {
        self->tags_->releaseHeld(monotonicMs());
        // Values read just before a reconnect reach the disk a little later: always drain.
        if (!self->backlog_)
            return false;
        if (!self->backlog_->drain())
            return true;
        self->historySent_.store(true);
        return false;
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
        // A live value queues behind the history at the broker: a short window
        // keeps its wait to a few milliseconds and still lets the history flow.
        out->store_ = store;
        const long window = std::min(out->outstandingLimit_ / 2, kHistoryWindow);
        out->backlog_.reset(new MqttBacklog(out->options_.prefix, *store, *out->connection_, window));
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
    const Moment now = momentNow();
    StationWatch::Turn turn;
    watch_.refresh(view.rows, &turn);
    applyTurn(turn, now);
    if (!connection_->connected())
        return;
    // The current values go after the history of the outage.
    const bool current = historySent_.load();
    const bool all = current && republish_.exchange(false);
    if (all)
        publishStations();
    if (all || view.nowMs - statusAtMs_ >= kStatusEveryMs)
        publishStatus(view, now);
    if (current)
        tags_->catchUp(now);
}

void MqttOutput::changed(const ChangeView &view)
{
    if (!started_)
        return;
    StationWatch::Turn turn;
    watch_.changed(view, &turn);
    // After a (re)connect every tag goes again: here, rather than a whole refresh later.
    if (republish_.load(std::memory_order_relaxed) && connection_->connected() && historySent_.load() &&
        republish_.exchange(false)) {
        publishStations();
        tags_->catchUp(momentNow());
    }
    tags_->changed(view);
    if (!turn.empty())
        applyTurn(turn, momentNow());
}

void MqttOutput::linkChanged(const RunView &view)
{
    const Moment now = momentNow();
    StationWatch::Turn turn;
    if (view.link != LinkState::Up)
        watch_.linkDown(view.nowMs, &turn);
    applyTurn(turn, now);
    if (connection_->connected())
        publishStatus(view, now);
}

// A station down: its availability says offline, and after a link down
// every tag of it says "link down" (given-up tags say their status already).
// Up again: its tags their own status and their value.
void MqttOutput::applyTurn(const StationWatch::Turn &turn, const Moment &now)
{
    for (const std::size_t slot : turn.down) {
        if (std::string(watch_.downWord(slot)) == "link down")
            tags_->overrideStatus(watch_.rowsOf(slot), watch_.downWord(slot), now);
        connection_->publish(stationTopics_[slot], "offline", true);
    }
    for (const std::size_t slot : turn.up) {
        tags_->overrideStatus(watch_.rowsOf(slot), nullptr, now);
        connection_->publish(stationTopics_[slot], "online", true);
    }
}

// Loop thread, after a (re)connect: each station's availability as it is.
void MqttOutput::publishStations()
{
    for (std::size_t slot = 0; slot < watch_.count(); ++slot)
        connection_->publish(stationTopics_[slot], watch_.up(slot) ? "online" : "offline", true);
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
    if (!discovery_.empty()) {
        publishDiscovery();
        connection_->subscribe(haStatusTopic_);
        connection_->subscribe(haConfigFilter_);
    }
    republish_.store(true);
}

// Home Assistant's birth ("online" on PREFIX/status) asks for the configs
// again; a retained config of this node that no tag has any more (the tag
// file changed) is removed with an empty retained message.
void MqttOutput::onMessage(const std::string &topic, const std::string &payload, bool retained)
{
    if (discovery_.empty()) {
        writes_->onMessage(topic, payload, retained);
    } else if (topic == haStatusTopic_) {
        // The retained birth comes with the subscription, right after the configs went.
        if (payload == "online" && !retained)
            publishDiscovery();
    } else if (topic.size() > 7 && topic.compare(topic.size() - 7, 7, "/config") == 0) {
        if (retained && !payload.empty() && discoveryTopics_.count(topic) == 0)
            connection_->publish(topic, std::string(), true);
    } else {
        writes_->onMessage(topic, payload, retained);
    }
}

void MqttOutput::publishDiscovery()
{
    for (const DiscoveryConfig &c : discovery_)
        connection_->publish(c.topic, c.payload, true);
}

std::string MqttOutput::runFailure() const
{
    if (!started_ || connection_->session() > 0)
        return std::string();
    return "MQTT: the broker " + options_.host + ":" + std::to_string(options_.port) + " was never reached";
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
    // Not made when the connection could not be (a client id libmosquitto refuses).
    if (writes_)
        writes_->close();
    if (!started_)
        return;
    if (view && connection_->connected())
        publishStatus(*view, momentNow());
    connection_->stop(availabilityTopic_, "offline", kStopWaitMs);
}

}  // namespace marovin_host
