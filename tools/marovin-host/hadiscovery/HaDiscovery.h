// Home Assistant MQTT discovery for the JSON topics: one retained config per
// tag under PREFIX/<component>/<node>/<object>/config, a device per station,
// state and availability on the gateway's own topics, commands on /set.
// Made once before the run: the configs depend on nothing that changes.
#ifndef MAROVIN_HOST_HADISCOVERY_HA_DISCOVERY_H
#define MAROVIN_HOST_HADISCOVERY_HA_DISCOVERY_H

#include "model/TagRow.h"

#include <string>
#include <vector>

namespace marovin_host {

struct DiscoveryConfig {
    std::string topic;
    std::string payload;
};

// PREFIX/station<N>/availability: online while the station answers.
std::string stationAvailabilityTopic(const std::string &topicPrefix, int station);
// The discovery node of a gateway: its topic prefix with every character
// Home Assistant does not take in an id as '_'.
std::string discoveryNode(const std::string &topicPrefix);
// The configs of the tags: number for a writable word, switch for a
// writable bit, sensor and binary_sensor otherwise. writeAll: --mqtt-writes.
std::vector<DiscoveryConfig> discoveryConfigs(const std::string &haPrefix, const std::string &topicPrefix,
                                              const std::vector<TagRow> &rows, bool writeAll);

}  // namespace marovin_host

#endif
