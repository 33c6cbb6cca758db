#include "config/PlantOptions.h"

#include "util/Text.h"

namespace marovin_host {

const char *const kDefaultHaPrefix = "homeassistant";

namespace {

const std::size_t kMaxIdLength = 64;

}  // namespace

bool validSparkplugId(const std::string &id, std::string *why)
{
    if (id.empty() || id.size() > kMaxIdLength) {
        *why = "1 to " + std::to_string(kMaxIdLength) + " characters";
        return false;
    }
    if (!isUtf8(id)) {
        *why = "not UTF-8";
        return false;
    }
    for (const char c : id) {
        if (c == '+' || c == '/' || c == '#' || static_cast<unsigned char>(c) < 0x20) {
            *why = "no '+', '/', '#' or control character";
            return false;
        }
    }
    return true;
}

bool parseSparkplugName(const std::string &text, SparkplugOptions *o, std::string *error)
{
    const std::string::size_type slash = text.find('/');
    std::string why = "expected GROUP/NODE";
    if (slash != std::string::npos && validSparkplugId(text.substr(0, slash), &why) &&
        validSparkplugId(text.substr(slash + 1), &why)) {
        o->group = text.substr(0, slash);
        o->node = text.substr(slash + 1);
        return true;
    }
    *error = "bad value '" + text + "' (" + why + ")";
    return false;
}

}  // namespace marovin_host
