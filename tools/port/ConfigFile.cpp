#include "ConfigFile.h"

#include "CliChecks.h"

#include <cstring>
#include <fstream>

namespace marovin_port {

namespace {

const std::size_t kMaxLine = 4096;

std::string trim(const std::string &text)
{
    return CLI::detail::trim_copy(text);
}

// The file that --config names in argv; empty without one.
std::string configPath(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc)
            return argv[i + 1];
        if (std::strncmp(argv[i], "--config=", 9) == 0)
            return argv[i] + 9;
    }
    return std::string();
}

// One line's verdict: empty when fine, otherwise why not; *key the option it sets.
// Below a [section] other than [default], CLI11 reads a name as SECTION.NAME.
std::string checkLine(const CLI::App &app, const std::string &raw, std::string *section, std::string *key)
{
    if (raw.size() > kMaxLine)
        return "line longer than " + std::to_string(kMaxLine) + " characters";
    const std::string line = trim(raw);
    if (!line.empty() && line.front() == '[' && line.back() == ']') {
        *section = trim(line.substr(1, line.size() - 2));
        *section = *section == "default" ? "" : *section + ".";
        return std::string();
    }
    if (line.empty() || line[0] == '#' || line[0] == ';')
        return std::string();
    // A bare name sets a flag, as CLI11 reads it.
    const std::string::size_type eq = line.find('=');
    *key = trim(line.substr(0, eq));
    if (key->empty() || key->find_first_of(" \t\"'") != std::string::npos)
        return "bad line '" + line + "' (expected NAME = VALUE)";
    *key = *section + *key;
    if (!app.get_option_no_throw("--" + *key))
        return "unknown option '" + *key + "' (see --help)";
    return std::string();
}

}  // namespace

bool hasByteOrderMark(const std::string &line)
{
    return line.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

bool readConfigPlaces(const CLI::App &app, int argc, char **argv, std::map<std::string, std::string> *places,
                      std::string *error)
{
    const std::string path = configPath(argc, argv);
    if (path.empty())
        return true;
    std::ifstream in(path);
    if (!in)
        return true;  // CLI11 says that it cannot be read
    std::string line, section;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string key;
        // CLI11 would take the mark for part of the first name.
        const std::string why = number == 1 && hasByteOrderMark(line)
                                    ? "the file begins with a byte order mark: save it as UTF-8 without one"
                                    : checkLine(app, line, &section, &key);
        const std::string where = path + ":" + std::to_string(number);
        if (!why.empty()) {
            *error = where + ": " + why;
            return false;
        }
        if (key.empty())
            continue;
        // A name of one value given twice: CLI11 would blame the first line in its own words.
        const auto placed = places->emplace("--" + key, where);
        const CLI::Option *option = app.get_option_no_throw("--" + key);
        if (!placed.second && option->get_items_expected_max() <= 1) {
            const std::string &first = placed.first->second;
            *error = where + ": '" + key + "' given again (it takes one value; first on line " +
                     first.substr(first.rfind(':') + 1) + ")";
            return false;
        }
    }
    return true;
}

bool givenOnCommandLine(const CLI::App &app, const std::string &option, int argc, char **argv)
{
    const CLI::Option *o = app.get_option_no_throw(option);
    if (!o)
        return false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        for (const std::string &name : o->get_lnames()) {
            const std::string dashed = "--" + name;
            if (arg == dashed || arg.compare(0, dashed.size() + 1, dashed + "=") == 0)
                return true;
        }
        for (const std::string &name : o->get_snames()) {
            if (arg.compare(0, name.size() + 1, "-" + name) == 0)
                return true;
        }
    }
    return false;
}

int parseWithConfigPlaces(CLI::App &app, int argc, char **argv, const char *prog, std::FILE *out, std::FILE *err)
{
    std::map<std::string, std::string> places;
    std::string error;
    if (!readConfigPlaces(app, argc, argv, &places, &error)) {
        std::fprintf(err, "%s: %s\n", prog, error.c_str());
        return 2;
    }
    return parseCommandLine(app, argc, argv, prog, out, err, [&](const std::string &option) {
        const auto place = places.find(option);
        return place != places.end() && !givenOnCommandLine(app, option, argc, argv) ? place->second + ": "
                                                                                     : std::string();
    });
}

}  // namespace marovin_port
