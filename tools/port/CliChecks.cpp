#include "CliChecks.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace marovin_port {

std::string PlainFormatter::make_option_opts(const CLI::Option *option) const
{
    const std::string type = option->get_type_name();
    return type.empty() ? std::string() : " " + type;
}

CLI::Validator integerIn(long long low, long long high)
{
    const std::string range = std::to_string(low) + ".." + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string &text) {
            errno = 0;
            char *end = nullptr;
            const long long v = std::strtoll(text.c_str(), &end, 10);
            if (text.empty() || errno != 0 || *end != '\0' || v < low || v > high)
                return "bad value '" + text + "' (expected " + range + ")";
            return std::string();
        },
        "");
}

CLI::Validator seconds()
{
    return CLI::Validator(
        [](std::string &text) {
            errno = 0;
            char *end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0) || v > 1e7)
                return "bad value '" + text + "' (expected seconds)";
            return std::string();
        },
        "");
}

void addSerialOptions(CLI::App &app, SerialOptions *serial, const std::string &group)
{
    app.add_option("--baud", serial->baud, "baud rate (9600)")->check(integerIn(50, 4000000))->type_name("N")->group(group);
    app.add_option("--data-bits", serial->dataBits, "5 to 8 (8)")->check(integerIn(5, 8))->type_name("N")->group(group);
    app.add_option_function<std::string>(
           "--parity", [serial](const std::string &p) { serial->parity = static_cast<char>(p[0] & ~0x20); },
           "N, E or O (N)")
        ->check(CLI::IsMember({"N", "E", "O", "n", "e", "o"}).description(""))
        ->type_name("N|E|O")
        ->group(group);
    app.add_option("--stop-bits", serial->stopBits, "1 or 2 (1)")->check(integerIn(1, 2))->type_name("N")->group(group);
    app.add_flag("--rs485", serial->rs485, "kernel RS-485 direction control")->group(group);
}

std::string usageErrorText(const CLI::ParseError &error)
{
    const std::string what = error.what();
    if (what.compare(0, 13, "The following") == 0) {
        const std::string::size_type colon = what.find(": ");
        return "unknown option " + (colon == std::string::npos ? what : what.substr(colon + 2)) + " (see --help)";
    }
    const std::string many = "At Most 1 required but received ";
    const std::string::size_type at = what.find(many);
    if (at != std::string::npos)
        return what.substr(0, at) + "given " + what.substr(at + many.size()) + " times; it takes one value";
    if (error.get_name() == "ConfigError") {
        const std::string prefix = "INI was not able to parse ";
        if (what.compare(0, prefix.size(), prefix) == 0)
            return "config file: unknown option or bad line '" + what.substr(prefix.size()) + "'";
        return "config file: " + what;
    }
    return what;
}

int parseCommandLine(CLI::App &app, int argc, char **argv, const char *prog, std::FILE *out, std::FILE *err,
                     const std::function<std::string(const std::string &option)> &where)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), out);
        return 0;
    } catch (const CLI::CallForVersion &e) {
        std::fprintf(out, "%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError &e) {
        const std::string text = usageErrorText(e);
        const std::string place = where ? where(text.substr(0, text.find(':'))) : std::string();
        std::fprintf(err, "%s: %s%s\n", prog, place.c_str(), text.c_str());
        return 2;
    }
    return -1;
}

}  // namespace marovin_port
