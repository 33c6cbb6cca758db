// --config files, looked at before CLI11 reads them: CLI11 names neither the
// file nor the line of a bad entry.
#ifndef MAROVIN_HOST_CONFIG_CONFIG_FILE_H
#define MAROVIN_HOST_CONFIG_CONFIG_FILE_H

#include <CLI/CLI.hpp>

#include <map>
#include <string>

namespace marovin_host {

// Where each option of the config file given in argv was set: "--timeout" ->
// "FILE:LINE". Fails with "FILE:LINE: ..." for a line that is neither blank, a
// comment, a [section] nor NAME = VALUE of an option the app knows.
bool readConfigPlaces(const CLI::App &app, int argc, char **argv, std::map<std::string, std::string> *places,
                      std::string *error);
// Whether argv itself gives the option (as "--name", "--name=..." or, for
// one-letter aliases, "-x").
bool givenOnCommandLine(const CLI::App &app, const std::string &option, int argc, char **argv);

}  // namespace marovin_host

#endif
