// The host as a Sparkplug B 3.0 edge node: NBIRTH with bdSeq and the node's
// metrics, a DBIRTH per station (device station<N>) with every tag as a
// metric, DDATA by exception (one per station and exchange, by alias, with
// the read time), DDEATH when a station is given up or the link is down and
// DBIRTH when it answers again, NDEATH as the will and before a clean stop.
// Commands come in through SparkplugCommands. All publishing is done on the
// loop's thread, births at the refresh after a (re)connect or a Rebirth, so
// that every payload is made from rows no other thread writes; only the
// outbox's history (with a store) goes from the connection's thread, made
// from stored values.
#ifndef MAROVIN_HOST_SPARKPLUG_SPARKPLUG_NODE_H
#define MAROVIN_HOST_SPARKPLUG_SPARKPLUG_NODE_H

#include "config/MqttOptions.h"
#include "config/PlantOptions.h"
#include "loop/Output.h"
#include "model/ChangeGate.h"
#include "model/StationWatch.h"
#include "mqtt/MqttConnection.h"
#include "sparkplug/BdSeqFile.h"
#include "sparkplug/MetricValues.h"
#include "sparkplug/SparkplugCommands.h"
#include "sparkplug/SparkplugHistory.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace marovin_host {

class SparkplugNode : public Output {
public:
    // Null with a message for options that do not fit together. With a
    // store, what could not go live goes later as history.
    static std::unique_ptr<SparkplugNode> create(MqttOptions mqtt, SparkplugOptions options,
                                                 const std::vector<TagRow> &rows, WriteQueue &queue, Outbox *store,
                                                 std::string *error);
    ~SparkplugNode() override;

    bool wantsChanges() const override { return true; }
    void changed(const ChangeView &view) override;
    void refresh(const RunView &view) override;
    void linkChanged(const RunView &view) override;
    void collectNotices(std::vector<Notice> &out) override;
    void finish(const RunView &view) override;
    std::string runFailure() const override;

private:
    // The node's own metrics, as last made from the run.
    struct Figures {
        bool linkUp = true;
        unsigned long long values[6] = {};  // exchanges, failures, give-ups, bad commands, refused, failed
    };

    SparkplugNode(MqttOptions mqtt, SparkplugOptions options, const std::vector<TagRow> &rows);
    // Connection thread.
    void beforeConnect();
    void onConnected();
    void onMessage(const std::string &topic, const std::string &payload, bool retained);
    void onHostState(const std::string &payload);
    // The outbox's values that wait, as historical DDATA while the window allows; true
    // while some are handed over and not yet written. SparkplugHistory.cpp
    bool publishHistory();
    // Loop thread, mutex_ held. SparkplugNode.cpp
    bool born() const;
    void takeFigures(const RunView &view);
    void close(bool clean);
    // SparkplugBirths.cpp
    void publishBirths(const std::vector<TagRow> &rows, long long nowMs);
    void publishNodeBirth();
    void publishDeviceBirth(std::size_t slot, const std::vector<TagRow> &rows, long long nowMs);
    void publishDeviceDeath(std::size_t slot);
    void applyTurn(const StationWatch::Turn &turn, const std::vector<TagRow> &rows, long long nowMs);
    // Offers row i's change to its gate; adds it to the payload when it goes now (true).
    bool offerRow(std::uint32_t i, const TagRow &row, long long readWallMs, long long nowMs);
    void publishHeld(const std::vector<TagRow> &rows, long long nowMs, long long wallMs);
    void publishNodeData(bool all);
    void addNodeMetrics(bool birth, const Figures *last);
    // Stamps and sends payload_ (seq unless NDEATH) at QoS 0; *mid, when asked, its id.
    bool send(const std::string &topic, bool withSeq, int *mid = nullptr);
    bool send(SpPayload &payload, std::string &bytes, const std::string &topic, bool withSeq, int *mid);
    std::string deathPayload(int bdSeq) const;

    const MqttOptions mqtt_;
    const SparkplugOptions options_;
    const std::vector<TagRow> &rows_;
    std::unique_ptr<MqttConnection> connection_;
    std::unique_ptr<SparkplugCommands> commands_;
    BdSeqFile bdSeqFile_;
    std::string nodeTopic_[4];  // NBIRTH, NDEATH, NDATA, NCMD
    std::string dcmdHead_;      // spBv1.0/G/DCMD/N/
    std::string stateTopic_;
    std::vector<std::string> deviceTopics_;  // per slot: DBIRTH, DDEATH, DDATA
    std::vector<SpType> types_;
    std::atomic<bool> rebirth_{false};
    bool started_ = false;
    bool closed_ = false;

    std::mutex mutex_;  // the connection's thread and the loop's meet here: all below
    int bdSeq_ = 0;            // of the will set for the next or the current session
    bool willUsed_ = false;    // a session began with that will
    long session_ = 0;         // the connection's session that bdSeq_ belongs to
    long bornSession_ = 0;     // the session whose births went out; 0: none
    bool hostOnline_ = true;   // the primary host application, when there is one
    long long hostStateMs_ = -1;  // timestamp of the last STATE taken
    int seq_ = 0;
    std::vector<Notice> notices_;
    std::unique_ptr<SparkplugHistory> history_;  // with a store
    SpPayload historyPayload_;  // the connection thread's
    std::string historyBytes_;
    std::vector<std::int64_t> historySeqs_;

    // Loop thread only (the connection's reads slotOf and, under mutex_, birthed_).
    StationWatch watch_;
    ChangeGate gate_;
    std::vector<std::uint8_t> birthed_;  // per station slot
    std::vector<std::uint8_t> held_;     // per row: a change waits for its min-interval
    std::size_t heldCount_ = 0;
    std::vector<std::vector<std::uint32_t>> bySlot_;  // changes (k of the view) by station slot
    std::vector<std::int64_t> liveSeqs_;
    Figures figures_;
    Figures sentFigures_;
    long long figuresAtMs_ = 0;
    SpPayload payload_;
    std::string bytes_;
};

}  // namespace marovin_host

#endif
