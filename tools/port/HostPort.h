// Host and port of a command-line address, as the tools take them: HOST:PORT,
// PORT alone, [V6]:PORT, or HOST with a default port.
#ifndef MAROVIN_TOOLS_HOST_PORT_H
#define MAROVIN_TOOLS_HOST_PORT_H

#include <string>

namespace marovin_port {

// How parseHostPort checks the host part.
enum class HostCheck {
    Any,       // any text but an empty one: the resolver judges it
    NoBlanks,  // no blanks, control characters or brackets (beyond those of [V6])
    Name,      // a name or IPv4 address (letters, digits, '.', '-', '_'), or [V6]
};

// What an address may leave out, and what it must hold.
struct HostPortRules {
    // The host of a text that is a port alone (or ":PORT" with emptyHost).
    std::string defaultHost = "127.0.0.1";
    // < 0: the text is [HOST:]PORT, split at its last colon. >= 0: the text
    // is HOST[:PORT], an IPv6 host in brackets, and a missing port is this one.
    int defaultPort = -1;
    // Port 0 (listen on any free port) is allowed.
    bool anyPort = false;
    // ":PORT" stands for the default host.
    bool emptyHost = false;
    HostCheck hostCheck = HostCheck::NoBlanks;
};

// Splits text by the rules into *host (brackets of [V6] taken off) and
// *port; a port is 1 to 5 digits, 1..65535 (or 0 with anyPort). False when
// the text does not fit: *host and *port stay as they were, and *why says
// "\"X\" is not a port number" or "\"X\" is not a host name or address".
bool parseHostPort(const std::string &text, const HostPortRules &rules, std::string *host, int *port,
                   std::string *why = nullptr);

}  // namespace marovin_port

#endif
