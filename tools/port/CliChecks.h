// Option checks and the serial line options that marovin-host and marovin-sim
// share, for their CLI11 command lines.
#ifndef MAROVIN_TOOLS_CLI_CHECKS_H
#define MAROVIN_TOOLS_CLI_CHECKS_H

#include "Port.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

namespace marovin_port {

// Help lines show an option's value as its type name only (no "...", no
// "Excludes"), as the tools' help always did.
class PlainFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option *option) const override;
};

// A whole decimal integer within [low, high].
CLI::Validator integerIn(long long low, long long high);
// A non-negative number of seconds (fractions allowed), at most ten million.
CLI::Validator seconds();
// Adds --baud, --data-bits, --parity, --stop-bits and --rs485 to the group.
void addSerialOptions(CLI::App &app, SerialOptions *serial, const std::string &group);
// A CLI11 parse error as one line: unknown options and bad config entries in
// plain words.
std::string usageErrorText(const CLI::ParseError &error);
// Runs app.parse and reports like the tools do: -1 to go on, 0 after --help
// or --version (printed on out), 2 after a usage error (on err, after prog);
// where, when given, may say where a bad option came from (a prefix for the
// message).
int parseCommandLine(CLI::App &app, int argc, char **argv, const char *prog, std::FILE *out, std::FILE *err,
                     const std::function<std::string(const std::string &option)> &where = nullptr);

}  // namespace marovin_port

#endif
