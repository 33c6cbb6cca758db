// --config files, looked at before CLI11 reads them: CLI11 names neither the
// file nor the line of a bad entry.
#ifndef MAROVIN_PORT_CONFIG_FILE_H
#define MAROVIN_PORT_CONFIG_FILE_H

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <string>

namespace marovin_port {

// Whether line begins with a UTF-8 byte order mark, which some editors put
// before a file's first line.
bool hasByteOrderMark(const std::string &line);
// Where each option of the config file given in argv was set: "--timeout" ->
// "FILE:LINE". Fails with "FILE:LINE: ..." for a line that is neither blank, a
// comment, a [section] nor NAME = VALUE of an option the app knows.
bool readConfigPlaces(const CLI::App &app, int argc, char **argv, std::map<std::string, std::string> *places,
                      std::string *error);
// Whether argv itself gives the option (as "--name", "--name=..." or, for
// one-letter aliases, "-x").
bool givenOnCommandLine(const CLI::App &app, const std::string &option, int argc, char **argv);
// parseCommandLine, with a bad line of the config file, or a bad value from
// it, named by its file and line.
int parseWithConfigPlaces(CLI::App &app, int argc, char **argv, const char *prog, std::FILE *out, std::FILE *err);

}  // namespace marovin_port

#endif
