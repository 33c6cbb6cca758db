#include "json/JsonText.h"

#include <cmath>

namespace marovin_host {

std::string jsonText(const nlohmann::json &j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
