// The option groups of marovin-host's command line, one file each.
#ifndef MAROVIN_HOST_CONFIG_COMMAND_LINE_GROUPS_H
#define MAROVIN_HOST_CONFIG_COMMAND_LINE_GROUPS_H

#include "config/HostOptions.h"

#include <CLI/CLI.hpp>

#include <string>

namespace marovin_host {

// Driver, Variables, Port, Output and Stop; *tcp and *rfc2217 get the
// HOST:PORT texts, *trace the --trace option.
void addCoreOptions(CLI::App &app, HostOptions *o, std::string *tcp, std::string *rfc2217, CLI::Option **trace);
// The group "Web"; every option but --http needs --http.
void addHttpOptions(CLI::App &app, HttpOptions *options);
// The group "MQTT"; every option but --mqtt needs --mqtt.
void addMqttOptions(CLI::App &app, MqttOptions *options);
// The group "Store and historian": the bounds need --store, the historian's
// options --historian, and --historian needs --store.
void addStoreOptions(CLI::App &app, StoreOptions *store, HistorianOptions *historian);
// The group "Sparkplug, Home Assistant", after the MQTT group; hands back
// --ha-discovery for completePlantOptions.
CLI::Option *addPlantOptions(CLI::App &app, HostOptions *options);
// The discovery prefix once the command line is read; false with a message.
bool completePlantOptions(CLI::Option *haDiscovery, HostOptions *options, std::string *error);
// Throws CLI11's validation error for an option whose value was refused.
[[noreturn]] inline void refuse(const std::string &option, const std::string &why)
{
    throw CLI::ValidationError(option, why);
}

}  // namespace marovin_host

#endif
