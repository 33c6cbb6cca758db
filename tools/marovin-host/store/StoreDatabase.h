// The store's SQLite file: the values in read order, the tags they belong
// to, each consumer's confirmed place and the store's identity. Used by one
// thread only (the store's); the web's history reads with a connection of
// its own.
#ifndef MAROVIN_HOST_STORE_STORE_DATABASE_H
#define MAROVIN_HOST_STORE_STORE_DATABASE_H

#include "store/Outbox.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace marovin_host {

// A value as it is written and read back: its tag by the store's id.
struct StoreRow {
    std::int64_t seq = 0;
    int tagId = 0;
    long long readMs = 0;
    bool hasValue = false;
    double value = 0;
    int status = 0;
};

class StoreDatabase {
public:
    // How an attempt went: fine, the file is damaged, the disk is full, or
    // another failure (read-only, missing folder, ...).
    enum Result { Ok, Damaged, Full, Failed };

    StoreDatabase() = default;
    ~StoreDatabase();
    StoreDatabase(const StoreDatabase &) = delete;
    StoreDatabase &operator=(const StoreDatabase &) = delete;

    // Opens or creates the store at path (":memory:" for one in memory) in
    // WAL mode with its tables; error() tells why when it is not Ok.
    Result open(const std::string &path);
    void close();
    const std::string &error() const { return error_; }
    const std::string &storeId() const { return storeId_; }

    // Every tag of the store by id into *out.
    Result tags(std::map<int, StoredTag> *out);
    // The first seq held (0 when empty), and the last ever handed out.
    std::int64_t firstSeq();
    std::int64_t lastSeq();
    // The consumer's confirmed place; false when the store does not know it.
    bool position(const std::string &consumer, std::int64_t *seq);

    // Adds the tags not yet written (by their ids), appends the rows and sets
    // the places, in one transaction: no row is ever without its tag.
    Result write(const std::map<int, StoredTag> &newTags, const std::vector<StoreRow> &rows,
                 const std::map<std::string, std::int64_t> &places);
    // Up to limit rows after seq, in order, appended to *out.
    Result readAfter(std::int64_t seq, std::size_t limit, std::vector<StoreRow> *out);
    // Removes every row up to seq; *removed counts them, *above those above keep.
    Result removeThrough(std::int64_t seq, std::int64_t keep, long long *removed, long long *above);
    // The seq of the first row read at fromMs or later (0: none), and of the
    // n-th row from the oldest (the last when fewer).
    std::int64_t firstSeqFrom(long long fromMs);
    std::int64_t seqAt(long long n);
    // The read time of the first row after seq; 0 when none.
    long long readTimeAfter(std::int64_t seq);
    // Bytes the rows take in the file (pages in use).
    long long usedBytes();

private:
    // The tags into the open transaction, under their ids.
    Result insertTags(const std::map<int, StoredTag> &tags);
    Result fail(int rc, const char *what);
    Result exec(const char *sql);
    Result prepare();
    // A table of the file that no store has (another program's database), or empty.
    std::string foreignTable();
    // The store's id from its meta table, made on first use.
    Result loadId();
    std::int64_t number(const char *sql, std::int64_t bound = 0, bool bind = false);

    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
    sqlite3_stmt *place_ = nullptr;
    sqlite3_stmt *after_ = nullptr;
    std::string error_;
    std::string storeId_;
};

// Reads a tag's history from the store file at path with a connection of
// its own (any thread); see Outbox::history.
bool readStoreHistory(const std::string &path, const std::string &tag, long long fromMs, long long toMs,
                      std::size_t maxPoints, HistoryPoints *points, std::string *error);

}  // namespace marovin_host

#endif
