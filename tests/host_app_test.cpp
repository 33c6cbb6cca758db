// What marovin-host shows and hands back at its edges: the summary, the exit
// code, the port and output wiring, the CSV, table, trace and dump lines and
// the argument splitting of --sim-args.
#include "DriverFixture.h"
#include "HostRows.h"
#include "app/Summary.h"
#include "app/Wiring.h"
#include "line/Link.h"
#include "line/SimulatorProcess.h"
#include "model/Areas.h"
#include "outputs/CsvOutput.h"
#include "outputs/TableOutput.h"
#include "outputs/TraceOutput.h"
#include "util/Clock.h"
#include "util/StopSignals.h"
#include "util/Text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace marovin_host;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

// A folder of this process's own, gone at exit: runs side by side (two builds, a mutation run) share no file.
struct OwnDir {
    std::string path = testing::TempDir() + "host-app-XXXXXX";
    OwnDir() { EXPECT_TRUE(::mkdtemp(&path[0])); }
    ~OwnDir() { std::filesystem::remove_all(path); }
};

std::string ownDir()
{
    static const OwnDir dir;
    return dir.path;
}

std::string fileText(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// What print wrote to a file.
template <class Print> std::string printed(Print print)
{
    const std::string path = ownDir() + "/printed.txt";
    std::FILE *out = std::fopen(path.c_str(), "w");
    print(out);
    std::fclose(out);
    return fileText(path);
}

const std::vector<TagRow> kRows = {readRow(tagRow({1, kWord16, 16}, "speed", true, false, 0.5, 0, "rpm"), 0xFFF9),
                                   tagRow({2, kBits, 3}, "door")};

}  // namespace

