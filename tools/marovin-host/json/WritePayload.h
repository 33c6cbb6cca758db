// Writes given as JSON: a bare number (or true/false), or {"value": V}, with
// an optional id that the answer echoes.
#ifndef MAROVIN_HOST_JSON_WRITE_PAYLOAD_H
#define MAROVIN_HOST_JSON_WRITE_PAYLOAD_H

#include "model/Entries.h"

#include <nlohmann/json.hpp>

#include <string>

namespace marovin_host {

// The largest write payload accepted; anything longer is refused unread.
const std::size_t kMaxWritePayload = 256;

// A JSON number or boolean as the write check takes it; false for anything else.
bool writeValueOf(const nlohmann::json &j, WriteValue *out);
// Parses a payload: false with a message for anything else, or a payload
// over kMaxWritePayload. With id, the object may also carry "id" (a string of
// at most 64 characters or an integer) that the answer echoes; *id is null
// without one.
bool parseWritePayload(const std::string &payload, WriteValue *value, std::string *error,
                       nlohmann::json *id = nullptr);

}  // namespace marovin_host

#endif
