// A tag's history from the store, read beside the store's own thread (WAL
// lets a reader see the last commit while the writer goes on). Decimated in
// one pass: the points themselves while they fit, else the lowest and the
// highest of each slice of time, so that a spike still shows.
#include "store/StoreDatabase.h"

#include <sqlite3.h>

#include <algorithm>

namespace marovin_host {

namespace {

// The lowest and highest point of one slice of time.
struct Slice {
    long long lowAt = 0;
    double low = 0;
    long long highAt = 0;
    double high = 0;
    bool used = false;
};

// Adds a point to its slice.
void widen(Slice &s, long long at, double v)
{
    if (!s.used || v < s.low) {
        s.low = v;
        s.lowAt = at;
    }
    if (!s.used || v > s.high) {
        s.high = v;
        s.highAt = at;
    }
    s.used = true;
}

// The slices' points in time order, one where low and high are one point.
void slicePoints(const std::vector<Slice> &slices, HistoryPoints *points)
{
    for (const Slice &s : slices) {
        if (!s.used)
            continue;
        const bool lowFirst = s.lowAt <= s.highAt;
        points->emplace_back(lowFirst ? s.lowAt : s.highAt, lowFirst ? s.low : s.high);
        if (s.lowAt != s.highAt || s.low != s.high)
            points->emplace_back(lowFirst ? s.highAt : s.lowAt, lowFirst ? s.high : s.low);
    }
}

}  // namespace

bool readStoreHistory(const std::string &path, const std::string &tag, long long fromMs, long long toMs,
                      std::size_t maxPoints, HistoryPoints *points, std::string *error)
{
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *s = nullptr;
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        rc = sqlite3_prepare_v2(db,
                                "SELECT at, value FROM entries WHERE tag IN (SELECT id FROM tags WHERE name = ?1)"
                                " AND at BETWEEN ?2 AND ?3 AND value IS NOT NULL ORDER BY at",
                                -1, &s, nullptr);
    }
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(s, 1, tag.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, fromMs);
        sqlite3_bind_int64(s, 3, toMs);
    }
    const std::size_t count = std::max<std::size_t>(maxPoints / 2, 1);
    const double span = static_cast<double>(toMs - fromMs) + 1;
    std::vector<Slice> slices(count);
    points->clear();
    std::size_t seen = 0;
    while (s && (rc = sqlite3_step(s)) == SQLITE_ROW) {
        const long long at = sqlite3_column_int64(s, 0);
        const double v = sqlite3_column_double(s, 1);
        if (++seen <= maxPoints)
            points->emplace_back(at, v);
        const std::size_t k = static_cast<std::size_t>((at - fromMs) / span * static_cast<double>(count));
        widen(slices[std::min(k, count - 1)], at, v);
    }
    if (rc != SQLITE_DONE)
        *error = std::string("cannot read the store: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    sqlite3_finalize(s);
    sqlite3_close_v2(db);
    if (seen > maxPoints) {
        points->clear();
        slicePoints(slices, points);
    }
    return rc == SQLITE_DONE;
}

}  // namespace marovin_host
