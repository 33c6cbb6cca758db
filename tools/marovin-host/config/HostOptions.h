// What marovin-host was told: every option as plain data, checked and split
// by the parsers of this room. Rooms below the loop never see this; the
// wiring hands each room its own part.
#ifndef MAROVIN_HOST_CONFIG_HOST_OPTIONS_H
#define MAROVIN_HOST_CONFIG_HOST_OPTIONS_H

#include "config/HttpOptions.h"
#include "config/MqttOptions.h"
#include "model/DriverSettings.h"
#include "model/LoopSettings.h"
#include "config/StoreOptions.h"
#include "config/PlantOptions.h"

#include "Port.h"

#include <cstdio>
#include <string>
#include <vector>

namespace marovin_host {

enum class PortKind { Simulator, Serial, Tcp };

struct HostOptions {
    std::string libraryPath;
    DriverSettings driver;  // the settings record
    LoopSettings loop;      // timing and stop rules

    std::vector<std::string> variables;      // -v texts
    std::vector<std::string> variableFiles;  // --vars files
    std::vector<std::string> tagFiles;       // --tags files
    std::vector<std::string> writes;
    std::vector<std::string> onceReads;

    PortKind portKind = PortKind::Simulator;
    std::string serialDevice;
    marovin_port::SerialOptions serial;
    std::string tcpHost;
    int tcpPort = 0;
    bool rfc2217 = false;  // the TCP server speaks telnet with COM port control
    std::string simPath;
    std::string simArgs = "--demo";
    std::string simLog;  // simulator output after its pty line; empty: dropped

    int lineRate = 0;  // baud of the line behind a pty or TCP port; 0: the port's own

    bool quiet = false;
    bool trace = false;
    std::string traceFile;  // empty: standard output
    std::string csvFile;
    std::string dumpFile;

    HttpOptions http;  // the web panel
    MqttOptions mqtt;
    StoreOptions store;  // the outbox
    HistorianOptions historian;
    SparkplugOptions sparkplug;  // instead of the JSON topics
    HaDiscoveryOptions ha;       // beside them
};

// Fills *options from argv and from the --config file. Returns -1 when the
// host should run; otherwise the exit code: 0 after --help or --version
// (printed on out), 2 after a usage error (a one-line message on err).
int parseOptions(int argc, char **argv, HostOptions *options, std::FILE *out = stdout, std::FILE *err = stderr);

}  // namespace marovin_host

#endif
