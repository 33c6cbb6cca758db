// The web group of marovin-host's command line. Every option but --http
// needs --http; the token may also come from a file or the environment, so
// that it does not show in the process list.
#include "config/CommandLineGroups.h"

#include "CliChecks.h"

namespace marovin_host {

void addHttpOptions(CLI::App &app, HttpOptions *o)
{
    const char *g = "Web";
    CLI::Option *http = app.add_option("--http", o->listen, "web panel, API and metrics on ADDR (127.0.0.1):PORT (0: any)")
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
    app.add_flag("--http-writes", o->writes, "allow writes of rw tags from the web")->needs(http)->group(g);
    app.add_flag("--http-trace", o->trace, "the frame trace on the page (every exchange costs a little more)")
        ->needs(http)
        ->group(g);
    app.add_option("--http-token", o->token, "token for writes, and for all beyond loopback (or MAROVIN_HTTP_TOKEN)")
        ->type_name("T")
        ->needs(http)
        ->group(g);
    app.add_option("--http-token-file", o->tokenFile, "the token from the file's first line")
        ->type_name("FILE")
        ->needs(http)
        ->group(g);
    app.add_option("--http-cert", o->certFile, "HTTPS with this certificate (PEM, chain); SIGHUP reads it again")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(http)
        ->group(g);
    app.add_option("--http-key", o->keyFile, "the certificate's private key (PEM)")
        ->check(CLI::ExistingFile.description(""))
        ->type_name("FILE")
        ->needs(http)
        ->group(g);
    app.add_flag("--http-insecure", o->insecure, "plain HTTP beyond loopback (the token travels readable)")
        ->needs(http)
        ->group(g);
    app.add_option("--history", o->history, "samples kept per tag for the trend (600)")
        ->check(marovin_port::integerIn(1, 100000))
        ->type_name("N")
        ->needs(http)
        ->group(g);
}

}  // namespace marovin_host
