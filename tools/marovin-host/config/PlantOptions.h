// What the MQTT gateway may speak beside its own JSON: Sparkplug B 3.0 as an
// edge node (instead of the JSON topics), or Home Assistant discovery (with
// them); and the folder that keeps what must outlive a run.
#ifndef MAROVIN_HOST_CONFIG_PLANT_OPTIONS_H
#define MAROVIN_HOST_CONFIG_PLANT_OPTIONS_H

#include <string>

namespace marovin_host {

struct SparkplugOptions {
    std::string group;        // --sparkplug GROUP/NODE; empty: JSON topics
    std::string node;
    std::string primaryHost;  // --sparkplug-primary; empty: births at once
    std::string stateDir;     // --state-dir: where bdSeq outlives the process; empty: not kept
    bool enabled() const { return !node.empty(); }
};

struct HaDiscoveryOptions {
    std::string prefix;  // --ha-discovery [PREFIX]; empty: off
    bool enabled() const { return !prefix.empty(); }
};

// The discovery prefix when --ha-discovery is given without one.
extern const char *const kDefaultHaPrefix;

// A Sparkplug group, edge node, device or host id: 1..64 characters, none of
// + / # and no control character. False with the reason.
bool validSparkplugId(const std::string &id, std::string *why);
// GROUP/NODE into the options; false with a message.
bool parseSparkplugName(const std::string &text, SparkplugOptions *options, std::string *error);

}  // namespace marovin_host

#endif
