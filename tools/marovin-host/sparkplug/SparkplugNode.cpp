// The edge node's session: bdSeq taken up by one for each session that
// began, kept before the connect that carries it in its will; births once
// the broker (and the primary host application, when one is named) is
// there; a primary host going offline ends the session with an NDEATH.
#include "sparkplug/SparkplugNode.h"

#include "json/JsonText.h"
#include "model/Status.h"
#include "util/Clock.h"

#include <nlohmann/json.hpp>

namespace marovin_host {

namespace {

const char *const kNamespace = "spBv1.0/";
// How long a clean stop waits for the broker to take the NDEATH.
const long long kStopWaitMs = 2000;

}  // namespace

SparkplugNode::SparkplugNode(MqttOptions mqtt, SparkplugOptions options, const std::vector<TagRow> &rows)
    : mqtt_(std::move(mqtt)), options_(std::move(options)), rows_(rows),
      bdSeqFile_(options_.stateDir, options_.group, options_.node), watch_(rows), gate_(rows), held_(rows.size())
{
    const std::string group = kNamespace + options_.group + "/";
    const char *kinds[] = {"NBIRTH/", "NDEATH/", "NDATA/", "NCMD/"};
    for (int k = 0; k < 4; ++k)
        nodeTopic_[k] = group + kinds[k] + options_.node;
    dcmdHead_ = group + "DCMD/" + options_.node + "/";
    if (!options_.primaryHost.empty())
        stateTopic_ = std::string(kNamespace) + "STATE/" + options_.primaryHost;
    for (std::size_t slot = 0; slot < watch_.count(); ++slot) {
        const std::string device = "/" + options_.node + "/station" + std::to_string(watch_.number(slot));
        for (const char *kind : {"DBIRTH", "DDEATH", "DDATA"})
            deviceTopics_.push_back(group + kind + device);
    }
    for (const TagRow &row : rows)
        types_.push_back(tagDataType(row));
    birthed_.assign(watch_.count(), 0);
    bySlot_.resize(watch_.count());
    bdSeq_ = bdSeqFile_.next();
}

std::unique_ptr<SparkplugNode> SparkplugNode::create(MqttOptions mqtt, SparkplugOptions options,
                                                     const std::vector<TagRow> &rows, WriteQueue &queue,
                                                     Outbox *store, std::string *error)
{
    if (!completeMqttOptions(&mqtt, error))
        return nullptr;
    std::unique_ptr<SparkplugNode> node(new SparkplugNode(std::move(mqtt), std::move(options), rows));
    SparkplugNode *self = node.get();
    MqttConnection::Events events;
    events.beforeConnect = [self] { self->beforeConnect(); };
    events.connected = [self] { self->onConnected(); };
    events.message = [self](const std::string &topic, const std::string &payload, bool retained) {
        self->onMessage(topic, payload, retained);
    };
    events.notice = [self](const std::string &text) {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->notices_.emplace_back(Notice::Info, text);
    };
    if (store) {
        node->history_.reset(new SparkplugHistory(*store, rows, node->types_));
        events.idle = [self] { return self->publishHistory(); };
        events.acknowledged = [self](int mid) {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->history_->written(mid, monotonicMs());
        };
    }
    node->connection_ = MqttConnection::create(node->mqtt_, std::string(), std::string(), events, error);
    if (!node->connection_)
        return nullptr;
    node->commands_.reset(new SparkplugCommands(rows, queue, node->mqtt_.writeAll, [self] { self->rebirth_ = true; }));
    std::string keepError;
    if (!node->bdSeqFile_.keep(node->bdSeq_, &keepError))
        node->notices_.emplace_back(Notice::Info, keepError);
    queue.keepOpen();
    return node;
}

SparkplugNode::~SparkplugNode()
{
    close(false);
}

void SparkplugNode::beforeConnect()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (willUsed_) {
        bdSeq_ = bdSeqFile_.next();
        willUsed_ = false;
        std::string error;
        if (!bdSeqFile_.keep(bdSeq_, &error))
            notices_.emplace_back(Notice::Info, error);
    }
    std::string error;
    if (!connection_->setWill(nodeTopic_[1], deathPayload(bdSeq_), false, &error))
        notices_.emplace_back(Notice::Info, error);
}

void SparkplugNode::onConnected()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        willUsed_ = true;
        session_ = connection_->session();
        // Online only once its STATE says so; the newest STATE taken stays
        // the measure across sessions (a stale retained one is left alone).
        hostOnline_ = stateTopic_.empty();
        if (history_)
            history_->sessionBegan();
    }
    if (!stateTopic_.empty())
        connection_->subscribe(stateTopic_);
    connection_->subscribe(nodeTopic_[3]);
    connection_->subscribe(dcmdHead_ + "+");
}

void SparkplugNode::onMessage(const std::string &topic, const std::string &payload, bool retained)
{
    if (topic == stateTopic_)
        onHostState(payload);
    else if (topic == nodeTopic_[3])
        commands_->onNodeCommand(payload, retained);
    else if (topic.compare(0, dcmdHead_.size(), dcmdHead_) == 0)
        commands_->onDeviceCommand(topic.substr(dcmdHead_.size()), payload, retained);
}

