#include "json/JsonText.h"

namespace marovin_host {

std::string jsonText(const nlohmann::json &j)
{
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace marovin_host
