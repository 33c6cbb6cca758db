// The JSON that the network rooms speak: one way to turn a tree into text.
#ifndef MAROVIN_HOST_JSON_JSON_TEXT_H
#define MAROVIN_HOST_JSON_JSON_TEXT_H

#include <nlohmann/json.hpp>

#include <string>

namespace marovin_host {

// Compact text; bytes that are no UTF-8 (a tag file or a notice may hold
// them) are replaced rather than thrown about.
std::string jsonText(const nlohmann::json &j);
// Text from outside as JSON; discarded when it is no JSON or an object names
// a member twice (parsers differ on which of the two counts, so a proxy and
// the gateway could read two different writes), *twice then telling which.
nlohmann::json parseJsonText(const std::string &text, bool *twice = nullptr);
// A number as JSON: whole numbers as integers (1234, not 1234.0), NaN as null.
nlohmann::json numberJson(double value);

}  // namespace marovin_host

#endif
