// unique_id is made of the topic prefix and the tag's name only, so that an
// entity keeps its history in Home Assistant across restarts and reorderings
// of the tag file.
#include "hadiscovery/HaDiscovery.h"

#include "json/JsonText.h"
#include "model/Areas.h"
#include "model/ValueText.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cmath>
#include <set>

namespace marovin_host {

namespace {

// An id as Home Assistant takes it in a topic: letters, digits, _ and -.
std::string idOf(const std::string &text)
{
    std::string id = text;
    for (char &c : id) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '_';
    }
    return id;
}

// min, max and step of a number entity: the tag's range in its own units.
void addNumberRange(nlohmann::json &j, const TagRow &row)
{
    const NumberRange raw = tagRange(row.ref.area, row.tag);
    // At the precision the scale implies, as the tag's values are published: -3276.8, not -3276.8000000000002.
    const int area = row.ref.area;
    double low = publishedNumber(area, row.tag, TagValue{0, raw.low, raw.low * row.tag.scale + row.tag.offset});
    double high = publishedNumber(area, row.tag, TagValue{0, raw.high, raw.high * row.tag.scale + row.tag.offset});
    if (low > high)
        std::swap(low, high);
    j["min"] = low;
    j["max"] = high;
    j["step"] = row.ref.area == kDecimalFloat ? 0.001 : row.tag.scaled() ? std::fabs(row.tag.scale) : 1.0;
    j["mode"] = "box";
}

// The entity's own part: component, value and command fields.
std::string describeEntity(nlohmann::json &j, const TagRow &row, bool writable, const std::string &tagTopic)
{
    const bool bit = row.ref.area == kBits;
    j["value_template"] = "{{ value_json.value }}";
    if (bit) {
        j["payload_on"] = "1";
        j["payload_off"] = "0";
    } else if (!row.tag.unit.empty()) {
        j["unit_of_measurement"] = row.tag.unit;
    }
    if (!writable) {
        if (!bit)
            j["state_class"] = "measurement";
        return bit ? "binary_sensor" : "sensor";
    }
    j["command_topic"] = tagTopic + "/set";
    if (bit) {
        j["state_on"] = "1";
        j["state_off"] = "0";
        return "switch";
    }
    addNumberRange(j, row);
    return "number";
}

}  // namespace

std::string stationAvailabilityTopic(const std::string &topicPrefix, int station)
{
    return topicPrefix + "/station" + std::to_string(station) + "/availability";
}

std::string discoveryNode(const std::string &topicPrefix)
{
    return idOf(topicPrefix);
}

std::vector<DiscoveryConfig> discoveryConfigs(const std::string &haPrefix, const std::string &topicPrefix,
                                              const std::vector<TagRow> &rows, bool writeAll)
{
    const std::string node = discoveryNode(topicPrefix);
    std::set<std::string> objects;
    std::vector<DiscoveryConfig> configs;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TagRow &row = rows[i];
        std::string object = idOf(row.tag.name);
        // Names that differ only where '_' stands in get the row's number.
        if (!objects.insert(object).second)
            object += "_" + std::to_string(i);
        const std::string tagTopic = topicPrefix + "/" + row.tag.name;
        const std::string station = "station" + std::to_string(row.ref.station);
        nlohmann::json j;
        j["name"] = row.tag.name;
        j["unique_id"] = "marovin_" + node + "_" + object;
        j["state_topic"] = tagTopic;
        j["qos"] = 1;
        j["availability"] = {{{"topic", topicPrefix + "/availability"}},
                             {{"topic", stationAvailabilityTopic(topicPrefix, row.ref.station)}}};
        j["availability_mode"] = "all";
        j["device"] = {{"identifiers", {"marovin_" + node + "_" + station}},
                       {"name", topicPrefix + " " + station},
                       {"model", "PLC station " + std::to_string(row.ref.station)},
                       {"manufacturer", "marovin-host"}};
        j["origin"] = {{"name", "marovin-host"}};
        const bool writable = (row.tag.writable || writeAll) &&
                              (row.ref.area != kBits || isWritableBit(row.ref.address));
        const std::string component = describeEntity(j, row, writable, tagTopic);
        configs.push_back({haPrefix + "/" + component + "/" + node + "/" + object + "/config", jsonText(j)});
    }
    return configs;
}

}  // namespace marovin_host
