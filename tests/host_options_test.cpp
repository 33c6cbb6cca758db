// The command line and the config file through parseOptions, and the web
// panel's address check: what is refused with which message and exit code,
// and what an accepted option sets.
#include "config/HostOptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace marovin_host;

namespace {

// The exit code and the first line said on stderr; *o gets the options.
std::pair<int, std::string> parse(std::vector<std::string> args, HostOptions *o)
{
    args.insert(args.begin(), "marovin-host");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *err = open_memstream(&text, &size);
    std::FILE *out = std::fopen("/dev/null", "w");
    const int code = parseOptions(static_cast<int>(argv.size()), argv.data(), o, out, err);
    std::fclose(out);
    std::fclose(err);
    std::string said(text, size);
    std::free(text);
    return {code, said.substr(0, said.find('\n'))};
}

}  // namespace

TEST(HostOptions, RefusalsAndTheirMessages)
{
    const std::string conf = ::testing::TempDir() + "opts.conf";
    std::ofstream(conf) << "quiet = true\ntimeout = soon\n";
    const std::string extra = ::testing::TempDir() + "extra.conf";
    std::ofstream(extra) << "quiet = true\nbogus = 1\n";
    const std::string section = ::testing::TempDir() + "section.conf", line = ::testing::TempDir() + "line.conf",
                      twice = ::testing::TempDir() + "twice.conf";
    std::ofstream(twice) << "var = 1:w16:10\nvar = 1:w16:11\ncycles = 1\n\ncycles = 2\n";
    std::ofstream(conf + ".bom") << "\xEF\xBB\xBF" "quiet = true\n";
    std::ofstream(section) << "[default]\nquiet = true\n[x]\nquiet = true\n";
    std::ofstream(line) << "quiet = true\nbad line\n";
    // ARGS, MESSAGE (exit 2; empty: accepted)
    const struct { std::vector<std::string> args; std::string message; } rows[] = {
        {{"--bogus"}, "marovin-host: unknown option --bogus"},
        {{"--timeout", "soon"}, "marovin-host: --timeout: bad value 'soon' (expected 1..600000)"},
        {{"--serial", "/dev/null", "--tcp", "1"}, "marovin-host: --serial excludes --tcp"},
        {{"--config", conf}, "marovin-host: " + conf + ":2: --timeout: bad value 'soon' (expected 1..600000)"},
        {{"--config", extra}, "marovin-host: " + extra + ":2: unknown option 'bogus'"},
        {{"--config", section}, "marovin-host: " + section + ":4: unknown option 'x.quiet' (see --help)"},
        {{"--config", line}, "marovin-host: " + line + ":2: bad line 'bad line' (expected NAME = VALUE)"},
        {{"--config", twice}, "marovin-host: " + twice + ":5: 'cycles' given again (it takes one value; first on line 3)"},
        {{"--config", conf + ".bom"}, "marovin-host: " + conf + ".bom:1: the file begins with a byte order mark: save it as UTF-8"},
        {{"--cycles", "1", "--cycles", "2"}, "marovin-host: --cycles: given 2 times; it takes one value"},
        {{"--http-writes"}, "marovin-host: --http-writes requires --http"},
        {{"--mqtt-prefix", "x"}, "marovin-host: --mqtt-prefix requires --mqtt"},
        {{"--mqtt", "mqtt://h", "--mqtt-client-id", "a\tb"}, "marovin-host: --mqtt-client-id: bad value 'a\tb' (1 to"},
        {{"--rfc2217", "x"}, "marovin-host: --rfc2217: bad value 'x' (expected HOST:PORT)"},
        {{"--max-units", "0"}, "marovin-host: --max-units: bad value '0' (expected 1..1024)"},
        {{"--write-mode", "cache"}, ""},
        {{"--store-max-mb", "5"}, "marovin-host: --store-max-mb requires --store"},
        {{"--store", "s.db", "--historian", "mysql://h/db"},
         "marovin-host: --historian: bad value 'mysql://h/db' (expected postgresql://[USER[:PASS]@]HOST[:PORT]/DB)"},
        {{"--store", "s.db", "--historian", "postgres://u:pw@h/db"}, ""},
        {{"--store", "s.db", "--historian", "postgresql://u@/db"}, "marovin-host: --historian: bad value"},
        {{"--store", "s.db", "--historian", "postgresql://h/"}, "marovin-host: --historian: bad value"},
        {{"--historian", "postgres://h/db"}, "marovin-host: --historian requires --store"},
        {{"--historian-gateway", "g"}, "marovin-host: --historian-gateway requires --historian"},
        {{"--store", "s.db", "--store-max-age", "5w"}, "marovin-host: --store-max-age: bad value '5w'"},
        {{"--mqtt", "mqtt://h", "--sparkplug", "g/n", "--mqtt-prefix", "p"},
         "marovin-host: --mqtt-prefix excludes --sparkplug"},
        {{"--mqtt", "mqtt://h", "--sparkplug", "g+/n"}, "marovin-host: --sparkplug: "},
        {{"--mqtt", "mqtt://h", "--sparkplug", "g/" + std::string(65, 'n')}, "marovin-host: --sparkplug: "},
        {{"--mqtt", "mqtt://h", "--sparkplug", "g/n\tx"}, "marovin-host: --sparkplug: bad value 'g/n\tx' (no '+'"},
        {{"--mqtt", "mqtt://h", "--sparkplug", "g\xC0\xAF/n"}, "marovin-host: --sparkplug: bad value 'g\xC0\xAF/n' (not UTF-8)"},
        {{"--mqtt", "mqtt://h", "--mqtt-prefix", "p/\xED\xA0\x80"}, "marovin-host: --mqtt-prefix: bad value 'p/\xED\xA0\x80' (not UTF-8)"},
        {{"--mqtt", "mqtt://h", "--mqtt-prefix", "p/\xF4\x90\x80\x80"}, "marovin-host: --mqtt-prefix: bad value"},
        {{"--mqtt", "mqtt://h", "--mqtt-prefix", "p/\xE2\x82"}, "marovin-host: --mqtt-prefix: bad value"},
        {{"--mqtt", "mqtt://h", "--mqtt-prefix", "p/\xC3\xA9/\xE2\x82\xAC/\xF0\x9F\x98\x80"}, ""},
        {{"--mqtt", "mqtt://h", "--mqtt-client-id", "a\xFF"}, "marovin-host: --mqtt-client-id: bad value 'a\xFF' (1 to"},
        {{"--mqtt", "mqtt://h", "--ha-discovery", "a/#"}, "marovin-host: --ha-discovery: "},
        {{"--ha-discovery"}, "marovin-host: --ha-discovery requires --mqtt"},
        {{"--mqtt", "http://b"}, "marovin-host: --mqtt: bad value 'http://b'"},
        {{"--mqtt", "mqtt://u:secret@b:70000"}, "marovin-host: --mqtt: bad value 'mqtt://u:***@b:70000'"},
        {{"--mqtt", "mqtt://:pw@b"}, "marovin-host: --mqtt: bad value"},
        {{"--mqtt", "mqtt://b", "--mqtt-prefix", "a/+"}, "marovin-host: --mqtt-prefix: bad value 'a/+' (no wildcards"},
        {{"--mqtt", "mqtt://b", "--mqtt-max-age", "0"}, "marovin-host: --mqtt-max-age: bad value '0'"},
        {{"--mqtt-ca", conf}, "marovin-host: --mqtt-ca requires --mqtt"},
    };
    for (const auto &r : rows) {
        HostOptions o;
        const auto [code, said] = parse(r.args, &o);
        EXPECT_EQ(code, r.message.empty() ? -1 : 2) << r.args[0] << ": " << said;
        EXPECT_EQ(said.substr(0, r.message.size()), r.message) << said;
    }
}

