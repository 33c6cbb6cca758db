// The outbox's logic with a real SQLite file: the cursor's order, claims,
// confirmations and releases; a consumer's place across a reopen; the size
// and age bounds with what they count as dropped; the history's decimation.
#include "HostRows.h"
#include "store/StoreCursor.h"
#include "store/StoreDatabase.h"
#include "store/StoreOutput.h"
#include "Until.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

using namespace marovin_host;

namespace {

const StoredTag kTag{"t", 1, 1, 16};

// Seqs of taken values.
std::vector<std::int64_t> takeSeqs(OutboxCursor &c, std::size_t max)
{
    std::vector<StoredValue> out;
    c.take(&out, max);
    std::vector<std::int64_t> seqs;
    for (const StoredValue &v : out)
        seqs.push_back(v.seq);
    return seqs;
}

// Fills the cursor from seqs first..last as the store's thread would.
void fillFrom(StoreCursor &c, std::int64_t first, std::int64_t last)
{
    std::int64_t after = 0;
    unsigned generation = 0;
    ASSERT_GT(c.wanted(last, true, &after, &generation), 0u);
    std::vector<StoredValue> values;
    for (std::int64_t s = std::max(first, after + 1); s <= last; ++s)
        values.push_back(StoredValue{s, &kTag, s, true, double(s), 1});
    c.fill(values, last, generation);
}

// A run's rows and a store over them, fed changes of tag 0 read at readMs.
struct Feed {
    std::vector<TagRow> rows = {tagRow({}, "a"), tagRow({}, "b")};
    RunStats stats;
    std::string port = "test";
    Feed() { rows[0].reads = rows[1].reads = 1; }
    void change(StoreOutput &store, double value, long long readMs)
    {
        rows[0].value.scaled = value;
        const std::uint32_t changed = 0;
        store.changed(ChangeView{rows, &changed, 1, Moment{0, readMs}});
    }
    void finish(StoreOutput &store) { store.finish(RunView{rows, stats, LinkState::Up, port, 0}); }
};

std::string freshFile(const char *name)
{
    const std::string path = testing::TempDir() + name;
    for (const char *part : {"", "-wal", "-shm"})
        std::remove((path + part).c_str());
    return path;
}

}  // namespace

TEST(HostStore, CursorHandsOutInOrderAndNeverPassesWhatIsOnItsWay)
{
    StoreCursor c("c", 0, nullptr);
    c.claim(3);  // went out as it was read
    fillFrom(c, 1, 10);
    EXPECT_EQ(takeSeqs(c, 4), (std::vector<std::int64_t>{1, 2, 4, 5}));
    c.confirm(2);
    EXPECT_EQ(c.place(), 0);
    c.confirm(1);
    EXPECT_EQ(c.place(), 2);  // 3 is on its way
    c.confirm(3);
    c.confirm(5);
    EXPECT_EQ(c.place(), 3);  // 4 is on its way
    c.release();              // 4 is due again; 5 stays confirmed
    fillFrom(c, 4, 10);
    EXPECT_EQ(takeSeqs(c, 100), (std::vector<std::int64_t>{4, 6, 7, 8, 9, 10}));
    for (std::int64_t s = 4; s <= 10; ++s)
        c.confirm(s);
    EXPECT_EQ(c.place(), 10);
    c.setBacklog(11, 11, 1234);  // one value waits: its age is told
    EXPECT_TRUE(c.backlog().values == 1 && c.backlog().oldestMs == 1234);
}

// A seq handed out once is never handed out again, though the bounds took every value:
// a consumer's place would pass over the new ones.
TEST(HostStore, SeqsGoOnWhenEveryValueWasRemoved)
{
    const std::string path = freshFile("seqs.db");
    StoreDatabase db;
    long long removed = 0, above = 0;
    const std::vector<StoreRow> rows = {{1, 1, 1, true, 1.0, 1}, {2, 1, 2, true, 1.0, 1}, {5, 1, 5, true, 1.0, 1}};
    ASSERT_TRUE(db.open(path) == StoreDatabase::Ok && db.write({{1, kTag}}, rows, {{"c", 1}}) == StoreDatabase::Ok &&
                db.removeThrough(5, 1, &removed, &above) == StoreDatabase::Ok);
    EXPECT_EQ(std::make_tuple(db.firstSeq(), db.lastSeq(), removed, above), std::make_tuple(0, 5, 3, 2));
    // A place past all held, as a store of an older version may have, after a reopen.
    ASSERT_TRUE(db.write({}, {}, {{"c", 8}}) == StoreDatabase::Ok && (db.close(), db.open(path)) == StoreDatabase::Ok);
    EXPECT_EQ(db.lastSeq(), 8);
}

