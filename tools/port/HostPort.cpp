#include "HostPort.h"

#include <cctype>

namespace marovin_port {

namespace {

// An address cut into its host and port texts, before their checks.
struct Parts {
    std::string host;  // brackets of [V6] taken off
    std::string port;
    bool hostGiven = false;
    bool portGiven = false;
    bool bracketed = false;
    bool broken = false;  // a bracket left open, or more than a port after it
};

// [HOST:]PORT, split at the last colon, so that a bare IPv6 host keeps its colons.
Parts splitAtLastColon(const std::string &text)
{
    Parts p;
    const std::string::size_type colon = text.rfind(':');
    p.portGiven = true;
    p.port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon == std::string::npos)
        return p;
    p.hostGiven = true;
    p.host = text.substr(0, colon);
    if (p.host.size() > 2 && p.host.front() == '[' && p.host.back() == ']') {
        p.host = p.host.substr(1, p.host.size() - 2);
        p.bracketed = true;
    }
    return p;
}

// HOST[:PORT], where only a host in brackets may hold a colon.
Parts splitAfterHost(const std::string &text)
{
    Parts p;
    p.hostGiven = true;
    std::string::size_type end = text.find(':');
    if (!text.empty() && text[0] == '[') {
        const std::string::size_type close = text.find(']');
        end = close == std::string::npos ? close : close + 1;
        p.broken = end == std::string::npos || (end < text.size() && text[end] != ':');
        if (p.broken) {
            p.host = text;
            return p;
        }
        p.host = text.substr(1, close - 1);
        p.bracketed = true;
    } else {
        p.host = text.substr(0, end);
    }
    if (end < text.size()) {
        p.portGiven = true;
        p.port = text.substr(end + 1);
    }
    return p;
}

// Whether a host text passes the check; an empty one never does.
bool hostFits(const std::string &host, bool bracketed, HostCheck check)
{
    if (host.empty())
        return false;
    if (check == HostCheck::Any)
        return true;
    if (check == HostCheck::NoBlanks) {
        for (unsigned char c : host)
            if (c <= ' ' || c == 0x7F || c == '[' || c == ']')
                return false;
        return true;
    }
    if (bracketed)
        return host.size() >= 2 && host.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos;
    if (host.size() > 253)
        return false;
    for (unsigned char c : host)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_')
            return false;
    return true;
}

// A port number of 1 to 5 digits, up to 65535 and from 1 (from 0 with anyPort).
bool portFits(const std::string &text, bool anyPort, int *port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::stoi(text);
    if (n > 65535 || n < (anyPort ? 0 : 1))
        return false;
    *port = n;
    return true;
}

// Stores a refusal's message and reports it.
bool refuse(std::string *why, const std::string &what, const char *isNot)
{
    if (why)
        *why = "\"" + what + "\" is not " + isNot;
    return false;
}

}  // namespace

bool parseHostPort(const std::string &text, const HostPortRules &rules, std::string *host, int *port,
                   std::string *why)
{
    const Parts p = rules.defaultPort < 0 ? splitAtLastColon(text) : splitAfterHost(text);
    std::string h = rules.defaultHost;
    if (p.hostGiven && !(p.host.empty() && !p.bracketed && rules.emptyHost)) {
        if (p.broken || !hostFits(p.host, p.bracketed, rules.hostCheck))
            return refuse(why, p.bracketed ? "[" + p.host + "]" : p.host, "a host name or address");
        h = p.host;
    }
    int n = rules.defaultPort;
    if (p.portGiven && !portFits(p.port, rules.anyPort, &n))
        return refuse(why, p.port, "a port number");
    *host = h;
    *port = n;
    return true;
}

}  // namespace marovin_port
