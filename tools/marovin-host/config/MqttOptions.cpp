#include "config/MqttOptions.h"
#include "util/Text.h"

#include "HostPort.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace marovin_host {

const char *const kMqttPasswordVariable = "MAROVIN_MQTT_PASSWORD";

namespace {

const std::size_t kMaxPrefix = 200;
const std::size_t kMaxCredential = 256;

// Undoes %XX escapes; false for a broken escape or a NUL, escaped or not
// (either would cut the C string libmosquitto takes).
bool percentDecode(const std::string &text, std::string *out)
{
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\0')
            return false;
        if (text[i] != '%') {
            *out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return false;
        const int c = std::stoi(text.substr(i + 1, 2), nullptr, 16);
        if (c == 0)
            return false;
        *out += static_cast<char>(c);
        i += 2;
    }
    return true;
}

// The URL with its password, if any, as "***": for messages.
std::string withoutPassword(const std::string &url)
{
    const std::string::size_type start = url.find("://");
    const std::string::size_type at = url.rfind('@');
    if (start == std::string::npos || at == std::string::npos || at < start)
        return url;
    const std::string::size_type colon = url.find(':', start + 3);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

// The first line of a file, without its line end; false when it cannot be read.
bool readFirstLine(const std::string &path, std::string *line)
{
    std::ifstream in(path);
    if (!in || !std::getline(in, *line))
        return false;
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

}  // namespace

bool parseMqttUrl(const std::string &text, MqttOptions *o, std::string *error)
{
    *error = "bad value '" + withoutPassword(text) + "' (expected mqtt://[USER[:PASS]@]HOST[:PORT] or mqtts://...)";
    std::string rest;
    if (text.compare(0, 7, "mqtt://") == 0) {
        o->tls = false;
        rest = text.substr(7);
    } else if (text.compare(0, 8, "mqtts://") == 0) {
        o->tls = true;
        rest = text.substr(8);
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    const std::string::size_type at = rest.rfind('@');
    o->user.clear();
    o->password.clear();
    if (at != std::string::npos) {
        const std::string info = rest.substr(0, at);
        const std::string::size_type colon = info.find(':');
        if (!percentDecode(info.substr(0, colon), &o->user) ||
            (colon != std::string::npos && !percentDecode(info.substr(colon + 1), &o->password)) ||
            o->user.empty() || o->user.size() > kMaxCredential || o->password.size() > kMaxCredential)
            return false;
        rest = rest.substr(at + 1);
    }
    marovin_port::HostPortRules rules;
    rules.defaultPort = o->tls ? 8883 : 1883;
    rules.hostCheck = marovin_port::HostCheck::Name;
    if (!marovin_port::parseHostPort(rest, rules, &o->host, &o->port))
        return false;
    o->url = text;
    error->clear();
    return true;
}

bool validTopicPrefix(const std::string &prefix, std::string *error)
{
    std::string why;
    if (prefix.empty() || prefix.size() > kMaxPrefix)
        why = "1 to " + std::to_string(kMaxPrefix) + " characters";
    else if (prefix.find_first_of(std::string("+#\0", 3)) != std::string::npos)
        why = "no wildcards '+' or '#'";
    else if (prefix.front() == '/' || prefix.back() == '/' || prefix.find("//") != std::string::npos)
        why = "no leading, trailing or doubled '/'";
    else if (!isUtf8(prefix))
        why = "not UTF-8";
    else if (prefix.front() == '$')
        why = "no leading '$' (topics of the broker itself)";
    if (why.empty())
        return true;
    *error = "bad value '" + prefix + "' (" + why + ")";
    return false;
}

bool completeMqttOptions(MqttOptions *o, std::string *error)
{
    if (!o->tls && (!o->caFile.empty() || !o->certFile.empty() || !o->keyFile.empty())) {
        *error = "--mqtt-ca, --mqtt-cert and --mqtt-key need an mqtts:// broker URL";
        return false;
    }
    if (o->certFile.empty() != o->keyFile.empty()) {
        *error = "--mqtt-cert and --mqtt-key go together";
        return false;
    }
    if (!o->passwordFile.empty()) {
        if (o->user.empty() || !o->password.empty()) {
            *error = "--mqtt-password-file needs a user and no password in the URL (mqtt://USER@HOST)";
            return false;
        }
        if (!readFirstLine(o->passwordFile, &o->password) || o->password.empty() ||
            o->password.size() > kMaxCredential) {
            *error = "--mqtt-password-file: no password on the first line of '" + o->passwordFile + "'";
            return false;
        }
    } else if (!o->user.empty() && o->password.empty()) {
        const char *env = std::getenv(kMqttPasswordVariable);
        if (env)
            o->password = env;
    }
    if (o->clientId.empty()) {
        char name[256] = "";
        gethostname(name, sizeof name - 1);
        o->clientId = "marovin-host-" + std::string(name).substr(0, 64) + "-" + std::to_string(getpid());
    }
    return true;
}

}  // namespace marovin_host
