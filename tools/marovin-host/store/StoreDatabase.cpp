// WAL with a full sync at each commit: a batch that was committed survives a
// crash of the host and of the machine. A value that is a whole number takes
// few bytes in a REAL column; the index on (tag, time) serves the history.
#include "store/StoreDatabase.h"

#include <sqlite3.h>

#include <random>

namespace marovin_host {

namespace {

const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS tags(id INTEGER PRIMARY KEY, name TEXT NOT NULL, station INTEGER NOT NULL,"
    " area INTEGER NOT NULL, address INTEGER NOT NULL, UNIQUE(name, station, area, address));"
    "CREATE TABLE IF NOT EXISTS entries(seq INTEGER PRIMARY KEY, tag INTEGER NOT NULL, at INTEGER NOT NULL,"
    " value REAL, status INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS entries_tag_at ON entries(tag, at);"
    "CREATE TABLE IF NOT EXISTS consumers(name TEXT PRIMARY KEY, confirmed INTEGER NOT NULL) WITHOUT ROWID;";

// A statement that finalizes itself.
struct Statement {
    sqlite3_stmt *s = nullptr;
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &s, nullptr); }
    ~Statement() { sqlite3_finalize(s); }
};

// Reads a StoreRow from columns seq, tag, at, value, status.
StoreRow rowOf(sqlite3_stmt *s)
{
    StoreRow r;
    r.seq = sqlite3_column_int64(s, 0);
    r.tagId = sqlite3_column_int(s, 1);
    r.readMs = sqlite3_column_int64(s, 2);
    r.hasValue = sqlite3_column_type(s, 3) != SQLITE_NULL;
    r.value = sqlite3_column_double(s, 3);
    r.status = sqlite3_column_int(s, 4);
    return r;
}

}  // namespace

StoreDatabase::~StoreDatabase()
{
    close();
}

