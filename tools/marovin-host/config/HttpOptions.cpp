// --http and its group; the token may come from a file or the environment,
// so that it does not show in the process list.
#include "config/HttpOptions.h"

#include "util/Text.h"

#include "HostPort.h"

#include <cstdlib>

#include <arpa/inet.h>

#include <fstream>

namespace marovin_host {

const char *const kHttpTokenVariable = "MAROVIN_HTTP_TOKEN";

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

bool parseListenAddress(const std::string &text, std::string *host, int *port)
{
    marovin_port::HostPortRules rules;
    rules.anyPort = true;
    return marovin_port::parseHostPort(text, rules, host, port);
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
    // The token's source names it in messages: the option, the file or the environment.
    std::string source = "--http-token";
    if (!o->tokenFile.empty()) {
        if (!o->token.empty()) {
            *error = "--http-token and --http-token-file exclude each other";
            return false;
        }
        if (!readTokenFile(o->tokenFile, &o->token, error))
            return false;
        source = "--http-token-file " + o->tokenFile;
    } else if (o->token.empty()) {
        const char *env = std::getenv(kHttpTokenVariable);
        if (env && *env) {
            o->token = env;
            source = kHttpTokenVariable;
        }
    }
    if (!o->token.empty() && (o->token.size() < kMinTokenLength || !tokenCharactersOk(o->token))) {
        *error = source + ": the token needs at least " + std::to_string(kMinTokenLength) +
                 " characters, letters, digits and . _ ~ - only";
        return false;
    }
    if (!o->loopback && o->token.empty()) {
        *error = "--http " + o->listen +
                 " is reachable beyond this machine: give a token (--http-token-file FILE, MAROVIN_HTTP_TOKEN or "
                 "--http-token), or bind to 127.0.0.1";
        return false;
    }
    if (o->certFile.empty() != o->keyFile.empty()) {
        *error = "--http-cert and --http-key go together";
        return false;
    }
    if (!o->loopback && !o->tls() && !o->insecure) {
        *error = "--http " + o->listen +
                 " is reachable beyond this machine, and its token and writes would cross the network in clear: "
                 "give --http-cert and --http-key for HTTPS (or --http-insecure on a network you trust)";
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
