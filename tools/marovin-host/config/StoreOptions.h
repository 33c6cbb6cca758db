// The outbox's and the historian's options: where the store lives and how
// much it may hold; which database takes the history.
#ifndef MAROVIN_HOST_CONFIG_STORE_OPTIONS_H
#define MAROVIN_HOST_CONFIG_STORE_OPTIONS_H

#include <string>

namespace marovin_host {

struct StoreOptions {
    std::string file;  // empty: no store
    long maxMb = 1024;
    double maxAgeS = 7 * 86400.0;

    bool enabled() const { return !file.empty(); }
};

struct HistorianOptions {
    std::string url;  // postgresql://...; empty: no historian
    std::string passwordFile;
    std::string password;  // from the file; libpq takes PGPASSWORD and ~/.pgpass itself
    std::string gateway;   // the gateway column; empty: this machine's name

    bool enabled() const { return !url.empty(); }
};

// A duration as N[s|m|h|d] (seconds without a unit); false when it is none.
bool parseDuration(const std::string &text, double *seconds);
// postgresql://[USER[:PASS]@]HOST[:PORT]/DB[?PARAMS] (or postgres://): the
// form only, libpq reads it; false with a message that hides the password.
bool checkHistorianUrl(const std::string &text, std::string *error);
// Reads the password file and fills the default gateway name; false with a message.
bool completeHistorianOptions(HistorianOptions *options, std::string *error);

}  // namespace marovin_host

#endif
