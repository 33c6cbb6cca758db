// The web panel's JSON of a tag: what it is and its state.
#ifndef MAROVIN_HOST_WEB_WEB_TAG_JSON_H
#define MAROVIN_HOST_WEB_WEB_TAG_JSON_H

#include "model/TagRow.h"
#include "util/Clock.h"

#include <nlohmann/json.hpp>

namespace marovin_host {

// {"tag", "station", "area", "address", "unit", "writable", "value", "hex",
// "status", "ts"}: tagStateJson with the table's columns.
nlohmann::json webTagJson(const TagRow &row, const Moment &now);
// Whether two states of a row differ in what a browser shows.
bool rowStateChanged(const TagRow &before, const TagRow &after);

}  // namespace marovin_host

#endif
