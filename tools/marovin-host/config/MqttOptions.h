// The MQTT gateway's options: broker URL, TLS files, credentials, topic
// prefix, publishing age and whether every tag may be written.
#ifndef MAROVIN_HOST_CONFIG_MQTT_OPTIONS_H
#define MAROVIN_HOST_CONFIG_MQTT_OPTIONS_H

#include <string>

namespace marovin_host {

struct MqttOptions {
    std::string url;  // as given; empty: no gateway
    bool tls = false;
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    std::string passwordFile;
    std::string caFile;  // empty with TLS: the system's trusted certificates
    std::string certFile;
    std::string keyFile;
    std::string prefix = "marovin";
    std::string clientId;  // empty: marovin-host-HOSTNAME-PID
    int maxAgeS = 60;
    bool writeAll = false;  // every tag writable, not only the rw ones

    bool enabled() const { return !url.empty(); }
};

// The environment variable that may hold the broker password.
extern const char *const kMqttPasswordVariable;

// mqtt[s]://[USER[:PASS]@]HOST[:PORT] into the options (%XX escapes allowed
// in USER and PASS); false with a message.
bool parseMqttUrl(const std::string &text, MqttOptions *options, std::string *error);
// A topic prefix: no wildcards, no empty level, no leading '/', '$' or trailing '/'.
bool validTopicPrefix(const std::string &prefix, std::string *error);
// Checks what only the options together tell (TLS files without mqtts://, a
// certificate without its key), reads the password file or the environment,
// and fills the default client id; false with a message.
bool completeMqttOptions(MqttOptions *options, std::string *error);

}  // namespace marovin_host

#endif
