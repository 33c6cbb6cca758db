// A tag's state and the run's status as the network outputs publish them.
#ifndef MAROVIN_HOST_JSON_TAG_STATE_JSON_H
#define MAROVIN_HOST_JSON_TAG_STATE_JSON_H

#include "model/RunView.h"
#include "model/TagRow.h"
#include "util/Clock.h"

#include <nlohmann/json.hpp>

namespace marovin_host {

// {"value": V, "status": "ok", "ts": "...Z"}: V the scaled number, left out
// before the first good read; ts the time of the last good read (of now
// before it).
nlohmann::json tagStateJson(const TagRow &row, const Moment &now);
// Link state, exchanges, exchanges/s, failures by status code, give-ups,
// repeats, writes, bytes dropped and uptime.
nlohmann::json runStatusJson(const RunView &view, const Moment &now);

}  // namespace marovin_host

#endif
