// What the web panel serves from the loop's data: the trend's history, the
// metrics text, and the feed that carries changes between refreshes; the token's ways in.
#include "HostRows.h"
#include "web/TagHistory.h"
#include "web/WebFeed.h"
#include "web/WebTagJson.h"
#include "web/http/Access.h"
#include "web/routes/MetricsText.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace marovin_host;

namespace {

// A read tag of area 1 with the scale given, holding raw.
TagRow readRow(const std::string &name, std::uint32_t raw, double scale = 1.0)
{
    return marovin_host::readRow(tagRow(ValueRef{1, 1, 0x10}, name, false, false, scale), raw);
}

// The first line of the metrics text that starts with prefix, or "".
std::string lineOf(const std::string &text, const std::string &prefix)
{
    const std::size_t at = ("\n" + text).find("\n" + prefix);
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

}  // namespace

TEST(TagHistory, KeepsTheLatestSamplesOldestFirst)
{
    std::vector<TagRow> rows = {readRow("a", 1), tagRow({1, 1, 0x11}, "b")};
    TagHistory history(rows.size(), 3);
    for (long long t = 1; t <= 4; ++t) {
        rows[0].value = decodeValue(1, rows[0].tag, static_cast<std::uint32_t>(t * 10 + (t == 4 ? 0x10000 - 50 : 0)));
        history.add(t * 1000, rows);
    }
    // The first sample went; 0xFFFF... reads signed; a row never read is null.
    EXPECT_EQ(history.points(0).dump() + history.points(1).dump() + history.points(2).dump(),
              "[[2000,20],[3000,30],[4000,-10]][[2000,null],[3000,null],[4000,null]][]");
    const nlohmann::json read = webTagJson(rows[0], {}), unread = webTagJson(rows[1], {});
    EXPECT_EQ(read.value("hex", "") + unread.value("hex", "none") + read["station"].dump(), "0xFFF6none1");
}

TEST(Metrics, TagValuesAsPeopleWroteThemAndCounters)
{
    WebSnapshot snap;
    snap.at = Moment{5000, 0};
    snap.stats.startMs = 1000;
    snap.stats.exchanges = 12;
    snap.stats.failuresByCode[41] = 2;
    snap.link = LinkState::Down;
    snap.rows = {readRow("tenth", 3, 0.1), readRow("say \"hi\"\n", 7), TagRow()};
    snap.rows[0].lastReadMs = 4500;
    snap.rows[1].lastReadMs = 5200;  // a change laid over the snapshot after its time
    const std::string text = metricsText(snap);
    const std::string expected[] = {"marovin_link_up 0", "marovin_uptime_seconds 4", "marovin_exchanges_total 12",
        "marovin_failures_total{code=\"41\"} 2", "marovin_tag_age_seconds{tag=\"tenth\"} 0.5", "marovin_tag_reads_total{tag=\"\"} 0",
        "marovin_tag_age_seconds{tag=\"say \\\"hi\\\"\\n\"} 0",
        "marovin_tag_value{tag=\"tenth\",station=\"1\",area=\"w16\",address=\"0010\",unit=\"\"} 0.3"};
    for (const std::string &l : expected)  // each line found by what stands before its value
        EXPECT_EQ(lineOf(text, l.substr(0, l.rfind(' ') + 1)), l);
    EXPECT_NE(lineOf(text, "marovin_tag_value{tag=\"say \\\"hi\\\"\\n\""), "");
    EXPECT_EQ(lineOf(text, "marovin_tag_age_seconds{tag=\"\"}"), "");  // never read: no age
    // Every sample belongs to a family announced before it with its type and help.
    std::istringstream lines(text);
    std::string announced;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 7, "# TYPE ") == 0) {
            const std::string family = line.substr(7, line.find(' ', 7) - 7);
            if (lineOf(text, "# HELP " + family + " ") != "")
                announced += " " + family + " ";
        } else if (line.empty() || line[0] != '#') {
            EXPECT_NE(announced.find(" " + line.substr(0, line.find_first_of("{ ")) + " "), std::string::npos) << line;
        }
    }
    // Floats the PLC holds as not a number or infinite are spelled the way Prometheus reads them;
    // a tiny one keeps its digits.
    for (const auto &f : {std::make_pair(0x7FC00000u, "NaN"), {0x7F800000u, "+Inf"}, {0xFF800000u, "-Inf"}, {0x1E3CE508u, "1e-20"}}) {
        TagRow row = readRow("f", 0);
        row.ref.area = 5;
        row.value = decodeValue(5, row.tag, f.first);
        snap.rows = {row};
        const std::string line = lineOf(metricsText(snap), "marovin_tag_value{");
        EXPECT_EQ(line.substr(line.rfind(' ') + 1), f.second);
    }
}

