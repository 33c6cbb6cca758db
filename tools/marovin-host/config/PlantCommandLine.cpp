// The group "Sparkplug, Home Assistant" of marovin-host's command line: both
// ride on the MQTT gateway, so each needs --mqtt; they exclude each other
// (Sparkplug replaces the JSON topics that discovery points at).
#include "config/CommandLineGroups.h"

namespace marovin_host {

CLI::Option *addPlantOptions(CLI::App &app, HostOptions *o)
{
    const char *g = "Sparkplug, Home Assistant";
    CLI::Option *url = app.get_option("--mqtt");
    CLI::Option *sparkplug =
        app.add_option_function<std::string>(
               "--sparkplug",
               [o](const std::string &text) {
                   std::string error;
                   if (!parseSparkplugName(text, &o->sparkplug, &error))
                       refuse("--sparkplug", error);
               },
               "a Sparkplug B 3.0 edge node instead of the JSON topics")
            ->type_name("GROUP/NODE")
            ->needs(url)
            ->excludes(app.get_option("--mqtt-prefix"))
            ->excludes(app.get_option("--mqtt-max-age"))
            ->group(g);
    app.add_option_function<std::string>(
           "--sparkplug-primary",
           [o](const std::string &text) {
               std::string why;
               if (!validSparkplugId(text, &why))
                   refuse("--sparkplug-primary", "bad value '" + text + "' (" + why + ")");
               o->sparkplug.primaryHost = text;
           },
           "births and data only while this primary host application is online")
        ->type_name("HOST_ID")
        ->needs(sparkplug)
        ->group(g);
    app.add_option("--state-dir", o->sparkplug.stateDir, "keeps Sparkplug's bdSeq across restarts")
        ->type_name("DIR")
        ->group(g);
    return app.add_option("--ha-discovery", o->ha.prefix, "Home Assistant discovery configs under PREFIX")
        ->expected(0, 1)
        ->type_name(std::string("[PREFIX]"))
        ->needs(url)
        ->excludes(sparkplug)
        ->group(g);
}

bool completePlantOptions(CLI::Option *haDiscovery, HostOptions *o, std::string *error)
{
    // A config file says "ha-discovery = true" for the default prefix.
    std::string &prefix = o->ha.prefix;
    if (haDiscovery->count() == 0 || prefix == "false") {
        prefix.clear();
        return true;
    }
    if (prefix.empty() || prefix == "true")
        prefix = kDefaultHaPrefix;
    std::string why;
    if (validTopicPrefix(prefix, &why))
        return true;
    *error = "--ha-discovery: " + why;
    return false;
}

}  // namespace marovin_host