void StoreDatabase::close()
{
    for (sqlite3_stmt **s : {&insert_, &place_, &after_}) {
        sqlite3_finalize(*s);
        *s = nullptr;
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

StoreDatabase::Result StoreDatabase::fail(int rc, const char *what)
{
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    const int primary = rc & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        return Damaged;
    return primary == SQLITE_FULL ? Full : Failed;
}

StoreDatabase::Result StoreDatabase::exec(const char *sql)
{
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? Ok : fail(rc, "cannot use the store");
}

StoreDatabase::Result StoreDatabase::open(const std::string &path)
{
    close();
    const int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc, "cannot open the store");
    sqlite3_busy_timeout(db_, 2000);
    // Another program's database given by mistake is not written, not even its journal mode.
    const std::string foreign = foreignTable();
    if (!foreign.empty()) {
        error_ = "another program's database (it has a table '" + foreign + "'); left as it is";
        return Failed;
    }
    Result r = exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA journal_size_limit=16777216;");
    if (r == Ok)
        r = exec(kSchema);
    if (r == Ok)
        r = prepare();
    if (r == Ok)
        r = loadId();
    // Reading the first page or the last seq finds most damage at once.
    if (r == Ok && exec("SELECT max(seq) FROM entries; SELECT count(*) FROM tags;") != Ok)
        r = fail(sqlite3_errcode(db_), "cannot read the store");
    return r;
}

std::string StoreDatabase::foreignTable()
{
    sqlite3_stmt *s = nullptr;
    std::string name;
    if (sqlite3_prepare_v2(db_, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT IN "
                                "('meta', 'tags', 'entries', 'consumers') AND name NOT LIKE 'sqlite!_%' ESCAPE '!'",
                           -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        name = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    // A table of ours by name but not by its columns is another program's too.
    const char *const ours[][2] = {{"meta", "key, value"},
                                   {"tags", "id, name, station, area, address"},
                                   {"entries", "seq, tag, at, value, status"},
                                   {"consumers", "name, confirmed"}};
    for (const auto &t : ours) {
        const std::string table = t[0];
        Statement exists(db_, ("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '" + table + "'").c_str());
        Statement columns(db_, ("SELECT " + std::string(t[1]) + " FROM " + table + " LIMIT 0").c_str());
        if (name.empty() && exists.s && sqlite3_step(exists.s) == SQLITE_ROW && !columns.s)
            name = table;
    }
    return name;
}

StoreDatabase::Result StoreDatabase::prepare()
{
    static const char kPlace[] = "INSERT INTO consumers(name, confirmed) VALUES(?, ?) ON CONFLICT(name) DO UPDATE"
                                 " SET confirmed = excluded.confirmed";
    const char *sql[] = {"INSERT INTO entries(seq, tag, at, value, status) VALUES(?, ?, ?, ?, ?)", kPlace,
                         "SELECT seq, tag, at, value, status FROM entries WHERE seq > ? ORDER BY seq LIMIT ?"};
    sqlite3_stmt **out[] = {&insert_, &place_, &after_};
    for (int i = 0; i < 3; ++i) {
        const int rc = sqlite3_prepare_v2(db_, sql[i], -1, out[i], nullptr);
        if (rc != SQLITE_OK)
            return fail(rc, "cannot use the store");
    }
    return Ok;
}

StoreDatabase::Result StoreDatabase::loadId()
{
    Statement get(db_, "SELECT value FROM meta WHERE key = 'id'");
    if (get.s && sqlite3_step(get.s) == SQLITE_ROW) {
        storeId_ = reinterpret_cast<const char *>(sqlite3_column_text(get.s, 0));
        return Ok;
    }
    std::random_device random;
    char id[17];
    std::snprintf(id, sizeof id, "%08x%08x", random(), random());
    storeId_ = id;
    Statement put(db_, "INSERT INTO meta(key, value) VALUES('id', ?)");
    sqlite3_bind_text(put.s, 1, id, -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(put.s);
    return rc == SQLITE_DONE ? Ok : fail(rc, "cannot write the store");
}

StoreDatabase::Result StoreDatabase::tags(std::map<int, StoredTag> *out)
{
    Statement s(db_, "SELECT id, name, station, area, address FROM tags");
    int rc = s.s ? SQLITE_ROW : sqlite3_errcode(db_);
    while (rc == SQLITE_ROW && (rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        StoredTag &t = (*out)[sqlite3_column_int(s.s, 0)];
        t.name = reinterpret_cast<const char *>(sqlite3_column_text(s.s, 1));
        t.station = sqlite3_column_int(s.s, 2);
        t.area = sqlite3_column_int(s.s, 3);
        t.address = sqlite3_column_int(s.s, 4);
    }
    return rc == SQLITE_DONE ? Ok : fail(rc, "cannot read the store");
}

std::int64_t StoreDatabase::number(const char *sql, std::int64_t bound, bool bind)
{
    Statement s(db_, sql);
    if (bind)
        sqlite3_bind_int64(s.s, 1, bound);
    return s.s && sqlite3_step(s.s) == SQLITE_ROW ? sqlite3_column_int64(s.s, 0) : 0;
}

std::int64_t StoreDatabase::firstSeq()
{
    return number("SELECT seq FROM entries ORDER BY seq LIMIT 1");
}

std::int64_t StoreDatabase::lastSeq()
{
    // Not only what is held: a seq handed out once is never handed out again,
    // or a consumer's place would pass over the new values.
    return number("SELECT max(coalesce((SELECT max(seq) FROM entries), 0),"
                  " coalesce((SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'removed'), 0),"
                  " coalesce((SELECT max(confirmed) FROM consumers), 0))");
}

std::int64_t StoreDatabase::firstSeqFrom(long long fromMs)
{
    return number("SELECT seq FROM entries WHERE at >= ? ORDER BY seq LIMIT 1", fromMs, true);
}

std::int64_t StoreDatabase::seqAt(long long n)
{
    const std::int64_t seq = number("SELECT seq FROM entries ORDER BY seq LIMIT 1 OFFSET ?", n, true);
    return seq != 0 ? seq : number("SELECT seq FROM entries ORDER BY seq DESC LIMIT 1");
}

long long StoreDatabase::readTimeAfter(std::int64_t seq)
{
    return number("SELECT at FROM entries WHERE seq > ? ORDER BY seq LIMIT 1", seq, true);
}

long long StoreDatabase::usedBytes()
{
    return (number("PRAGMA page_count") - number("PRAGMA freelist_count")) * number("PRAGMA page_size");
}

bool StoreDatabase::position(const std::string &consumer, std::int64_t *seq)
{
    Statement s(db_, "SELECT confirmed FROM consumers WHERE name = ?");
    sqlite3_bind_text(s.s, 1, consumer.c_str(), -1, SQLITE_TRANSIENT);
    if (!s.s || sqlite3_step(s.s) != SQLITE_ROW)
        return false;
    *seq = sqlite3_column_int64(s.s, 0);
    return true;
}

StoreDatabase::Result StoreDatabase::insertTags(const std::map<int, StoredTag> &tags)
{
    Statement tag(db_, "INSERT INTO tags(id, name, station, area, address) VALUES(?, ?, ?, ?, ?)");
    for (const auto &t : tags) {
        sqlite3_bind_int(tag.s, 1, t.first);
        sqlite3_bind_text(tag.s, 2, t.second.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(tag.s, 3, t.second.station);
        sqlite3_bind_int(tag.s, 4, t.second.area);
        sqlite3_bind_int(tag.s, 5, t.second.address);
        const int rc = tag.s ? sqlite3_step(tag.s) : sqlite3_errcode(db_);
        sqlite3_reset(tag.s);
        if (rc != SQLITE_DONE)
            return fail(rc, "cannot write the store");
    }
    return Ok;
}

StoreDatabase::Result StoreDatabase::write(const std::map<int, StoredTag> &newTags, const std::vector<StoreRow> &rows,
                                           const std::map<std::string, std::int64_t> &places)
{
    Result r = exec("BEGIN IMMEDIATE");
    // Nearly always none: a statement is prepared only for new tags.
    if (r == Ok && !newTags.empty())
        r = insertTags(newTags);
    for (std::size_t i = 0; r == Ok && i < rows.size(); ++i) {
        const StoreRow &row = rows[i];
        sqlite3_bind_int64(insert_, 1, row.seq);
        sqlite3_bind_int(insert_, 2, row.tagId);
        sqlite3_bind_int64(insert_, 3, row.readMs);
        if (row.hasValue)
            sqlite3_bind_double(insert_, 4, row.value);
        else
            sqlite3_bind_null(insert_, 4);
        sqlite3_bind_int(insert_, 5, row.status);
        const int rc = sqlite3_step(insert_);
        sqlite3_reset(insert_);
        if (rc != SQLITE_DONE)
            r = fail(rc, "cannot write the store");
    }
    for (auto p = places.begin(); r == Ok && p != places.end(); ++p) {
        sqlite3_bind_text(place_, 1, p->first.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(place_, 2, p->second);
        const int rc = sqlite3_step(place_);
        sqlite3_reset(place_);
        if (rc != SQLITE_DONE)
            r = fail(rc, "cannot write the store");
    }
    if (r == Ok)
        r = exec("COMMIT");
    if (r != Ok)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return r;
}

StoreDatabase::Result StoreDatabase::readAfter(std::int64_t seq, std::size_t limit, std::vector<StoreRow> *out)
{
    sqlite3_bind_int64(after_, 1, seq);
    sqlite3_bind_int64(after_, 2, static_cast<sqlite3_int64>(limit));
    int rc;
    while ((rc = sqlite3_step(after_)) == SQLITE_ROW)
        out->push_back(rowOf(after_));
    sqlite3_reset(after_);
    return rc == SQLITE_DONE ? Ok : fail(rc, "cannot read the store");
}

StoreDatabase::Result StoreDatabase::removeThrough(std::int64_t seq, std::int64_t keep, long long *removed,
                                                   long long *above)
{
    Statement count(db_, "SELECT count(*), count(*) FILTER (WHERE seq > ?2) FROM entries WHERE seq <= ?1");
    sqlite3_bind_int64(count.s, 1, seq);
    sqlite3_bind_int64(count.s, 2, keep);
    int rc = count.s ? sqlite3_step(count.s) : SQLITE_ERROR;
    if (rc != SQLITE_ROW)
        return fail(rc, "cannot read the store");
    *removed = sqlite3_column_int64(count.s, 0);
    *above = sqlite3_column_int64(count.s, 1);
    Statement mark(db_, "INSERT INTO meta(key, value) VALUES('removed', ?1) ON CONFLICT(key) DO UPDATE"
                        " SET value = max(CAST(value AS INTEGER), excluded.value)");
    sqlite3_bind_int64(mark.s, 1, seq);
    rc = mark.s ? sqlite3_step(mark.s) : SQLITE_ERROR;
    if (rc != SQLITE_DONE)
        return fail(rc, "cannot trim the store");
    Statement remove(db_, "DELETE FROM entries WHERE seq <= ?");
    sqlite3_bind_int64(remove.s, 1, seq);
    rc = remove.s ? sqlite3_step(remove.s) : SQLITE_ERROR;
    return rc == SQLITE_DONE ? Ok : fail(rc, "cannot trim the store");
}

}  // namespace marovin_host
