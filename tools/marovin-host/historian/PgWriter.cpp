// One table for every gateway of a plant; the gateway column tells them
// apart. TimescaleDB makes it a hypertable when the extension is there.
#include "historian/PgWriter.h"

#include "model/Areas.h"
#include "model/Status.h"
#include "util/Clock.h"

#include <libpq-fe.h>

#include <cmath>
#include <cstdio>

namespace marovin_host {

namespace {

const char *const kSchema =
    "CREATE TABLE IF NOT EXISTS marovin_values ("
    " gateway text NOT NULL, tag text NOT NULL, station integer NOT NULL, area text NOT NULL,"
    " address text NOT NULL, read_at timestamptz NOT NULL, value double precision, status text NOT NULL);"
    "CREATE INDEX IF NOT EXISTS marovin_values_tag_time ON marovin_values (tag, read_at);"
    "CREATE TABLE IF NOT EXISTS marovin_positions ("
    " gateway text NOT NULL, store text NOT NULL, seq bigint NOT NULL,"
    " updated timestamptz NOT NULL DEFAULT now(), PRIMARY KEY (gateway, store));"
    "DO $$ BEGIN IF EXISTS (SELECT 1 FROM pg_extension WHERE extname = 'timescaledb') THEN"
    " PERFORM create_hypertable('marovin_values', 'read_at', if_not_exists => TRUE, migrate_data => TRUE);"
    " END IF; END $$;";

const char *const kCopy =
    "COPY marovin_values (gateway, tag, station, area, address, read_at, value, status) FROM STDIN";

// A number as COPY reads it back unchanged.
void appendNumber(std::string &out, double v)
{
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v > 0 ? "Infinity" : "-Infinity";
        return;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    out += buffer;
}

}  // namespace

std::string PgWriter::where() const
{
    char *error = nullptr;
    PQconninfoOption *info = PQconninfoParse(options_.url.c_str(), &error);
    PQfreemem(error);
    std::string host = "?", port = "5432", db = "?";
    for (PQconninfoOption *o = info; o && o->keyword; ++o) {
        std::string *field = std::string(o->keyword) == "host"     ? &host
                             : std::string(o->keyword) == "port"   ? &port
                             : std::string(o->keyword) == "dbname" ? &db
                                                                   : nullptr;
        if (field && o->val && *o->val)
            *field = o->val;
    }
    PQconninfoFree(info);
    return host + ":" + port + "/" + db;
}

std::string PgWriter::reason() const
{
    std::string text = conn_ ? PQerrorMessage(conn_) : "out of memory";
    const std::string::size_type end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

bool PgWriter::run(const char *sql, std::string *error)
{
    PGresult *r = PQexec(conn_, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok)
        *error = reason();
    PQclear(r);
    return ok;
}

bool PgWriter::open(std::string *error)
{
    close();
    std::vector<const char *> keys = {"dbname", "application_name", "connect_timeout", "keepalives_idle",
                                      "keepalives_interval", "keepalives_count"};
    std::vector<const char *> values = {options_.url.c_str(), "marovin-host", "5", "10", "5", "3"};
    if (!options_.password.empty()) {
        keys.push_back("password");
        values.push_back(options_.password.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        *error = reason();
        return false;
    }
    return run("SET client_min_messages = warning", error) && run(kSchema, error);
}

void PgWriter::close()
{
    PQfinish(conn_);
    conn_ = nullptr;
}

bool PgWriter::position(const std::string &storeId, std::int64_t *seq, std::string *error)
{
    const char *params[] = {options_.gateway.c_str(), storeId.c_str()};
    PGresult *r = PQexecParams(conn_, "SELECT seq FROM marovin_positions WHERE gateway = $1 AND store = $2", 2,
                               nullptr, params, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok)
        *error = reason();
    *seq = ok && PQntuples(r) > 0 ? std::stoll(PQgetvalue(r, 0, 0)) : 0;
    PQclear(r);
    return ok;
}

std::string PgWriter::copyText(const std::vector<StoredValue> &values) const
{
    std::string out;
    out.reserve(values.size() * 80);
    for (const StoredValue &v : values) {
        const StoredTag &t = *v.tag;
        out += options_.gateway + '\t' + t.name + '\t' + std::to_string(t.station) + '\t' + areaName(t.area) + '\t' +
               addressLabel(t.area, t.address) + '\t' + isoUtcText(v.readMs) + '\t';
        if (v.hasValue)
            appendNumber(out, v.value);
        else
            out += "\\N";
        out += '\t';
        out += rowStatusWord(v.status);
        out += '\n';
    }
    return out;
}

bool PgWriter::write(const std::vector<StoredValue> &values, const std::string &storeId, std::string *error)
{
    if (!run("BEGIN", error))
        return false;
    PGresult *r = PQexec(conn_, kCopy);
    bool ok = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (ok) {
        const std::string text = copyText(values);
        ok = PQputCopyData(conn_, text.data(), static_cast<int>(text.size())) == 1;
        ok = PQputCopyEnd(conn_, ok ? nullptr : "the data could not be sent") == 1 && ok;
    }
    while ((r = PQgetResult(conn_)) != nullptr) {
        ok = ok && PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
    }
    const std::string seq = std::to_string(values.back().seq);
    const char *params[] = {options_.gateway.c_str(), storeId.c_str(), seq.c_str()};
    if (ok) {
        r = PQexecParams(conn_,
                         "INSERT INTO marovin_positions (gateway, store, seq) VALUES ($1, $2, $3)"
                         " ON CONFLICT (gateway, store) DO UPDATE SET seq = excluded.seq, updated = now()",
                         3, nullptr, params, nullptr, nullptr, 0);
        ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
    }
    if (!ok) {
        *error = reason();
        run("ROLLBACK", error);
        return false;
    }
    return run("COMMIT", error);
}

}  // namespace marovin_host