TEST(HostApp, Summary)
{
    RunStats s;
    s.startMs = 1000, s.endMs = 3000, s.exchanges = 10, s.valuesRead = 50, s.cycles = 4, s.repeats = 1;
    s.failuresByCode = {{3, 2}, {7, 1}};
    s.giveUps = 1, s.giveUpNotices = 2, s.onceReadsDone = 3, s.onceReadsFailed = 1;
    s.writesSent = 5, s.writesAcknowledged = 4, s.writesFailed = 1, s.writesCached = 2;
    s.bytesOut = 100, s.bytesIn = 300, s.bytesDropped = 6, s.rtPriority = 1;  // the lowest priority there is
    const SummaryContext c{"tcp h:1", "up, 0 losses, 0 reopen attempts", 1000, 0.01, "signal", "x"};
    EXPECT_EQ(printed([&](std::FILE *out) { printSummary(out, s, c); }),
              "--- summary ---\nport:          tcp h:1\nstopped:       signal\nelapsed:       2.00 s\n"
              "exchanges:     10\nexchanges/s:   5.0\nvalues/s:      25.0 (50 values read)\ncycles:        4\n"
              "repeats:       1\nfailures:      3 (status 3 x2, status 7 x1)\ngive-ups:      1 (2 notices)\n"
              "once-reads:    3 done, 1 failed\nwrites:        5 sent, 4 acknowledged, 1 failed, 2 cache only\n"
              "bytes:         100 out, 300 in\ndropped:       6 bytes that were no reply (noisy line)\n"
              "efficiency:    25.0 % of the line's limit (1000 bytes/s, turnaround 10.0 ms)\n"
              "link:          up, 0 losses, 0 reopen attempts\nstore:         x\n"
              "priority:      real-time 1 for the exchange thread\n");
    RunStats none;
    none.exchanges = 3, none.rtPriorityRefused = "no";
    const std::string text = printed([&](std::FILE *out) { printSummary(out, none, {"", "", 1000, 0, "", ""}); });
    for (const char *line : {"\nexchanges/s:   0.0\n", "\nfailures:      0\n", "\nefficiency:    unknown (no line rate)\n",
                             "\nlink:          \npriority:      real-time refused: no\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(HostApp, ExitCodes)
{
    const RunState run;
    DumpOutput broken("/nonexistent/d", run.onceReads);
    broken.finish(RunView{run.rows, run.stats, LinkState::Up, "", 0});
    const struct { LoopEnd end; long long giveUps, writesFailed, onceReadsFailed; bool dump; std::string outputFailure; int code; std::string said; } rows[] = {
        {LoopEnd::Cycles, 0, 0, 0, false, "", 0, ""},
        {LoopEnd::Signal, 1, 0, 0, false, "", 3, ""},
        {LoopEnd::Duration, 0, 1, 0, false, "", 3, ""},
        {LoopEnd::NothingLeft, 0, 0, 1, false, "", 3, ""},
        {LoopEnd::LinkLost, 1, 0, 0, false, "", 1, "marovin-host: link lost and not recovered (tcp h:1)\n"},
        {LoopEnd::SimulatorExited, 0, 0, 0, false, "", 1, "marovin-host: simulator exited (tcp h:1)\n"},
        {LoopEnd::Cycles, 0, 0, 0, true, "", 1, "marovin-host: cannot write dump file /nonexistent/d: No such file or directory\n"},
        {LoopEnd::Cycles, 1, 0, 0, true, "", 3, "marovin-host: cannot write dump file /nonexistent/d: No such file or directory\n"},
        {LoopEnd::Cycles, 1, 0, 0, false, "no broker", 1, "marovin-host: no broker\n"},
    };
    for (const auto &r : rows) {
        RunStats stats;
        stats.giveUps = r.giveUps, stats.writesFailed = r.writesFailed, stats.onceReadsFailed = r.onceReadsFailed;
        CaptureStderr();
        EXPECT_EQ(exitCode(r.end, stats, "tcp h:1", nullptr, r.dump ? &broken : nullptr, r.outputFailure), r.code) << r.said;
        EXPECT_EQ(GetCapturedStderr(), r.said);
    }
}

TEST(HostApp, PreparationRefusesBadEntriesAndServesOtherStationsFromTheDefault)
{
    const std::string dir = ownDir(), lib = MAROVIN_LIBRARY_PATH;
    std::ofstream(dir + "/bad.vars") << "\xEF\xBB\xBF" "1:w16:10\n1:w16:zz # wrong\n";  // a byte order mark is no error
    std::ofstream(dir + "/rw-bit.tags") << "a = 1:bit:+002 rw\n";  // as the driver reads it
    std::string many = "1:w16:10=0";
    for (int i = 0; i < 1024; ++i)
        many += ",0";
    const std::string served = "' is served from station 1 (the default station); give --multi-station to address station 12";
    // OPTION (-v -o -w --vars --tags -w with --max-units 1, --lib, n: none) TEXT EXIT-CODE
    // MESSAGE (its start; with 0 the bytes of a write or the warning)
    const struct { char option; std::string text; int code; std::string message; } rows[] = {
        {'v', "1:9:10", 2, "bad variable '1:9:10': area must be 0..5 or bit|w16|d32|w16b|d32b|float"},
        {'v', "1:w16", 2, "bad variable '1:w16': expected STATION:AREA:ADDR[:COUNT]"},
        {'v', "300:w16:10", 2, "bad variable '300:w16:10': station must be a number 0..255"},
        {'v', "1:w16:10:0", 2, "bad variable '1:w16:10:0': count must be a number 1..4096"},
        {'v', "1:w16:G1", 2, "bad variable '1:w16:G1': address 'G1' is not a hex address"},
        {'v', "1:bit:13", 2, "bad variable '1:bit:13': '13' is not a status bit (2, 5, 12, 16, 24, 25, 28, 29, 30"},
        {'v', "1:bit:2:2", 2, "bad variable '1:bit:2:2': '3' is not a status bit"},
        {'v', "1:w16:10000", 2, "bad variable '1:w16:10000': address '10000' is beyond FFFF"},
        {'o', "1:w16:zz", 2, "bad once-read '1:w16:zz': address 'zz' is not a hex address"},
        {'w', "1:w16:10", 2, "bad write '1:w16:10': expected STATION:AREA:ADDR=VALUE[,VALUE...]"},
        {'f', dir + "/bad.vars", 2, dir + "/bad.vars:2: bad variable '1:w16:zz': address 'zz' is not a hex address"},
        {'f', dir + "/none.vars", 2, "cannot read variable file " + dir + "/none.vars"},
        {'t', dir + "/rw-bit.tags", 2, dir + "/rw-bit.tags:1: status bit 2 cannot be written"},
        {'t', dir, 2, "cannot read tag file " + dir}, {'f', dir, 2, "cannot read variable file " + dir},
        {'w', many, 2, "too many values to write: 1025, at most 1024 in one run"},
        {'l', dir + "/none.so", 1, "cannot load the driver library: "},
        {'n', "", 2, "no variables: give -v STATION:AREA:ADDR, --vars FILE, --tags FILE, -w or -o"},
        {'w', "1:w16:0x10=65535", 0, "FF FF"},
        {'w', "1:w16:FFFF=-32768", 0, "00 80"},  // the last address
        {'w', "1:w16:10=0x1234", 0, "34 12"},
        {'w', "1:w16:10=010", 0, "0A 00"},  // decimal, not octal
        {'w', "1:w16:10=65536", 2, "bad write '1:w16:10=65536': a 16-bit value takes -32768..65535, not '65536'"},
        {'w', "1:w16:10=1.5", 2, "bad write '1:w16:10=1.5': a 16-bit value takes -32768..65535, not '1.5'"},
        {'w', "1:d32:20=0xFFFFFFFF", 0, "FF FF FF FF"},
        {'w', "1:d32:20=-2147483649", 2,
         "bad write '1:d32:20=-2147483649': a 32-bit value takes -2147483648..4294967295, not '-2147483649'"},
        {'w', "1:float:50=abc", 2, "bad write '1:float:50=abc': a decimal float takes a number such as 12.5, not 'abc'"},
        {'w', "1:bit:12=2", 2, "bad write '1:bit:12=2': a bit takes 0 or 1, not '2'"},
        {'w', "1:bit:2=1", 2, "bad write '1:bit:2=1': status bit 2 cannot be written (writable: 12, 25, 28, 29, 30, 31)"},
        {'u', "1:d32:20=1", 2, "bad write '1:d32:20=1': 32-bit and float writes need --max-units 2 or more"},
        {'v', "12:w16:11", 0, "'12:w16:11" + served},
        {'o', "12:w16:11", 0, "'12:w16:11" + served},
    };
    for (const auto &r : rows) {
        HostOptions o;
        o.portKind = PortKind::Tcp, o.libraryPath = r.option == 'l' ? r.text : lib, o.driver.maxUnits = r.option == 'u' ? 1 : 8;
        o.variables.assign(r.option == 'n' ? 0 : 1, "1:w16:10");
        std::vector<std::string> *fields[] = {&o.variables, &o.onceReads, &o.writes, &o.variableFiles, &o.tagFiles, &o.writes};
        if (std::string("vowftu").find(r.option) != std::string::npos)
            fields[std::string("vowftu").find(r.option)]->push_back(r.text);
        std::unique_ptr<Driver> driver;
        HostVariables vars;
        std::vector<WriteRequest> writes;
        Failure failure;
        EXPECT_EQ(prepareVariables(o, &driver, &vars, &writes, &failure), r.code == 0) << r.message;
        EXPECT_EQ(failure.code, r.code) << r.message;
        const std::string said = r.code             ? failure.message
                                 : !writes.empty() ? marovin_test::toHex(QByteArray::fromStdString(writes[0].bytes))
                                                   : vars.warnings.at(0);
        EXPECT_EQ(said.substr(0, r.message.size()), r.message);
        if (r.code == 0 && writes.empty()) {
            EXPECT_EQ(r.option == 'v' ? vars.rows.back().ref.station : vars.onceReads.at(0).first.station, 1);
        }
    }
}

TEST(HostApp, PortOpening)
{
    const int pty = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(pty >= 0 && grantpt(pty) == 0 && unlockpt(pty) == 0);
    const std::string device = ptsname(pty);
    const struct { PortKind kind; std::string device; bool rfc2217; const char *simArgs; std::string text; } rows[] = {
        {PortKind::Serial, device, false, "", device + " 9600 8N1"},
        {PortKind::Serial, "/nonexistent/tty", false, "", "serial port: "},
        {PortKind::Tcp, "", false, "", "tcp port: "},
        {PortKind::Tcp, "", true, "", "rfc2217 port: "},
        {PortKind::Simulator, "", false, "'unclosed", "unbalanced quote in --sim-args"},
        {PortKind::Simulator, "", false, "", "simulator did not start"},
    };
    for (const auto &r : rows) {
        HostOptions o;
        o.portKind = r.kind, o.serialDevice = r.device, o.tcpHost = "127.0.0.1", o.tcpPort = 1, o.rfc2217 = r.rfc2217;
        o.simPath = "/nonexistent/sim", o.simArgs = r.simArgs;
        SimulatorProcess simulator;
        std::string portText;
        Failure failure;
        std::unique_ptr<marovin_port::Port> port = openPort(o, &simulator, &portText, &failure);
        EXPECT_EQ(std::make_pair(port ? portText : failure.message.substr(0, r.text.size()), failure.code),
                  std::make_pair(r.text, static_cast<int>(port ? kOk : kRuntimeFailure)));
        if (port) {
            EXPECT_EQ(linkText(Link(std::move(port))), "up, 0 losses, 0 reopen attempts");
        }
    }
    close(pty);
}

// The real simulator as the host starts it: its pty named, stopped with its
// owner, how it ended said; and why one did not start.
TEST(HostApp, SimulatorStartsStopsWithItsOwnerAndSaysHowItEnded)
{
    if (MAROVIN_CROSSCOMPILING)
        GTEST_SKIP() << "under qemu-arm a child cannot run the ARM simulator";
    const std::string sim = MAROVIN_BINARY_DIR "/tools/marovin-sim/marovin-sim";
    std::string pty, error;
    auto owned = std::make_unique<SimulatorProcess>();
    ASSERT_TRUE(owned->start(sim, {}, ::testing::TempDir() + "sim.log", 5000, &pty, &error)) << error;
    const pid_t pid = owned->pid();
    EXPECT_TRUE(pty.compare(0, 9, "/dev/pts/") == 0 && owned->running()) << pty;
    owned.reset();
    EXPECT_NE(::kill(pid, 0), 0) << "the simulator outlived its owner";
    SimulatorProcess killed, missing, refused;
    ASSERT_TRUE(killed.start(sim, {}, "", 5000, &pty, &error)) << error;
    ::kill(killed.pid(), SIGKILL);
    EXPECT_EQ(killed.stop(1000), "killed by signal 9");
    EXPECT_FALSE(missing.start("/nonexistent/sim", {}, "", 5000, &pty, &error));
    EXPECT_EQ(error, "simulator did not start: cannot run /nonexistent/sim: No such file or directory");
    EXPECT_FALSE(refused.start(sim, {"--frobnicate"}, "", 5000, &pty, &error) || killed.running());
    EXPECT_EQ(error, "simulator did not start: " + sim + " exited with status 2 before naming its pty: "
                     "marovin-sim: unknown option --frobnicate (see --help)");
}

TEST(HostApp, OutputWiring)
{
    const std::string dir = ownDir();
    const struct { std::string csv, trace, dump, sparkplug; int code; std::string message; } rows[] = {
        {dir + "/w.csv", dir + "/w.trace", dir + "/w.dump", "", kOk, ""},
        {"/nonexistent/w.csv", "", "", "", kRuntimeFailure, "cannot write CSV file /nonexistent/w.csv: No such file or directory"},
        {"", "/nonexistent/t", "", "", kRuntimeFailure, "cannot write trace file /nonexistent/t: No such file or directory"},
        {"", "", "/nonexistent/d", "", kRuntimeFailure, "cannot write dump file /nonexistent/d: No such file or directory"},
    };
    for (const auto &r : rows) {
        HostOptions o;
        o.csvFile = r.csv, o.trace = !r.trace.empty(), o.traceFile = r.trace, o.dumpFile = r.dump;
        o.sparkplug.group = "g", o.sparkplug.node = r.sparkplug;
        RunState run{kRows, {}, {}};
        WriteQueue queue;
        Outputs outputs;
        RunOutputs kept;
        Failure failure;
        EXPECT_EQ(addOutputs(o, run, queue, &outputs, &kept, &failure), r.code == kOk) << r.message;
        EXPECT_EQ(std::make_pair(failure.code, failure.message.substr(0, r.message.size())), std::make_pair(r.code, r.message));
        EXPECT_EQ(kept.dump != nullptr, r.code == kOk && !r.dump.empty());
    }
    EXPECT_EQ(fileText(rows[0].csv), "time,elapsed_s,speed,door\n");
}

TEST(HostOutputs, CsvTableTraceAndDumpLines)
{
    const std::string dir = ownDir();
    std::string error;
    RunStats stats;
    stats.startMs = 1000, stats.exchanges = 5, stats.cycles = 2;
    const RunView view{kRows, stats, LinkState::Reconnecting, "tcp h:1", 3500};
    // A restart goes on in its file, after a line a crash cut short; other columns start a file of their own.
    const std::string before = "time,elapsed_s,speed,door\n2026-12-08T10:00:00.000,0.5,-3\n";
    std::ofstream(dir + "/o.csv") << before.substr(0, before.size() - 1);
    CsvOutput::open(dir + "/o.csv", kRows, &error)->refresh(view);
    const std::string csv = fileText(dir + "/o.csv");
    EXPECT_EQ(csv.substr(0, before.size()) + "|" + csv.substr(csv.find(',', before.size() + 20)), before + "|,2.500,-3.5,\n");
    std::vector<Notice> notes;
    CsvOutput::open(dir + "/o.csv", {kRows[1]}, &error)->collectNotices(notes);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(fileText(notes[0].text.substr(notes[0].text.rfind(' ') + 1)) + fileText(dir + "/o.csv"),
              csv + "time,elapsed_s,door\n");
    EXPECT_EQ(tableHeader(view), "tcp h:1 | link reconnecting | 5 exchanges, 2/s | cycles 2 | 2.5 s");
    EXPECT_EQ(headingLine(5), "NAME  STN AREA    ADDR          VALUE         HEX UNIT   STATUS");
    EXPECT_EQ(rowLine(kRows[0], 5), "speed   1 w16     0010           -3.5      0xFFF9 rpm    1 ok");
    EXPECT_EQ(rowLine(kRows[1], 5), "door    2 bit        3              ?                    -");
    const std::string table = printed([&](std::FILE *out) {
        TableOutput t(out, true, true);
        t.refresh(view);
        t.refresh(view);
        TableOutput(out, false, false).notice(Notice(Notice::Info, "quiet"));
    });
    EXPECT_NE(table.find("\x1b[J\x1b[4A\r\x1b[2Ktcp h:1 | link"), std::string::npos);
    EXPECT_EQ(table.substr(table.size() - 7), " quiet\n");
    const std::uint8_t frame[] = {8, 0};
    TraceOutput::open(dir + "/o.trace", &error)->frameSent(frame, 2);
    EXPECT_TRUE(fileText(dir + "/o.trace").substr(12) == " TX [08][00]\n" && TraceOutput::open("-", &error)->toStdout());
    const std::vector<TagValue> values = {decodeValue(kWord16, {}, 1), decodeValue(kWord16, {}, 2)};
    const std::vector<OnceRead> once = {{{}, {1, kWord16, 14}, 0, OnceRead::Done, values}};
    DumpOutput(dir + "/o.dump", once).finish(view);
    EXPECT_EQ(fileText(dir + "/o.dump"),
              "# marovin-host values: STATION:AREA:ADDRESS=VALUE (address hex, status bit decimal)\n1:1:E=1\n1:1:F=2\n1:1:10=65529\n");
}

TEST(HostUtil, Text)
{
    const struct { const char *text; const char *words; } rows[] = {
        {"a 'b c' \"d\\\"e\" f\\ g", "a|b c|d\"e|f g|"}, {" \t\n", ""}, {"x'' \"\" 'a\\b'", "x||a\\b|"}, {"'open", "unbalanced quote in --sim-args"},
    };
    for (const auto &r : rows) {
        std::vector<std::string> words;
        std::string error, joined;
        const bool ok = splitArguments(r.text, &words, &error);
        for (const std::string &w : words)
            joined += w + "|";
        EXPECT_EQ(ok ? joined : error, r.words);
    }
    EXPECT_EQ(trim(" \t a b \n"), "a b");
    const long long t0 = monotonicMs();
    sleepMs(20);
    EXPECT_GE(monotonicMs() - t0, 20);
    EXPECT_EQ(wallDateTimeText().substr(0, 4), isoUtcText(wallClockMs()).substr(0, 4));  // the year, but at its turn
    EXPECT_EQ(split(",a,,b", ','), (std::vector<std::string>{"", "a", "", "b"}));
    EXPECT_FALSE(takeReloadRequest());  // no SIGHUP came
}
