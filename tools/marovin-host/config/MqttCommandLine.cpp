// The MQTT group of marovin-host's command line. Every option but --mqtt
// needs --mqtt: an option of a gateway that is not on is a usage error.
#include "config/CommandLineGroups.h"
#include "util/Text.h"

#include "CliChecks.h"

#include <algorithm>

namespace marovin_host {

namespace {

const std::size_t kMaxClientId = 128;

// TLS files and the password file of the broker.
void addCredentialOptions(CLI::App &app, MqttOptions *o, CLI::Option *url, const char *g)
{
    app.add_option("--mqtt-ca", o->caFile, "CA certificates for mqtts:// (default: the system's)")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(url)
        ->group(g);
    app.add_option("--mqtt-cert", o->certFile, "client certificate for mqtts://")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(url)
        ->group(g);
    app.add_option("--mqtt-key", o->keyFile, "its private key")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(url)
        ->group(g);
    app.add_option("--mqtt-password-file", o->passwordFile,
                   std::string("broker password from the file's first line (or ") + kMqttPasswordVariable + ")")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(url)
        ->group(g);
}

}  // namespace

void addMqttOptions(CLI::App &app, MqttOptions *o)
{
    const char *g = "MQTT";
    CLI::Option *url = app.add_option_function<std::string>(
           "--mqtt",
           [o](const std::string &text) {
               std::string error;
               if (!parseMqttUrl(text, o, &error))
                   refuse("--mqtt", error);
           },
           "publish the tags to a broker, take writes from it")
        ->type_name("mqtt[s]://[USER[:PASS]@]HOST[:PORT]")
        ->group(g);
    addCredentialOptions(app, o, url, g);
    app.add_option_function<std::string>(
           "--mqtt-prefix",
           [o](const std::string &text) {
               std::string error;
               if (!validTopicPrefix(text, &error))
                   refuse("--mqtt-prefix", error);
               o->prefix = text;
           },
           "topic prefix (marovin)")
        ->type_name("P")
        ->needs(url)
        ->group(g);
    app.add_option("--mqtt-client-id", o->clientId, "client id (marovin-host-HOSTNAME-PID)")
        ->check(CLI::Validator(
            [](std::string &id) {
                const bool control = std::any_of(id.begin(), id.end(), [](char c) {
                    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
                });
                return id.empty() || id.size() > kMaxClientId || control || !isUtf8(id)
                           ? "bad value '" + id + "' (1 to 128 characters of UTF-8, no control characters)"
                           : std::string();
            },
            ""))
        ->type_name("ID")
        ->needs(url)
        ->group(g);
    app.add_option("--mqtt-max-age", o->maxAgeS, "republish an unchanged tag after S seconds (60)")
        ->check(marovin_port::integerIn(1, 86400))
        ->type_name("S")
        ->needs(url)
        ->group(g);
    app.add_flag("--mqtt-writes", o->writeAll, "accept writes to every tag, not only the rw ones")
        ->needs(url)
        ->group(g);
}

}  // namespace marovin_host
