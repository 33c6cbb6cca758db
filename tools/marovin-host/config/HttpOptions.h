// The web panel's options (--http and its group) and the checks made on them
// before the run starts.
#ifndef MAROVIN_HOST_CONFIG_HTTP_OPTIONS_H
#define MAROVIN_HOST_CONFIG_HTTP_OPTIONS_H

#include <cstddef>
#include <string>

namespace marovin_host {

struct HttpOptions {
    std::string listen;     // --http [ADDR:]PORT; empty: no web panel
    bool writes = false;    // --http-writes
    bool trace = false;     // --http-trace
    std::string token;      // --http-token, or MAROVIN_HTTP_TOKEN
    std::string tokenFile;  // --http-token-file
    int history = 600;      // --history: samples kept per tag
    std::string certFile;   // --http-cert: HTTPS with this certificate (chain)
    std::string keyFile;    // --http-key: its private key
    bool insecure = false;  // --http-insecure: plain HTTP beyond loopback all the same

    // Set by resolveHttpOptions.
    std::string host;
    int port = 0;  // 0: any free port
    bool loopback = true;

    bool enabled() const { return !listen.empty(); }
    bool tls() const { return !certFile.empty(); }
};

const int kMinTokenLength = 16;
// Samples of all tags together that --history may keep (8 bytes each).
const std::size_t kMaxHistorySamples = 50000000;
// The environment variable that may hold the token.
extern const char *const kHttpTokenVariable;

// Splits [ADDR:]PORT (ADDR 127.0.0.1 when left out, [v6] in brackets, PORT
// 0 for any free port); false when it is not of that form.
bool parseListenAddress(const std::string &text, std::string *host, int *port);
// Whether the address is a loopback address: 127.0.0.0/8, ::1 or localhost.
bool isLoopbackAddress(const std::string &host);
// Fills host, port and loopback, takes the token from the file or the
// environment when not given, and checks that a server bound beyond loopback
// has a token and TLS (or --http-insecure), and that the history fits; false
// with a message for a usage error, naming where the bad value came from.
bool resolveHttpOptions(HttpOptions *options, std::size_t tags, std::string *error);

}  // namespace marovin_host

#endif
