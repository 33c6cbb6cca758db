#include "json/JsonText.h"

#include <cmath>
#include <set>
#include <vector>

namespace marovin_host {

std::string jsonText(const nlohmann::json &j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json parseJsonText(const std::string &text, bool *twice)
{
    using Event = nlohmann::json::parse_event_t;
    std::vector<std::set<std::string>> names;  // of each object being read
    bool again = false;
    nlohmann::json j = nlohmann::json::parse(
        text,
        [&](int, Event event, nlohmann::json &parsed) {
            if (event == Event::object_start)
                names.emplace_back();
            else if (event == Event::object_end)
                names.pop_back();
            else if (event == Event::key && !names.back().insert(parsed.get<std::string>()).second)
                again = true;
            return true;
        },
        false);
    if (twice)
        *twice = again;
    return again ? nlohmann::json(nlohmann::json::value_t::discarded) : j;
}

nlohmann::json numberJson(double value)
{
    if (std::isnan(value))
        return nullptr;
    if (std::fabs(value) < 9e15 && value == std::floor(value))
        return static_cast<long long>(value);
    return value;
}

}  // namespace marovin_host
