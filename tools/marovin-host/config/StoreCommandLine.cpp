// The store and historian groups of marovin-host's command line. The store's
// bounds need --store; the historian's options need --historian, which
// needs --store: its values go through the store.
#include "config/CommandLineGroups.h"

#include "CliChecks.h"
#include "model/Tag.h"

namespace marovin_host {

void addStoreOptions(CLI::App &app, StoreOptions *s, HistorianOptions *h)
{
    const char *g = "Store and historian";
    CLI::Option *store =
        app.add_option("--store", s->file, "keep every change in FILE until MQTT and the historian have it")
            ->type_name("FILE")
            ->group(g);
    app.add_option("--store-max-mb", s->maxMb, "the store's bound in MB; the oldest values go first (1024)")
        ->check(marovin_port::integerIn(1, 1000000))
        ->type_name("MB")
        ->needs(store)
        ->group(g);
    app.add_option_function<std::string>(
           "--store-max-age",
           [s](const std::string &text) {
               if (!parseDuration(text, &s->maxAgeS))
                   refuse("--store-max-age", "bad value '" + text + "' (expected N, Ns, Nm, Nh or Nd)");
           },
           "values older than this go (7d)")
        ->type_name("N[s|m|h|d]")
        ->needs(store)
        ->group(g);
    CLI::Option *url = app.add_option_function<std::string>(
                              "--historian",
                              [h](const std::string &text) {
                                  std::string error;
                                  if (!checkHistorianUrl(text, &error))
                                      refuse("--historian", error);
                                  h->url = text;
                              },
                              "write every change into PostgreSQL (through the store)")
                           ->type_name("postgresql://[USER[:PASS]@]HOST[:PORT]/DB")
                           ->needs(store)
                           ->group(g);
    app.add_option("--historian-password-file", h->passwordFile, "database password from the file's first line")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(url)
        ->group(g);
    app.add_option("--historian-gateway", h->gateway, "this gateway's name in the table (the host name)")
        ->check(CLI::Validator(
            [](std::string &name) {
                return validTagName(name) ? std::string() : "bad value '" + name + "' (letters, digits, _ . : -)";
            },
            ""))
        ->type_name("NAME")
        ->needs(url)
        ->group(g);
}

}  // namespace marovin_host