TEST(WebFeed, ChangesBetweenRefreshesReachStreamsAndTheLatestState)
{
    std::vector<TagRow> rows = {readRow("a", 1), readRow("b", 2)};
    WebFeed feed(rows);
    RunStats stats;
    const std::string port = "p";
    feed.publish(RunView{rows, stats, LinkState::Down, port, 0}, Moment{0, 0});
    EXPECT_EQ(feed.snapshot()->link, LinkState::Down);
    std::uint64_t events = 0, changes = 0;
    const std::uint64_t snapshot = feed.wait(0, &events, &changes, 0).snapshot->seq;
    rows[1].value = decodeValue(1, rows[1].tag, 99);
    const std::uint32_t changed = 1, first = 0;
    feed.change(ChangeView{rows, &changed, 1, Moment{0, 0}});
    const WebFeed::Update u = feed.wait(snapshot, &events, &changes, 0);
    ASSERT_EQ(u.changes.size(), 1u);
    EXPECT_TRUE(u.changes[0].first == 1u && u.changes[0].second.value.raw == 99u && !u.snapshot);
    EXPECT_TRUE(feed.wait(snapshot, &events, &changes, 0).changes.empty());  // told once
    // The latest state has the change; the snapshot of the last refresh not yet.
    EXPECT_EQ(std::make_pair(feed.latest()->rows[1].value.raw, feed.snapshot()->rows[1].value.raw), std::make_pair(99u, 2u));
    // A refresh after the change holds it; a later change of another row does not bring back the older value.
    rows[1].value = decodeValue(1, rows[1].tag, 100);
    feed.publish(RunView{rows, stats, LinkState::Up, port, 0}, Moment{0, 0});
    feed.change(ChangeView{rows, &first, 1, Moment{0, 0}});
    EXPECT_EQ(feed.latest()->rows[1].value.raw, 100u);
}

TEST(WebAccess, TokenAsBearerOrCookie)
{
    EXPECT_EQ(presentedToken("Bearer abc", "") + presentedToken("", "a=1; marovin_token=xyz; b") +
              presentedToken("", "xmarovin_token=q"), "abcxyz");
    EXPECT_TRUE(sameToken("abc", "abc") && !sameToken("abd", "abc") && !sameToken("ab", "abc") && !sameToken("", ""));
    EXPECT_EQ(tokenCookie("t", true), "marovin_token=t; Path=/; HttpOnly; SameSite=Strict; Secure");  // HTTPS only
    EXPECT_EQ(tokenCookie("t", false).find("Secure"), std::string::npos);
    // The Host header of a loopback panel names it, or is refused (DNS rebinding).
    EXPECT_TRUE(loopbackHostAllowed("LOCALHOST", "127.0.0.1", 80) && loopbackHostAllowed("[::1]:8080", "::1", 8080));
    EXPECT_FALSE(loopbackHostAllowed("localhost", "127.0.0.1", 8080) || loopbackHostAllowed("evil:80", "127.0.0.1", 80));
}
