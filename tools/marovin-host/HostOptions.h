// Command-line options of marovin-host.
#ifndef MAROVIN_HOST_OPTIONS_H
#define MAROVIN_HOST_OPTIONS_H

#include "Port.h"

#include <cstdio>
#include <string>
#include <vector>

namespace marovin_host {

enum class PortKind { Simulator, Serial, Tcp };

// A -v or --vars argument, kept in command-line order.
struct VariableSource {
    bool isFile = false;
    std::string text;
};

struct HostOptions {
    std::string libraryPath;

    // Settings record.
    int station = 1;
    bool multiStation = false;
    int retries = 2;
    int maxUnits = 8;
    int writeMode = 2;  // 2: queue writes for the PLC; 1: cache only
    bool remote = false;
    int linkNo = 0;

    std::vector<VariableSource> variables;
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
    int turnaroundMs = 0;
    int timeoutMs = 1000;
    int interByteMs = 50;

    int refreshMs = 250;
    bool quiet = false;
    bool trace = false;
    std::string traceFile;  // empty: standard output
    std::string csvFile;
    std::string dumpFile;

    long cycles = 0;           // 0: no limit
    double durationS = 0;      // 0: no limit
    double linkTimeoutS = 30;  // a link down this long ends the run

    bool help = false;
    bool version = false;
};

// Fills *options from argv; false with a one-line message in *error.
bool parseOptions(int argc, char **argv, HostOptions *options, std::string *error);
// Prints the option summary.
void printUsage(std::FILE *out);

}  // namespace marovin_host

#endif
