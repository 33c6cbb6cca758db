// --http and its group; the token may come from a file or the environment,
// so that it does not show in the process list.
#include "HttpOptions.h"

#include "CliChecks.h"
#include "VariableArgs.h"

#include <arpa/inet.h>

#include <fstream>

namespace marovin_host {

namespace {

// Whether every character may stand in a header, a cookie and a URL unquoted.
bool tokenCharactersOk(const std::string &token)
{
    for (char c : token) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '~' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

// The first line of the file, without surrounding blanks.
bool readTokenFile(const std::string &path, std::string *token, std::string *error)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        *error = "--http-token-file: cannot read " + path;
        return false;
    }
    *token = trim(line);
    return true;
}

}  // namespace

void addHttpOptions(CLI::App &app, HttpOptions *o)
{
    const char *g = "Web";
    app.add_option("--http", o->listen, "web panel, API and metrics on ADDR (127.0.0.1):PORT (0: any)")
        ->check(CLI::Validator(
            [](std::string &text) {
                std::string host;
                int port = 0;
                return parseListenAddress(text, &host, &port) ? std::string()
                                                                : "bad value '" + text + "' (expected [ADDR:]PORT)";
            },
            ""))
        ->type_name("[ADDR:]PORT")
        ->group(g);
    app.add_flag("--http-writes", o->writes, "allow writes of rw tags from the web")->group(g);
    app.add_flag("--http-trace", o->trace, "the frame trace on the page (every exchange costs a little more)")
        ->group(g);
    app.add_option("--http-token", o->token, "token for writes, and for all beyond loopback (or MAROVIN_HTTP_TOKEN)")
        ->envname("MAROVIN_HTTP_TOKEN")
        ->type_name("T")
        ->group(g);
    app.add_option("--http-token-file", o->tokenFile, "the token from the file's first line")
        ->type_name("FILE")
        ->group(g);
    app.add_option("--history", o->history, "samples kept per tag for the trend (600)")
        ->check(marovin_port::integerIn(1, 100000))
        ->type_name("N")
        ->group(g);
}

bool parseListenAddress(const std::string &text, std::string *host, int *port)
{
    const std::string::size_type colon = text.rfind(':');
    const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
    *host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
    if (host->size() > 2 && host->front() == '[' && host->back() == ']')
        *host = host->substr(1, host->size() - 2);
    if (host->empty() || host->find_first_of("[] \t") != std::string::npos || portText.empty() ||
        portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *port = std::stoi(portText);
    return *port <= 65535;
}

bool isLoopbackAddress(const std::string &host)
{
    in_addr v4;
    in6_addr v6;
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return host == "localhost";
}

bool resolveHttpOptions(HttpOptions *o, std::size_t tags, std::string *error)
{
    if (!parseListenAddress(o->listen, &o->host, &o->port)) {
        *error = "--http: bad value '" + o->listen + "' (expected [ADDR:]PORT)";
        return false;
    }
    o->loopback = isLoopbackAddress(o->host);
    if (!o->tokenFile.empty() && !readTokenFile(o->tokenFile, &o->token, error))
        return false;
    if (!o->token.empty() && (o->token.size() < kMinTokenLength || !tokenCharactersOk(o->token))) {
        *error = "--http-token: at least " + std::to_string(kMinTokenLength) +
                 " characters, letters, digits and . _ ~ - only";
        return false;
    }
    if (!o->loopback && o->token.empty()) {
        *error = "--http " + o->listen +
                 " is reachable beyond this machine: give a token (--http-token-file FILE, MAROVIN_HTTP_TOKEN or "
                 "--http-token), or bind to 127.0.0.1";
        return false;
    }
    if (tags * static_cast<std::size_t>(o->history) > kMaxHistorySamples) {
        *error = "--history " + std::to_string(o->history) + " for " + std::to_string(tags) +
                 " tags needs more than " + std::to_string(kMaxHistorySamples) + " samples: give a smaller --history";
        return false;
    }
    return true;
}

}  // namespace marovin_host
