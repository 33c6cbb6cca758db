// The JSON the network outputs (MQTT, web) publish and accept: a tag's state,
// the run's status, and writes given as JSON.
#ifndef MAROVIN_HOST_TAG_JSON_H
#define MAROVIN_HOST_TAG_JSON_H

#include "Output.h"
#include "WriteQueue.h"

#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

namespace marovin_host {

// The clocks of one moment, to turn the loop's monotonic times into wall time.
struct Moment {
    long long monoMs;
    long long wallMs;
};
Moment momentNow();

// {"value": V, "status": "ok", "ts": "...Z"}: V a number (scaled for a scaled
// tag), left out before the first good read; ts the time of the last good read
// (of now before it).
nlohmann::json tagStateJson(const ValueRow &row, const Moment &now);
// The status word of a row: the table's word, or "pending" before any exchange.
const char *rowStatusWord(const ValueRow &row);
// Link state, exchanges, exchanges/s, failures by status code, give-ups,
// repeats, writes, bytes dropped and uptime.
nlohmann::json runStatusJson(const RunView &view, const Moment &now);

// The tags by name, made once from the rows (which never change in number or
// name during a run), for looking up a tag from another thread.
class TagDirectory {
public:
    explicit TagDirectory(const std::vector<ValueRow> &rows);
    // The row of the tag, or null.
    const ValueRow *find(const std::string &name) const;
    std::size_t size() const { return byName_.size(); }

private:
    std::map<std::string, const ValueRow *> byName_;
};

// The largest write payload accepted; anything longer is refused unread.
const std::size_t kMaxWritePayload = 256;

// A write payload: a bare JSON number (or true/false), or {"value": V}; false
// with a message for anything else, or a payload over kMaxWritePayload.
bool parseWritePayload(const std::string &payload, nlohmann::json *value, std::string *error);
// Turns a value in the tag's units (a JSON number, or true/false for a bit)
// into a write request for the tag: scaled back, checked against the area's
// range and the writable status bits; false with a message, and nothing to
// write, otherwise. Does not check whether the tag may be written from outside.
bool tagWriteRequest(const ValueRow &row, const nlohmann::json &value, WriteRequest *out, std::string *error);

}  // namespace marovin_host

#endif