// Sparkplug B 3.0's STATE payload: {"online":true,"timestamp":MS}; one older
// than the last taken is an old session's and is left alone.
void SparkplugNode::onHostState(const std::string &payload)
{
    const nlohmann::json j = parseJsonText(payload);
    if (!j.is_object() || !j.contains("online") || !j["online"].is_boolean() || !j.contains("timestamp") ||
        !j["timestamp"].is_number_unsigned()) {
        commands_->badPayload("STATE", "expected {\"online\":true|false,\"timestamp\":MS}");
        return;
    }
    const long long at = j["timestamp"].get<long long>();
    std::lock_guard<std::mutex> lock(mutex_);
    if (at < hostStateMs_)
        return;
    hostStateMs_ = at;
    hostOnline_ = j["online"].get<bool>();
    if (hostOnline_ || bornSession_ != session_)
        return;
    bornSession_ = 0;
    connection_->publish(nodeTopic_[1], deathPayload(bdSeq_), false, false, 0);
    connection_->endSession("primary host application " + options_.primaryHost + " offline");
}

bool SparkplugNode::born() const
{
    return bornSession_ != 0 && bornSession_ == connection_->session() && connection_->connected();
}

void SparkplugNode::changed(const ChangeView &view)
{
    if (!started_)
        return;
    StationWatch::Turn turn;
    watch_.changed(view, &turn);
    std::lock_guard<std::mutex> lock(mutex_);
    // Unborn, nothing is sent: with a store the changes wait there as history.
    if (!born())
        return;
    applyTurn(turn, view.rows, view.at.monoMs);
    for (std::size_t k = 0; k < view.count; ++k) {
        const std::uint32_t i = view.changed[k];
        const std::size_t slot = watch_.slotOf(i);
        if (birthed_[slot] && isSuccess(view.rows[i].lastStatus))
            bySlot_[slot].push_back(static_cast<std::uint32_t>(k));
        else if (history_)
            history_->passed(history_->seqOf(k));
    }
    for (std::size_t slot = 0; slot < bySlot_.size(); ++slot) {
        if (bySlot_[slot].empty())
            continue;
        payload_.Clear();
        liveSeqs_.clear();
        for (const std::uint32_t k : bySlot_[slot]) {
            const std::uint32_t i = view.changed[k];
            const bool goes = offerRow(i, view.rows[i], view.at.wallMs, view.at.monoMs);
            if (history_ && goes)
                liveSeqs_.push_back(history_->seqOf(k));
            else if (history_)
                history_->passed(history_->seqOf(k));
        }
        bySlot_[slot].clear();
        int mid = 0;
        // One that could not go stays in the outbox and goes as history.
        if (payload_.metrics_size() > 0 && send(deviceTopics_[3 * slot + 2], true, &mid) && history_)
            history_->handedOver(mid, liveSeqs_, true);
    }
}

void SparkplugNode::refresh(const RunView &view)
{
    if (!started_) {
        started_ = true;
        connection_->start();
    }
    StationWatch::Turn turn;
    watch_.refresh(view.rows, &turn);
    std::lock_guard<std::mutex> lock(mutex_);
    takeFigures(view);
    const long session = connection_->session();
    if (connection_->connected() && hostOnline_ && session == session_ &&
        (bornSession_ != session || rebirth_.exchange(false))) {
        publishBirths(view.rows, view.nowMs);
        bornSession_ = session;
        return;
    }
    if (!born())
        return;
    applyTurn(turn, view.rows, view.nowMs);
    if (heldCount_ > 0)
        publishHeld(view.rows, view.nowMs, momentNow().wallMs);
    publishNodeData(false);
}

void SparkplugNode::linkChanged(const RunView &view)
{
    StationWatch::Turn turn;
    if (view.link != LinkState::Up)
        watch_.linkDown(view.nowMs, &turn);
    std::lock_guard<std::mutex> lock(mutex_);
    takeFigures(view);
    if (!born())
        return;
    applyTurn(turn, view.rows, view.nowMs);
    publishNodeData(false);
}

void SparkplugNode::takeFigures(const RunView &view)
{
    const RunStats &s = view.stats;
    figures_.linkUp = view.link == LinkState::Up;
    const long long values[6] = {s.exchanges, s.repeats + s.giveUps, s.giveUps,
                                 commands_->bad(), commands_->refused(), commands_->failed()};
    for (int k = 0; k < 6; ++k)
        figures_.values[k] = static_cast<unsigned long long>(values[k]);
}

void SparkplugNode::collectNotices(std::vector<Notice> &out)
{
    commands_->takeNotices(out);
    std::lock_guard<std::mutex> lock(mutex_);
    for (Notice &n : notices_)
        out.push_back(std::move(n));
    notices_.clear();
}

void SparkplugNode::finish(const RunView &view)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        takeFigures(view);
    }
    close(true);
}

std::string SparkplugNode::runFailure() const
{
    if (!started_ || connection_->session() > 0)
        return std::string();
    return "MQTT: the broker " + mqtt_.host + ":" + std::to_string(mqtt_.port) + " was never reached";
}

// A clean stop says NDEATH first: the broker drops the will of a session
// that ends with a DISCONNECT.
void SparkplugNode::close(bool clean)
{
    if (closed_)
        return;
    closed_ = true;
    if (commands_)
        commands_->close();
    if (!started_)
        return;
    bool toldDeath = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (clean && connection_->connected())
            toldDeath = connection_->publish(nodeTopic_[1], deathPayload(bdSeq_), false, false, 1);
        bornSession_ = 0;
    }
    // The data go at QoS 0: only the NDEATH's acknowledgement says that the
    // broker had all that was written before it. Without it, they go again.
    const bool delivered = connection_->stop(std::string(), std::string(), kStopWaitMs);
    std::lock_guard<std::mutex> lock(mutex_);
    if (history_ && toldDeath && delivered)
        history_->settleAll();
}

}  // namespace marovin_host
