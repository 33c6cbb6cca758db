#include "config/StoreOptions.h"

#include "model/Tag.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace marovin_host {

namespace {

const std::size_t kMaxPassword = 256;

// The URL with the password between "USER:" and the last '@' before the
// path as "***", for messages (a password may hold '@' itself).
std::string hidePassword(const std::string &url)
{
    const std::string::size_type start = url.find("://");
    if (start == std::string::npos)
        return url;
    const std::string::size_type at = url.rfind('@', url.find('/', start + 3));
    if (at == std::string::npos || at < start + 3)
        return url;
    const std::string::size_type colon = url.find(':', start + 3);
    return colon < at ? url.substr(0, colon + 1) + "***" + url.substr(at) : url;
}

}  // namespace

bool parseDuration(const std::string &text, double *seconds)
{
    if (text.empty() || text.size() > 20)
        return false;
    char *end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    static const std::string units = "smhd";
    static const double factors[] = {1, 60, 3600, 86400};
    double factor = 1;
    if (*end != '\0') {
        const std::string::size_type unit = units.find(*end);
        if (unit == std::string::npos || end[1] != '\0')
            return false;
        factor = factors[unit];
    }
    if (end == text.c_str() || !(n > 0) || n * factor > 10 * 365 * 86400.0)
        return false;
    *seconds = n * factor;
    return true;
}

bool checkHistorianUrl(const std::string &text, std::string *error)
{
    *error = "bad value '" + hidePassword(text) + "' (expected postgresql://[USER[:PASS]@]HOST[:PORT]/DB)";
    std::string::size_type start = 0;
    if (text.compare(0, 13, "postgresql://") == 0)
        start = 13;
    else if (text.compare(0, 11, "postgres://") == 0)
        start = 11;
    else
        return false;
    const std::string::size_type slash = text.find('/', start);
    if (slash == std::string::npos || slash + 1 >= text.size() || text[slash + 1] == '?')
        return false;
    const std::string::size_type at = text.rfind('@', slash);
    const std::string::size_type host = at == std::string::npos || at < start ? start : at + 1;
    if (host >= slash || text[host] == ':')
        return false;
    error->clear();
    return true;
}

bool completeHistorianOptions(HistorianOptions *o, std::string *error)
{
    if (!o->passwordFile.empty()) {
        std::ifstream in(o->passwordFile);
        std::string line;
        if (!in || !std::getline(in, line) || (line = line.substr(0, line.find_last_not_of("\r") + 1)).empty() ||
            line.size() > kMaxPassword) {
            *error = "--historian-password-file: no password on the first line of '" + o->passwordFile + "'";
            return false;
        }
        o->password = line;
    }
    if (o->gateway.empty()) {
        char name[256] = "";
        gethostname(name, sizeof name - 1);
        o->gateway = std::string(name).substr(0, kMaxTagNameLength);
        if (!validTagName(o->gateway))
            o->gateway = "marovin-host";
    }
    return true;
}

}  // namespace marovin_host
