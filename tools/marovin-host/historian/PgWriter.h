// The historian's PostgreSQL session (libpq): connects, creates the table if
// missing, and writes batches with COPY in one transaction together with the
// gateway's place in its store, so that a batch lands exactly once.
#ifndef MAROVIN_HOST_HISTORIAN_PG_WRITER_H
#define MAROVIN_HOST_HISTORIAN_PG_WRITER_H

#include "config/StoreOptions.h"
#include "store/Outbox.h"

#include <cstdint>
#include <string>
#include <vector>

struct pg_conn;

namespace marovin_host {

class PgWriter {
public:
    explicit PgWriter(const HistorianOptions &options) : options_(options) {}
    ~PgWriter() { close(); }
    PgWriter(const PgWriter &) = delete;
    PgWriter &operator=(const PgWriter &) = delete;

    // HOST:PORT/DB of the URL, for messages (never the password).
    std::string where() const;
    // Connects and makes the tables ready; false with the database's reason.
    bool open(std::string *error);
    void close();
    // The last seq of the store that this gateway committed (0: none).
    bool position(const std::string &storeId, std::int64_t *seq, std::string *error);
    // Writes the values and the new place in one transaction.
    bool write(const std::vector<StoredValue> &values, const std::string &storeId, std::string *error);

private:
    // Runs one command; false with the reason.
    bool run(const char *sql, std::string *error);
    std::string reason() const;
    // The values as COPY text lines.
    std::string copyText(const std::vector<StoredValue> &values) const;

    const HistorianOptions &options_;
    pg_conn *conn_ = nullptr;
};

}  // namespace marovin_host

#endif
