// Command line of marovin-sim.
#ifndef MAROVIN_SIM_OPTIONS_H
#define MAROVIN_SIM_OPTIONS_H

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "MemoryText.h"
#include "Port.h"

namespace marovin_sim {

enum class Transport { Pty, Serial, Tcp };
enum class AnimationKind { Counter, Sine, Toggle, Clock };

struct Animation {
    marovin_device::VariableKey key;
    AnimationKind kind = AnimationKind::Counter;
};

struct FaultRates {
    double drop = 0, corrupt = 0, shortReply = 0, delay = 0, noise = 0, duplicate = 0;  // percent
    int delayMs = 0;
    int duplicateMs = 0;  // the second copy of a duplicated reply this long after the first
    int station = -1;  // -1: every station
    long long forReplies = 0;  // faults only in the first N replies; 0: always
};

struct Options {
    Transport transport = Transport::Pty;
    std::string serialDevice;
    marovin_port::SerialOptions serial;
    std::string tcpHost = "127.0.0.1";
    int tcpPort = 0;

    std::set<int> stations = {1};
    bool allStations = false;
    bool remote = false;
    bool noEcho = false;  // read replies without their request's header
    bool demo = false;
    std::vector<std::string> memoryFiles;
    std::vector<marovin_device::Assignment> sets;
    std::vector<Animation> animations;
    int tickMs = 1000;
    int gapMs = 200;
    int lineRate = 0;         // baud of the paced line; 0: memory speed
    int responseDelayMs = 0;  // the device's turnaround

    FaultRates faults;
    bool seedGiven = false;
    std::uint64_t seed = 0;

    bool trace = false;
    long long exitAfter = 0;  // requests; 0: no limit
    double duration = 0;      // seconds; 0: no limit
    std::string dumpFile;
};

// Fills *options from argv and from the --config file. Returns -1 when the
// simulator should run; otherwise the exit code: 0 after --help or --version
// (printed on out), 2 after a usage error (a one-line message on err).
int parseOptions(int argc, char **argv, Options *options, std::FILE *out = stdout, std::FILE *err = stderr);
// Parses "STATION:AREA:ADDR=counter|sine|toggle|clock".
bool parseAnimation(const std::string &text, Animation *out, std::string *error);
// Reads a memory file: assignments and "animate KEY=KIND" lines. On failure
// *unreadable tells a file that cannot be read from one with a bad line.
bool loadMemoryFile(const std::string &path, std::vector<marovin_device::Assignment> *sets,
                    std::vector<Animation> *animations, std::string *error, bool *unreadable);

}  // namespace marovin_sim

#endif
