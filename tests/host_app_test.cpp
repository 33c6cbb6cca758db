// What marovin-host shows and hands back at its edges: the summary, the exit
// code, the port and output wiring, the CSV, table, trace and dump lines and
// the argument splitting of --sim-args.
#include "HostRows.h"
#include "app/Summary.h"
#include "app/Wiring.h"
#include "line/Link.h"
#include "model/Areas.h"
#include "outputs/CsvOutput.h"
#include "outputs/TableOutput.h"
#include "outputs/TraceOutput.h"
#include "util/Text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

using namespace marovin_host;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::string fileText(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// What print wrote to a file.
template <class Print> std::string printed(Print print)
{
    const std::string path = testing::TempDir() + "/printed.txt";
    std::FILE *out = std::fopen(path.c_str(), "w");
    print(out);
    std::fclose(out);
    return fileText(path);
}

TagRow readRow(TagRow row, std::uint32_t raw)
{
    row.reads = 1;
    row.lastStatus = 1;
    row.value = decodeValue(row.ref.area, row.tag, raw);
    return row;
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
    s.bytesOut = 100, s.bytesIn = 300, s.bytesDropped = 6, s.rtPriority = 50;
    const SummaryContext c{"tcp h:1", "up, 0 losses, 0 reopen attempts", 1000, 0.01, "signal", "x"};
    EXPECT_EQ(printed([&](std::FILE *out) { printSummary(out, s, c); }),
              "--- summary ---\nport:          tcp h:1\nstopped:       signal\nelapsed:       2.00 s\n"
              "exchanges:     10\nexchanges/s:   5.0\nvalues/s:      25.0 (50 values read)\ncycles:        4\n"
              "repeats:       1\nfailures:      3 (status 3 x2, status 7 x1)\ngive-ups:      1 (2 notices)\n"
              "once-reads:    3 done, 1 failed\nwrites:        5 sent, 4 acknowledged, 1 failed, 2 cache only\n"
              "bytes:         100 out, 300 in\ndropped:       6 bytes that were no reply (noisy line)\n"
              "efficiency:    25.0 % of the line's limit (1000 bytes/s, turnaround 10.0 ms)\n"
              "link:          up, 0 losses, 0 reopen attempts\nstore:         x\n"
              "priority:      real-time 50 for the exchange thread\n");
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
        EXPECT_EQ(port ? portText : failure.message.substr(0, r.text.size()), r.text);
        EXPECT_EQ(failure.code, port ? kOk : kRuntimeFailure) << r.text;
        if (port) {
            EXPECT_EQ(linkText(Link(std::move(port))), "up, 0 losses, 0 reopen attempts");
        }
    }
    close(pty);
}

TEST(HostApp, OutputWiring)
{
    const std::string dir = testing::TempDir();
    const struct { std::string csv, trace, dump, sparkplug; int code; std::string message; } rows[] = {
        {dir + "/w.csv", dir + "/w.trace", dir + "/w.dump", "", kOk, ""},
        {"/nonexistent/w.csv", "", "", "", kRuntimeFailure, "cannot write CSV file /nonexistent/w.csv: No such file or directory"},
        {"", "/nonexistent/t", "", "", kRuntimeFailure, "cannot write trace file /nonexistent/t: No such file or directory"},
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
        EXPECT_EQ(failure.code, r.code);
        EXPECT_EQ(failure.message.substr(0, r.message.size()), r.message);
        EXPECT_EQ(kept.dump != nullptr, !r.dump.empty());
    }
    EXPECT_EQ(fileText(rows[0].csv), "time,elapsed_s,speed,door\n");
}

TEST(HostOutputs, CsvTableTraceAndDumpLines)
{
    const std::string dir = testing::TempDir();
    std::string error;
    RunStats stats;
    stats.startMs = 1000, stats.exchanges = 5, stats.cycles = 2;
    const RunView view{kRows, stats, LinkState::Reconnecting, "tcp h:1", 3500};
    CsvOutput::open(dir + "/o.csv", kRows, &error)->refresh(view);
    const std::string csv = fileText(dir + "/o.csv");
    EXPECT_EQ(csv.substr(csv.find(',', 26)), ",2.500,-3.5,\n");
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
    EXPECT_EQ(fileText(dir + "/o.trace").substr(12), " TX [08][00]\n");
    EXPECT_TRUE(TraceOutput::open("-", &error)->toStdout());
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
    EXPECT_EQ(split(",a,,b", ','), (std::vector<std::string>{"", "a", "", "b"}));
}