TEST(HostOptions, WhatAcceptedOptionsSet)
{
    HostOptions o;
    EXPECT_EQ(parse({"--mqtt", "mqtt://h", "--ha-discovery", "--write-mode", "cache"}, &o).first, -1);
    EXPECT_EQ(std::make_tuple(o.mqtt.port, o.loop.linkTimeoutS, o.ha.prefix, o.driver.writeMode),
              std::make_tuple(1883, 30.0, "homeassistant", 1));
    HostOptions plc;
    EXPECT_EQ(parse({"--write-mode", "plc"}, &plc).first, -1);
    EXPECT_EQ(plc.driver.writeMode, 2);
    HostOptions tls;
    EXPECT_EQ(parse({"--mqtt", "mqtts://u:p@h", "--sparkplug", "g/n 1", "--rfc2217", "box:4000", "--store", "s.db",
                     "--store-max-age", "90"}, &tls).first,
              -1);
    EXPECT_TRUE(tls.mqtt.tls && tls.mqtt.port == 8883 && tls.sparkplug.group == "g" && tls.sparkplug.node == "n 1");
    EXPECT_TRUE(tls.rfc2217 && tls.portKind == PortKind::Tcp && tls.tcpHost == "box" && tls.tcpPort == 4000);
    EXPECT_TRUE(tls.store.enabled() && tls.store.maxMb == 1024 && tls.store.maxAgeS == 90 && o.portKind == PortKind::Simulator);
}

TEST(HostOptions, WebPanelBeyondLoopback)
{
    // LISTEN TOKEN CERT INSECURE, ERROR (empty: accepted) LOOPBACK
    const struct { const char *listen, *token, *cert; bool insecure; std::string error; bool loopback; } rows[] = {
        {"8080", "", "", false, "", true},
        {"127.0.0.2:0", "", "", false, "", true},
        {"[::1]:0", "", "", false, "", true},
        {"x:y", "", "", false, "--http: bad value 'x:y' (expected [ADDR:]PORT)", true},
        {"0.0.0.0:0", "", "", false, "--http 0.0.0.0:0 is reachable beyond this machine: give a token", false},
        {"0.0.0.0:0", "short", "", false, "--http-token: the token needs at least 16", false},
        {"0.0.0.0:0", "abcdefghijklmnop", "", false,
         "--http 0.0.0.0:0 is reachable beyond this machine, and its token and writes would cross the network in clear", false},
        {"0.0.0.0:0", "abcdefghijklmnop", "", true, "", false},
        {"0.0.0.0:0", "abcdefghijklmnop", "c.pem", false, "", false},
    };
    for (const auto &r : rows) {
        HttpOptions o;
        o.listen = r.listen;
        o.token = r.token;
        o.certFile = o.keyFile = r.cert;
        o.insecure = r.insecure;
        std::string error;
        EXPECT_EQ(resolveHttpOptions(&o, 1, &error), r.error.empty()) << r.listen << ": " << error;
        EXPECT_EQ(std::make_pair(error.substr(0, r.error.size()), o.loopback), std::make_pair(r.error, r.loopback)) << error;
    }
}
