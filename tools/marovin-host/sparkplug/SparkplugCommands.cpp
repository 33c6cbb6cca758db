#include "sparkplug/SparkplugCommands.h"

#include "sparkplug/MetricValues.h"
#include "writes/WriteCheck.h"

namespace marovin_host {

namespace {

// Notices kept between two takes (one refresh); the rest are counted.
const std::size_t kNoticeLimit = 20;
// A command the broker kept was given some time ago, to a node that may have
// had other writes since: an old setpoint must not come back at each connect.
const char *const kRetained = "a retained command is not acted on";

// A device's station as the node names it (station1, not station01); -1 for none.
int stationOf(const std::string &device)
{
    if (device.compare(0, 7, "station") != 0 || device.size() <= 7 || device.size() > 10 ||
        device.find_first_not_of("0123456789", 7) != std::string::npos)
        return -1;
    const int station = std::stoi(device.substr(7));
    return device == "station" + std::to_string(station) ? station : -1;
}

}  // namespace

SparkplugCommands::SparkplugCommands(const std::vector<TagRow> &rows, WriteQueue &queue, bool writeAll,
                                     std::function<void()> rebirth)
    : rows_(rows), directory_(rows), queue_(queue), writeAll_(writeAll), rebirth_(std::move(rebirth))
{
}

long SparkplugCommands::rowOf(const std::string &name, bool hasAlias, unsigned long long alias, int station) const
{
    long index = -1;
    if (!name.empty())
        index = directory_.indexOf(name);
    else if (hasAlias && alias >= kFirstTagAlias && alias - kFirstTagAlias < rows_.size())
        index = static_cast<long>(alias - kFirstTagAlias);
    return index >= 0 && rows_[static_cast<std::size_t>(index)].ref.station == station ? index : -1;
}

void SparkplugCommands::onNodeCommand(const std::string &payload, bool retained)
{
    if (retained)
        return badPayload("NCMD", kRetained);
    SpPayload p;
    if (payload.size() > kMaxCommandBytes || !p.ParseFromString(payload)) {
        badPayload("NCMD", payload.size() > kMaxCommandBytes ? "too long" : "no Sparkplug B payload");
        return;
    }
    bool rebirth = false;
    for (const SpMetric &m : p.metrics()) {
        const bool named = m.has_name() ? m.name() == kRebirthMetric : m.has_alias() && m.alias() == kRebirthAlias;
        if (!named || m.value_case() != SpMetric::kBooleanValue) {
            badPayload("NCMD", named ? "Rebirth takes a boolean" : "unknown metric '" + m.name() + "'");
            return;
        }
        rebirth = rebirth || m.boolean_value();
    }
    if (rebirth)
        rebirth_();
}

void SparkplugCommands::onDeviceCommand(const std::string &device, const std::string &payload, bool retained)
{
    const int station = stationOf(device);
    if (station < 0)
        return badPayload("DCMD", "no such device '" + device + "'");
    const std::string where = "DCMD to " + device;
    if (retained)
        return badPayload(where, kRetained);
    SpPayload p;
    if (payload.size() > kMaxCommandBytes || !p.ParseFromString(payload)) {
        badPayload(where, payload.size() > kMaxCommandBytes ? "too long" : "no Sparkplug B payload");
        return;
    }
    // Every metric is checked before any is written.
    std::vector<WriteRequest> requests;
    for (const SpMetric &m : p.metrics()) {
        const long index = rowOf(m.name(), m.has_alias(), m.alias(), station);
        if (index < 0) {
            badPayload(where, "unknown metric '" + (m.has_name() ? m.name() : "alias " + std::to_string(m.alias())) + "'");
            return;
        }
        const TagRow &row = rows_[static_cast<std::size_t>(index)];
        WriteValue value;
        std::string why;
        if (!commandValue(m, tagDataType(row), &value, &why)) {
            badPayload(where, row.tag.name + ": " + why);
            return;
        }
        WritePolicy policy;
        policy.everyTag = writeAll_;
        WriteRequest request;
        const WriteCheck check = checkWrite(row, value, policy, &request);
        if (!check.ok()) {
            refused_.fetch_add(1, std::memory_order_relaxed);
            tell(Notice::WriteFailed, "Sparkplug: " + where + " refused: " + check.text);
            return;
        }
        const std::string label = request.label + " = " + request.valueText;
        request.done = [this, label](const WriteResult &result) { writeDone(label, result); };
        requests.push_back(std::move(request));
    }
    if (closing_.load() || !queue_.submitAll(requests)) {
        refused_.fetch_add(1, std::memory_order_relaxed);
        tell(Notice::WriteFailed, "Sparkplug: " + where + " refused: " +
                                      (closing_.load() ? "the node is stopping" : "the write queue is full"));
    }
}

void SparkplugCommands::writeDone(const std::string &label, const WriteResult &result)
{
    if (result.ok())
        return;
    failed_.fetch_add(1, std::memory_order_relaxed);
    tell(Notice::WriteFailed, "Sparkplug: write " + label + " failed: " + result.text);
}

void SparkplugCommands::close()
{
    closing_.store(true);
}

void SparkplugCommands::badPayload(const std::string &where, const std::string &why)
{
    bad_.fetch_add(1, std::memory_order_relaxed);
    tell(Notice::Info, "Sparkplug: bad " + where + " ignored: " + why);
}

void SparkplugCommands::tell(Notice::Kind kind, const std::string &text)
{
    std::lock_guard<std::mutex> lock(noticesMutex_);
    if (notices_.size() < kNoticeLimit)
        notices_.emplace_back(kind, text);
    else
        ++untold_;
}

void SparkplugCommands::takeNotices(std::vector<Notice> &out)
{
    std::lock_guard<std::mutex> lock(noticesMutex_);
    for (Notice &n : notices_)
        out.push_back(std::move(n));
    notices_.clear();
    if (untold_ > 0)
        out.emplace_back(Notice::Info, "Sparkplug: " + std::to_string(untold_) + " more commands refused or ignored");
    untold_ = 0;
}

}  // namespace marovin_host