TEST(HostStore, PlacesSurviveAReopenAndANewConsumerStartsAtTheEnd)
{
    const std::string path = freshFile("places.db");
    Feed feed;
    const StoreOptions o{path};
    std::string id;
    {
        StoreOutput store(o, feed.rows);
        id = store.storeId();
        OutboxCursor &c = store.cursor("c");
        for (int i = 1; i <= 3000; ++i)
            feed.change(store, i, wallClockMs());
        feed.finish(store);
        ASSERT_TRUE(until([&] { return c.wait(0); }));
        std::vector<StoredValue> taken;
        ASSERT_EQ(c.take(&taken, 1000), 1000u);
        for (std::size_t k = 0; k < taken.size(); ++k) {
            ASSERT_EQ(taken[k].value, double(k + 1));
            ASSERT_EQ(taken[k].tag->name, "a");
            c.confirm(taken[k].seq);
        }
        store.close();
        EXPECT_NE(::access((path + "-wal").c_str(), F_OK), 0);  // closed: the journal is folded in
        EXPECT_EQ(store.stats().kept, 3000);
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u, 0640u);  // values are not everyone's to read
    }
    feed.rows[0].tag.scale = 0.1;  // kept as shown live: to the scale's one decimal
    StoreOutput again(o, feed.rows);
    OutboxCursor &c = again.cursor("c");
    OutboxCursor &d = again.cursor("d");
    EXPECT_EQ(again.storeId(), id);  // the historian's place in the database is kept by it
    feed.change(again, 3000.1 + 1e-12, wallClockMs());
    feed.finish(again);
    ASSERT_TRUE(until([&] { return c.wait(0) && d.wait(0); }));
    std::vector<StoredValue> backlog;
    c.take(&backlog, 5000);
    ASSERT_EQ(backlog.size(), 2001u);
    EXPECT_EQ(std::make_pair(backlog.front().value, backlog.back().value), std::make_pair(1001.0, 3000.1));
    EXPECT_EQ(takeSeqs(d, 10), std::vector<std::int64_t>{backlog.back().seq});
    // A device given by mistake is left alone: no journal beside it, nothing renamed.
    EXPECT_NE(StoreOutput({"/dev/null"}, feed.rows).summaryText().find("(in memory only: not a regular file)"), std::string::npos);
}

TEST(HostStore, BoundsDropTheOldestAndCountOnlyWhatAConsumerLacked)
{
    struct Row {
        long maxMb;
        double maxAgeS;
        bool oldFirst;  // the first half read long ago
        bool consumer;
        bool dropped;
    } rows[] = {
        {1, 86400, false, true, true},    // the size bound, undelivered: dropped
        {1, 86400, false, false, false},  // nobody waited for them: history aging out
        {1024, 60, true, true, true},     // the age bound
    };
    for (const Row &row : rows) {
        Feed feed;
        const StoreOptions o{freshFile("bounds.db"), row.maxMb, row.maxAgeS};
        StoreOutput store(o, feed.rows);
        if (row.consumer)
            store.cursor("c");
        const long long now = wallClockMs();
        for (int i = 0; i < 60000; ++i)
            feed.change(store, i * 1.5, row.oldFirst && i < 30000 ? 1000 + i : now);
        feed.finish(store);
        HistoryPoints points;
        std::string error;
        // The bounds are kept once a second: within a few, the store is within them (read back, as below).
        const auto within = [&] {
            if (row.oldFirst)  // the age bound: nothing read before it is left
                return points.front().second >= 30000 * 1.5;
            StoreDatabase db;
            return row.maxMb != 1 || (db.open(o.file) == StoreDatabase::Ok && db.usedBytes() <= 1024 * 1024);
        };
        ASSERT_TRUE(until([&] {
            // Read back only once all is on disk: under valgrind the reads would starve the writer.
            return store.stats().kept == 60000 && store.history("a", 0, now + 1000, 1u << 20, &points, &error) &&
                   !points.empty() &&
                   points.front().second > 0 && points.back().second == 59999 * 1.5 && within();
        }, [] {}, 120)) << row.maxMb;  // 60,000 changes to disk, under valgrind too
        // The newest stay.
        EXPECT_EQ(std::make_pair(store.stats().dropped > 0, points.back().second), std::make_pair(row.dropped, 59999 * 1.5)) << row.maxMb;
        EXPECT_EQ(points.front().second == 30000 * 1.5, row.oldFirst);
    }
}

TEST(HostStore, HistoryKeepsTheSpikesOfEachSlice)
{
    Feed feed;
    StoreOutput store(StoreOptions{freshFile("history.db")}, feed.rows);
    const long long t = wallClockMs();
    for (int i = 0; i < 1000; ++i)
        feed.change(store, i == 500 ? 1e6 : i % 7, t + i);
    feed.finish(store);
    store.close();
    HistoryPoints all, few;
    std::string error;
    ASSERT_TRUE(store.history("a", t, t + 999, 2000, &all, &error)) << error;
    ASSERT_TRUE(store.history("a", t, t + 999, 100, &few, &error));
    EXPECT_EQ(all.size(), 1000u);
    EXPECT_LE(few.size(), 100u);
    EXPECT_GE(few.size(), 90u);
    EXPECT_TRUE(std::is_sorted(few.begin(), few.end()));
    EXPECT_NE(std::find(few.begin(), few.end(), std::make_pair(t + 500, 1e6)), few.end());
    EXPECT_TRUE(store.history("a", t + 1000, t + 9000, 100, &few, &error) && few.empty());
}
